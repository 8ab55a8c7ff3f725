// The import through GDI+ on Windows: formats quillet does not read itself, names in the
// ANSI code page, and the two "Error" messages.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

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
  EXPECT_EQ(shown_.texts[0], kConversionFailedText);

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
  EXPECT_EQ(shown_.texts[0], kLibraryMissingText);
  // A 24-bit BMP needs no library.
  AppState other;
  ASSERT_TRUE(ImportImage(other, LoadImagingLibrary(), display_, "in.png"));
  ASSERT_TRUE(WriteBitmapFile("in.bmp", other.workingBitmap));
  EXPECT_TRUE(ImportImage(app, missing, display_, "in.bmp"));
  EXPECT_EQ(shown_.texts.size(), 1u);
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
