// mostel's enlargement of a caller's image.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "driver.h"
#include "internal.h"

extern "C" pxt_status pxt_mostel_enlarge(const pxt_image* input, unsigned threads, const pxt_limits* limits,
                                         pxt_image* output, uint32_t* edge_decisions, pxt_error* error) {
  if (output) *output = pxt_image{};
  if (edge_decisions) *edge_decisions = 0;
  if (!output) return pxt::Fail(error, PXT_ERROR_ARGUMENT, "no output image record was given");
  if (!pxt::CheckImage(input, "input image", error)) return PXT_ERROR_ARGUMENT;
  const pxt_limits in = pxt::LimitsOr(limits);
  const std::uint64_t pixels = std::uint64_t{input->width} * input->height;
  if (pixels > in.max_mostel_pixels || mostel::DestinationBytes(input->width, input->height) == 0) {
    pxt::Fail(error, PXT_ERROR_TOO_LARGE, "the image is %u x %u pixels, over the limit of %llu", input->width,
              input->height, static_cast<unsigned long long>(in.max_mostel_pixels));
    if (error) {
      error->width = input->width;
      error->height = input->height;
    }
    return PXT_ERROR_TOO_LARGE;
  }
  return pxt::Guarded(error, [&] {
    // The scaler reads 4-byte words in rows a whole number of words apart: other rows are
    // copied so first.
    const std::size_t row = std::size_t{4} * input->width;
    const bool direct = input->stride % 4 == 0 && reinterpret_cast<std::uintptr_t>(input->pixels) % 4 == 0 &&
                        input->stride / 4 <= UINT32_MAX / 2;
    std::unique_ptr<std::uint32_t[]> copy;
    if (!direct) {
      copy.reset(new std::uint32_t[std::size_t{input->width} * input->height]);
      for (std::uint32_t y = 0; y < input->height; ++y)
        std::memcpy(copy.get() + std::size_t{y} * input->width, input->pixels + y * input->stride, row);
    }
    const std::uint32_t* source = direct ? reinterpret_cast<const std::uint32_t*>(input->pixels) : copy.get();
    const unsigned pitch = direct ? static_cast<unsigned>(input->stride / 4) : input->width;
    mostel::Enlargement enlarged;
    if (!mostel::EnlargePixels(source, pitch, input->width, input->height, threads, enlarged))
      return pxt::Fail(error, PXT_ERROR_OUT_OF_MEMORY, "memory ran out for the enlargement of %u x %u pixels",
                       input->width, input->height);
    // The block is released by pxt_image_free's std::free (large_block.h).
    output->width = enlarged.width;
    output->height = enlarged.height;
    output->stride = std::size_t{4} * enlarged.width;
    output->pixels = reinterpret_cast<unsigned char*>(std::exchange(enlarged.pixels, nullptr));
    if (edge_decisions) *edge_decisions = enlarged.counts.Filtered();
    return pxt::Succeed(error);
  });
}
