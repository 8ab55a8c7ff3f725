// One run of mostel: arguments in, PNG out, messages on the console.
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

// argv[1] is the input PNG, argv[2] the output PNG; any other count of arguments gets the usage
// text (and, for more than two, a hint on standard error) and nothing is read or written.
// Returns the exit status: 0 when the output was written; 1 when the input could not be
// decoded; 2 after the usage text; 3 when the output could not be encoded or written; -1 when
// memory ran out.
int RunMostel(int argc, const char* const* argv);

// The steps of a run after decoding (DecodePngFile), as RunMostel takes them, so that a
// benchmark can time each one.

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
