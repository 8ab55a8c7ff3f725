#include "quillet/import.h"

#include <gtest/gtest.h>
#include <lodepng.h>
#include <wand/MagickWand.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "quillet/bitmap.h"
#include "quillet/files.h"
#include "quillet/job.h"
#include "quillet/job_loop.h"
#include "scratch_dir.h"
#include "test_images.h"

namespace quillet {
namespace {

using testing::Exists;
using testing::Picture;

const std::string kPngDir = QUILLET_PNGSUITE_DIR;
const std::string kBmpDir = QUILLET_SAMPLE_BMP_DIR;

// Collects what the import shows instead of writing it to standard error.
struct ShownErrors {
  std::vector<std::string> texts;
  ErrorDisplay display;
  ShownErrors() {
    display.context = this;
    display.show = [](void* c, const char* caption, const char* text) {
      EXPECT_STREQ(caption, "Error");
      static_cast<ShownErrors*>(c)->texts.push_back(text);
    };
  }
};

// An 8-bit BMP with a colour table of the picture's colours (at most 256).
std::vector<std::uint8_t> Bmp8File(const Picture& picture) {
  std::vector<std::uint32_t> table;
  std::vector<std::uint8_t> indices;
  for (std::uint32_t c : picture.colours) {
    std::size_t k = 0;
    while (k < table.size() && table[k] != c) ++k;
    if (k == table.size()) table.push_back(c);
    indices.push_back(static_cast<std::uint8_t>(k));
  }
  const std::size_t stride = static_cast<std::size_t>(RowStride(picture.width, 8));
  const std::size_t offset = 14 + 40 + 4 * table.size();
  std::vector<std::uint8_t> file(offset + stride * static_cast<std::size_t>(picture.height), 0);
  file[0] = 'B';
  file[1] = 'M';
  WriteLe32(&file[2], static_cast<std::uint32_t>(file.size()));
  WriteLe32(&file[10], static_cast<std::uint32_t>(offset));
  WriteLe32(&file[14], 40);
  WriteLe32(&file[18], static_cast<std::uint32_t>(picture.width));
  WriteLe32(&file[22], static_cast<std::uint32_t>(picture.height));
  WriteLe16(&file[26], 1);
  WriteLe16(&file[28], 8);
  WriteLe32(&file[46], static_cast<std::uint32_t>(table.size()));
  for (std::size_t k = 0; k < table.size(); ++k) WriteLe32(&file[54 + 4 * k], table[k]);
  for (std::int32_t y = 0; y < picture.height; ++y)
    for (std::int32_t x = 0; x < picture.width; ++x)
      file[offset + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x)] =
          indices[static_cast<std::size_t>(y * picture.width + x)];
  return file;
}

// Writes the picture in another format through MagickWand, linked into the tests only.
void WriteWithMagick(const Picture& picture, const std::string& format, const std::string& path) {
  MagickWandGenesis();
  MagickWand* wand = NewMagickWand();
  std::vector<std::uint8_t> bgr;
  for (std::int32_t y = picture.height - 1; y >= 0; --y)  // top row first
    for (std::int32_t x = 0; x < picture.width; ++x)
      for (int shift : {0, 8, 16}) bgr.push_back(static_cast<std::uint8_t>(picture.At(x, y) >> shift));
  ASSERT_TRUE(MagickConstituteImage(wand, static_cast<std::size_t>(picture.width),
                                    static_cast<std::size_t>(picture.height), "BGR", CharPixel, bgr.data()));
  MagickSetImageCompressionQuality(wand, 100);
  ASSERT_TRUE(MagickWriteImage(wand, (format + ":" + path).c_str()));
  DestroyMagickWand(wand);
}

// The colours LodePNG decodes from a PNG, alpha left out.
Picture DecodePng(const std::string& path) {
  std::vector<unsigned char> rgba;
  unsigned width = 0, height = 0;
  Picture picture;
  if (lodepng::decode(rgba, width, height, path) != 0) return picture;
  picture = testing::Plain(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), 0);
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = 0; x < width; ++x) {
      const unsigned char* p = &rgba[4 * ((height - 1 - y) * width + x)];
      picture.At(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)) = p[2] | (p[1] << 8) | (p[0] << 16);
    }
  return picture;
}

