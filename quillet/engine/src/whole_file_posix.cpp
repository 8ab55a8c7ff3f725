#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "whole_file.h"

namespace quillet {

bool WriteWholeFile(const char* fileName, const void* data, std::size_t size) {
  if (!fileName || fileName[0] == '\0') return false;
  static unsigned counter = 0;
  std::string partName;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    partName = std::string(fileName) + ".part" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    fd = open(partName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  const char* p = static_cast<const char*>(data);
  std::size_t left = size;
  bool ok = true;
  while (ok && left > 0) {
    const ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) {
      p += n;
      left -= static_cast<std::size_t>(n);
    }
  }
  ok = (close(fd) == 0) && ok;
  ok = ok && std::rename(partName.c_str(), fileName) == 0;
  if (!ok) unlink(partName.c_str());
  return ok;
}

}  // namespace quillet
