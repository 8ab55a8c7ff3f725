#include "quillet/pipeline.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "quillet/bitmap.h"
#include "quillet/render.h"
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

TEST(OutputNameTest, ExtensionRuleCountsOnlyADotAtIndexFiveOrLater) {
  EXPECT_EQ(OutputName("frames"), "frames.bmp");
  EXPECT_EQ(OutputName("sprite.BMP"), "sprite.BMP");
  EXPECT_EQ(OutputName("out.BMP"), "out.BMP.bmp");
  EXPECT_EQ(OutputName("a.bmp"), "a.bmp.bmp");
  EXPECT_EQ(OutputName("./out"), "./out.bmp");
  EXPECT_EQ(OutputName("abcde.bmp"), "abcde.bmp");
  EXPECT_EQ(OutputName("picture.bmpx"), "picture.bmpx");
  EXPECT_EQ(OutputName("picture.bm"), "picture.bm.bmp");
  EXPECT_EQ(OutputName("dir.v2/ship"), "dir.v2/ship.bmp");
  EXPECT_EQ(OutputName(""), ".bmp");
}

TEST(OutputNameTest, LongNamesGetNoExtensionWhenItWouldNotFit) {
  const std::string fits(255, 'n');
  EXPECT_EQ(OutputName(fits), fits + ".bmp");
  const std::string full(256, 'n');
  EXPECT_EQ(OutputName(full), full);
  // Longer than a path buffer: read up to 259 characters, never past.
  EXPECT_EQ(OutputName(std::string(400, 'n')), std::string(259, 'n'));
}

TEST(FrameNameTest, SuffixWidthFollowsTheFrameCount) {
  EXPECT_EQ(FrameName("ship.bmp", 2, 0), "ship_1.bmp");
  EXPECT_EQ(FrameName("ship.bmp", 9, 8), "ship_9.bmp");
  EXPECT_EQ(FrameName("ship.bmp", 10, 0), "ship_01.bmp");
  EXPECT_EQ(FrameName("ship.bmp", 12, 11), "ship_12.bmp");
  EXPECT_EQ(FrameName("ship.bmp", 99, 98), "ship_99.bmp");
  EXPECT_EQ(FrameName("ship.bmp", 100, 0), "ship_001.bmp");
  EXPECT_EQ(FrameName("ship.bmp", 1000, 999), "ship_1000.bmp");
  EXPECT_EQ(FrameName("ship.bmp", 20000, 12344), "ship_12345.bmp");
}

TEST(FrameNameTest, SuffixReplacesFromTheLastDot) {
  EXPECT_EQ(FrameName("sprite.BMP", 3, 0), "sprite_1.bmp");
  EXPECT_EQ(FrameName("a.bmp.bmp", 3, 0), "a.bmp_1.bmp");
  EXPECT_EQ(FrameName("picture.bmpx", 3, 2), "picture_3.bmp");
  EXPECT_EQ(FrameName("dir.v2/ship.bmp", 3, 1), "dir.v2/ship_2.bmp");
}

TEST(FrameNameTest, SuffixStartsNoLaterThanIndex251) {
  const std::string base(259, 'n');  // no dot: the suffix would start at 259
  EXPECT_EQ(FrameName(base, 2, 1), std::string(251, 'n') + "_2.bmp");
  const std::string dotted = std::string(254, 'n') + ".bmp";  // last '.' at 254
  EXPECT_EQ(FrameName(dotted, 1000, 999), std::string(251, 'n') + "_1000.bmp");
  const std::string early = std::string(200, 'n') + ".bmp";
  EXPECT_EQ(FrameName(early, 10, 4), std::string(200, 'n') + "_05.bmp");
  // Frame numbers of any width fit the buffer.
  EXPECT_EQ(FrameName(base, 2147483647, 2147483646), std::string(251, 'n') + "_2147483647.bmp");
}

TEST(InterpolateTest, FirstFrameHasTheStartValuesAndLastTheEndValues) {
  EXPECT_EQ(Interpolate(0.1, 0.7, 0, 7), 0.1);
  EXPECT_EQ(Interpolate(0.1, 0.7, 6, 7), (0.7 - 0.1) + 0.1);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(Interpolate(0.0, 90.0, i, 10), 10.0 * i);
  EXPECT_EQ(Interpolate(-1.0, 1.0, 0, 3), -1.0);
  EXPECT_EQ(Interpolate(-1.0, 1.0, 1, 3), 0.0);
  EXPECT_EQ(Interpolate(-1.0, 1.0, 2, 3), 1.0);
  EXPECT_EQ(Interpolate(330.0, 0.0, 1, 12), 300.0);
}

