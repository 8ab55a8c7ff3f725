// The search's inner loops with AVX2, used only on processors that have it: four positions at
// once, and eight candidates' scores added at once into 32-bit sums. Each function
// carries its own target, so nothing here runs without the check in Avx2SearchKernels.
#include <immintrin.h>

#include "search_kernels.h"

namespace quillet {
namespace {

#define QUILLET_AVX2 __attribute__((target("avx2")))

// For each of the m positions from at: the whole part where inside [1, limit), else outside;
// then the step added.
QUILLET_AVX2 inline void PositionsOf(double* at, const double* step, int m, double limit, double outside,
                                     std::int32_t* out) {
  const __m256d one = _mm256_set1_pd(1.0), upper = _mm256_set1_pd(limit), other = _mm256_set1_pd(outside);
  int k = 0;
  for (; k + 4 <= m; k += 4) {
    const __m256d p = _mm256_loadu_pd(at + k);
    const __m256d inside = _mm256_and_pd(_mm256_cmp_pd(p, one, _CMP_GE_OQ), _mm256_cmp_pd(p, upper, _CMP_LT_OQ));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm256_cvttpd_epi32(_mm256_blendv_pd(other, p, inside)));
    _mm256_storeu_pd(at + k, _mm256_add_pd(p, _mm256_loadu_pd(step + k)));
  }
  if (k + 2 <= m) {  // two more at once, as the grids of 6 and 10 leave
    const __m128d p = _mm_loadu_pd(at + k);
    const __m128d inside = _mm_and_pd(_mm_cmpge_pd(p, _mm256_castpd256_pd128(one)),
                                      _mm_cmplt_pd(p, _mm256_castpd256_pd128(upper)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k),
                     _mm_cvttpd_epi32(_mm_blendv_pd(_mm256_castpd256_pd128(other), p, inside)));
    _mm_storeu_pd(at + k, _mm_add_pd(p, _mm_loadu_pd(step + k)));
    k += 2;
  }
  for (; k < m; ++k) {
    const double p = at[k];
    out[k] = p >= 1 && p < limit ? static_cast<std::int32_t>(p) : static_cast<std::int32_t>(outside);
    at[k] = p + step[k];
  }
}

// The positions of one axis for a grid of m known here, held in registers from pixel to pixel:
// the same additions as PositionsOf.
template <int m>
struct FixedAxis {
  static constexpr int kQuads = m / 4;
  static constexpr bool kPair = m % 4 != 0;  // the grids of 6 and 10 leave two
  static_assert(m % 2 == 0, "the grids have even sizes");
  __m256d at[kQuads], step[kQuads];
  __m128d pairAt, pairStep;
  __m256d upper, other;

  QUILLET_AVX2 FixedAxis(const double* from, const double* steps, double limit, double outside) {
    for (int q = 0; q < kQuads; ++q) {
      at[q] = _mm256_loadu_pd(from + 4 * q);
      step[q] = _mm256_loadu_pd(steps + 4 * q);
    }
    pairAt = kPair ? _mm_loadu_pd(from + 4 * kQuads) : _mm_setzero_pd();
    pairStep = kPair ? _mm_loadu_pd(steps + 4 * kQuads) : _mm_setzero_pd();
    upper = _mm256_set1_pd(limit);
    other = _mm256_set1_pd(outside);
  }
  QUILLET_AVX2 void Next(std::int32_t* out) {
    const __m256d one = _mm256_set1_pd(1.0);
    for (int q = 0; q < kQuads; ++q) {
      const __m256d p = at[q];
      const __m256d inside = _mm256_and_pd(_mm256_cmp_pd(p, one, _CMP_GE_OQ), _mm256_cmp_pd(p, upper, _CMP_LT_OQ));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * q), _mm256_cvttpd_epi32(_mm256_blendv_pd(other, p, inside)));
      at[q] = _mm256_add_pd(p, step[q]);
    }
    if (kPair) {
      const __m128d p = pairAt;
      const __m128d inside = _mm_and_pd(_mm_cmpge_pd(p, _mm256_castpd256_pd128(one)),
                                        _mm_cmplt_pd(p, _mm256_castpd256_pd128(upper)));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 4 * kQuads),
                       _mm_cvttpd_epi32(_mm_blendv_pd(_mm256_castpd256_pd128(other), p, inside)));
      pairAt = _mm_add_pd(p, pairStep);
    }
  }
  QUILLET_AVX2 void Store(double* to) const {
    for (int q = 0; q < kQuads; ++q) _mm256_storeu_pd(to + 4 * q, at[q]);
    if (kPair) _mm_storeu_pd(to + 4 * kQuads, pairAt);
  }
};

