// Transparent sprites: the stand-in colours, their way through the engine and back, the
// exact quarter turns, the series canvas and the sheet.
#include "quillet/sprite.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "quillet/sprite_job.h"

namespace quillet::testing {
namespace {

constexpr Rgba kRed = 0xFF2020E0;     // r e0, g 20, b 20, opaque
constexpr Rgba kOutline = 0xFF251418;
constexpr Rgba kShadow = 0x60000000;  // black at alpha 96
constexpr Rgba kGlow = 0x40F0F0A0;    // pale blue at alpha 64

// A sprite of width x height: an outlined red body, a soft shadow below it, a glow beside
// it and transparent elsewhere; `fill` makes the body reach every edge.
RgbaImage Sprite(std::int32_t width, std::int32_t height, bool fill = false) {
  RgbaImage image = BlankImage(width, height);
  for (std::int32_t y = 0; y < height; ++y)
    for (std::int32_t x = 0; x < width; ++x) {
      const bool body = fill || (x >= width / 4 && x < width - width / 4 && y >= height / 4 && y < height * 3 / 4);
      const bool edge = x == 0 || y == 0 || x == width - 1 || y == height - 1 || (x + y) % 5 == 0;
      if (body) image.At(x, y) = edge ? kOutline : kRed;
      else if (y >= height * 3 / 4 && y < height * 3 / 4 + 2) image.At(x, y) = kShadow;
      else if (x < width / 4 && x >= width / 4 - 2) image.At(x, y) = kGlow | (static_cast<Rgba>(x) << 24);
    }
  return image;
}

std::set<Rgba> Values(const RgbaImage& image) { return {image.pixels.begin(), image.pixels.end()}; }

// Every pixel a value of the source, or fully transparent: no new colour, no new alpha.
void ExpectOnlySourceValues(const RgbaImage& frame, const RgbaImage& source) {
  std::set<Rgba> allowed = Values(source);
  allowed.insert(kTransparent);
  for (Rgba v : frame.pixels) {
    if (AlphaOf(v) == 0) {
      EXPECT_EQ(v, kTransparent);
    } else {
      EXPECT_TRUE(allowed.count(v)) << std::hex << v;
    }
  }
}

TEST(StandInMap, GivesEachValueItsOwnColourAndBack) {
  RgbaImage image = Sprite(16, 16);
  // Opaque pixels in the key's first choice and in the look of the shadow over it.
  image.At(0, 0) = 0xFFFF00FF;
  image.At(1, 0) = PackRgba(0x9F, 0, 0x9F, 255);
  image.At(2, 0) = 0x00123456;  // transparent, with a hidden colour
  const StandInMap map = BuildStandInMap(image);

  std::set<Rgba> opaque;
  for (Rgba v : image.pixels)
    if (AlphaOf(v) == 255) opaque.insert(((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF));
  EXPECT_FALSE(opaque.count(map.key));

  std::set<std::uint32_t> standIns{map.key};
  for (Rgba v : Values(image)) {
    if (AlphaOf(v) == 0) continue;
    const std::uint32_t standIn = StandInOf(map, v);
    EXPECT_NE(standIn, map.key);
    Rgba back = 0;
    ASSERT_TRUE(RgbaOfStandIn(map, standIn, back));
    EXPECT_EQ(back, v);
    if (AlphaOf(v) == 255) {
      EXPECT_EQ(standIn, ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF));
    }
    standIns.insert(standIn);
  }
  EXPECT_EQ(standIns.size(), map.toRgba.size());  // all distinct
  Rgba back = 1;
  ASSERT_TRUE(RgbaOfStandIn(map, map.key, back));
  EXPECT_EQ(back, kTransparent);
  EXPECT_FALSE(RgbaOfStandIn(map, 0x010203, back));
}

TEST(StandInMap, KeyMovesOffColoursThePictureUses) {
  RgbaImage image = BlankImage(6, 1);
  const Rgba taken[] = {0xFFFF00FF, 0xFF00FF00, 0xFFFFFF00, 0xFF00FFFF, 0xFFFF0000, 0xFF0000FF};
  std::copy(std::begin(taken), std::end(taken), image.pixels.begin());
  const StandInMap map = BuildStandInMap(image);
  for (Rgba v : taken) EXPECT_NE(StandInOf(map, v), map.key);
}

// The stand-ins of a map, value and stand-in in turn, folded into one number.
std::uint64_t Fingerprint(const StandInMap& map) {
  std::uint64_t h = 1469598103934665603ull;
  auto mix = [&](std::uint64_t v) { h = (h ^ v) * 1099511628211ull; };
  mix(map.key);
  for (const auto& [value, standIn] : map.toStandIn) {
    mix(value);
    mix(standIn);
  }
  return h;
}

TEST(StandInMap, CrowdedLooksKeepTheirChoiceOfColours) {
  // Many values whose looks over the key fall on a few colours, or inside a solid block of
  // opaque colours, each move to the nearest free colour: the choices are pinned.
  RgbaImage faint = BlankImage(512, 512);  // distinct colours, all at alpha 1
  for (std::size_t k = 0; k < faint.pixels.size(); ++k)
    faint.pixels[k] = (static_cast<Rgba>(k) * 2654435761u & 0xFFFFFF) | Rgba{1} << 24;
  RgbaImage pale = BlankImage(256, 256);
  std::size_t k = 0;
  for (int r = 0; r < 32; ++r)
    for (int g = 0; g < 32; ++g)
      for (int b = 0; b < 32; ++b) pale.pixels[k++] = PackRgba(r, g, b, 255);
  for (std::uint32_t s = 12345; k < pale.pixels.size(); ++k) {
    s = s * 1103515245u + 12345u;
    const std::uint32_t v = s >> 8;
    pale.pixels[k] = PackRgba(v % 32, (v >> 5) % 32, (v >> 10) % 32, 250 + (v >> 15) % 5);
  }
  const struct {
    const RgbaImage& image;
    std::uint64_t pin;
  } cases[] = {{faint, 0x95e53610c7b3e101ull}, {pale, 0xe17da7d7c8c13d8bull}};
  for (const auto& c : cases) {
    const StandInMap map = BuildStandInMap(c.image);
    ASSERT_FALSE(map.outOfColours);
    EXPECT_EQ(Fingerprint(map), c.pin);
    for (std::size_t j = 1; j < map.toRgba.size(); ++j) ASSERT_NE(map.toRgba[j - 1].first, map.toRgba[j].first);
  }
}

TEST(StandInMap, RefusesAPictureThatLeavesNoColourFree) {
  // Every 24-bit colour but white opaque: white becomes the key, and the soft value last
  // has no colour left.
  RgbaImage image = BlankImage(4096, 4096);
  for (std::size_t k = 0; k < image.pixels.size(); ++k)
    image.pixels[k] = PackRgba(static_cast<std::uint8_t>(k >> 16), static_cast<std::uint8_t>(k >> 8),
                               static_cast<std::uint8_t>(k), 255);
  image.pixels.back() = kShadow;
  const StandInMap map = BuildStandInMap(image);
  EXPECT_TRUE(map.outOfColours);
  EXPECT_TRUE(map.toStandIn.empty());
  EXPECT_TRUE(map.toRgba.empty());
}

TEST(StandInBitmap, AddsAMarginOfKeyAndComesBackWhole) {
  const RgbaImage image = Sprite(7, 5, true);
  const StandInMap map = BuildStandInMap(image);
  WorkingBitmap bitmap;
  ASSERT_TRUE(StandInBitmap(image, map, 2, bitmap));
  ASSERT_EQ(HeaderWidth(bitmap.header.get()), 11);
  ASSERT_EQ(HeaderHeight(bitmap.header.get()), 9);
  EXPECT_EQ(BackgroundColour(bitmap), map.key);
  RgbaImage back;
  ASSERT_TRUE(RgbaFromStandIns(bitmap.header.get(), bitmap.pixels.data(), bitmap.pixels.size(), map, back));
  for (std::int32_t y = 0; y < 9; ++y)
    for (std::int32_t x = 0; x < 11; ++x) {
      const bool inside = x >= 2 && x < 9 && y >= 2 && y < 7;
      EXPECT_EQ(back.At(x, y), inside ? image.At(x - 2, y - 2) : kTransparent) << x << "," << y;
    }
  bitmap.pixels[0] ^= 1;  // a colour the map does not hold
  EXPECT_FALSE(RgbaFromStandIns(bitmap.header.get(), bitmap.pixels.data(), bitmap.pixels.size(), map, back));
}

TEST(CompositeOver, KeepsOpaquePixelsAndBlendsTheRest) {
  RgbaImage image = BlankImage(3, 1);
  image.At(0, 0) = kRed;
  image.At(1, 0) = 0x00FFFFFF;  // hidden white must not show
  image.At(2, 0) = kShadow;
  WorkingBitmap bitmap;
  ASSERT_TRUE(CompositeOver(image, 0x00FF00, bitmap));
  const std::uint8_t* p = bitmap.pixels.data();
  EXPECT_EQ(PackColour(p), 0xE02020u);
  EXPECT_EQ(PackColour(p + 3), 0x00FF00u);
  EXPECT_EQ(PackColour(p + 6), static_cast<std::uint32_t>((255 * 159 + 127) / 255) << 8);
}

TEST(QuarterTurn, TurnsCounterClockwiseExactly) {
  RgbaImage image = BlankImage(3, 2);
  for (std::size_t k = 0; k < 6; ++k) image.pixels[k] = 0xFF000000 | static_cast<Rgba>(k + 1);
  // 1 2 3      3 6      6 5 4
  // 4 5 6  ->  2 5  ->  3 2 1
  //            1 4
  const RgbaImage once = QuarterTurn(image, 1);
  ASSERT_EQ(once.width, 2);
  ASSERT_EQ(once.height, 3);
  EXPECT_EQ(once.At(0, 0) & 0xFF, 3u);
  EXPECT_EQ(once.At(1, 0) & 0xFF, 6u);
  EXPECT_EQ(once.At(0, 2) & 0xFF, 1u);
  const RgbaImage twice = QuarterTurn(image, 2);
  EXPECT_EQ(twice.At(0, 0) & 0xFF, 6u);
  EXPECT_EQ(twice.At(2, 1) & 0xFF, 1u);
  EXPECT_EQ(QuarterTurn(image, -1).pixels, QuarterTurn(image, 3).pixels);
  EXPECT_EQ(QuarterTurn(QuarterTurn(image, 3), 1).pixels, image.pixels);
}

TEST(CommonCanvas, HoldsEveryVisiblePixelWithTheCentresTogether) {
  SpriteFrame a;  // visible 2 x 1 block right of its centre
  a.image = BlankImage(4, 4);
  a.image.At(2, 1) = a.image.At(3, 1) = kRed;
  a.centreX = a.centreY = 2.0;
  SpriteFrame b;  // visible pixel up and left of its centre
  b.image = BlankImage(3, 3);
  b.image.At(0, 0) = kOutline;
  b.centreX = b.centreY = 1.5;
  SpriteFrame empty;
  empty.image = BlankImage(2, 2);
  empty.centreX = empty.centreY = 1.0;
  const SeriesCanvas canvas = CommonCanvas({a, b, empty});
  // Around the centre pixel: a spans x 0..2, y -1..0; b spans x -1..0, y -1..0.
  EXPECT_EQ(canvas.width, 3);
  EXPECT_EQ(canvas.height, 1);
  const RgbaImage ca = OnCanvas(a, canvas, 0), cb = OnCanvas(b, canvas, 1), ce = OnCanvas(empty, canvas, 2);
  EXPECT_EQ(ca.pixels, (std::vector<Rgba>{kTransparent, kRed, kRed}));
  EXPECT_EQ(cb.pixels, (std::vector<Rgba>{kOutline, kTransparent, kTransparent}));
  EXPECT_EQ(ce.pixels, std::vector<Rgba>(3, kTransparent));

  const SeriesCanvas none = CommonCanvas({empty});
  EXPECT_EQ(none.width, 1);
  EXPECT_EQ(none.height, 1);
}

TEST(LayOutSheet, PutsCellsInRowsInOrder) {
  std::vector<RgbaImage> cells;
  for (Rgba k = 1; k <= 5; ++k) {
    RgbaImage cell = BlankImage(2, 3);
    std::fill(cell.pixels.begin(), cell.pixels.end(), 0xFF000000 | k);
    cells.push_back(cell);
  }
  const RgbaImage sheet = LayOutSheet(cells, 3);
  ASSERT_EQ(sheet.width, 6);
  ASSERT_EQ(sheet.height, 6);
  EXPECT_EQ(sheet.At(0, 0), 0xFF000001u);
  EXPECT_EQ(sheet.At(5, 2), 0xFF000003u);
  EXPECT_EQ(sheet.At(2, 3), 0xFF000005u);
  EXPECT_EQ(sheet.At(4, 5), kTransparent);  // the row's last cell is empty

  const RgbaImage wide = LayOutSheet(cells, 8);  // fewer cells than columns: one row
  EXPECT_EQ(wide.width, 10);
  EXPECT_EQ(wide.height, 3);
  cells[4] = BlankImage(1, 1);
  EXPECT_EQ(LayOutSheet(cells, 3).width, 0);  // cells of another size are refused
}

TEST(PngNames, AppendAndNumberAsForBitmaps) {
  char name[kPathChars];
  OutputFileName("walk", name, "png");
  EXPECT_STREQ(name, "walk.png");
  OutputFileName("a.PNG", name, "png");
  EXPECT_STREQ(name, "a.PNG");
  OutputFileName("walk.bmp", name, "png");
  EXPECT_STREQ(name, "walk.bmp.png");
  char frame[kFrameNameChars];
  FrameFileName("walk.png", 12, 0, frame, "png");
  EXPECT_STREQ(frame, "walk_01.png");
  FrameFileName("dir.d/walk", 8, 7, frame, "png");
  EXPECT_STREQ(frame, "dir_8.png");  // the suffix replaces from the last '.', as for bitmaps
}

class TurnSpriteTest : public ::testing::Test {
 protected:
  std::vector<SpriteFrame> Turn(const RgbaImage& sprite, std::vector<FrameRequest> requests, int threads = 0) {
    std::vector<SpriteFrame> frames;
    EXPECT_TRUE(TurnSprite(ProgressOf(app_), sprite, requests, threads, frames));
    EXPECT_EQ(frames.size(), requests.size());
    return frames;
  }
  AppState app_;
};

TEST_F(TurnSpriteTest, KeepsAlphaExactlyAndAddsNoValue) {
  const RgbaImage sprite = Sprite(16, 16);
  const std::vector<SpriteFrame> frames = Turn(sprite, {{30, 1}, {45, 2}, {200, 0.5}, {0, 3}});
  for (const SpriteFrame& frame : frames) {
    ExpectOnlySourceValues(frame.image, sprite);
    const std::set<Rgba> seen = Values(frame.image);
    EXPECT_TRUE(seen.count(kShadow));  // soft alpha survives as it was
  }
  const std::set<Rgba> big = Values(frames[3].image);
  for (Rgba v : Values(sprite)) EXPECT_TRUE(big.count(v)) << std::hex << v;
}

TEST_F(TurnSpriteTest, LosesNothingAtTheEdges) {
  // Opaque to every edge: at scale 2 the frame holds all of the picture's rows and columns.
  const RgbaImage sprite = Sprite(10, 6, true);
  const SpriteFrame frame = Turn(sprite, {{0, 2}})[0];
  EXPECT_EQ(frame.image.width, 20);
  EXPECT_EQ(frame.image.height, 12);
  const PixelBox box = VisibleBox(frame.image);
  EXPECT_EQ(box.right - box.left, 20);
  EXPECT_EQ(box.bottom - box.top, 12);
  // A quarter past that, the outline still runs down both sides: no row lost. (The smart
  // steps round the outline's outermost corners off.)
  const SpriteFrame turned = Turn(sprite, {{90, 2}})[0];
  EXPECT_EQ(turned.image.width, 12);
  EXPECT_EQ(turned.image.height, 20);
  for (std::int32_t y = 1; y + 1 < turned.image.height; ++y) {
    EXPECT_EQ(turned.image.At(0, y), kOutline) << y;
    EXPECT_EQ(turned.image.At(11, y), kOutline) << y;
  }
}

TEST_F(TurnSpriteTest, OnePixelSpriteStaysOnePixel) {
  RgbaImage dot = BlankImage(1, 1);
  dot.At(0, 0) = kShadow;
  for (double angle : {0.0, 30.0, 90.0, 135.0}) {
    const SpriteFrame frame = Turn(dot, {{angle, 1}})[0];
    EXPECT_EQ(frame.image.pixels, std::vector<Rgba>{kShadow}) << angle;
  }
}

TEST_F(TurnSpriteTest, QuarterTurnsAtScaleOneAreExact) {
  const RgbaImage sprite = Sprite(16, 16);
  const RgbaImage visible = [&] {
    SpriteFrame whole{sprite, 8, 8};
    return OnCanvas(whole, CommonCanvas({whole}), 0);
  }();
  const std::vector<SpriteFrame> frames = Turn(sprite, {{90, 1}, {180, 1}, {-90, 0}, {720, 1}});
  EXPECT_EQ(frames[0].image.pixels, QuarterTurn(visible, 1).pixels);
  EXPECT_EQ(frames[1].image.pixels, QuarterTurn(visible, 2).pixels);
  EXPECT_EQ(frames[2].image.pixels, QuarterTurn(visible, 3).pixels);
  EXPECT_EQ(frames[3].image.pixels, visible.pixels);
}

TEST_F(TurnSpriteTest, SeriesSharesOneCanvasWithTheCentreInPlace) {
  // A 4 x 4 core of its own colour at the centre of a 20 x 20 sprite.
  RgbaImage sprite = Sprite(20, 20);
  for (std::int32_t y = 8; y < 12; ++y)
    for (std::int32_t x = 8; x < 12; ++x) sprite.At(x, y) = 0xFF00C000;
  std::vector<FrameRequest> requests;
  for (int k = 0; k < 12; ++k) requests.push_back({k * 30.0, 1});
  const std::vector<SpriteFrame> frames = Turn(sprite, requests);
  const SeriesCanvas canvas = CommonCanvas(frames);
  for (std::size_t k = 0; k < frames.size(); ++k) {
    const RgbaImage cell = OnCanvas(frames[k], canvas, k);
    // The core covers the canvas pixels around the common centre in every frame.
    const std::int32_t cx = static_cast<std::int32_t>(canvas.origins[0].first + frames[0].centreX);
    const std::int32_t cy = static_cast<std::int32_t>(canvas.origins[0].second + frames[0].centreY);
    for (std::int32_t dy = -1; dy <= 0; ++dy)
      for (std::int32_t dx = -1; dx <= 0; ++dx)
        EXPECT_EQ(cell.At(cx + dx, cy + dy), 0xFF00C000u) << "frame " << k << " at " << dx << "," << dy;
  }
}

// Frames of a series share the enlargement's scores; each is the frame it would be if turned
// first (with the same smallest scale, so the same margin), on any number of threads.
TEST_F(TurnSpriteTest, SameFramesWithOneAndTwoThreadsAndAlone) {
  const RgbaImage sprite = Sprite(24, 20);
  const std::vector<FrameRequest> requests = {{17, 1}, {100, 1.5}, {250, 0.75}};
  const std::vector<SpriteFrame> one = Turn(sprite, requests, 1);
  const std::vector<SpriteFrame> two = Turn(sprite, requests, 2);
  for (std::size_t k = 0; k < requests.size(); ++k) {
    EXPECT_EQ(one[k].image.pixels, two[k].image.pixels) << k;
    EXPECT_EQ(one[k].centreX, two[k].centreX);
    EXPECT_EQ(one[k].centreY, two[k].centreY);
    const SpriteFrame alone = Turn(sprite, {requests[k], {1, 0.75}}, 2)[0];
    EXPECT_EQ(alone.image.pixels, one[k].image.pixels) << k;
  }
}

}  // namespace
}  // namespace quillet::testing