// Largest difference of one channel between two pictures of one size.
int MaxChannelDifference(const Picture& a, const Picture& b) {
  int most = 0;
  for (std::size_t k = 0; k < a.colours.size(); ++k)
    for (int shift : {0, 8, 16})
      most = std::max(most, std::abs(static_cast<int>((a.colours[k] >> shift) & 255) -
                                     static_cast<int>((b.colours[k] >> shift) & 255)));
  return most;
}

class ImportTest : public testing::ScratchDirTest {
 protected:
  const ImagingApi& Imaging() {
    const ImagingApi& imaging = LoadImagingLibrary();
    EXPECT_TRUE(imaging.available);
    return imaging;
  }
  // The job's import through the library, its messages shown to errors_.
  const ImportSetup& JobImport() {
    setup_.imaging = &Imaging();
    setup_.errors = errors_.display;
    return setup_;
  }
  AppState app_;
  ShownErrors errors_;
  ImportSetup setup_;
};

// Every load binds the library for its own record: records from earlier loads keep working
// whatever later loads find.
TEST_F(ImportTest, EachLoadMakesARecordOfItsOwn) {
  const ImagingApi first = LoadImagingLibraryFrom("libMagickWand-6.Q16.so.6");
  ASSERT_TRUE(first.available);
  EXPECT_FALSE(LoadImagingLibraryFrom("libquillet-no-such-library.so.6").available);
  EXPECT_FALSE(LoadImagingLibraryFrom("libc.so.6").available);  // loads, but has no entry points
  const ImagingApi second = LoadImagingLibraryFrom("libMagickWand-6.Q16.so.6");
  ASSERT_TRUE(second.available);
  EXPECT_TRUE(Imaging().available);
  const Picture picture = testing::SpriteLike(7, 5, 3, 4);
  WriteWithMagick(picture, "PNG", "in.png");
  for (const ImagingApi* imaging : {&first, &second, &first}) {
    AppState app;
    ASSERT_TRUE(ImportImage(app, *imaging, errors_.display, "in.png"));
    EXPECT_EQ(testing::PictureOf(app.workingBitmap).colours, picture.colours);
  }
  EXPECT_TRUE(errors_.texts.empty());
}

// A library that does not load is named with the loader's reason.
TEST_F(ImportTest, WithoutTheLibraryOnly24BitBmpFilesImport) {
  const ImagingApi none = LoadImagingLibraryFrom("libquillet-no-such-library.so.6");
  const Picture picture = testing::SpriteLike(5, 3, 3, 2);
  testing::WriteFile("in.bmp", testing::Bmp24File(picture));
  EXPECT_TRUE(ImportImage(app_, none, errors_.display, "in.bmp"));
  EXPECT_EQ(testing::PictureOf(app_.workingBitmap).colours, picture.colours);
  EXPECT_TRUE(errors_.texts.empty());

  std::filesystem::copy_file(kPngDir + "/basn2c08.png", "in.png");
  EXPECT_FALSE(ImportImage(app_, none, errors_.display, "in.png"));
  EXPECT_FALSE(HasImage24(app_.workingBitmap));
  EXPECT_EQ(errors_.texts, std::vector<std::string>{
                               "Image conversion failed because MagickWand could not be loaded: "
                               "libquillet-no-such-library.so.6: cannot open shared object file: No such file or "
                               "directory.\nTry saving the image as a 24-bit BMP in some other program, and importing "
                               "that."});
  EXPECT_FALSE(ImportImage(app_, none, errors_.display, "missing.png"));  // no message either way
  EXPECT_FALSE(ImportImage(app_, Imaging(), errors_.display, "missing.png"));
  EXPECT_EQ(errors_.texts.size(), 1u);
  EXPECT_EQ(Listing(), "in.bmp in.png");
}

