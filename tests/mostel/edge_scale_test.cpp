#include "edge_scale.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace mostel {
namespace {

constexpr uint32_t kBlack = 0xFF000000u, kWhite = 0xFFFFFFFFu;

struct Image {
  uint32_t width = 0, height = 0;
  std::vector<uint32_t> px;
  Image() = default;
  Image(uint32_t w, uint32_t h, uint32_t fill = kWhite) : width(w), height(h), px(size_t{w} * h, fill) {}
  uint32_t& at(uint32_t x, uint32_t y) { return px[size_t{y} * width + x]; }
  uint32_t at(uint32_t x, uint32_t y) const { return px[size_t{y} * width + x]; }
  bool operator==(const Image&) const = default;
};

struct Scaled {
  Image image;
  ScalerCounts counts{};
};

Scaled Scale(const Image& src, unsigned threads = 1) {
  Scaled out;
  out.image = Image(3 * src.width, 3 * src.height, 0x12345678u);
  const ScalerJob job = {src.px.data(), 2 * src.width,          src.width,           src.height,
                         out.image.px.data(), 6 * src.width, 3 * src.width, 3 * src.height};
  EXPECT_TRUE(EdgeScaleBlocks(job, threads, &out.counts));
  return out;
}

Image NearestNeighbour3x(const Image& src) {
  Image out(3 * src.width, 3 * src.height);
  for (uint32_t y = 0; y < out.height; ++y)
    for (uint32_t x = 0; x < out.width; ++x) out.at(x, y) = src.at(x / 3, y / 3);
  return out;
}

Image Transposed(const Image& src) {
  Image out(src.height, src.width);
  for (uint32_t y = 0; y < src.height; ++y)
    for (uint32_t x = 0; x < src.width; ++x) out.at(y, x) = src.at(x, y);
  return out;
}

// Black below the line y = x / run + offset, white above: a staircase of steps `run` wide.
Image Staircase(uint32_t w, uint32_t h, uint32_t run, uint32_t offset) {
  Image img(w, h, kWhite);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      if (y >= x / run + offset) img.at(x, y) = kBlack;
  return img;
}

// Flat areas with outlines and a few shades, like a sheet of sprites.
Image SpriteSheet(uint32_t w, uint32_t h, uint32_t seed) {
  std::mt19937 rng(seed);
  const uint32_t shades[] = {0xFF203040u, 0xFF4080C0u, 0xFF60A0E0u, 0xFF2060A0u, 0xFF30C060u, 0xFFE0E0E0u};
  Image img(w, h, 0x00FF00FFu);
  for (int blob = 0; blob < int(w * h / 80) + 1; ++blob) {
    const int cx = int(rng() % w), cy = int(rng() % h), r = 2 + int(rng() % 6);
    const uint32_t fill = shades[rng() % 6];
    for (int y = cy - r - 1; y <= cy + r + 1; ++y)
      for (int x = cx - r - 1; x <= cx + r + 1; ++x) {
        if (x < 0 || y < 0 || x >= int(w) || y >= int(h)) continue;
        const int d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        if (d2 <= r * r) img.at(x, y) = fill;
        else if (d2 <= (r + 1) * (r + 1)) img.at(x, y) = 0xFF101010u;
      }
  }
  return img;
}

Image Noise(uint32_t w, uint32_t h, uint32_t seed) {
  std::mt19937 rng(seed);
  Image img(w, h);
  for (uint32_t& p : img.px) p = rng();
  return img;
}

TEST(EdgeScale3x, RefusesTooSmallDestinationWithoutWriting) {
  const Image src(4, 3, kBlack);
  std::vector<uint32_t> dst(12 * 9, 0xAAAAAAAAu);
  ScalerJob job = {src.px.data(), 8, 4, 3, dst.data(), 24, 11, 9};
  EXPECT_EQ(EdgeScale3x(&job), 12u);
  job.dstWidth = 12;
  job.dstHeight = 8;
  EXPECT_EQ(EdgeScale3x(&job), 9u);
  job.dstWidth = 11;  // width is tested first
  EXPECT_EQ(EdgeScale3x(&job), 12u);
  // Three times 0x55555556 is 2 in 32 bits: a huge source must not pass for a tiny one.
  ScalerCounts counts;
  for (const ScalerJob huge : {ScalerJob{src.px.data(), 8, 0x55555556u, 3, dst.data(), 24, 12, 9},
                               ScalerJob{src.px.data(), 8, 4, 0x55555556u, dst.data(), 24, 12, 9}}) {
    EXPECT_FALSE(EdgeScaleBlocks(huge, 1, &counts));
  }
  for (uint32_t p : dst) ASSERT_EQ(p, 0xAAAAAAAAu);
}

TEST(EdgeScale3x, PrintsSummaryWithFilteredCount) {
  const Image one(1, 1, 0x80112233u);
  std::vector<uint32_t> dst(9, 0);
  ScalerJob job = {one.px.data(), 2, 1, 1, dst.data(), 6, 3, 3};
  testing::internal::CaptureStdout();
  EdgeScale3x(&job);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Success!\n    0 filtered pixels.\n");
  for (uint32_t p : dst) EXPECT_EQ(p, 0x80112233u);

  // No rows at all: nothing is written, the summary still appears.
  ScalerJob empty = {one.px.data(), 2, 1, 0, dst.data(), 6, 3, 0};
  testing::internal::CaptureStdout();
  EdgeScale3x(&empty);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Success!\n    0 filtered pixels.\n");

  const Image stairs = Staircase(24, 24, 1, 2);
  const Scaled expected = Scale(stairs);
  ASSERT_GT(expected.counts.Filtered(), 0u);
  std::vector<uint32_t> out(72 * 72);
  ScalerJob job2 = {stairs.px.data(), 48, 24, 24, out.data(), 144, 72, 72};
  testing::internal::CaptureStdout();
  EdgeScale3x(&job2);
  char line[64];
  std::snprintf(line, sizeof line, "Success!\n%5u filtered pixels.\n", expected.counts.Filtered());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), line);
  EXPECT_EQ(out, expected.image.px);
}

