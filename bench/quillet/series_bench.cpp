// Whole quillet jobs from 24-bit BMP files, in a fresh directory:
//   - a 36-frame series (0 to 350 degrees) of a 256 x 256 sprite, on 1 and 2 threads;
//   - one frame of it at 30 degrees;
//   - the same series and frame of a dense 256 x 256 sheet of small outlined sprites (many
//     colours, no flat background), with the score additions its phase search needs and makes;
//   - a 1024 x 1000 sheet turned 30 degrees;
//   - the dense series, one frame of it and the sheet by the quillet program from a command line;
//   - ImageMagick's naive pipeline for ONE frame of either sprite, when `convert` is installed:
//     convert in.bmp -sample 800% -filter point -distort SRT 30 -sample 12.5% out.bmp
//   - the same naive pipeline as a plain loop here, for ONE frame of either sprite: read the BMP,
//     repeat each pixel 8 x 8 times, turn the whole enlargement by point sampling onto a canvas
//     that holds it, keep the middle pixel of every 8 x 8 cell, write the BMP;
// and the peak resident memory of the quillet program running the sheet job, against the
// size of the sheet's eight-times enlargement. The figures are summed up at the end.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "quillet/pipeline.h"
#include "quillet/job.h"
#include "quillet/render.h"
#include "test_images.h"

extern char** environ;

