// Sprite sets through the quillet program: refused values, and the bytes of one set's files
// pinned so that a change of them is seen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "quillet/sprite_job.h"
#include "quillet_command.h"
#include "scratch_dir.h"

namespace quillet::testing {
namespace {

// A width x height picture, opaque but for a clear rim of one pixel, of many colours.
RgbaImage Picture(std::int32_t width, std::int32_t height) {
  RgbaImage image = BlankImage(width, height);
  for (std::int32_t y = 1; y + 1 < height; ++y)
    for (std::int32_t x = 1; x + 1 < width; ++x)
      image.At(x, y) = PackRgba(static_cast<std::uint8_t>(x * 11), static_cast<std::uint8_t>(y * 17),
                                static_cast<std::uint8_t>((x / 3 + y / 2) % 2 * 200), 255);
  return image;
}

std::uint64_t HashFile(const std::string& fileName) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (std::uint8_t byte : ReadFileBytes(fileName)) {
    h ^= byte;
    h *= 0x100000001b3ull;
  }
  return h;
}

std::vector<std::string> FilesHere() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(".")) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class SpriteSetProgram : public ScratchDirTest {};

// Each refused line ends with status 2, one line naming the option and the value, and no file.
TEST_F(SpriteSetProgram, RefusesBadValuesWithStatusTwo) {
  ASSERT_TRUE(WritePngFile("in.png", Picture(20, 8)));
  RgbaImage big = BlankImage(20, 16);
  big.pixels.assign(big.pixels.size(), PackRgba(1, 2, 3, 255));
  ASSERT_TRUE(WritePngFile("big.png", big));
  struct Refused {
    std::vector<std::string> args;
    const char* message;
  };
  const std::vector<std::string> png = {"-in", "in.png", "-out", "set", "-format", "png"};
  const Refused cases[] = {
      {{"-directions", "0"}, "-directions takes a number of turns from 1 to 360, not \"0\""},
      {{"-directions", "361"}, "-directions takes a number of turns from 1 to 360, not \"361\""},
      {{"-directions", "8x"}, "-directions takes a number of turns from 1 to 360, not \"8x\""},
      {{"-cells", "0x5"}, "-cells takes WxH with both sides from 1, not \"0x5\""},
      {{"-cells", "8"}, "-cells takes WxH with both sides from 1, not \"8\""},
      {{"-pivot", "-1,2"}, "-pivot takes X,Y of a point of the picture, in pixels from its top-left corner, not \"-1,2\""},
      {{"-pivot", "1,2,3"}, "-pivot takes X,Y of a point of the picture, in pixels from its top-left corner, not \"1,2,3\""},
      {{"-canvas", "tight"}, "-canvas takes keep, not \"tight\""},
      {{"-directions", "8", "-frames", "3"}, "-directions cannot go with -frames"},
      {{"-directions", "8", "-endangle", "90"}, "-directions cannot go with -endangle"},
      {{"-cells", "7x4", "-angle", "0"}, "-cells 7x4 does not divide \"in.png\" of 20 x 8 pixels into whole cells"},
      {{"-pivot", "20.5,2", "-angle", "0"}, "-pivot 20.5,2 lies outside the 20 x 8 pixels of \"in.png\""},
      {{"-cells", "5x4", "-pivot", "6,1", "-scale", "1"}, "-pivot 6,1 lies outside the 5 x 4 pixels of each cell of \"in.png\""},
  };
  for (const Refused& refused : cases) {
    std::vector<std::string> args = png;
    args.insert(args.end(), refused.args.begin(), refused.args.end());
    const ProcessResult result = RunProcess(QuilletCommand(args));
    EXPECT_EQ(result.status, 2) << refused.message;
    EXPECT_NE(result.err.find(std::string("quillet: ") + refused.message), std::string::npos) << result.err;
  }
  // Set options without PNG frames, and more frames than a set holds.
  ProcessResult result = RunProcess(QuilletCommand({"-in", "in.png", "-out", "set", "-cells", "5x4"}));
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.err.find("quillet: -cells needs -format png\n"), std::string::npos) << result.err;
  result = RunProcess(QuilletCommand({"-in", "big.png", "-out", "set", "-format", "png", "-cells", "1x1",
                                      "-directions", "360"}));
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.err.find("quillet: -directions 360 of 320 cells of \"big.png\" make 115200 frames, over the "
                            "limit of 100000 of a set\n"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(FilesHere(), (std::vector<std::string>{"big.png", "in.png"}));
}

// One set's sheet and frame files, byte for byte: a strip of three cells (a blank fourth is
// no frame) in three directions about a pivot off the centre.
TEST_F(SpriteSetProgram, SetFilesArePinned) {
  RgbaImage strip = BlankImage(48, 10);
  const RgbaImage cell = Picture(12, 10);
  for (int c = 0; c < 3; ++c)
    for (std::int32_t y = 0; y < 10; ++y)
      for (std::int32_t x = 0; x < 12; ++x)
        strip.At(c * 12 + x, y) = (x + c) % 4 == 0 && AlphaOf(cell.At(x, y)) ? PackRgba(250, 250, 0, 255) : cell.At(x, y);
  ASSERT_TRUE(WritePngFile("walk.png", strip));
  const std::vector<std::string> set = {"-in", "walk.png", "-format", "png", "-cells", "12x10", "-directions", "3",
                                        "-angle", "15", "-pivot", "4.5,7", "-quiet"};
  std::vector<std::string> args = set;
  args.insert(args.end(), {"-out", "walk"});
  ProcessResult result = RunProcess(QuilletCommand(args));
  ASSERT_EQ(result.status, 0) << result.err;
  args = set;
  args.insert(args.end(), {"-out", "sheet", "-sheet", "2", "-canvas", "keep"});
  result = RunProcess(QuilletCommand(args));
  ASSERT_EQ(result.status, 0) << result.err;
  const std::pair<const char*, std::uint64_t> pins[] = {
      {"walk_1.png", 0x0d716b9b26638af3ull}, {"walk_2.png", 0xc8523c48297ad091ull},
      {"walk_3.png", 0x99b525074b07a205ull}, {"walk_4.png", 0x2460d806caad7ca2ull},
      {"walk_5.png", 0xc9dc49b2894031cdull}, {"walk_6.png", 0x51e7971762332f8eull},
      {"walk_7.png", 0x7d6bbf2ffb866f1full}, {"walk_8.png", 0xa06afb61f9821a96ull},
      {"walk_9.png", 0xa27a97c30f42f2ccull}, {"sheet.png", 0x875762204e33e8cdull},
  };
  for (const auto& [file, hash] : pins) EXPECT_EQ(HashFile(file), hash) << file;
  EXPECT_EQ(FilesHere().size(), 11u);
  // Each direction starts a row of the sheet and its three cells wrap after two; the cells
  // keep the picture's cell, grown evenly.
  RgbaImage sheet;
  ASSERT_TRUE(ReadPngFile("sheet.png", sheet));
  ASSERT_EQ(sheet.width % 2, 0);
  ASSERT_EQ(sheet.height % 6, 0);
  EXPECT_EQ((sheet.width / 2 - 12) % 2, 0);
  EXPECT_EQ((sheet.height / 6 - 10) % 2, 0);
}

}  // namespace
}  // namespace quillet::testing