TEST(EdgeScale3x, KeepsShapesWithoutEdgesAsSolidBlocks) {
  // Uniform picture, a lone pixel, straight boundaries: nothing is filtered.
  Image uniform(5, 4, 0xFF336699u);
  Image lone(7, 7, kWhite);
  lone.at(3, 3) = kBlack;
  Image halves(8, 6, kWhite);
  for (uint32_t y = 0; y < 6; ++y)
    for (uint32_t x = 0; x < 8; ++x)
      if (x >= 3) halves.at(x, y) = 0xFF0000FFu;
  // Colours that differ only in alpha are different pixels at distance 0: no edge wins.
  Image alpha(6, 6, 0x00FFFFFFu);
  for (uint32_t y = 0; y < 6; ++y)
    for (uint32_t x = 0; x < 6; ++x)
      if (x + y >= 5) alpha.at(x, y) = kWhite;
  for (const Image* img : {&uniform, &lone, &halves, &alpha}) {
    const Scaled s = Scale(*img);
    EXPECT_EQ(s.image, NearestNeighbour3x(*img));
    EXPECT_EQ(s.counts.Filtered(), 0u);
    const Scaled t = Scale(Transposed(*img));
    EXPECT_EQ(t.image, NearestNeighbour3x(Transposed(*img)));
  }
}

