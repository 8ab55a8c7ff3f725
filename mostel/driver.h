// The steps of a run of mostel: the enlargement of a decoded picture and the written output.
#pragma once

#include <cstddef>
#include <cstdint>

#include "edge_scale.h"
#include "large_block.h"
#include "pixeltools/output_file.h"
#include "png_input.h"

namespace mostel {

// The writer both programs share: every write and the close checked, the file renamed into
// place once complete.
using pixeltools::WriteFailure;
using pixeltools::WriteOutputFile;

// The steps of a run of mostel (run.h) after decoding (DecodePngFile), which the library
// takes for its enlargement and a benchmark times one by one.

// The 3x picture and the scaler's counts.
struct Enlargement {
  Enlargement() = default;
  Enlargement(const Enlargement&) = delete;
  Enlargement& operator=(const Enlargement&) = delete;
  ~Enlargement();

  uint32_t* pixels = nullptr;  // RGBA words, width to a row; a large block (large_block.h)
  unsigned width = 0, height = 0;
  ScalerCounts counts{};
};

// Scales width x height RGBA words, rows pitchPixels words apart, three times on `threads`
// threads (0: one per core) into out; the pixels and counts do not depend on the thread count.
// False, with out empty, when memory for the enlargement ran out, or when the size or pitch
// does not fit the scaler's job.
bool EnlargePixels(const uint32_t* pixels, unsigned pitchPixels, unsigned width, unsigned height, unsigned threads,
                   Enlargement& out);

// Scales a decoded input three times on every core into out, and releases the input's pixels.
// False, with out empty, when memory for the enlargement ran out.
bool EnlargeInput(DecodedInput& input, Enlargement& out);

enum class OutputStatus { kWritten, kOutOfMemory, kEncodeFailed, kWriteFailed };

struct OutputResult {
  OutputStatus status = OutputStatus::kWritten;
  unsigned encodeError = 0;  // LodePNG's error code for kEncodeFailed
  WriteFailure write;        // the reason for kWriteFailed
};

// Encodes the enlargement as a PNG at the settings of LodePNG's file call, releases its pixels,
// and writes the file as path.
OutputResult WriteEnlargement(Enlargement& picture, const char* path);

}  // namespace mostel