template <int m>
QUILLET_AVX2 void FixedPositions(const PositionChunk& c) {
  FixedAxis<m> u(c.uAt, c.uStep, c.hLimit, -1.0), v(c.vAt, c.vStep, c.wLimit, 0.0);
  for (std::int64_t x = 0; x < c.n; ++x) {
    u.Next(c.rows + x * m);
    v.Next(c.cols + x * c.colStride);
  }
  u.Store(c.uAt);
  v.Store(c.vAt);
}

QUILLET_AVX2 void Avx2Positions(const PositionChunk& c) {
  switch (c.m) {
    case 6:
      return FixedPositions<6>(c);
    case 8:
      return FixedPositions<8>(c);
    case 10:
      return FixedPositions<10>(c);
    case 12:
      return FixedPositions<12>(c);
    case 16:
      return FixedPositions<16>(c);
    default:
      break;
  }
  for (std::int64_t x = 0; x < c.n; ++x) {
    PositionsOf(c.uAt, c.uStep, c.m, c.hLimit, -1.0, c.rows + x * c.m);
    PositionsOf(c.vAt, c.vStep, c.m, c.wLimit, 0.0, c.cols + x * c.colStride);
  }
}

// The rows of pixel x one at a time, each row's M values looked up one by one: for pixels
// whose columns spread over more than 16 or over two tiles, and for tables under 16 wide.
QUILLET_AVX2 void ScoreRowByRow(const ScoreChunk& c, std::int64_t x, std::int32_t firstCol, std::int32_t lastCol,
                                std::uint32_t* sums) {
  // Of the last row read; the lanes past M stay 0.
  alignas(32) std::uint32_t rowScores[kMaxSearchGrid] = {};
  const std::uint8_t* codes = c.table->codes.data();
  const std::int64_t width = c.table->width;
  const int m = c.m;
  const std::int32_t* pixelRows = c.rows + x * m;
  const std::int32_t* pixelCols = c.cols + x * c.colStride;
  // Rows grow with i, often by 0: a row's scores are read once for all the candidates on it.
  std::int64_t lastRow = -1;
  bool lastScores = false;  // whether the last row read scores anything
  for (int i = 0; i < m; ++i) {
    const std::int64_t row = pixelRows[i];
    if (row < 0) continue;
    if (row != lastRow) {
      lastRow = row;
      const std::uint8_t* line = codes + row * width;
      lastScores = AnyNonZero(line + firstCol, lastCol - firstCol + 1);
      if (!lastScores) continue;
      // The values of the M columns, then the scores worked out where a value says so.
      const std::uint32_t any =
          ReadRowValues(c, line, row, pixelCols, m, OneTileValues(c, row, firstCol, lastCol), rowScores);
      if (any & kComputedBit) WorkOutScores(c, row, pixelCols, m, rowScores);
    } else if (!lastScores) {
      continue;
    }
    ++*c.rowsAdded;
    std::uint32_t* s = sums + i * c.colStride;
    for (int j = 0; j < m; j += 8) {
      __m256i* at = reinterpret_cast<__m256i*>(s + j);
      _mm256_store_si256(at, _mm256_add_epi32(_mm256_load_si256(at),
                                              _mm256_load_si256(reinterpret_cast<const __m256i*>(rowScores + j))));
    }
  }
}

// Bytes 16 - n .. 31 - n: n bytes of ones, then zeros.
alignas(32) constexpr std::uint8_t kFirstBytes[32] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// Replaces every kComputedValue among the values of the span's columns firstCol.. with the
// score worked out from the pixels. Only the span's columns hold codes other than 0 here, and
// they lie inside the scored area.
[[gnu::noinline]] void WorkOutSpan(const ScoreChunk& c, std::int64_t row, std::int32_t firstCol, std::uint32_t* values) {
  for (int k = 0; k < 16; ++k)
    if (values[k] == kComputedValue)
      values[k] = NeighbourScore(*c.src, row * c.src->stride + 3 * (std::int64_t{firstCol} + k));
}