TEST(AbsolutePathTest, FoldsDotsAgainstTheCurrentDirectory) {
  char out[kPathChars];
  ASSERT_TRUE(AbsolutePath("/a/./b//c/../d.bmp", out, sizeof out));
  EXPECT_STREQ(out, "/a/b/d.bmp");
  ASSERT_TRUE(AbsolutePath("/..", out, sizeof out));
  EXPECT_STREQ(out, "/");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_TRUE(AbsolutePath("./x.bmp", out, sizeof out));
  EXPECT_EQ(std::string(out), std::string(cwd) + "/x.bmp");
  EXPECT_FALSE(AbsolutePath(("/" + std::string(300, 'n')).c_str(), out, sizeof out));
  char small[8];
  EXPECT_TRUE(AbsolutePath("/abcdef", small, sizeof small));
  EXPECT_FALSE(AbsolutePath("/abcdefg", small, sizeof small));
}

// Records what the job shows on the progress display.
struct ProgressLog {
  std::vector<int> positions;
  std::vector<std::string> texts;
  ProgressDisplay display;
  ProgressLog() {
    display.context = this;
    display.setPosition = [](void* c, int p) { static_cast<ProgressLog*>(c)->positions.push_back(p); };
    display.setStatus = [](void* c, const char* t) { static_cast<ProgressLog*>(c)->texts.push_back(t); };
  }
};

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
  const EnlargeResult result = EnlargeImage(app_, ImageImporter{}, "in.bmp", kEnlargeTempName, true);
  EXPECT_TRUE(result.inputImported);
  EXPECT_TRUE(result.enlarged);
  EXPECT_EQ(testing::PictureOf(app_.workingBitmap).colours, testing::PictureOf(Enlarged()).colours);
  EXPECT_EQ(log.positions, (std::vector<int>{0, 5, 10, 25, 35, 50, 65, 80, 90, 100}));
  ASSERT_EQ(log.texts.size(), 1u);
  EXPECT_EQ(log.texts[0], "Processing image file \"" + Dir() + "/in.bmp\"");
  EXPECT_EQ(Listing(), "in.bmp");
}

TEST_F(PipelineTest, WithoutReloadTheEightTimesImageStaysInTheTemporaryFile) {
  ProgressLog log;
  Watch(log);
  const EnlargeResult result = EnlargeImage(app_, ImageImporter{}, "in.bmp", "big.bmp", false);
  EXPECT_TRUE(result.enlarged);
  EXPECT_EQ(HeaderWidth(app_.workingBitmap.header.get()), 28);  // four times
  EXPECT_EQ(log.positions, (std::vector<int>{0, 5, 10, 25, 35, 50, 65, 80, 100}));
  WorkingBitmap file;
  ASSERT_GT(LoadBitmapFile("big.bmp", file), 0);
  EXPECT_EQ(testing::PictureOf(file).colours, testing::PictureOf(Enlarged()).colours);
}

// An earlier job, cancelled during its enlargement, left its temporary file behind.
TEST_F(PipelineTest, AFailedInputNeverPicksUpAStaleTemporaryFile) {
  const std::vector<std::uint8_t> stale = testing::Bmp24File(testing::Plain(16, 16, 0x123456));
  testing::WriteFile(kEnlargeTempName, stale);
  testing::SetPicture(app_.workingBitmap, testing::Plain(8, 8, 0x654321));  // the last job's image
  SetNames("missing.png", "out");
  ProgressLog log;
  Watch(log);
  const JobResult job = RunJob(app_, ImageImporter{});
  EXPECT_FALSE(job.enlarge.inputImported);
  EXPECT_FALSE(job.enlarge.enlarged);
  EXPECT_EQ(job.frames.framesWanted, 1);
  EXPECT_EQ(job.frames.framesWritten, 0);
  EXPECT_STREQ(job.frames.firstFailedName, "out.bmp");
  EXPECT_FALSE(job.Succeeded());
  EXPECT_FALSE(Exists("out.bmp"));
  EXPECT_EQ(testing::ReadFileBytes(kEnlargeTempName), stale);  // neither read nor deleted
  EXPECT_FALSE(HasImage24(app_.workingBitmap));
  // The job still runs through all its steps.
  EXPECT_EQ(std::vector<int>(log.positions.begin(), log.positions.begin() + 10),
            (std::vector<int>{0, 5, 10, 25, 35, 50, 65, 80, 90, 100}));
}

TEST_F(PipelineTest, AStepThatCannotBeWrittenEndsTheEnlargementWithoutAnImage) {
  const EnlargeResult result = EnlargeImage(app_, ImageImporter{}, "in.bmp", "no/such/dir/_temp.bmp", true);
  EXPECT_TRUE(result.inputImported);
  EXPECT_FALSE(result.enlarged);
  EXPECT_FALSE(HasImage24(app_.workingBitmap));  // not the input rendered as if enlarged
}

