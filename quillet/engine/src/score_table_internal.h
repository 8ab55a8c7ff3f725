// What the score table and the phase search that reads it share: a view of the enlargement's
// rows, the neighbour score of one pixel, and the layout of the table's codes.
#pragma once

#include <cstdint>

#include "quillet/bitmap.h"

namespace quillet {

struct SourceView {
  const std::uint8_t* pixels;
  std::int64_t stride;
  std::int32_t width, height;
};

inline SourceView ViewOf(const WorkingBitmap& source) {
  return {source.pixels.data(), Stride24(HeaderWidth(source.header.get())), HeaderWidth(source.header.get()),
          HeaderHeight(source.header.get())};
}

// Sum over the eight neighbours of the squared distance to the pixel at byte offset so;
// the pixel must not lie in the outermost rows or columns.
inline std::uint32_t NeighbourScore(const SourceView& src, std::int64_t so) {
  const std::uint8_t* p = src.pixels + so;
  const std::uint32_t centre = PackColour(p);
  const std::int64_t s = src.stride;
  const std::int64_t offsets[8] = {-s - 3, -s, -s + 3, -3, 3, s - 3, s, s + 3};
  std::uint32_t sum = 0;
  for (std::int64_t off : offsets) {
    const std::uint32_t d = static_cast<std::uint32_t>(PixelDistance(centre, PackColour(p + off)));
    sum += d * d;
  }
  return sum;
}

constexpr std::uint8_t kComputedCode = 255;  // the score is worked out when read
// What a tile's list holds for kComputedCode: more than any neighbour score (8 x 765 x 765),
// so that a read of the list alone tells when the score must be worked out.
constexpr std::uint32_t kComputedValue = 0xFFFFFFFFu;
constexpr int kBandShift = 4;  // rows 16 x b .. 16 x b + 15 make a band
constexpr int kTileShift = 8;  // columns 256 x t .. 256 x t + 255 of a band share one list of values
constexpr int kBlockShift = 3;  // blocks of 8 x 8 codes
static_assert(kBlockShift <= kBandShift && kBlockShift <= kTileShift, "a tile must hold whole blocks");

// The list of values of the tile holding code (row, col); code k of that tile scores list[k].
inline const std::uint32_t* TileValues(const std::uint32_t* values, std::int32_t tileColumns, std::int64_t row,
                                       std::int64_t col) {
  return values + (((row >> kBandShift) * tileColumns + (col >> kTileShift)) << 8);
}

}  // namespace quillet
