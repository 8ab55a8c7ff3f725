// The search's inner loops with SSE2, which every x86 build has: two positions at once, and
// the sums of a chunk kept as 32-bit lanes, four candidates at once.
#include <emmintrin.h>

#include "search_kernels.h"

namespace quillet {
namespace {

// For each of the m positions from at: the whole part where inside [1, limit), else outside;
// then the step added.
inline void PositionsOf(double* at, const double* step, int m, double limit, double outside, std::int32_t* out) {
  const __m128d one = _mm_set1_pd(1.0), upper = _mm_set1_pd(limit), other = _mm_set1_pd(outside);
  int k = 0;
  for (; k + 2 <= m; k += 2) {
    const __m128d p = _mm_loadu_pd(at + k);
    const __m128d inside = _mm_and_pd(_mm_cmpge_pd(p, one), _mm_cmplt_pd(p, upper));
    const __m128d chosen = _mm_or_pd(_mm_and_pd(inside, p), _mm_andnot_pd(inside, other));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), _mm_cvttpd_epi32(chosen));
    _mm_storeu_pd(at + k, _mm_add_pd(p, _mm_loadu_pd(step + k)));
  }
  for (; k < m; ++k) {
    const double p = at[k];
    out[k] = p >= 1 && p < limit ? static_cast<std::int32_t>(p) : static_cast<std::int32_t>(outside);
    at[k] = p + step[k];
  }
}

void Sse2Positions(const PositionChunk& c) {
  for (std::int64_t x = 0; x < c.n; ++x) {
    PositionsOf(c.uAt, c.uStep, c.m, c.hLimit, -1.0, c.rows + x * c.m);
    PositionsOf(c.vAt, c.vStep, c.m, c.wLimit, 0.0, c.cols + x * c.colStride);
  }
}

void Sse2Score(const ScoreChunk& c) {
  alignas(16) std::uint32_t sums[kMaxSearchGrid * kMaxSearchGrid];
  // Of the last row read; the lanes past M stay 0.
  alignas(16) std::uint32_t rowScores[kMaxSearchGrid] = {};
  const std::uint8_t* codes = c.table->codes.data();
  const std::int64_t width = c.table->width;
  const int m = c.m;
  for (int k = 0; k < m * c.colStride; k += 4)
    _mm_store_si128(reinterpret_cast<__m128i*>(sums + k), _mm_setzero_si128());
  for (std::int64_t x = 0; x < c.n; ++x) {
    std::int32_t firstCol = 0, lastCol = 0;
    if (!PixelSpan(c, x, firstCol, lastCol)) continue;
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
      for (int j = 0; j < m; j += 4) {
        __m128i* at = reinterpret_cast<__m128i*>(s + j);
        _mm_store_si128(at, _mm_add_epi32(_mm_load_si128(at), _mm_load_si128(reinterpret_cast<const __m128i*>(rowScores + j))));
      }
    }
  }
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) c.sums[i * m + j] += sums[i * c.colStride + j];
}

// Squared colour distances of four packed colours to four others.
inline __m128i SquaredDistances(__m128i a, __m128i b) {
  const __m128i d = _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
  const __m128i evenBytes = _mm_set1_epi32(0x00FF00FF);
  // Per lane: blue + green in the low half, red in the high half, then their sum (at most 765).
  const __m128i halves = _mm_add_epi32(_mm_and_si128(d, evenBytes), _mm_and_si128(_mm_srli_epi32(d, 8), evenBytes));
  const __m128i sum = _mm_add_epi32(_mm_and_si128(halves, _mm_set1_epi32(0xFFFF)), _mm_srli_epi32(halves, 16));
  return _mm_madd_epi16(sum, sum);
}

inline __m128i Load(const std::uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

void Sse2RowScores(const std::uint32_t* up, const std::uint32_t* mid, const std::uint32_t* down, std::int64_t width,
                   std::uint32_t* out) {
  std::int64_t col = 1;
  for (; col + 5 <= width; col += 4) {
    const __m128i c = Load(mid + col);
    __m128i sum = _mm_add_epi32(SquaredDistances(c, Load(up + col - 1)), SquaredDistances(c, Load(up + col)));
    sum = _mm_add_epi32(sum, SquaredDistances(c, Load(up + col + 1)));
    sum = _mm_add_epi32(sum, SquaredDistances(c, Load(mid + col - 1)));
    sum = _mm_add_epi32(sum, SquaredDistances(c, Load(mid + col + 1)));
    sum = _mm_add_epi32(sum, SquaredDistances(c, Load(down + col - 1)));
    sum = _mm_add_epi32(sum, SquaredDistances(c, Load(down + col)));
    sum = _mm_add_epi32(sum, SquaredDistances(c, Load(down + col + 1)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + col), sum);
  }
  for (; col + 1 < width; ++col) out[col] = PackedNeighbourScore(mid[col], up, mid, down, col);
}

constexpr SearchKernels kSse2{Sse2Positions, Sse2Score, Sse2RowScores};

}  // namespace

const SearchKernels* Sse2SearchKernels() { return &kSse2; }

}  // namespace quillet
