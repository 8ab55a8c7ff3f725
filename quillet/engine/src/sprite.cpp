#include "quillet/sprite.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace quillet {
namespace {

constexpr std::uint32_t kColourCount = 1u << 24;

// Which 24-bit colours are taken. The 256 blues of one red and green (a row) are four
// consecutive words, so a row is searched a word at a time.
class ColourSet {
 public:
  ColourSet() : bits_(kColourCount / 64, 0) {}
  bool Has(std::uint32_t c) const { return (bits_[c >> 6] >> (c & 63)) & 1u; }
  void Add(std::uint32_t c) { bits_[c >> 6] |= std::uint64_t{1} << (c & 63); }

  // The lowest free blue in [lo, hi] of the row of red r and green g; -1 when none.
  int FirstFree(int r, int g, int lo, int hi) const {
    const std::uint64_t* row = &bits_[static_cast<std::size_t>(r << 10 | g << 2)];
    for (int w = lo >> 6; w <= hi >> 6; ++w) {
      std::uint64_t free = ~row[w];
      if (w == lo >> 6) free &= ~std::uint64_t{0} << (lo & 63);
      if (w == hi >> 6 && (hi & 63) != 63) free &= (std::uint64_t{1} << ((hi & 63) + 1)) - 1;
      if (free) return w * 64 + std::countr_zero(free);
    }
    return -1;
  }

  // The highest free blue in [lo, hi] of the row; -1 when none.
  int LastFree(int r, int g, int lo, int hi) const {
    const std::uint64_t* row = &bits_[static_cast<std::size_t>(r << 10 | g << 2)];
    for (int w = hi >> 6; w >= lo >> 6; --w) {
      std::uint64_t free = ~row[w];
      if (w == lo >> 6) free &= ~std::uint64_t{0} << (lo & 63);
      if (w == hi >> 6 && (hi & 63) != 63) free &= (std::uint64_t{1} << ((hi & 63) + 1)) - 1;
      if (free) return w * 64 + 63 - std::countl_zero(free);
    }
    return -1;
  }

 private:
  std::vector<std::uint64_t> bits_;
};

// The packed colour (blue + green x 256 + red x 65536) of an RGBA value's red, green, blue.
std::uint32_t PackedOf(Rgba value) {
  return ((value & 0xFF) << 16) | (value & 0xFF00) | ((value >> 16) & 0xFF);
}

std::uint8_t Channel(std::uint32_t packed, int shift) { return static_cast<std::uint8_t>(packed >> shift); }

// (c x a + under x (255 - a)) / 255, rounded to nearest.
std::uint8_t Blend(std::uint8_t c, std::uint8_t under, std::uint8_t a) {
  return static_cast<std::uint8_t>((c * a + under * (255 - a) + 127) / 255);
}

// The value over an opaque packed colour, as a packed colour.
std::uint32_t LookOver(Rgba value, std::uint32_t under) {
  const std::uint8_t a = AlphaOf(value);
  const std::uint8_t r = Blend(static_cast<std::uint8_t>(value), Channel(under, 16), a);
  const std::uint8_t g = Blend(static_cast<std::uint8_t>(value >> 8), Channel(under, 8), a);
  const std::uint8_t b = Blend(static_cast<std::uint8_t>(value >> 16), Channel(under, 0), a);
  return static_cast<std::uint32_t>(b) | static_cast<std::uint32_t>(g) << 8 | static_cast<std::uint32_t>(r) << 16;
}

// Picks free colours near wanted ones. The colour picked for a wanted colour is the first
// free one in the order of growing distance (the largest of the three channel differences),
// then red, then green, then blue: the surfaces of growing cubes around it, each walked in
// (red, green, blue) order.
//
// Colours only ever become taken, so a wanted colour's pick only moves on along that order.
// Each wanted colour keeps where its last pick was (a small cache, so a repeated colour
// resumes its walk instead of starting it over); a cube surface that is used up is left by
// finding the next distance with a free colour row by row, never colour by colour.
class FreeColourPicker {
 public:
  explicit FreeColourPicker(ColourSet& used) : used_(used), places_(kPlaceSlots) {}