namespace {

using namespace quillet;

constexpr char kSprite[] = "sprite256.bmp";
constexpr char kDense[] = "dense256.bmp";
constexpr char kSheet[] = "sheet1024.bmp";
constexpr std::int32_t kSheetWidth = 1024, kSheetHeight = 1000;

std::map<std::string, double>& Figures() {
  static std::map<std::string, double> figures;
  return figures;
}

void PrepareDirectory() {
  if (!testing::EnterProcessScratchDir()) return;
  WorkingBitmap bitmap;
  testing::SetPicture(bitmap, testing::SpriteLike(256, 256, 6, 11));
  WriteBitmapFile(kSprite, bitmap);
  testing::SetPicture(bitmap, testing::DenseSheet(256, 256, 96, 3));
  WriteBitmapFile(kDense, bitmap);
  testing::SetPicture(bitmap, testing::SpriteLike(kSheetWidth, kSheetHeight, 8, 5));
  WriteBitmapFile(kSheet, bitmap);
}

bool Job(const char* input, int frames, double angle, double endAngle, int threads) {
  AppState app;
  RunParameters& run = app.runParameters;
  run.frameCount = frames;
  run.angle = angle;
  run.endAngle = endAngle;
  std::snprintf(run.inputName, kPathChars, "%s", input);
  std::snprintf(run.outputName, kPathChars, "frame.bmp");
  const EnlargeResult enlarged = EnlargeImage(app, ProgressOf(app), ImageImporter{}, input, kEnlargeTempName, true);
  return enlarged.enlarged &&
         RunFrames(app, ProgressOf(app), BmpFileSink(BmpFileOptions{}), threads).framesWritten == (frames > 1 ? frames : 1);
}

// Runs work once per iteration; keeps the fastest run under name when every run succeeded.
template <typename Work>
void Measure(benchmark::State& state, const std::string& name, Work work) {
  PrepareDirectory();
  double best = 1e30;
  bool ok = true;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    ok = work() && ok;
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  if (!ok) {
    state.SkipWithError("a run failed");  // and no figure: a failed run's time means nothing
    return;
  }
  Figures()[name] = best;
}

// Runs the quillet program with args, as a user runs it from a terminal; false unless it
// exited with status 0. usage, when given, receives the child's resource use.
bool RunProgram(std::vector<std::string> args, rusage* usage = nullptr) {
  args.insert(args.begin(), QUILLET_PROGRAM);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  rusage ignored{};
  return wait4(pid, &status, 0, usage ? usage : &ignored) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Peak resident set of the quillet program turning the sheet, in bytes; 0 when it failed.
// The child's figure is the larger of its own peak and this process's peak before the exec,
// so it is measured first, while this process is still small.
double ProgramPeakBytes() {
  rusage usage{};
  if (!RunProgram({"-in", kSheet, "-out", "sheet-frame", "-angle", "30"}, &usage)) return 0;
  return static_cast<double>(usage.ru_maxrss) * 1024.0;
}

void BM_SheetPeakMemory(benchmark::State& state) {
  PrepareDirectory();
  double peak = 0;
  for (auto _ : state) peak = ProgramPeakBytes();
  if (peak == 0) state.SkipWithError("the quillet program failed");
  const double enlargement = static_cast<double>(Stride24(8 * kSheetWidth)) * 8 * kSheetHeight;
  state.counters["peak_MB"] = peak / 1e6;
  state.counters["enlargement_MB"] = enlargement / 1e6;
  Figures()["peak_ratio"] = peak / enlargement;
}
BENCHMARK(BM_SheetPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// threads: 1 or 2
void BM_Series36(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  Measure(state, "series" + std::to_string(threads), [&] { return Job(kSprite, 36, 0, 350, threads); });
}
BENCHMARK(BM_Series36)->Arg(1)->Arg(2)->Iterations(6)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OneFrame30(benchmark::State& state) {
  Measure(state, "frame", [&] { return Job(kSprite, 1, 30, 30, 0); });
}
BENCHMARK(BM_OneFrame30)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// threads: 1 or 2
void BM_DenseSeries36(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  Measure(state, "dense_series" + std::to_string(threads), [&] { return Job(kDense, 36, 0, 350, threads); });
}
BENCHMARK(BM_DenseSeries36)->Arg(1)->Arg(2)->Iterations(6)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DenseOneFrame30(benchmark::State& state) {
  Measure(state, "dense_frame", [&] { return Job(kDense, 1, 30, 30, 0); });
}
BENCHMARK(BM_DenseOneFrame30)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// The phase search of the dense sheet's frame at 30 degrees alone, with its score additions.
void BM_DenseSearch30(benchmark::State& state) {
  WorkingBitmap bitmap;
  testing::SetPicture(bitmap, testing::DenseSheet(256, 256, 96, 3));
  testing::EnlargeInPlace(bitmap, 3);
  const FramePlan plan = PlanFrame(HeaderWidth(bitmap.header.get()), HeaderHeight(bitmap.header.get()), 30, 1);
  ScoreTable table;
  BuildScoreTable(bitmap, 0, table);
  SearchCounts counts;
  for (auto _ : state) {
    counts = {};
    benchmark::DoNotOptimize(PhaseSearch(JobProgress{}, bitmap, plan, 0, &table, {}, &counts));
  }
  Figures()["dense_needed"] = static_cast<double>(counts.needed);
  Figures()["dense_made"] = static_cast<double>(counts.made);
}
BENCHMARK(BM_DenseSearch30)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Sheet30(benchmark::State& state) {
  Measure(state, "sheet", [&] { return Job(kSheet, 1, 30, 30, 0); });
}
BENCHMARK(BM_Sheet30)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The quillet program itself from a command line, process start and imaging library included,
// as convert is timed: the dense sheet's series and one frame of it, and the 1024 x 1000 sheet.
// what: 0 series, 1 one frame, 2 the sheet
void BM_Program(benchmark::State& state) {
  static const char* const kNames[] = {"program_dense_series", "program_dense_frame", "program_sheet"};
  const int what = static_cast<int>(state.range(0));
  std::vector<std::string> args = {"-in", what == 2 ? kSheet : kDense, "-out", "program-frame", "-quiet"};
  if (what == 0) args.insert(args.end(), {"-angle", "0", "-endangle", "350", "-frames", "36"});
  else args.insert(args.end(), {"-angle", "30"});
  Measure(state, kNames[what], [&] { return RunProgram(args); });
}
BENCHMARK(BM_Program)->Arg(0)->Arg(1)->Arg(2)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// The naive pipeline as a plain loop: one frame of the 24-bit bottom-up BMP `input` turned
// `angle` degrees, written to `output`; false when reading or writing failed.
bool NaiveOneFrame(const char* input, double angle, const char* output) {
  const std::vector<std::uint8_t> file = testing::ReadFileBytes(input);
  if (file.size() < 54) return false;
  auto le32 = [&file](std::size_t at) {
    return static_cast<std::int32_t>(file[at] | file[at + 1] << 8 | file[at + 2] << 16 |
                                     static_cast<std::uint32_t>(file[at + 3]) << 24);
  };
  const std::int32_t offset = le32(10), w = le32(18), h = le32(22);
  const std::int64_t stride = (3 * std::int64_t{w} + 3) / 4 * 4;
  if (w <= 0 || h <= 0 || offset < 0 || static_cast<std::int64_t>(file.size()) < offset + stride * h) return false;
  // Nearest-neighbour 8x.
  const std::int64_t bigW = 8 * std::int64_t{w}, bigH = 8 * std::int64_t{h};
  std::vector<std::uint8_t> big(static_cast<std::size_t>(bigW * bigH * 3));
  for (std::int64_t y = 0; y < bigH; ++y)
    for (std::int64_t x = 0; x < bigW; ++x)
      for (int c = 0; c < 3; ++c)
        big[static_cast<std::size_t>((y * bigW + x) * 3 + c)] = file[static_cast<std::size_t>(offset + (y / 8) * stride + (x / 8) * 3 + c)];
  // Point-sampled turn onto a canvas holding the whole turned enlargement.
  const double radians = angle * 3.14159265358979323846 / 180, cosA = std::cos(radians), sinA = std::sin(radians);
  const std::int64_t turnW = static_cast<std::int64_t>(std::ceil(std::fabs(bigW * cosA) + std::fabs(bigH * sinA)));
  const std::int64_t turnH = static_cast<std::int64_t>(std::ceil(std::fabs(bigW * sinA) + std::fabs(bigH * cosA)));
  std::vector<std::uint8_t> turned(static_cast<std::size_t>(turnW * turnH * 3), 0);
  for (std::int64_t y = 0; y < turnH; ++y)
    for (std::int64_t x = 0; x < turnW; ++x) {
      const double dx = x + 0.5 - turnW / 2.0, dy = y + 0.5 - turnH / 2.0;
      const std::int64_t sx = static_cast<std::int64_t>(std::floor(cosA * dx + sinA * dy + bigW / 2.0));
      const std::int64_t sy = static_cast<std::int64_t>(std::floor(-sinA * dx + cosA * dy + bigH / 2.0));
      if (sx < 0 || sy < 0 || sx >= bigW || sy >= bigH) continue;
      for (int c = 0; c < 3; ++c)
        turned[static_cast<std::size_t>((y * turnW + x) * 3 + c)] = big[static_cast<std::size_t>((sy * bigW + sx) * 3 + c)];
    }
  // One pixel of every 8 x 8 cell, written as a BMP.
  const std::int64_t outW = turnW / 8, outH = turnH / 8, outStride = (3 * outW + 3) / 4 * 4;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(54 + outStride * outH), 0);
  auto put32 = [&out](std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) out[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> (8 * k));
  };
  out[0] = 'B';
  out[1] = 'M';
  put32(2, static_cast<std::uint32_t>(out.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(outW));
  put32(22, static_cast<std::uint32_t>(outH));
  out[26] = 1;
  out[28] = 24;
  for (std::int64_t y = 0; y < outH; ++y)
    for (std::int64_t x = 0; x < outW; ++x)
      for (int c = 0; c < 3; ++c)
        out[static_cast<std::size_t>(54 + y * outStride + x * 3 + c)] =
            turned[static_cast<std::size_t>(((8 * y + 4) * turnW + 8 * x + 4) * 3 + c)];
  std::FILE* f = std::fopen(output, "wb");
  if (!f) return false;
  const bool written = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && written;
}

// sprite: 0 for the sprite, 1 for the dense sheet
void BM_NaiveOneFrame(benchmark::State& state) {
  const bool dense = state.range(0) == 1;
  Measure(state, dense ? "dense_naive" : "naive", [&] { return NaiveOneFrame(dense ? kDense : kSprite, 30, "naive-out.bmp"); });
}
BENCHMARK(BM_NaiveOneFrame)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// sprite: 0 for the sprite, 1 for the dense sheet
void BM_ConvertOneFrame(benchmark::State& state) {
  if (std::system("command -v convert >/dev/null 2>&1") != 0) {
    state.SkipWithError("ImageMagick's convert is not installed");
    return;
  }
  const bool dense = state.range(0) == 1;
  const std::string command = std::string("convert ") + (dense ? kDense : kSprite) +
                              " -sample 800% -filter point -distort SRT 30 -sample 12.5% convert-out.bmp";
  Measure(state, dense ? "dense_convert" : "convert", [&] { return std::system(command.c_str()) == 0; });
}
BENCHMARK(BM_ConvertOneFrame)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void PrintFigures() {
  const auto& f = Figures();
  auto get = [&f](const char* key) {
    const auto it = f.find(key);
    return it == f.end() ? 0.0 : it->second;
  };
  std::printf("\nFigures (fastest runs):\n");
  std::printf("  36-frame series of a 256 x 256 sprite: %.3f s on 1 thread, %.3f s on 2 (speed-up %.2f)\n",
              get("series1"), get("series2"), get("series2") > 0 ? get("series1") / get("series2") : 0.0);
  if (get("convert") > 0)
    std::printf("  ImageMagick's naive pipeline, one frame: %.3f s; series / that = %.2f\n", get("convert"),
                get("series2") / get("convert"));
  if (get("naive") > 0)
    std::printf("  the naive pipeline as a plain loop, one frame: %.3f s; series / that = %.2f\n", get("naive"),
                get("series2") / get("naive"));
  std::printf("  one frame at 30 degrees: %.3f s\n", get("frame"));
  std::printf("  36-frame series of a dense 256 x 256 sheet: %.3f s on 1 thread, %.3f s on 2 (speed-up %.2f)\n",
              get("dense_series1"), get("dense_series2"),
              get("dense_series2") > 0 ? get("dense_series1") / get("dense_series2") : 0.0);
  if (get("dense_convert") > 0)
    std::printf("  ImageMagick's naive pipeline, one frame of it: %.3f s; series / that = %.2f\n", get("dense_convert"),
                get("dense_series2") / get("dense_convert"));
  if (get("dense_naive") > 0)
    std::printf("  the naive pipeline as a plain loop, one frame of it: %.3f s; series / that = %.2f\n",
                get("dense_naive"), get("dense_series2") / get("dense_naive"));
  std::printf("  one frame of it at 30 degrees: %.3f s\n", get("dense_frame"));
  std::printf("  its phase search at 30 degrees: %.0f score additions needed (M x M x output pixels), %.0f made (%.2f)\n",
              get("dense_needed"), get("dense_made"), get("dense_needed") > 0 ? get("dense_made") / get("dense_needed") : 0.0);
  std::printf("  1024 x 1000 sheet at 30 degrees: %.3f s\n", get("sheet"));
  std::printf("  the quillet program from a command line (process start included, as for convert):\n");
  std::printf("    dense series %.3f s", get("program_dense_series"));
  if (get("dense_convert") > 0)
    std::printf(" (/ ImageMagick's one frame = %.2f)", get("program_dense_series") / get("dense_convert"));
  std::printf(", one frame of it %.3f s, the 1024 x 1000 sheet %.3f s\n", get("program_dense_frame"),
              get("program_sheet"));
  std::printf("  sheet job's peak memory / eight-times enlargement: %.2f\n", get("peak_ratio"));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintFigures();
  return 0;
}
