// The vector kernels against the plain ones: the positions bit for bit, and the scores sum for
// sum on chunks of pixels whose candidates spread over few or many columns, across tiles,
// outside the scored area, and over scores the table leaves to be worked out.
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

std::vector<const SearchKernels*> VectorPaths() {
  std::vector<const SearchKernels*> paths = {Sse2SearchKernels(), Avx2SearchKernels()};
  paths.erase(std::remove(paths.begin(), paths.end(), nullptr), paths.end());
  return paths;
}

// Positions walked from random starts by steps of either sign, across both limits, on every
// grid size: rows, columns and where each walk stops.
TEST(SearchKernels, VectorPathsStepThePlainPositions) {
  std::mt19937 random(5);
  std::uniform_real_distribution<double> start(-40.0, 140.0), step(-3.0, 3.0);
  for (int m : {6, 8, 10, 12, 16, 24, 32}) {
    const int stride = ColumnStride(m);
    std::vector<double> uAt(static_cast<std::size_t>(m)), vAt(uAt.size()), uStep(uAt.size()), vStep(uAt.size());
    for (std::size_t k = 0; k < uAt.size(); ++k) {
      uAt[k] = start(random);
      vAt[k] = start(random);
      uStep[k] = step(random);
      vStep[k] = step(random);
    }
    const auto walk = [&](const SearchKernels& path, std::vector<double>& u, std::vector<double>& v,
                          std::vector<std::int32_t>& rows, std::vector<std::int32_t>& cols) {
      u = uAt;
      v = vAt;
      rows.assign(static_cast<std::size_t>(kChunkPixels * m), 7);
      cols.assign(static_cast<std::size_t>(kChunkPixels * stride), 0);
      path.positions({u.data(), v.data(), uStep.data(), vStep.data(), m, stride, kChunkPixels, 90.0, 70.0,
                      rows.data(), cols.data()});
    };
    std::vector<double> plainU, plainV, u, v;
    std::vector<std::int32_t> plainRows, plainCols, rows, cols;
    walk(PlainSearchKernels(), plainU, plainV, plainRows, plainCols);
    for (const SearchKernels* path : VectorPaths()) {
      walk(*path, u, v, rows, cols);
      EXPECT_EQ(rows, plainRows) << "M " << m;
      EXPECT_EQ(cols, plainCols) << "M " << m;
      EXPECT_EQ(u, plainU) << "M " << m;
      EXPECT_EQ(v, plainV) << "M " << m;
    }
  }
}

TEST(SearchKernels, VectorPathsAddThePlainSums) {
  const std::vector<const SearchKernels*> paths = VectorPaths();
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
