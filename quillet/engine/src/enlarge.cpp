#include "quillet/enlarge.h"

#include <algorithm>

#include "parallel.h"

namespace quillet {

bool Similar(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  if (a == b) return true;
  const int ab = PixelDistance(a, b);
  return ab <= PixelDistance(a, c) && ab <= PixelDistance(b, c);
}

namespace {

struct Neighbourhood {
  std::uint32_t c, left, right, prev, next, prevLeft, prevRight, nextLeft, nextRight;
};

// One output pixel of stage 2. a, b: the neighbours at this corner; corner: the
// diagonal between them; opposite: the diagonal across the block.
std::uint32_t Corner(const Neighbourhood& n, std::uint32_t background, std::uint32_t a, std::uint32_t b,
                     std::uint32_t candidate, std::uint32_t corner, std::uint32_t opposite,
                     std::uint32_t candidateFar, std::uint32_t other, std::uint32_t otherFar) {
  if (!Similar(a, b, n.c)) return n.c;
  if (corner != n.c) return candidate;
  if (Similar(background, candidate, n.c)) return n.c;
  if (opposite == n.c && Similar(candidate, candidateFar, n.c) && Similar(other, otherFar, n.c)) return n.c;
  return candidate;
}

// Stage 1: true when the whole block keeps the centre colour.
bool KeepsCentre(const Neighbourhood& n) {
  if (Similar(n.left, n.right, n.c) || Similar(n.prev, n.next, n.c)) return true;
  if (n.left == n.c || n.right == n.c || n.prev == n.c || n.next == n.c) return false;
  if (Similar(n.prevLeft, n.nextRight, n.c) && n.nextLeft != n.c && n.prevRight != n.c) return true;
  return Similar(n.nextLeft, n.prevRight, n.c) && n.prevLeft != n.c && n.nextRight != n.c;
}

void Put(std::uint8_t* p, std::uint32_t colour) {
  p[0] = static_cast<std::uint8_t>(colour);
  p[1] = static_cast<std::uint8_t>(colour >> 8);
  p[2] = static_cast<std::uint8_t>(colour >> 16);
}

}  // namespace

bool EnlargeInto(const WorkingBitmap& source, OutputBitmap& output, int threads) {
  if (!HasImage24(source) || !output.pixels) return false;
  const std::int64_t w = HeaderWidth(source.header.get());
  const std::int64_t h = HeaderHeight(source.header.get());
  if (HeaderWidth(output.header.get()) != 2 * w || HeaderHeight(output.header.get()) != 2 * h ||
      output.pixelBytes < static_cast<std::size_t>(Stride24(2 * w) * 2 * h))
    return false;
  const std::int64_t srcStride = Stride24(w);
  const std::int64_t dstStride = Stride24(2 * w);
  const std::uint8_t* src = source.pixels.data();
  const std::uint32_t background = BackgroundColour(source);

  // Rows are independent: bands of them go to the threads.
  constexpr std::int64_t kBandRows = 16;
  const std::int64_t bands = (h + kBandRows - 1) / kBandRows;
  ParallelFor(static_cast<int>(bands), threads > 0 ? threads : HardwareThreads(), [&](int band) {
    const std::int64_t last = std::min<std::int64_t>(h, (band + 1) * kBandRows);
    for (std::int64_t y = band * kBandRows; y < last; ++y) {
      const std::uint8_t* rowPrev = src + (y > 0 ? y - 1 : 0) * srcStride;
      const std::uint8_t* row = src + y * srcStride;
      const std::uint8_t* rowNext = src + (y < h - 1 ? y + 1 : h - 1) * srcStride;
      std::uint8_t* out0 = output.pixels + 2 * y * dstStride;
      std::uint8_t* out1 = out0 + dstStride;
      for (std::int64_t x = 0; x < w; ++x) {
        const std::int64_t xl = 3 * (x > 0 ? x - 1 : 0);
        const std::int64_t xc = 3 * x;
        const std::int64_t xr = 3 * (x < w - 1 ? x + 1 : w - 1);
        const Neighbourhood n{PackColour(row + xc),     PackColour(row + xl),     PackColour(row + xr),
                              PackColour(rowPrev + xc), PackColour(rowNext + xc), PackColour(rowPrev + xl),
                              PackColour(rowPrev + xr), PackColour(rowNext + xl), PackColour(rowNext + xr)};
        std::uint8_t* p00 = out0 + 6 * x;
        std::uint8_t* p01 = out1 + 6 * x;
        if (KeepsCentre(n)) {
          Put(p00, n.c);
          Put(p00 + 3, n.c);
          Put(p01, n.c);
          Put(p01 + 3, n.c);
          continue;
        }
        // Each corner takes the next neighbour in the cycle Left, Prev, Right, Next.
        Put(p00, Corner(n, background, n.left, n.prev, n.prev, n.prevLeft, n.nextRight, n.prevRight, n.left,
                        n.nextLeft));
        Put(p00 + 3, Corner(n, background, n.prev, n.right, n.right, n.prevRight, n.nextLeft, n.nextRight,
                            n.prev, n.prevLeft));
        Put(p01, Corner(n, background, n.left, n.next, n.left, n.nextLeft, n.prevRight, n.prevLeft, n.next,
                        n.nextRight));
        Put(p01 + 3, Corner(n, background, n.next, n.right, n.next, n.nextRight, n.prevLeft, n.nextLeft,
                            n.right, n.prevRight));
      }
    }
  });
  return true;
}

bool EnlargeStep(const WorkingBitmap& source, const char* fileName, OutputMode mode, int threads) {
  if (!HasImage24(source)) return false;
  const std::int32_t w = HeaderWidth(source.header.get());
  const std::int32_t h = HeaderHeight(source.header.get());
  if (w > INT32_MAX / 2 || h > INT32_MAX / 2) return false;
  OutputBitmap output = CreateOutputBitmap(source, 2 * w, 2 * h);
  if (!EnlargeInto(source, output, threads)) return false;
  return WriteBitmapFile(fileName, output, mode);
}

}  // namespace quillet
