// Writing an output file so that a failure never leaves a truncated file under its name.
#pragma once

#include <cstddef>

namespace mostel {

inline constexpr std::size_t kFailureReasonChars = 160;

// Why a write failed, as the platform words it ("No space left on device").
struct WriteFailure {
  char reason[kFailureReasonChars] = {};
  int systemError = 0;  // the platform's error number behind it
};

// Writes size bytes of data as the file name. A regular file, or a name that does not exist
// yet, is written to a new file beside it and renamed into place once complete and closed;
// a symbolic link is followed, and the file it points to is the one replaced. An existing
// file that is not a regular one (a device, a pipe) is written in place and never replaced,
// and so is a writable file in a folder where no file can be made beside it (a new file
// there fails).
// Every write is checked, the close too. False, with the reason, when anything failed; the
// file under name is then unchanged, unless it was written in place.
bool WriteOutputFile(const char* name, const void* data, std::size_t size, WriteFailure* failure);

}  // namespace mostel
