#include "quillet/pipeline.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "quillet/bitmap.h"
#include "quillet/job.h"
#include "quillet/render.h"
#include "progress_log.h"
#include "scratch_dir.h"
#include "test_images.h"

namespace quillet {
namespace {

using testing::Exists;
using testing::Picture;

std::string OutputName(const std::string& given) {
  char name[kPathChars];
  OutputFileName(given.c_str(), name);
  return name;
}

std::string FrameName(const std::string& name, int count, int index) {
  char frame[kFrameNameChars];
  FrameFileName(name.c_str(), count, index, frame);
  return frame;
}

TEST(JobNamesTest, ExtensionRuleAndFrameSuffixes) {
  const std::pair<std::string, std::string> outputs[] = {
      {"frames", "frames.bmp"},         {"sprite.BMP", "sprite.BMP"}, {"out.BMP", "out.BMP.bmp"},
      {"a.bmp", "a.bmp.bmp"},           {"./out", "./out.bmp"},       {"picture.bmpx", "picture.bmpx"},
      {"dir.v2/ship", "dir.v2/ship.bmp"}, {std::string(255, 'n'), std::string(255, 'n') + ".bmp"},
      {std::string(256, 'n'), std::string(256, 'n')}, {std::string(400, 'n'), std::string(259, 'n')}};
  for (const auto& [given, expected] : outputs) EXPECT_EQ(OutputName(given), expected) << given;

  EXPECT_EQ(FrameName("ship.bmp", 9, 8), "ship_9.bmp");
  EXPECT_EQ(FrameName("ship.bmp", 10, 0), "ship_01.bmp");
  EXPECT_EQ(FrameName("ship.bmp", 100, 0), "ship_001.bmp");
  EXPECT_EQ(FrameName("ship.bmp", 1000, 999), "ship_1000.bmp");
  EXPECT_EQ(FrameName("sprite.BMP", 3, 0), "sprite_1.bmp");
  EXPECT_EQ(FrameName("a.bmp.bmp", 3, 0), "a.bmp_1.bmp");
  const std::string cut(251, 'n');  // the suffix starts at index 251 at the latest
  EXPECT_EQ(FrameName(std::string(259, 'n'), 2, 1), cut + "_2.bmp");
  EXPECT_EQ(FrameName(std::string(254, 'n') + ".bmp", 1000, 999), cut + "_1000.bmp");
  EXPECT_EQ(FrameName(std::string(259, 'n'), 2147483647, 2147483646), cut + "_2147483647.bmp");
}

TEST(JobNamesTest, InterpolationEndsExactlyAtTheStartAndNearTheEnd) {
  EXPECT_EQ(Interpolate(0.1, 0.7, 0, 7), 0.1);
  EXPECT_EQ(Interpolate(0.1, 0.7, 6, 7), (0.7 - 0.1) + 0.1);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(Interpolate(0.0, 90.0, i, 10), 10.0 * i);
}

TEST(JobNamesTest, AbsolutePathFoldsDotsWithoutTouchingTheDisk) {
  char out[kPathChars];
  ASSERT_TRUE(AbsolutePath("/a/./b//c/../d.bmp", out, sizeof out));
  EXPECT_STREQ(out, "/a/b/d.bmp");
  ASSERT_TRUE(AbsolutePath("/..", out, sizeof out));
  EXPECT_STREQ(out, "/");
  EXPECT_FALSE(AbsolutePath(("/" + std::string(300, 'n')).c_str(), out, sizeof out));
}

using testing::ProgressLog;

class PipelineTest : public testing::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    picture_ = testing::SpriteLike(7, 5, 4, 11);
    testing::WriteFile("in.bmp", testing::Bmp24File(picture_));
  }
  void Watch(ProgressLog& log) { app_.progressWindow.store(&log.display); }
  void SetNames(const char* input, const char* output) {
    std::snprintf(app_.runParameters.inputName, kPathChars, "%s", input);
    std::snprintf(app_.runParameters.outputName, kPathChars, "%s", output);
  }
  // The picture after three smart 2x steps.
  WorkingBitmap Enlarged() const {
    WorkingBitmap expected;
    testing::SetPicture(expected, picture_);
    testing::EnlargeInPlace(expected, 3);
    return expected;
  }

