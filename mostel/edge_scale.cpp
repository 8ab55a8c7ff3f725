#include "edge_scale.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "colour.h"
#include "large_block.h"
#include "pixeltools/parallel.h"

namespace mostel {
namespace {

// The 7 x 7 square around the centre pixel E, as seven row addresses that each point at the
// column of E minus 3, with the lumas of the same pixels beside them. Inside the picture the
// addresses point into the source itself; near the border they point at a clamped copy.
// ColourDistance of pairs of pixels seen lately. Pixel art has few colours, so a few pairs
// make up most of what the rule measures. A slot holds a pair and its distance; every slot
// starts as the pair (0, 0), whose distance is 0.
struct DistanceMemo {
  static constexpr int kSlotBits = 8;
  uint32_t first[1 << kSlotBits] = {};
  uint32_t second[1 << kSlotBits] = {};
  int16_t distance[1 << kSlotBits] = {};

  int Distance(uint32_t a, uint32_t b) {
    const uint32_t slot = ((a ^ (b * 0x9E3779B1u)) * 0x85EBCA6Bu) >> (32 - kSlotBits);
    if (first[slot] == a && second[slot] == b) [[likely]]
      return distance[slot];
    return Fill(slot, a, b);
  }

  // Out of line, so that the lookup above stays small enough to inline everywhere.
  [[gnu::noinline]] int Fill(uint32_t slot, uint32_t a, uint32_t b) {
    const int d = ColourDistance(a, b);
    first[slot] = a;
    second[slot] = b;
    distance[slot] = static_cast<int16_t>(d);
    return d;
  }
};

struct Square {
  const uint32_t* px[7];
  const uint8_t* luma[7];
  DistanceMemo* memo;  // for frames that remember distances
};

// A view of the square in one corner's frame: P(a, b) is the pixel at E + a*f + b*h, and the
// view may be recentred on a neighbour of E (Q = P(qa, qb)). With Remember, distances go
// through the square's memo.
template <int FX, int FY, int HX, int HY, bool Remember>
struct Frame {
  const Square& sq;
  int qa = 0;
  int qb = 0;

  uint32_t operator()(int a, int b) const { return sq.px[Row(a, b)][Col(a, b)]; }
  int L(int a, int b) const { return sq.luma[Row(a, b)][Col(a, b)]; }
  // ColourDistance of two pixels.
  int D(uint32_t p, uint32_t q) const {
    if constexpr (Remember) return sq.memo->Distance(p, q);
    return ColourDistance(p, q);
  }
  Frame At(int a, int b) const { return Frame{sq, qa + a, qb + b}; }
  // Index into the output block E0..E8 of the output pixel at a*f + b*h from the centre.
  static constexpr int Out(int a, int b) { return (1 + a * FY + b * HY) * 3 + (1 + a * FX + b * HX); }

 private:
  int Row(int a, int b) const { return 3 + (a + qa) * FY + (b + qb) * HY; }
  int Col(int a, int b) const { return 3 + (a + qa) * FX + (b + qb) * HX; }
};

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
  return q.D(q(0, 0), q(1, 0)) <= q.D(q(0, 0), q(0, 1)) ? q(1, 0) : q(0, 1);
}
template <class Q>
int SlopeF(const Q& q) { return q.D(q(1, 0), q(-1, 1)); }
template <class Q>
int SlopeH(const Q& q) { return q.D(q(0, 1), q(1, -1)); }

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
  const int wEdge = 4 * q.D(h, f) + q.D(e, q(1, -1)) + q.D(e, q(-1, 1)) + q.D(g, q(0, 2)) + q.D(g, q(2, 0));
  const int wCross = 4 * q.D(e, g) + q.D(h, q(-1, 0)) + q.D(h, q(1, 2)) + q.D(f, q(2, 1)) + q.D(f, q(0, -1));
  return wEdge < wCross;
}

