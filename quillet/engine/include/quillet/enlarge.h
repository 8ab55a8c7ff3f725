// The smart 2x step: every pixel becomes a 2 x 2 block of its own colour or of an
// orthogonal neighbour's, so edges of pixel art stay hard.
#pragma once

#include <cstdint>

#include "quillet/bitmap.h"

namespace quillet {

// True when a and b are at least as close to each other as each is to c (ties hold).
bool Similar(std::uint32_t a, std::uint32_t b, std::uint32_t c);

// Fills output (2w x 2h, from CreateOutputBitmap) from a 24-bit source; false, and
// output untouched, when the source holds no 24-bit image or the sizes do not match. Bands of
// rows go to up to `threads` threads (0: every core); the bytes do not depend on it.
bool EnlargeInto(const WorkingBitmap& source, OutputBitmap& output, int threads = 0);

// Writes the 2x enlargement of source to fileName; the source is left unchanged.
// False when source holds no 24-bit image (no file is written) or the write failed. The
// mode says how the file is created (WriteOutputFile); threads as for EnlargeInto.
bool EnlargeStep(const WorkingBitmap& source, const char* fileName, OutputMode mode = OutputMode::kReplace,
                 int threads = 0);

}  // namespace quillet
