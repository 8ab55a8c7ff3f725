// Pieces shared by the platform files of the bitmap operations.
#pragma once

#include <cstdint>

#include "quillet/bitmap.h"

namespace quillet {

// Releases a bitmap and its device context where the platform has them; sets both null.
void ReleasePlatformHandles(PlatformHandle& bitmap, PlatformHandle& deviceContext);

// Allocates a header block set to an empty image: biSize 40, biPlanes 1, all else 0.
HeaderBlock NewEmptyHeader();

// Header block of a 24-bit output: the first 44 bytes of source's header (or of an empty
// header when it has none), then the new width, height and bit count 24.
HeaderBlock NewOutputHeader(const WorkingBitmap& source, std::int32_t width, std::int32_t height);

// Bytes of the 24-bit rows of a width x height output, or 0 when either side is not positive
// or the block would exceed kMaxPixelBlockBytes.
std::size_t OutputPixelBytes(std::int32_t width, std::int32_t height);

// The 14-byte BMP file header for an info header of infoBytes (colour entries
// included) followed by imageBytes of rows.
void BuildFileHeader(std::uint8_t out[kFileHeaderBytes], std::uint32_t infoBytes, std::uint32_t imageBytes);

// What WriteBitmapFile puts in a file: the file header, infoBytes of the header block and
// imageBytes of pixels. False when the header describes no writable image or the rows
// would run past pixelBytes; otherwise biSizeImage is set to the rows' size.
struct BitmapFileLayout {
  std::uint8_t fileHeader[kFileHeaderBytes] = {};
  std::uint32_t infoBytes = 0;
  std::uint32_t imageBytes = 0;
};
bool PrepareBitmapFile(std::uint8_t* header, const std::uint8_t* pixels, std::size_t pixelBytes,
                       BitmapFileLayout& layout);

// The headers of a BMP file image (at least kFileHeaderBytes + the info header, or what the
// file holds): the size it declares, and the bytes of file that its rows need (offBits plus the
// rows, the last one without padding; 0 for compressed rows). kNone when the loader takes it.
struct BmpFileLayout {
  std::int64_t width = 0, height = 0;  // height negative for top-down rows
  std::uint64_t fileBytesNeeded = 0;
};
LoadFailure ParseBmpHeaders(const std::uint8_t* data, std::size_t size, BmpFileLayout& layout);

// Bytes that hold every header ParseBmpHeaders reads.
inline constexpr std::size_t kBmpHeadersBytes = kFileHeaderBytes + 124;

// LoadBitmapBytes of a whole file image held in bytes; the pixel block is made from bytes
// itself (bytes is left empty when the load succeeds).
std::int32_t LoadBitmapVector(PixelBytes& bytes, WorkingBitmap& bitmap, LoadOutcome* outcome);

}  // namespace quillet