TEST_F(ImportTest, GarbageFailsWithTheConversionMessage) {
  const ImagingApi& imaging = Imaging();
  testing::WriteFile("garbage.png", std::vector<std::uint8_t>(300, 0x5a));
  std::vector<std::uint8_t> broken = testing::ReadFileBytes(kPngDir + "/basn2c08.png");
  broken.resize(60);  // a PNG cut short in its first chunk
  testing::WriteFile("broken.png", broken);
  testing::WriteFile("empty.jpg", {});
  // Each message gives the library's reason and the common formats it reads.
  const std::string formats = "\nMagickWand reads PNG, JPEG, GIF, BMP, TIFF, WebP, TGA, ICO, PCX, XPM, PSD, PNM and ";
  const struct {
    const char* name;
    const char* reason;
  } cases[] = {{"garbage.png", "improper image header"},
               {"broken.png", "insufficient image data in file"},
               {"empty.jpg", "the file is empty"},
               {".", "read error"},  // its report stays the BMP loader's: a directory
               {"list.svg", "its format (SVG) is one that is not read here"}};
  testing::WriteFile("list.svg", std::vector<std::uint8_t>{'<', 's', 'v', 'g', '>'});
  for (const auto& c : cases) {
    errors_.texts.clear();
    EXPECT_FALSE(ImportImage(app_, imaging, errors_.display, c.name)) << c.name;
    ASSERT_EQ(errors_.texts.size(), 1u) << c.name;
    const std::string prefix = std::string("Image conversion failed: not an image file that can be read: ") + c.reason;
    EXPECT_EQ(errors_.texts[0].substr(0, prefix.size() + formats.size() + 1), prefix + "." + formats) << c.name;
    if (c.name[0] == '.') continue;
    EXPECT_EQ(app_.importReport.problem, InputProblem::kConversionFailed) << c.name;
    EXPECT_EQ(app_.importReport.reason, std::string(c.reason)) << c.name;
  }
  std::filesystem::remove("list.svg");
  EXPECT_EQ(Listing(), "broken.png empty.jpg garbage.png");
}

// Every colour type and bit depth; alpha is dropped and the stored colour kept, also under
// fully transparent pixels. Sixteen-bit samples may round either way to eight bits.
// A picture whose header gives a size over the job's limit is not decoded: the import fails at
// once with the size, and shows no conversion message.
TEST_F(ImportTest, HugePicturesAreRefusedFromTheirHeader) {
  // 3000 x 3000 in one bit a pixel: 1 KB of file, 1.6 GB once enlarged eight times.
  std::vector<unsigned char> png;
  ASSERT_EQ(lodepng::encode(png, std::vector<unsigned char>(3000 * 3000 / 8), 3000, 3000, LCT_GREY, 1), 0u);
  testing::WriteFile("huge.png", std::vector<std::uint8_t>(png.begin(), png.end()));
  EXPECT_FALSE(ImportImage(app_, Imaging(), errors_.display, "huge.png"));
  EXPECT_EQ(app_.importReport.problem, InputProblem::kTooLarge);
  EXPECT_EQ(app_.importReport.width, 3000);
  EXPECT_EQ(app_.importReport.height, 3000);
  EXPECT_TRUE(errors_.texts.empty());
  EXPECT_EQ(Listing(), "huge.png");
}

TEST_F(ImportTest, EveryPngSuiteImageImportsWithItsStoredColours) {
  const ImagingApi& imaging = Imaging();
  int imported = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kPngDir)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".png") continue;
    errors_.texts.clear();
    const bool corrupt = name[0] == 'x';  // PngSuite's files that must not decode
    EXPECT_EQ(ImportImage(app_, imaging, errors_.display, entry.path().c_str()), !corrupt) << name;
    EXPECT_EQ(errors_.texts.size(), corrupt ? 1u : 0u) << name;
    EXPECT_EQ(Listing(), "") << name;
    if (corrupt) continue;
    ++imported;
    const Picture expected = DecodePng(entry.path().string());
    const Picture got = testing::PictureOf(app_.workingBitmap);
    ASSERT_EQ(got.width, expected.width) << name;
    ASSERT_EQ(got.height, expected.height) << name;
    const bool sixteen = name.find("16") != std::string::npos;
    EXPECT_LE(MaxChannelDifference(got, expected), sixteen ? 1 : 0) << name;
  }
  EXPECT_GT(imported, 150);
}

