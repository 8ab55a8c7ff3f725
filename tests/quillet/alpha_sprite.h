// The picture of the small transparent files in tests/data/alpha, as RGBA rows from the top:
// 5 x 4 opaque colours, two fully transparent pixels and, in every file but the GIF (whose
// transparency is all or nothing), one pixel at half alpha.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillet::testing {

struct AlphaPixel {
  std::uint8_t r, g, b, a;
  bool operator==(const AlphaPixel&) const = default;
};

inline std::vector<AlphaPixel> AlphaSprite(bool halfAlpha) {
  std::vector<AlphaPixel> pixels;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x)
      pixels.push_back({static_cast<std::uint8_t>(40 * x + 16), static_cast<std::uint8_t>(60 * y + 8),
                        static_cast<std::uint8_t>((x * y * 37 + 90) % 256), 255});
  pixels[1 * 5 + 1] = {0, 0, 0, 0};  // transparent, whatever colour the file keeps under it
  pixels[2 * 5 + 3] = {0, 0, 0, 0};
  if (halfAlpha) pixels[2 * 5 + 1] = {255, 0, 255, 128};
  return pixels;
}

// The files and whether they hold the half-alpha pixel.
struct AlphaFile {
  const char* name;
  bool halfAlpha;
};
inline constexpr AlphaFile kAlphaFiles[] = {
    {"sprite.gif", false}, {"sprite.tif", true}, {"sprite.ico", true}, {"sprite.tga", true}, {"sprite.webp", true},
};

}  // namespace quillet::testing
