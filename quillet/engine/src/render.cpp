#include "quillet/render.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "parallel.h"
#include "pixeltools/large_pages.h"
#include "score_table_internal.h"
#include "search_kernels.h"

namespace quillet {
namespace {

constexpr double kNegativeRadiansPerDegree = -0.017453292519943295;
constexpr std::int64_t kMaxOutputSide = std::int64_t{1} << 24;

// A candidate's score sums at most one neighbour score per pixel of the largest block.
static_assert(kMaxPixelBlockBytes / 3 * kMaxNeighbourScore < (std::uint64_t{1} << 63),
              "candidate scores must not overflow");

// One coordinate of the positions a walk over output pixels lands on in the enlargement:
// it starts at start, grows by step from pixel to pixel along a row and by rowStep from
// row to row. AxisCursor alone does the additions, always in this order, so every pass
// over the same grid sees the same bits.
struct Axis {
  double start = 0, step = 0, rowStep = 0;
};

class AxisCursor {
 public:
  AxisCursor() = default;
  explicit AxisCursor(const Axis& axis)
      : step_(axis.step), rowStep_(axis.rowStep), rowStart_(axis.start), at_(axis.start) {}

  double At() const { return at_; }
  void NextPixel() { at_ += step_; }
  void NextRow() {  // to the first pixel of the next row
    rowStart_ += rowStep_;
    at_ = rowStart_;
  }

 private:
  double step_ = 0, rowStep_ = 0;  // the axis's, kept here so a step reads nothing else
  double rowStart_ = 0, at_ = 0;
};

struct Walk {
  Axis u, v;  // u: row of the enlargement, v: column
  std::int64_t rows = 0, cols = 0;
};

// The output grid at sampling offset (i, j): one position per output pixel. u depends on
// i alone and v on j alone.
Walk PixelWalk(const FramePlan& plan, int i, int j) {
  return {{i * plan.r - (plan.Y0 * plan.A + plan.X0 * plan.B), plan.B, plan.A},
          {j * plan.r - (plan.Y0 * (-plan.B) + plan.X0 * plan.A), plan.A, -plan.B},
          plan.newH,
          plan.newW};
}

// Twice as fine: four sub-samples per output pixel, (n, m) lying in pixel (n / 2, m / 2).
Walk HalfStepWalk(const FramePlan& plan, PhaseOffset offset) {
  const Walk pixels = PixelWalk(plan, offset.i, offset.j);
  return {{pixels.u.start, plan.B * 0.5, plan.A * 0.5},
          {pixels.v.start, plan.A * 0.5, -plan.B * 0.5},
          2 * std::int64_t{plan.newH},
          2 * std::int64_t{plan.newW}};
}

// Calls visit(y, x, u, v) for every point of row y, u and v standing at the row's first point.
template <typename Visit>
void WalkRow(const Walk& walk, std::int64_t y, AxisCursor u, AxisCursor v, Visit visit) {
  for (std::int64_t x = 0; x < walk.cols; ++x, u.NextPixel(), v.NextPixel()) visit(y, x, u.At(), v.At());
}

// Asks for the cache line at p to be loaded, without waiting for it.
inline void PrefetchRead(const void* p) { __builtin_prefetch(p, 0, 3); }

// Pixels (sampling) or sub-samples (details) between a read's start and its use: far enough
// ahead for a read from memory to arrive in time.
constexpr std::int64_t kReadAhead = 32;
constexpr std::int64_t kDetailReadAhead = 64;

int StepPosition(int i, int j, int m) { return 5 + 85 * (i * m + j) / (m * m); }

constexpr std::int64_t kSearchBandRows = 4;  // output rows per piece of the search's work

// Each buffer keeps a cache line of unused room on both sides, so that what one worker
// writes for every pixel never shares a line with another worker's buffers.
template <typename T>
class PaddedBuffer {
 public:
  static constexpr std::size_t kPad = (64 + sizeof(T) - 1) / sizeof(T);
  void Assign(std::size_t count, const T& value) { items_.assign(count + 2 * kPad, value); }
  T* data() { return items_.data() + kPad; }
  const T* data() const { return items_.data() + kPad; }
  T& operator[](std::size_t k) { return data()[k]; }
  const T& operator[](std::size_t k) const { return data()[k]; }