TEST_F(ImportTest, ThirtyTwoBitBmpsImportWithTheirStoredColours) {
  const ImagingApi& imaging = Imaging();
  int imported = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kBmpDir)) {
    const std::string name = entry.path().filename().string();
    WorkingBitmap original;
    ASSERT_GT(LoadBitmapFile(entry.path().c_str(), original), 0) << name;
    ASSERT_EQ(HeaderBitCount(original.header.get()), 32) << name;
    ASSERT_TRUE(ImportImage(app_, imaging, errors_.display, entry.path().c_str())) << name;
    const Picture got = testing::PictureOf(app_.workingBitmap);
    const std::int32_t width = HeaderWidth(original.header.get());
    const std::int32_t height = HeaderHeight(original.header.get());
    ASSERT_EQ(got.width, width) << name;
    ASSERT_EQ(got.height, height) << name;
    bool same = true;
    for (std::int32_t y = 0; y < height; ++y)
      for (std::int32_t x = 0; x < width; ++x)
        same = same && got.At(x, y) == PackColour(&original.pixels[static_cast<std::size_t>(4 * (y * width + x))]);
    EXPECT_TRUE(same) << name;
    ++imported;
  }
  EXPECT_GT(imported, 100);
  EXPECT_TRUE(errors_.texts.empty());
  EXPECT_EQ(Listing(), "");
}

TEST_F(ImportTest, OtherFormatsAndDepthsConvertToTheSamePicture) {
  const ImagingApi& imaging = Imaging();
  Picture picture = testing::SpriteLike(16, 9, 6, 7);
  for (std::size_t k = 0; k < 37; ++k) picture.colours[k * 3] = static_cast<std::uint32_t>(k) * 0x050301;  // > 16 colours
  testing::WriteFile("in8.bmp", Bmp8File(picture));
  ASSERT_GT(LoadBitmapFile("in8.bmp", app_.workingBitmap), 0);
  ASSERT_EQ(HeaderBitCount(app_.workingBitmap.header.get()), 8);
  WriteWithMagick(picture, "GIF", "in.gif");
  WriteWithMagick(picture, "TIFF", "in.tif");
  WriteWithMagick(picture, "PNG", "in.png");
  WriteWithMagick(picture, "JPEG", "in.jpg");
  // Formats of no fixed list: found by their signature, or (TGA) by the name's ending.
  WriteWithMagick(picture, "PCX", "in.pcx");
  WriteWithMagick(picture, "XPM", "in.xpm");
  WriteWithMagick(picture, "TGA", "in.tga");
  for (const char* name : {"in8.bmp", "in.gif", "in.tif", "in.png", "in.pcx", "in.xpm", "in.tga"}) {
    ASSERT_TRUE(ImportImage(app_, imaging, errors_.display, name)) << name;
    EXPECT_EQ(testing::PictureOf(app_.workingBitmap).colours, picture.colours) << name;
  }
  ASSERT_TRUE(ImportImage(app_, imaging, errors_.display, "in.jpg"));
  const Picture jpeg = testing::PictureOf(app_.workingBitmap);
  ASSERT_EQ(jpeg.width, picture.width);
  ASSERT_EQ(jpeg.height, picture.height);
  EXPECT_LE(MaxChannelDifference(jpeg, picture), 64);  // lossy, yet the same picture
  EXPECT_TRUE(errors_.texts.empty());
  EXPECT_EQ(Listing(), "in.gif in.jpg in.pcx in.png in.tga in.tif in.xpm in8.bmp");
}

TEST_F(ImportTest, TheTiffStepWritesThreeEightBitSamples) {
  const ImagingApi& imaging = Imaging();
  for (const char* name : {"basn0g01.png", "basn3p02.png", "basn4a16.png", "basn6a08.png"}) {
    ImageHandle image = imaging.loadImage(imaging.context, (kPngDir + "/" + name).c_str());
    ASSERT_TRUE(image && imaging.saveTiff24(imaging.context, image, "out.tif")) << name;
    imaging.disposeImage(imaging.context, image);
    MagickWand* wand = NewMagickWand();
    ASSERT_TRUE(MagickReadImage(wand, "TIFF:out.tif")) << name;
    char* photometric = MagickGetImageProperty(wand, "tiff:photometric");
    EXPECT_STREQ(photometric, "RGB") << name;
    EXPECT_EQ(MagickGetImageDepth(wand), 8u) << name;
    EXPECT_EQ(MagickGetImageAlphaChannel(wand), MagickFalse) << name;
    MagickRelinquishMemory(photometric);
    DestroyMagickWand(wand);
    std::filesystem::remove("out.tif");  // the step only creates files
  }
}