  // The first free colour for wanted, not yet taken; false when every colour is taken.
  bool Pick(std::uint32_t wanted, std::uint32_t& picked) {
    const int r0 = Channel(wanted, 16), g0 = Channel(wanted, 8), b0 = Channel(wanted, 0);
    Place& place = places_[Slot(wanted)];
    if (!place.held || place.wanted != wanted) {
      if (!used_.Has(wanted)) {
        picked = wanted;
        place = Place{true, wanted, 0, r0, g0};
        return true;
      }
      place = Place{true, wanted, NextDistance(r0, g0, b0, 1), 0, 0};
      place.r = std::max(0, r0 - place.d);
      place.g = std::max(0, g0 - place.d);
    }
    for (;;) {
      if (place.d > 255) {
        place.held = false;
        return false;
      }
      if (FirstOnSurface(r0, g0, b0, place, picked)) return true;
      place.d = NextDistance(r0, g0, b0, place.d + 1);
      place.r = std::max(0, r0 - place.d);
      place.g = std::max(0, g0 - place.d);
    }
  }

 private:
  static constexpr std::size_t kPlaceSlots = 1u << 12;
  struct Place {
    bool held = false;
    std::uint32_t wanted = 0;
    int d = 0;     // the distance of the surface being walked
    int r = 0, g = 0;  // the row reached on it: rows before it hold no free colour of it
  };

  static std::size_t Slot(std::uint32_t wanted) { return (wanted * 0x9E3779B1u) >> 20; }

  // The nearest free colour's distance from (r0, g0, b0), known to be at least `least`;
  // 256 when every colour is taken. Each row is asked for its nearest free blue, so the
  // search takes one step per row within that distance.
  int NextDistance(int r0, int g0, int b0, int least) const {
    int best = 256;
    for (int k = 0; k < best && k <= 255; ++k) {
      for (int dr = -k; dr <= k; ++dr) {
        const int r = r0 + dr;
        if (r < 0 || r > 255) continue;
        const bool edge = dr == -k || dr == k;
        for (int dg = -k; dg <= k; dg += edge ? 1 : std::max(1, 2 * k)) {
          const int g = g0 + dg;
          if (g < 0 || g > 255) continue;
          const int reach = best - 1;  // only nearer colours matter
          const int above = used_.FirstFree(r, g, b0, std::min(255, b0 + reach));
          const int below = used_.LastFree(r, g, std::max(0, b0 - reach), b0);
          int e = 256;
          if (above >= 0) e = above - b0;
          if (below >= 0) e = std::min(e, b0 - below);
          best = std::min(best, std::max(k, e));
          if (best <= std::max(k, least)) return std::max(best, least);
        }
      }
    }
    return std::max(best, least);
  }

  // The first free colour on the surface at distance place.d, from the row place holds on;
  // the row it is in stays in place.
  bool FirstOnSurface(int r0, int g0, int b0, Place& place, std::uint32_t& picked) const {
    const int d = place.d;
    const int rEnd = std::min(255, r0 + d), gStart = std::max(0, g0 - d), gEnd = std::min(255, g0 + d);
    const int bLow = std::max(0, b0 - d), bHigh = std::min(255, b0 + d);
    for (; place.r <= rEnd; ++place.r, place.g = gStart) {
      const bool edgeR = place.r == r0 - d || place.r == r0 + d;
      for (; place.g <= gEnd; ++place.g) {
        int b = -1;
        if (edgeR || place.g == g0 - d || place.g == g0 + d) {
          b = used_.FirstFree(place.r, place.g, bLow, bHigh);
        } else if (b0 - d >= 0 && !used_.Has(Packed(place.r, place.g, b0 - d))) {
          b = b0 - d;
        } else if (b0 + d <= 255 && !used_.Has(Packed(place.r, place.g, b0 + d))) {
          b = b0 + d;
        }
        if (b >= 0) {
          picked = Packed(place.r, place.g, b);
          return true;
        }
      }
    }
    return false;
  }

  static std::uint32_t Packed(int r, int g, int b) { return static_cast<std::uint32_t>(b | g << 8 | r << 16); }

