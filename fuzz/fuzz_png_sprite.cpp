// quillet's PNG mode door on any bytes: the bounded decode to RGBA, then, for a small picture,
// its stand-in colours, the stand-in bitmap with a margin and the way back.
#include <cstddef>
#include <cstdint>

#include "quillet/pipeline.h"
#include "quillet/sprite.h"
#include "quillet/sprite_job.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quillet::RgbaImage image;
  quillet::InputReport report;
  const bool decoded = quillet::DecodePngBytes(data, size, image, report);
  if (decoded != (report.problem == quillet::InputProblem::kNone)) __builtin_trap();
  if (!decoded) return 0;
  if (image.width <= 0 || image.height <= 0 || report.width != image.width || report.height != image.height ||
      image.pixels.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) ||
      !quillet::FitsEnlargement(image.width, image.height))
    __builtin_trap();
  if (image.pixels.size() > 64 * 64) return 0;  // keeps each run short
  const quillet::StandInMap map = quillet::BuildStandInMap(image);
  if (map.outOfColours) __builtin_trap();  // a few thousand values leave plenty free
  quillet::WorkingBitmap bitmap;
  quillet::RgbaImage back;
  if (!quillet::StandInBitmap(image, map, 2, bitmap) ||
      !quillet::RgbaFromStandIns(bitmap.header.get(), bitmap.pixels.data(), bitmap.pixels.size(), map, back) ||
      back.width != image.width + 4 || back.height != image.height + 4)
    __builtin_trap();
  for (std::int32_t y = 0; y < image.height; ++y)
    for (std::int32_t x = 0; x < image.width; ++x) {
      const quillet::Rgba v = image.At(x, y);
      if (back.At(x + 2, y + 2) != (quillet::AlphaOf(v) == 0 ? quillet::kTransparent : v)) __builtin_trap();
    }
  return 0;
}
