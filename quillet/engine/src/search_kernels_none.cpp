// Processors other than x86: the plain kernels only.
#include "search_kernels.h"

namespace quillet {

const SearchKernels* Sse2SearchKernels() { return nullptr; }
const SearchKernels* Avx2SearchKernels() { return nullptr; }

}  // namespace quillet