 private:
  std::vector<T> items_;
};

struct SearchBuffers {
  PaddedBuffer<AxisCursor> us, vs;          // at the first pixel of the row
  PaddedBuffer<double> uAt, vAt;            // along the row
  PaddedBuffer<std::int32_t> rows, cols;
  PaddedBuffer<std::uint64_t> sums;
  std::uint64_t rowsAdded = 0;  // rows of M candidates a pixel added
  std::int64_t cursorRow = -1;  // the row us and vs stand at; -1 before the first band
};

// Adds to sums[i x M + j] the scores under the pixels of output rows first..last for every
// candidate (i, j). A candidate's rows of the enlargement depend on i alone and its columns
// on j alone, so each pixel needs M rows and M columns; the M x M scores it adds then lie in
// a small block of the table.
void ScoreRows(const FramePlan& plan, const ScoreTable& table, const SourceView& src, const std::vector<Axis>& uAxes,
               const std::vector<Axis>& vAxes, const std::vector<double>& uSteps, const std::vector<double>& vSteps,
               std::int64_t first, std::int64_t last, const SearchKernels& kernels, SearchBuffers& buffers) {
  const int m = plan.M;
  // A worker's bands come in rising order: its cursors walk on from where its last band left
  // them, taking the same steps as a walk from row 0.
  if (buffers.cursorRow < 0 || buffers.cursorRow > first) {
    for (int k = 0; k < m; ++k) {
      buffers.us[static_cast<std::size_t>(k)] = AxisCursor(uAxes[static_cast<std::size_t>(k)]);
      buffers.vs[static_cast<std::size_t>(k)] = AxisCursor(vAxes[static_cast<std::size_t>(k)]);
    }
    buffers.cursorRow = 0;
  }
  for (int k = 0; k < m; ++k) {
    AxisCursor& u = buffers.us[static_cast<std::size_t>(k)];
    AxisCursor& v = buffers.vs[static_cast<std::size_t>(k)];
    for (std::int64_t y = buffers.cursorRow; y < first; ++y) {
      u.NextRow();
      v.NextRow();
    }
  }
  // Along a row the kernels step the positions themselves, with the cursors' additions in
  // the cursors' order.
  PositionChunk positions{buffers.uAt.data(), buffers.vAt.data(), uSteps.data(), vSteps.data(), m, ColumnStride(m),
                          0, plan.srcHeight - 1.0, plan.srcWidth - 1.0, buffers.rows.data(), buffers.cols.data()};
  const ScoreChunk scores{&table, &src, buffers.rows.data(), buffers.cols.data(), m, ColumnStride(m), 0,
                          buffers.sums.data(), &buffers.rowsAdded};
  for (std::int64_t y = first; y <= last; ++y) {
    for (int k = 0; k < m; ++k) {
      buffers.uAt[static_cast<std::size_t>(k)] = buffers.us[static_cast<std::size_t>(k)].At();
      buffers.vAt[static_cast<std::size_t>(k)] = buffers.vs[static_cast<std::size_t>(k)].At();
    }
    for (std::int64_t x0 = 0; x0 < plan.newW; x0 += kChunkPixels) {
      positions.n = std::min<std::int64_t>(kChunkPixels, plan.newW - x0);
      kernels.positions(positions);
      ScoreChunk chunk = scores;
      chunk.n = positions.n;
      kernels.score(chunk);
    }
    for (int k = 0; k < m; ++k) {
      buffers.us[static_cast<std::size_t>(k)].NextRow();
      buffers.vs[static_cast<std::size_t>(k)].NextRow();
    }
  }
  buffers.cursorRow = last + 1;
}

// The candidate of lowest score, ties to the lowest index i x M + j: the same winner as
// scoring one candidate after the other and dropping each as soon as it reaches the best so
// far. The scored rows are shared out in bands; integer sums do not depend on the order.
// Progress is reported on the calling thread, in step order, as bands are finished.
PhaseOffset Search(const JobProgress& progress, const FramePlan& plan, const ScoreTable& table, const SourceView& src,
                   int threads, PhaseFilter filter, SearchCounts* counts) {
  const int m = plan.M;
  const int candidates = m * m;
  std::vector<Axis> uAxes, vAxes;
  std::vector<double> uSteps, vSteps;
  for (int k = 0; k < m; ++k) {
    uAxes.push_back(PixelWalk(plan, k, 0).u);
    vAxes.push_back(PixelWalk(plan, 0, k).v);
    uSteps.push_back(uAxes.back().step);
    vSteps.push_back(vAxes.back().step);
  }
  const SearchKernels& kernels = ChosenSearchKernels();
  const std::int64_t scoredRows = std::max<std::int64_t>(0, std::int64_t{plan.newH} - 2);
  const int bands = static_cast<int>((scoredRows + kSearchBandRows - 1) / kSearchBandRows);
  const int steps = (m + 1) * (m + 1);
  std::atomic<int> nextBand{0};
  std::atomic<int> bandsDone{0};
  const std::thread::id caller = std::this_thread::get_id();
  int reportedSteps = 0;
  auto reportUpTo = [&](int stepCount) {
    for (; reportedSteps < stepCount; ++reportedSteps)
      ReportProgress(progress, StepPosition(reportedSteps / (m + 1), reportedSteps % (m + 1), m));
  };
  const int workers = std::max(1, std::min(threads, bands));
  // Every worker's buffers are made here, so that running out of memory is met on this thread.
  std::vector<SearchBuffers> buffers(static_cast<std::size_t>(workers));
  for (SearchBuffers& b : buffers) {
    b.us.Assign(static_cast<std::size_t>(m), AxisCursor());
    b.vs.Assign(static_cast<std::size_t>(m), AxisCursor());
    b.uAt.Assign(static_cast<std::size_t>(m), 0);
    b.vAt.Assign(static_cast<std::size_t>(m), 0);
    b.rows.Assign(static_cast<std::size_t>(kChunkPixels * m), 0);
    b.cols.Assign(static_cast<std::size_t>(kChunkPixels * ColumnStride(m)), 0);
    b.sums.Assign(static_cast<std::size_t>(candidates), 0);
  }
  ParallelFor(workers, workers, [&](int worker) {
    SearchBuffers& mine = buffers[static_cast<std::size_t>(worker)];
    for (int band = nextBand.fetch_add(1); band < bands; band = nextBand.fetch_add(1)) {
      const std::int64_t first = 1 + band * kSearchBandRows;
      ScoreRows(plan, table, src, uAxes, vAxes, uSteps, vSteps, first, std::min(first + kSearchBandRows - 1, scoredRows),
                kernels, mine);
      const int done = bandsDone.fetch_add(1) + 1;
      if (std::this_thread::get_id() == caller)
        reportUpTo(static_cast<int>(static_cast<std::int64_t>(steps - 1) * done / bands));
    }
  });
  reportUpTo(steps);
  std::vector<std::uint64_t> totals(static_cast<std::size_t>(candidates), 0);
  for (const SearchBuffers& b : buffers)
    for (int k = 0; k < candidates; ++k) totals[static_cast<std::size_t>(k)] += b.sums[static_cast<std::size_t>(k)];
  if (counts) {
    counts->needed += static_cast<std::uint64_t>(candidates) * static_cast<std::uint64_t>(plan.newW) *
                      static_cast<std::uint64_t>(plan.newH);
    for (const SearchBuffers& b : buffers) counts->made += b.rowsAdded * static_cast<std::uint64_t>(m);
  }
  int best = -1;
  for (int k = 0; k < candidates; ++k) {
    if (filter.allowed && !filter.allowed(filter.context, PhaseOffset{k / m, k % m})) continue;
    if (best < 0 || totals[static_cast<std::size_t>(k)] < totals[static_cast<std::size_t>(best)]) best = k;
  }
  if (best < 0) {
    best = 0;
    for (int k = 1; k < candidates; ++k)
      if (totals[static_cast<std::size_t>(k)] < totals[static_cast<std::size_t>(best)]) best = k;
  }
  return {best / m, best % m};
}

}  // namespace

int SearchGridSize(std::int64_t pixelCount) {
  static_assert(kMaxSearchGrid == 32, "the search's kernels hold up to 32 x 32 sums");
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

void LandingPoint(const FramePlan& plan, PhaseOffset offset, double row, double column, double& x, double& y) {
  // The sampling walk run backwards.
  const double p = row - offset.i * plan.r;
  const double q = column - offset.j * plan.r;
  const double norm = plan.A * plan.A + plan.B * plan.B;
  const double dx = (p * plan.B + q * plan.A) / norm;
  const double dy = (p * plan.A - q * plan.B) / norm;
  x = plan.X0 + dx + 0.5;
  y = plan.newH - (plan.Y0 + dy + 0.5);
}

PhaseOffset PhaseSearch(const JobProgress& progress, const WorkingBitmap& source, const FramePlan& plan, int threads,
                        ScoreTable* scores, PhaseFilter filter, SearchCounts* counts) {
  if (!plan.valid || !HasImage24(source)) return {};
  if (threads <= 0) threads = HardwareThreads();
  ScoreTable own;
  ScoreTable& table = scores ? *scores : own;
  if (!ScoreTableFits(table, source)) BuildScoreTable(source, threads, table);
  const SourceView src = ViewOf(source);
  return Search(progress, plan, table, src, threads, filter, counts);
}

void SamplingPass(const WorkingBitmap& source, const FramePlan& plan, PhaseOffset offset, OutputBitmap& output,
                  int threads) {
  const SourceView src = ViewOf(source);
  const std::int64_t dstStride = Stride24(plan.newW);
  const std::int64_t srcBytes = src.stride * src.height;
  const Walk walk = PixelWalk(plan, offset.i, offset.j);
  // Every output pixel is written once, from its own position, so bands of rows are
  // independent; each band starts from cursors walked to its first row in order here, so
  // it sees the same positions as one walk over all the rows.
  const std::int64_t lastRow = std::int64_t{plan.newH} - 2;
  if (threads <= 0) threads = HardwareThreads();
  constexpr std::int64_t kBandRows = 16;
  const int bands = static_cast<int>(std::max<std::int64_t>(0, (lastRow + kBandRows - 1) / kBandRows));
  std::vector<std::pair<AxisCursor, AxisCursor>> bandStarts(static_cast<std::size_t>(bands));
  {
    AxisCursor u(walk.u), v(walk.v);
    u.NextRow();
    v.NextRow();
    for (int band = 0; band < bands; ++band) {
      bandStarts[static_cast<std::size_t>(band)] = {u, v};
      for (std::int64_t k = 0; k < kBandRows; ++k, u.NextRow(), v.NextRow()) {}
    }
  }
  ParallelFor(bands, threads, [&](int band) {
    const std::int64_t first = 1 + band * kBandRows;
    const std::int64_t last = std::min(first + kBandRows - 1, lastRow);
    auto [rowU, rowV] = bandStarts[static_cast<std::size_t>(band)];
    for (std::int64_t row = first; row <= last; ++row, rowU.NextRow(), rowV.NextRow()) {
      // A second walk runs a few pixels ahead, asking for the source pixels to come.
      AxisCursor aheadU = rowU, aheadV = rowV;
      for (std::int64_t k = 0; k < kReadAhead; ++k, aheadU.NextPixel(), aheadV.NextPixel()) {}
      WalkRow(walk, row, rowU, rowV, [&](std::int64_t y, std::int64_t x, double u, double v) {
        const double nextU = aheadU.At(), nextV = aheadV.At();
        aheadU.NextPixel();
        aheadV.NextPixel();
        if (nextV >= 0 && nextU >= 0 && nextV < src.width && nextU < src.height)
          PrefetchRead(src.pixels + static_cast<std::int64_t>(nextU) * src.stride + 3 * static_cast<std::int64_t>(nextV));
        if (v >= 0 && u >= 0 && v < src.width && u < src.height) {
          const std::int64_t so = static_cast<std::int64_t>(u) * src.stride + 3 * static_cast<std::int64_t>(v);
          if (so - src.stride >= 0 && so + src.stride < srcBytes) {
            std::uint8_t* out = output.pixels + y * dstStride + 3 * x;
            out[0] = src.pixels[so];
            out[1] = src.pixels[so + 1];
            out[2] = src.pixels[so + 2];
          }
        }
      });
    }
  });
}

void DetailPass(const WorkingBitmap& source, const FramePlan& plan, PhaseOffset offset, OutputBitmap& output,
                int threads) {
  const SourceView src = ViewOf(source);
  const std::int64_t ds = Stride24(plan.newW);
  const std::int64_t dstBytes = ds * plan.newH;
  const double wLimit = src.width - 1;
  const double hLimit = src.height - 1;
  std::uint8_t* out = output.pixels;
  const Walk walk = HalfStepWalk(plan, offset);
  if (threads <= 0) threads = HardwareThreads();
  // The detail colours of a block of rows of sub-samples depend on the source alone, so they
  // are read first, rows shared out among the threads; the block is then applied in order
  // on this thread (each sub-sample sees what the ones before it wrote).
  constexpr std::uint32_t kNone = 0xFFFFFFFFu;
  // A block holds up to 128 rows and about a million sub-samples (one row at the least).
  const std::size_t cols = static_cast<std::size_t>(walk.cols);
  const std::int64_t blockLimit =
      std::clamp<std::int64_t>(static_cast<std::int64_t>((std::size_t{1} << 20) / std::max<std::size_t>(cols, 1)), 1, 128);
  pixeltools::LargeVector<std::uint32_t> details(cols * static_cast<std::size_t>(blockLimit));
  std::vector<std::pair<AxisCursor, AxisCursor>> rowStarts(static_cast<std::size_t>(blockLimit));
  AxisCursor blockU(walk.u), blockV(walk.v);  // at the block's first row
  for (std::int64_t block = 0; block < walk.rows; block += blockLimit) {
    const std::int64_t blockRows = std::min(blockLimit, walk.rows - block);
    for (std::int64_t k = 0; k < blockRows; ++k, blockU.NextRow(), blockV.NextRow())
      rowStarts[static_cast<std::size_t>(k)] = {blockU, blockV};
    ParallelFor(static_cast<int>(blockRows), threads, [&](int k) {
      std::uint32_t* rowDetails = details.data() + static_cast<std::size_t>(k) * cols;
      const auto& start = rowStarts[static_cast<std::size_t>(k)];
      // A second walk runs a few sub-samples ahead, asking for the source pixels to come: the
      // reads land all over the enlargement and mostly miss the caches.
      AxisCursor aheadU = start.first, aheadV = start.second;
      for (std::int64_t a = 0; a < kDetailReadAhead; ++a, aheadU.NextPixel(), aheadV.NextPixel()) {}
      // Whether every pixel of the row, its first to its last, has its eight neighbours in
      // the output: the usual case, which then checks only the position.
      const std::int64_t rowStart = ((block + k) / 2) * ds;
      const bool rowInside = rowStart - ds - 3 >= 0 && rowStart + 3 * ((walk.cols - 1) / 2) + ds + 6 <= dstBytes;
      WalkRow(walk, block + k, start.first, start.second, [&](std::int64_t n, std::int64_t m, double u, double v) {
        const double nextU = aheadU.At(), nextV = aheadV.At();
        aheadU.NextPixel();
        aheadV.NextPixel();
        if (nextV >= 1 && nextU >= 1 && nextV < wLimit && nextU < hLimit)
          PrefetchRead(src.pixels + static_cast<std::int64_t>(nextU) * src.stride + 3 * static_cast<std::int64_t>(nextV));
        std::uint32_t detail = kNone;
        // A position inside [1, width - 1) x [1, height - 1) has its eight neighbours in the
        // source too: row and column 1 .. size - 2.
        if (v >= 1 && u >= 1 && v < wLimit && u < hLimit &&
            (rowInside || (n / 2 * ds + 3 * (m / 2) - ds - 3 >= 0 && n / 2 * ds + 3 * (m / 2) + ds + 6 <= dstBytes)))
          detail = PackColour(src.pixels + static_cast<std::int64_t>(u) * src.stride + 3 * static_cast<std::int64_t>(v));
        rowDetails[m] = detail;
      });
    });
    for (std::int64_t k = 0; k < blockRows; ++k) {
      const std::int64_t n = block + k;
      const std::uint32_t* rowDetails = details.data() + static_cast<std::size_t>(k) * cols;
      for (std::int64_t m = 0; m < walk.cols; ++m) {
        const std::uint32_t detail = rowDetails[m];
        if (detail == kNone) continue;
        // A lone detail: a colour found in none of the nine pixels around, on a flat spot
        // (the four orthogonal neighbours like the pixel).
        const std::int64_t o = (n / 2) * ds + 3 * (m / 2);
        const std::uint32_t here = PackColour(out + o);
        if (detail == here) continue;
        const bool flat = here == PackColour(out + o + 3) && here == PackColour(out + o + ds) &&
                          here == PackColour(out + o - 3) && here == PackColour(out + o - ds);
        if (!flat) continue;
        const bool lone = detail != PackColour(out + o - ds - 3) && detail != PackColour(out + o - ds + 3) &&
                          detail != PackColour(out + o + ds - 3) && detail != PackColour(out + o + ds + 3);
        if (lone) {  // the three bytes of the source pixel
          out[o] = static_cast<std::uint8_t>(detail);
          out[o + 1] = static_cast<std::uint8_t>(detail >> 8);
          out[o + 2] = static_cast<std::uint8_t>(detail >> 16);
        }
      }
    }
  }
}

OutputBitmap RenderFrameBitmap(const JobProgress& progress, const WorkingBitmap& source, double angle, double scale,
                               int threads, ScoreTable* scores) {
  OutputBitmap output;
  const FramePlan plan =
      PlanFrame(HeaderWidth(source.header.get()), HeaderHeight(source.header.get()), angle, scale);
  if (HasImage24(source) && plan.valid) output = CreateOutputBitmap(source, plan.newW, plan.newH);
  ReportProgress(progress, 5);
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
  const PhaseOffset offset = PhaseSearch(progress, source, plan, threads, scores);
  ReportProgress(progress, 90);
  SamplingPass(source, plan, offset, output, threads);
  ReportProgress(progress, 95);
  DetailPass(source, plan, offset, output, threads);
  ReportProgress(progress, 98);
  return output;
}

bool RenderFrame(const JobProgress& progress, const WorkingBitmap& source, double angle, double scale,
                 const char* fileName, int threads, ScoreTable* scores) {
  OutputBitmap output = RenderFrameBitmap(progress, source, angle, scale, threads, scores);
  const bool written = output.pixels && WriteBitmapFile(fileName, output);
  ReportProgress(progress, 100);
  return written;
}

}  // namespace quillet
