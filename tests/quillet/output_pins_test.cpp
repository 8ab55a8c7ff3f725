// Golden hashes of quillet's output: the smart 2x step, single frames and whole jobs over
// pictures built here, so that any change of a single output byte shows. The pictures,
// the hash and the expected values are all in this file and output_pins.h; the engine is
// reached only through its own interface.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "output_pins.h"
#include "quillet/app_state.h"
#include "quillet/job.h"
#include "quillet/bitmap.h"
#include "quillet/enlarge.h"
#include "quillet/pipeline.h"
#include "quillet/render.h"
#include "quillet/sprite_job.h"
#include "test_images.h"

namespace quillet {
namespace {

using testing::Picture;

// FNV-1a 64 over width and height (4 bytes each, little-endian) and the rows, padding included.
std::uint64_t HashImage(std::int32_t width, std::int32_t height, const std::uint8_t* pixels) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  auto add = [&h](std::uint8_t byte) {
    h ^= byte;
    h *= 0x100000001b3ull;
  };
  for (std::int32_t value : {width, height})
    for (int k = 0; k < 4; ++k) add(static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * k)));
  const std::int64_t bytes = width > 0 && height > 0 ? Stride24(width) * height : 0;
  for (std::int64_t k = 0; k < bytes; ++k) add(pixels[k]);
  return h;
}

std::uint64_t HashOf(const OutputBitmap& b) {
  if (!b.pixels) return 0;
  return HashImage(HeaderWidth(b.header.get()), HeaderHeight(b.header.get()), b.pixels);
}

std::uint64_t HashOf(const WorkingBitmap& b) {
  if (!HasImage24(b)) return 0;
  return HashImage(HeaderWidth(b.header.get()), HeaderHeight(b.header.get()), b.pixels.data());
}

struct Random {
  std::uint32_t state;
  std::uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
};

// Every pixel an independent 24-bit colour.
Picture Noise(std::int32_t w, std::int32_t h, std::uint32_t seed) {
  Random random{seed};
  Picture p = testing::Plain(w, h, 0);
  for (std::uint32_t& c : p.colours) c = random.Next() & 0xFFFFFF;
  return p;
}

// A few colours in horizontal runs and square blobs, as pixel art has them.
Picture FewColours(std::int32_t w, std::int32_t h, int colours, std::uint32_t seed) {
  Random random{seed};
  std::vector<std::uint32_t> palette;
  for (int k = 0; k < colours; ++k) palette.push_back(random.Next() & 0xFFFFFF);
  Picture p = testing::Plain(w, h, palette[0]);
  for (std::int32_t y = 0; y < h; ++y) {
    for (std::int32_t x = 0; x < w;) {
      const std::int32_t run = 1 + static_cast<std::int32_t>(random.Next() % 6);
      const std::uint32_t colour = random.Next() % 3 == 0 ? palette[random.Next() % palette.size()] : palette[0];
      for (std::int32_t k = 0; k < run && x < w; ++k, ++x) p.At(x, y) = colour;
    }
  }
  for (int blob = 0; blob < w * h / 40; ++blob) {
    const std::int32_t x0 = static_cast<std::int32_t>(random.Next() % w);
    const std::int32_t y0 = static_cast<std::int32_t>(random.Next() % h);
    const std::int32_t side = 1 + static_cast<std::int32_t>(random.Next() % 5);
    const std::uint32_t colour = palette[random.Next() % palette.size()];
    for (std::int32_t y = y0; y < y0 + side && y < h; ++y)
      for (std::int32_t x = x0; x < x0 + side && x < w; ++x) p.At(x, y) = colour;
  }
  return p;
}

