#include "edge_scale.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <system_error>
#include <thread>
#include <vector>

#include "colour.h"

namespace mostel {
namespace {

// The 7 x 7 square around the centre pixel E, as seven row addresses that each point at the
// column of E minus 3, with the lumas of the same pixels beside them. Inside the picture the
// addresses point into the source itself; near the border they point at a clamped copy.
struct Square {
  const uint32_t* px[7];
  const uint8_t* luma[7];
};

// A view of the square in one corner's frame: P(a, b) is the pixel at E + a*f + b*h, and the
// view may be recentred on a neighbour of E (Q = P(qa, qb)).
template <int FX, int FY, int HX, int HY>
struct Frame {
  const Square& sq;
  int qa = 0;
  int qb = 0;

  uint32_t operator()(int a, int b) const { return sq.px[Row(a, b)][Col(a, b)]; }
  int L(int a, int b) const { return sq.luma[Row(a, b)][Col(a, b)]; }
  Frame At(int a, int b) const { return Frame{sq, qa + a, qb + b}; }
  // Index into the output block E0..E8 of the output pixel at a*f + b*h from the centre.
  static constexpr int Out(int a, int b) { return (1 + a * FY + b * HY) * 3 + (1 + a * FX + b * HX); }

 private:
  int Row(int a, int b) const { return 3 + (a + qa) * FY + (b + qb) * HY; }
  int Col(int a, int b) const { return 3 + (a + qa) * FX + (b + qb) * HX; }
};

inline int D(uint32_t p, uint32_t q) { return ColourDistance(p, q); }
// LumaClose on the square's precomputed lumas: Q(a1, b1) against Q(a2, b2).
template <int Limit, class Q>
bool Close(const Q& q, int a1, int b1, int a2, int b2) {
  const int d = q.L(a1, b1) - q.L(a2, b2);
  return d <= Limit && -d <= Limit;
}
template <class Q>
bool Close50(const Q& q, int a1, int b1, int a2, int b2) { return Close<50>(q, a1, b1, a2, b2); }
template <class Q>
bool Close15(const Q& q, int a1, int b1, int a2, int b2) { return Close<15>(q, a1, b1, a2, b2); }
template <class Q>
bool Close20(const Q& q, int a1, int b1, int a2, int b2) { return Close<20>(q, a1, b1, a2, b2); }

template <class Q>
uint32_t ChosenColour(const Q& q) {
  return D(q(0, 0), q(1, 0)) <= D(q(0, 0), q(0, 1)) ? q(1, 0) : q(0, 1);
}
template <class Q>
int SlopeF(const Q& q) { return D(q(1, 0), q(-1, 1)); }
template <class Q>
int SlopeH(const Q& q) { return D(q(0, 1), q(1, -1)); }

template <class Q>
bool GuardShallow(const Q& q) {
  return q(0, 0) != q(-1, 1) && q(-1, 0) != q(-1, 1) &&
         (Close50(q, 0, 0, -1, 0) || Close50(q, 0, 1, -1, 1));
}
template <class Q>
bool GuardSteep(const Q& q) {
  return q(0, 0) != q(1, -1) && q(0, -1) != q(1, -1) &&
         (Close50(q, 0, 0, 0, -1) || Close50(q, 1, 0, 1, -1));
}
template <class Q>
bool Shallow(const Q& q) { return GuardShallow(q) && 2 * SlopeF(q) <= SlopeH(q); }
template <class Q>
bool Steep(const Q& q) { return GuardSteep(q) && 2 * SlopeH(q) <= SlopeF(q); }

// Whether an edge crosses the corner between Q, Q(1,0), Q(0,1) and Q(1,1). The cheap equality
// and luma tests run before the weighted sums; every test is pure, so the order is free.
template <class Q>
bool EdgeTest(const Q& q) {
  const uint32_t e = q(0, 0), f = q(1, 0), h = q(0, 1);
  if (e == f || e == h) return false;
  if (Close15(q, 1, 0, 1, -1) && Close15(q, 0, 1, -1, 1) && Close15(q, 1, 0, 1, 1) && Close15(q, 0, 1, 1, 1) &&
      (!Close50(q, 0, -1, 1, -2) || !Close50(q, -1, 0, -2, 1)))
    return false;
  if ((Close50(q, 1, 0, 0, -1) || Close50(q, 0, 1, -1, 0)) &&
      (!Close50(q, 0, 0, 1, 1) || Close50(q, 1, 0, 2, 1) || Close50(q, 0, 1, 1, 2)) && !Close50(q, 0, 0, -1, 1) &&
      !Close50(q, 0, 0, 1, -1))
    return false;
  const uint32_t g = q(1, 1);
  const int wEdge = 4 * D(h, f) + D(e, q(1, -1)) + D(e, q(-1, 1)) + D(g, q(0, 2)) + D(g, q(2, 0));
  const int wCross = 4 * D(e, g) + D(h, q(-1, 0)) + D(h, q(1, 2)) + D(f, q(2, 1)) + D(f, q(0, -1));
  return wEdge < wCross;
}

template <class Q>
bool Level3Shallow(const Q& q) {
  return q(0, 0) != q(-2, 1) && q(-2, 0) != q(-2, 1) &&
         (Close20(q, -1, 0, -2, 0) || Close20(q, -1, 1, -2, 1)) &&
         4 * D(q(1, 0), q(-2, 1)) <= D(q(0, 1), q(1, -2));
}
template <class Q>
bool Level3Steep(const Q& q) {
  return q(0, 0) != q(1, -2) && q(0, -2) != q(1, -2) &&
         (Close20(q, 0, -1, 0, -2) || Close20(q, 1, -1, 1, -2)) &&
         4 * D(q(0, 1), q(1, -2)) <= D(q(1, 0), q(-2, 1));
}
template <class Q>
bool Level4Shallow(const Q& q) {
  return q(0, 0) != q(-3, 1) && q(-3, 0) != q(-3, 1) &&
         (Close20(q, -2, 0, -3, 0) || Close20(q, -2, 1, -3, 1)) &&
         4 * D(q(1, 0), q(-3, 1)) <= D(q(0, 1), q(1, -3));
}
template <class Q>
bool Level4Steep(const Q& q) {
  return q(0, 0) != q(1, -3) && q(0, -3) != q(1, -3) &&
         (Close20(q, 0, -2, 0, -3) || Close20(q, 1, -2, 1, -3)) &&
         4 * D(q(0, 1), q(1, -3)) <= D(q(1, 0), q(-3, 1));
}

// Decides one corner of E and writes the output pixels that belong to it.
template <class Fr>
void CornerRule(const Fr& p, uint32_t (&out)[9], ScalerCounts& counts) {
  if (EdgeTest(p)) {
    const uint32_t c = ChosenColour(p);
    out[Fr::Out(1, 1)] = c;
    const bool shallow = Shallow(p);
    const bool steep = Steep(p);
    if (shallow || steep) ++counts.Level2Count;
    if (shallow) {
      out[Fr::Out(0, 1)] = c;
      if (Level3Shallow(p)) {
        out[Fr::Out(-1, 1)] = c;
        ++counts.Level3Count;
      }
    }
    if (steep) {
      out[Fr::Out(1, 0)] = c;
      if (Level3Steep(p)) {
        out[Fr::Out(1, -1)] = c;
        ++counts.Level3Count;
      }
    }
    return;
  }
  // No edge at E's own corner: a line found at F or at H may run on into it.
  const Fr f = p.At(1, 0);
  if (EdgeTest(f) && Shallow(f) && Level3Shallow(f) && (SlopeF(f) < 2 * SlopeH(f) || !GuardSteep(f)) &&
      Level4Shallow(f)) {
    out[Fr::Out(1, 1)] = ChosenColour(f);
    ++counts.NeighbourEdgeCount;
  }
  const Fr h = p.At(0, 1);
  if (EdgeTest(h) && Steep(h) && Level3Steep(h) && (SlopeH(h) < 2 * SlopeF(h) || !GuardShallow(h)) &&
      Level4Steep(h)) {
    // Ties go to the pixel along h here, unlike ChosenColour.
    out[Fr::Out(1, 1)] = D(h(0, 0), p(0, 2)) <= D(h(0, 0), p(1, 1)) ? p(0, 2) : p(1, 1);
    ++counts.NeighbourEdgeCount;
  }
}

constexpr uint32_t kRowsPerChunk = 8;

// Scales source rows [firstRow, endRow) and adds to the counts. `lumas` holds Luma of every
// source pixel, srcWidth to a row.
void ScaleRows(const ScalerJob& job, const uint8_t* lumas, uint32_t firstRow, uint32_t endRow, ScalerCounts* counts) {
  const uint32_t width = job.srcWidth, height = job.srcHeight;
  const size_t srcStride = job.srcPitch / 2, dstStride = job.dstPitch / 2;
  ScalerCounts local = *counts;
  uint32_t borderPx[7][7];
  uint8_t borderLuma[7][7];
  for (uint32_t y = firstRow; y < endRow; ++y) {
    const uint32_t* rowPx[7];
    const uint8_t* rowLuma[7];
    for (int r = 0; r < 7; ++r) {
      const size_t sy = static_cast<size_t>(std::clamp<int64_t>(int64_t{y} + r - 3, 0, int64_t{height} - 1));
      rowPx[r] = job.srcPixels + sy * srcStride;
      rowLuma[r] = lumas + sy * width;
    }
    uint32_t* dst = job.dstPixels + static_cast<size_t>(3) * y * dstStride;
    for (uint32_t x = 0; x < width; ++x) {
      Square sq;
      if (x >= 3 && x + 3 < width) {
        for (int r = 0; r < 7; ++r) {
          sq.px[r] = rowPx[r] + (x - 3);
          sq.luma[r] = rowLuma[r] + (x - 3);
        }
      } else {
        for (int c = 0; c < 7; ++c) {
          const size_t sx = static_cast<size_t>(std::clamp<int64_t>(int64_t{x} + c - 3, 0, int64_t{width} - 1));
          for (int r = 0; r < 7; ++r) {
            borderPx[r][c] = rowPx[r][sx];
            borderLuma[r][c] = rowLuma[r][sx];
          }
        }
        for (int r = 0; r < 7; ++r) {
          sq.px[r] = borderPx[r];
          sq.luma[r] = borderLuma[r];
        }
      }

      const uint32_t e = sq.px[3][3];
      uint32_t out[9] = {e, e, e, e, e, e, e, e, e};
      CornerRule(Frame<1, 0, 0, 1>{sq}, out, local);    // bottom-right
      CornerRule(Frame<0, -1, 1, 0>{sq}, out, local);   // top-right
      CornerRule(Frame<-1, 0, 0, -1>{sq}, out, local);  // top-left
      CornerRule(Frame<0, 1, -1, 0>{sq}, out, local);   // bottom-left

      uint32_t* block = dst + static_cast<size_t>(3) * x;
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) block[r * dstStride + c] = out[r * 3 + c];
    }
  }
  *counts = local;
}

}  // namespace

