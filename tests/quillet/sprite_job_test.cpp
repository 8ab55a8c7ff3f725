// PNG frames of a series: the frames held until the canvas is known go to the job's temporary
// directory past a bound and come back unchanged, and a long series stays within a bounded
// memory.
#include "quillet/sprite_job.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <filesystem>
#include <string>

#include "process.h"
#include "quillet/job.h"
#include "scratch_dir.h"

namespace quillet {
namespace {

std::uint64_t Fnv(const std::vector<std::uint8_t>& bytes, std::uint64_t h = 1469598103934665603ull) {
  for (std::uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
  return h;
}

// A width x height sprite: a body of many colours inside a soft rim, the corners transparent.
RgbaImage Sprite(std::int32_t width, std::int32_t height) {
  RgbaImage image = BlankImage(width, height);
  for (std::int32_t y = 0; y < height; ++y)
    for (std::int32_t x = 0; x < width; ++x) {
      const std::int32_t edge = std::min(std::min(x, width - 1 - x), std::min(y, height - 1 - y));
      if (edge >= 2) {
        image.At(x, y) = PackRgba(static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 5),
                                  static_cast<std::uint8_t>((x + y) * 3), 255);
      } else if (edge == 1 || (x + y) % 3 == 0) {
        image.At(x, y) = PackRgba(20, 30, 40, static_cast<std::uint8_t>(64 + 32 * edge));
      }
    }
  return image;
}

RunParameters PngRun(int frames, double angle, double endAngle, double scale, double endScale, int sheetColumns) {
  RunParameters run;
  std::snprintf(run.inputName, kPathChars, "in.png");
  std::snprintf(run.outputName, kPathChars, "%s", sheetColumns > 0 ? "sheet" : "turn");
  run.format = OutputFormat::kPng;
  run.frameCount = frames;
  run.angle = angle;
  run.endAngle = endAngle;
  run.scale = scale;
  run.endScale = endScale;
  run.sheetColumns = sheetColumns;
  return run;
}

JobResult RunPng(int frames, double angle, double endAngle, double scale, double endScale, int sheetColumns,
                 std::uint64_t heldBytes) {
  AppState app;
  app.runParameters = PngRun(frames, angle, endAngle, scale, endScale, sheetColumns);
  BmpFileOptions options;
  SheetSink sheet;
  return RunQuilletJob(app, ProgressOf(app), ImageImporter{}, SinkFor(app.runParameters, options, sheet), 1,
                       heldBytes);
}

// Cancels the job once it has shown `after` frames' "Generating" texts.
struct CancelAfter {
  int after = 0;
  int shown = 0;
  JobProgress Progress() {
    JobProgress progress;
    progress.context = this;
    progress.status = [](void* c, const char* text) {
      if (std::strncmp(text, "Generating", 10) == 0) ++static_cast<CancelAfter*>(c)->shown;
    };
    progress.cancel = [](void* c) {
      const CancelAfter& self = *static_cast<CancelAfter*>(c);
      return self.shown >= self.after;
    };
    return progress;
  }
};

// The bytes of turn_1.png .. turn_N.png (or of sheet.png), folded in order.
std::uint64_t Written(int frames, bool sheet) {
  if (sheet) return Fnv(testing::ReadFileBytes("sheet.png"));
  std::uint64_t h = 1469598103934665603ull;
  for (int k = 0; k < frames; ++k) {
    char name[kFrameNameChars];
    FrameFileName("turn.png", frames, k, name, "png");
    h = Fnv(testing::ReadFileBytes(name), h);
  }
  return h;
}

class PngSeries : public testing::ScratchDirTest {};

TEST_F(PngSeries, FramesHeldOnDiskComeBackUnchanged) {
  ASSERT_TRUE(WritePngFile("in.png", Sprite(40, 30)));
  // Held bytes 0: every frame goes to the temporary file. The files are those the job wrote
  // when it held every frame in memory.
  const struct {
    int frames, sheet;
    std::uint64_t pin;
  } cases[] = {{9, 0, 0xcde1da30d293a2e6ull}, {9, 4, 0x5b3a5614917725efull}};
  for (const auto& c : cases) {
    const JobResult job = RunPng(c.frames, -20, 250, 0.75, 1.5, c.sheet, 0);
    EXPECT_TRUE(job.Succeeded()) << c.sheet;
    EXPECT_EQ(Written(c.frames, c.sheet > 0), c.pin) << c.sheet;
    EXPECT_EQ(TempListing(), "");  // the temporary directory went with its file
  }
}

// The memory sink keeps what the PNG files hold, each frame cut to its visible pixels with its
// place on the canvas. A cancel stops a series before its next frame and says so: RGBA frames
// are held until the canvas is known, so none is handed on; 24-bit frames go as they are made,
// also side by side.
TEST_F(PngSeries, MemorySinkKeepsWhatTheFilesHoldAndACancelStopsBeforeTheNextFrame) {
  ASSERT_TRUE(WritePngFile("in.png", Sprite(40, 30)));
  ASSERT_TRUE(RunPng(5, -20, 250, 0.75, 1.5, 0, kHeldFrameBytes).Succeeded());
  AppState app;
  app.runParameters = PngRun(5, -20, 250, 0.75, 1.5, 0);
  MemoryFrames kept;
  ASSERT_TRUE(RunQuilletJob(app, JobProgress{}, ImageImporter{}, MemorySink(kept), 1).Succeeded());
  ASSERT_EQ(kept.frames.size(), 5u);
  int cut = 0;  // frames cut to their visible pixels, smaller than the canvas
  for (int k = 0; k < 5; ++k) {
    char name[kFrameNameChars];
    FrameFileName("turn.png", 5, k, name, "png");
    RgbaImage file;
    ASSERT_TRUE(ReadPngFile(name, file));
    const KeptFrame& frame = kept.frames[static_cast<std::size_t>(k)];
    cut += frame.image.pixels.size() < file.pixels.size();
    const RgbaImage cell = OnCanvasAt(SpriteFrame{frame.image}, kept.canvasWidth, kept.canvasHeight,
                                      {frame.left, frame.top});
    EXPECT_EQ(cell.width, file.width) << k;
    EXPECT_EQ(cell.pixels, file.pixels) << k;
  }
  EXPECT_GT(cut, 0);

  const struct {
    OutputFormat format;
    int threads, written;
  } cancels[] = {{OutputFormat::kPng, 1, 0}, {OutputFormat::kBmp, 1, 3}, {OutputFormat::kBmp, 2, 3}};
  for (const auto& c : cancels) {
    for (const auto& entry : std::filesystem::directory_iterator(".")) std::filesystem::remove(entry.path());
    ASSERT_TRUE(WritePngFile("in.png", Sprite(40, 30)));
    app.runParameters.format = c.format;
    CancelAfter cancel{3};
    BmpFileOptions options;
    SheetSink sheet;
    const JobResult job = RunQuilletJob(app, cancel.Progress(), ImageImporter{},
                                        SinkFor(app.runParameters, options, sheet), c.threads);
    EXPECT_TRUE(job.Cancelled()) << c.threads;
    EXPECT_EQ(job.frames.framesWritten, c.written) << c.threads;
    EXPECT_EQ(cancel.shown, 3) << c.threads;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), std::filesystem::directory_iterator()),
              1 + c.written) << c.threads;
    EXPECT_EQ(TempListing(), "");
  }
}

