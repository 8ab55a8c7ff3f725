// Throughput of the 3x scaler, and its share of a whole mostel run on a large sprite sheet.
#include <benchmark/benchmark.h>
#include <lodepng.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "driver.h"
#include "edge_scale.h"
#include "png_input.h"

namespace {

struct Picture {
  uint32_t width, height;
  std::vector<uint32_t> px;
};

// Transparent background, outlined blobs of a few shades with a highlight, as on a sheet of
// sprites.
Picture SpriteSheet(uint32_t w, uint32_t h) {
  std::mt19937 rng(5);
  const uint32_t shades[] = {0xFF203040u, 0xFF4080C0u, 0xFF60A0E0u, 0xFF2060A0u, 0xFF30C060u, 0xFFE0E0E0u};
  Picture p{w, h, std::vector<uint32_t>(size_t{w} * h, 0u)};
  for (uint32_t blob = 0; blob < w * h / 300; ++blob) {
    const int cx = int(rng() % w), cy = int(rng() % h), r = 3 + int(rng() % 9);
    const uint32_t fill = shades[rng() % 6];
    for (int y = cy - r - 1; y <= cy + r + 1; ++y)
      for (int x = cx - r - 1; x <= cx + r + 1; ++x) {
        if (x < 0 || y < 0 || x >= int(w) || y >= int(h)) continue;
        const int d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        uint32_t& px = p.px[size_t(y) * w + x];
        if (d2 <= r * r) px = (x - cx) + (y - cy) < -r / 2 ? 0xFFF0F0F0u : fill;  // highlight
        else if (d2 <= (r + 1) * (r + 1)) px = 0xFF101010u;
      }
  }
  return p;
}

Picture Noise(uint32_t w, uint32_t h) {
  std::mt19937 rng(9);
  Picture p{w, h, std::vector<uint32_t>(size_t{w} * h)};
  for (uint32_t& v : p.px) v = rng() | 0xFF000000u;
  return p;
}

mostel::ScalerJob JobFor(const Picture& src, std::vector<uint32_t>& dst) {
  dst.resize(src.px.size() * 9);
  return {src.px.data(), 2 * src.width, src.width, src.height, dst.data(), 6 * src.width, 3 * src.width, 3 * src.height};
}

void Scale(benchmark::State& state, const Picture& src) {
  std::vector<uint32_t> dst;
  const mostel::ScalerJob job = JobFor(src, dst);
  const unsigned threads = static_cast<unsigned>(state.range(0));
  for (auto _ : state) {
    mostel::ScalerCounts counts;
    mostel::EdgeScaleBlocks(job, threads, &counts);
    benchmark::DoNotOptimize(counts);
  }
  state.counters["src_MP/s"] =
      benchmark::Counter(double(src.px.size()) * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ScaleSpriteSheet(benchmark::State& state) {
  static const Picture src = SpriteSheet(512, 512);
  Scale(state, src);
}
void BM_ScaleNoise(benchmark::State& state) {
  static const Picture src = Noise(256, 256);
  Scale(state, src);
}

const int kCores = int(std::max(1u, std::thread::hardware_concurrency()));
BENCHMARK(BM_ScaleSpriteSheet)->Arg(1)->Arg(kCores)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScaleNoise)->Arg(1)->Arg(kCores)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// One mostel run on a 1024 x 2048 sprite sheet, its steps timed one by one through the
// driver's own calls: decode (reading and decoding the file), scale (allocating the
// enlargement, the scaler with its planes and threads, releasing the input) and encode
// (encoding and writing the file). Decoding and encoding are the work any run must do; the
// ratio of the whole run to them is what the scaler adds.
struct RunTimes {
  double decode = 0, scale = 0, encode = 0;
  double scaleCpu = 0;  // processor time of every thread of the process during the scale step
  double Ratio() const { return (decode + scale + encode) / (decode + encode); }
};

double CpuSeconds(std::clock_t since) { return double(std::clock() - since) / CLOCKS_PER_SEC; }

bool TimeOneRun(const std::string& in, const std::string& out, RunTimes& times, unsigned& filtered) {
  auto t = std::chrono::steady_clock::now();
  mostel::DecodedInput input;
  mostel::DecodePngFile(in.c_str(), input);
  times.decode = Seconds(t);
  if (input.failure != mostel::InputFailure::kNone) return false;

  t = std::chrono::steady_clock::now();
  const std::clock_t cpu = std::clock();
  mostel::Enlargement picture;
  const bool enlarged = mostel::EnlargeInput(input, picture);
  times.scale = Seconds(t);
  times.scaleCpu = CpuSeconds(cpu);
  if (!enlarged) return false;
  filtered = picture.counts.Filtered();

  t = std::chrono::steady_clock::now();
  const mostel::OutputResult written = mostel::WriteEnlargement(picture, out.c_str());
  times.encode = Seconds(t);
  return written.status == mostel::OutputStatus::kWritten;
}

void PrintShareOfWholeRun() {
  const Picture sheet = SpriteSheet(1024, 2048);
  const std::string in = "mostel_bench_in.png", out = "mostel_bench_out.png";
  if (lodepng_encode32_file(in.c_str(), reinterpret_cast<const unsigned char*>(sheet.px.data()), sheet.width,
                            sheet.height) != 0) {
    std::fprintf(stderr, "cannot write %s\n", in.c_str());
    return;
  }
  constexpr int kRuns = 3;
  std::vector<RunTimes> runs;
  unsigned filtered = 0;
  for (int k = 0; k < kRuns; ++k) {
    RunTimes times;
    if (!TimeOneRun(in, out, times, filtered)) {
      std::fprintf(stderr, "the run on %s failed\n", in.c_str());
      break;
    }
    runs.push_back(times);
  }
  std::remove(in.c_str());
  std::remove(out.c_str());
  if (runs.empty()) return;

  std::printf("\nWhole runs on a %ux%u sprite sheet (%u filtered pixels), %d cores:\n", sheet.width, sheet.height,
              filtered, kCores);
  for (const RunTimes& r : runs)
    std::printf("  decode %.3f s, scale %.3f s (processor %.3f s), encode %.3f s; whole run / (decode + encode) = %.3f\n",
                r.decode, r.scale, r.scaleCpu, r.encode, r.Ratio());
  std::sort(runs.begin(), runs.end(), [](const RunTimes& a, const RunTimes& b) { return a.Ratio() < b.Ratio(); });
  const RunTimes& median = runs[runs.size() / 2];
  std::printf("Median: decode %.3f s, scale %.3f s, encode %.3f s; whole run / (decode + encode) = %.3f\n",
              median.decode, median.scale, median.encode, median.Ratio());
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintShareOfWholeRun();
  return 0;
}
