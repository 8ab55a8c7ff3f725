// Large blocks on Windows: the heap's own blocks (large pages need a privilege that users do
// not normally hold).
#include <cstdlib>

#include "large_block.h"

namespace mostel {

void* AllocateLargeBlock(std::size_t bytes) { return bytes != 0 ? std::malloc(bytes) : nullptr; }

void FreeLargeBlock(void* block) { std::free(block); }

}  // namespace mostel
