#include "quillet/render.h"

#include <algorithm>
#include <array>
#include <memory>
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

// A walk over output pixels and the positions in the enlargement they land on. The first
// row starts at (u0, v0); each pixel moves the position by (du, dv) and each row by
// (rowDu, rowDv). Positions are accumulated by repeated addition in exactly this order, so
// every pass that walks the same grid sees the same bits.
struct Walk {
  double u0 = 0, v0 = 0;
  double du = 0, dv = 0;
  double rowDu = 0, rowDv = 0;
  std::int64_t rows = 0, cols = 0;
};

// The output grid at sampling offset (i, j): one position per output pixel.
Walk PixelWalk(const FramePlan& plan, int i, int j) {
  return {i * plan.r - (plan.Y0 * plan.A + plan.X0 * plan.B), j * plan.r - (plan.Y0 * (-plan.B) + plan.X0 * plan.A),
          plan.B, plan.A, plan.A, -plan.B, plan.newH, plan.newW};
}

// Twice as fine: four sub-samples per output pixel, (n, m) lying in pixel (n / 2, m / 2).
Walk HalfStepWalk(const FramePlan& plan, PhaseOffset offset) {
  const Walk pixels = PixelWalk(plan, offset.i, offset.j);
  return {pixels.u0, pixels.v0, plan.B * 0.5, plan.A * 0.5, plan.A * 0.5, -plan.B * 0.5, 2 * std::int64_t{plan.newH},
          2 * std::int64_t{plan.newW}};
}

// One row of a walk at a time: Visit(visit) calls visit(x, u, v) along the current row,
// Next() moves to the following row.
class WalkCursor {
 public:
  WalkCursor() = default;
  explicit WalkCursor(const Walk& walk) : walk_(&walk), rowU_(walk.u0), rowV_(walk.v0) {}

  template <typename F>
  void Visit(F visit) const {
    double u = rowU_;
    double v = rowV_;
    for (std::int64_t x = 0; x < walk_->cols; ++x) {
      visit(x, u, v);
      u += walk_->du;
      v += walk_->dv;
    }
  }

  void Next() {
    rowU_ += walk_->rowDu;
    rowV_ += walk_->rowDv;
  }

 private:
  const Walk* walk_ = nullptr;
  double rowU_ = 0, rowV_ = 0;
};

// Calls visit(y, x, u, v) for every point of rows firstRow..lastRow, row by row.
template <typename Visit>
void WalkRows(const Walk& walk, std::int64_t firstRow, std::int64_t lastRow, Visit visit) {
  WalkCursor cursor(walk);
  for (std::int64_t y = 0; y < walk.rows; ++y, cursor.Next())
    if (y >= firstRow && y <= lastRow) cursor.Visit([&](std::int64_t x, double u, double v) { visit(y, x, u, v); });
}

constexpr std::uint8_t kComputedCode = 255;  // the score is worked out when read
constexpr int kBandShift = 6;  // rows 64 x b .. 64 x b + 63 share one list of values

// Packed colours of one column of three pixels.
struct Column {
  std::uint32_t up, mid, down;
};

// Counts of the scores of one band, keyed by value; new values stop being taken once it
// is half full, so a band of many different scores only leaves more of them uncoded.
class ValueCounts {
 public:
  static constexpr std::size_t kSlots = 4096;

  void Add(std::uint32_t value) {
    std::size_t slot = Hash(value);
    while (counts_[slot] != 0 && keys_[slot] != value) slot = (slot + 1) & (kSlots - 1);
    if (counts_[slot] == 0) {
      if (used_ >= kSlots / 2) return;
      ++used_;
      keys_[slot] = value;
    }
    ++counts_[slot];
  }

