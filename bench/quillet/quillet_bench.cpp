// A 64 x 64 sprite-like picture enlarged eight times: smart 2x step throughput and the
// time of one frame (scale 1, angle 30) on one thread and on every core. And the stand-in
// colours of side x side distinct colours at alpha 1, whose looks over the key all crowd
// onto a few colours.
#include <benchmark/benchmark.h>

#include "quillet/app_state.h"
#include "quillet/enlarge.h"
#include "quillet/render.h"
#include "quillet/sprite.h"
#include "test_images.h"

namespace {

using namespace quillet;

// source pixels of the step's input: 64, 128 or 256 square
void BM_EnlargeStep(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  WorkingBitmap source;
  testing::SetPicture(source, testing::SpriteLike(64, 64, 6, 11));
  testing::EnlargeInPlace(source, side == 64 ? 0 : side == 128 ? 1 : 2);
  OutputBitmap output = CreateOutputBitmap(source, 2 * side, 2 * side);
  for (auto _ : state) {
    EnlargeInto(source, output);
    benchmark::DoNotOptimize(output.pixels);
  }
  state.SetItemsProcessed(state.iterations() * side * side);
}
BENCHMARK(BM_EnlargeStep)->Arg(64)->Arg(128)->Arg(256)->Unit(benchmark::kMicrosecond);

const WorkingBitmap& EightTimes() {
  static const WorkingBitmap bitmap = [] {
    WorkingBitmap b;
    testing::SetPicture(b, testing::SpriteLike(64, 64, 6, 11));
    testing::EnlargeInPlace(b, 3);
    return b;
  }();
  return bitmap;
}

// threads: 1, or 0 for every core
void BM_RenderFrame(benchmark::State& state) {
  const WorkingBitmap& source = EightTimes();
  AppState app;
  const int threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    OutputBitmap frame = RenderFrameBitmap(ProgressOf(app), source, 30, 1, threads);
    benchmark::DoNotOptimize(frame.pixels);
  }
}
BENCHMARK(BM_RenderFrame)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// side: 256 or 512
void BM_StandInColours(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  RgbaImage faint = BlankImage(side, side);
  for (std::size_t k = 0; k < faint.pixels.size(); ++k)
    faint.pixels[k] = (static_cast<Rgba>(k) * 2654435761u & 0xFFFFFF) | Rgba{1} << 24;
  for (auto _ : state) {
    const StandInMap map = BuildStandInMap(faint);
    benchmark::DoNotOptimize(map.key);
  }
  state.SetItemsProcessed(state.iterations() * side * side);
}
BENCHMARK(BM_StandInColours)->Arg(256)->Arg(512)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