// The library must not read meaning into a user's file name.
TEST_F(ImportTest, FileNamesAreTakenLiterally) {
  const ImagingApi& imaging = Imaging();
  const Picture picture = testing::SpriteLike(6, 6, 3, 3);
  WriteWithMagick(picture, "PNG", "plain.png");
  for (const char* name : {"frame[1].png", "png:x", "@list", "|cat", "-"}) {
    std::filesystem::copy_file("plain.png", name);
    errors_.texts.clear();
    EXPECT_TRUE(ImportImage(app_, imaging, errors_.display, name)) << name;
    EXPECT_EQ(testing::PictureOf(app_.workingBitmap).colours, picture.colours) << name;
    EXPECT_TRUE(errors_.texts.empty()) << name;
    std::filesystem::remove(name);
  }
}

// Files in the current directory under the names the conversion gives its temporary files
// are left alone, and the conversion's own files are gone afterwards.
TEST_F(ImportTest, FilesUnderTheTemporaryNamesAreLeftAlone) {
  const ImagingApi& imaging = Imaging();
  const Picture picture = testing::SpriteLike(9, 4, 3, 5);
  WriteWithMagick(picture, "PNG", "in.png");
  const std::vector<std::uint8_t> bmp = testing::Bmp24File(testing::Plain(3, 3, 0xff0000));
  testing::WriteFile("temp24.bmp", bmp);
  WriteWithMagick(testing::Plain(3, 3, 0x00ff00), "TIFF", "temp24.tif");
  const std::vector<std::uint8_t> tiff = testing::ReadFileBytes("temp24.tif");
  ASSERT_TRUE(ImportImage(app_, imaging, errors_.display, "in.png"));
  EXPECT_EQ(testing::PictureOf(app_.workingBitmap).colours, picture.colours);
  EXPECT_EQ(Listing(), "in.png temp24.bmp temp24.tif");
  EXPECT_EQ(testing::ReadFileBytes("temp24.bmp"), bmp);
  EXPECT_EQ(testing::ReadFileBytes("temp24.tif"), tiff);
  EXPECT_EQ(TempListing(), "");
}

// A temporary file that cannot be created fails the import without blaming the image, and
// what was planted under its name (a link here) is not written through.
TEST_F(ImportTest, ATemporaryFileThatCannotBeCreatedIsNotTheImagesFault) {
  const ImagingApi& imaging = Imaging();
  WriteWithMagick(testing::SpriteLike(5, 5, 3, 2), "PNG", "in.png");
  testing::WriteFile("victim", {'v'});
  JobTemporaries temporaries;
  ASSERT_TRUE(CreateJobTemporaries(temporaries));
  std::filesystem::create_symlink(Dir() + "/victim", temporaries.importTiffName);
  app_.temporaries = &temporaries;
  EXPECT_FALSE(ImportImage(app_, imaging, errors_.display, "in.png"));
  app_.temporaries = nullptr;
  EXPECT_TRUE(errors_.texts.empty());  // the job reports it
  EXPECT_TRUE(OutputFailed());
  EXPECT_STREQ(LastOutputFailure().path, temporaries.importTiffName);
  EXPECT_EQ(testing::ReadFileBytes("victim"), std::vector<std::uint8_t>{'v'});

  // Outside a job the import says so itself.
  const std::string missing = TempDir() + "/missing";
  setenv("TMPDIR", missing.c_str(), 1);
  EXPECT_FALSE(ImportImage(app_, imaging, errors_.display, "in.png"));
  EXPECT_EQ(errors_.texts,
            std::vector<std::string>{"cannot create a temporary file in " + TempDir() + ": No such file or directory"});

  // Nor does a job whose temporary names the registry cannot take: it makes nothing, and says so.
  setenv("TMPDIR", TempDir().c_str(), 1);
  const std::string before = TempListing();
  std::vector<int> held;
  for (int slot; (slot = pixeltools::RegisterTemporary("held", false)) >= 0;) held.push_back(slot);
  JobTemporaries refused;
  EXPECT_FALSE(CreateJobTemporaries(refused));
  for (const int slot : held) pixeltools::ReleaseTemporary(slot);
  EXPECT_STREQ(LastOutputFailure().reason, "too many temporary files at once");
  EXPECT_EQ(TempListing(), before);
}