TEST(EdgeScale3x, TurnsStaircaseIntoStraightDiagonal) {
  // 45 degrees, one-pixel steps, away from the border: each output row of the boundary is
  // shifted by exactly one output pixel from the next.
  const Image src = Staircase(16, 16, 1, 0);
  const Scaled s = Scale(src);
  EXPECT_GT(s.counts.Level2Count, 0u);
  int previous = -1;
  for (uint32_t y = 12; y < 36; ++y) {
    int first = -1;  // first white output pixel of the row
    for (uint32_t x = 0; x < s.image.width; ++x) {
      const uint32_t p = s.image.at(x, y);
      ASSERT_TRUE(p == kBlack || p == kWhite);
      if (p == kWhite && first < 0) first = int(x);
      if (first >= 0) {
        EXPECT_EQ(p, kWhite) << "row " << y << " is not one run";
      }
    }
    if (previous >= 0) {
      EXPECT_EQ(first, previous + 1) << "row " << y;
    }
    previous = first;
  }
}

TEST(EdgeScale3x, ChosenColourTieGoesToNeighbourAlongF) {
  // Bottom-right corner of the black pixel E at (2, 2): F to its right is opaque white, H below
  // it transparent white. Both are at the same distance from E; the corner takes F.
  Image img(6, 6, kBlack);
  for (uint32_t y = 0; y < 6; ++y)
    for (uint32_t x = 0; x < 6; ++x)
      if (x + y >= 5) img.at(x, y) = kWhite;
  img.at(2, 3) = 0x00FFFFFFu;
  const Scaled s = Scale(img);
  EXPECT_EQ(s.image.at(3 * 2 + 2, 3 * 2 + 2), kWhite);
  // Mirrored: now the opaque white lies along h of the same corner, and must lose the tie.
  const Scaled t = Scale(Transposed(img));
  EXPECT_EQ(t.image.at(3 * 2 + 2, 3 * 2 + 2), 0x00FFFFFFu);
}

TEST(EdgeScale3x, ReplicatesBorderPixelsOutwards) {
  // Scaling a picture equals scaling it with its border repeated three times around it and
  // keeping the middle of the result: clamped reads see exactly the repeated pixels.
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    const Image src = seed % 2 ? SpriteSheet(13, 9, seed) : Noise(9, 13, seed);
    Image padded(src.width + 6, src.height + 6);
    for (uint32_t y = 0; y < padded.height; ++y)
      for (uint32_t x = 0; x < padded.width; ++x)
        padded.at(x, y) = src.at(std::clamp<int>(int(x) - 3, 0, int(src.width) - 1),
                                 std::clamp<int>(int(y) - 3, 0, int(src.height) - 1));
    const Scaled inner = Scale(src);
    const Scaled outer = Scale(padded);
    for (uint32_t y = 0; y < inner.image.height; ++y)
      for (uint32_t x = 0; x < inner.image.width; ++x)
        ASSERT_EQ(inner.image.at(x, y), outer.image.at(x + 9, y + 9)) << "seed " << seed << " at " << x << "," << y;
  }
}

TEST(EdgeScale3x, ContinuesShallowAndSteepLinesFromNeighbours) {
  // A long shallow staircase is found at F; its transpose, a steep one, at H. The neighbour
  // path must fire in both, and black and white never tie, so the two results mirror each other.
  const Image shallow = Staircase(40, 14, 4, 2);
  const Scaled s = Scale(shallow);
  const Scaled t = Scale(Transposed(shallow));
  EXPECT_GT(s.counts.NeighbourEdgeCount, 0u);
  EXPECT_GT(s.counts.Level3Count, 0u);
  EXPECT_EQ(t.counts.NeighbourEdgeCount, s.counts.NeighbourEdgeCount);
  EXPECT_EQ(t.counts.Level2Count, s.counts.Level2Count);
  EXPECT_EQ(t.counts.Level3Count, s.counts.Level3Count);
  EXPECT_EQ(t.image, Transposed(s.image));
}

