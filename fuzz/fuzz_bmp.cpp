// The BMP reader on any bytes; a small 24-bit result also goes through one smart 2x step and
// the file writer's layout, which read what the reader produced.
#include <cstddef>
#include <cstdint>

#include "quillet/bitmap.h"
#include "quillet/enlarge.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quillet::WorkingBitmap bitmap;
  quillet::LoadOutcome outcome;
  const std::int32_t rows = quillet::LoadBitmapBytes(data, size, bitmap, &outcome);
  if ((rows > 0) != (outcome.failure == quillet::LoadFailure::kNone)) __builtin_trap();
  if (!quillet::HasImage24(bitmap)) return 0;
  const std::int32_t width = quillet::HeaderWidth(bitmap.header.get());
  const std::int32_t height = quillet::HeaderHeight(bitmap.header.get());
  if (static_cast<std::int64_t>(width) * height > 64 * 64) return 0;
  quillet::OutputBitmap output = quillet::CreateOutputBitmap(bitmap, 2 * width, 2 * height);
  if (!output.pixels || !quillet::EnlargeInto(bitmap, output)) __builtin_trap();
  return 0;
}
