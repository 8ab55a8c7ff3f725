// Absolute paths through the platform's own resolution of a name against the current
// directory and drive.
#include <windows.h>

#include "quillet/pipeline.h"

namespace quillet {

bool AbsolutePath(const char* name, char* out, std::size_t outSize) {
  if (!name || !out || outSize == 0 || outSize > MAXDWORD) return false;
  const DWORD length = GetFullPathNameA(name, static_cast<DWORD>(outSize), out, nullptr);
  return length != 0 && length < outSize;
}

}  // namespace quillet
