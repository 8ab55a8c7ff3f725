#include "quillet/sprite.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quillet {
namespace {

constexpr std::uint32_t kColourCount = 1u << 24;

// Which 24-bit colours are taken.
class ColourSet {
 public:
  ColourSet() : bits_(kColourCount / 64, 0) {}
  bool Has(std::uint32_t c) const { return (bits_[c >> 6] >> (c & 63)) & 1u; }
  void Add(std::uint32_t c) { bits_[c >> 6] |= std::uint64_t{1} << (c & 63); }

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

// The first free colour on the surfaces of growing cubes around wanted, in a fixed order.
std::uint32_t NearestFree(const ColourSet& used, std::uint32_t wanted) {
  if (!used.Has(wanted)) return wanted;
  const int r0 = Channel(wanted, 16), g0 = Channel(wanted, 8), b0 = Channel(wanted, 0);
  for (int d = 1; d < 256; ++d) {
    for (int dr = -d; dr <= d; ++dr) {
      const int r = r0 + dr;
      if (r < 0 || r > 255) continue;
      for (int dg = -d; dg <= d; ++dg) {
        const int g = g0 + dg;
        if (g < 0 || g > 255) continue;
        const bool onSurface = dr == -d || dr == d || dg == -d || dg == d;
        for (int db = -d; db <= d; db += onSurface ? 1 : 2 * d) {
          const int b = b0 + db;
          if (b < 0 || b > 255) continue;
          const std::uint32_t c = static_cast<std::uint32_t>(b | g << 8 | r << 16);
          if (!used.Has(c)) return c;
        }
      }
    }
  }
  return wanted;  // not reached while fewer than 2^24 colours are taken
}

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

ProxyMap BuildProxyMap(const RgbaImage& image) {
  std::vector<Rgba> values;
  for (Rgba v : image.pixels)
    if (AlphaOf(v) != 0) values.push_back(v);
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());

  ColourSet used;
  for (Rgba v : values)
    if (AlphaOf(v) == 255) used.Add(PackedOf(v));

  ProxyMap map;
  // Colours far from most sprites' first, so the engine sees a clear edge at the outline.
  constexpr std::uint32_t kKeyCandidates[] = {0xFF00FF, 0x00FF00, 0x00FFFF, 0xFFFF00, 0x0000FF, 0xFF0000};
  map.key = NearestFree(used, kKeyCandidates[0]);
  for (std::uint32_t candidate : kKeyCandidates) {
    if (!used.Has(candidate)) {
      map.key = candidate;
      break;
    }
  }
  used.Add(map.key);

  map.toProxy.reserve(values.size());
  for (Rgba v : values) {
    std::uint32_t proxy = PackedOf(v);
    if (AlphaOf(v) != 255) {
      proxy = NearestFree(used, LookOver(v, map.key));
      used.Add(proxy);
    }
    map.toProxy.emplace_back(v, proxy);
  }
  map.toRgba.reserve(values.size() + 1);
  for (const auto& [value, proxy] : map.toProxy) map.toRgba.emplace_back(proxy, value);
  map.toRgba.emplace_back(map.key, kTransparent);
  std::sort(map.toRgba.begin(), map.toRgba.end());
  return map;
}

std::uint32_t ProxyOf(const ProxyMap& map, Rgba value) {
  if (AlphaOf(value) == 0) return map.key;
  const auto it = std::lower_bound(map.toProxy.begin(), map.toProxy.end(), std::make_pair(value, std::uint32_t{0}));
  return (it != map.toProxy.end() && it->first == value) ? it->second : map.key;
}

bool RgbaOfProxy(const ProxyMap& map, std::uint32_t proxy, Rgba& value) {
  const auto it = std::lower_bound(map.toRgba.begin(), map.toRgba.end(), std::make_pair(proxy, Rgba{0}));
  if (it == map.toRgba.end() || it->first != proxy) return false;
  value = it->second;
  return true;
}

bool ProxyBitmap(const RgbaImage& image, const ProxyMap& map, std::int32_t margin, WorkingBitmap& bitmap) {
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
    std::uint32_t lastProxy = map.key;
    for (std::int64_t x = 0; x < width; ++x) {
      const std::int64_t sx = x - margin;
      std::uint32_t proxy = map.key;
      if (sy >= 0 && sy < image.height && sx >= 0 && sx < image.width) {
        const Rgba v = image.At(static_cast<std::int32_t>(sx), static_cast<std::int32_t>(sy));
        if (v != last) {
          last = v;
          lastProxy = ProxyOf(map, v);
        }
        proxy = AlphaOf(v) == 0 ? map.key : lastProxy;
      }
      Store(row + 3 * x, proxy);
    }
  }
  return true;
}