template <class Q>
bool Level3Shallow(const Q& q) {
  return q(0, 0) != q(-2, 1) && q(-2, 0) != q(-2, 1) &&
         (Close20(q, -1, 0, -2, 0) || Close20(q, -1, 1, -2, 1)) &&
         4 * q.D(q(1, 0), q(-2, 1)) <= q.D(q(0, 1), q(1, -2));
}
template <class Q>
bool Level3Steep(const Q& q) {
  return q(0, 0) != q(1, -2) && q(0, -2) != q(1, -2) &&
         (Close20(q, 0, -1, 0, -2) || Close20(q, 1, -1, 1, -2)) &&
         4 * q.D(q(0, 1), q(1, -2)) <= q.D(q(1, 0), q(-2, 1));
}
template <class Q>
bool Level4Shallow(const Q& q) {
  return q(0, 0) != q(-3, 1) && q(-3, 0) != q(-3, 1) &&
         (Close20(q, -2, 0, -3, 0) || Close20(q, -2, 1, -3, 1)) &&
         4 * q.D(q(1, 0), q(-3, 1)) <= q.D(q(0, 1), q(1, -3));
}
template <class Q>
bool Level4Steep(const Q& q) {
  return q(0, 0) != q(1, -3) && q(0, -3) != q(1, -3) &&
         (Close20(q, 0, -2, 0, -3) || Close20(q, 1, -2, 1, -3)) &&
         4 * q.D(q(0, 1), q(1, -3)) <= q.D(q(1, 0), q(-3, 1));
}

// Whether EdgeTest holds at E, at F = P(1, 0) and at H = P(0, 1) of a corner's frame, worked
// out on the spot where the rule reads it.
struct EdgesOnTheSpot {
  template <class Fr>
  bool Here(const Fr& p) const { return EdgeTest(p); }
  template <class Fr>
  bool AtF(const Fr& p) const { return EdgeTest(p.At(1, 0)); }
  template <class Fr>
  bool AtH(const Fr& p) const { return EdgeTest(p.At(0, 1)); }
};

// The same three answers, read from the corner plane.
struct EdgesKnown {
  bool here, atF, atH;
  template <class Fr>
  bool Here(const Fr&) const { return here; }
  template <class Fr>
  bool AtF(const Fr&) const { return atF; }
  template <class Fr>
  bool AtH(const Fr&) const { return atH; }
};

// Decides one corner of E and writes the output pixels that belong to it.
template <class Fr, class Edges>
void CornerRule(const Fr& p, const Edges& edges, uint32_t (&out)[9], ScalerCounts& counts) {
  if (edges.Here(p)) {
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
  if (edges.AtF(p) && Shallow(f) && Level3Shallow(f) && (SlopeF(f) < 2 * SlopeH(f) || !GuardSteep(f)) &&
      Level4Shallow(f)) {
    out[Fr::Out(1, 1)] = ChosenColour(f);
    ++counts.NeighbourEdgeCount;
  }
  const Fr h = p.At(0, 1);
  if (edges.AtH(p) && Steep(h) && Level3Steep(h) && (SlopeH(h) < 2 * SlopeF(h) || !GuardShallow(h)) &&
      Level4Steep(h)) {
    // Ties go to the pixel along h here, unlike ChosenColour.
    out[Fr::Out(1, 1)] = p.D(h(0, 0), p(0, 2)) <= p.D(h(0, 0), p(1, 1)) ? p(0, 2) : p(1, 1);
    ++counts.NeighbourEdgeCount;
  }
}

// The four corners, each in its own frame: f and h point from E to the two neighbours that
// share the corner.
template <bool Remember = true>
using BottomRight = Frame<1, 0, 0, 1, Remember>;  // f right, h down
template <bool Remember = true>
using TopRight = Frame<0, -1, 1, 0, Remember>;  // f up, h right
template <bool Remember = true>
using TopLeft = Frame<-1, 0, 0, -1, Remember>;  // f left, h up
template <bool Remember = true>
using BottomLeft = Frame<0, 1, -1, 0, Remember>;  // f down, h left

// Bits of the corner plane: which corners of a pixel EdgeTest finds an edge at, each in that
// corner's frame.
constexpr uint8_t kBottomRight = 1, kTopRight = 2, kTopLeft = 4, kBottomLeft = 8;

// The squares of the pixels of one source row. Inside the picture a square points into the
// source; near the border it points at a clamped copy, valid until the next call of At.
struct SquareRow {
  const uint32_t* px[7];
  const uint8_t* luma[7];
  uint32_t width;
  uint32_t borderPx[7][7];
  uint8_t borderLuma[7][7];
  Square sq;

  SquareRow(const ScalerJob& job, const uint8_t* lumas, uint32_t y, DistanceMemo* memo) : width(job.srcWidth) {
    sq.memo = memo;
    for (int r = 0; r < 7; ++r) {
      const size_t sy = static_cast<size_t>(std::clamp<int64_t>(int64_t{y} + r - 3, 0, int64_t{job.srcHeight} - 1));
      px[r] = job.srcPixels + sy * (job.srcPitch / 2);
      luma[r] = lumas + sy * width;
    }
  }

  const Square& At(uint32_t x) {
    if (x >= 3 && x + 3 < width) {
      for (int r = 0; r < 7; ++r) {
        sq.px[r] = px[r] + (x - 3);
        sq.luma[r] = luma[r] + (x - 3);
      }
      return sq;
    }
    for (int c = 0; c < 7; ++c) {
      const size_t sx = static_cast<size_t>(std::clamp<int64_t>(int64_t{x} + c - 3, 0, int64_t{width} - 1));
      for (int r = 0; r < 7; ++r) {
        borderPx[r][c] = px[r][sx];
        borderLuma[r][c] = luma[r][sx];
      }
    }
    for (int r = 0; r < 7; ++r) {
      sq.px[r] = borderPx[r];
      sq.luma[r] = borderLuma[r];
    }
    return sq;
  }
};

// Writes the 3 x 3 block of source pixel x of a row; `dst` is the block row's first pixel.
inline void StoreBlock(uint32_t* dst, size_t dstStride, uint32_t x, const uint32_t (&out)[9]) {
  uint32_t* block = dst + static_cast<size_t>(3) * x;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) block[r * dstStride + c] = out[r * 3 + c];
}

