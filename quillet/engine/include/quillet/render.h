// One output frame: rotate and scale the eight-times enlargement, choose the sampling
// phase that lands best inside areas of one colour, sample, and restore lone details.
#pragma once

#include <cstdint>
#include <vector>

#include "quillet/bitmap.h"
#include "quillet/progress.h"
#include "quillet/score_table.h"

namespace quillet {

// Geometry of one frame, all in 64-bit floating point.
struct FramePlan {
  bool valid = false;  // false when the output size is not a finite, allocatable size
  std::int32_t srcWidth = 0, srcHeight = 0;  // W, H of the enlargement
  double s = 1.0;      // effective scale
  double step = 8.0;   // source pixels per output pixel
  double e = 0.125;    // 1 / step
  double d = 0.0;      // angle reduced to [0, 360)
  double theta = 0.0;  // -d in radians
  double phi = 0.0;    // d in radians
  std::int32_t newW = 0, newH = 0;
  double wantedW = 0.0, wantedH = 0.0;  // the output size, also when it is not valid
  double A = 0.0, B = 0.0;    // step x cos phi, step x sin phi
  double X0 = 0.0, Y0 = 0.0;  // placement of the rotated picture in the output
  int M = 0;                  // search grid is M x M offsets
  double r = 0.0;             // source pixels between neighbouring offsets
};

struct PhaseOffset {
  int i = 0;  // row offset index, 0..M-1
  int j = 0;  // column offset index, 0..M-1
};

// Score additions of one phase search: M x M for every output pixel, and those it made (a
// pixel's row of M candidates is skipped when every code it reads there is 0).
struct SearchCounts {
  std::uint64_t needed = 0;
  std::uint64_t made = 0;
};

// The forms of the phase search's inner loops: plain C++, SSE2 (every x86 build) and AVX2
// (on processors that have it). Integer sums only, so every form gives the same bytes.
enum class KernelPath { kPlain, kSse2, kAvx2 };

// The form in use: the widest this processor runs, unless the environment variable
// QUILLET_KERNELS (read once, at the first search) names plain, sse2 or avx2 and it runs here.
KernelPath KernelsInUse();

// Makes later searches use path; false, changing nothing, when this build or processor lacks it.
bool UseKernels(KernelPath path);

// Search grid size for an output of pixelCount pixels (32 down to 6).
int SearchGridSize(std::int64_t pixelCount);

// Set-up and placement for a W x H enlargement at angle (degrees, clockwise) and scale.
FramePlan PlanFrame(std::int32_t srcWidth, std::int32_t srcHeight, double angle, double scale);

// The offsets a search may pick, when not all: those allowed says yes to.
struct PhaseFilter {
  bool (*allowed)(const void* context, PhaseOffset offset) = nullptr;  // null: every offset
  const void* context = nullptr;
};

// Best sampling offset: lowest score, ties to the first in i-major order, among the offsets
// filter allows (among all when it allows none). threads <= 0 uses every core; every thread
// count gives the same offset.
// Reports 5 + 85 x (i x M + j) / (M x M) for every step (i, j), i and j up to M, in order.
// With scores, the table is used, and first built when it does not fit source. With counts,
// the search's additions are added to it.
PhaseOffset PhaseSearch(const JobProgress& progress, const WorkingBitmap& source, const FramePlan& plan,
                        int threads, ScoreTable* scores = nullptr, PhaseFilter filter = {},
                        SearchCounts* counts = nullptr);

// Where the point (row, column) of the source (rows counted from its bottom edge) lands in
// the frame sampled at offset, in pixels from the frame's top-left corner, each output
// pixel's sample standing for the pixel's middle.
void LandingPoint(const FramePlan& plan, PhaseOffset offset, double row, double column, double& x, double& y);

// Copies one source pixel into each output pixel of rows 1..newH-2 at offset, in bands of
// rows on up to `threads` threads (<= 0: every core); every thread count gives the same bytes.
void SamplingPass(const WorkingBitmap& source, const FramePlan& plan, PhaseOffset offset,
                  OutputBitmap& output, int threads = 1);

// Brings back lone detail colours seen at half-pixel sub-samples; works in place. The source
// colours are read on up to `threads` threads (<= 0: every core); the same bytes for any count.
void DetailPass(const WorkingBitmap& source, const FramePlan& plan, PhaseOffset offset,
                OutputBitmap& output, int threads = 1);

// Renders a frame into a fresh output bitmap, reporting 5, the search steps, 90, 95, 98; output.pixels is
// null when the source holds no 24-bit image or the size is not valid.
OutputBitmap RenderFrameBitmap(const JobProgress& progress, const WorkingBitmap& source, double angle,
                               double scale, int threads = 0, ScoreTable* scores = nullptr);

// Renders the frame of source and writes it to fileName; reports 5..100.
// True only when a file was written whole.
bool RenderFrame(const JobProgress& progress, const WorkingBitmap& source, double angle, double scale,
                 const char* fileName, int threads = 0, ScoreTable* scores = nullptr);

}  // namespace quillet
