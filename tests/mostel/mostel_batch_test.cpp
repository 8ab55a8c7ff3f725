// mostel over many files (-outdir) and over the cells of a packed sheet (-cells), run as a user
// would; each result is checked against the program's own single runs.
#include <gtest/gtest.h>
#include <lodepng.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"

namespace fs = std::filesystem;

namespace mostel {
namespace {

using pixeltools::testing::Command;
using pixeltools::testing::ProcessResult;

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

struct Rgba {
  unsigned width = 0, height = 0;
  std::vector<unsigned char> pixels;
};

Rgba Decode(const std::string& path) {
  Rgba picture;
  EXPECT_EQ(lodepng::decode(picture.pixels, picture.width, picture.height, path), 0u) << path;
  return picture;
}

void Encode(const std::string& path, const Rgba& picture) {
  ASSERT_EQ(lodepng::encode(path, picture.pixels, picture.width, picture.height), 0u) << path;
}

// The w x h block of picture at (x, y).
Rgba Block(const Rgba& picture, unsigned x, unsigned y, unsigned w, unsigned h) {
  Rgba block{w, h, {}};
  for (unsigned r = 0; r < h; ++r) {
    const auto row = picture.pixels.begin() + 4 * ((y + r) * picture.width + x);
    block.pixels.insert(block.pixels.end(), row, row + 4 * w);
  }
  return block;
}

// A packed sheet of across x down sprites of 32 x 32 pixels without a gap: outlined ellipses,
// diamonds, boxes and slanted bars of varied sizes, places and colours, many reaching the
// edges of their cells.
Rgba PackedSheet(unsigned across, unsigned down) {
  Rgba sheet{32 * across, 32 * down, std::vector<unsigned char>(std::size_t{4} * 32 * across * 32 * down, 0)};
  std::uint32_t seed = 12345;
  auto next = [&](std::uint32_t below) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % below;
  };
  const unsigned char colours[][3] = {{200, 40, 40}, {40, 160, 60}, {50, 80, 210}, {230, 200, 40},
                                      {170, 90, 200}, {240, 140, 60}, {90, 200, 210}};
  for (unsigned tile = 0; tile < across * down; ++tile) {
    const int kind = static_cast<int>(next(4));
    const int cx = 16 + static_cast<int>(next(9)) - 4, cy = 16 + static_cast<int>(next(9)) - 4;
    const int rx = 8 + static_cast<int>(next(11)), ry = 8 + static_cast<int>(next(11));
    const unsigned char* fill = colours[next(7)];
    auto inside = [&](int x, int y) {
      const int dx = x - cx, dy = y - cy;
      switch (kind) {
        case 0: return dx * dx * ry * ry + dy * dy * rx * rx <= rx * rx * ry * ry;
        case 1: return std::abs(dx) * ry + std::abs(dy) * rx <= rx * ry;
        case 2: return std::abs(dx) <= rx && std::abs(dy) <= ry;
        default: return std::abs(dx - dy / 2) <= rx / 3 && std::abs(dy) <= ry + 6;
      }
    };
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) {
        if (!inside(x, y)) continue;
        const bool edge = !inside(x - 1, y) || !inside(x + 1, y) || !inside(x, y - 1) || !inside(x, y + 1);
        unsigned char* p = &sheet.pixels[4 * ((32 * (tile / across) + y) * sheet.width + 32 * (tile % across) + x)];
        for (int c = 0; c < 3; ++c) p[c] = edge ? static_cast<unsigned char>(fill[c] / 3) : fill[c];
        p[3] = 255;
      }
  }
  return sheet;
}