// A diamond whose tips touch all four sides, a frame one pixel in from the edge, single
// stray pixels on the border; the bottom-left corner keeps the background.
Picture TouchingEdges(std::int32_t w, std::int32_t h) {
  constexpr std::uint32_t kBack = 0x102030, kInk = 0xE0C040, kLine = 0x3050F0, kDot = 0xFFFFFF;
  Picture p = testing::Plain(w, h, kBack);
  const std::int32_t cx = w / 2, cy = h / 2;
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) {
      const std::int64_t dx = x > cx ? x - cx : cx - x, dy = y > cy ? y - cy : cy - y;
      if (dx * h + dy * w <= std::int64_t{w} * h / 2) p.At(x, y) = kInk;
      if ((x == 1 || x == w - 2) && y > 0 && y < h - 1) p.At(x, y) = kLine;
      if ((y == 1 || y == h - 2) && x > 0 && x < w - 1) p.At(x, y) = kLine;
    }
  p.At(w - 1, h - 1) = kDot;
  p.At(w / 3, 0) = kDot;
  p.At(0, h / 3) = kDot;
  p.At(w - 1, 2) = kDot;
  return p;
}

// Wide flat background around a patch of noise, a patch of few colours and a few stray
// pixels: most of the enlargement scores 0, with every kind of score next to it.
Picture Islands(std::int32_t w, std::int32_t h) {
  Picture p = testing::Plain(w, h, 0x2040A0);
  const Picture noise = Noise(w / 4, h / 4, 17);
  const Picture few = FewColours(w / 3, h / 3, 4, 41);
  for (std::int32_t y = 0; y < noise.height; ++y)
    for (std::int32_t x = 0; x < noise.width; ++x) p.At(w / 8 + x, h / 2 + y) = noise.At(x, y);
  for (std::int32_t y = 0; y < few.height; ++y)
    for (std::int32_t x = 0; x < few.width; ++x) p.At(w / 2 + x, h / 8 + y) = few.At(x, y);
  p.At(w - 5, h - 6) = 0xF0F0F0;
  p.At(4, 3) = 0x000000;
  p.At(w / 2, h - 3) = 0x2040A1;
  return p;
}

struct Sprite {
  const char* name;
  Picture picture;
};

const std::vector<Sprite>& Sprites() {
  static const std::vector<Sprite> sprites = {
      {"dot1x1", testing::Plain(1, 1, 0x405060)},
      {"few2x3", FewColours(2, 3, 2, 7)},
      {"few7x5", FewColours(7, 5, 3, 11)},
      {"noise16", Noise(16, 16, 5)},
      {"edges24x20", TouchingEdges(24, 20)},
      {"few64x48", FewColours(64, 48, 5, 23)},
      {"noise33x9", Noise(33, 9, 99)},
      {"few256", FewColours(256, 256, 6, 31)},
      {"islands96x80", Islands(96, 80)},
  };
  return sprites;
}

const Sprite& SpriteNamed(const std::string& name) {
  for (const Sprite& s : Sprites())
    if (name == s.name) return s;
  ADD_FAILURE() << "no sprite " << name;
  return Sprites().front();
}

WorkingBitmap Source(const Picture& picture) {
  WorkingBitmap bitmap;
  testing::SetPicture(bitmap, picture);
  return bitmap;
}

// The smart 2x step applied once; false when it refused.
bool StepOnce(WorkingBitmap& bitmap) {
  OutputBitmap out =
      CreateOutputBitmap(bitmap, 2 * HeaderWidth(bitmap.header.get()), 2 * HeaderHeight(bitmap.header.get()));
  if (!EnlargeInto(bitmap, out)) return false;
  WorkingBitmap next;
  testing::SetPicture(next, testing::PictureOf(out));
  bitmap = std::move(next);
  return true;
}

// Eight-times enlargements, made once per sprite and process.
const WorkingBitmap& EightTimes(const std::string& name) {
  static std::vector<std::pair<std::string, WorkingBitmap>> made;
  for (const auto& entry : made)
    if (entry.first == name) return entry.second;
  WorkingBitmap bitmap = Source(SpriteNamed(name).picture);
  for (int step = 0; step < 3; ++step) EXPECT_TRUE(StepOnce(bitmap));
  made.emplace_back(name, std::move(bitmap));
  return made.back().second;
}

std::uint64_t Expected(const std::string& key) {
  for (const PinnedHash& pin : kPinnedHashes)
    if (key == pin.key) return pin.hash;
  return 0;
}

