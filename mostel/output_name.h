// The name of a file written beside its target before it is renamed into place.
#pragma once

#include <atomic>
#include <string>

namespace mostel {

// Eight characters of [a-z0-9] that no other call or process picks at the same moment: seed
// (the platform's clock and process number, mixed) mixed with a count of the calls.
inline std::string UniqueSuffix(unsigned long long seed) {
  static std::atomic<unsigned> counter{0};
  unsigned long long mix = seed ^ counter.fetch_add(1) * 0xBF58476D1CE4E5B9ull;
  static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (int k = 0; k < 8; ++k) {
    suffix.push_back(kDigits[mix % 36]);
    mix /= 36;
  }
  return suffix;
}

}  // namespace mostel
