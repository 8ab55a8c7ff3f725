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

// Whether the system takes advice to back memory with large pages; where it does not, blocks
// keep the usual alignment and no address space goes to aligning them.
bool TakesLargePageAdvice();

// Asks the system to back the pages of [p, p + bytes) with large pages where it can; p lies on
// a large page's boundary. Advice only: nothing changes where the system has none to give.
void AdviseLargePages(void* p, std::size_t bytes);

// Allocates through the global allocation functions; where the system takes the advice, blocks
// of a large page or more start on a large page's boundary and get it.
template <typename T>
struct LargePageAllocator {
  using value_type = T;

  LargePageAllocator() = default;
  template <typename U>
  LargePageAllocator(const LargePageAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
    const std::size_t bytes = n * sizeof(T);
    if (!Aligns(bytes)) return static_cast<T*>(::operator new(bytes));
    void* p = ::operator new(bytes, std::align_val_t{kLargePageBytes});
    AdviseLargePages(p, bytes);
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (!Aligns(n * sizeof(T))) ::operator delete(p);
    else ::operator delete(p, std::align_val_t{kLargePageBytes});
  }

  template <typename U>
  bool operator==(const LargePageAllocator<U>&) const noexcept { return true; }

 private:
  static bool Aligns(std::size_t bytes) {
    static const bool advised = TakesLargePageAdvice();
    return bytes >= kLargePageBytes && advised;
  }
};

template <typename T>
using LargeVector = std::vector<T, LargePageAllocator<T>>;

}  // namespace pixeltools