// Compares every key with its pinned hash; on a difference prints the lines to pin anew.
void ExpectPinned(const std::vector<std::pair<std::string, std::uint64_t>>& seen) {
  std::string mismatches;
  for (const auto& [key, hash] : seen) {
    if (hash == Expected(key)) continue;
    char line[160];
    std::snprintf(line, sizeof line, "    {\"%s\", 0x%016llxull},\n", key.c_str(),
                  static_cast<unsigned long long>(hash));
    mismatches += line;
  }
  EXPECT_TRUE(mismatches.empty()) << "output differs from its pinned hash:\n" << mismatches;
}

std::string FrameKey(const char* prefix, const std::string& sprite, double angle, double scale) {
  char key[96];
  std::snprintf(key, sizeof key, "%s/%s/%g/%g", prefix, sprite.c_str(), angle, scale);
  return key;
}

TEST(OutputPins, SmartStepAloneAndChained) {
  std::vector<std::pair<std::string, std::uint64_t>> seen;
  for (const Sprite& sprite : Sprites()) {
    WorkingBitmap bitmap = Source(sprite.picture);
    for (int step = 1; step <= 3; ++step) {
      ASSERT_TRUE(StepOnce(bitmap)) << sprite.name;
      seen.emplace_back(std::string("step") + std::to_string(step) + "/" + sprite.name, HashOf(bitmap));
    }
  }
  ExpectPinned(seen);
}

struct FrameCase {
  const char* sprite;
  double angle;
  double scale;
};

constexpr double kAngles[] = {0, 30, 45, 90, 180, -17.5, 359.9};
constexpr double kScales[] = {0.5, 1, 1.5, 3};

// Every frame with every kernel path this processor runs, on 1, 2 and 3 threads; each must
// give the pinned bytes.
void CheckFrames(const std::vector<FrameCase>& cases) {
  const KernelPath before = KernelsInUse();
  AppState app;
  for (KernelPath path : {KernelPath::kPlain, KernelPath::kSse2, KernelPath::kAvx2}) {
    if (!UseKernels(path)) continue;
    std::vector<std::pair<std::string, std::uint64_t>> seen;
    for (const FrameCase& c : cases) {
      const WorkingBitmap& source = EightTimes(c.sprite);
      const std::uint64_t single = HashOf(RenderFrameBitmap(ProgressOf(app), source, c.angle, c.scale, 1));
      seen.emplace_back(FrameKey("frame", c.sprite, c.angle, c.scale), single);
      for (int threads : {2, 3})
        EXPECT_EQ(HashOf(RenderFrameBitmap(ProgressOf(app), source, c.angle, c.scale, threads)), single)
            << c.sprite << " " << c.angle << " " << c.scale << " threads " << threads << " path "
            << static_cast<int>(path);
    }
    SCOPED_TRACE("kernel path " + std::to_string(static_cast<int>(path)));
    ExpectPinned(seen);
  }
  UseKernels(before);
}

TEST(OutputPins, SmallFramesOverAnglesAndScales) {
  std::vector<FrameCase> cases;
  int k = 0;
  for (const char* sprite : {"few7x5", "noise16", "edges24x20"})
    for (double angle : kAngles)
      for (double scale : kScales)
        if (std::string(sprite) != "noise16" || (k++ % 2) == 0) cases.push_back({sprite, angle, scale});
  for (double angle : {0.0, 45.0, -17.5}) {
    cases.push_back({"dot1x1", angle, 1});
    cases.push_back({"few2x3", angle, angle == 0 ? 3.0 : 1.5});
    cases.push_back({"noise33x9", angle, 0.5});
  }
  cases.push_back({"dot1x1", 90, 3});
  cases.push_back({"few2x3", 359.9, 0.5});
  CheckFrames(cases);
}

TEST(OutputPins, LargeFrames) {
  std::vector<FrameCase> cases;
  for (double angle : kAngles) cases.push_back({"few64x48", angle, angle == 30 ? 3.0 : 1.0});
  cases.push_back({"few64x48", 30, 0.5});
  cases.push_back({"few64x48", -17.5, 1.5});
  cases.push_back({"few256", 30, 1});
  cases.push_back({"few256", -17.5, 0.5});
  for (double angle : {0.0, 30.0, -17.5, 90.0})
    for (double scale : {0.5, 1.0, 3.0}) cases.push_back({"islands96x80", angle, scale});
  CheckFrames(cases);
}