// The values of the eight codes in the bytes of low and high (four each), from a tile's list.
QUILLET_AVX2 inline __m256i ValuesOf(const std::uint32_t* list, std::uint32_t low, std::uint32_t high) {
  const auto at = [&](std::uint32_t codes, int k) { return static_cast<int>(list[(codes >> (8 * k)) & 0xFF]); };
  return _mm256_setr_epi32(at(low, 0), at(low, 1), at(low, 2), at(low, 3), at(high, 0), at(high, 1), at(high, 2),
                           at(high, 3));
}

// Pixel x when its columns firstCol..lastCol span at most 16 (8 unless kWide) and lie in one
// tile: each row's codes of the span are read at once, their values looked up, and the M
// candidates' scores shuffled out of them. groups x 8 = the column stride.
template <int groups, bool kWide>
QUILLET_AVX2 void ScoreSpan(const ScoreChunk& c, std::int64_t x, std::int32_t firstCol, std::int32_t lastCol,
                            std::uint32_t* sums) {
  const int m = c.m;
  const std::int32_t* pixelRows = c.rows + x * m;
  const std::int32_t* pixelCols = c.cols + x * c.colStride;
  const std::uint8_t* codes = c.table->codes.data() + firstCol;
  const std::int64_t width = c.table->width;
  const __m128i keep = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kFirstBytes + 16 - (lastCol - firstCol + 1)));
  // Per column j: its place in the span, whether that is in the second eight, and whether it
  // lies outside the scored area (column 0), which scores 0.
  __m256i lane[groups], second[groups], outside[groups];
  const __m256i first = _mm256_set1_epi32(firstCol);
  for (int g = 0; g < groups; ++g) {
    const __m256i cols = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixelCols + 8 * g));
    lane[g] = _mm256_sub_epi32(cols, first);
    second[g] = _mm256_slli_epi32(lane[g], 28);
    outside[g] = _mm256_cmpeq_epi32(cols, _mm256_setzero_si256());
  }
  __m256i scores[groups];
  alignas(32) std::uint32_t values[16];  // for working out scores
  std::uint64_t rowsAdded = 0;
  std::int64_t lastRow = -1;
  bool lastScores = false;  // whether the last row read scores anything
  for (int i = 0; i < m; ++i) {
    const std::int64_t row = pixelRows[i];
    if (row < 0) continue;
    if (row != lastRow) {
      lastRow = row;
      const __m128i spanCodes =
          _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(codes + row * width)), keep);
      lastScores = !_mm_testz_si128(spanCodes, spanCodes);
      if (!lastScores) continue;
      // The values of the span's codes, looked up one by one: a gather of eight is slower.
      const std::uint32_t* list = TileValues(c.table->values.data(), c.table->tileColumns, row, firstCol);
      // Taken out in 32-bit words, as 32-bit builds can.
      __m256i low = ValuesOf(list, static_cast<std::uint32_t>(_mm_cvtsi128_si32(spanCodes)),
                             static_cast<std::uint32_t>(_mm_extract_epi32(spanCodes, 1)));
      __m256i high = kWide ? ValuesOf(list, static_cast<std::uint32_t>(_mm_extract_epi32(spanCodes, 2)),
                                      static_cast<std::uint32_t>(_mm_extract_epi32(spanCodes, 3)))
                           : _mm256_setzero_si256();
      if (_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_or_si256(low, high))) != 0) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(values), low);
        _mm256_store_si256(reinterpret_cast<__m256i*>(values + 8), high);
        WorkOutSpan(c, row, firstCol, values);
        low = _mm256_load_si256(reinterpret_cast<const __m256i*>(values));
        high = _mm256_load_si256(reinterpret_cast<const __m256i*>(values + 8));
      }
      for (int g = 0; g < groups; ++g) {
        __m256i picked = _mm256_permutevar8x32_epi32(low, lane[g]);
        if (kWide)
          picked = _mm256_castps_si256(_mm256_blendv_ps(_mm256_castsi256_ps(picked),
                                                        _mm256_castsi256_ps(_mm256_permutevar8x32_epi32(high, lane[g])),
                                                        _mm256_castsi256_ps(second[g])));
        scores[g] = _mm256_andnot_si256(outside[g], picked);
      }
    } else if (!lastScores) {
      continue;
    }
    ++rowsAdded;
    std::uint32_t* s = sums + i * (8 * groups);
    for (int g = 0; g < groups; ++g) {
      __m256i* at = reinterpret_cast<__m256i*>(s + 8 * g);
      _mm256_store_si256(at, _mm256_add_epi32(_mm256_load_si256(at), scores[g]));
    }
  }
  *c.rowsAdded += rowsAdded;
}

