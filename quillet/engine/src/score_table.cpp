#include "quillet/score_table.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <atomic>
#include <memory>
#include <utility>
#include <vector>

#include "parallel.h"
#include "score_table_internal.h"
#include "search_kernels.h"

namespace quillet {
namespace {

// Packed colours of one column of three pixels.
struct Column {
  std::uint32_t up, mid, down;
};

// Counts of the scores of one tile, keyed by value; new values stop being taken once it
// is half full, so a tile of many different scores only leaves more of them uncoded.
class ValueCounts {
 public:
  static constexpr std::size_t kSlots = 1024;

  void Add(std::uint32_t value) {
    std::size_t slot = Hash(value);
    while (counts_[slot] != 0 && keys_[slot] != value) slot = (slot + 1) & (kSlots - 1);
    if (counts_[slot] == 0) {
      if (used_ >= kSlots / 2) return;
      ++used_;
      keys_[slot] = value;
    }
    ++counts_[slot];
  }

  void Clear() {
    keys_.fill(0);
    counts_.fill(0);
    codes_.fill(0);
    used_ = 0;
  }

  // Gives the most frequent values (ties to the lower value) codes 1, 2, ... up to 254.
  // Allocates nothing, so that it may run on any thread.
  void ChooseCodes(std::uint32_t* values) {
    std::size_t ranks = 0;
    for (std::size_t slot = 0; slot < kSlots; ++slot)
      if (counts_[slot] != 0) ranked_[ranks++] = {-static_cast<std::int64_t>(counts_[slot]), keys_[slot]};
    const std::size_t chosen = std::min<std::size_t>(ranks, kComputedCode - 1);
    std::partial_sort(ranked_.begin(), ranked_.begin() + static_cast<std::ptrdiff_t>(chosen),
                      ranked_.begin() + static_cast<std::ptrdiff_t>(ranks));
    codes_.fill(kComputedCode);
    for (std::size_t k = 0; k < chosen; ++k) {
      const std::uint32_t value = ranked_[k].second;
      std::size_t slot = Hash(value);
      while (keys_[slot] != value) slot = (slot + 1) & (kSlots - 1);
      codes_[slot] = static_cast<std::uint8_t>(k + 1);
      values[k + 1] = value;
    }
  }

  std::uint8_t CodeOf(std::uint32_t value) const {
    for (std::size_t slot = Hash(value); counts_[slot] != 0; slot = (slot + 1) & (kSlots - 1))
      if (keys_[slot] == value) return codes_[slot];
    return kComputedCode;
  }