bool RgbaFromProxies(const std::uint8_t* header, const std::uint8_t* pixels, std::size_t pixelBytes,
                     const ProxyMap& map, RgbaImage& image) {
  const std::int32_t width = HeaderWidth(header);
  const std::int32_t height = HeaderHeight(header);
  if (!pixels || width <= 0 || height <= 0 || HeaderBitCount(header) != 24) return false;
  const std::int64_t stride = Stride24(width);
  if (static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(height) > pixelBytes) return false;
  image = BlankImage(width, height);
  std::uint32_t lastProxy = map.key;
  Rgba lastValue = kTransparent;
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* row = pixels + (height - 1 - y) * stride;
    for (std::int32_t x = 0; x < width; ++x) {
      const std::uint32_t proxy = PackColour(row + 3 * x);
      if (proxy != lastProxy) {
        if (!RgbaOfProxy(map, proxy, lastValue)) return false;
        lastProxy = proxy;
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

RgbaImage RgbaOfBitmap(const WorkingBitmap& bitmap) {
  if (!HasImage24(bitmap)) return {};
  const std::int32_t width = HeaderWidth(bitmap.header.get());
  const std::int32_t height = HeaderHeight(bitmap.header.get());
  const std::int64_t stride = Stride24(width);
  RgbaImage image = BlankImage(width, height);
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* row = bitmap.pixels.data() + (height - 1 - y) * stride;
    for (std::int32_t x = 0; x < width; ++x) {
      const std::uint8_t* p = row + 3 * x;
      image.At(x, y) = PackRgba(p[2], p[1], p[0], 255);
    }
  }
  return image;
}

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

}  // namespace

SeriesCanvas CommonCanvas(const std::vector<SpriteFrame>& frames) {
  SeriesCanvas canvas;
  bool any = false;
  std::int64_t left = 0, top = 0, right = 0, bottom = 0;  // around the centre pixel
  for (const SpriteFrame& frame : frames) {
    const PixelBox box = VisibleBox(frame.image);
    if (box.Empty()) continue;
    const std::int64_t cx = CentrePixel(frame.centreX), cy = CentrePixel(frame.centreY);
    const std::int64_t l = box.left - cx, t = box.top - cy, r = box.right - cx, b = box.bottom - cy;
    if (!any || l < left) left = l;
    if (!any || t < top) top = t;
    if (!any || r > right) right = r;
    if (!any || b > bottom) bottom = b;
    any = true;
  }
  if (any) {
    canvas.width = static_cast<std::int32_t>(std::min<std::int64_t>(right - left, INT32_MAX));
    canvas.height = static_cast<std::int32_t>(std::min<std::int64_t>(bottom - top, INT32_MAX));
  }
  for (const SpriteFrame& frame : frames) {
    canvas.origins.emplace_back(-CentrePixel(frame.centreX) - left, -CentrePixel(frame.centreY) - top);
  }
  return canvas;
}

RgbaImage OnCanvas(const SpriteFrame& frame, const SeriesCanvas& canvas, std::size_t k) {
  RgbaImage out = BlankImage(canvas.width, canvas.height);
  if (k >= canvas.origins.size()) return out;
  const auto [ox, oy] = canvas.origins[k];
  for (std::int32_t y = 0; y < frame.image.height; ++y) {
    const std::int64_t cy = oy + y;
    if (cy < 0 || cy >= canvas.height) continue;
    for (std::int32_t x = 0; x < frame.image.width; ++x) {
      const std::int64_t cx = ox + x;
      if (cx < 0 || cx >= canvas.width) continue;
      out.At(static_cast<std::int32_t>(cx), static_cast<std::int32_t>(cy)) = frame.image.At(x, y);
    }
  }
  return out;
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