inline void StoreSolidBlock(uint32_t* dst, size_t dstStride, uint32_t x, uint32_t e) {
  uint32_t* block = dst + static_cast<size_t>(3) * x;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) block[r * dstStride + c] = e;
}

constexpr uint32_t kRowsPerChunk = 8;

// Scales source rows [firstRow, endRow) one pixel at a time, every test and every distance
// worked out where the rule reads it, and adds to the counts. `lumas` holds Luma of every source pixel, srcWidth to
// a row.
void ScaleRowsOnTheSpot(const ScalerJob& job, const uint8_t* lumas, uint32_t firstRow, uint32_t endRow,
                        ScalerCounts* counts) {
  const size_t dstStride = job.dstPitch / 2;
  ScalerCounts local = *counts;
  const EdgesOnTheSpot edges;
  for (uint32_t y = firstRow; y < endRow; ++y) {
    SquareRow row(job, lumas, y, nullptr);
    uint32_t* dst = job.dstPixels + static_cast<size_t>(3) * y * dstStride;
    for (uint32_t x = 0; x < job.srcWidth; ++x) {
      const Square& sq = row.At(x);
      const uint32_t e = sq.px[3][3];
      uint32_t out[9] = {e, e, e, e, e, e, e, e, e};
      CornerRule(BottomRight<false>{sq}, edges, out, local);
      CornerRule(TopRight<false>{sq}, edges, out, local);
      CornerRule(TopLeft<false>{sq}, edges, out, local);
      CornerRule(BottomLeft<false>{sq}, edges, out, local);
      StoreBlock(dst, dstStride, x, out);
    }
  }
  *counts = local;
}

// The corner plane: one byte of corner bits per source pixel, with a border of zero bytes
// one pixel wide all round, so that neighbours are read without tests.
struct CornerPlane {
  uint8_t* origin;  // the border's top-left byte
  size_t stride;    // srcWidth + 2
  uint8_t* Row(uint32_t y) const { return origin + (size_t{y} + 1) * stride + 1; }
};

// Pixels are taken a segment at a time: the cheap tests of a whole segment first, in a loop
// without branches, then the pixels they leave.
constexpr uint32_t kSegment = 256;

// Which corners of the pixel at x have neither neighbour equal to it, the neighbours clamped
// to the picture. EdgeTest fails at once at every other corner.
inline uint8_t OpenCorners(const uint32_t* here, const uint32_t* up, const uint32_t* down, uint32_t x, uint32_t width) {
  const uint32_t e = here[x];
  const uint8_t l = e != here[x > 0 ? x - 1 : 0], r = e != here[x + 1 < width ? x + 1 : x];
  const uint8_t u = e != up[x], d = e != down[x];
  return static_cast<uint8_t>((r & d) | (u & r) << 1 | (l & u) << 2 | (d & l) << 3);
}

