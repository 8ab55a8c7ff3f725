#include "pixeltools/large_pages.h"

namespace pixeltools {

// Windows gives large pages only to accounts that hold the right to lock pages in memory, and
// only through allocations made for them: buffers keep the usual pages.
bool TakesLargePageAdvice() { return false; }

void AdviseLargePages(void*, std::size_t) {}

}  // namespace pixeltools
