#include "driver.h"

#include <lodepng.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "edge_scale.h"
#include "output_file.h"
#include "png_input.h"

namespace mostel {
namespace {

constexpr int kExitBadInput = 1;
constexpr int kExitUsage = 2;
constexpr int kExitBadOutput = 3;

}  // namespace

int RunMostel(int argc, const char* const* argv) {
  if (argc < 3) {
    std::puts("Usage: mostel <input png 32bit> <output png 32bit>\n*** Programmed by Oberin. ***");
    return kExitUsage;
  }
  const char* inputPath = argv[1];
  const char* outputPath = argv[2];

  // The fixed texts go to standard output; the cause goes beside them to standard error.
  DecodedInput input;
  DecodePngFile(inputPath, input);
  if (input.failure != InputFailure::kNone) {
    if (input.Pixels() == 0) {
      std::printf("File not found: %s\n", inputPath);
    } else {
      std::puts("Too big images are not supported!");
      std::printf("Your image has %llu pixels!\n", static_cast<unsigned long long>(input.Pixels()));
    }
    std::fflush(stdout);
    if (input.failure == InputFailure::kOutOfMemory) {
      std::fputs("ERR: memory exhausted\n", stderr);
      return -1;
    }
    std::fprintf(stderr, "mostel: %s: %s\n", inputPath, input.reason.c_str());
    return kExitBadInput;
  }
  unsigned char* image = std::exchange(input.pixels, nullptr);
  const unsigned width = input.width, height = input.height;

  const size_t bytes = DestinationBytes(width, height);
  void* destination = bytes != 0 ? std::malloc(bytes) : nullptr;
  if (destination == nullptr) {
    std::fputs("ERR: memory exhausted\n", stderr);
    std::free(image);
    return -1;
  }

  const ScalerJob job = {
      reinterpret_cast<const uint32_t*>(image), 2 * width, width, height,
      static_cast<uint32_t*>(destination),      6 * width, 3 * width, 3 * height,
  };
  ScalerCounts counts;
  EdgeScaleBlocks(job, 0, &counts);
  std::free(image);

  // Encoded in memory at the settings of LodePNG's file call, so the bytes are the same, and
  // written here, where every write is checked. The summary follows only a written file.
  unsigned char* png = nullptr;
  size_t pngBytes = 0;
  const unsigned error = lodepng_encode32(&png, &pngBytes, static_cast<const unsigned char*>(destination),
                                          3 * width, 3 * height);
  std::free(destination);
  if (error == 83) {  // LodePNG's "memory allocation failed"
    std::free(png);
    std::fputs("ERR: memory exhausted\n", stderr);
    return -1;
  }
  if (error != 0) {
    std::free(png);
    std::fprintf(stderr, "ERR: could not encode %s: %s\n", outputPath, lodepng_error_text(error));
    return kExitBadOutput;
  }
  WriteFailure failure;
  const bool written = WriteOutputFile(outputPath, png, pngBytes, &failure);
  std::free(png);
  if (!written) {
    std::fprintf(stderr, "ERR: could not write %s: %s\n", outputPath, failure.reason);
    return kExitBadOutput;
  }
  std::printf("Success!\n%5d filtered pixels.\n", static_cast<int>(counts.Filtered()));
  return 0;
}

}  // namespace mostel