// EdgeTest at the open corners of the pixel at x, as corner bits.
[[gnu::noinline]] uint8_t CornerBits(SquareRow& row, uint32_t x, uint8_t open) {
  const Square& sq = row.At(x);
  uint8_t bits = 0;
  if ((open & kBottomRight) && EdgeTest(BottomRight<>{sq})) bits |= kBottomRight;
  if ((open & kTopRight) && EdgeTest(TopRight<>{sq})) bits |= kTopRight;
  if ((open & kTopLeft) && EdgeTest(TopLeft<>{sq})) bits |= kTopLeft;
  if ((open & kBottomLeft) && EdgeTest(BottomLeft<>{sq})) bits |= kBottomLeft;
  return bits;
}

// Fills rows [firstRow, endRow) of the corner plane, their border bytes included.
void CornerRows(const ScalerJob& job, const uint8_t* lumas, const CornerPlane& plane, uint32_t firstRow,
                uint32_t endRow) {
  const uint32_t width = job.srcWidth, height = job.srcHeight;
  const size_t srcStride = job.srcPitch / 2;
  DistanceMemo memo;
  for (uint32_t y = firstRow; y < endRow; ++y) {
    SquareRow row(job, lumas, y, &memo);
    const uint32_t* here = job.srcPixels + y * srcStride;
    const uint32_t* up = job.srcPixels + (y > 0 ? y - 1 : 0) * srcStride;
    const uint32_t* down = job.srcPixels + (y + 1 < height ? y + 1 : y) * srcStride;
    uint8_t* out = plane.Row(y);
    out[-1] = 0;
    out[width] = 0;
    for (uint32_t x0 = 0; x0 < width; x0 += kSegment) {
      const uint32_t end = std::min(width, x0 + kSegment);
      uint8_t open[kSegment];
      // Away from the left and right edges the neighbours need no clamping.
      const uint32_t inner0 = std::max(x0, 1u), inner1 = std::max(inner0, std::min(end, width - 1));
      for (uint32_t x = x0; x < inner0; ++x) open[x - x0] = OpenCorners(here, up, down, x, width);
      {
        const uint32_t *h = here + inner0, *hl = h - 1, *hr = h + 1, *hu = up + inner0, *hd = down + inner0;
        uint8_t* o = open + (inner0 - x0);
        for (size_t i = 0, n = inner1 - inner0; i < n; ++i) {
          const uint32_t e = h[i];
          const uint8_t l = e != hl[i], r = e != hr[i], u = e != hu[i], d = e != hd[i];
          o[i] = static_cast<uint8_t>((r & d) | (u & r) << 1 | (l & u) << 2 | (d & l) << 3);
        }
      }
      for (uint32_t x = inner1; x < end; ++x) open[x - x0] = OpenCorners(here, up, down, x, width);
      // Most pixels have no open corner: eight of them are passed over at once.
      for (uint32_t x = x0; x < end;) {
        uint64_t eight = 1;
        if (end - x >= 8) std::memcpy(&eight, open + (x - x0), 8);
        if (eight == 0) {
          std::memset(out + x, 0, 8);
          x += 8;
        } else {
          out[x] = open[x - x0] != 0 ? CornerBits(row, x, open[x - x0]) : 0;
          ++x;
        }
      }
    }
  }
}