// The series the parent test asks for, run in this process on its own; it prints the peak
// resident memory of the process.
TEST(PngSeriesChild, RunsTheSeriesItIsGiven) {
  const char* frames = std::getenv("QUILLET_TEST_SERIES_FRAMES");
  if (!frames) GTEST_SKIP() << "run by PngSeries.ALongSeriesStaysWithinBoundedMemory";
  const int count = std::atoi(frames);
  // Quarter turns all: angle k x 90 for frame k.
  const JobResult job = RunPng(count, 0, 90.0 * (count - 1), 1, 1, 0, std::uint64_t{1} << 20);
  ASSERT_TRUE(job.Succeeded());
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak-rss-kb=%ld\n", usage.ru_maxrss);
}

TEST_F(PngSeries, ALongSeriesStaysWithinBoundedMemory) {
  // 200 frames of 256 x 128 pixels: 25 MiB of frames, all held until the canvas is known.
  ASSERT_TRUE(WritePngFile("in.png", Sprite(256, 128)));
  auto peakKb = [&](int frames) {
    pixeltools::testing::Command command;
    command.argv = {std::filesystem::read_symlink("/proc/self/exe").string(),
                    "--gtest_filter=PngSeriesChild.RunsTheSeriesItIsGiven"};
    // Under AddressSanitizer freed blocks wait in a quarantine of up to 256 MiB, which would
    // count as the job's memory; without the sanitizer the setting does nothing.
    command.environment = {"QUILLET_TEST_SERIES_FRAMES=" + std::to_string(frames),
                           "ASAN_OPTIONS=quarantine_size_mb=0:thread_local_quarantine_size_kb=0"};
    command.timeout = std::chrono::seconds(240);
    const pixeltools::testing::ProcessResult run = pixeltools::testing::RunProcess(command);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const std::size_t at = run.out.find("peak-rss-kb=");
    return at == std::string::npos ? -1L : std::atol(run.out.c_str() + at + 12);
  };
  const long one = peakKb(1);
  const long many = peakKb(200);
  ASSERT_GT(one, 0);
  RecordProperty("peak_kib_one_frame", std::to_string(one));
  RecordProperty("peak_kib_200_frames", std::to_string(many));
  // The 1 MiB held, a frame on its canvas and its encoding: far below the 25 MiB of frames.
  EXPECT_LT(many - one, 8 * 1024) << one << " KiB for one frame, " << many << " KiB for 200";
  EXPECT_EQ(Written(200, false), 0x237990c555ea13e7ull);
  EXPECT_EQ(TempListing(), "");
}

}  // namespace
}  // namespace quillet
