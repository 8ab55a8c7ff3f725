// The vector scoring kernels against the plain one, sum for sum, on chunks of pixels whose
// candidates spread over few or many columns, across tiles, outside the scored area, and over
// scores the table leaves to be worked out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "quillet/score_table.h"
#include "score_table_internal.h"
#include "search_kernels.h"
#include "test_images.h"

namespace quillet {
namespace {

// Each pixel's M rows (or columns) from a random start, `spread` apart, as the positions
// kernels leave them: the whole part inside [1, limit), else `outside`.
void FillPositions(std::mt19937& random, int m, int stride, double spread, double limit, std::int32_t outside,
                   std::vector<std::int32_t>& out) {
  out.assign(static_cast<std::size_t>(kChunkPixels * stride), 0);
  std::uniform_real_distribution<double> start(-2.0 - spread * m, limit + 2.0);
  for (std::int64_t x = 0; x < kChunkPixels; ++x) {
    const double at = start(random);
    for (int k = 0; k < m; ++k) {
      const double p = at + k * spread;
      out[static_cast<std::size_t>(x * stride + k)] = p >= 1 && p < limit ? static_cast<std::int32_t>(p) : outside;
    }
  }
}

TEST(SearchKernels, VectorPathsAddThePlainSums) {
  std::vector<const SearchKernels*> paths = {Sse2SearchKernels(), Avx2SearchKernels()};
  paths.erase(std::remove(paths.begin(), paths.end(), nullptr), paths.end());
  if (paths.empty()) GTEST_SKIP() << "no vector path on this processor";
  WorkingBitmap dense, noisy, narrow;
  testing::SetPicture(dense, testing::DenseSheet(40, 40, 96, 5));
  testing::EnlargeInPlace(dense, 3);  // 320 columns: two tiles
  testing::SetPicture(noisy, testing::SpriteLike(300, 40, 250, 3));  // too many scores to code
  testing::SetPicture(narrow, testing::SpriteLike(12, 9, 60, 4));
  std::mt19937 random(17);
  for (const WorkingBitmap* picture : {&dense, &noisy, &narrow}) {
    ScoreTable table;
    BuildScoreTable(*picture, 2, table);
    if (picture == &noisy) {  // scores to work out when read
      ASSERT_GT(std::count(table.codes.begin(), table.codes.end(), kComputedCode), 0);
    }
    const SourceView src = ViewOf(*picture);
    for (int m : {6, 10, 16, 24, 32}) {
      for (double spread : {0.3, 0.8, 1.0, 1.7, 2.6}) {
        const int stride = ColumnStride(m);
        std::vector<std::int32_t> rows, cols;
        FillPositions(random, m, m, spread, src.height - 1.0, -1, rows);
        FillPositions(random, m, stride, spread, src.width - 1.0, 0, cols);
        std::vector<std::uint64_t> plainSums(static_cast<std::size_t>(m * m), 0);
        std::uint64_t plainRows = 0;
        PlainSearchKernels().score({&table, &src, rows.data(), cols.data(), m, stride, kChunkPixels, plainSums.data(),
                                    &plainRows});
        ASSERT_GT(plainRows, 0u);
        for (const SearchKernels* path : paths) {
          std::vector<std::uint64_t> sums(static_cast<std::size_t>(m * m), 0);
          std::uint64_t rowsAdded = 0;
          path->score({&table, &src, rows.data(), cols.data(), m, stride, kChunkPixels, sums.data(), &rowsAdded});
          EXPECT_EQ(sums, plainSums) << "M " << m << " spread " << spread << " width " << src.width;
          EXPECT_EQ(rowsAdded, plainRows) << "M " << m << " spread " << spread << " width " << src.width;
        }
      }
    }
  }
}

}  // namespace
}  // namespace quillet
