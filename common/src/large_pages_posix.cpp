#include <sys/mman.h>

#include "pixeltools/large_pages.h"

namespace pixeltools {

bool TakesLargePageAdvice() { return true; }

void AdviseLargePages(void* p, std::size_t bytes) {
  // Whole small pages only; a system without transparent large pages answers with an error,
  // and the buffer keeps small ones.
  constexpr std::size_t kSmallPage = 4096;
  if (bytes >= kSmallPage) madvise(p, bytes & ~(kSmallPage - 1), MADV_HUGEPAGE);
}

}  // namespace pixeltools
