// Buffers of many megabytes (an enlargement, a frame, the score table's codes) are filled page
// by page, and every first touch of a page costs a fault, which a virtual machine makes dear.
// Where the system offers large pages (2 MiB), such a buffer is placed on their boundaries and
// asked to be backed by them: hundreds of times fewer faults, the same bytes.
#pragma once

#include <cstddef>
#include <limits>
#include <new>
#include <vector>

namespace pixeltools {

inline constexpr std::size_t kLargePageBytes = std::size_t{2} << 20;

// Asks the system to back the pages of [p, p + bytes) with large pages where it can; p lies on
// a large page's boundary. Advice only: nothing changes where the system has none to give.
void AdviseLargePages(void* p, std::size_t bytes);

// Allocates through the global allocation functions; blocks of a large page or more start on a
// large page's boundary and get the advice.
template <typename T>
struct LargePageAllocator {
  using value_type = T;

  LargePageAllocator() = default;
  template <typename U>
  LargePageAllocator(const LargePageAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kLargePageBytes) return static_cast<T*>(::operator new(bytes));
    void* p = ::operator new(bytes, std::align_val_t{kLargePageBytes});
    AdviseLargePages(p, bytes);
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (n * sizeof(T) < kLargePageBytes) ::operator delete(p);
    else ::operator delete(p, std::align_val_t{kLargePageBytes});
  }

  template <typename U>
  bool operator==(const LargePageAllocator<U>&) const noexcept { return true; }
};

template <typename T>
using LargeVector = std::vector<T, LargePageAllocator<T>>;

}  // namespace pixeltools
