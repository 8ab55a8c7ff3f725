// The registry's platform calls through the Win32 file calls.
#include <windows.h>

#include "pixeltools/temporaries.h"

namespace pixeltools {

unsigned long long UniqueSeed() {
  LARGE_INTEGER now = {};
  QueryPerformanceCounter(&now);
  return static_cast<unsigned long long>(now.QuadPart) * 0x9E3779B97F4A7C15ull ^
         (static_cast<unsigned long long>(GetCurrentProcessId()) << 20);
}

void RemoveFileNow(const char* path) { DeleteFileA(path); }
void RemoveDirectoryNow(const char* path) { RemoveDirectoryA(path); }

}  // namespace pixeltools
