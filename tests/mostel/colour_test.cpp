#include "colour.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace mostel {
namespace {

uint32_t Rgba(uint32_t r, uint32_t g, uint32_t b, uint32_t a = 255) { return r | g << 8 | b << 16 | a << 24; }

TEST(ColourDistance, KnownValues) {
  const uint32_t black = Rgba(0, 0, 0);
  EXPECT_EQ(ColourDistance(black, Rgba(255, 255, 255)), 1016);
  EXPECT_EQ(ColourDistance(Rgba(255, 0, 0), black), 601);
  EXPECT_EQ(ColourDistance(Rgba(0, 255, 0), black), 892);
  EXPECT_EQ(ColourDistance(Rgba(0, 0, 255), black), 283);
  EXPECT_EQ(ColourDistance(Rgba(255, 255, 0), black), 1067);
  EXPECT_EQ(ColourDistance(Rgba(10, 20, 30), Rgba(11, 21, 31)), 0);
  EXPECT_EQ(ColourDistance(Rgba(10, 20, 30, 0), Rgba(10, 20, 30, 255)), 0);
  for (uint32_t k = 1; k < 256; ++k) EXPECT_EQ(ColourDistance(Rgba(k, k, k), black), static_cast<int>(4 * (k - 1))) << k;
  // Symmetric, and only the channel differences count.
  EXPECT_EQ(ColourDistance(Rgba(200, 10, 90), Rgba(20, 130, 0)), ColourDistance(Rgba(20, 130, 0), Rgba(200, 10, 90)));
  EXPECT_EQ(ColourDistance(Rgba(200, 10, 90), Rgba(20, 130, 0)), ColourDistance(Rgba(180, 0, 90), Rgba(0, 120, 0)));
}

TEST(Luma, KnownValuesAndLimits) {
  EXPECT_EQ(Luma(Rgba(255, 255, 255)), 254);
  EXPECT_EQ(Luma(Rgba(255, 0, 0)), 76);
  EXPECT_EQ(Luma(Rgba(0, 255, 0)), 149);
  EXPECT_EQ(Luma(Rgba(0, 0, 255)), 29);
  EXPECT_EQ(Luma(Rgba(0, 0, 0)), 0);
  for (uint32_t k = 1; k < 256; ++k) EXPECT_EQ(Luma(Rgba(k, k, k, 7)), static_cast<int>(k - 1)) << k;

  // Greys k + 1 have luma k, so the limits can be probed exactly; each is inclusive.
  const auto grey = [](uint32_t luma) { return Rgba(luma + 1, luma + 1, luma + 1); };
  EXPECT_TRUE(LumaClose<15>(grey(100), grey(115)));
  EXPECT_FALSE(LumaClose<15>(grey(100), grey(116)));
  EXPECT_TRUE(LumaClose<15>(grey(115), grey(100)));
  EXPECT_TRUE(LumaClose<20>(grey(100), grey(120)));
  EXPECT_FALSE(LumaClose<20>(grey(121), grey(100)));
  EXPECT_TRUE(LumaClose<50>(grey(0), grey(50)));
  EXPECT_FALSE(LumaClose<50>(grey(0), grey(51)));
  EXPECT_TRUE(LumaClose<15>(Rgba(9, 9, 9, 0), Rgba(9, 9, 9, 255)));
}

// The metric must equal an evaluation in x87 extended precision (64-bit significands, round to
// nearest even) in the fixed order of its formulas, for every triple of channel differences.
TEST(ColourDistance, MatchesExtendedPrecisionForEveryDifference) {
  if (std::numeric_limits<long double>::digits != 64) GTEST_SKIP() << "long double is not the x87 format here";
  // volatile keeps the compiler from folding or reassociating the reference arithmetic.
  volatile long double cYR = 0.299, cYG = 0.587, cYB = 0.114;
  volatile long double cUR = -0.169, cUG = 0.331, cUB = 0.5;
  volatile long double cVR = 0.5, cVG = 0.419, cVB = 0.081;
  long mismatches = 0;
  for (int dR = 0; dR < 256; ++dR) {
    for (int dG = 0; dG < 256; ++dG) {
      for (int dB = 0; dB < 256; ++dB) {
        const long double r = dR, g = dG, b = dB;
        const long double y = (cYR * r + cYG * g) + cYB * b;
        const long double u = ((cUR * r) - cUG * g) + cUB * b;
        const long double v = (cVR * r - cVG * g) - cVB * b;
        const long long iy = static_cast<long long>(y), iu = static_cast<long long>(u), iv = static_cast<long long>(v);
        const long long expected = 4 * std::llabs(iy) + std::llabs(iu) + 2 * std::llabs(iv);
        const int got = ColourDistance(Rgba(dR, dG, dB, 255), Rgba(0, 0, 0, 0));
        if (got != expected && ++mismatches <= 5)
          ADD_FAILURE() << "dR=" << dR << " dG=" << dG << " dB=" << dB << ": " << got << " != " << expected;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace mostel
