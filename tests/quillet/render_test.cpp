#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "quillet/app_state.h"
#include "quillet/render.h"
#include "test_images.h"

namespace quillet {
namespace {

using testing::Picture;

constexpr std::uint32_t Back = 0x203040;
constexpr std::uint32_t Ink = 0xC01020;

struct Frame {
  std::int32_t width = 0, height = 0;
  std::vector<std::uint8_t> bytes;
  Picture picture;
};

Frame Render(const WorkingBitmap& source, double angle, double scale, int threads = 1,
             std::vector<int>* progress = nullptr) {
  AppState app;
  ProgressDisplay display;
  display.context = progress;
  display.setPosition = [](void* c, int p) { static_cast<std::vector<int>*>(c)->push_back(p); };
  if (progress) app.progressWindow = &display;
  OutputBitmap out = RenderFrameBitmap(ProgressOf(app), source, angle, scale, threads);
  Frame f;
  if (!out.pixels) return f;
  f.width = HeaderWidth(out.header.get());
  f.height = HeaderHeight(out.header.get());
  f.bytes.assign(out.pixels, out.pixels + out.pixelBytes);
  f.picture = testing::PictureOf(out);
  return f;
}

WorkingBitmap Source(const Picture& picture) {
  WorkingBitmap bitmap;
  testing::SetPicture(bitmap, picture);
  return bitmap;
}

TEST(RenderFrame, OutputSizes) {
  struct Case {
    std::int32_t w, h;
    double angle, scale;
    std::int32_t newW, newH;
  };
  const Case cases[] = {
      {80, 40, -90, 1, 6, 11}, {80, 40, 180, 1, 10, 6}, {80, 40, 0, 1, 10, 5},  {80, 80, 45, 1, 15, 15},
      {80, 80, -45, 1, 15, 15}, {80, 40, 0, 2, 20, 10},  {80, 40, 0, 0.5, 5, 3}, {80, 40, 0, 0, 10, 5},
      {80, 40, 0, -1, 10, 5},
  };
  for (const Case& c : cases) {
    const FramePlan plan = PlanFrame(c.w, c.h, c.angle, c.scale);
    ASSERT_TRUE(plan.valid);
    EXPECT_EQ(plan.newW, c.newW) << c.angle << " " << c.scale;
    EXPECT_EQ(plan.newH, c.newH) << c.angle << " " << c.scale;
  }
  // Sizes that cannot be made are refused instead of overflowing.
  EXPECT_FALSE(PlanFrame(80, 40, 0, 1e300).valid);
  EXPECT_FALSE(PlanFrame(80, 40, 0, std::numeric_limits<double>::infinity()).valid);
  EXPECT_FALSE(PlanFrame(80, 40, std::numeric_limits<double>::quiet_NaN(), 1).valid);
  EXPECT_TRUE(PlanFrame(80, 40, 0, std::numeric_limits<double>::quiet_NaN()).valid);  // scale 1
}

TEST(RenderFrame, SearchGridBounds) {
  const std::pair<std::int64_t, int> table[] = {
      {1, 32},      {1023, 32},   {1024, 24},   {16383, 24},  {16384, 16},  {36863, 16}, {36864, 12},
      {65535, 12},  {65536, 10},  {147455, 10}, {147456, 8},  {262143, 8},  {262144, 6}, {300000, 6}};
  for (const auto& [pixels, m] : table) EXPECT_EQ(SearchGridSize(pixels), m) << pixels;
}

TEST(RenderFrame, EquivalentAnglesGiveTheSameFrame) {
  const WorkingBitmap source = Source(testing::Replicate(testing::SpriteLike(12, 9, 4, 3), 8));
  const Frame zero = Render(source, 0, 1);
  for (double angle : {360.0, -360.0, 720.0}) EXPECT_EQ(Render(source, angle, 1).bytes, zero.bytes) << angle;
  EXPECT_EQ(Render(source, -90, 1).bytes, Render(source, 270, 1).bytes);
  EXPECT_EQ(Render(source, 0, 0).bytes, zero.bytes);
  EXPECT_EQ(Render(source, 0, -1).bytes, zero.bytes);
}

TEST(RenderFrame, UnrotatedFrameSamplesEachBlock) {
  const Picture picture = testing::SpriteLike(11, 7, 5, 9);
  const Frame f = Render(Source(testing::Replicate(picture, 8)), 0, 1);
  ASSERT_EQ(f.width, 11);
  ASSERT_EQ(f.height, 7);
  for (std::int32_t x = 0; x < 11; ++x) {
    EXPECT_EQ(f.picture.At(x, 0), picture.At(0, 0));
    EXPECT_EQ(f.picture.At(x, 6), picture.At(0, 0));
  }
  for (std::int32_t y = 1; y < 6; ++y)
    for (std::int32_t x = 0; x < 11; ++x) EXPECT_EQ(f.picture.At(x, y), picture.At(x, y)) << x << "," << y;
  // Row padding of the frame stays 0.
  EXPECT_EQ(f.bytes[33] | f.bytes[34] | f.bytes[35], 0);
}

TEST(RenderFrame, QuarterTurnPutsTopLeftAtBottomLeft) {
  Picture picture = testing::Plain(20, 10, Back);
  for (std::int32_t y = 6; y < 10; ++y)
    for (std::int32_t x = 0; x < 4; ++x) picture.At(x, y) = Ink;  // top-left corner
  const Frame f = Render(Source(testing::Replicate(picture, 8)), -90, 1);
  ASSERT_EQ(f.width, 11);
  ASSERT_EQ(f.height, 21);
  EXPECT_EQ(f.picture.At(1, 2), Ink);
  EXPECT_EQ(f.picture.At(8, 2), Back);
  EXPECT_EQ(f.picture.At(1, 18), Back);
}

TEST(RenderFrame, OneColourAndCorners) {
  const Frame plain = Render(Source(testing::Plain(80, 80, Ink)), 45, 1);
  ASSERT_EQ(plain.width, 15);
  for (std::uint32_t c : plain.picture.colours) ASSERT_EQ(c, Ink);

  Picture picture = testing::Plain(80, 80, Ink);
  picture.At(0, 0) = Back;  // the background colour
  const Frame f = Render(Source(picture), 45, 1);
  EXPECT_EQ(f.picture.At(0, 1), Back);
  EXPECT_EQ(f.picture.At(14, 1), Back);
  EXPECT_EQ(f.picture.At(0, 13), Back);
  EXPECT_EQ(f.picture.At(14, 13), Back);
  EXPECT_EQ(f.picture.At(7, 7), Ink);
}

TEST(RenderFrame, DetailPassBringsBackLonePixel) {
  // Offset (0, 0) samples rows and columns that are multiples of 8; the half-step sub-sample
  // of output pixel (4, 5) lands on source row 44, column 36.
  Picture picture = testing::Plain(80, 80, Back);
  const Frame without = Render(Source(picture), 0, 1);
  for (std::uint32_t c : without.picture.colours) ASSERT_EQ(c, Back);
  picture.At(36, 44) = Ink;
  const Frame with = Render(Source(picture), 0, 1);
  for (std::int32_t y = 0; y < 10; ++y)
    for (std::int32_t x = 0; x < 10; ++x)
      EXPECT_EQ(with.picture.At(x, y), (x == 4 && y == 5) ? Ink : Back) << x << "," << y;
}

TEST(RenderFrame, ProgressRisesThroughEveryStep) {
  std::vector<int> seen;
  const WorkingBitmap source = Source(testing::Replicate(testing::SpriteLike(10, 8, 3, 5), 8));
  Render(source, 30, 1, 1, &seen);
  const FramePlan plan = PlanFrame(80, 64, 30, 1);
  ASSERT_LT(static_cast<std::int64_t>(plan.newW) * plan.newH, 1024);
  ASSERT_EQ(plan.M, 32);
  ASSERT_EQ(seen.size(), 1u + 33 * 33 + 3);
  EXPECT_EQ(seen.front(), 5);
  EXPECT_EQ(seen[1], 5);
  EXPECT_EQ(seen[1 + 33 * 33 - 1], 5 + 85 * (32 * 32 + 32) / (32 * 32));
  EXPECT_EQ(std::vector<int>(seen.end() - 3, seen.end()), (std::vector<int>{90, 95, 98}));
  // The search steps rise (past 90 at its last steps, 92 at M = 32); then 90, 95, 98 follow.
  for (std::size_t k = 1; k < 1 + 33 * 33; ++k) ASSERT_LE(seen[k - 1], seen[k]);
  std::vector<int> threaded;
  Render(source, 30, 1, 4, &threaded);
  EXPECT_EQ(threaded, seen);
}

TEST(RenderFrame, ThreadsChangeNoByte) {
  struct Case {
    Picture picture;
    double angle, scale;
  };
  std::vector<Case> cases;
  // Every candidate ties in a plain picture and in an unrotated block picture.
  cases.push_back({testing::Plain(64, 48, Ink), 30, 1});
  cases.push_back({testing::Replicate(testing::SpriteLike(9, 6, 3, 2), 8), 0, 1});
  for (std::uint32_t seed = 1; seed <= 3; ++seed) {
    WorkingBitmap small;
    testing::SetPicture(small, testing::SpriteLike(12, 10, 4, seed));
    testing::EnlargeInPlace(small, 3);
    const Picture big = testing::PictureOf(small);
    for (double angle : {-30.0, 45.0, 123.4, -90.0}) cases.push_back({big, angle, seed == 2 ? 1.7 : 1.0});
    cases.push_back({big, 10, 0.6});
  }
  for (const Case& c : cases) {
    const WorkingBitmap source = Source(c.picture);
    const FramePlan plan = PlanFrame(c.picture.width, c.picture.height, c.angle, c.scale);
    AppState app;
    const PhaseOffset single = PhaseSearch(ProgressOf(app), source, plan, 1);
    const Frame reference = Render(source, c.angle, c.scale, 1);
    for (int threads : {2, 3, 8}) {
      const PhaseOffset multi = PhaseSearch(ProgressOf(app), source, plan, threads);
      EXPECT_EQ(multi.i, single.i) << c.angle << " threads " << threads;
      EXPECT_EQ(multi.j, single.j) << c.angle << " threads " << threads;
      EXPECT_EQ(Render(source, c.angle, c.scale, threads).bytes, reference.bytes) << c.angle;
    }
  }
}

// Every kernel path this processor runs gives the plain path's phase, additions and bytes, on
// every search grid size from 32 down to 6, over a dense sheet and a picture of wide flat areas.
TEST(RenderFrame, KernelPathsAgreeOnEveryGridSize) {
  const KernelPath before = KernelsInUse();
  for (const Picture& picture : {testing::DenseSheet(64, 64, 40, 5), testing::SpriteLike(64, 64, 4, 8)}) {
    WorkingBitmap source;
    testing::SetPicture(source, picture);
    testing::EnlargeInPlace(source, 3);
    for (const auto& [scale, m] : std::vector<std::pair<double, int>>{
             {0.3, 32}, {1, 24}, {1.8, 16}, {2.5, 12}, {3.5, 10}, {4.5, 8}, {6, 6}}) {
      const FramePlan plan = PlanFrame(512, 512, 30, scale);
      ASSERT_EQ(plan.M, m) << scale;
      AppState app;
      ASSERT_TRUE(UseKernels(KernelPath::kPlain));
      SearchCounts plainCounts;
      const PhaseOffset plain = PhaseSearch(ProgressOf(app), source, plan, 2, nullptr, {}, &plainCounts);
      const Frame reference = Render(source, 30, scale, 2);
      for (KernelPath path : {KernelPath::kSse2, KernelPath::kAvx2}) {
        if (!UseKernels(path)) continue;
        SearchCounts counts;
        const PhaseOffset offset = PhaseSearch(ProgressOf(app), source, plan, 3, nullptr, {}, &counts);
        EXPECT_EQ(offset.i, plain.i) << scale << " path " << static_cast<int>(path);
        EXPECT_EQ(offset.j, plain.j) << scale << " path " << static_cast<int>(path);
        EXPECT_EQ(counts.made, plainCounts.made) << scale << " path " << static_cast<int>(path);
        EXPECT_EQ(Render(source, 30, scale, 1).bytes, reference.bytes) << scale << " path " << static_cast<int>(path);
      }
    }
  }
  UseKernels(before);
}

TEST(RenderFrame, WritesOnlyFrom24BitImages) {
  const std::string dir = testing::MakeTempDir();
  AppState app;
  std::vector<int> seen;
  ProgressDisplay display;
  display.context = &seen;
  display.setPosition = [](void* c, int p) { static_cast<std::vector<int>*>(c)->push_back(p); };
  app.progressWindow = &display;
  EXPECT_FALSE(RenderFrame(ProgressOf(app), app.workingBitmap, 0, 1, (dir + "/none.bmp").c_str()));
  EXPECT_EQ(seen, (std::vector<int>{5, 100}));
  EXPECT_FALSE(std::filesystem::exists(dir + "/none.bmp"));

  testing::SetPicture(app.workingBitmap, testing::Plain(80, 40, Ink));
  ASSERT_TRUE(RenderFrame(ProgressOf(app), app.workingBitmap, -90, 1, (dir + "/f.bmp").c_str()));
  EXPECT_EQ(testing::ReadFileBytes(dir + "/f.bmp").size(), 54u + 11 * Stride24(6));
  EXPECT_EQ(seen.back(), 100);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quillet