// What a conversion that failed without a reason from the library shows.
const std::string kFakeFailure = "Image conversion failed: not an image file that can be read.";

// A stand-in library that checks the order of the temporary files' lives. Its state is the
// record's context, so two fakes never see each other's calls.
struct FakeLibrary {
  std::vector<std::string> calls;  // file names without their directories
  bool failTiffSave = false;
  bool failBmpSave = false;
  bool outOfMemory = false;  // the load fails as the library does when memory runs out
  std::string tiffPath, bmpPath;

  static FakeLibrary& Of(void* context) { return *static_cast<FakeLibrary*>(context); }
  static std::string Base(const char* name) { return std::filesystem::path(name).filename().string(); }
  static ImageHandle Load(void* context, const char* name) {
    Of(context).calls.push_back("load " + Base(name));
    if (Of(context).outOfMemory) NoteImagingFailure(ImagingProblem::kOutOfMemory, "memory allocation failed");
    return Exists(name) && !Of(context).outOfMemory ? new std::string(Base(name)) : nullptr;
  }
  static bool SaveTiff(void* context, ImageHandle, const char* name) {
    FakeLibrary& fake = Of(context);
    fake.calls.push_back("tiff " + Base(name));
    fake.tiffPath = name;
    testing::WriteFile(name, {'I', 'I', '*', 0});
    return !fake.failTiffSave;
  }
  static bool SaveBmp(void* context, ImageHandle, const char* name) {
    FakeLibrary& fake = Of(context);
    fake.calls.push_back("bmp " + Base(name));
    fake.bmpPath = name;
    if (!fake.failBmpSave) testing::WriteFile(name, testing::Bmp24File(testing::Plain(2, 2, 0x0000ff)));
    return !fake.failBmpSave;
  }
  static void Dispose(void* context, ImageHandle image) {
    FakeLibrary& fake = Of(context);
    std::string* name = static_cast<std::string*>(image);
    fake.calls.push_back("dispose " + *name + (!fake.tiffPath.empty() && Exists(fake.tiffPath) ? " tif" : "") +
                         (!fake.bmpPath.empty() && Exists(fake.bmpPath) ? " bmp" : ""));
    delete name;
  }
  ImagingApi Api() {
    ImagingApi api;
    api.available = true;
    api.context = this;
    api.loadImage = Load;
    api.saveTiff24 = SaveTiff;
    api.saveBmp24 = SaveBmp;
    api.disposeImage = Dispose;
    return api;
  }
};

TEST_F(ImportTest, TemporaryFilesAreDeletedOnlyAfterTheirImagesAreReleased) {
  FakeLibrary fake;
  testing::WriteFile("in.gif", {'G', 'I', 'F'});
  ASSERT_TRUE(ImportImage(app_, fake.Api(), errors_.display, "in.gif"));
  EXPECT_EQ(testing::PictureOf(app_.workingBitmap).colours, testing::Plain(2, 2, 0x0000ff).colours);
  EXPECT_EQ(fake.calls,
            (std::vector<std::string>{"load in.gif", "tiff temp24.tif", "load temp24.tif", "bmp temp24.bmp",
                                      "dispose temp24.tif tif bmp", "dispose in.gif bmp"}));
  EXPECT_EQ(Listing(), "in.gif");
  EXPECT_EQ(TempListing(), "");
  EXPECT_TRUE(errors_.texts.empty());
}