// Whole jobs: the input enters through the importer as a front end's would, the
// enlargement goes through its temporary file, and the frames are read back.
struct InMemoryInput {
  const char* inputName;
  const Picture* picture;
};

bool ImportForJob(void* context, AppState& app, const char* fileName) {
  const InMemoryInput& input = *static_cast<const InMemoryInput*>(context);
  if (std::strcmp(fileName, input.inputName) == 0) {
    testing::SetPicture(app.workingBitmap, *input.picture);
  } else {
    LoadBitmapFile(fileName, app.workingBitmap);
  }
  return HasImage24(app.workingBitmap);
}

void RunPinnedJob(const char* sprite, const char* outputName, const RunParameters& parameters,
                  const std::vector<std::string>& frameFiles, int threads,
                  std::vector<std::pair<std::string, std::uint64_t>>& seen) {
  AppState app;
  app.runParameters = parameters;
  std::snprintf(app.runParameters.inputName, kPathChars, "%s", "pin-input.png");
  std::snprintf(app.runParameters.outputName, kPathChars, "%s", outputName);
  const InMemoryInput input{app.runParameters.inputName, &SpriteNamed(sprite).picture};
  const ImageImporter importer{ImportForJob, const_cast<InMemoryInput*>(&input)};
  const std::string tempName = std::string(outputName) + "_temp.bmp";
  const EnlargeResult enlarged =
      EnlargeImage(app, ProgressOf(app), importer, app.runParameters.inputName, tempName.c_str(), true);
  ASSERT_TRUE(enlarged.enlarged) << sprite;
  const FramesResult frames = RunFrames(app, ProgressOf(app), BmpFileSink(BmpFileOptions{}), threads);
  EXPECT_EQ(frames.framesWritten, static_cast<int>(frameFiles.size())) << outputName << " threads " << threads;
  for (const std::string& file : frameFiles) {
    WorkingBitmap written;
    LoadBitmapFile(file.c_str(), written);
    seen.emplace_back("job/" + file, HashOf(written));
    std::remove(file.c_str());
  }
}

// Every job on 1, 2 and 3 threads; series frames may be made side by side, written in order.
TEST(OutputPins, WholeJobs) {
  std::vector<std::string> files;
  for (int threads : {1, 2, 3}) {
    std::vector<std::pair<std::string, std::uint64_t>> seen;
    RunParameters single;
    single.angle = 30;
    single.endAngle = 30;
    single.scale = 1.5;
    single.endScale = 1.5;
    RunPinnedJob("edges24x20", "pin-job-single", single, {"pin-job-single.bmp"}, threads, seen);

    RunParameters series;
    series.angle = -17.5;
    series.endAngle = 359.9;
    series.scale = 0.5;
    series.endScale = 3;
    series.frameCount = 6;
    files.clear();
    for (int k = 1; k <= 6; ++k) files.push_back("pin-job-series_" + std::to_string(k) + ".bmp");
    RunPinnedJob("few64x48", "pin-job-series.bmp", series, files, threads, seen);

    RunParameters islands;
    islands.angle = 10;
    islands.endAngle = -290;
    islands.scale = 1;
    islands.endScale = 0.75;
    islands.frameCount = 11;
    files.clear();
    for (int k = 1; k <= 11; ++k) {
      char file[64];
      std::snprintf(file, sizeof file, "pin-job-islands_%02d.bmp", k);
      files.push_back(file);
    }
    RunPinnedJob("islands96x80", "pin-job-islands.bmp", islands, files, threads, seen);
    ExpectPinned(seen);
  }
}

// The picture with alpha, rows from the top: pixels of colour `clear` fully transparent, of
// colour `half` half covering, the rest opaque.
RgbaImage WithAlpha(const Picture& picture, std::uint32_t clear, std::uint32_t half) {
  RgbaImage image = BlankImage(picture.width, picture.height);
  for (std::int32_t y = 0; y < picture.height; ++y)
    for (std::int32_t x = 0; x < picture.width; ++x) {
      const std::uint32_t c = picture.At(x, picture.height - 1 - y);
      const std::uint8_t alpha = c == clear ? 0 : c == half ? 128 : 255;
      image.At(x, y) = PackRgba(static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                                static_cast<std::uint8_t>(c), alpha);
    }
  return image;
}

