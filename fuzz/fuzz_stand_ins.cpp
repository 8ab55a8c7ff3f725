// The stand-in colours of any RGBA picture (first byte: the width less one; then 4 bytes a
// pixel, up to 1024 of them): every value comes back exactly through its stand-in, and the
// stand-ins are those of the plain walk over growing cube surfaces around each wanted colour,
// in (red, green, blue) order, the first free colour taken.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "quillet/sprite.h"

namespace {

using quillet::Rgba;

std::uint32_t Packed(Rgba v) { return ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF); }

std::uint8_t Blend(int c, int under, int a) { return static_cast<std::uint8_t>((c * a + under * (255 - a) + 127) / 255); }

std::uint32_t Look(Rgba v, std::uint32_t key) {
  const int a = quillet::AlphaOf(v);
  const int r = Blend(v & 0xFF, (key >> 16) & 0xFF, a), g = Blend((v >> 8) & 0xFF, (key >> 8) & 0xFF, a),
            b = Blend((v >> 16) & 0xFF, key & 0xFF, a);
  return static_cast<std::uint32_t>(b | g << 8 | r << 16);
}

// The colours taken; one set for all runs, cleared by each run of what it took.
struct Taken {
  std::vector<bool> bits = std::vector<bool>(std::size_t{1} << 24);
  std::vector<std::uint32_t> set;
  bool Has(std::uint32_t c) const { return bits[c]; }
  void Add(std::uint32_t c) {
    bits[c] = true;
    set.push_back(c);
  }
  void Clear() {
    for (std::uint32_t c : set) bits[c] = false;
    set.clear();
  }
};

// The first free colour at the smallest distance (largest channel difference), in
// (red, green, blue) order; false when none is free.
bool Walk(const Taken& taken, std::uint32_t wanted, std::uint32_t& found) {
  const int r0 = (wanted >> 16) & 0xFF, g0 = (wanted >> 8) & 0xFF, b0 = wanted & 0xFF;
  for (int d = 0; d < 256; ++d)
    for (int r = std::max(0, r0 - d); r <= std::min(255, r0 + d); ++r)
      for (int g = std::max(0, g0 - d); g <= std::min(255, g0 + d); ++g) {
        const bool surface = std::abs(r - r0) == d || std::abs(g - g0) == d;
        for (int b = b0 - d; b <= b0 + d; b += surface ? 1 : 2 * d) {
          const std::uint32_t c = static_cast<std::uint32_t>(b | g << 8 | r << 16);
          if (b >= 0 && b <= 255 && !taken.Has(c)) {
            found = c;
            return true;
          }
        }
      }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const std::int32_t width = data[0] + 1;
  const std::size_t count = std::min<std::size_t>((size - 1) / 4, 1024);
  const std::int32_t height = static_cast<std::int32_t>(count / static_cast<std::size_t>(width));
  if (height == 0) return 0;
  quillet::RgbaImage image = quillet::BlankImage(width, height);
  std::memcpy(image.pixels.data(), data + 1, image.pixels.size() * 4);

  const quillet::StandInMap map = quillet::BuildStandInMap(image);
  if (map.outOfColours) __builtin_trap();
  for (Rgba v : image.pixels) {
    Rgba back = 1;
    if (!quillet::RgbaOfStandIn(map, quillet::StandInOf(map, v), back) ||
        back != (quillet::AlphaOf(v) == 0 ? quillet::kTransparent : v))
      __builtin_trap();
  }

  // The same choice, made the plain way.
  std::vector<Rgba> values;
  for (Rgba v : image.pixels)
    if (quillet::AlphaOf(v) != 0) values.push_back(v);
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  static Taken taken;
  taken.Clear();
  for (Rgba v : values)
    if (quillet::AlphaOf(v) == 255) taken.Add(Packed(v));
  std::uint32_t key = 0;
  bool keyFound = false;
  for (std::uint32_t candidate : {0xFF00FFu, 0x00FF00u, 0x00FFFFu, 0xFFFF00u, 0x0000FFu, 0xFF0000u})
    if (!keyFound && !taken.Has(candidate)) {
      key = candidate;
      keyFound = true;
    }
  if (!keyFound && !Walk(taken, 0xFF00FF, key)) __builtin_trap();
  if (key != map.key || map.toStandIn.size() != values.size()) __builtin_trap();
  taken.Add(key);
  for (std::size_t k = 0; k < values.size(); ++k) {
    std::uint32_t standIn = Packed(values[k]);
    if (quillet::AlphaOf(values[k]) != 255 && !Walk(taken, Look(values[k], key), standIn)) __builtin_trap();
    taken.Add(standIn);
    if (map.toStandIn[k].first != values[k] || map.toStandIn[k].second != standIn) __builtin_trap();
  }
  return 0;
}
