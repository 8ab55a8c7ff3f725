// mostel's path through the library on any bytes: the bounded PNG decode within mostel's pixel
// limit, the 3x scaler and the encoder, whose PNG must decode to the enlargement again.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "pixeltools.h"

namespace {

struct Image {
  pxt_image image{};
  ~Image() { pxt_image_free(&image); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  pxt_limits limits;
  pxt_limits_default(&limits);
  limits.max_output_bytes = limits.max_mostel_pixels * 4;
  Image input;
  pxt_error error{};
  if (pxt_png_decode(data, size, &limits, &input.image, &error) != PXT_OK) {
    if (input.image.pixels || error.code == PXT_OK || error.message[0] == '\0') __builtin_trap();
    return 0;
  }
  const std::uint64_t pixels = std::uint64_t{input.image.width} * input.image.height;
  if (!input.image.pixels || pixels == 0 || pixels > limits.max_mostel_pixels) __builtin_trap();
  if (pixels > 256 * 256) return 0;  // keeps each run short
  Image enlarged;
  std::uint32_t decisions = 0;
  if (pxt_mostel_enlarge(&input.image, 2, &limits, &enlarged.image, &decisions, &error) != PXT_OK ||
      enlarged.image.width != 3 * input.image.width || enlarged.image.height != 3 * input.image.height)
    __builtin_trap();
  unsigned char* png = nullptr;
  std::size_t pngSize = 0;
  if (pxt_png_encode(&enlarged.image, PXT_PNG_SMALLEST, &png, &pngSize, &error) != PXT_OK) __builtin_trap();
  Image back;
  const pxt_status decoded = pxt_png_decode(png, pngSize, nullptr, &back.image, &error);
  pxt_free(png);
  if (decoded != PXT_OK || back.image.width != enlarged.image.width ||
      std::memcmp(back.image.pixels, enlarged.image.pixels, std::size_t{4} * pixels * 9) != 0)
    __builtin_trap();
  return 0;
}
