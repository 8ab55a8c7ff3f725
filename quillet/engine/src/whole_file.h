// Writing a file so that it appears under its name only when complete.
#pragma once

#include <cstddef>

namespace quillet {

// Writes size bytes to a new file beside fileName, created exclusively, and renames it into
// place once written and closed; on any failure the new file is removed and fileName is
// left as it was.
bool WriteWholeFile(const char* fileName, const void* data, std::size_t size);

}  // namespace quillet
