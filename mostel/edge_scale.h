// The 3x edge-rule scaler: every source pixel becomes a 3 x 3 block of copies of itself or of
// a neighbour, chosen corner by corner from colour distances over a 7 x 7 neighbourhood.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mostel {

// Pitches count 16-bit units: the row stride in pixels is pitch / 2.
struct ScalerJob {
  const uint32_t* srcPixels;
  uint32_t srcPitch;
  uint32_t srcWidth;
  uint32_t srcHeight;
  uint32_t* dstPixels;
  uint32_t dstPitch;
  uint32_t dstWidth;
  uint32_t dstHeight;
};

struct ScalerCounts {
  uint32_t Level2Count;
  uint32_t Level3Count;
  uint32_t NeighbourEdgeCount;
  uint32_t Filtered() const { return Level2Count + Level3Count + NeighbourEdgeCount; }
};

// Bytes of a destination three times the size of a width x height source (nine 4-byte pixels
// per source pixel), or 0 when that size, or a pitch or dimension of the job, does not fit.
size_t DestinationBytes(uint32_t width, uint32_t height);

// Scales the whole image on all cores and prints "Success!\n%5d filtered pixels.\n".
// Returns 3 x srcWidth (or 3 x srcHeight) untouched when the destination is too narrow (or too
// short); 0, printing nothing, when memory for the scaler's planes or threads ran out;
// otherwise the character count of the summary.
uint32_t EdgeScale3x(const ScalerJob* job);

// The same scaling without the summary, on the given number of threads (0: one per core).
// The blocks and counts do not depend on the thread count. Returns false when the destination
// is too small, or when memory for the scaler's planes (about two bytes per source pixel) ran out
// (nothing is written then), or when memory ran out for a thread (the destination may then be
// partly written). Every thread it starts has ended when it returns.
bool EdgeScaleBlocks(const ScalerJob& job, unsigned threads, ScalerCounts* counts);

// The same blocks and counts on one thread, one pixel at a time, with every test and colour
// distance of the rule worked out where the rule reads it: the plain form that EdgeScaleBlocks
// must equal.
bool EdgeScaleBlocksOnTheSpot(const ScalerJob& job, ScalerCounts* counts);

}  // namespace mostel