// Each import works through the record it is given: two fakes failing at different steps.
TEST_F(ImportTest, AFailedConversionShowsItsMessage) {
  FakeLibrary tiffFails, bmpFails;
  tiffFails.failTiffSave = true;
  bmpFails.failBmpSave = true;
  const ImagingApi first = tiffFails.Api();
  const ImagingApi second = bmpFails.Api();
  testing::WriteFile("in.gif", {'G', 'I', 'F'});
  EXPECT_FALSE(ImportImage(app_, first, errors_.display, "in.gif"));
  EXPECT_EQ(tiffFails.calls, (std::vector<std::string>{"load in.gif", "tiff temp24.tif", "dispose in.gif tif"}));
  EXPECT_EQ(Listing(), "in.gif");
  EXPECT_EQ(TempListing(), "");  // the half-saved TIFF went with the directory
  EXPECT_EQ(errors_.texts, std::vector<std::string>{kFakeFailure});

  errors_.texts.clear();
  EXPECT_FALSE(ImportImage(app_, second, errors_.display, "in.gif"));
  EXPECT_FALSE(HasImage24(app_.workingBitmap));
  EXPECT_EQ(bmpFails.calls, (std::vector<std::string>{"load in.gif", "tiff temp24.tif", "load temp24.tif",
                                                      "bmp temp24.bmp", "dispose temp24.tif tif",
                                                      "dispose in.gif"}));
  EXPECT_EQ(tiffFails.calls.size(), 3u);
  EXPECT_EQ(Listing(), "in.gif");
  EXPECT_EQ(TempListing(), "");
  EXPECT_EQ(errors_.texts, std::vector<std::string>{kFakeFailure});

  // Memory the library runs out of is no fault of the file: the job ends with its own status.
  FakeLibrary starved;
  starved.outOfMemory = true;
  errors_.texts.clear();
  EXPECT_FALSE(ImportImage(app_, starved.Api(), errors_.display, "in.gif"));
  EXPECT_EQ(errors_.texts, std::vector<std::string>{"Image conversion failed: memory ran out: memory allocation failed."});
  JobResult job;
  job.enlarge.input = app_.importReport;
  EXPECT_EQ(job.enlarge.input.problem, InputProblem::kOutOfMemory);
  EXPECT_EQ(ReportJobResult(app_, job), kExitOutOfMemory);
}

// The whole job from a PNG: the importer brings the input in and the job cleans up after it.
TEST_F(ImportTest, AJobFromAPngLeavesOnlyItsFrame) {
  const Picture picture = testing::SpriteLike(6, 5, 3, 9);
  WriteWithMagick(picture, "PNG", "in.png");
  std::snprintf(app_.runParameters.inputName, kPathChars, "in.png");
  std::snprintf(app_.runParameters.outputName, kPathChars, "out");
  const JobResult job = RunQuilletJob(app_, ProgressOf(app_), ImporterFor(JobImport()), BmpFileSink(BmpFileOptions{}));
  EXPECT_TRUE(job.Succeeded());
  EXPECT_EQ(HeaderWidth(app_.workingBitmap.header.get()), 48);
  EXPECT_EQ(Listing(), "in.png out.bmp");
  EXPECT_EQ(TempListing(), "");

  const std::vector<std::uint8_t> frame = testing::ReadFileBytes("out.bmp");
  std::snprintf(app_.runParameters.inputName, kPathChars, "in.gif");
  testing::WriteFile("in.gif", {'G', 'I', 'F', '8', '9', 'a'});
  const JobResult failed = RunQuilletJob(app_, ProgressOf(app_), ImporterFor(JobImport()), BmpFileSink(BmpFileOptions{}));
  EXPECT_FALSE(failed.enlarge.inputImported);
  EXPECT_EQ(failed.frames.framesWritten, 0);
  EXPECT_EQ(testing::ReadFileBytes("out.bmp"), frame);  // the last job's frame is left alone
  ASSERT_EQ(errors_.texts.size(), 1u);
  EXPECT_EQ(errors_.texts[0].rfind("Image conversion failed: not an image file that can be read: insufficient", 0), 0u);
}

}  // namespace
}  // namespace quillet
