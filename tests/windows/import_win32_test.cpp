// The import through GDI+ on Windows: formats quillet does not read itself, names in the
// ANSI code page, and the two "Error" messages.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "alpha_sprite.h"
#include "quillet/import.h"
#include "scratch_win32.h"

namespace quillet {
namespace {

using testing::Exists;
using testing::ScratchDirTest;

struct ShownErrors {
  std::vector<std::string> captions, texts;
};

void Record(void* context, const char* caption, const char* text) {
  static_cast<ShownErrors*>(context)->captions.push_back(caption);
  static_cast<ShownErrors*>(context)->texts.push_back(text);
}

class GdiplusImport : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    display_.show = Record;
    display_.context = &shown_;
  }
  ShownErrors shown_;
  ErrorDisplay display_;
};

void WriteBytes(const char* name, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> Sample(const char* name) { return testing::ReadFileBytes(std::string(SAMPLES_DIR) + "/" + name); }

TEST_F(GdiplusImport, ConvertsPngUnderAnAnsiNameAndRemovesItsFiles) {
  const ImagingApi& imaging = LoadImagingLibrary();
  ASSERT_TRUE(imaging.available);
  EXPECT_EQ(&LoadImagingLibrary(), &imaging);
  // "sl€me.png" in code page 1252: the name must be widened, not passed byte by byte.
  const char name[] = "sl\x80me.png";
  const std::vector<std::uint8_t> png = Sample("slime.png");
  ASSERT_FALSE(png.empty());
  const HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, png.data(), static_cast<DWORD>(png.size()), &written, nullptr);
  CloseHandle(file);

  AppState app;
  ASSERT_TRUE(ImportImage(app, imaging, display_, name));
  EXPECT_TRUE(HasImage24(app.workingBitmap));
  EXPECT_EQ(HeaderWidth(app.workingBitmap.header.get()), 16);
  EXPECT_EQ(HeaderHeight(app.workingBitmap.header.get()), 16);
  EXPECT_TRUE(shown_.texts.empty());
  EXPECT_EQ(TempListing(), "");
}

TEST_F(GdiplusImport, SaysWhyAFileCouldNotBeConverted) {
  WriteBytes("garbage.png", std::vector<std::uint8_t>(100, 0x5A));
  AppState app;
  EXPECT_FALSE(ImportImage(app, LoadImagingLibrary(), display_, "garbage.png"));
  ASSERT_EQ(shown_.texts.size(), 1u);
  EXPECT_EQ(shown_.captions[0], "Error");
  // GDI+'s status, and the formats it reads.
  const std::string text = shown_.texts[0];
  EXPECT_EQ(text.rfind("Image conversion failed: not an image file that can be read: GDI+ does not read it (status ", 0),
            0u) << text;
  EXPECT_NE(text.find(").\ngdiplus.dll reads BMP, GIF, JPEG, PNG, TIFF, ICO, EMF and WMF."), std::string::npos) << text;

  // A file that cannot be opened fails without a message.
  EXPECT_FALSE(ImportImage(app, LoadImagingLibrary(), display_, "absent.png"));
  EXPECT_EQ(shown_.texts.size(), 1u);
  EXPECT_EQ(TempListing(), "");
}

TEST_F(GdiplusImport, SaysSoWhenTheLibraryIsMissing) {
  const ImagingApi missing = LoadImagingLibraryFrom("no_such_imaging_library.dll");
  EXPECT_FALSE(missing.available);
  WriteBytes("in.png", Sample("sword.png"));
  AppState app;
  EXPECT_FALSE(ImportImage(app, missing, display_, "in.png"));
  ASSERT_EQ(shown_.texts.size(), 1u);
  EXPECT_EQ(shown_.captions[0], "Error");
  EXPECT_EQ(shown_.texts[0],
            "Image conversion failed because no_such_imaging_library.dll could not be found.\n"
            "Try saving the image as a 24-bit BMP in some other program, and importing that.");
  // A 24-bit BMP needs no library.
  AppState other;
  ASSERT_TRUE(ImportImage(other, LoadImagingLibrary(), display_, "in.png"));
  ASSERT_TRUE(WriteBitmapFile("in.bmp", other.workingBitmap));
  EXPECT_TRUE(ImportImage(app, missing, display_, "in.bmp"));
  EXPECT_EQ(shown_.texts.size(), 1u);
}

// The pictures of the transparent files GDI+ reads, with their alpha: the same values as the
// imaging library on Linux gives for them.
TEST_F(GdiplusImport, GivesTheTransparencyOfTheFilesItReads) {
  const ImagingApi& imaging = LoadImagingLibrary();
  ASSERT_TRUE(imaging.imageRgba);
  int read = 0;
  for (const testing::AlphaFile& file : testing::kAlphaFiles) {
    const std::string path = std::string(QUILLET_ALPHA_DIR) + "/" + file.name;
    ImageHandle image = imaging.loadImage(imaging.context, path.c_str());
    const bool tga = std::string(file.name).find(".tga") != std::string::npos;
    const bool webp = std::string(file.name).find(".webp") != std::string::npos;
    if (tga || webp) {  // formats GDI+ does not decode
      if (image) imaging.disposeImage(imaging.context, image);
      continue;
    }
    ASSERT_NE(image, nullptr) << file.name;
    RgbaImage rgba;
    ASSERT_TRUE(imaging.imageRgba(imaging.context, image, rgba)) << file.name;
    imaging.disposeImage(imaging.context, image);
    std::vector<testing::AlphaPixel> got;
    for (const Rgba v : rgba.pixels)
      got.push_back({static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
                     static_cast<std::uint8_t>(v >> 24)});
    EXPECT_EQ(rgba.width, 5) << file.name;
    EXPECT_TRUE(got == testing::AlphaSprite(file.halfAlpha)) << file.name;
    ++read;
  }
  EXPECT_EQ(read, 3);
}

// Every load binds the library for its own record: records from earlier loads keep working
// whatever later loads find.
TEST_F(GdiplusImport, EachLoadMakesARecordOfItsOwn) {
  const ImagingApi first = LoadImagingLibraryFrom("gdiplus.dll");
  ASSERT_TRUE(first.available);
  EXPECT_FALSE(LoadImagingLibraryFrom("no_such_imaging_library.dll").available);
  const ImagingApi second = LoadImagingLibraryFrom("gdiplus.dll");
  ASSERT_TRUE(second.available);
  ASSERT_TRUE(LoadImagingLibrary().available);
  WriteBytes("in.png", Sample("sword.png"));
  for (const ImagingApi* imaging : {&first, &second, &first}) {
    AppState app;
    ASSERT_TRUE(ImportImage(app, *imaging, display_, "in.png"));
    EXPECT_TRUE(HasImage24(app.workingBitmap));
  }
  EXPECT_TRUE(shown_.texts.empty());
  EXPECT_EQ(TempListing(), "");
}

}  // namespace
}  // namespace quillet
