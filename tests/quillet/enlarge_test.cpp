#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "quillet/bitmap.h"
#include "quillet/enlarge.h"
#include "test_images.h"

namespace quillet {
namespace {

using testing::Picture;

constexpr std::uint32_t X = 0x0000FF;
constexpr std::uint32_t Y = 0x00FF00;
constexpr std::uint32_t W = 0xFFFFFF;
constexpr std::uint32_t K = 0x000000;
constexpr std::uint32_t G = 0xFAFAFA;  // (250, 250, 250)

// rows[0] is stored row 0 (the bottom of the picture).
Picture FromRows(std::initializer_list<std::initializer_list<std::uint32_t>> rows) {
  Picture p;
  p.height = static_cast<std::int32_t>(rows.size());
  for (const auto& row : rows) {
    p.width = static_cast<std::int32_t>(row.size());
    p.colours.insert(p.colours.end(), row.begin(), row.end());
  }
  return p;
}

Picture Enlarged(const Picture& picture) {
  WorkingBitmap source;
  testing::SetPicture(source, picture);
  OutputBitmap out = CreateOutputBitmap(source, 2 * picture.width, 2 * picture.height);
  EXPECT_TRUE(EnlargeInto(source, out));
  return testing::PictureOf(out);
}

Picture RotateQuarter(const Picture& p) {  // a quarter turn: (x, y) -> (h - 1 - y, x)
  Picture out = testing::Plain(p.height, p.width, 0);
  for (std::int32_t y = 0; y < p.height; ++y)
    for (std::int32_t x = 0; x < p.width; ++x) out.At(p.height - 1 - y, x) = p.At(x, y);
  return out;
}

TEST(Similar, RelativeToCentreWithTies) {
  EXPECT_TRUE(Similar(Y, Y, X));
  EXPECT_FALSE(Similar(X, Y, X));     // one equals the centre, the other does not
  EXPECT_TRUE(Similar(W, G, K));      // 30 <= 750, 30 <= 765
  EXPECT_FALSE(Similar(W, K, G));     // 765 > 15
  // All three distances equal (30 each): ties count as similar.
  EXPECT_EQ(PixelDistance(0x00000Au, 0x000A00u), 20);
  EXPECT_TRUE(Similar(0x00000A, 0x000A00, 0x0A0000));
}

TEST(EnlargeStep, WorkedExamples) {
  EXPECT_EQ(Enlarged(testing::Plain(3, 2, X)).colours, testing::Plain(6, 4, X).colours);
  // A lone pixel in a plain field stays a 2 x 2 block.
  Picture lone = testing::Plain(3, 3, Y);
  lone.At(1, 1) = X;
  EXPECT_EQ(Enlarged(lone).colours, testing::Replicate(lone, 2).colours);
  // A diagonal line stays a staircase of blocks.
  const Picture diagonal = FromRows({{X, Y, Y}, {Y, X, Y}, {Y, Y, X}});
  EXPECT_EQ(Enlarged(diagonal).colours, testing::Replicate(diagonal, 2).colours);
  // The inner corner of a square is cut at output (2, 2) only.
  Picture square = FromRows({{Y, Y, Y}, {Y, X, X}, {Y, X, X}});
  Picture expected = testing::Replicate(square, 2);
  expected.At(2, 2) = Y;
  EXPECT_EQ(Enlarged(square).colours, expected.colours);
  // Output row 2y comes from source row y.
  EXPECT_EQ(Enlarged(FromRows({{X, Y}, {Y, Y}})).colours,
            FromRows({{X, X, Y, Y}, {X, Y, Y, Y}, {Y, Y, Y, Y}, {Y, Y, Y, Y}}).colours);
  EXPECT_EQ(Enlarged(FromRows({{Y, Y}, {Y, X}})).colours,
            FromRows({{Y, Y, Y, Y}, {Y, Y, Y, Y}, {Y, Y, Y, X}, {Y, Y, X, X}}).colours);
}

TEST(EnlargeStep, CornerTakesNextNeighbourInCycleNotMirror) {
  // Centre K with Left = W and Prev = G: corner (2x, 2y) takes Prev; swapped, it takes Left.
  Picture p = testing::Plain(3, 3, K);
  p.At(0, 1) = W;
  p.At(1, 0) = G;
  EXPECT_EQ(Enlarged(p).At(2, 2), G);
  std::swap(p.At(0, 1), p.At(1, 0));
  EXPECT_EQ(Enlarged(p).At(2, 2), W);
}

TEST(EnlargeStep, BackgroundColourDecidesStepThree) {
  Picture p = FromRows({{W, W, W, W}, {W, K, G, W}, {W, W, K, K}, {W, W, K, W}});
  EXPECT_EQ(Enlarged(p).At(4, 4), K);
  p.At(0, 0) = K;
  EXPECT_EQ(Enlarged(p).At(4, 4), G);
}

TEST(EnlargeStep, QuarterTurnCommutesWithTheRule) {
  // The rule turns with the picture; the background pixel (0, 0) must stay the same colour,
  // so all four corners share it.
  for (std::uint32_t seed = 1; seed <= 20; ++seed) {
    Picture p = testing::SpriteLike(9, 7, 4, seed);
    // Near shades make the choice between similar, unequal neighbours matter.
    for (std::size_t k = 0; k < p.colours.size(); k += 5) p.colours[k] = (p.colours[k] & 0xF0F0F0) | 0x040404;
    const std::uint32_t corner = p.At(0, 0);
    p.At(8, 0) = p.At(0, 6) = p.At(8, 6) = corner;
    EXPECT_EQ(Enlarged(RotateQuarter(p)).colours, RotateQuarter(Enlarged(p)).colours) << "seed " << seed;
  }
}

TEST(EnlargeStep, NeighboursClampAtEveryBorder) {
  // Surrounding a picture with copies of its border pixels must not change its enlargement:
  // the clamped neighbours of the border are exactly those copies.
  for (std::uint32_t seed = 1; seed <= 20; ++seed) {
    const Picture p = testing::SpriteLike(6 + seed % 3, 5 + seed % 4, 3, seed);
    Picture framed = testing::Plain(p.width + 2, p.height + 2, 0);
    for (std::int32_t y = 0; y < framed.height; ++y)
      for (std::int32_t x = 0; x < framed.width; ++x)
        framed.At(x, y) = p.At(std::clamp(x - 1, 0, p.width - 1), std::clamp(y - 1, 0, p.height - 1));
    const Picture small = Enlarged(p);
    const Picture big = Enlarged(framed);
    for (std::int32_t y = 0; y < small.height; ++y)
      for (std::int32_t x = 0; x < small.width; ++x)
        ASSERT_EQ(small.At(x, y), big.At(x + 2, y + 2)) << "seed " << seed << " at " << x << "," << y;
  }
  // One pixel wide or high: clamping alone decides.
  const Picture column = FromRows({{X}, {Y}, {X}});
  EXPECT_EQ(Enlarged(column).colours, testing::Replicate(column, 2).colours);
}

TEST(EnlargeStep, WritesFileAndLeavesSourceAlone) {
  const std::string dir = testing::MakeTempDir();
  const std::string name = dir + "/step.bmp";
  WorkingBitmap source;
  const Picture p = testing::SpriteLike(5, 3, 3, 7);
  testing::SetPicture(source, p);
  ASSERT_TRUE(EnlargeStep(source, name.c_str()));
  EXPECT_EQ(testing::PictureOf(source).colours, p.colours);
  WorkingBitmap back;
  ASSERT_EQ(LoadBitmapFile(name.c_str(), back), 6);
  EXPECT_EQ(testing::ReadFileBytes(name).size(), 54u + 6 * Stride24(10));
  EXPECT_EQ(testing::PictureOf(back).colours, Enlarged(p).colours);

  WorkingBitmap empty;
  EXPECT_FALSE(EnlargeStep(empty, (dir + "/none.bmp").c_str()));
  EXPECT_FALSE(std::filesystem::exists(dir + "/none.bmp"));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quillet