TEST(EdgeScale3x, NeverBlendsColours) {
  const Image src = Noise(17, 11, 7);
  const Scaled s = Scale(src);
  for (uint32_t y = 0; y < s.image.height; ++y)
    for (uint32_t x = 0; x < s.image.width; ++x) {
      // Every output pixel is a copy of a source pixel at most two steps away.
      bool found = false;
      const int sx = int(x / 3), sy = int(y / 3);
      for (int dy = -2; dy <= 2 && !found; ++dy)
        for (int dx = -2; dx <= 2 && !found; ++dx) {
          const int px = std::clamp(sx + dx, 0, int(src.width) - 1), py = std::clamp(sy + dy, 0, int(src.height) - 1);
          found = src.at(px, py) == s.image.at(x, y);
        }
      ASSERT_TRUE(found) << x << "," << y;
      if (x % 3 == 1 && y % 3 == 1) {
        ASSERT_EQ(s.image.at(x, y), src.at(sx, sy));
      }
    }
}

TEST(EdgeScale3x, ThreadsGiveTheSameBlocksAndCounts) {
  for (const Image& src : {SpriteSheet(97, 203, 3), Noise(61, 150, 11), Staircase(50, 77, 3, 5)}) {
    const Scaled one = Scale(src, 1);
    EXPECT_GT(one.counts.Filtered(), 0u);
    for (unsigned threads : {2u, 3u, 8u}) {
      const Scaled many = Scale(src, threads);
      EXPECT_EQ(many.image, one.image) << threads << " threads";
      EXPECT_EQ(many.counts.Level2Count, one.counts.Level2Count);
      EXPECT_EQ(many.counts.Level3Count, one.counts.Level3Count);
      EXPECT_EQ(many.counts.NeighbourEdgeCount, one.counts.NeighbourEdgeCount);
    }
  }
}

// The corner plane, the solid-block shortcut and the remembered distances must give exactly
// what working out every test where the rule reads it gives: every picture size up to 10 x 10
// (where most squares are clamped) and pictures wider than a row segment; few colours with
// runs, colours that differ only in alpha, noise, staircases; on several thread counts.
TEST(EdgeScale3x, FastPathEqualsTestsWorkedOutOnTheSpot) {
  auto check = [](const Image& src, const char* what) {
    Scaled plain;
    plain.image = Image(3 * src.width, 3 * src.height, 0x12345678u);
    const ScalerJob job = {src.px.data(),         2 * src.width, src.width,     src.height,
                           plain.image.px.data(), 6 * src.width, 3 * src.width, 3 * src.height};
    ASSERT_TRUE(EdgeScaleBlocksOnTheSpot(job, &plain.counts));
    for (unsigned threads : {1u, 2u, 3u}) {
      const Scaled fast = Scale(src, threads);
      ASSERT_EQ(fast.image, plain.image) << what << " " << src.width << "x" << src.height << ", " << threads;
      ASSERT_EQ(fast.counts.Level2Count, plain.counts.Level2Count) << what;
      ASSERT_EQ(fast.counts.Level3Count, plain.counts.Level3Count) << what;
      ASSERT_EQ(fast.counts.NeighbourEdgeCount, plain.counts.NeighbourEdgeCount) << what;
    }
  };
  const uint32_t palette[] = {kBlack, kWhite, 0x00FFFFFFu, 0xFF2040E0u, 0xFF30B060u, 0x7F2040E0u};
  std::mt19937 rng(42);
  for (uint32_t h = 1; h <= 10; ++h)
    for (uint32_t w = 1; w <= 10; ++w)
      for (int variant = 0; variant < 3; ++variant) {
        Image img(w, h);
        const uint32_t colours = 2 + variant * 2;
        for (uint32_t y = 0; y < h; ++y)
          for (uint32_t x = 0; x < w; ++x)
            img.at(x, y) = rng() % 3 == 0 || x == 0 ? palette[rng() % colours] : img.at(x - 1, y);
        check(img, "runs");
      }
  for (uint32_t seed = 0; seed < 4; ++seed) {
    check(SpriteSheet(61 + seed, 47, seed), "sheet");
    check(Transposed(SpriteSheet(40, 33 + seed, seed + 9)), "sheet");
    check(Noise(19, 23 + seed, seed), "noise");
  }
  // Rows are taken in segments of a few hundred pixels: pictures wider than one.
  check(SpriteSheet(600, 11, 5), "wide sheet");
  check(Noise(513, 4, 6), "wide noise");
  for (uint32_t run : {1u, 2u, 3u, 4u, 6u}) {
    check(Staircase(45, 20, run, 1), "stairs");
    check(Transposed(Staircase(45, 20, run, 3)), "stairs");
  }

  // Rows longer than the picture, in the source and in the destination: the same blocks, and
  // the destination's spare pixels untouched.
  const Image src = SpriteSheet(37, 23, 8);
  const Scaled packed = Scale(src);
  const uint32_t srcStride = 41, dstStride = 3 * 37 + 5;
  std::vector<uint32_t> wideSrc(size_t{srcStride} * src.height, 0xDEADBEEFu);
  for (uint32_t y = 0; y < src.height; ++y)
    for (uint32_t x = 0; x < src.width; ++x) wideSrc[size_t{y} * srcStride + x] = src.at(x, y);
  std::vector<uint32_t> wideDst(size_t{dstStride} * 3 * src.height, 0xAAAAAAAAu);
  const ScalerJob job = {wideSrc.data(), 2 * srcStride, src.width,     src.height,
                         wideDst.data(), 2 * dstStride, 3 * src.width, 3 * src.height};
  ScalerCounts counts;
  ASSERT_TRUE(EdgeScaleBlocks(job, 2, &counts));
  EXPECT_EQ(counts.Filtered(), packed.counts.Filtered());
  for (uint32_t y = 0; y < packed.image.height; ++y)
    for (uint32_t x = 0; x < dstStride; ++x)
      ASSERT_EQ(wideDst[size_t{y} * dstStride + x], x < packed.image.width ? packed.image.at(x, y) : 0xAAAAAAAAu)
          << x << "," << y;
}

}  // namespace
}  // namespace mostel