 private:
  static std::size_t Hash(std::uint32_t value) { return (value * 2654435761u >> 22) & (kSlots - 1); }
  std::array<std::uint32_t, kSlots> keys_{};
  std::array<std::uint32_t, kSlots> counts_{};
  std::array<std::uint8_t, kSlots> codes_{};
  std::size_t used_ = 0;
  std::array<std::pair<std::int64_t, std::uint32_t>, kSlots / 2> ranked_{};  // (-count, value)
};

// The scores of rows first..last, row by row from scratch, worked out from the packed
// colours of rows first - 1 .. last + 1 by a vector kernel.
void ScoreBandPacked(const SourceView& src, std::int64_t first, std::int64_t last, RowScores rowScores,
                     std::vector<std::uint32_t>& packed, std::vector<std::uint32_t>& scratch) {
  for (std::int64_t row = first - 1; row <= last + 1; ++row) {
    const std::uint8_t* pixels = src.pixels + row * src.stride;
    std::uint32_t* out = packed.data() + (row - first + 1) * src.width;
    std::int64_t col = 0;
    if constexpr (std::endian::native == std::endian::little) {
      // Four bytes read at once for each pixel but the last, whose fourth may lie past the rows.
      for (; col + 1 < src.width; ++col) {
        std::uint32_t word;
        std::memcpy(&word, pixels + 3 * col, 4);
        out[col] = word & 0xFFFFFFu;
      }
    }
    for (; col < src.width; ++col) out[col] = PackColour(pixels + 3 * col);
  }
  for (std::int64_t row = first; row <= last; ++row) {
    const std::uint32_t* mid = packed.data() + (row - first + 1) * src.width;
    std::uint32_t* out = scratch.data() + (row - first) * src.width;
    rowScores(mid - src.width, mid, mid + src.width, src.width, out);
  }
}

// The first column from col up to end whose score is other than 0; end when there is none.
// Runs of 0 are passed over four scores at a time.
inline std::int64_t NextScored(const std::uint32_t* scores, std::int64_t col, std::int64_t end) {
  for (; col + 4 <= end; col += 4) {
    std::uint64_t low, high;
    std::memcpy(&low, scores + col, 8);
    std::memcpy(&high, scores + col + 2, 8);
    if ((low | high) != 0) break;
  }
  while (col < end && scores[col] == 0) ++col;
  return col;
}

// Codes of the interior pixels of one band of rows and the lists of values of its tiles.
void EncodeBand(const SourceView& src, std::int64_t band, ScoreTable& table, std::vector<std::uint32_t>& scratch,
                std::vector<std::uint32_t>& packed, ValueCounts& counts) {
  const std::int64_t first = std::max<std::int64_t>(1, band << kBandShift);
  const std::int64_t last = std::min<std::int64_t>(((band + 1) << kBandShift) - 1, src.height - 2);
  if (first > last) return;
  const RowScores rowScores = ChosenSearchKernels().rowScores;
  if (rowScores)
    ScoreBandPacked(src, first, last, rowScores, packed, scratch);  // every interior score written
  else
    std::fill(scratch.begin(), scratch.begin() + (last - first + 1) * src.width, 0u);
  for (std::int64_t row = first; row <= last && !rowScores; ++row) {
    const std::uint8_t* mid = src.pixels + row * src.stride;
    const std::uint8_t* up = mid - src.stride;
    const std::uint8_t* down = mid + src.stride;
    std::uint32_t* out = scratch.data() + (row - first) * src.width;
    Column left{PackColour(up), PackColour(mid), PackColour(down)};
    Column centre{PackColour(up + 3), PackColour(mid + 3), PackColour(down + 3)};
    for (std::int64_t col = 1; col + 1 < src.width; ++col) {
      const std::int64_t b = 3 * (col + 1);
      const Column right{PackColour(up + b), PackColour(mid + b), PackColour(down + b)};
      const std::uint32_t c = centre.mid;
      if (!(left.up == c && left.mid == c && left.down == c && centre.up == c && centre.down == c && right.up == c &&
            right.mid == c && right.down == c)) {
        out[col] = NeighbourScore(src, row * src.stride + 3 * col);
      }
      left = centre;
      centre = right;
    }
  }
  for (std::int64_t tile = 0; tile < table.tileColumns; ++tile) {
    const std::int64_t left = std::max<std::int64_t>(1, tile << kTileShift);
    const std::int64_t right = std::min<std::int64_t>(((tile + 1) << kTileShift) - 1, src.width - 2);
    counts.Clear();
    for (std::int64_t row = first; row <= last; ++row) {
      const std::uint32_t* scores = scratch.data() + (row - first) * src.width;
      for (std::int64_t col = NextScored(scores, left, right + 1); col <= right;
           col = NextScored(scores, col + 1, right + 1))
        counts.Add(scores[col]);
    }
    counts.ChooseCodes(table.values.data() + ((band * table.tileColumns + tile) << 8));
    // A band's rows start on a block boundary and a tile's columns too, so its blocks are its own.
    // Codes and blocks start at 0, which a score of 0 leaves.
    for (std::int64_t row = first; row <= last; ++row) {
      const std::uint32_t* scores = scratch.data() + (row - first) * src.width;
      std::uint8_t* codes = table.codes.data() + row * src.width;
      std::uint8_t* blocks = table.blocks.data() + (row >> kBlockShift) * table.blockColumns;
      for (std::int64_t col = NextScored(scores, left, right + 1); col <= right;
           col = NextScored(scores, col + 1, right + 1)) {
        const std::uint8_t code = counts.CodeOf(scores[col]);
        codes[col] = code;
        blocks[col >> kBlockShift] |= code;
      }
    }
  }
}

}  // namespace

void BuildScoreTable(const WorkingBitmap& source, int threads, ScoreTable& table) {
  table = ScoreTable{};
  if (!HasImage24(source)) return;
  const SourceView src = ViewOf(source);
  ScoreTable built;
  built.width = src.width;
  built.height = src.height;
  built.codes.assign(static_cast<std::size_t>(src.width) * static_cast<std::size_t>(src.height), 0);
  const std::int64_t bands = ((std::int64_t{src.height} - 1) >> kBandShift) + 1;
  built.tileColumns = ((src.width - 1) >> kTileShift) + 1;
  built.values.assign((static_cast<std::size_t>(bands) * static_cast<std::size_t>(built.tileColumns)) << 8, 0);
  for (std::size_t tile = 0; tile < built.values.size(); tile += 256) built.values[tile + kComputedCode] = kComputedValue;
  built.blockColumns = ((src.width - 1) >> kBlockShift) + 1;
  built.blocks.assign(static_cast<std::size_t>(built.blockColumns) * static_cast<std::size_t>(((src.height - 1) >> kBlockShift) + 1), 0);
  if (src.width >= 3 && src.height >= 3) {
    if (threads <= 0) threads = HardwareThreads();
    // Every worker's buffers are made here, so that running out of memory is met on this thread.
    const int workers = std::min<int>(threads, static_cast<int>(bands));
    std::vector<std::vector<std::uint32_t>> scratch(static_cast<std::size_t>(workers));
    for (auto& rows : scratch) rows.resize(static_cast<std::size_t>(src.width) << kBandShift);
    std::vector<std::vector<std::uint32_t>> packed(static_cast<std::size_t>(workers));
    for (auto& rows : packed) rows.resize(static_cast<std::size_t>(src.width) * ((std::size_t{1} << kBandShift) + 2));
    std::vector<std::unique_ptr<ValueCounts>> counts(static_cast<std::size_t>(workers));
    for (auto& c : counts) c = std::make_unique<ValueCounts>();
    std::atomic<int> next{0};
    ParallelFor(workers, workers, [&](int worker) {
      const std::size_t w = static_cast<std::size_t>(worker);
      for (int band = next.fetch_add(1); band < bands; band = next.fetch_add(1))
        EncodeBand(src, band, built, scratch[w], packed[w], *counts[w]);
    });
  }
  // Marked as built from source only once whole, so a table left by a failure is never used.
  built.pixels = src.pixels;
  table = std::move(built);
}

bool ScoreTableFits(const ScoreTable& table, const WorkingBitmap& source) {
  return table.pixels != nullptr && table.pixels == source.pixels.data() &&
         table.width == HeaderWidth(source.header.get()) && table.height == HeaderHeight(source.header.get());
}

}  // namespace quillet