// A job of BMP frames with a background given, from a PNG file when inputName names one, else
// from the sprite through the importer; the frames are read back.
void RunPinnedBackgroundJob(const char* sprite, const char* inputName, const char* outputName,
                            const RunParameters& parameters, const std::vector<std::string>& frameFiles,
                            int threads, std::vector<std::pair<std::string, std::uint64_t>>& seen) {
  AppState app;
  app.runParameters = parameters;
  app.runParameters.backgroundGiven = true;
  app.runParameters.background = 0x30C060;
  std::snprintf(app.runParameters.inputName, kPathChars, "%s", inputName);
  std::snprintf(app.runParameters.outputName, kPathChars, "%s", outputName);
  const InMemoryInput input{app.runParameters.inputName, &SpriteNamed(sprite).picture};
  const ImageImporter importer{ImportForJob, const_cast<InMemoryInput*>(&input)};
  BmpFileOptions options;
  SheetSink sheet;
  const JobResult job =
      RunQuilletJob(app, ProgressOf(app), importer, SinkFor(app.runParameters, options, sheet), threads);
  EXPECT_EQ(job.frames.framesWritten, static_cast<int>(frameFiles.size())) << outputName << " threads " << threads;
  for (const std::string& file : frameFiles) {
    WorkingBitmap written;
    LoadBitmapFile(file.c_str(), written);
    seen.emplace_back("job/" + file, HashOf(written));
    std::remove(file.c_str());
  }
}

// BMP frames over a given background are made as PNG frames are and then laid over it whole:
// a picture with clear and half-covering pixels turned 30 degrees and a quarter turn; an
// opaque one left level (every row of it kept, nothing added) and turned as a series, whose
// corners get the background rather than the colour of its bottom-left pixel.
TEST(OutputPins, BmpFramesOverAGivenBackground) {
  const char* png = "pin-bg-input.png";
  ASSERT_TRUE(WritePngFile(png, WithAlpha(SpriteNamed("edges24x20").picture, 0x102030, 0xFFFFFF)));
  for (int threads : {1, 2, 3}) {
    std::vector<std::pair<std::string, std::uint64_t>> seen;
    RunParameters turn;
    turn.angle = turn.endAngle = 30;
    turn.scale = turn.endScale = 1.5;
    RunPinnedBackgroundJob("edges24x20", png, "pin-bg-single", turn, {"pin-bg-single.bmp"}, threads, seen);
    turn.angle = turn.endAngle = 90;
    turn.scale = turn.endScale = 1;
    RunPinnedBackgroundJob("edges24x20", png, "pin-bg-quarter", turn, {"pin-bg-quarter.bmp"}, threads, seen);

    RunParameters level;
    RunPinnedBackgroundJob("few64x48", "pin-input.png", "pin-bg-level", level, {"pin-bg-level.bmp"}, threads, seen);
    EXPECT_EQ(seen.back().second, HashOf(Source(SpriteNamed("few64x48").picture)));

    RunParameters series;
    series.angle = -17.5;
    series.endAngle = 359.9;
    series.scale = 0.5;
    series.endScale = 2;
    series.frameCount = 4;
    std::vector<std::string> files;
    for (int k = 1; k <= 4; ++k) {
      char file[64];
      std::snprintf(file, sizeof file, "pin-bg-series_%d.bmp", k);
      files.push_back(file);
    }
    RunPinnedBackgroundJob("few64x48", "pin-input.png", "pin-bg-series.bmp", series, files, threads, seen);
    ExpectPinned(seen);
  }
  std::remove(png);
}

