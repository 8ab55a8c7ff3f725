// mostel's path on any bytes: the bounded PNG decode, the 3x scaler and the encoder.
#include <lodepng.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "edge_scale.h"
#include "png_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  mostel::DecodedInput input;
  mostel::DecodePngBytes(data, size, input);
  if (input.failure != mostel::InputFailure::kNone) {
    if (input.pixels) __builtin_trap();
    return 0;
  }
  if (!input.pixels || input.Pixels() == 0 || input.Pixels() > mostel::kMaxInputPixels) __builtin_trap();
  if (input.Pixels() > 256 * 256) return 0;  // keeps each run short
  const unsigned width = input.width, height = input.height;
  const std::size_t bytes = mostel::DestinationBytes(width, height);
  auto* destination = static_cast<std::uint32_t*>(std::malloc(bytes));
  if (!destination) return 0;
  const mostel::ScalerJob job = {reinterpret_cast<const std::uint32_t*>(input.pixels), 2 * width, width, height,
                                 destination, 6 * width, 3 * width, 3 * height};
  mostel::ScalerCounts counts;
  if (!mostel::EdgeScaleBlocks(job, 2, &counts)) __builtin_trap();
  unsigned char* png = nullptr;
  std::size_t pngSize = 0;
  const unsigned error =
      lodepng_encode32(&png, &pngSize, reinterpret_cast<const unsigned char*>(destination), 3 * width, 3 * height);
  std::free(png);
  std::free(destination);
  if (error != 0) __builtin_trap();
  return 0;
}
