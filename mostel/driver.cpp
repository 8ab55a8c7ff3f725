#include "driver.h"

#include <lodepng.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "edge_scale.h"

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

  unsigned char* image = nullptr;
  unsigned width = 0, height = 0;
  if (lodepng_decode32_file(&image, &width, &height, inputPath) != 0) {
    std::free(image);
    if (width * height == 0) {
      std::printf("File not found: %s\n", inputPath);
    } else {
      std::puts("Too big images are not supported!");
      std::printf("Your image has %d pixels!\n", static_cast<int>(width * height));
    }
    return kExitBadInput;
  }

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
  EdgeScale3x(&job);
  std::fflush(stdout);

  const unsigned error =
      lodepng_encode32_file(outputPath, static_cast<const unsigned char*>(destination), 3 * width, 3 * height);
  std::free(image);
  std::free(destination);
  if (error != 0) {
    std::fprintf(stderr, "ERR: could not write %s: %s\n", outputPath, lodepng_error_text(error));
    return kExitBadOutput;
  }
  return 0;
}

}  // namespace mostel
