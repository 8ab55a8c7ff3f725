#include "driver.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "pixeltools/png_door.h"

namespace mostel {
namespace {

constexpr int kExitBadInput = 1;
constexpr int kExitUsage = 2;
constexpr int kExitBadOutput = 3;

}  // namespace

Enlargement::~Enlargement() { FreeLargeBlock(pixels); }

bool EnlargeInput(DecodedInput& input, Enlargement& out) {
  unsigned char* image = std::exchange(input.pixels, nullptr);
  const unsigned width = input.width, height = input.height;
  const size_t bytes = DestinationBytes(width, height);
  // Not cleared: the scaler writes every pixel, each thread its own rows, so the pages are
  // first touched by the threads that write them.
  void* destination = AllocateLargeBlock(bytes);
  if (destination == nullptr) {
    std::free(image);
    return false;
  }
  const ScalerJob job = {
      reinterpret_cast<const uint32_t*>(image), 2 * width, width, height,
      static_cast<uint32_t*>(destination),      6 * width, 3 * width, 3 * height,
  };
  // The job fits its destination by construction: false means the planes found no memory.
  const bool scaled = EdgeScaleBlocks(job, 0, &out.counts);
  std::free(image);
  if (!scaled) {
    FreeLargeBlock(destination);
    return false;
  }
  out.pixels = static_cast<uint32_t*>(destination);
  out.width = 3 * width;
  out.height = 3 * height;
  return true;
}

OutputResult WriteEnlargement(Enlargement& picture, const char* path) {
  // Encoded in memory at the settings of LodePNG's file call, so the bytes are the same, and
  // written here, where every write is checked.
  OutputResult result;
  unsigned char* png = nullptr;
  size_t pngBytes = 0;
  const unsigned error = pixeltools::EncodePng(reinterpret_cast<const unsigned char*>(picture.pixels), picture.width,
                                               picture.height, false, &png, &pngBytes);
  FreeLargeBlock(std::exchange(picture.pixels, nullptr));
  if (error != 0) {
    std::free(png);
    result.status = error == pixeltools::kPngOutOfMemory ? OutputStatus::kOutOfMemory : OutputStatus::kEncodeFailed;
    result.encodeError = error;
    return result;
  }
  if (!WriteOutputFile(path, png, pngBytes, &result.write)) result.status = OutputStatus::kWriteFailed;
  std::free(png);
  return result;
}

int RunMostel(int argc, const char* const* argv) {
  if (argc != 3) {
    std::puts("Usage: mostel <input png 32bit> <output png 32bit>\n*** Programmed by Oberin. ***");
    // More than two names is most often a shell pattern (mostel *.png) that would overwrite
    // the second file with the first one's enlargement: nothing is read or written.
    if (argc > 3) {
      std::fflush(stdout);
      std::fprintf(stderr,
                   "mostel: %d names given, but mostel enlarges one file per run; for many, use a shell loop: "
                   "for f in *.png; do mostel \"$f\" \"${f%%.png}-3x.png\"; done\n",
                   argc - 1);
    }
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

  Enlargement picture;
  if (!EnlargeInput(input, picture)) {
    std::fputs("ERR: memory exhausted\n", stderr);
    return -1;
  }

  // The summary follows only a written file.
  const OutputResult output = WriteEnlargement(picture, outputPath);
  switch (output.status) {
    case OutputStatus::kWritten:
      break;
    case OutputStatus::kOutOfMemory:
      std::fputs("ERR: memory exhausted\n", stderr);
      return -1;
    case OutputStatus::kEncodeFailed:
      std::fprintf(stderr, "ERR: could not encode %s: %s\n", outputPath, pixeltools::PngErrorText(output.encodeError));
      return kExitBadOutput;
    case OutputStatus::kWriteFailed:
      std::fprintf(stderr, "ERR: could not write %s: %s\n", outputPath, output.write.reason);
      return kExitBadOutput;
  }
  std::printf("Success!\n%5d filtered pixels.\n", static_cast<int>(picture.counts.Filtered()));
  return 0;
}

}  // namespace mostel