  // Gives the most frequent values (ties to the lower value) codes 1, 2, ... up to 254.
  void ChooseCodes(std::uint32_t* values) {
    std::vector<std::pair<std::int64_t, std::uint32_t>> ranked;  // (-count, value)
    for (std::size_t slot = 0; slot < kSlots; ++slot)
      if (counts_[slot] != 0) ranked.emplace_back(-static_cast<std::int64_t>(counts_[slot]), keys_[slot]);
    const std::size_t chosen = std::min<std::size_t>(ranked.size(), kComputedCode - 1);
    std::partial_sort(ranked.begin(), ranked.begin() + static_cast<std::ptrdiff_t>(chosen), ranked.end());
    codes_.fill(kComputedCode);
    for (std::size_t k = 0; k < chosen; ++k) {
      const std::uint32_t value = ranked[k].second;
      std::size_t slot = Hash(value);
      while (keys_[slot] != value) slot = (slot + 1) & (kSlots - 1);
      codes_[slot] = static_cast<std::uint8_t>(k + 1);
      values[k + 1] = value;
    }
  }

  std::uint8_t CodeOf(std::uint32_t value) const {
    for (std::size_t slot = Hash(value); counts_[slot] != 0; slot = (slot + 1) & (kSlots - 1))
      if (keys_[slot] == value) return codes_[slot];
    return kComputedCode;
  }

 private:
  static std::size_t Hash(std::uint32_t value) { return (value * 2654435761u >> 20) & (kSlots - 1); }
  std::array<std::uint32_t, kSlots> keys_{};
  std::array<std::uint32_t, kSlots> counts_{};
  std::array<std::uint8_t, kSlots> codes_{};
  std::size_t used_ = 0;
};

// Codes of the interior pixels of one band of rows and the band's list of values.
void EncodeBand(const SourceView& src, std::int64_t band, ScoreTable& table, std::vector<std::uint32_t>& scratch) {
  const std::int64_t first = std::max<std::int64_t>(1, band << kBandShift);
  const std::int64_t last = std::min<std::int64_t>(((band + 1) << kBandShift) - 1, src.height - 2);
  if (first > last) return;
  scratch.assign(static_cast<std::size_t>((last - first + 1) * src.width), 0);
  auto counts = std::make_unique<ValueCounts>();
  for (std::int64_t row = first; row <= last; ++row) {
    const std::uint8_t* mid = src.pixels + row * src.stride;
    const std::uint8_t* up = mid - src.stride;
    const std::uint8_t* down = mid + src.stride;
    std::uint32_t* out = scratch.data() + (row - first) * src.width;
    Column left{PackColour(up), PackColour(mid), PackColour(down)};
    Column centre{PackColour(up + 3), PackColour(mid + 3), PackColour(down + 3)};
    for (std::int64_t col = 1; col + 1 < src.width; ++col) {
      const std::int64_t b = 3 * (col + 1);
      const Column right{PackColour(up + b), PackColour(mid + b), PackColour(down + b)};
      const std::uint32_t c = centre.mid;
      if (!(left.up == c && left.mid == c && left.down == c && centre.up == c && centre.down == c && right.up == c &&
            right.mid == c && right.down == c)) {
        const std::uint32_t value = NeighbourScore(src, row * src.stride + 3 * col);
        out[col] = value;
        if (value != 0) counts->Add(value);
      }
      left = centre;
      centre = right;
    }
  }
  std::uint32_t* values = table.values.data() + (band << 8);
  counts->ChooseCodes(values);
  for (std::int64_t row = first; row <= last; ++row) {
    const std::uint32_t* scores = scratch.data() + (row - first) * src.width;
    std::uint8_t* codes = table.codes.data() + row * src.width;
    for (std::int64_t col = 1; col + 1 < src.width; ++col)
      codes[col] = scores[col] == 0 ? 0 : counts->CodeOf(scores[col]);
  }
}

}  // namespace

void BuildScoreTable(const WorkingBitmap& source, int threads, ScoreTable& table) {
  table = ScoreTable{};
  if (!HasImage24(source)) return;
  const SourceView src = ViewOf(source);
  table.pixels = src.pixels;
  table.width = src.width;
  table.height = src.height;
  table.codes.assign(static_cast<std::size_t>(src.width) * static_cast<std::size_t>(src.height), 0);
  const std::int64_t bands = ((std::int64_t{src.height} - 1) >> kBandShift) + 1;
  table.values.assign(static_cast<std::size_t>(bands) << 8, 0);
  if (src.width < 3 || src.height < 3) return;
  if (threads <= 0) threads = HardwareThreads();
  std::atomic<int> next{0};
  ParallelFor(std::min<int>(threads, static_cast<int>(bands)), threads, [&](int) {
    std::vector<std::uint32_t> scratch;
    for (int band = next.fetch_add(1); band < bands; band = next.fetch_add(1)) EncodeBand(src, band, table, scratch);
  });
}

