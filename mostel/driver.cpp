#include "driver.h"

#include <cstdint>
#include <climits>
#include <cstdlib>
#include <utility>

#include "pixeltools/png_door.h"

namespace mostel {

Enlargement::~Enlargement() { FreeLargeBlock(pixels); }

bool EnlargePixels(const uint32_t* pixels, unsigned pitchPixels, unsigned width, unsigned height, unsigned threads,
                   Enlargement& out) {
  const size_t bytes = DestinationBytes(width, height);
  if (bytes == 0 || pitchPixels < width || pitchPixels > UINT32_MAX / 2) return false;
  // Not cleared: the scaler writes every pixel, each thread its own rows, so the pages are
  // first touched by the threads that write them.
  void* destination = AllocateLargeBlock(bytes);
  if (destination == nullptr) return false;
  const ScalerJob job = {
      pixels, 2 * pitchPixels, width, height, static_cast<uint32_t*>(destination), 6 * width, 3 * width, 3 * height,
  };
  // The job fits its destination by construction: false means the planes found no memory.
  if (!EdgeScaleBlocks(job, threads, &out.counts)) {
    FreeLargeBlock(destination);
    return false;
  }
  out.pixels = static_cast<uint32_t*>(destination);
  out.width = 3 * width;
  out.height = 3 * height;
  return true;
}

bool EnlargeInput(DecodedInput& input, Enlargement& out) {
  unsigned char* image = std::exchange(input.pixels, nullptr);
  const bool enlarged =
      EnlargePixels(reinterpret_cast<const uint32_t*>(image), input.width, input.width, input.height, 0, out);
  std::free(image);
  return enlarged;
}

OutputResult WriteEnlargement(Enlargement& picture, const char* path) {
  // Encoded in memory at the settings of LodePNG's file call, so the bytes are the same, and
  // written here, where every write is checked.
  OutputResult result;
  unsigned char* png = nullptr;
  size_t pngBytes = 0;
  const unsigned error = pixeltools::EncodePng(reinterpret_cast<const unsigned char*>(picture.pixels), picture.width,
                                               picture.height, false, &png, &pngBytes);
  FreeLargeBlock(std::exchange(picture.pixels, nullptr));
  if (error != 0) {
    std::free(png);
    result.status = error == pixeltools::kPngOutOfMemory ? OutputStatus::kOutOfMemory : OutputStatus::kEncodeFailed;
    result.encodeError = error;
    return result;
  }
  if (!WriteOutputFile(path, png, pngBytes, &result.write)) result.status = OutputStatus::kWriteFailed;
  std::free(png);
  return result;
}

}  // namespace mostel