size_t DestinationBytes(uint32_t width, uint32_t height) {
  if (width > UINT32_MAX / 6 || height > UINT32_MAX / 3) return 0;
  size_t pixels = 0, bytes = 0;
  if (__builtin_mul_overflow(size_t{width}, size_t{height}, &pixels) || __builtin_mul_overflow(pixels, size_t{36}, &bytes))
    return 0;
  return bytes;
}

bool EdgeScaleBlocks(const ScalerJob& job, unsigned threads, ScalerCounts* counts) {
  *counts = ScalerCounts{};
  if (uint64_t{3} * job.srcWidth > job.dstWidth || uint64_t{3} * job.srcHeight > job.dstHeight) return false;
  WriteChannelMasks();
  if (job.srcWidth == 0 || job.srcHeight == 0) return true;

  // One luma per source pixel: the luma tests read each pixel's luma many times over.
  std::vector<uint8_t> lumas(size_t{job.srcWidth} * job.srcHeight);
  auto lumaRows = [&](uint32_t first, uint32_t last) {
    for (uint32_t y = first; y < last; ++y) {
      const uint32_t* row = job.srcPixels + size_t{y} * (job.srcPitch / 2);
      uint8_t* out = lumas.data() + size_t{y} * job.srcWidth;
      for (uint32_t x = 0; x < job.srcWidth; ++x) out[x] = static_cast<uint8_t>(Luma(row[x]));
    }
  };

  const uint32_t chunks = (job.srcHeight + kRowsPerChunk - 1) / kRowsPerChunk;
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  threads = std::min<uint32_t>(threads, chunks);
  if (threads <= 1) {
    lumaRows(0, job.srcHeight);
    ScaleRows(job, lumas.data(), 0, job.srcHeight, counts);
    return true;
  }

  // The luma plane, then the blocks, each in chunks of rows that go to whichever thread is
  // free. Blocks depend only on the source; the counts are sums and come out the same in any
  // order.
  std::vector<ScalerCounts> partial(threads, ScalerCounts{});
  auto inParallel = [&](auto chunk) {
    std::atomic<uint32_t> next{0};
    auto work = [&](unsigned t) {
      for (uint32_t c; (c = next.fetch_add(1)) < chunks;) {
        const uint32_t first = c * kRowsPerChunk;
        chunk(t, first, std::min(job.srcHeight, first + kRowsPerChunk));
      }
    };
    std::vector<std::thread> pool;
    pool.reserve(threads - 1);
    // A thread that cannot start leaves its share to the others.
    for (unsigned t = 1; t < threads; ++t) {
      try {
        pool.emplace_back(work, t);
      } catch (const std::system_error&) {
        break;
      }
    }
    work(0);
    for (std::thread& th : pool) th.join();
  };
  inParallel([&](unsigned, uint32_t first, uint32_t last) { lumaRows(first, last); });
  inParallel([&](unsigned t, uint32_t first, uint32_t last) {
    ScaleRows(job, lumas.data(), first, last, &partial[t]);
  });
  for (const ScalerCounts& c : partial) {
    counts->Level2Count += c.Level2Count;
    counts->Level3Count += c.Level3Count;
    counts->NeighbourEdgeCount += c.NeighbourEdgeCount;
  }
  return true;
}

uint32_t EdgeScale3x(const ScalerJob* job) {
  // Sizes compare in 64 bits: three times a width above 1431655765 does not fit in 32.
  if (uint64_t{3} * job->srcWidth > job->dstWidth) return 3 * job->srcWidth;
  if (uint64_t{3} * job->srcHeight > job->dstHeight) return 3 * job->srcHeight;
  ScalerCounts counts;
  EdgeScaleBlocks(*job, 0, &counts);
  return static_cast<uint32_t>(std::printf("Success!\n%5d filtered pixels.\n", static_cast<int>(counts.Filtered())));
}

}  // namespace mostel
