#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "quillet/app_state.h"
#include "quillet/bitmap.h"
#include "quillet/enlarge.h"
#include "quillet/render.h"
#include "test_images.h"

namespace quillet {
namespace {

using testing::BmpLayout;
using testing::Picture;

Picture FiveByTwo() {
  Picture p = testing::Plain(5, 2, 0);
  for (std::int32_t y = 0; y < 2; ++y)
    for (std::int32_t x = 0; x < 5; ++x) p.At(x, y) = 0x102030u * static_cast<std::uint32_t>(x + 1) + 0x0B * y;
  return p;
}

void ExpectEmpty(const WorkingBitmap& bitmap) {
  ASSERT_TRUE(bitmap.header);
  EXPECT_EQ(HeaderBitCount(bitmap.header.get()), 0);
  EXPECT_EQ(ReadLe32(bitmap.header.get() + kBiSize), 40u);
  EXPECT_EQ(ReadLe16(bitmap.header.get() + kBiPlanes), 1);
  EXPECT_EQ(HeaderWidth(bitmap.header.get()), 0);
  EXPECT_TRUE(bitmap.pixels.empty());
}

std::int32_t Load(const std::vector<std::uint8_t>& file, WorkingBitmap& bitmap) {
  return LoadBitmapBytes(file.data(), file.size(), bitmap);
}

TEST(LoadBitmap, Reads24BitFilesInEveryLayout) {
  const Picture picture = FiveByTwo();
  const BmpLayout layouts[] = {{40, false, false}, {40, true, false}, {108, false, false}, {108, true, false},
                               {124, false, false}, {124, true, false}, {12, false, false}, {40, false, true}};
  WorkingBitmap bitmap;  // each load replaces the previous image
  ASSERT_EQ(Load(testing::Bmp24File(testing::Plain(7, 3, 0x112233)), bitmap), 3);
  for (const BmpLayout& layout : layouts) {
    SCOPED_TRACE(::testing::Message() << "info " << layout.infoBytes << " topDown " << layout.topDown);
    ASSERT_EQ(Load(testing::Bmp24File(picture, layout), bitmap), 2);
    const std::uint8_t* h = bitmap.header.get();
    EXPECT_EQ(ReadLe32(h + kBiSize), 40u);
    EXPECT_EQ(HeaderWidth(h), 5);
    EXPECT_EQ(HeaderHeight(h), 2);
    EXPECT_EQ(HeaderBitCount(h), 24);
    EXPECT_EQ(ReadLe32(h + kBiSizeImage), 32u);
    EXPECT_EQ(ReadLe32(h + kBiXPelsPerMeter), 0u);
    EXPECT_EQ(ReadLe32(h + kBiClrUsed), 0u);
    ASSERT_EQ(bitmap.pixels.size(), 32u);
    EXPECT_EQ(testing::PictureOf(bitmap).colours, picture.colours);
    EXPECT_EQ(BackgroundColour(bitmap), picture.At(0, 0));
  }
}

TEST(LoadBitmap, ReportsTrueBitCountOfOtherFormats) {
  // An 8-bit file: colour table into the header block, one byte per pixel.
  std::vector<std::uint8_t> file(14 + 40 + 4 * 2 + 4 * 2, 0);
  file[0] = 'B';
  file[1] = 'M';
  WriteLe32(&file[10], 14 + 40 + 8);
  WriteLe32(&file[14], 40);
  WriteLe32(&file[18], 3);
  WriteLe32(&file[22], 2);
  WriteLe16(&file[26], 1);
  WriteLe16(&file[28], 8);
  WriteLe32(&file[46], 2);  // two colour entries
  const std::uint8_t table[8] = {1, 2, 3, 0, 4, 5, 6, 0};
  std::memcpy(&file[54], table, 8);
  const std::uint8_t rows[8] = {0, 1, 0, 0, 1, 1, 0, 0};
  std::memcpy(&file[62], rows, 8);
  WorkingBitmap bitmap;
  ASSERT_EQ(Load(file, bitmap), 2);
  EXPECT_EQ(HeaderBitCount(bitmap.header.get()), 8);
  EXPECT_EQ(ReadLe32(bitmap.header.get() + kBiClrUsed), 2u);
  EXPECT_EQ(std::memcmp(bitmap.header.get() + kColourTable, table, 8), 0);
  EXPECT_EQ(bitmap.pixels, PixelBytes(rows, rows + 8));

  // Compressed rows are not decoded, but the format is reported.
  WriteLe32(&file[30], 1);  // RLE8
  EXPECT_EQ(Load(file, bitmap), 0);
  EXPECT_EQ(HeaderBitCount(bitmap.header.get()), 8);
  EXPECT_TRUE(bitmap.pixels.empty());
}

TEST(LoadBitmap, SampleFilesReportBitCount32) {
  const std::filesystem::path dir = QUILLET_SAMPLE_BMP_DIR;
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no sample files at " << dir;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".bmp") continue;
    SCOPED_TRACE(entry.path().string());
    WorkingBitmap bitmap;
    const std::int32_t rows = LoadBitmapFile(entry.path().string().c_str(), bitmap);
    EXPECT_EQ(HeaderBitCount(bitmap.header.get()), 32);
    EXPECT_EQ(rows, HeaderHeight(bitmap.header.get()));
    EXPECT_GT(rows, 0);
    EXPECT_EQ(bitmap.pixels.size(), static_cast<std::size_t>(4 * HeaderWidth(bitmap.header.get()) * rows));
    ++files;
  }
  EXPECT_GT(files, 0);
}

TEST(LoadBitmap, MissingFileLeavesEmptyRecordAndStagesWriteNothing) {
  const std::string dir = testing::MakeTempDir();
  AppState app;
  testing::SetPicture(app.workingBitmap, FiveByTwo());
  EXPECT_EQ(LoadBitmapFile((dir + "/absent.bmp").c_str(), app.workingBitmap), 0);
  ExpectEmpty(app.workingBitmap);
  EXPECT_FALSE(EnlargeStep(app.workingBitmap, (dir + "/e.bmp").c_str()));
  EXPECT_FALSE(RenderFrame(ProgressOf(app), app.workingBitmap, 0, 1, (dir + "/r.bmp").c_str()));
  EXPECT_FALSE(std::filesystem::exists(dir + "/e.bmp"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/r.bmp"));
  std::filesystem::remove_all(dir);
}

// Every way a header can lie must end in the empty record, never in a read outside the file.
TEST(LoadBitmap, RejectsHostileFiles) {
  const std::vector<std::uint8_t> good = testing::Bmp24File(FiveByTwo());
  struct Case {
    const char* name;
    std::size_t offset;
    std::uint32_t value;
    LoadFailure failure;
  };
  constexpr LoadFailure kKind = LoadFailure::kUnsupported, kLarge = LoadFailure::kTooLarge,
                        kCut = LoadFailure::kTruncated;
  const Case cases[] = {
      {"zero width", 18, 0, kKind}, {"negative width", 18, 0xFFFFFFFB, kKind}, {"huge width", 18, 0x7FFFFFFF, kLarge},
      {"zero height", 22, 0, kKind}, {"most negative height", 22, 0x80000000, kLarge},
      {"huge height", 22, 0x00FFFFFF, kCut}, {"huge top-down height", 22, 0xFF000001, kCut},
      {"offset past the end", 10, 0xFFFFFFF0, kCut}, {"offset at the end", 10, static_cast<std::uint32_t>(good.size()), kCut},
      {"offset inside the header", 10, 20, kKind}, {"info header size 0", 14, 0, kKind},
      {"info header size odd", 14, 41, kKind}, {"info header size huge", 14, 0xFFFFFFFF, kKind},
      {"bit count 7", 28, 7, kKind}, {"unknown compression", 30, 99, kKind}, {"not a BMP", 0, 0x4D42 << 8, LoadFailure::kNotBmp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> file = good;
    if (c.offset == 28)
      WriteLe16(&file[28], static_cast<std::uint16_t>(c.value));
    else
      WriteLe32(&file[c.offset], c.value);
    WorkingBitmap bitmap;
    LoadOutcome outcome;
    EXPECT_EQ(LoadBitmapBytes(file.data(), file.size(), bitmap, &outcome), 0);
    EXPECT_EQ(outcome.failure, c.failure) << LoadFailureText(outcome.failure);
    ExpectEmpty(bitmap);
  }
  // Truncation anywhere before the last row's padding fails; only the padding may be missing.
  const std::size_t lastPadding = 16 - 15;
  for (std::size_t size = 0; size < good.size() - lastPadding; ++size) {
    std::vector<std::uint8_t> file(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
    WorkingBitmap bitmap;
    LoadOutcome outcome;
    ASSERT_EQ(LoadBitmapBytes(file.data(), file.size(), bitmap, &outcome), 0) << "size " << size;
    EXPECT_EQ(outcome.failure, size < 2 ? LoadFailure::kNotBmp : LoadFailure::kTruncated) << "size " << size;
    ExpectEmpty(bitmap);
  }
  // A wrong biSizeImage is ignored: the rows are measured from the width and height.
  for (std::uint32_t sizeImage : {0u, 1u, 0xFFFFFFFFu}) {
    std::vector<std::uint8_t> file = good;
    WriteLe32(&file[34], sizeImage);
    WorkingBitmap bitmap;
    EXPECT_EQ(Load(file, bitmap), 2);
    EXPECT_EQ(bitmap.pixels.size(), 32u);
  }
  // A palette that claims more entries than the file holds.
  std::vector<std::uint8_t> eightBit = good;
  WriteLe16(&eightBit[28], 8);
  WriteLe32(&eightBit[46], 256);
  WorkingBitmap bitmap;
  EXPECT_EQ(Load(eightBit, bitmap), 0);
  ExpectEmpty(bitmap);
}

// Files are judged by their headers before their rows are read: endless input that is no BMP,
// and a header claiming more than the limit, are refused at once, the size reported.
TEST(LoadBitmap, JudgesFilesByTheirHeadersFirst) {
  WorkingBitmap bitmap;
  LoadOutcome outcome;
  EXPECT_EQ(LoadBitmapFile("/dev/zero", bitmap, &outcome), 0);
  EXPECT_EQ(outcome.failure, LoadFailure::kNotBmp);
  EXPECT_EQ(InspectBitmapFile("/dev/zero").failure, LoadFailure::kNotBmp);

  const std::string dir = testing::MakeTempDir();
  std::vector<std::uint8_t> file = testing::Bmp24File(FiveByTwo());
  WriteLe32(&file[18], 20000);
  WriteLe32(&file[22], 20000);  // 1.2 GB of rows
  const std::string name = dir + "/large.bmp";
  std::FILE* out = std::fopen(name.c_str(), "wb");
  ASSERT_TRUE(out);
  ASSERT_EQ(std::fwrite(file.data(), 1, file.size(), out), file.size());
  ASSERT_EQ(std::fclose(out), 0);
  for (const LoadOutcome& found : {InspectBitmapFile(name.c_str()), LoadOutcome{}}) {
    if (found.width == 0) {
      EXPECT_EQ(LoadBitmapFile(name.c_str(), bitmap, &outcome), 0);
    } else {
      outcome = found;
    }
    EXPECT_EQ(outcome.failure, LoadFailure::kTooLarge);
    EXPECT_EQ(outcome.width, 20000);
    EXPECT_EQ(outcome.height, 20000);
  }
  outcome = InspectBitmapFile(dir.c_str());
  EXPECT_EQ(outcome.failure, LoadFailure::kUnreadable);
  std::filesystem::remove_all(dir);
}

TEST(WriteBitmap, FileLayoutAndSizes) {
  const std::string dir = testing::MakeTempDir();
  WorkingBitmap bitmap;
  const std::vector<std::uint8_t> input = testing::Bmp24File(FiveByTwo());
  ASSERT_EQ(Load(input, bitmap), 2);
  const std::string name = dir + "/five.bmp";
  ASSERT_TRUE(WriteBitmapFile(name.c_str(), bitmap));
  const std::vector<std::uint8_t> out = testing::ReadFileBytes(name);
  ASSERT_EQ(out.size(), 86u);
  // File header, then the info header: 40, width 5, height 2, 1 plane, 24 bits, BI_RGB, 32
  // bytes of rows, resolutions and colour counts 0.
  std::vector<std::uint8_t> expected(54, 0);
  for (auto [offset, value] : {std::pair{2, 86}, {10, 54}, {14, 40}, {18, 5}, {22, 2}, {26, 1}, {28, 24}, {34, 32}})
    expected[static_cast<std::size_t>(offset)] = static_cast<std::uint8_t>(value);
  expected[0] = 'B';
  expected[1] = 'M';
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 54), expected);
  EXPECT_TRUE(std::equal(out.begin() + 54, out.end(), input.begin() + 54));

  // A 1 x 1 output bitmap: 14 + 40 + 4 bytes, padding 0.
  OutputBitmap one = CreateOutputBitmap(bitmap, 1, 1);
  ASSERT_NE(one.pixels, nullptr);
  EXPECT_EQ(one.pixelBytes, 4u);
  one.pixels[0] = 9;
  ASSERT_TRUE(WriteBitmapFile(name.c_str(), one));  // replaces the longer file
  const std::vector<std::uint8_t> small = testing::ReadFileBytes(name);
  ASSERT_EQ(small.size(), 58u);
  EXPECT_EQ(ReadLe32(&small[2]), 58u);
  EXPECT_EQ(ReadLe32(&small[18]), 1u);
  EXPECT_EQ(ReadLe32(&small[34]), 4u);
  EXPECT_EQ(small[54], 9);
  EXPECT_EQ(small[57], 0);
  std::filesystem::remove_all(dir);
}

TEST(WriteBitmap, ReportsFilesNotWrittenWhole) {
  WorkingBitmap bitmap;
  ASSERT_EQ(Load(testing::Bmp24File(FiveByTwo()), bitmap), 2);
  EXPECT_FALSE(WriteBitmapFile("/nonexistent-dir/x.bmp", bitmap));
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_FALSE(WriteBitmapFile("/dev/full", bitmap));
  }
  // A header whose rows exceed the pixel block is refused rather than read past the block.
  bitmap.pixels.resize(31);
  const std::string dir = testing::MakeTempDir();
  EXPECT_FALSE(WriteBitmapFile((dir + "/short.bmp").c_str(), bitmap));
  std::filesystem::remove_all(dir);
  OutputBitmap none = CreateOutputBitmap(bitmap, 0, 3);
  EXPECT_EQ(none.pixels, nullptr);
  EXPECT_FALSE(WriteBitmapFile("unused.bmp", none));
}

}  // namespace
}  // namespace quillet