  ColourSet& used_;
  std::vector<Place> places_;
};

HeaderBlock Header24(std::int32_t width, std::int32_t height) {
  HeaderBlock header(new std::uint8_t[kHeaderBlockBytes]());
  WriteLe32(header.get() + kBiSize, kInfoHeaderBytes);
  WriteLe32(header.get() + kBiWidth, static_cast<std::uint32_t>(width));
  WriteLe32(header.get() + kBiHeight, static_cast<std::uint32_t>(height));
  WriteLe16(header.get() + kBiPlanes, 1);
  WriteLe16(header.get() + kBiBitCount, 24);
  WriteLe32(header.get() + kBiSizeImage, static_cast<std::uint32_t>(Stride24(width) * height));
  return header;
}

// A zeroed 24-bit width x height bitmap; false when the sides are not positive or the rows
// would exceed the limit.
bool NewBitmap24(std::int64_t width, std::int64_t height, WorkingBitmap& bitmap) {
  if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) return false;
  const std::uint64_t bytes = static_cast<std::uint64_t>(Stride24(width)) * static_cast<std::uint64_t>(height);
  if (bytes > kMaxPixelBlockBytes) return false;
  bitmap = WorkingBitmap{};
  bitmap.header = Header24(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
  bitmap.pixels.assign(static_cast<std::size_t>(bytes), 0);
  return true;
}

void Store(std::uint8_t* p, std::uint32_t packed) {
  p[0] = Channel(packed, 0);
  p[1] = Channel(packed, 8);
  p[2] = Channel(packed, 16);
}

}  // namespace

RgbaImage BlankImage(std::int32_t width, std::int32_t height) {
  RgbaImage image;
  if (width <= 0 || height <= 0) return image;
  image.width = width;
  image.height = height;
  image.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), kTransparent);
  return image;
}

bool HasTransparency(const RgbaImage& image) {
  return std::any_of(image.pixels.begin(), image.pixels.end(), [](Rgba v) { return AlphaOf(v) != 255; });
}

StandInMap BuildStandInMap(const RgbaImage& image) {
  std::vector<Rgba> values;
  for (Rgba v : image.pixels)
    if (AlphaOf(v) != 0) values.push_back(v);
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());

  ColourSet used;
  for (Rgba v : values)
    if (AlphaOf(v) == 255) used.Add(PackedOf(v));
  FreeColourPicker picker(used);

  StandInMap map;
  // Colours far from most sprites' first, so the engine sees a clear edge at the outline.
  constexpr std::uint32_t kKeyCandidates[] = {0xFF00FF, 0x00FF00, 0x00FFFF, 0xFFFF00, 0x0000FF, 0xFF0000};
  bool keyFound = false;
  for (std::uint32_t candidate : kKeyCandidates) {
    if (!used.Has(candidate)) {
      map.key = candidate;
      keyFound = true;
      break;
    }
  }
  if (!keyFound && !picker.Pick(kKeyCandidates[0], map.key)) {
    map.outOfColours = true;
    return map;
  }
  used.Add(map.key);

  map.toStandIn.reserve(values.size());
  for (Rgba v : values) {
    std::uint32_t standIn = PackedOf(v);
    if (AlphaOf(v) != 255) {
      if (!picker.Pick(LookOver(v, map.key), standIn)) {
        map = StandInMap{};
        map.outOfColours = true;
        return map;
      }
      used.Add(standIn);
    }
    map.toStandIn.emplace_back(v, standIn);
  }
  map.toRgba.reserve(values.size() + 1);
  for (const auto& [value, standIn] : map.toStandIn) map.toRgba.emplace_back(standIn, value);
  map.toRgba.emplace_back(map.key, kTransparent);
  std::sort(map.toRgba.begin(), map.toRgba.end());
  return map;
}

std::uint32_t StandInOf(const StandInMap& map, Rgba value) {
  if (AlphaOf(value) == 0) return map.key;
  const auto it = std::lower_bound(map.toStandIn.begin(), map.toStandIn.end(), std::make_pair(value, std::uint32_t{0}));
  return (it != map.toStandIn.end() && it->first == value) ? it->second : map.key;
}