// The picture with graded alpha, rows from the top: pixels of colour `clear` fully
// transparent, every third of the rest opaque, the others covering from 1 to 254 of 255, so
// that each colour of a large picture is blended at every partial alpha.
RgbaImage Translucent(const Picture& picture, std::uint32_t clear) {
  RgbaImage image = BlankImage(picture.width, picture.height);
  for (std::int32_t y = 0; y < picture.height; ++y)
    for (std::int32_t x = 0; x < picture.width; ++x) {
      const std::uint32_t c = picture.At(x, picture.height - 1 - y);
      const int alpha = c == clear ? 0 : (x + y) % 3 == 0 ? 255 : 1 + (x * 53 + y * 29) % 254;
      image.At(x, y) = PackRgba(static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                                static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(alpha));
    }
  return image;
}

// FNV-1a 64 over a file's bytes as written, so that the encoder's choices are pinned too.
std::uint64_t HashFile(const std::string& fileName) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (std::uint8_t byte : testing::ReadFileBytes(fileName)) {
    h ^= byte;
    h *= 0x100000001b3ull;
  }
  return h;
}

// A job whose written files are pinned byte for byte (keys "file/<file>"). kSprite runs the
// job with RGBA frames (PNG frames, canvases, sheets, BMP frames over a given
// background); kComposited is the default BMP job, its input laid over the background by the
// compositing import, then enlarged and turned as an opaque picture.
enum class Route { kSprite, kComposited };

struct FileJob {
  const char* output;  // the output name, without extension; the files are listed from it
  const char* sprite;  // a pinned sprite
  bool translucent;    // read from the PNG file of its translucent picture, else opaque through the importer
  Route route;
  OutputFormat format;
  std::int32_t sheetColumns;
  bool backgroundGiven;
  std::uint32_t background;
  double angle, endAngle, scale, endScale;
  std::int32_t frameCount;
};

// Translucent pictures as PNG files: edges24x20 with its background clear, few64x48 with
// every colour kept.
struct TranslucentInput {
  const char* sprite;
  const char* file;
  std::uint32_t clear;
};
constexpr TranslucentInput kTranslucentInputs[] = {
    {"edges24x20", "pin-translucent-edges.png", 0x102030},
    {"few64x48", "pin-translucent-few.png", 0x1000000},
};
constexpr std::uint32_t kDefaultBackground = RunParameters{}.background;
constexpr auto kPng = OutputFormat::kPng;
constexpr auto kBmp = OutputFormat::kBmp;

// The translucent sprite turned as one frame, an exact quarter turn and a series of five on
// their common canvas, then that series as sheets of 2 and 3 columns (last row short), of 5
// (one full row) and of 8 (more columns than frames); an opaque sprite as a PNG frame; and
// BMP frames of the translucent inputs over the default background, over another one, and
// over a background given for them.
constexpr FileJob kFileJobs[] = {
    {"pin-png-single", "edges24x20", true, Route::kSprite, kPng, 0, false, 0, 30, 30, 1.5, 1.5, 1},
    {"pin-png-quarter", "edges24x20", true, Route::kSprite, kPng, 0, false, 0, 90, 90, 1, 1, 1},
    {"pin-png-opaque", "few64x48", false, Route::kSprite, kPng, 0, false, 0, -17.5, -17.5, 0.5, 0.5, 1},
    {"pin-png-series", "edges24x20", true, Route::kSprite, kPng, 0, false, 0, -17.5, 359.9, 0.5, 2, 5},
    {"pin-png-sheet2", "edges24x20", true, Route::kSprite, kPng, 2, false, 0, -17.5, 359.9, 0.5, 2, 5},
    {"pin-png-sheet3", "edges24x20", true, Route::kSprite, kPng, 3, false, 0, -17.5, 359.9, 0.5, 2, 5},
    {"pin-png-sheet5", "edges24x20", true, Route::kSprite, kPng, 5, false, 0, -17.5, 359.9, 0.5, 2, 5},
    {"pin-png-sheet8", "edges24x20", true, Route::kSprite, kPng, 8, false, 0, -17.5, 359.9, 0.5, 2, 5},
    {"pin-alpha-default", "edges24x20", true, Route::kComposited, kBmp, 0, false, kDefaultBackground, 30, 30, 1.5,
     1.5, 1},
    {"pin-alpha-series", "edges24x20", true, Route::kComposited, kBmp, 0, false, kDefaultBackground, 0, 270, 1, 0.5,
     3},
    {"pin-alpha-other", "edges24x20", true, Route::kComposited, kBmp, 0, false, 0x30C060, -17.5, -17.5, 3, 3, 1},
    {"pin-alpha-level", "few64x48", true, Route::kComposited, kBmp, 0, false, kDefaultBackground, 0, 0, 1, 1, 1},
    {"pin-alpha-turned", "few64x48", true, Route::kComposited, kBmp, 0, false, 0x30C060, 30, 30, 1, 1, 1},
    {"pin-alpha-given", "few64x48", true, Route::kSprite, kBmp, 0, true, 0x30C060, 0, 270, 1, 0.5, 3},
};

