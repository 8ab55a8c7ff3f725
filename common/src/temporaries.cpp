#include <atomic>
#include <cstring>

#include "pixeltools/temporaries.h"

namespace pixeltools {
namespace {

// What a terminating signal must remove. A slot is free (0), being filled or emptied (1), or
// holds a path (2); the path is only read in state 2, so a handler never sees half of one.
struct TemporarySlot {
  std::atomic<int> state{0};
  bool directory = false;
  char path[kRegisteredPathChars] = {};
};
static_assert(std::atomic<int>::is_always_lock_free);

TemporarySlot slots[kTemporarySlots];

}  // namespace

std::string UniqueSuffix() {
  static std::atomic<unsigned> counter{0};
  unsigned long long mix = UniqueSeed() ^ counter.fetch_add(1) * 0xBF58476D1CE4E5B9ull;
  static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (int k = 0; k < 8; ++k) {
    suffix.push_back(kDigits[mix % 36]);
    mix /= 36;
  }
  return suffix;
}

int RegisterTemporary(const char* path, bool directory) {
  if (!path || std::strlen(path) >= kRegisteredPathChars) return -1;
  for (int k = 0; k < kTemporarySlots; ++k) {
    int expected = 0;
    if (!slots[k].state.compare_exchange_strong(expected, 1)) continue;
    slots[k].directory = directory;
    std::memcpy(slots[k].path, path, std::strlen(path) + 1);
    slots[k].state.store(2);
    return k;
  }
  return -1;
}

void ReleaseTemporary(int slot) {
  if (slot >= 0 && slot < kTemporarySlots) slots[slot].state.store(0);
}

const char* RegistrationRefusal(const char* path) {
  if (!path || std::strlen(path) >= kRegisteredPathChars) return "the path of a temporary file is too long";
  return "too many temporary files at once";
}

void RemoveTemporariesNow() {
  for (int pass = 0; pass < 2; ++pass) {
    for (TemporarySlot& slot : slots) {
      if (slot.state.load() != 2 || slot.directory != (pass == 1)) continue;
      if (slot.directory) {
        RemoveDirectoryNow(slot.path);
      } else {
        RemoveFileNow(slot.path);
      }
    }
  }
}

}  // namespace pixeltools