  AppState app_;
  Picture picture_;
};

TEST_F(PipelineTest, EnlargeImageLeavesTheEightTimesImageAndNoTemporaryFile) {
  ProgressLog log;
  Watch(log);
  const EnlargeResult result = EnlargeImage(app_, ProgressOf(app_), ImageImporter{}, "in.bmp", "_temp.bmp", true);
  EXPECT_TRUE(result.inputImported);
  EXPECT_TRUE(result.enlarged);
  EXPECT_EQ(testing::PictureOf(app_.workingBitmap).colours, testing::PictureOf(Enlarged()).colours);
  EXPECT_EQ(log.positions, (std::vector<int>{0, 5, 10, 25, 35, 50, 65, 80, 90, 100}));
  ASSERT_EQ(log.texts.size(), 1u);
  EXPECT_EQ(log.texts[0], "Processing image file \"" + Dir() + "/in.bmp\"");
  EXPECT_EQ(Listing(), "in.bmp");
}

// A file in the current directory under the name the job gives its temporary file (here,
// what an older build left there) is none of the job's business.
TEST_F(PipelineTest, AFailedInputNeverPicksUpAStaleTemporaryFile) {
  const std::vector<std::uint8_t> stale = testing::Bmp24File(testing::Plain(16, 16, 0x123456));
  testing::WriteFile("_temp.bmp", stale);
  testing::SetPicture(app_.workingBitmap, testing::Plain(8, 8, 0x654321));  // the last job's image
  SetNames("missing.png", "out");
  ProgressLog log;
  Watch(log);
  const JobResult job = RunQuilletJob(app_, ProgressOf(app_), ImageImporter{}, BmpFileSink(BmpFileOptions{}));
  EXPECT_FALSE(job.enlarge.inputImported || job.enlarge.enlarged || job.Succeeded());
  EXPECT_EQ(job.frames.framesWritten, 0);
  EXPECT_STREQ(job.frames.firstFailedName, "out.bmp");
  EXPECT_EQ(testing::ReadFileBytes("_temp.bmp"), stale);  // neither read nor deleted
  EXPECT_EQ(Listing(), "_temp.bmp in.bmp");
  EXPECT_EQ(TempListing(), "");
  // The enlargement still runs through its steps; no frame is announced.
  EXPECT_EQ(log.positions, (std::vector<int>{0, 5, 10, 25, 35, 50, 65, 80, 90, 100}));
  EXPECT_EQ(log.texts.size(), 1u);
}

TEST_F(PipelineTest, AStepThatCannotBeWrittenEndsTheEnlargementWithoutAnImage) {
  const EnlargeResult result = EnlargeImage(app_, ProgressOf(app_), ImageImporter{}, "in.bmp", "no/such/dir/_temp.bmp", true);
  EXPECT_TRUE(result.inputImported);
  EXPECT_FALSE(result.enlarged);
  EXPECT_FALSE(HasImage24(app_.workingBitmap));  // not the input rendered as if enlarged
  EXPECT_TRUE(result.temporaryFailed);
  EXPECT_STREQ(result.temporaryDirectory, "no/such/dir");
  EXPECT_STREQ(result.temporaryReason, "No such file or directory");
}

