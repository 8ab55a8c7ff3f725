// Memory for the scaler's pictures and planes: large blocks, each written once, soon after it
// is allocated, by the threads that scale. Where the system allows it the block is asked for
// in large pages, so that first touches fault a few times instead of once every 4 KiB.
#pragma once

#include <cstddef>
#include <memory>

namespace mostel {

// A block of at least `bytes` bytes, not cleared; nullptr when memory ran out (or bytes is 0).
void* AllocateLargeBlock(std::size_t bytes);

// Releases a block from AllocateLargeBlock; nullptr is allowed. std::free releases one too:
// the library hands such blocks to its callers, whose free calls release them that way.
void FreeLargeBlock(void* block);

struct LargeBlockFree {
  void operator()(void* block) const { FreeLargeBlock(block); }
};
template <class T>
using LargeBlock = std::unique_ptr<T[], LargeBlockFree>;

}  // namespace mostel
