// Output files where names are paths of a POSIX file system: the new file is created beside
// its target under a unique hidden name and renamed over it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "pixeltools/output_file.h"
#include "pixeltools/signal_cleanup_posix.h"
#include "pixeltools/temporaries.h"

namespace pixeltools {
namespace {

bool Fail(WriteFailure* failure, const char* reason) {
  if (failure) std::snprintf(failure->reason, sizeof failure->reason, "%s", reason);
  return false;
}

bool Fail(WriteFailure* failure, int error) {
  if (failure) failure->systemError = error;
  return Fail(failure, std::strerror(error));
}

bool WriteAll(int fd, const ByteRange* parts, std::size_t count) {
  for (std::size_t k = 0; k < count; ++k) {
    const auto* bytes = static_cast<const unsigned char*>(parts[k].data);
    std::size_t size = parts[k].size;
    while (size > 0) {
      const ssize_t written = write(fd, bytes, size);
      if (written < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (written == 0) {
        errno = EIO;
        return false;
      }
      bytes += written;
      size -= static_cast<std::size_t>(written);
    }
  }
  return true;
}

// Writes the parts to fd and closes it; false with errno set by the first failure.
bool WriteAndClose(int fd, const ByteRange* parts, std::size_t count) {
  const bool written = WriteAll(fd, parts, count);
  const int error = errno;
  const bool closed = close(fd) == 0;
  if (!written) errno = error;
  return written && closed;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Follows the chain of symbolic links that name is, to the name that is not a link (it may
// not exist yet). False after too many links.
bool FollowLinks(const char* name, std::string& target) {
  target = name;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info;
    if (lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
    char link[PATH_MAX];
    const ssize_t length = readlink(target.c_str(), link, sizeof link - 1);
    if (length < 0) return true;
    link[length] = '\0';
    if (link[0] == '/') {
      target = link;
    } else {
      const std::size_t slash = target.rfind('/');
      target = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + link;
    }
  }
  errno = ELOOP;
  return false;
}

bool WriteNew(const char* name, const ByteRange* parts, std::size_t count, WriteFailure* failure) {
  const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return Fail(failure, errno);
  if (WriteAndClose(fd, parts, count)) return true;
  const int error = errno;
  unlink(name);
  return Fail(failure, error);
}

bool WriteInPlace(const char* name, const ByteRange* parts, std::size_t count, WriteFailure* failure,
                  int flags = O_CREAT) {
  const int fd = open(name, O_WRONLY | O_TRUNC | O_CLOEXEC | flags, 0666);
  if (fd < 0) return Fail(failure, errno);
  return WriteAndClose(fd, parts, count) || Fail(failure, errno);
}

bool WriteAndReplace(const char* name, const ByteRange* parts, std::size_t count, WriteFailure* failure) {
  std::string target;
  if (!FollowLinks(name, target)) return Fail(failure, errno);
  struct stat info;
  const bool exists = stat(target.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) return Fail(failure, EISDIR);
  // Devices, pipes and the process's own streams are written, never replaced.
  if ((exists && !S_ISREG(info.st_mode)) || StartsWith(name, "/dev/") || StartsWith(name, "/proc/") ||
      StartsWith(target, "/dev/") || StartsWith(target, "/proc/"))
    return WriteInPlace(name, parts, count, failure);
  // A file the user may not write stays as it is.
  if (exists && access(target.c_str(), W_OK) != 0) return Fail(failure, errno);

  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  // A file the user may write in a folder the user may not: no file can be made beside it to
  // be renamed over it, so it is written where it is, every write and the close checked, as
  // a device is. A failure then leaves it damaged, which is why this is the last resort; a
  // new file in such a folder fails as before.
  if (exists && access(folder.empty() ? "." : folder.c_str(), W_OK) != 0)
    return WriteInPlace(name, parts, count, failure, 0);
  const std::string base = target.substr(folder.size()).substr(0, 200);
  // A terminating signal removes the file beside the target while it exists.
  const SignalCleanupScope cleanup;
  std::string temporary;
  int fd = -1;
  int slot = -1;
  int openError = 0;
  {
    // Each name is registered for removal before the file is created, and the signals wait
    // until both are done; a name that turns out to be taken is let go at once. A name the
    // registry cannot take is not created: nothing would remove it.
    const CleanupSignalsHeld held;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
      temporary = folder + "." + base + "." + UniqueSuffix();
      slot = RegisterTemporary(temporary.c_str(), false);
      if (slot < 0) return Fail(failure, RegistrationRefusal(temporary.c_str()));
      fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd < 0) {
        openError = errno;
        ReleaseTemporary(slot);
        if (openError != EEXIST) break;
      }
    }
  }
  if (fd < 0) return Fail(failure, openError);
  if (exists) {
    // The replacement keeps the mode of the file it replaces (and its owner, where allowed).
    const bool modeKept = fchmod(fd, info.st_mode & 07777) == 0;
    const bool ownerKept = geteuid() != 0 || fchown(fd, info.st_uid, info.st_gid) == 0;
    (void)modeKept;
    (void)ownerKept;
  }
  bool ok = WriteAndClose(fd, parts, count);
  if (ok && rename(temporary.c_str(), target.c_str()) != 0) ok = false;
  const int error = errno;
  if (!ok) unlink(temporary.c_str());
  ReleaseTemporary(slot);
  return ok || Fail(failure, error);
}

}  // namespace

bool WriteOutputFile(const char* name, const ByteRange* parts, std::size_t count, OutputMode mode,
                     WriteFailure* failure) {
  if (!name || name[0] == '\0') return Fail(failure, ENOENT);
  return mode == OutputMode::kCreateNew ? WriteNew(name, parts, count, failure)
                                        : WriteAndReplace(name, parts, count, failure);
}

}  // namespace pixeltools