bool RgbaOfStandIn(const StandInMap& map, std::uint32_t standIn, Rgba& value) {
  const auto it = std::lower_bound(map.toRgba.begin(), map.toRgba.end(), std::make_pair(standIn, Rgba{0}));
  if (it == map.toRgba.end() || it->first != standIn) return false;
  value = it->second;
  return true;
}

bool StandInBitmap(const RgbaImage& image, const StandInMap& map, std::int32_t margin, WorkingBitmap& bitmap) {
  if (image.width <= 0 || image.height <= 0 || margin < 0) return false;
  const std::int64_t width = std::int64_t{image.width} + 2 * std::int64_t{margin};
  const std::int64_t height = std::int64_t{image.height} + 2 * std::int64_t{margin};
  if (!NewBitmap24(width, height, bitmap)) return false;
  const std::int64_t stride = Stride24(width);
  for (std::int64_t y = 0; y < height; ++y) {
    std::uint8_t* row = bitmap.pixels.data() + (height - 1 - y) * stride;  // stored bottom-up
    const std::int64_t sy = y - margin;
    // Runs of one value are common in sprites: look each run's stand-in up once.
    Rgba last = kTransparent;
    std::uint32_t lastStandIn = map.key;
    for (std::int64_t x = 0; x < width; ++x) {
      const std::int64_t sx = x - margin;
      std::uint32_t standIn = map.key;
      if (sy >= 0 && sy < image.height && sx >= 0 && sx < image.width) {
        const Rgba v = image.At(static_cast<std::int32_t>(sx), static_cast<std::int32_t>(sy));
        if (v != last) {
          last = v;
          lastStandIn = StandInOf(map, v);
        }
        standIn = AlphaOf(v) == 0 ? map.key : lastStandIn;
      }
      Store(row + 3 * x, standIn);
    }
  }
  return true;
}

bool RgbaFromStandIns(const std::uint8_t* header, const std::uint8_t* pixels, std::size_t pixelBytes,
                     const StandInMap& map, RgbaImage& image) {
  const std::int32_t width = HeaderWidth(header);
  const std::int32_t height = HeaderHeight(header);
  if (!pixels || width <= 0 || height <= 0 || HeaderBitCount(header) != 24) return false;
  const std::int64_t stride = Stride24(width);
  if (static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(height) > pixelBytes) return false;
  image = BlankImage(width, height);
  std::uint32_t lastStandIn = map.key;
  Rgba lastValue = kTransparent;
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* row = pixels + (height - 1 - y) * stride;
    for (std::int32_t x = 0; x < width; ++x) {
      const std::uint32_t standIn = PackColour(row + 3 * x);
      if (standIn != lastStandIn) {
        if (!RgbaOfStandIn(map, standIn, lastValue)) return false;
        lastStandIn = standIn;
      }
      image.At(x, y) = lastValue;
    }
  }
  return true;
}

bool CompositeOver(const RgbaImage& image, std::uint32_t background, WorkingBitmap& bitmap) {
  if (!NewBitmap24(image.width, image.height, bitmap)) return false;
  const std::int64_t stride = Stride24(image.width);
  for (std::int32_t y = 0; y < image.height; ++y) {
    std::uint8_t* row = bitmap.pixels.data() + (image.height - 1 - y) * stride;
    for (std::int32_t x = 0; x < image.width; ++x) Store(row + 3 * x, LookOver(image.At(x, y), background));
  }
  return true;
}

namespace {

// Bottom-up 24-bit rows under a bitmap header as opaque RGBA values.
RgbaImage RgbaOfRows(const std::uint8_t* header, const std::uint8_t* pixels) {
  const std::int32_t width = HeaderWidth(header);
  const std::int32_t height = HeaderHeight(header);
  const std::int64_t stride = Stride24(width);
  RgbaImage image = BlankImage(width, height);
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* row = pixels + (height - 1 - y) * stride;
    for (std::int32_t x = 0; x < width; ++x) {
      const std::uint8_t* p = row + 3 * x;
      image.At(x, y) = PackRgba(p[2], p[1], p[0], 255);
    }
  }
  return image;
}

}  // namespace

