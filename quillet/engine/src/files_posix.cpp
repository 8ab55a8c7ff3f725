// The job's files where names are paths of a POSIX file system: outputs are created beside
// their targets under unique hidden names and renamed over them; the job's directory is made
// by mkdtemp.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files_internal.h"
#include "quillet/files.h"

namespace quillet {
namespace {

bool Fail(const char* path, int error) {
  RecordOutputFailure(path, std::strerror(error));
  return false;
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

bool WriteNew(const char* name, const ByteRange* parts, std::size_t count) {
  const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return Fail(name, errno);
  if (WriteAndClose(fd, parts, count)) return true;
  const int error = errno;
  unlink(name);
  return Fail(name, error);
}

bool WriteInPlace(const char* name, const ByteRange* parts, std::size_t count, int flags = O_CREAT) {
  const int fd = open(name, O_WRONLY | O_TRUNC | O_CLOEXEC | flags, 0666);
  if (fd < 0) return Fail(name, errno);
  return WriteAndClose(fd, parts, count) || Fail(name, errno);
}

bool WriteAndReplace(const char* name, const ByteRange* parts, std::size_t count) {
  std::string target;
  if (!FollowLinks(name, target)) return Fail(name, errno);
  struct stat info;
  const bool exists = stat(target.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) return Fail(name, EISDIR);
  // Devices, pipes and the process's own streams are written, never replaced.
  if ((exists && !S_ISREG(info.st_mode)) || StartsWith(name, "/dev/") || StartsWith(name, "/proc/") ||
      StartsWith(target, "/dev/") || StartsWith(target, "/proc/"))
    return WriteInPlace(name, parts, count);
  // A file the user may not write stays as it is.
  if (exists && access(target.c_str(), W_OK) != 0) return Fail(name, errno);

  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  // A file the user may write in a folder the user may not: no file can be made beside it to
  // be renamed over it, so it is written where it is, every write and the close checked, as
  // a device is. A failure then leaves it damaged, which is why this is the last resort; a
  // new file in such a folder fails as before.
  if (exists && access(folder.empty() ? "." : folder.c_str(), W_OK) != 0)
    return WriteInPlace(name, parts, count, 0);
  const std::string base = target.substr(folder.size()).substr(0, 200);
  std::string temporary;
  int fd = -1;
  int slot = -1;
  // Each name is registered for removal before the file is created, so that no signal in
  // between leaves it behind; one that turns out to be taken is let go at once.
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = folder + "." + base + "." + UniqueSuffix();
    slot = RegisterTemporary(temporary.c_str(), false);
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      const int error = errno;
      ReleaseTemporary(slot);
      errno = error;
      if (error != EEXIST) break;
    }
  }
  if (fd < 0) return Fail(name, errno);
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
  return ok || Fail(name, error);
}

}  // namespace

bool WriteOutputFile(const char* name, const ByteRange* parts, std::size_t count, OutputMode mode) {
  if (!name || name[0] == '\0') return Fail("", ENOENT);
  return mode == OutputMode::kCreateNew ? WriteNew(name, parts, count) : WriteAndReplace(name, parts, count);
}

bool SystemTempDirectory(char (&directory)[kTempPathChars]) {
  const char* given = std::getenv("TMPDIR");
  std::string path = given && given[0] != '\0' ? given : "/tmp";
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path.size() + 16 >= kTempPathChars) {
    RecordOutputFailure(path.c_str(), std::strerror(ENAMETOOLONG));
    std::snprintf(directory, sizeof directory, "%.*s", static_cast<int>(kTempPathChars - 1), path.c_str());
    return false;
  }
  std::memcpy(directory, path.c_str(), path.size() + 1);
  return true;
}

bool MakePrivateDirectory(const char* parent, char (&directory)[kTempPathChars]) {
  char pattern[kTempPathChars];
  const int length = std::snprintf(pattern, sizeof pattern, "%s/quillet-XXXXXX", parent);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof pattern) return Fail(parent, ENAMETOOLONG);
  if (!mkdtemp(pattern)) return Fail(parent, errno);  // mode 0700
  std::memcpy(directory, pattern, static_cast<std::size_t>(length) + 1);
  return true;
}

unsigned long long UniqueSeed() {
  struct timespec now = {};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<unsigned long long>(now.tv_nsec) * 0x9E3779B97F4A7C15ull ^
         (static_cast<unsigned long long>(getpid()) << 20);
}

std::FILE* OpenScratchFile(const char* path) {
  const int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    Fail(path, errno);
    return nullptr;
  }
  unlink(path);  // open, it lives on without a name until closed
  std::FILE* file = fdopen(fd, "w+b");
  if (!file) {
    Fail(path, errno);
    close(fd);
  }
  return file;
}

void RemoveFileNow(const char* path) { unlink(path); }
void RemoveDirectoryNow(const char* path) { rmdir(path); }
char PathSeparator() { return '/'; }

}  // namespace quillet