TEST_F(PipelineTest, ImporterIsUsedForTheInputAndEachStep) {
  struct Calls {
    std::vector<std::string> names;
  } calls;
  ImageImporter importer;
  importer.context = &calls;
  importer.import = [](void* c, AppState& app, const char* name) {
    static_cast<Calls*>(c)->names.push_back(name);
    LoadBitmapFile(name, app.workingBitmap);
    return HasImage24(app.workingBitmap);
  };
  EXPECT_TRUE(EnlargeImage(app_, importer, "in.bmp", kEnlargeTempName, true).enlarged);
  EXPECT_EQ(calls.names, (std::vector<std::string>{"in.bmp", "_temp.bmp", "_temp.bmp", "_temp.bmp"}));
}

TEST_F(PipelineTest, SingleFrameForCountsBelowTwoAtTheStartValues) {
  EnlargeImage(app_, ImageImporter{}, "in.bmp", kEnlargeTempName, true);
  app_.runParameters.angle = 22.5;
  app_.runParameters.scale = 1.5;
  app_.runParameters.endAngle = 90.0;
  app_.runParameters.endScale = 3.0;
  const OutputBitmap expected = RenderFrameBitmap(app_, app_.workingBitmap, -22.5, 1.5);
  for (int count : {1, 0, -5}) {
    app_.runParameters.frameCount = count;
    SetNames("", "out.BMP");
    ProgressLog log;
    Watch(log);
    const FramesResult result = RunFrames(app_);
    EXPECT_EQ(result.framesWanted, 1);
    EXPECT_EQ(result.framesWritten, 1);
    EXPECT_EQ(Listing(), "in.bmp out.BMP.bmp");
    WorkingBitmap frame;
    ASSERT_GT(LoadBitmapFile("out.BMP.bmp", frame), 0);
    EXPECT_EQ(testing::PictureOf(frame).colours, testing::PictureOf(expected).colours) << count;
    ASSERT_EQ(log.texts.size(), 1u);
    EXPECT_EQ(log.texts[0], "Generating \"" + Dir() + "/out.BMP.bmp\"\n(angle 22.5 degrees) (scale 150%)");
    EXPECT_EQ(log.positions.front(), 0);
    EXPECT_EQ(log.positions.back(), 100);
    std::remove("out.BMP.bmp");
  }
}

TEST_F(PipelineTest, SeriesRunsFromTheStartToTheEndValues) {
  EnlargeImage(app_, ImageImporter{}, "in.bmp", kEnlargeTempName, true);
  RunParameters& run = app_.runParameters;
  run.frameCount = 3;
  run.angle = 0.0;
  run.endAngle = 90.0;
  run.scale = -1.0;
  run.endScale = 1.0;
  SetNames("", "frames");
  ProgressLog log;
  Watch(log);
  const FramesResult result = RunFrames(app_);
  EXPECT_EQ(result.framesWanted, 3);
  EXPECT_EQ(result.framesWritten, 3);
  EXPECT_EQ(Listing(), "frames_1.bmp frames_2.bmp frames_3.bmp in.bmp");
  const double angles[3] = {0.0, 45.0, 90.0};
  const double scales[3] = {-1.0, 0.0, 1.0};
  for (int i = 0; i < 3; ++i) {
    const std::string name = "frames_" + std::to_string(i + 1) + ".bmp";
    const OutputBitmap expected = RenderFrameBitmap(app_, app_.workingBitmap, -angles[i], scales[i]);
    WorkingBitmap frame;
    ASSERT_GT(LoadBitmapFile(name.c_str(), frame), 0);
    EXPECT_EQ(testing::PictureOf(frame).colours, testing::PictureOf(expected).colours) << name;
  }
  ASSERT_EQ(log.texts.size(), 3u);
  EXPECT_EQ(log.texts[1], "Generating \"" + Dir() + "/frames_2.bmp\"\n(angle 45 degrees) (scale 100%)");
  EXPECT_EQ(log.texts[2], "Generating \"" + Dir() + "/frames_3.bmp\"\n(angle 90 degrees) (scale 100%)");
}

TEST_F(PipelineTest, AFrameThatCannotBeWrittenIsReported) {
  SetNames("in.bmp", "no/such/dir/out");
  app_.runParameters.frameCount = 2;
  const JobResult job = RunJob(app_, ImageImporter{});
  EXPECT_TRUE(job.enlarge.enlarged);
  EXPECT_EQ(job.frames.framesWanted, 2);
  EXPECT_EQ(job.frames.framesWritten, 0);
  EXPECT_STREQ(job.frames.firstFailedName, "no/such/dir/out_1.bmp");
  EXPECT_FALSE(job.Succeeded());
}

TEST_F(PipelineTest, AWholeJobSucceedsAndLeavesOnlyItsFrames) {
  SetNames("in.bmp", "sprite.bmp");
  app_.runParameters.frameCount = 2;
  app_.runParameters.endAngle = 30.0;
  const JobResult job = RunJob(app_, ImageImporter{});
  EXPECT_TRUE(job.Succeeded());
  EXPECT_EQ(Listing(), "in.bmp sprite_1.bmp sprite_2.bmp");
}

}  // namespace
}  // namespace quillet
