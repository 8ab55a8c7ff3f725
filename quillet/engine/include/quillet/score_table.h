// The neighbour scores of an enlargement, worked out once for every frame of a series.
#pragma once

#include <cstdint>
#include <vector>

#include "quillet/bitmap.h"

namespace quillet {

// The neighbour score of every interior pixel of an enlargement (the sum over its eight
// neighbours of the squared colour distance), one byte each: a code into the value list of
// its tile of 16 rows by 256 columns, or 255 for a score worked out from the pixels when read. It depends
// only on the enlargement, so every frame of a series shares one; the enlargement must not
// change while it is used.
struct ScoreTable {
  const std::uint8_t* pixels = nullptr;  // the enlargement's rows it was built from
  std::int32_t width = 0, height = 0;
  PixelBytes codes;                      // width x height, row by row
  // 256 per tile, row by row; code 0 is 0 (all nine pixels alike), code 255 a value above
  // every score.
  pixeltools::LargeVector<std::uint32_t> values;
  std::int32_t tileColumns = 0;          // tiles to a band of rows
  // One byte per block of 8 x 8 codes (blocks of the last row and column may be cut short),
  // 0 exactly when every code of the block is 0; blockColumns to a row of blocks.
  std::vector<std::uint8_t> blocks;
  std::int32_t blockColumns = 0;
};

// Fills table from source's 24-bit image (empty when it holds none); threads <= 0 uses every core.
void BuildScoreTable(const WorkingBitmap& source, int threads, ScoreTable& table);

// True when table was built from source as it is now (same rows, same size).
bool ScoreTableFits(const ScoreTable& table, const WorkingBitmap& source);

}  // namespace quillet
