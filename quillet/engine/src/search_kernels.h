// The inner loops of the phase search, in plain C++ and in vector forms (SSE2 on every x86
// build, AVX2 chosen at run time), over one chunk of a row of output pixels. Every form adds
// the same integer scores, so every one gives the same winner, hence the same bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>

#include "quillet/render.h"
#include "quillet/score_table.h"
#include "score_table_internal.h"

namespace quillet {

constexpr std::int64_t kChunkPixels = 256;  // pixels of a row whose positions are worked out at once
constexpr int kMaxSearchGrid = 32;          // the largest M

// A candidate's score sums at most one neighbour score per pixel: a chunk's sums fit 32 bits.
constexpr std::uint64_t kMaxNeighbourScore = 8u * 765u * 765u;
static_assert(kChunkPixels * kMaxNeighbourScore < (std::uint64_t{1} << 32), "a chunk's sums must fit 32 bits");
static_assert(kMaxNeighbourScore < kComputedValue, "no score may read as one to work out");

// Columns kept per pixel: M rounded up to a multiple of 8; the columns past M stay 0, whose
// code is 0 and scores 0 in every tile.
inline int ColumnStride(int m) { return (m + 7) & ~7; }

// The positions of one chunk of n pixels for the M candidate rows (u) and columns (v): each
// position starts at uAt[k] or vAt[k] and grows by uStep[k] or vStep[k] from pixel to pixel, the
// same additions in the same order on every path; uAt and vAt are left at the pixel after the
// chunk. Per pixel x: rows[x * m + k] is the row of the enlargement or -1 when outside the
// scored area, cols[x * colStride + k] the column or 0 when outside (the outermost column
// scores nothing).
struct PositionChunk {
  double* uAt;
  double* vAt;
  const double* uStep;
  const double* vStep;
  int m, colStride;
  std::int64_t n;
  double hLimit, wLimit;
  std::int32_t* rows;
  std::int32_t* cols;
};

// Adds to sums[i x M + j] the score under candidate (i, j) of every pixel of the chunk, and
// to rowsAdded the rows of M candidates added.
struct ScoreChunk {
  const ScoreTable* table;
  const SourceView* src;
  const std::int32_t* rows;
  const std::int32_t* cols;
  int m, colStride;
  std::int64_t n;
  std::uint64_t* sums;
  std::uint64_t* rowsAdded;
};

// And for the score table: out[col] = the neighbour score of pixel col of row mid, for col
// 1..width-2, from its rows of packed colours (bits 24-31 zero); null on the plain path,
// which scores straight from the pixels.
using RowScores = void (*)(const std::uint32_t* up, const std::uint32_t* mid, const std::uint32_t* down,
                           std::int64_t width, std::uint32_t* out);

struct SearchKernels {
  void (*positions)(const PositionChunk& chunk);
  void (*score)(const ScoreChunk& chunk);
  RowScores rowScores;
};

// The neighbour score of packed colour c among its eight neighbours, as NeighbourScore gives it.
inline std::uint32_t PackedNeighbourScore(std::uint32_t c, const std::uint32_t* up, const std::uint32_t* mid,
                                          const std::uint32_t* down, std::int64_t col) {
  const std::uint32_t around[8] = {up[col - 1],  up[col],     up[col + 1],  mid[col - 1],
                                   mid[col + 1], down[col - 1], down[col], down[col + 1]};
  std::uint32_t sum = 0;
  for (std::uint32_t n : around) {
    const std::uint32_t d = static_cast<std::uint32_t>(PixelDistance(c, n));
    sum += d * d;
  }
  return sum;
}

// The kernels of each path; null when this build or processor has none.
const SearchKernels& PlainSearchKernels();
const SearchKernels* Sse2SearchKernels();
const SearchKernels* Avx2SearchKernels();

// The kernels the search uses now (see UseKernels).
const SearchKernels& ChosenSearchKernels();

// Shared by every path.

// True when any of the n >= 1 bytes from p is not 0.
inline bool AnyNonZero(const std::uint8_t* p, std::int64_t n) {
  if (n < 8) {
    unsigned any = 0;
    for (std::int64_t k = 0; k < n; ++k) any |= p[k];
    return any != 0;
  }
  std::uint64_t any = 0, word = 0;
  for (std::int64_t k = 0; k + 8 < n; k += 8) {
    std::memcpy(&word, p + k, 8);
    any |= word;
  }
  std::memcpy(&word, p + n - 8, 8);
  return (any | word) != 0;
}

// True when a code of rows firstRow..lastRow, columns firstCol..lastCol may be other than 0.
inline bool AnyBlockCoded(const ScoreTable& table, std::int32_t firstRow, std::int32_t lastRow, std::int32_t firstCol,
                          std::int32_t lastCol) {
  const std::int32_t left = firstCol >> kBlockShift, right = lastCol >> kBlockShift;
  for (std::int32_t row = firstRow >> kBlockShift; row <= lastRow >> kBlockShift; ++row) {
    const std::uint8_t* blocks = table.blocks.data() + std::int64_t{row} * table.blockColumns;
    for (std::int32_t col = left; col <= right; ++col)
      if (blocks[col] != 0) return true;
  }
  return false;
}

// The columns pixel x's candidates read inside the scored area span firstCol..lastCol; false
// when none of its codes can be other than 0 (code 0 is the score 0, and so are the columns
// and rows outside). A pixel's M rows, and its M columns, never fall as k grows: their walks
// start k x r apart and take the same steps, and rounding keeps that order. So the positions
// inside make one run of k, its ends the least and the greatest.
inline bool PixelSpan(const ScoreChunk& c, std::int64_t x, std::int32_t& firstCol, std::int32_t& lastCol) {
  const std::int32_t* pixelRows = c.rows + x * c.m;
  const std::int32_t* pixelCols = c.cols + x * c.colStride;
  int first = 0, last = c.m - 1;
  while (first <= last && pixelCols[first] == 0) ++first;
  if (first > last) return false;
  while (pixelCols[last] == 0) --last;
  firstCol = pixelCols[first];
  lastCol = pixelCols[last];
  first = 0;
  last = c.m - 1;
  while (first <= last && pixelRows[first] < 0) ++first;
  if (first > last) return false;
  while (pixelRows[last] < 0) --last;
  return AnyBlockCoded(*c.table, pixelRows[first], pixelRows[last], firstCol, lastCol);
}

// The list of values the candidates of a pixel read on row `row` when their columns inside the
// scored area, firstCol..lastCol, lie in one tile; null when they do not. A column outside
// (0) reads code 0, which scores 0 in every tile.
inline const std::uint32_t* OneTileValues(const ScoreChunk& c, std::int64_t row, std::int32_t firstCol,
                                          std::int32_t lastCol) {
  return (firstCol >> kTileShift) == (lastCol >> kTileShift)
             ? TileValues(c.table->values.data(), c.table->tileColumns, row, firstCol)
             : nullptr;
}

// out[j] = the value of the code in column cols[j] of row `row` (codes in line), for j < count:
// the score, or kComputedValue where it is worked out from the pixels (WorkOutScores).
// tileValues: the list of the tile every column lies in, or null to look each one up.
// Gives the values ORed together, whose top bit tells whether any is kComputedValue.
inline std::uint32_t ReadRowValues(const ScoreChunk& c, const std::uint8_t* line, std::int64_t row,
                                   const std::int32_t* cols, int count, const std::uint32_t* tileValues,
                                   std::uint32_t* out) {
  std::uint32_t any = 0;
  if (tileValues) {
#pragma GCC unroll 4
    for (int j = 0; j < count; ++j) any |= out[j] = tileValues[line[cols[j]]];
    return any;
  }
  const std::uint32_t* rowValues = TileValues(c.table->values.data(), c.table->tileColumns, row, 0);
  for (int j = 0; j < count; ++j) any |= out[j] = rowValues[((cols[j] >> kTileShift) << 8) + line[cols[j]]];
  return any;
}

constexpr std::uint32_t kComputedBit = 0x80000000u;  // set in kComputedValue, in no score
static_assert((kComputedValue & kComputedBit) != 0 && kMaxNeighbourScore < kComputedBit, "scores must not set it");

// Replaces every kComputedValue of out[0..count) with the score of the pixel at (row, cols[j]).
// Kept out of line: it is rare, and the kernels' loops keep their registers without it.
[[gnu::noinline]] inline void WorkOutScores(const ScoreChunk& c, std::int64_t row, const std::int32_t* cols, int count,
                                            std::uint32_t* out) {
  for (int j = 0; j < count; ++j)
    if (out[j] == kComputedValue) out[j] = NeighbourScore(*c.src, row * c.src->stride + 3 * std::int64_t{cols[j]});
}

}  // namespace quillet