class MostelBatch : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("mostel_batch_" + std::to_string(getpid()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  ProcessResult Mostel(const std::vector<std::string>& args) {
    Command command;
    command.argv = {MOSTEL_PROGRAM};
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    command.directory = dir_.string();
    return RunProcess(command);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

// Each cell of a packed sheet enlarged alone, as -cells does it, against the whole sheet
// enlarged at once, where the edge rule reads across into the neighbouring sprites.
TEST_F(MostelBatch, CellsAreEnlargedAsPicturesOfTheirOwn) {
  const unsigned across = 15, down = 10;
  const Rgba sheet = PackedSheet(across, down);
  Encode(Path("sheet.png"), sheet);
  fs::create_directories(Path("tiles"));
  for (unsigned k = 0; k < across * down; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "tiles/t%03u.png", k);
    Encode(Path(name), Block(sheet, 32 * (k % across), 32 * (k / across), 32, 32));
  }
  ProcessResult run = Mostel({"-quiet", "-outdir", "alone", "tiles"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "150 written, 0 skipped, 0 failed\n");
  ASSERT_EQ(Mostel({"sheet.png", "whole.png"}).status, 0);
  run = Mostel({"-cells", "32x32", "sheet.png", "cells.png"});
  ASSERT_EQ(run.status, 0) << run.err;
  const Rgba whole = Decode(Path("whole.png")), cells = Decode(Path("cells.png"));
  ASSERT_EQ(cells.width, 3 * sheet.width);
  int wholeDiffers = 0, cellsDiffer = 0;
  for (unsigned k = 0; k < across * down; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "alone/t%03u.png", k);
    const Rgba alone = Decode(Path(name));
    const unsigned x = 96 * (k % across), y = 96 * (k / across);
    wholeDiffers += Block(whole, x, y, 96, 96).pixels != alone.pixels;
    cellsDiffer += Block(cells, x, y, 96, 96).pixels != alone.pixels;
  }
  EXPECT_EQ(cellsDiffer, 0);
  EXPECT_GT(wholeDiffers, 0) << "the sheet no longer tells the two apart";
  std::printf("tiles that differ from the tile enlarged alone: %d of %u without -cells, %d with -cells 32x32\n",
              wholeDiffers, across * down, cellsDiffer);

  // Refused: a cell that is not WxH from 1, and one the sheet is no whole number of.
  for (const char* value : {"0x5", "5x0", "32", "32x", "x32", "32x32x", "-1x3", "32*32"}) {
    run = Mostel({"-cells", value, "sheet.png", "bad.png"});
    EXPECT_EQ(run.status, 2) << value;
    EXPECT_NE(run.err.find(std::string("-cells takes WxH with both sides from 1 to 65535, not \"") + value + "\""),
              std::string::npos)
        << run.err;
  }
  run = Mostel({"-cells", "31x32", "sheet.png", "bad.png"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "mostel: \"sheet.png\": 480 x 320 pixels are not whole cells of -cells 31x32\n");
  EXPECT_FALSE(fs::exists(Path("bad.png")));
}

TEST_F(MostelBatch, EnlargesATreeAsSingleRunsWouldLeavingItsFilesAlone) {
  fs::create_directories(Path("art/b"));
  fs::copy_file(SAMPLES_DIR "/slime.png", Path("art/slime.png"));
  fs::copy_file(SAMPLES_DIR "/sword.png", Path("art/b/old sword.png"));
  fs::copy_file(SAMPLES_DIR "/potion.png", Path("art/b/potion.png"));
  fs::copy_file(SAMPLES_DIR "/potion.png", Path("art/b/potion.bmp"));  // not a PNG: not walked
  std::ofstream(Path("art/b/broken.png")) << "not a picture";
  fs::create_directories(Path("out/b"));
  std::ofstream(Path("out/b/potion.png")) << "kept";
  std::map<std::string, std::string> before;
  for (const auto& entry : fs::recursive_directory_iterator(Path("art"))) before[entry.path()] = Bytes(entry.path());

  ProcessResult run = Mostel({"-outdir", "out", "art"});
  EXPECT_EQ(run.status, 7);
  EXPECT_EQ(run.err,
            "mostel: \"art/b/broken.png\": not a PNG file\n"
            "mostel: \"art/b/potion.png\": skipped: \"out/b/potion.png\" exists (-overwrite yes replaces it)\n"
            "2 written, 1 skipped, 1 failed\n");
  EXPECT_EQ(Bytes(Path("out/b/potion.png")), "kept");
  fs::remove(Path("art/b/broken.png"));
  before.erase(Path("art/b/broken.png"));
  run = Mostel({"-outdir", "out", "art"});
  EXPECT_EQ(run.status, 6);
  run = Mostel({"-overwrite", "yes", "-outdir", "out", "art"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "3 written, 0 skipped, 0 failed\n");
  for (const auto& [input, output] : std::vector<std::pair<std::string, std::string>>{
           {"art/slime.png", "out/slime.png"}, {"art/b/old sword.png", "out/b/old sword.png"},
           {"art/b/potion.png", "out/b/potion.png"}}) {
    ASSERT_EQ(Mostel({input, "single.png"}).status, 0);
    EXPECT_EQ(Bytes(Path(output)), Bytes(Path("single.png"))) << output;
  }
  // An output folder inside the tree walked: its files are never taken for inputs.
  EXPECT_EQ(Mostel({"-outdir", "art/big", "art"}).err, "3 written, 0 skipped, 0 failed\n");
  run = Mostel({"-outdir", "art/big", "art"});
  EXPECT_EQ(run.status, 6);
  EXPECT_NE(run.err.find("\n0 written, 3 skipped, 0 failed\n"), std::string::npos) << run.err;
  fs::remove_all(Path("art/big"));
  std::map<std::string, std::string> after;
  for (const auto& entry : fs::recursive_directory_iterator(Path("art"))) after[entry.path()] = Bytes(entry.path());
  EXPECT_EQ(after, before);

  // Refused lines: status 2, nothing read or written.
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"-overwrite", "maybe", "-outdir", "o", "art"}, "-overwrite takes yes or no, not \"maybe\""},
           {{"-outdir", "o"}, "-outdir \"o\" needs at least one file or folder"},
           {{"a.png", "b.png", "c.png"}, "mostel -outdir FOLDER FILE|FOLDER..."}}) {
    run = Mostel(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(Path("o")));
}

}  // namespace
}  // namespace mostel
