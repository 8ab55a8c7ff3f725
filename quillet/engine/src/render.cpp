#include "quillet/render.h"

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "parallel.h"

namespace quillet {
namespace {

constexpr double kNegativeRadiansPerDegree = -0.017453292519943295;
constexpr std::int64_t kMaxOutputSide = std::int64_t{1} << 24;

// Candidates are ranked by (score, index) packed into one word: index in the low bits.
constexpr int kIndexBits = 10;  // M <= 32, so M x M <= 1024 candidates
constexpr std::uint64_t kMaxPixelScore = 8u * 765u * 765u;
static_assert(kMaxPixelBlockBytes / 3 * kMaxPixelScore < (std::uint64_t{1} << (64 - kIndexBits)),
              "a candidate's score must leave room for its index");

struct SourceView {
  const std::uint8_t* pixels;
  std::int64_t stride;
  std::int32_t width, height;
};

SourceView ViewOf(const WorkingBitmap& source) {
  return {source.pixels.data(), Stride24(HeaderWidth(source.header.get())), HeaderWidth(source.header.get()),
          HeaderHeight(source.header.get())};
}

// Sum over the eight neighbours of the squared distance to the pixel at byte offset so;
// the pixel must not lie in the outermost rows or columns.
std::uint32_t NeighbourScore(const SourceView& src, std::int64_t so) {
  const std::uint8_t* p = src.pixels + so;
  const std::uint32_t centre = PackColour(p);
  const std::int64_t s = src.stride;
  const std::int64_t offsets[8] = {-s - 3, -s, -s + 3, -3, 3, s - 3, s, s + 3};
  std::uint32_t sum = 0;
  for (std::int64_t off : offsets) {
    const std::uint32_t d = static_cast<std::uint32_t>(PixelDistance(centre, PackColour(p + off)));
    sum += d * d;
  }
  return sum;
}

// Neighbour scores of source pixels, computed when first needed. Threads may race to fill
// one entry; they store the same value, so relaxed atomics suffice.
class ScoreCache {
 public:
  explicit ScoreCache(const SourceView& src)
      : src_(src), scores_(static_cast<std::size_t>(src.width) * static_cast<std::size_t>(src.height), kUnknown) {}

  // Computes the scores of one row ahead of the search, except in the outermost columns.
  void FillRow(std::int64_t row) {
    for (std::int64_t col = 1; col + 1 < src_.width; ++col)
      scores_[static_cast<std::size_t>(row * src_.width + col)] = NeighbourScore(src_, row * src_.stride + 3 * col);
  }

  std::uint32_t At(std::int64_t row, std::int64_t col) {
    std::uint32_t& slot = scores_[static_cast<std::size_t>(row * src_.width + col)];
    std::atomic_ref<std::uint32_t> ref(slot);
    std::uint32_t value = ref.load(std::memory_order_relaxed);
    if (value == kUnknown) {
      value = NeighbourScore(src_, row * src_.stride + 3 * col);
      ref.store(value, std::memory_order_relaxed);
    }
    return value;
  }

