// Whole jobs from a 64 x 64 sprite-like PNG: import, three smart 2x steps and one frame at
// 30 degrees, or a series of 36 frames from 0 to 350 degrees. The counter temp_share is the
// part of a job spent on the temporary files: the import's detour through "temp24.tif" and
// "temp24.bmp" beyond decoding the PNG, and the enlargement's round trips through
// "_temp.bmp" beyond the same steps handed over in memory. Then a transparent sprite turned in
// 36 frames, as BMP frames and as one PNG sprite sheet. Runs in a fresh directory.
#include <benchmark/benchmark.h>
#include <lodepng.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "quillet/import.h"
#include "quillet/job.h"
#include "quillet/pipeline.h"
#include "quillet/sprite_job.h"
#include "test_images.h"

namespace {

using namespace quillet;

constexpr char kInput[] = "sprite64.png";

// Shortest of a few runs, in seconds.
template <typename Work>
double Fastest(Work work, int runs = 15) {
  double best = 1e30;
  for (int k = 0; k < runs; ++k) {
    const auto start = std::chrono::steady_clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

// Seconds a job spends on its temporary files beyond the work they carry.
double TemporaryFileSeconds(const ImagingApi& imaging) {
  AppState app;
  const double import = Fastest([&] { ImportImage(app, imaging, ErrorDisplay{}, kInput); });
  const double decode = Fastest([&] { imaging.disposeImage(imaging.context, imaging.loadImage(imaging.context, kInput)); });
  testing::SetPicture(app.workingBitmap, testing::SpriteLike(64, 64, 6, 11));
  WriteBitmapFile("sprite64.bmp", app.workingBitmap);
  const double throughFiles = Fastest([&] { EnlargeImage(app, ProgressOf(app), ImageImporter{}, "sprite64.bmp", "_temp.bmp", true); });
  const double inMemory = Fastest([&] {
    testing::SetPicture(app.workingBitmap, testing::SpriteLike(64, 64, 6, 11));
    testing::EnlargeInPlace(app.workingBitmap, 3);
  });
  return std::max(0.0, import - decode) + std::max(0.0, throughFiles - inMemory);
}

void PrepareDirectory() {
  if (!testing::EnterProcessScratchDir()) return;
  lodepng::encode(kInput, testing::OpaqueRgbaBytes(testing::SpriteLike(64, 64, 6, 11)), 64, 64);
}

// frames: 1 for one frame at 30 degrees, 36 for 0, 10, ..., 350 degrees
void BM_Job(benchmark::State& state) {
  PrepareDirectory();
  const ImagingApi& imaging = LoadImagingLibrary();
  if (!imaging.available) {
    state.SkipWithError("the imaging library is not available");
    return;
  }
  AppState app;
  RunParameters& run = app.runParameters;
  run.frameCount = static_cast<int>(state.range(0));
  run.angle = run.frameCount > 1 ? 0.0 : 30.0;
  run.endAngle = 350.0;
  std::snprintf(run.inputName, kPathChars, "%s", kInput);
  std::snprintf(run.outputName, kPathChars, "frame.bmp");
  ImportSetup import;
  import.imaging = &imaging;
  const ImageImporter importer = ImporterFor(import);
  bool ok = true;
  for (auto _ : state) ok = ok && RunQuilletJob(app, ProgressOf(app), importer, BmpFileSink(BmpFileOptions{})).Succeeded();
  if (!ok) state.SkipWithError("a job failed");
  const double job = Fastest([&] { RunQuilletJob(app, ProgressOf(app), importer, BmpFileSink(BmpFileOptions{})); }, 5);
  state.counters["temp_share"] = TemporaryFileSeconds(imaging) / job;
}
BENCHMARK(BM_Job)->Arg(1)->Arg(36)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same sprite with a transparent background and a soft shadow, turned in 36 frames from 0
// to 350 degrees: 0 writes BMP frames (the input laid over the background colour first), 1 one
// PNG sprite sheet of 6 frames to a row. png_over_bmp is the PNG mode's time over the BMP
// path's, measured in the same process.
constexpr char kTransparentInput[] = "sprite64-alpha.png";

void PrepareTransparentInput() {
  static bool done = false;
  if (done) return;
  done = true;
  const testing::Picture picture = testing::SpriteLike(64, 64, 6, 11);
  const std::uint32_t background = picture.At(0, 0);
  std::vector<unsigned char> rgba;
  for (std::int32_t y = picture.height - 1; y >= 0; --y)
    for (std::int32_t x = 0; x < picture.width; ++x) {
      const std::uint32_t c = picture.At(x, y);
      const bool shadow = c == background && y < 6 && x > 8 && x < 56;
      const unsigned char alpha = c != background ? 255 : shadow ? 96 : 0;
      rgba.insert(rgba.end(), {static_cast<unsigned char>(c >> 16), static_cast<unsigned char>(c >> 8),
                               static_cast<unsigned char>(c), alpha});
    }
  lodepng::encode(kTransparentInput, rgba, 64, 64);
}

JobResult RunTransparentJob(AppState& app, const ImageImporter& importer, bool png) {
  RunParameters& run = app.runParameters;
  run.frameCount = 36;
  run.angle = 0.0;
  run.endAngle = 350.0;
  std::snprintf(run.inputName, kPathChars, "%s", kTransparentInput);
  if (png) {
    run.format = OutputFormat::kPng;
    run.sheetColumns = 6;
    std::snprintf(run.outputName, kPathChars, "sheet.png");
  } else {
    run.format = OutputFormat::kBmp;
    std::snprintf(run.outputName, kPathChars, "frame.bmp");
  }
  BmpFileOptions options;
  SheetSink sheet;
  return RunQuilletJob(app, ProgressOf(app), importer, SinkFor(run, options, sheet));
}

void BM_TransparentSeries(benchmark::State& state) {
  PrepareDirectory();
  PrepareTransparentInput();
  ImportSetup setup;
  setup.imaging = &LoadImagingLibrary();
  const ImageImporter importer = ImporterFor(setup);
  const bool png = state.range(0) == 1;
  AppState app;
  bool ok = true;
  for (auto _ : state) ok = ok && RunTransparentJob(app, importer, png).Succeeded();
  if (!ok) state.SkipWithError("a job failed");
  if (png) {
    const double pngJob = Fastest([&] { RunTransparentJob(app, importer, true); }, 3);
    const double bmpJob = Fastest([&] { RunTransparentJob(app, importer, false); }, 3);
    state.counters["png_over_bmp"] = pngJob / bmpJob;
  }
}
BENCHMARK(BM_TransparentSeries)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