// Decides the four corners of the pixel at x of `row` from its corner bits `c` and those of
// its neighbours (left, right, up, down; 0 beyond the border), and writes its block. Out of
// line, so that the loop over a row stays small for the solid blocks, most of a picture.
[[gnu::noinline]] void ScalePixel(SquareRow& row, uint32_t x, uint8_t c, uint8_t l, uint8_t r, uint8_t u, uint8_t d,
                                  uint32_t* dst, size_t dstStride, ScalerCounts& counts) {
  const Square& sq = row.At(x);
  const uint32_t e = sq.px[3][3];
  uint32_t out[9] = {e, e, e, e, e, e, e, e, e};
  CornerRule(BottomRight<>{sq}, EdgesKnown{(c & kBottomRight) != 0, (r & kBottomRight) != 0, (d & kBottomRight) != 0},
             out, counts);
  CornerRule(TopRight<>{sq}, EdgesKnown{(c & kTopRight) != 0, (u & kTopRight) != 0, (r & kTopRight) != 0}, out,
             counts);
  CornerRule(TopLeft<>{sq}, EdgesKnown{(c & kTopLeft) != 0, (l & kTopLeft) != 0, (u & kTopLeft) != 0}, out, counts);
  CornerRule(BottomLeft<>{sq}, EdgesKnown{(c & kBottomLeft) != 0, (d & kBottomLeft) != 0, (l & kBottomLeft) != 0}, out,
             counts);
  StoreBlock(dst, dstStride, x, out);
}

// Scales source rows [firstRow, endRow) with EdgeTest read from the corner plane, and adds to
// the counts. A corner's rule can write only where EdgeTest holds at E, or at F or H of that
// corner; a pixel where none does is a solid block. EdgeTest never holds at a neighbour
// beyond the border (there F, or H, repeats E): the plane's border reads as no edge.
void ScaleRows(const ScalerJob& job, const uint8_t* lumas, const CornerPlane& plane, uint32_t firstRow,
               uint32_t endRow, ScalerCounts* counts) {
  const uint32_t width = job.srcWidth;
  const size_t srcStride = job.srcPitch / 2, dstStride = job.dstPitch / 2;
  ScalerCounts local = *counts;
  DistanceMemo memo;
  for (uint32_t y = firstRow; y < endRow; ++y) {
    const uint32_t* src = job.srcPixels + y * srcStride;
    const uint8_t* here = plane.Row(y);
    const uint8_t* left = here - 1;  // x - 1 would wrap round at x = 0
    const uint8_t* right = here + 1;
    const uint8_t* up = here - plane.stride;
    const uint8_t* down = here + plane.stride;
    uint32_t* dst = job.dstPixels + static_cast<size_t>(3) * y * dstStride;
    SquareRow row(job, lumas, y, &memo);
    for (uint32_t x0 = 0; x0 < width; x0 += kSegment) {
      const uint32_t end = std::min(width, x0 + kSegment);
      uint8_t wanted[kSegment];
      for (uint32_t x = x0; x < end; ++x)
        wanted[x - x0] = here[x] | (right[x] & (kBottomRight | kTopRight)) | (down[x] & (kBottomRight | kBottomLeft)) |
                         (up[x] & (kTopRight | kTopLeft)) | (left[x] & (kTopLeft | kBottomLeft));
      for (uint32_t x = x0; x < end; ++x) {
        if (wanted[x - x0] == 0) {
          StoreSolidBlock(dst, dstStride, x, src[x]);
        } else {
          ScalePixel(row, x, here[x], left[x], right[x], up[x], down[x], dst, dstStride, local);
        }
      }
    }
  }
  *counts = local;
}

void LumaRows(const ScalerJob& job, uint8_t* lumas, uint32_t firstRow, uint32_t endRow) {
  for (uint32_t y = firstRow; y < endRow; ++y) {
    const uint32_t* row = job.srcPixels + size_t{y} * (job.srcPitch / 2);
    uint8_t* out = lumas + size_t{y} * job.srcWidth;
    for (uint32_t x = 0; x < job.srcWidth; ++x) out[x] = static_cast<uint8_t>(Luma(row[x]));
  }
}