 private:
  static constexpr std::uint32_t kUnknown = std::numeric_limits<std::uint32_t>::max();
  SourceView src_;
  std::vector<std::uint32_t> scores_;
};

double StartU(const FramePlan& plan, int i) { return i * plan.r - (plan.Y0 * plan.A + plan.X0 * plan.B); }
double StartV(const FramePlan& plan, int j) { return j * plan.r - (plan.Y0 * (-plan.B) + plan.X0 * plan.A); }

// Walks the output for candidate (i, j), adding the scores of the scored pixels; stops
// and returns false as soon as keepGoing(score) is false.
template <typename KeepGoing>
bool ScoreCandidate(const FramePlan& plan, ScoreCache& cache, int i, int j, std::uint64_t& score,
                    KeepGoing keepGoing) {
  const double wLimit = plan.srcWidth - 1;
  const double hLimit = plan.srcHeight - 1;
  double rowU = StartU(plan, i);
  double rowV = StartV(plan, j);
  score = 0;
  for (std::int32_t y = 0; y < plan.newH; ++y) {
    if (y >= 1 && y <= plan.newH - 2) {
      double u = rowU;
      double v = rowV;
      for (std::int32_t x = 0; x < plan.newW; ++x) {
        // Inside these bounds the position is also usable and its neighbours lie in the picture.
        if (v >= 1 && v < wLimit && u >= 1 && u < hLimit) {
          score += cache.At(static_cast<std::int64_t>(u), static_cast<std::int64_t>(v));
          if (!keepGoing(score)) return false;
        }
        u += plan.B;
        v += plan.A;
      }
    }
    rowU += plan.A;
    rowV += -plan.B;
  }
  return true;
}

int StepPosition(int i, int j, int m) { return 5 + 85 * (i * m + j) / (m * m); }

PhaseOffset SearchSequential(const AppState& app, const FramePlan& plan, ScoreCache& cache) {
  const int m = plan.M;
  std::uint64_t best = std::numeric_limits<std::uint64_t>::max();
  PhaseOffset bestOffset;
  for (int i = 0; i <= m; ++i) {
    for (int j = 0; j <= m; ++j) {
      ReportProgress(app, StepPosition(i, j, m));
      if (i == m || j == m) continue;
      std::uint64_t score = 0;
      const bool complete =
          ScoreCandidate(plan, cache, i, j, score, [best](std::uint64_t s) { return s < best; });
      if (complete && score < best) {
        best = score;
        bestOffset = {i, j};
      }
    }
  }
  return bestOffset;
}

// Same winner as the sequential order: the lowest score, ties to the lowest index i x M + j.
// A candidate stops once (its partial score, its index) ranks at or after the best so far.
// Progress is reported on the calling thread, in step order, as the finished candidates
// form an unbroken run from the first.
PhaseOffset SearchParallel(const AppState& app, const FramePlan& plan, ScoreCache& cache, int threads) {
  const int m = plan.M;
  const int candidates = m * m;
  std::atomic<std::uint64_t> bestKey{std::numeric_limits<std::uint64_t>::max()};
  std::vector<std::atomic<bool>> finished(static_cast<std::size_t>(candidates));
  const std::thread::id caller = std::this_thread::get_id();
  int reportedSteps = 0;  // steps (i, j) of the (M + 1) x (M + 1) sequence reported so far
  int finishedRun = 0;    // candidates 0 .. finishedRun - 1 are all finished
  auto reportUpTo = [&](int run) {
    // Step (i, j) with j < M needs candidate i x M + j; step (i, M) needs the last of row i.
    for (;; ++reportedSteps) {
      const int i = reportedSteps / (m + 1);
      const int j = reportedSteps % (m + 1);
      if (i > m) break;
      const int needs = i == m ? candidates : i * m + (j < m ? j : m - 1) + 1;
      if (needs > run) break;
      ReportProgress(app, StepPosition(i, j, m));
    }
  };
  ParallelFor(candidates, threads, [&](int k) {
    std::uint64_t score = 0;
    const std::uint64_t index = static_cast<std::uint64_t>(k);
    const bool complete = ScoreCandidate(plan, cache, k / m, k % m, score, [&](std::uint64_t s) {
      return ((s << kIndexBits) | index) < bestKey.load(std::memory_order_relaxed);
    });
    if (complete) {
      const std::uint64_t key = (score << kIndexBits) | index;
      std::uint64_t current = bestKey.load(std::memory_order_relaxed);
      while (key < current && !bestKey.compare_exchange_weak(current, key, std::memory_order_relaxed)) {
      }
    }
    finished[static_cast<std::size_t>(k)].store(true, std::memory_order_release);
    if (std::this_thread::get_id() != caller) return;
    while (finishedRun < candidates && finished[static_cast<std::size_t>(finishedRun)].load(std::memory_order_acquire))
      ++finishedRun;
    reportUpTo(finishedRun);
  });
  reportUpTo(candidates);
  const std::uint64_t key = bestKey.load();
  if (key == std::numeric_limits<std::uint64_t>::max()) return {};
  const int index = static_cast<int>(key & ((1u << kIndexBits) - 1));
  return {index / m, index % m};
}

}  // namespace

int SearchGridSize(std::int64_t pixelCount) {
  if (pixelCount < 1024) return 32;
  if (pixelCount < 16384) return 24;
  if (pixelCount < 36864) return 16;
  if (pixelCount < 65536) return 12;
  if (pixelCount < 147456) return 10;
  if (pixelCount < 262144) return 8;
  return 6;
}

FramePlan PlanFrame(std::int32_t srcWidth, std::int32_t srcHeight, double angle, double scale) {
  FramePlan p;
  p.srcWidth = srcWidth;
  p.srcHeight = srcHeight;
  p.s = scale > 0 ? scale : 1.0;
  p.step = 8 / p.s;
  p.e = 1 / p.step;
  p.d = std::fmod(angle, 360.0);
  if (p.d < 0) p.d = p.d + 360;
  p.theta = p.d * kNegativeRadiansPerDegree;
  p.phi = -p.theta;

  const double w = srcWidth;
  const double h = srcHeight;
  const double cosT = std::fabs(std::cos(p.theta));
  const double sinT = std::fabs(std::sin(p.theta));
  const double newW = std::ceil(std::fabs((w * cosT + h * sinT) * p.e));
  const double newH = std::ceil(std::fabs((w * sinT + h * cosT) * p.e));
  p.wantedW = newW;
  p.wantedH = newH;
  // Rejects NaN and infinity (from a non-finite angle or scale) along with oversizes.
  if (srcWidth <= 0 || srcHeight <= 0 || !(newW >= 1 && newW <= kMaxOutputSide) ||
      !(newH >= 1 && newH <= kMaxOutputSide) || !std::isfinite(p.e) || p.e <= 0)
    return p;
  p.newW = static_cast<std::int32_t>(newW);
  p.newH = static_cast<std::int32_t>(newH);
  if (static_cast<std::uint64_t>(Stride24(p.newW)) * static_cast<std::uint64_t>(p.newH) > kMaxPixelBlockBytes)
    return p;

  p.A = p.step * std::cos(p.phi);
  p.B = p.step * std::sin(p.phi);
  const double c1 = w * p.A * p.e * p.e;
  const double c2 = w * p.B * p.e * p.e;
  const double c3 = h * p.B * p.e * p.e;
  const double c4 = -(h * p.A) * p.e * p.e;
  double minX = 0;
  for (double c : {c1, c3, c1 + c3}) minX = c < minX ? c : minX;
  double minY = 0;
  for (double c : {c2, c4, c2 + c4}) minY = c < minY ? c : minY;
  p.X0 = -minX;
  p.Y0 = p.newH + minY;

  p.M = SearchGridSize(static_cast<std::int64_t>(p.newW) * p.newH);
  p.r = 1 / (p.M * p.e);
  p.valid = true;
  return p;
}

PhaseOffset PhaseSearch(const AppState& app, const WorkingBitmap& source, const FramePlan& plan, int threads) {
  if (!plan.valid || !HasImage24(source)) return {};
  ScoreCache cache(ViewOf(source));
  if (threads <= 0) threads = HardwareThreads();
  // Nearly every score is needed by the first candidates; filled ahead, in rows, the cache is
  // only read during the search and no cache line is written by two threads.
  ParallelFor(HeaderHeight(source.header.get()) - 2, threads, [&cache](int k) { cache.FillRow(k + 1); });
  if (threads == 1) return SearchSequential(app, plan, cache);
  return SearchParallel(app, plan, cache, threads);
}

void SamplingPass(const WorkingBitmap& source, const FramePlan& plan, PhaseOffset offset, OutputBitmap& output) {
  const SourceView src = ViewOf(source);
  const std::int64_t dstStride = Stride24(plan.newW);
  const std::int64_t srcBytes = src.stride * src.height;
  double rowU = StartU(plan, offset.i);
  double rowV = StartV(plan, offset.j);
  for (std::int32_t y = 0; y < plan.newH; ++y) {
    if (y >= 1 && y <= plan.newH - 2) {
      double u = rowU;
      double v = rowV;
      std::uint8_t* out = output.pixels + y * dstStride;
      for (std::int32_t x = 0; x < plan.newW; ++x) {
        if (v >= 0 && u >= 0 && v < src.width && u < src.height) {
          const std::int64_t so = static_cast<std::int64_t>(u) * src.stride + 3 * static_cast<std::int64_t>(v);
          if (so - src.stride >= 0 && so + src.stride < srcBytes) {
            out[3 * x] = src.pixels[so];
            out[3 * x + 1] = src.pixels[so + 1];
            out[3 * x + 2] = src.pixels[so + 2];
          }
        }
        u += plan.B;
        v += plan.A;
      }
    }
    rowU += plan.A;
    rowV += -plan.B;
  }
}

void DetailPass(const WorkingBitmap& source, const FramePlan& plan, PhaseOffset offset, OutputBitmap& output) {
  const SourceView src = ViewOf(source);
  const std::int64_t ds = Stride24(plan.newW);
  const std::int64_t dstBytes = ds * plan.newH;
  const std::int64_t srcBytes = src.stride * src.height;
  const double wLimit = src.width - 1;
  const double hLimit = src.height - 1;
  const double rowStepU = plan.A * 0.5;
  const double rowStepV = -plan.B * 0.5;
  const double stepU = plan.B * 0.5;
  const double stepV = plan.A * 0.5;
  std::uint8_t* out = output.pixels;
  double rowU = StartU(plan, offset.i);
  double rowV = StartV(plan, offset.j);
  for (std::int64_t n = 0; n < 2 * std::int64_t{plan.newH}; ++n) {
    double u = rowU;
    double v = rowV;
    for (std::int64_t m = 0; m < 2 * std::int64_t{plan.newW}; ++m) {
      const std::int64_t o = (n / 2) * ds + 3 * (m / 2);
      if (o - ds - 3 >= 0 && o + ds + 6 <= dstBytes && v >= 1 && u >= 1 && v < wLimit && u < hLimit) {
        const std::int64_t so = static_cast<std::int64_t>(u) * src.stride + 3 * static_cast<std::int64_t>(v);
        if (so - src.stride - 3 >= 0 && so + src.stride + 3 < srcBytes) {
          const std::uint32_t detail = PackColour(src.pixels + so);
          const std::uint32_t here = PackColour(out + o);
          const std::uint32_t left = PackColour(out + o - 3);
          const std::uint32_t right = PackColour(out + o + 3);
          const std::uint32_t below = PackColour(out + o - ds);
          const std::uint32_t above = PackColour(out + o + ds);
          const std::uint32_t belowLeft = PackColour(out + o - ds - 3);
          const std::uint32_t belowRight = PackColour(out + o - ds + 3);
          const std::uint32_t aboveLeft = PackColour(out + o + ds - 3);
          const std::uint32_t aboveRight = PackColour(out + o + ds + 3);
          const bool lone = detail != here && detail != left && detail != right && detail != below &&
                            detail != above && detail != belowLeft && detail != belowRight &&
                            detail != aboveLeft && detail != aboveRight;
          const bool flat = here == right && here == above && here == left && here == below;
          if (lone && flat) {
            out[o] = src.pixels[so];
            out[o + 1] = src.pixels[so + 1];
            out[o + 2] = src.pixels[so + 2];
          }
        }
      }
      u += stepU;
      v += stepV;
    }
    rowU += rowStepU;
    rowV += rowStepV;
  }
}

OutputBitmap RenderFrameBitmap(const AppState& app, const WorkingBitmap& source, double angle, double scale,
                               int threads) {
  OutputBitmap output;
  const FramePlan plan =
      PlanFrame(HeaderWidth(source.header.get()), HeaderHeight(source.header.get()), angle, scale);
  if (HasImage24(source) && plan.valid) output = CreateOutputBitmap(source, plan.newW, plan.newH);
  ReportProgress(app, 5);
  if (!output.pixels) return output;

  const std::uint32_t background = BackgroundColour(source);
  const std::int64_t ds = Stride24(plan.newW);
  for (std::int32_t y = 0; y < plan.newH; ++y) {
    std::uint8_t* row = output.pixels + y * ds;
    for (std::int32_t x = 0; x < plan.newW; ++x) {
      row[3 * x] = static_cast<std::uint8_t>(background);
      row[3 * x + 1] = static_cast<std::uint8_t>(background >> 8);
      row[3 * x + 2] = static_cast<std::uint8_t>(background >> 16);
    }
  }
  const PhaseOffset offset = PhaseSearch(app, source, plan, threads);
  ReportProgress(app, 90);
  SamplingPass(source, plan, offset, output);
  ReportProgress(app, 95);
  DetailPass(source, plan, offset, output);
  ReportProgress(app, 98);
  return output;
}

bool RenderFrame(const AppState& app, double angle, double scale, const char* fileName, int threads) {
  OutputBitmap output = RenderFrameBitmap(app, app.workingBitmap, angle, scale, threads);
  const bool written = output.pixels && WriteBitmapFile(fileName, output);
  ReportProgress(app, 100);
  return written;
}

}  // namespace quillet
