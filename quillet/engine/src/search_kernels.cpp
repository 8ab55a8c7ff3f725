#include "search_kernels.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace quillet {
namespace {

void PlainPositions(const PositionChunk& c) {
  // Pixel by pixel, all M positions of each axis at once: each position's additions still
  // come in its own order, and the M chains of additions overlap instead of waiting on each other.
  for (std::int64_t x = 0; x < c.n; ++x) {
    std::int32_t* pixelRows = c.rows + x * c.m;
    std::int32_t* pixelCols = c.cols + x * c.colStride;
    for (int k = 0; k < c.m; ++k) {
      // Inside these bounds the position is also usable and its neighbours lie in the picture.
      const double u = c.uAt[k];
      pixelRows[k] = u >= 1 && u < c.hLimit ? static_cast<std::int32_t>(u) : -1;
      c.uAt[k] = u + c.uStep[k];
    }
    for (int k = 0; k < c.m; ++k) {
      const double v = c.vAt[k];
      pixelCols[k] = v >= 1 && v < c.wLimit ? static_cast<std::int32_t>(v) : 0;
      c.vAt[k] = v + c.vStep[k];
    }
  }
}

void PlainScore(const ScoreChunk& c) {
  const std::uint8_t* codes = c.table->codes.data();
  const std::int64_t width = c.table->width;
  const int m = c.m;
  std::uint32_t values[kMaxSearchGrid];
  for (std::int64_t x = 0; x < c.n; ++x) {
    std::int32_t firstCol = 0, lastCol = 0;
    if (!PixelSpan(c, x, firstCol, lastCol)) continue;
    const std::int32_t* pixelRows = c.rows + x * m;
    const std::int32_t* pixelCols = c.cols + x * c.colStride;
    for (int i = 0; i < m; ++i) {
      const std::int64_t row = pixelRows[i];
      if (row < 0) continue;
      const std::uint8_t* line = codes + row * width;
      if (!AnyNonZero(line + firstCol, lastCol - firstCol + 1)) continue;
      ++*c.rowsAdded;
      if (ReadRowValues(c, line, row, pixelCols, m, OneTileValues(c, row, firstCol, lastCol), values) & kComputedBit)
        WorkOutScores(c, row, pixelCols, m, values);
      std::uint64_t* s = c.sums + i * m;
      for (int j = 0; j < m; ++j) s[j] += values[j];
    }
  }
}

constexpr SearchKernels kPlain{PlainPositions, PlainScore, nullptr};

// The path QUILLET_KERNELS names when this processor runs it, else the widest it runs.
KernelPath StartingPath() {
  const char* named = std::getenv("QUILLET_KERNELS");
  if (named && std::strcmp(named, "plain") == 0) return KernelPath::kPlain;
  if (named && std::strcmp(named, "sse2") == 0 && Sse2SearchKernels()) return KernelPath::kSse2;
  if (Avx2SearchKernels()) return KernelPath::kAvx2;
  return Sse2SearchKernels() ? KernelPath::kSse2 : KernelPath::kPlain;
}

std::atomic<int>& PathChosen() {
  static std::atomic<int> chosen{static_cast<int>(StartingPath())};
  return chosen;
}

const SearchKernels* KernelsOf(KernelPath path) {
  switch (path) {
    case KernelPath::kPlain:
      return &kPlain;
    case KernelPath::kSse2:
      return Sse2SearchKernels();
    case KernelPath::kAvx2:
      return Avx2SearchKernels();
  }
  return nullptr;
}

}  // namespace

const SearchKernels& PlainSearchKernels() { return kPlain; }

const SearchKernels& ChosenSearchKernels() {
  const SearchKernels* kernels = KernelsOf(static_cast<KernelPath>(PathChosen().load(std::memory_order_relaxed)));
  return kernels ? *kernels : kPlain;
}

KernelPath KernelsInUse() { return static_cast<KernelPath>(PathChosen().load(std::memory_order_relaxed)); }

bool UseKernels(KernelPath path) {
  if (!KernelsOf(path)) return false;
  PathChosen().store(static_cast<int>(path), std::memory_order_relaxed);
  return true;
}

}  // namespace quillet