namespace mostel {
namespace {

uint64_t Fnv1a(const Scaled& s) {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&h](uint32_t v) {
    for (int i = 0; i < 4; ++i) h = (h ^ ((v >> (8 * i)) & 0xFF)) * 1099511628211ull;
  };
  for (uint32_t p : s.image.px) mix(p);
  mix(s.counts.Level2Count);
  mix(s.counts.Level3Count);
  mix(s.counts.NeighbourEdgeCount);
  return h;
}

// Pictures of a few colours, some differing only in alpha, so that ties, overwrites between
// corners and the neighbour path all occur. The expected hashes pin every output pixel and
// counter; they change only when the scaler's decisions change.
TEST(EdgeScale3x, HoldsFewColourPicturesBitForBit) {
  const uint32_t palette[] = {kBlack, kWhite, 0x00FFFFFFu, 0xFF2040E0u, 0xFF30B060u, 0xFF8090A0u};
  const uint64_t expected[] = {6980498681332775047ull, 8858163781251859483ull, 11247081451015592232ull,
                               1571737546522973200ull, 12098451887280830518ull, 2571958201407035720ull};
  for (uint32_t seed = 0; seed < 6; ++seed) {
    std::mt19937 rng(seed);
    Image img(23 + seed, 19, kBlack);
    const uint32_t colours = 2 + seed % 5;
    // Runs of one colour make lines and steps rather than pure noise.
    for (uint32_t y = 0; y < img.height; ++y)
      for (uint32_t x = 0; x < img.width; ++x)
        img.at(x, y) = rng() % 3 == 0 ? palette[rng() % colours] : (x > 0 ? img.at(x - 1, y) : kWhite);
    const Scaled s = Scale(img);
    EXPECT_GT(s.counts.NeighbourEdgeCount, 0u) << "seed " << seed;
    EXPECT_EQ(Fnv1a(s), expected[seed]) << "seed " << seed << " counts " << s.counts.Level2Count << "/"
                                         << s.counts.Level3Count << "/" << s.counts.NeighbourEdgeCount;
  }
}

}  // namespace
}  // namespace mostel
