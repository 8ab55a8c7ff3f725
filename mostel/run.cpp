#include "run.h"

#include <cstdio>

#include "pixeltools.h"

namespace mostel {
namespace {

constexpr int kExitBadInput = 1;
constexpr int kExitUsage = 2;
constexpr int kExitBadOutput = 3;
constexpr int kExitOutOfMemory = -1;

// Releases a library image on every way out.
struct Image {
  pxt_image image{};
  Image() = default;
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  ~Image() { pxt_image_free(&image); }
};

int MemoryExhausted() {
  std::fflush(stdout);
  std::fputs("ERR: memory exhausted\n", stderr);
  return kExitOutOfMemory;
}

}  // namespace

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

  // The input is read within mostel's own limits: its pixel limit refuses a picture from its
  // header, as 4-byte pixels of the decoded picture.
  pxt_limits limits;
  pxt_limits_default(&limits);
  limits.max_output_bytes = limits.max_mostel_pixels * 4;

  // The fixed texts go to standard output; the cause goes beside them to standard error.
  pxt_error error{};
  Image input;
  if (pxt_png_read_file(inputPath, &limits, &input.image, &error) != PXT_OK) {
    const unsigned long long pixels = static_cast<unsigned long long>(error.width) * error.height;
    if (pixels == 0) {
      std::printf("File not found: %s\n", inputPath);
    } else {
      std::puts("Too big images are not supported!");
      std::printf("Your image has %llu pixels!\n", pixels);
    }
    if (error.code == PXT_ERROR_OUT_OF_MEMORY) return MemoryExhausted();
    std::fflush(stdout);
    std::fprintf(stderr, "mostel: %s: %s\n", inputPath, error.message);
    return kExitBadInput;
  }

  Image picture;
  uint32_t filtered = 0;
  const pxt_status enlarged = pxt_mostel_enlarge(&input.image, 0, &limits, &picture.image, &filtered, &error);
  pxt_image_free(&input.image);
  if (enlarged == PXT_ERROR_OUT_OF_MEMORY) return MemoryExhausted();
  if (enlarged != PXT_OK) {
    std::fprintf(stderr, "mostel: %s: %s\n", inputPath, error.message);
    return kExitBadInput;
  }

  // The summary follows only a written file.
  switch (pxt_png_write_file(outputPath, &picture.image, PXT_PNG_SMALLEST, &error)) {
    case PXT_OK:
      break;
    case PXT_ERROR_OUT_OF_MEMORY:
      return MemoryExhausted();
    case PXT_ERROR_ENCODE:
      std::fprintf(stderr, "ERR: could not encode %s: %s\n", outputPath, error.message);
      return kExitBadOutput;
    default:
      std::fprintf(stderr, "ERR: could not write %s: %s\n", outputPath, error.message);
      return kExitBadOutput;
  }
  std::printf("Success!\n%5d filtered pixels.\n", static_cast<int>(filtered));
  return 0;
}

}  // namespace mostel