std::vector<std::string> FilesOf(const FileJob& job) {
  const char* extension = job.format == kPng ? "png" : "bmp";
  std::vector<std::string> files;
  char file[96];
  if (job.frameCount < 2 || job.sheetColumns > 0) {
    std::snprintf(file, sizeof file, "%s.%s", job.output, extension);
    files.push_back(file);
  }
  for (int k = 1; k <= job.frameCount && job.frameCount > 1 && job.sheetColumns == 0; ++k) {
    std::snprintf(file, sizeof file, "%s_%d.%s", job.output, k, extension);
    files.push_back(file);
  }
  return files;
}

void RunFileJob(const FileJob& job, int threads, std::vector<std::pair<std::string, std::uint64_t>>& seen) {
  AppState app;
  RunParameters& run = app.runParameters;
  run.angle = job.angle;
  run.endAngle = job.endAngle;
  run.scale = job.scale;
  run.endScale = job.endScale;
  run.frameCount = job.frameCount;
  run.format = job.format;
  run.sheetColumns = job.sheetColumns;
  run.background = job.background;
  run.backgroundGiven = job.backgroundGiven;
  std::snprintf(run.inputName, kPathChars, "%s", "pin-input.png");
  for (const TranslucentInput& t : kTranslucentInputs)
    if (job.translucent && std::strcmp(t.sprite, job.sprite) == 0)
      std::snprintf(run.inputName, kPathChars, "%s", t.file);
  std::snprintf(run.outputName, kPathChars, "%s", job.output);
  const InMemoryInput input{run.inputName, &SpriteNamed(job.sprite).picture};
  const ImageImporter importer{ImportForJob, const_cast<InMemoryInput*>(&input)};
  const std::vector<std::string> files = FilesOf(job);
  int written = 0;
  if (job.route == Route::kSprite) {
    BmpFileOptions options;
    SheetSink sheet;
    written = RunQuilletJob(app, ProgressOf(app), importer, SinkFor(app.runParameters, options, sheet), threads)
                  .frames.framesWritten;
  } else {
    CompositingImport composite{importer, job.background};
    const std::string tempName = std::string(job.output) + "_temp.bmp";
    ASSERT_TRUE(EnlargeImage(app, ProgressOf(app), CompositingImporter(composite), run.inputName, tempName.c_str(),
                             true)
                    .enlarged)
        << job.output;
    written = RunFrames(app, ProgressOf(app), BmpFileSink(BmpFileOptions{}), threads).framesWritten;
  }
  EXPECT_EQ(written, static_cast<int>(files.size())) << job.output << " threads " << threads;
  for (const std::string& file : files) {
    seen.emplace_back("file/" + file, HashFile(file));
    std::remove(file.c_str());
  }
}

TEST(OutputPins, PngFramesSheetsAndTranslucentBmpFrames) {
  for (const TranslucentInput& t : kTranslucentInputs)
    ASSERT_TRUE(WritePngFile(t.file, Translucent(SpriteNamed(t.sprite).picture, t.clear)));
  for (int threads : {1, 2, 3}) {
    std::vector<std::pair<std::string, std::uint64_t>> seen;
    for (const FileJob& job : kFileJobs) RunFileJob(job, threads, seen);
    ExpectPinned(seen);
  }
  for (const TranslucentInput& t : kTranslucentInputs) std::remove(t.file);
}

}  // namespace
}  // namespace quillet
