// Pictures and BMP file images built in code for the engine tests and benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quillet/bitmap.h"

namespace quillet::testing {

// Colours as packed values (blue + green x 256 + red x 65536), rows bottom-up:
// colours[y * width + x] is pixel x of stored row y.
struct Picture {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint32_t> colours;
  std::uint32_t At(std::int32_t x, std::int32_t y) const { return colours[static_cast<std::size_t>(y * width + x)]; }
  std::uint32_t& At(std::int32_t x, std::int32_t y) { return colours[static_cast<std::size_t>(y * width + x)]; }
};

Picture Plain(std::int32_t width, std::int32_t height, std::uint32_t colour);

// Random colours drawn from a palette of `colours` entries, with runs like a sprite's.
Picture SpriteLike(std::int32_t width, std::int32_t height, int colours, std::uint32_t seed);

// A packed sheet of small sprites: cells of 6 to 13 pixels in rows, touching with no
// background between them, each an outlined body (half of them dithered) with a shaded
// band, a highlight and a few detail pixels, drawn from a palette of `colours` entries.
Picture DenseSheet(std::int32_t width, std::int32_t height, int colours, std::uint32_t seed);

// Each pixel becomes a factor x factor block.
Picture Replicate(const Picture& picture, int factor);

// The picture as opaque 8-bit RGBA, rows top-down, as a PNG encoder takes it.
std::vector<std::uint8_t> OpaqueRgbaBytes(const Picture& picture);

// Puts a 24-bit picture into the record as the loader would leave it.
void SetPicture(WorkingBitmap& bitmap, const Picture& picture);

// Reads back the pixels of a 24-bit bitmap.
Picture PictureOf(const OutputBitmap& bitmap);
Picture PictureOf(const WorkingBitmap& bitmap);

// Replaces the record's picture by its enlargement through `steps` smart 2x steps.
void EnlargeInPlace(WorkingBitmap& bitmap, int steps);

struct BmpLayout {
  std::uint32_t infoBytes = 40;  // 12, 40, 108 or 124
  bool topDown = false;
  bool omitLastPadding = false;
};

// A 24-bit BMP file image of the picture in the given layout.
std::vector<std::uint8_t> Bmp24File(const Picture& picture, const BmpLayout& layout = {});

std::vector<std::uint8_t> ReadFileBytes(const std::string& path);

// A fresh, empty directory under the system's temporary directory.
std::string MakeTempDir();

// Makes a fresh directory the working directory for the rest of the process and removes it when
// the process ends. True on the first call, which then writes its inputs there; false later.
bool EnterProcessScratchDir();

}  // namespace quillet::testing
