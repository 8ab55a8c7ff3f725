// Output files where names are paths of a POSIX file system: the new file is created beside
// its target under a unique hidden name and renamed over it.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "output_file.h"
#include "output_name.h"

namespace mostel {
namespace {

// The file being written beside the target, removed by a terminating signal.
char pendingName[PATH_MAX + 64];
volatile sig_atomic_t pendingSet = 0;

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void RemovePendingAndRaise(int signal) {
  if (pendingSet) unlink(pendingName);
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  raise(signal);
}

// Installs the cleanup while a file beside the target exists; the destructor puts the
// earlier handlers back.
struct PendingFile {
  struct sigaction previous[sizeof kCleanupSignals / sizeof kCleanupSignals[0]] = {};
  bool active = false;

  bool Claim(const std::string& name) {
    if (name.size() >= sizeof pendingName) return false;
    std::memcpy(pendingName, name.c_str(), name.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    pendingSet = 1;
    struct sigaction action = {};
    action.sa_handler = RemovePendingAndRaise;
    sigemptyset(&action.sa_mask);
    for (std::size_t k = 0; k < sizeof kCleanupSignals / sizeof kCleanupSignals[0]; ++k) {
      sigaction(kCleanupSignals[k], nullptr, &previous[k]);
      // A signal the caller ignores stays ignored.
      if (previous[k].sa_handler != SIG_IGN) sigaction(kCleanupSignals[k], &action, nullptr);
    }
    active = true;
    return true;
  }
  ~PendingFile() {
    if (!active) return;
    for (std::size_t k = 0; k < sizeof kCleanupSignals / sizeof kCleanupSignals[0]; ++k)
      sigaction(kCleanupSignals[k], &previous[k], nullptr);
    pendingSet = 0;
  }
};

bool Fail(WriteFailure* failure, int error) {
  if (!failure) return false;
  std::snprintf(failure->reason, sizeof failure->reason, "%s", std::strerror(error));
  failure->systemError = error;
  return false;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
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
  return true;
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

unsigned long long UniqueSeed() {
  struct timespec now = {};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<unsigned long long>(now.tv_nsec) * 0x9E3779B97F4A7C15ull ^
         (static_cast<unsigned long long>(getpid()) << 20);
}

// Blocks the cleanup signals while it lives, so that none falls between creating a file
// beside the target and claiming it for removal; one that came is taken when it goes.
struct CleanupSignalsHeld {
  sigset_t previous;
  CleanupSignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int signal : kCleanupSignals) sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, &previous);
  }
  ~CleanupSignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
  CleanupSignalsHeld(const CleanupSignalsHeld&) = delete;
  CleanupSignalsHeld& operator=(const CleanupSignalsHeld&) = delete;
};

bool WriteInPlace(const char* name, const void* data, std::size_t size, WriteFailure* failure,
                  int flags = O_CREAT) {
  const int fd = open(name, O_WRONLY | O_TRUNC | O_CLOEXEC | flags, 0666);
  if (fd < 0) return Fail(failure, errno);
  const bool written = WriteAll(fd, data, size);
  const int writeError = errno;
  const bool closed = close(fd) == 0;
  if (!written) return Fail(failure, writeError);
  if (!closed) return Fail(failure, errno);
  return true;
}

}  // namespace

bool WriteOutputFile(const char* name, const void* data, std::size_t size, WriteFailure* failure) {
  if (!name || name[0] == '\0') return Fail(failure, ENOENT);
  std::string target;
  if (!FollowLinks(name, target)) return Fail(failure, errno);

  struct stat info;
  const bool exists = stat(target.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) return Fail(failure, EISDIR);
  // Devices, pipes and the process's own streams are written, never replaced.
  if ((exists && !S_ISREG(info.st_mode)) || StartsWith(name, "/dev/") || StartsWith(name, "/proc/") ||
      StartsWith(target, "/dev/") || StartsWith(target, "/proc/"))
    return WriteInPlace(name, data, size, failure);
  // A file the user may not write stays as it is.
  if (exists && access(target.c_str(), W_OK) != 0) return Fail(failure, errno);

  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  // A file the user may write in a folder the user may not: no file can be made beside it to
  // be renamed over it, so it is written where it is, every write and the close checked, as
  // a device is. A failure then leaves it damaged, which is why this is the last resort; a
  // new file in such a folder fails as before.
  if (exists && access(folder.empty() ? "." : folder.c_str(), W_OK) != 0)
    return WriteInPlace(name, data, size, failure, 0);
  const std::string base = target.substr(folder.size()).substr(0, 200);
  std::string temporary;
  int fd = -1;
  PendingFile pending;
  {
    const CleanupSignalsHeld held;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
      temporary = folder + "." + base + "." + UniqueSuffix(UniqueSeed());
      fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return Fail(failure, errno);
    pending.Claim(temporary);
  }
  if (exists) {
    // The replacement keeps the mode of the file it replaces (and its owner, where allowed).
    const bool modeKept = fchmod(fd, info.st_mode & 07777) == 0;
    const bool ownerKept = geteuid() != 0 || fchown(fd, info.st_uid, info.st_gid) == 0;
    (void)modeKept;
    (void)ownerKept;
  }
  bool ok = WriteAll(fd, data, size);
  int error = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && rename(temporary.c_str(), target.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    unlink(temporary.c_str());
    return Fail(failure, error);
  }
  return true;
}

}  // namespace mostel