// A link or a file planted under the temporary name is neither followed, overwritten, read
// nor deleted: the step fails instead.
TEST_F(PipelineTest, APlantedTemporaryNameIsNeverWrittenThrough) {
  testing::WriteFile("victim", {'k', 'e', 'e', 'p'});
  for (const bool link : {true, false}) {
    if (link) {
      std::filesystem::create_symlink("victim", "_temp.bmp");
    } else {
      std::filesystem::copy_file("in.bmp", "_temp.bmp");
    }
    const EnlargeResult result = EnlargeImage(app_, ProgressOf(app_), ImageImporter{}, "in.bmp", "_temp.bmp", true);
    EXPECT_FALSE(result.enlarged) << link;
    EXPECT_TRUE(result.temporaryFailed) << link;
    EXPECT_STREQ(result.temporaryReason, "File exists") << link;
    EXPECT_EQ(std::filesystem::is_symlink("_temp.bmp"), link);
    EXPECT_TRUE(Exists("_temp.bmp"));
    EXPECT_EQ(testing::ReadFileBytes("victim"), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
    std::filesystem::remove("_temp.bmp");
  }
}

// The job's temporary files live in a directory of its own under TMPDIR, which only its
// owner may enter and which is gone when the job ends.
TEST_F(PipelineTest, TheJobWorksInAPrivateDirectoryThatItRemoves) {
  struct Seen {
    std::string directory;
    std::filesystem::perms permissions = std::filesystem::perms::none;
    int calls = 0;
  } seen;
  ImageImporter importer;
  importer.context = &seen;
  importer.import = [](void* context, AppState& app, const char* name) {
    Seen& seen = *static_cast<Seen*>(context);
    if (seen.calls++ == 0 && app.temporaries) {
      seen.directory = app.temporaries->directory;
      seen.permissions = std::filesystem::status(seen.directory).permissions();
    }
    LoadBitmapFile(name, app.workingBitmap);
    return HasImage24(app.workingBitmap);
  };
  SetNames("in.bmp", "out");
  const JobResult job = RunQuilletJob(app_, ProgressOf(app_), importer, BmpFileSink(BmpFileOptions{}));
  EXPECT_TRUE(job.Succeeded());
  EXPECT_EQ(seen.calls, 4);  // the input, then each step read back
  EXPECT_EQ(seen.directory.rfind(TempDir() + "/quillet-", 0), 0u) << seen.directory;
  EXPECT_EQ(seen.permissions, std::filesystem::perms::owner_all);
  EXPECT_EQ(TempListing(), "");
  EXPECT_EQ(Listing(), "in.bmp out.bmp");
  EXPECT_EQ(app_.temporaries, nullptr);
}

// Without a place for its temporary files the job does not start, and says where it looked.
TEST_F(PipelineTest, ATemporaryLocationThatCannotBeUsedStopsTheJobBeforeItStarts) {
  const std::string missing = TempDir() + "/missing";
  setenv("TMPDIR", missing.c_str(), 1);
  SetNames("in.bmp", "out");
  ProgressLog log;
  Watch(log);
  const JobResult job = RunQuilletJob(app_, ProgressOf(app_), ImageImporter{}, BmpFileSink(BmpFileOptions{}));
  EXPECT_TRUE(job.enlarge.temporaryFailed);
  EXPECT_EQ(job.enlarge.temporaryDirectory, missing);
  EXPECT_STREQ(job.enlarge.temporaryReason, "No such file or directory");
  EXPECT_FALSE(job.Succeeded());
  EXPECT_TRUE(log.positions.empty());
  EXPECT_EQ(Listing(), "in.bmp");
}

TEST_F(PipelineTest, SingleFrameForCountsBelowTwoAtTheStartValues) {
  EnlargeImage(app_, ProgressOf(app_), ImageImporter{}, "in.bmp", "_temp.bmp", true);
  app_.runParameters.angle = 22.5;
  app_.runParameters.scale = 1.5;
  app_.runParameters.endAngle = 90.0;
  app_.runParameters.endScale = 3.0;
  const OutputBitmap expected = RenderFrameBitmap(ProgressOf(app_), app_.workingBitmap, -22.5, 1.5);
  for (int count : {1, 0, -5}) {
    app_.runParameters.frameCount = count;
    SetNames("", "out.BMP");
    ProgressLog log;
    Watch(log);
    const FramesResult result = RunFrames(app_, ProgressOf(app_), BmpFileSink(BmpFileOptions{}));
    EXPECT_EQ(result.framesWanted, 1);
    EXPECT_EQ(result.framesWritten, 1);
    EXPECT_EQ(Listing(), "in.bmp out.BMP.bmp");
    WorkingBitmap frame;
    ASSERT_GT(LoadBitmapFile("out.BMP.bmp", frame), 0);
    EXPECT_EQ(testing::PictureOf(frame).colours, testing::PictureOf(expected).colours) << count;
    ASSERT_EQ(log.texts.size(), 1u);
    EXPECT_EQ(log.texts[0], "Generating \"" + Dir() + "/out.BMP.bmp\"\n(angle 22.5 degrees) (scale 150%)");
    std::remove("out.BMP.bmp");
  }
}

TEST_F(PipelineTest, SeriesRunsFromTheStartToTheEndValues) {
  EnlargeImage(app_, ProgressOf(app_), ImageImporter{}, "in.bmp", "_temp.bmp", true);
  RunParameters& run = app_.runParameters;
  run.frameCount = 3;
  run.angle = 0.0;
  run.endAngle = 90.0;
  run.scale = -1.0;
  run.endScale = 1.0;
  SetNames("", "frames");
  ProgressLog log;
  Watch(log);
  const FramesResult result = RunFrames(app_, ProgressOf(app_), BmpFileSink(BmpFileOptions{}));
  EXPECT_EQ(result.framesWanted, 3);
  EXPECT_EQ(result.framesWritten, 3);
  EXPECT_EQ(Listing(), "frames_1.bmp frames_2.bmp frames_3.bmp in.bmp");
  const double angles[3] = {0.0, 45.0, 90.0};
  const double scales[3] = {-1.0, 0.0, 1.0};
  for (int i = 0; i < 3; ++i) {
    const std::string name = "frames_" + std::to_string(i + 1) + ".bmp";
    const OutputBitmap expected = RenderFrameBitmap(ProgressOf(app_), app_.workingBitmap, -angles[i], scales[i]);
    WorkingBitmap frame;
    ASSERT_GT(LoadBitmapFile(name.c_str(), frame), 0);
    EXPECT_EQ(testing::PictureOf(frame).colours, testing::PictureOf(expected).colours) << name;
  }
  ASSERT_EQ(log.texts.size(), 3u);
  EXPECT_EQ(log.texts[1], "Generating \"" + Dir() + "/frames_2.bmp\"\n(angle 45 degrees) (scale 100%)");
  EXPECT_EQ(log.texts[2], "Generating \"" + Dir() + "/frames_3.bmp\"\n(angle 90 degrees) (scale 100%)");
}

// A series made on several threads (frames side by side) shows the same texts and positions
// in the same order, writes the same files and stops at the same frame as on one thread: at
// a frame that cannot be written, and at one too large to make. So do 24-bit frames of the
// enlargement and RGBA frames on a canvas, whose files are written once all are made.
TEST_F(PipelineTest, SeriesOnSeveralThreadsMatchesOneThread) {
  ASSERT_TRUE(EnlargeImage(app_, ProgressOf(app_), ImageImporter{}, "in.bmp", "_temp.bmp", true).enlarged);
  RunParameters& run = app_.runParameters;
  struct Seen {
    std::vector<int> positions;
    std::vector<std::string> texts, files;
    int written = 0;
    std::string failed, reason;
    FrameProblem problem = FrameProblem::kNone;
  };
  bool rgba = false;
  auto runOn = [&](int threads) {
    ProgressLog log;
    Watch(log);
    const FramesResult result =
        rgba ? RunQuilletJob(app_, ProgressOf(app_), ImageImporter{}, PngFileSink(), threads).frames
             : RunFrames(app_, ProgressOf(app_), BmpFileSink(BmpFileOptions{}), threads);
    app_.progressWindow.store(nullptr);
    Seen seen{log.positions, log.texts, {}, result.framesWritten, result.firstFailedName, result.failureReason,
              result.firstProblem};
    for (const auto& entry : std::filesystem::directory_iterator("."))
      if (entry.path().filename().string().rfind("frames_", 0) == 0 && entry.is_regular_file()) {
        seen.files.push_back(entry.path().filename().string() + ":" +
                             std::to_string(testing::ReadFileBytes(entry.path().string()).size()));
        std::filesystem::remove(entry.path());
      }
    std::sort(seen.files.begin(), seen.files.end());
    return seen;
  };
  auto expectSame = [](const Seen& a, const Seen& b, int threads) {
    EXPECT_EQ(a.positions, b.positions) << threads;
    EXPECT_EQ(a.texts, b.texts) << threads;
    EXPECT_EQ(a.files, b.files) << threads;
    EXPECT_EQ(a.written, b.written) << threads;
    EXPECT_EQ(a.failed, b.failed) << threads;
    EXPECT_EQ(a.reason, b.reason) << threads;
    EXPECT_EQ(a.problem, b.problem) << threads;
  };

  // The RGBA frames come after: their job reads the input anew and leaves no working bitmap.
  for (const bool png : {false, true}) {
    rgba = png;
    const std::string extension = png ? ".png" : ".bmp";
    run.frameCount = 8;
    run.angle = 5;
    run.endAngle = -300;
    run.scale = 2;
    run.endScale = 0.5;
    SetNames("in.bmp", "frames");
    const Seen whole = runOn(1);
    EXPECT_EQ(whole.written, 8);
    EXPECT_EQ(whole.files.size(), 8u);
    EXPECT_EQ(std::count(whole.positions.begin(), whole.positions.end(), 100), png ? 17 : 8);
    for (int threads : {2, 3}) expectSame(runOn(threads), whole, threads);

    std::filesystem::create_directory("frames_5" + extension);  // frame 5 cannot be written
    const Seen blocked = runOn(1);
    EXPECT_EQ(blocked.written, 4);
    EXPECT_EQ(blocked.failed, "frames_5" + extension);
    EXPECT_EQ(blocked.problem, FrameProblem::kNotWritten);
    EXPECT_EQ(blocked.texts.size(), png ? 9u : 5u);
    for (int threads : {2, 3}) expectSame(runOn(threads), blocked, threads);
    std::filesystem::remove("frames_5" + extension);

    run.endScale = 1e12;  // from frame 2 on, too large to make
    const Seen tooLarge = runOn(1);
    EXPECT_EQ(tooLarge.written, png ? 0 : 1);
    EXPECT_EQ(tooLarge.problem, FrameProblem::kTooLarge);
    for (int threads : {2, 3}) expectSame(runOn(threads), tooLarge, threads);
  }
}

// The series stops at the first frame that cannot be written, with the reason.
TEST_F(PipelineTest, AFrameThatCannotBeWrittenIsReported) {
  SetNames("in.bmp", "no/such/dir/out");
  app_.runParameters.frameCount = 1000;
  ProgressLog log;
  Watch(log);
  const JobResult job = RunQuilletJob(app_, ProgressOf(app_), ImageImporter{}, BmpFileSink(BmpFileOptions{}));
  EXPECT_TRUE(job.enlarge.enlarged);
  EXPECT_EQ(job.frames.framesWanted, 1000);
  EXPECT_EQ(job.frames.framesWritten, 0);
  EXPECT_STREQ(job.frames.firstFailedName, "no/such/dir/out_0001.bmp");
  EXPECT_STREQ(job.frames.failureReason, "No such file or directory");
  EXPECT_EQ(log.texts.size(), 2u);  // the import, and the one frame tried
}

// A frame that cannot be written whole leaves the file under its name as it was, and nothing
// beside it; an existing frame is replaced whole, keeping its mode; a link's target is the
// file replaced.
TEST_F(PipelineTest, FramesAppearWholeOrNotAtAll) {
  ASSERT_TRUE(EnlargeImage(app_, ProgressOf(app_), ImageImporter{}, "in.bmp", "_temp.bmp", true).enlarged);
  SetNames("", "out");
  ASSERT_EQ(RunFrames(app_, ProgressOf(app_), BmpFileSink(BmpFileOptions{})).framesWritten, 1);
  const std::vector<std::uint8_t> frame = testing::ReadFileBytes("out.bmp");

  testing::WriteFile("old.bmp", {'o', 'l', 'd'});
  std::filesystem::permissions("old.bmp", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                              std::filesystem::perms::others_read);
  SetNames("", "old");
  EXPECT_EQ(RunFrames(app_, ProgressOf(app_), BmpFileSink(BmpFileOptions{})).framesWritten, 1);
  EXPECT_EQ(testing::ReadFileBytes("old.bmp"), frame);
  EXPECT_EQ(std::filesystem::status("old.bmp").permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::others_read);

  std::filesystem::create_directory("real");
  std::filesystem::create_symlink("real/target.bmp", "link.bmp");
  SetNames("", "link");
  EXPECT_EQ(RunFrames(app_, ProgressOf(app_), BmpFileSink(BmpFileOptions{})).framesWritten, 1);
  EXPECT_TRUE(std::filesystem::is_symlink("link.bmp"));
  EXPECT_EQ(testing::ReadFileBytes("real/target.bmp"), frame);

  std::filesystem::create_symlink("/dev/full", "full.bmp");
  SetNames("", "full");
  const FramesResult full = RunFrames(app_, ProgressOf(app_), BmpFileSink(BmpFileOptions{}));
  EXPECT_EQ(full.framesWritten, 0);
  EXPECT_STREQ(full.failureReason, "No space left on device");
  EXPECT_EQ(Listing(), "full.bmp in.bmp link.bmp old.bmp out.bmp real");
  EXPECT_EQ(TempListing(), "");
}

// The reload reads rows straight from the file: every layout, truncation and a pipe give
// what the same bytes give from memory.
TEST_F(PipelineTest, FileLoadsMatchLoadsFromMemory) {
  testing::Picture big = testing::SpriteLike(701, 37, 5, 3);
  std::vector<std::vector<std::uint8_t>> files;
  for (bool topDown : {false, true})
    for (bool omitLastPadding : {false, true}) files.push_back(testing::Bmp24File(big, {40, topDown, omitLastPadding}));
  files.push_back(testing::Bmp24File(testing::Plain(3, 2, 0x102030), {12, false, false}));
  const std::vector<std::uint8_t> whole = files[0];
  for (std::size_t cut : {std::size_t{0}, std::size_t{10}, std::size_t{60}, whole.size() / 2, whole.size() - 4})
    files.emplace_back(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
  for (std::size_t k = 0; k < files.size(); ++k) {
    SCOPED_TRACE(k);
    testing::WriteFile("load.bmp", files[k]);
    WorkingBitmap fromMemory, fromFile;
    const std::int32_t rows = LoadBitmapBytes(files[k].data(), files[k].size(), fromMemory);
    fromFile.pixels.assign(100, 7);  // an earlier image is replaced
    EXPECT_EQ(LoadBitmapFile("load.bmp", fromFile), rows);
    EXPECT_EQ(fromFile.pixels, fromMemory.pixels);
    EXPECT_EQ(0, std::memcmp(fromFile.header.get(), fromMemory.header.get(), kHeaderBlockBytes));
    EXPECT_EQ(rows > 0, k < 5);
  }
  // A pipe cannot seek; it is read whole.
  testing::WriteFile("load.bmp", files[0]);
  ASSERT_EQ(mkfifo("fifo.bmp", 0600), 0);
  std::FILE* writer = popen("cat load.bmp > fifo.bmp", "r");
  ASSERT_NE(writer, nullptr);
  WorkingBitmap fromPipe;
  EXPECT_EQ(LoadBitmapFile("fifo.bmp", fromPipe), 37);
  pclose(writer);
  EXPECT_EQ(testing::PictureOf(fromPipe).colours, big.colours);
}

}  // namespace
}  // namespace quillet
