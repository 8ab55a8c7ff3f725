// Writing an output file so that a failure never leaves a truncated file under its name.
#pragma once

#include <cstddef>

namespace pixeltools {

inline constexpr std::size_t kFailureReasonChars = 160;

// Why a write failed, as the platform words it ("No space left on device").
struct WriteFailure {
  char reason[kFailureReasonChars] = {};
  int systemError = 0;  // the platform's error number behind it; 0 when it had none
};

struct ByteRange {
  const void* data = nullptr;
  std::size_t size = 0;
};

enum class OutputMode {
  // The user's output. A regular file, or a name that does not exist yet, is written to a
  // new file beside it and renamed into place once complete and closed; a symbolic link is
  // followed and the file it points to is the one replaced. An existing file that is not a
  // regular one (a device, a pipe) is written in place and never replaced, and so is a
  // writable file in a folder where no file can be made beside it (a new file there fails).
  // A read-only file is refused. The file beside the target is registered as a temporary
  // before it is created, and is gone again however the write ends.
  kReplace,
  // A temporary file: created exclusively (an existing name fails, a link is never
  // followed), readable by its owner alone, and deleted again when the write fails.
  kCreateNew,
};

// Writes the parts one after the other as the file name; every write and the close are
// checked. False, with the reason, when anything failed; the file under name is then as it
// was, unless it was written in place.
bool WriteOutputFile(const char* name, const ByteRange* parts, std::size_t count, OutputMode mode,
                     WriteFailure* failure);
inline bool WriteOutputFile(const char* name, const void* data, std::size_t size, WriteFailure* failure) {
  const ByteRange part = {data, size};
  return WriteOutputFile(name, &part, 1, OutputMode::kReplace, failure);
}

}  // namespace pixeltools
