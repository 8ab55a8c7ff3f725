// The job's files where names are paths of a POSIX file system: the job's directory is made
// by mkdtemp.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
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

}  // namespace

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

bool SeekScratchFile(std::FILE* file, std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) {
    errno = EOVERFLOW;
    return false;
  }
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

char PathSeparator() { return '/'; }

}  // namespace quillet
