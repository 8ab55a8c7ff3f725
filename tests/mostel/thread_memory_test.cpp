// The scaler when memory runs out as it starts its threads: every allocation of the run fails
// in turn. Its own program, as it replaces the global allocation functions.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "edge_scale.h"

namespace {

// The count of allocations left before one fails; negative when none is to fail.
std::atomic<long> allocationsLeft{-1};

}  // namespace

void* operator new(std::size_t size) {
  if (allocationsLeft.load() >= 0 && allocationsLeft.fetch_sub(1) == 0) throw std::bad_alloc();
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace mostel {
namespace {

// A thread that cannot start for want of memory, whichever it is, ends the scaling as memory
// that ran out (false, or bad_alloc from the scaler's own bookkeeping), never an abort; the
// started threads are joined and a run that got all it asked for is the one-thread result.
TEST(EdgeScaleBlocks, EndsAsOutOfMemoryWhenAThreadCannotStart) {
  constexpr uint32_t kSide = 96;
  std::vector<uint32_t> source(kSide * kSide);
  uint32_t state = 3;
  for (uint32_t& pixel : source) {
    state = state * 1103515245u + 12345u;
    pixel = (state >> 16) & 0x40 ? 0xFF000000u : 0xFF20C0F0u;
  }
  auto job = [&](std::vector<uint32_t>& destination) {
    destination.assign(size_t{9} * kSide * kSide, 0);
    return ScalerJob{source.data(), 2 * kSide, kSide, kSide, destination.data(), 6 * kSide, 3 * kSide, 3 * kSide};
  };
  std::vector<uint32_t> expected;
  ScalerCounts expectedCounts{};
  ASSERT_TRUE(EdgeScaleBlocks(job(expected), 1, &expectedCounts));

  int refused = 0;
  bool completed = false;
  for (long fail = 0; fail < 200 && !completed; ++fail) {
    std::vector<uint32_t> destination;
    const ScalerJob scaled = job(destination);
    ScalerCounts counts{};
    bool result = false, thrown = false;
    allocationsLeft.store(fail);
    try {
      result = EdgeScaleBlocks(scaled, 4, &counts);
    } catch (const std::bad_alloc&) {
      thrown = true;
    }
    completed = allocationsLeft.exchange(-1) >= 0;  // no allocation failed
    if (completed) {
      EXPECT_TRUE(result);
      EXPECT_EQ(destination, expected);
      EXPECT_EQ(counts.Filtered(), expectedCounts.Filtered());
    } else if (!thrown) {
      EXPECT_FALSE(result) << "allocation " << fail;
      ++refused;
    }
  }
  EXPECT_TRUE(completed);
  EXPECT_GE(refused, 3);  // each of the three steps started threads
}

}  // namespace
}  // namespace mostel