bool JobFits(const ScalerJob& job) {
  return uint64_t{3} * job.srcWidth <= job.dstWidth && uint64_t{3} * job.srcHeight <= job.dstHeight;
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
  if (!JobFits(job)) return false;
  WriteChannelMasks();
  if (job.srcWidth == 0 || job.srcHeight == 0) return true;

  // One luma per source pixel: the luma tests read each pixel's luma many times over. One
  // byte of corner bits per source pixel: each EdgeTest is read by three rules (its own
  // pixel's and two neighbours'). Neither is cleared: every byte is written before it is read.
  // The corner plane's rows are one byte longer on each side, and it has a row more above and
  // below; the workers write the side bytes, the two outer rows are cleared here.
  const size_t lumaBytes = size_t{job.srcWidth} * job.srcHeight;
  const size_t cornerStride = size_t{job.srcWidth} + 2;
  size_t cornerBytes = 0, bytes = 0;
  if (__builtin_mul_overflow(cornerStride, size_t{job.srcHeight} + 2, &cornerBytes) ||
      __builtin_add_overflow(lumaBytes, cornerBytes, &bytes))
    return false;
  const LargeBlock<uint8_t> planes(static_cast<uint8_t*>(AllocateLargeBlock(bytes)));
  if (!planes) return false;
  uint8_t* const lumaPlane = planes.get();
  const CornerPlane cornerPlane = {planes.get() + lumaBytes, cornerStride};
  std::memset(cornerPlane.origin, 0, cornerStride);
  std::memset(cornerPlane.origin + (size_t{job.srcHeight} + 1) * cornerStride, 0, cornerStride);

  const uint32_t chunks = (job.srcHeight + kRowsPerChunk - 1) / kRowsPerChunk;
  if (threads == 0) threads = static_cast<unsigned>(pixeltools::HardwareThreads(nullptr));
  threads = std::min<uint32_t>(threads, chunks);
  if (threads <= 1) {
    LumaRows(job, lumaPlane, 0, job.srcHeight);
    CornerRows(job, lumaPlane, cornerPlane, 0, job.srcHeight);
    ScaleRows(job, lumaPlane, cornerPlane, 0, job.srcHeight, counts);
    return true;
  }

  // The luma plane, the corner plane, then the blocks, each in chunks of rows that go to
  // whichever thread is free. Blocks depend only on the source; the counts are sums and come
  // out the same in any order.
  std::vector<ScalerCounts> partial(threads, ScalerCounts{});
  // False when memory ran out for a thread; the ones started have then finished the step.
  auto inParallel = [&](auto chunk) {
    return pixeltools::ParallelFor(
        static_cast<int>(chunks), static_cast<int>(threads),
        [&](int t, int c) {
          const uint32_t first = static_cast<uint32_t>(c) * kRowsPerChunk;
          chunk(static_cast<unsigned>(t), first, std::min(job.srcHeight, first + kRowsPerChunk));
        },
        true);
  };
  if (!inParallel([&](unsigned, uint32_t first, uint32_t last) { LumaRows(job, lumaPlane, first, last); }) ||
      !inParallel([&](unsigned, uint32_t first, uint32_t last) {
        CornerRows(job, lumaPlane, cornerPlane, first, last);
      }) ||
      !inParallel([&](unsigned t, uint32_t first, uint32_t last) {
        ScaleRows(job, lumaPlane, cornerPlane, first, last, &partial[t]);
      }))
    return false;
  for (const ScalerCounts& c : partial) {
    counts->Level2Count += c.Level2Count;
    counts->Level3Count += c.Level3Count;
    counts->NeighbourEdgeCount += c.NeighbourEdgeCount;
  }
  return true;
}

bool EdgeScaleBlocksOnTheSpot(const ScalerJob& job, ScalerCounts* counts) {
  *counts = ScalerCounts{};
  if (!JobFits(job)) return false;
  WriteChannelMasks();
  if (job.srcWidth == 0 || job.srcHeight == 0) return true;
  const LargeBlock<uint8_t> lumas(static_cast<uint8_t*>(AllocateLargeBlock(size_t{job.srcWidth} * job.srcHeight)));
  if (!lumas) return false;
  LumaRows(job, lumas.get(), 0, job.srcHeight);
  ScaleRowsOnTheSpot(job, lumas.get(), 0, job.srcHeight, counts);
  return true;
}

uint32_t EdgeScale3x(const ScalerJob* job) {
  // Sizes compare in 64 bits: three times a width above 1431655765 does not fit in 32.
  if (uint64_t{3} * job->srcWidth > job->dstWidth) return 3 * job->srcWidth;
  if (uint64_t{3} * job->srcHeight > job->dstHeight) return 3 * job->srcHeight;
  ScalerCounts counts;
  if (!EdgeScaleBlocks(*job, 0, &counts)) return 0;
  return static_cast<uint32_t>(std::printf("Success!\n%5d filtered pixels.\n", static_cast<int>(counts.Filtered())));
}

}  // namespace mostel