bool ScoreTableFits(const ScoreTable& table, const WorkingBitmap& source) {
  return table.pixels != nullptr && table.pixels == source.pixels.data() &&
         table.width == HeaderWidth(source.header.get()) && table.height == HeaderHeight(source.header.get());
}

namespace {

int StepPosition(int i, int j, int m) { return 5 + 85 * (i * m + j) / (m * m); }

// Candidates are scored in runs of this many consecutive indices, in step: their positions
// lie within a pixel or two of each other, so a run reads the same part of the table at once.
constexpr int kRunLength = 8;

// Scores candidates first .. first + count - 1 (index k is offset (k / M, k % M)), adding
// the scores of the scored pixels. After each row a candidate for which canWin(partial
// score, index) is false stops; scores never fall, so it could not have won. complete[b]
// tells whether candidate first + b ran to the end.
template <typename CanWin>
void ScoreRun(const FramePlan& plan, const ScoreTable& table, const SourceView& src, int first, int count,
              std::uint64_t* scores, bool* complete, CanWin canWin) {
  const double wLimit = plan.srcWidth - 1;
  const double hLimit = plan.srcHeight - 1;
  Walk walks[kRunLength];
  WalkCursor cursors[kRunLength];
  for (int b = 0; b < count; ++b) {
    walks[b] = PixelWalk(plan, (first + b) / plan.M, (first + b) % plan.M);
    cursors[b] = WalkCursor(walks[b]);
    scores[b] = 0;
    complete[b] = true;
  }
  int running = count;
  const std::uint8_t* codes = table.codes.data();
  const std::uint32_t* values = table.values.data();
  const std::int64_t width = table.width;
  for (std::int64_t y = 0; y < plan.newH && running > 0; ++y) {
    if (y >= 1 && y <= plan.newH - 2) {
      for (int b = 0; b < count; ++b) {
        if (!complete[b]) continue;
        std::uint64_t sum = scores[b];
        cursors[b].Visit([&](std::int64_t, double u, double v) {
          // Inside these bounds the position is also usable and its neighbours lie in the picture.
          if (v >= 1 && v < wLimit && u >= 1 && u < hLimit) {
            const std::int64_t row = static_cast<std::int64_t>(u);
            const std::int64_t col = static_cast<std::int64_t>(v);
            const std::uint8_t code = codes[row * width + col];
            sum += code != kComputedCode ? values[((row >> kBandShift) << 8) + code]
                                         : NeighbourScore(src, row * src.stride + 3 * col);
          }
        });
        scores[b] = sum;
        if (!canWin(sum, first + b)) {
          complete[b] = false;
          --running;
        }
      }
    }
    for (int b = 0; b < count; ++b) cursors[b].Next();
  }
}

// The winner is the lowest score, ties to the lowest index i x M + j, as in a search of
// one candidate after the other. Candidates are ranked by (score, index) packed into one
// key; one stops once its partial key ranks at or after the best so far. Progress is
// reported on the calling thread, in step order, as the finished candidates form an
// unbroken run from the first.
PhaseOffset Search(const AppState& app, const FramePlan& plan, const ScoreTable& table, const SourceView& src,
                   int threads) {
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
  const int runs = (candidates + kRunLength - 1) / kRunLength;
  ParallelFor(runs, threads, [&](int run) {
    const int first = run * kRunLength;
    const int count = std::min(kRunLength, candidates - first);
    std::uint64_t scores[kRunLength];
    bool complete[kRunLength];
    ScoreRun(plan, table, src, first, count, scores, complete, [&](std::uint64_t s, int k) {
      return ((s << kIndexBits) | static_cast<std::uint64_t>(k)) < bestKey.load(std::memory_order_relaxed);
    });
    for (int b = 0; b < count; ++b) {
      if (!complete[b]) continue;
      const std::uint64_t key = (scores[b] << kIndexBits) | static_cast<std::uint64_t>(first + b);
      std::uint64_t current = bestKey.load(std::memory_order_relaxed);
      while (key < current && !bestKey.compare_exchange_weak(current, key, std::memory_order_relaxed)) {
      }
    }
    for (int b = 0; b < count; ++b) finished[static_cast<std::size_t>(first + b)].store(true, std::memory_order_release);
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

PhaseOffset PhaseSearch(const AppState& app, const WorkingBitmap& source, const FramePlan& plan, int threads,
                        ScoreTable* scores) {
  if (!plan.valid || !HasImage24(source)) return {};
  if (threads <= 0) threads = HardwareThreads();
  ScoreTable own;
  ScoreTable& table = scores ? *scores : own;
  if (!ScoreTableFits(table, source)) BuildScoreTable(source, threads, table);
  const SourceView src = ViewOf(source);
  return Search(app, plan, table, src, threads);
}

void SamplingPass(const WorkingBitmap& source, const FramePlan& plan, PhaseOffset offset, OutputBitmap& output) {
  const SourceView src = ViewOf(source);
  const std::int64_t dstStride = Stride24(plan.newW);
  const std::int64_t srcBytes = src.stride * src.height;
  WalkRows(
      PixelWalk(plan, offset.i, offset.j), 1, std::int64_t{plan.newH} - 2,
      [&](std::int64_t y, std::int64_t x, double u, double v) {
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

void DetailPass(const WorkingBitmap& source, const FramePlan& plan, PhaseOffset offset, OutputBitmap& output) {
  const SourceView src = ViewOf(source);
  const std::int64_t ds = Stride24(plan.newW);
  const std::int64_t dstBytes = ds * plan.newH;
  const std::int64_t srcBytes = src.stride * src.height;
  const double wLimit = src.width - 1;
  const double hLimit = src.height - 1;
  std::uint8_t* out = output.pixels;
  const Walk walk = HalfStepWalk(plan, offset);
  WalkRows(
      walk, 0, walk.rows - 1,
      [&](std::int64_t n, std::int64_t m, double u, double v) {
        const std::int64_t o = (n / 2) * ds + 3 * (m / 2);
        if (!(o - ds - 3 >= 0 && o + ds + 6 <= dstBytes && v >= 1 && u >= 1 && v < wLimit && u < hLimit)) return;
        const std::int64_t so = static_cast<std::int64_t>(u) * src.stride + 3 * static_cast<std::int64_t>(v);
        if (!(so - src.stride - 3 >= 0 && so + src.stride + 3 < srcBytes)) return;
        // A lone detail: a colour found in none of the nine pixels around, on a flat spot
        // (the four orthogonal neighbours like the pixel). Tests run cheapest first.
        const std::uint32_t detail = PackColour(src.pixels + so);
        const std::uint32_t here = PackColour(out + o);
        if (detail == here) return;
        const bool flat = here == PackColour(out + o + 3) && here == PackColour(out + o + ds) &&
                          here == PackColour(out + o - 3) && here == PackColour(out + o - ds);
        if (!flat) return;
        const bool lone = detail != PackColour(out + o - ds - 3) && detail != PackColour(out + o - ds + 3) &&
                          detail != PackColour(out + o + ds - 3) && detail != PackColour(out + o + ds + 3);
        if (lone) {
          out[o] = src.pixels[so];
          out[o + 1] = src.pixels[so + 1];
          out[o + 2] = src.pixels[so + 2];
        }
      });
}

OutputBitmap RenderFrameBitmap(const AppState& app, const WorkingBitmap& source, double angle, double scale,
                               int threads, ScoreTable* scores) {
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
  const PhaseOffset offset = PhaseSearch(app, source, plan, threads, scores);
  ReportProgress(app, 90);
  SamplingPass(source, plan, offset, output);
  ReportProgress(app, 95);
  DetailPass(source, plan, offset, output);
  ReportProgress(app, 98);
  return output;
}

bool RenderFrame(const AppState& app, double angle, double scale, const char* fileName, int threads,
                 ScoreTable* scores) {
  OutputBitmap output = RenderFrameBitmap(app, app.workingBitmap, angle, scale, threads, scores);
  const bool written = output.pixels && WriteBitmapFile(fileName, output);
  ReportProgress(app, 100);
  return written;
}

}  // namespace quillet
