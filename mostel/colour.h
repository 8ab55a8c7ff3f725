// Colour metric and pixel primitives of the 3x scaler.
//
// Pixels are 32-bit words as the PNG decoder stores 8-bit RGBA: R in bits 0-7, G in 8-15,
// B in 16-23, A in 24-31. None of the primitives looks at alpha.
#pragma once

#include <cstdint>

namespace mostel {

struct ChannelMaskTable {
  uint32_t RedMask;
  uint32_t GreenMask;
  uint32_t BlueMask;
};

// Written by EdgeScale3x at its entry; read by every primitive below.
extern ChannelMaskTable ChannelMasks;

void WriteChannelMasks();

namespace detail {

// The colour rows use double constants, and the products and partial sums are rounded to a
// 64-bit significand in a fixed order. Every constant is a multiple of 2^-56 (0.081 and 0.114
// have the finest spacing) and is multiplied by a channel value below 256, so each product
// needs at most 61 significant bits, and each partial sum stays below 256 in magnitude, which
// needs at most 8 + 56 = 64 bits. Extended arithmetic is therefore exact here, and integers
// counted in units of 2^-56 reproduce it bit for bit on any processor.
constexpr double kUnit = 72057594037927936.0;  // 2^56

constexpr uint64_t Scaled(double c) { return static_cast<uint64_t>(c * kUnit); }

inline constexpr uint64_t kYR = Scaled(0.299), kYG = Scaled(0.587), kYB = Scaled(0.114);
inline constexpr uint64_t kUR = Scaled(0.169), kUG = Scaled(0.331), kUB = Scaled(0.5);
inline constexpr uint64_t kVR = Scaled(0.5), kVG = Scaled(0.419), kVB = Scaled(0.081);

static_assert(static_cast<double>(kYR) == 0.299 * kUnit && static_cast<double>(kYG) == 0.587 * kUnit &&
                  static_cast<double>(kYB) == 0.114 * kUnit && static_cast<double>(kUR) == 0.169 * kUnit &&
                  static_cast<double>(kUG) == 0.331 * kUnit && static_cast<double>(kVG) == 0.419 * kUnit &&
                  static_cast<double>(kVB) == 0.081 * kUnit,
              "every colour constant must be a whole number of 2^-56 units");

inline uint32_t AbsDiff(uint32_t a, uint32_t b) { return a > b ? a - b : b - a; }

// Truncation toward zero of a signed sum in 2^-56 units, then its magnitude.
inline uint32_t TruncatedMagnitude(int64_t s) {
  const uint64_t m = s < 0 ? static_cast<uint64_t>(-s) : static_cast<uint64_t>(s);
  return static_cast<uint32_t>(m >> 56);
}

}  // namespace detail

// 4|y| + |u| + 2|v| of the per-channel absolute differences; 0 to 1397.
inline int ColourDistance(uint32_t a, uint32_t b) {
  using namespace detail;
  const ChannelMaskTable m = ChannelMasks;
  const uint64_t dR = AbsDiff(a & m.RedMask, b & m.RedMask);
  const uint64_t dG = AbsDiff((a & m.GreenMask) >> 8, (b & m.GreenMask) >> 8);
  const uint64_t dB = AbsDiff((a & m.BlueMask) >> 16, (b & m.BlueMask) >> 16);
  // y = (0.299 dR + 0.587 dG) + 0.114 dB, never negative.
  const uint32_t y = static_cast<uint32_t>((kYR * dR + kYG * dG + kYB * dB) >> 56);
  // u = ((-0.169 dR) - 0.331 dG) + 0.5 dB;  v = (0.5 dR - 0.419 dG) - 0.081 dB.
  const int64_t u = static_cast<int64_t>(kUB * dB) - static_cast<int64_t>(kUR * dR + kUG * dG);
  const int64_t v = static_cast<int64_t>(kVR * dR) - static_cast<int64_t>(kVG * dG + kVB * dB);
  return static_cast<int>(4 * y + TruncatedMagnitude(u) + 2 * TruncatedMagnitude(v));
}

// (0.299 R + 0.587 G) + 0.114 B truncated: 0 to 254 (white gives 254, grey k gives k - 1).
inline int Luma(uint32_t p) {
  using namespace detail;
  const ChannelMaskTable m = ChannelMasks;
  const uint64_t r = p & m.RedMask, g = (p & m.GreenMask) >> 8, b = (p & m.BlueMask) >> 16;
  return static_cast<int>((kYR * r + kYG * g + kYB * b) >> 56);
}

template <int Limit>
inline bool LumaClose(uint32_t a, uint32_t b) {
  const int d = Luma(a) - Luma(b);
  return d <= Limit && -d <= Limit;
}

}  // namespace mostel