RgbaImage RgbaOfBitmap(const WorkingBitmap& bitmap) {
  if (!HasImage24(bitmap)) return {};
  return RgbaOfRows(bitmap.header.get(), bitmap.pixels.data());
}

RgbaImage RgbaOfBitmap(const OutputBitmap& frame) { return RgbaOfRows(frame.header.get(), frame.pixels); }

RgbaImage QuarterTurn(const RgbaImage& image, int quarters) {
  const int q = ((quarters % 4) + 4) % 4;
  if (q == 0) return image;
  const std::int32_t w = image.width, h = image.height;
  RgbaImage out = q == 2 ? BlankImage(w, h) : BlankImage(h, w);
  for (std::int32_t y = 0; y < h; ++y) {
    for (std::int32_t x = 0; x < w; ++x) {
      const Rgba v = image.At(x, y);
      if (q == 1) out.At(y, w - 1 - x) = v;           // top edge becomes the left edge
      else if (q == 2) out.At(w - 1 - x, h - 1 - y) = v;
      else out.At(h - 1 - y, x) = v;                  // top edge becomes the right edge
    }
  }
  return out;
}

PixelBox VisibleBox(const RgbaImage& image) {
  PixelBox box{image.width, image.height, 0, 0};
  for (std::int32_t y = 0; y < image.height; ++y) {
    for (std::int32_t x = 0; x < image.width; ++x) {
      if (AlphaOf(image.At(x, y)) == 0) continue;
      box.left = std::min(box.left, x);
      box.right = std::max(box.right, x + 1);
      box.top = std::min(box.top, y);
      box.bottom = std::max(box.bottom, y + 1);
    }
  }
  if (box.Empty()) return {};
  return box;
}

namespace {

// The pixel that holds a centre; a hair added so that a centre computed a rounding error
// short of a pixel border lands as an exact one does.
std::int64_t CentrePixel(double centre) { return static_cast<std::int64_t>(std::floor(centre + 1e-6)); }

// The pixel of a frame that lands on the reach's anchor pixel: its centre pixel, or for a set
// the one that puts its pivot nearest the anchor point (ties, within a hair, to the left).
std::pair<std::int64_t, std::int64_t> AnchorPixel(const CanvasReach& reach, const SpriteFrame& frame) {
  if (!reach.byPivot) return {CentrePixel(frame.centreX), CentrePixel(frame.centreY)};
  return {CentrePixel(frame.pivotX - reach.fractionX + 0.5), CentrePixel(frame.pivotY - reach.fractionY + 0.5)};
}

}  // namespace

CanvasReach PivotReach(double pivotX, double pivotY) {
  CanvasReach reach;
  reach.byPivot = true;
  reach.fractionX = pivotX - std::floor(pivotX);
  reach.fractionY = pivotY - std::floor(pivotY);
  return reach;
}

void KeepPictureCanvas(CanvasReach& reach, std::int32_t width, std::int32_t height, double pivotX, double pivotY) {
  // The unturned picture's anchor pixel is the one its pivot lies in.
  const std::int64_t left = -static_cast<std::int64_t>(std::floor(pivotX));
  const std::int64_t top = -static_cast<std::int64_t>(std::floor(pivotY));
  const std::int64_t right = left + width, bottom = top + height;
  std::int64_t growX = 0, growY = 0;
  if (reach.any) {
    growX = std::max({std::int64_t{0}, left - reach.left, reach.right - right});
    growY = std::max({std::int64_t{0}, top - reach.top, reach.bottom - bottom});
  }
  reach.left = left - growX;
  reach.right = right + growX;
  reach.top = top - growY;
  reach.bottom = bottom + growY;
  reach.any = true;
}

void Widen(CanvasReach& reach, const SpriteFrame& frame) {
  const PixelBox box = VisibleBox(frame.image);
  if (box.Empty()) return;
  const auto [cx, cy] = AnchorPixel(reach, frame);
  const std::int64_t l = box.left - cx, t = box.top - cy, r = box.right - cx, b = box.bottom - cy;
  if (!reach.any || l < reach.left) reach.left = l;
  if (!reach.any || t < reach.top) reach.top = t;
  if (!reach.any || r > reach.right) reach.right = r;
  if (!reach.any || b > reach.bottom) reach.bottom = b;
  reach.any = true;
}