template <int groups>
QUILLET_AVX2 void ScoreChunkOf(const ScoreChunk& c, std::uint32_t* sums) {
  // A span's 16 codes may be read past its end: the rows read lie above the last, so at least
  // a row's width follows the span's first code.
  const bool spansFit = c.table->width >= 16;
  for (std::int64_t x = 0; x < c.n; ++x) {
    std::int32_t firstCol = 0, lastCol = 0;
    if (!PixelSpan(c, x, firstCol, lastCol)) continue;
    const std::int32_t span = lastCol - firstCol + 1;
    if (!spansFit || span > 16 || (firstCol >> kTileShift) != (lastCol >> kTileShift))
      ScoreRowByRow(c, x, firstCol, lastCol, sums);
    else if (span > 8)
      ScoreSpan<groups, true>(c, x, firstCol, lastCol, sums);
    else
      ScoreSpan<groups, false>(c, x, firstCol, lastCol, sums);
  }
}

QUILLET_AVX2 void Avx2Score(const ScoreChunk& c) {
  alignas(32) std::uint32_t sums[kMaxSearchGrid * kMaxSearchGrid];
  const int m = c.m;
  for (int k = 0; k < m * c.colStride; k += 8)
    _mm256_store_si256(reinterpret_cast<__m256i*>(sums + k), _mm256_setzero_si256());
  switch (c.colStride / 8) {
    case 1:
      ScoreChunkOf<1>(c, sums);
      break;
    case 2:
      ScoreChunkOf<2>(c, sums);
      break;
    case 3:
      ScoreChunkOf<3>(c, sums);
      break;
    default:
      ScoreChunkOf<4>(c, sums);
      break;
  }
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) c.sums[i * m + j] += sums[i * c.colStride + j];
}

// Squared colour distances of eight packed colours to eight others.
QUILLET_AVX2 inline __m256i SquaredDistances(__m256i a, __m256i b) {
  const __m256i d = _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
  const __m256i evenBytes = _mm256_set1_epi32(0x00FF00FF);
  // Per lane: blue + green in the low half, red in the high half, then their sum (at most 765).
  const __m256i halves =
      _mm256_add_epi32(_mm256_and_si256(d, evenBytes), _mm256_and_si256(_mm256_srli_epi32(d, 8), evenBytes));
  const __m256i sum =
      _mm256_add_epi32(_mm256_and_si256(halves, _mm256_set1_epi32(0xFFFF)), _mm256_srli_epi32(halves, 16));
  return _mm256_madd_epi16(sum, sum);
}

QUILLET_AVX2 inline __m256i Load(const std::uint32_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

QUILLET_AVX2 void Avx2RowScores(const std::uint32_t* up, const std::uint32_t* mid, const std::uint32_t* down,
                                std::int64_t width, std::uint32_t* out) {
  std::int64_t col = 1;
  for (; col + 9 <= width; col += 8) {
    const __m256i c = Load(mid + col);
    __m256i sum = _mm256_add_epi32(SquaredDistances(c, Load(up + col - 1)), SquaredDistances(c, Load(up + col)));
    sum = _mm256_add_epi32(sum, SquaredDistances(c, Load(up + col + 1)));
    sum = _mm256_add_epi32(sum, SquaredDistances(c, Load(mid + col - 1)));
    sum = _mm256_add_epi32(sum, SquaredDistances(c, Load(mid + col + 1)));
    sum = _mm256_add_epi32(sum, SquaredDistances(c, Load(down + col - 1)));
    sum = _mm256_add_epi32(sum, SquaredDistances(c, Load(down + col)));
    sum = _mm256_add_epi32(sum, SquaredDistances(c, Load(down + col + 1)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + col), sum);
  }
  for (; col + 1 < width; ++col) out[col] = PackedNeighbourScore(mid[col], up, mid, down, col);
}

#undef QUILLET_AVX2

constexpr SearchKernels kAvx2{Avx2Positions, Avx2Score, Avx2RowScores};

}  // namespace

const SearchKernels* Avx2SearchKernels() {
  static const bool runs = __builtin_cpu_supports("avx2");
  return runs ? &kAvx2 : nullptr;
}

}  // namespace quillet
