// Large blocks on POSIX systems: aligned to a 2 MiB boundary and advised as huge-page memory,
// which the kernel may or may not honour; the block works the same either way.
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

#include "large_block.h"

namespace mostel {
namespace {

constexpr std::size_t kHugePage = std::size_t{1} << 21;
constexpr std::size_t kPage = 4096;

}  // namespace

void* AllocateLargeBlock(std::size_t bytes) {
  if (bytes == 0) return nullptr;
  void* block = nullptr;
  if (bytes < kHugePage) return std::malloc(bytes);
  if (posix_memalign(&block, kHugePage, bytes) != 0) return nullptr;
  // Only whole pages inside the block are advised; the advice is no more than a hint.
  (void)madvise(block, bytes & ~(kPage - 1), MADV_HUGEPAGE);
  return block;
}

void FreeLargeBlock(void* block) { std::free(block); }

}  // namespace mostel