SeriesCanvas CanvasOf(const CanvasReach& reach) {
  SeriesCanvas canvas;
  if (reach.any) {
    canvas.width = static_cast<std::int32_t>(std::min<std::int64_t>(reach.right - reach.left, INT32_MAX));
    canvas.height = static_cast<std::int32_t>(std::min<std::int64_t>(reach.bottom - reach.top, INT32_MAX));
  }
  return canvas;
}

std::pair<std::int64_t, std::int64_t> OriginOn(const CanvasReach& reach, const SpriteFrame& frame) {
  const auto [cx, cy] = AnchorPixel(reach, frame);
  return {-cx - reach.left, -cy - reach.top};
}

SeriesCanvas CommonCanvas(const std::vector<SpriteFrame>& frames) {
  CanvasReach reach;
  for (const SpriteFrame& frame : frames) Widen(reach, frame);
  SeriesCanvas canvas = CanvasOf(reach);
  for (const SpriteFrame& frame : frames) canvas.origins.push_back(OriginOn(reach, frame));
  return canvas;
}

RgbaImage OnCanvasAt(const SpriteFrame& frame, std::int32_t width, std::int32_t height,
                     std::pair<std::int64_t, std::int64_t> origin) {
  RgbaImage out = BlankImage(width, height);
  const auto [ox, oy] = origin;
  for (std::int32_t y = 0; y < frame.image.height; ++y) {
    const std::int64_t cy = oy + y;
    if (cy < 0 || cy >= height) continue;
    for (std::int32_t x = 0; x < frame.image.width; ++x) {
      const std::int64_t cx = ox + x;
      if (cx < 0 || cx >= width) continue;
      out.At(static_cast<std::int32_t>(cx), static_cast<std::int32_t>(cy)) = frame.image.At(x, y);
    }
  }
  return out;
}

RgbaImage OnCanvas(const SpriteFrame& frame, const SeriesCanvas& canvas, std::size_t k) {
  if (k >= canvas.origins.size()) return BlankImage(canvas.width, canvas.height);
  return OnCanvasAt(frame, canvas.width, canvas.height, canvas.origins[k]);
}

RgbaImage LayOutSheet(const std::vector<RgbaImage>& cells, std::int32_t columns) {
  if (cells.empty() || columns <= 0) return {};
  const std::int64_t cellW = cells.front().width, cellH = cells.front().height;
  const std::int64_t count = static_cast<std::int64_t>(cells.size());
  const std::int64_t across = std::min<std::int64_t>(columns, count);
  const std::int64_t down = (count + across - 1) / across;
  const std::int64_t width = across * cellW, height = down * cellH;
  if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX ||
      static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 4 > kMaxPixelBlockBytes)
    return {};
  RgbaImage sheet = BlankImage(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
  for (std::int64_t k = 0; k < count; ++k) {
    const RgbaImage& cell = cells[static_cast<std::size_t>(k)];
    if (cell.width != cellW || cell.height != cellH) return {};
    const std::int64_t x0 = (k % across) * cellW, y0 = (k / across) * cellH;
    for (std::int64_t y = 0; y < cellH; ++y)
      std::memcpy(&sheet.pixels[static_cast<std::size_t>((y0 + y) * width + x0)],
                  &cell.pixels[static_cast<std::size_t>(y * cellW)], static_cast<std::size_t>(cellW) * sizeof(Rgba));
  }
  return sheet;
}

std::int32_t MarginFor(double smallestScale) {
  constexpr std::int32_t kMinMargin = 2, kMaxMargin = 16;
  if (!(smallestScale > 0.0) || smallestScale >= 1.0) return kMinMargin;
  const double wanted = std::ceil(2.0 / smallestScale);
  return wanted >= kMaxMargin ? kMaxMargin : std::max(kMinMargin, static_cast<std::int32_t>(wanted));
}

}  // namespace quillet
