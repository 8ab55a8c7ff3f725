#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "quillet/output_folder.h"

namespace quillet {

bool IsPathSeparator(char c) { return c == '/'; }

bool IsFolder(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool CanWriteFile(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && !S_ISDIR(info.st_mode) && access(path, W_OK) == 0;
}

bool CanWriteInto(const char* folder, char (&reason)[kFailureReasonChars]) {
  struct stat info;
  int error = 0;
  if (stat(folder, &info) != 0) {
    error = errno;
  } else if (!S_ISDIR(info.st_mode)) {
    error = ENOTDIR;
  } else if (access(folder, W_OK | X_OK) != 0) {
    error = errno;
  }
  if (error == 0) return true;
  std::snprintf(reason, sizeof reason, "%s", std::strerror(error));
  return false;
}

}  // namespace quillet
