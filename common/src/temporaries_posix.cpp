// The registry's platform calls where names are paths of a POSIX file system.
#include <time.h>
#include <unistd.h>

#include "pixeltools/temporaries.h"

namespace pixeltools {

unsigned long long UniqueSeed() {
  struct timespec now = {};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<unsigned long long>(now.tv_nsec) * 0x9E3779B97F4A7C15ull ^
         (static_cast<unsigned long long>(getpid()) << 20);
}

void RemoveFileNow(const char* path) { unlink(path); }
void RemoveDirectoryNow(const char* path) { rmdir(path); }

}  // namespace pixeltools
