// Bitmaps in memory and BMP files: a 1064-byte header block (BITMAPINFOHEADER and
// room for 256 colour entries, little-endian) and bottom-up pixel rows padded to 4 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "pixeltools/large_pages.h"
#include "quillet/files.h"

namespace quillet {

using PlatformHandle = void*;  // device context or bitmap on Windows; always null elsewhere

inline constexpr std::size_t kHeaderBlockBytes = 1064;  // 40-byte info header + 256 x 4
inline constexpr std::uint32_t kInfoHeaderBytes = 40;
inline constexpr std::size_t kFileHeaderBytes = 14;

// Byte offsets of the fields of the info header within the header block.
enum HeaderField : std::size_t {
  kBiSize = 0,
  kBiWidth = 4,
  kBiHeight = 8,
  kBiPlanes = 12,
  kBiBitCount = 14,
  kBiCompression = 16,
  kBiSizeImage = 20,
  kBiXPelsPerMeter = 24,
  kBiYPelsPerMeter = 28,
  kBiClrUsed = 32,
  kBiClrImportant = 36,
  kColourTable = 40,
};

// Largest pixel block the engine creates or loads: keeps every size product, and the
// sums of PhaseSearch scores, far inside their integer types.
inline constexpr std::uint64_t kMaxPixelBlockBytes = std::uint64_t{1} << 30;

// Rows of pixels, and the file bytes they are read from: blocks of megabytes, on large pages
// where the system has them.
using PixelBytes = pixeltools::LargeVector<std::uint8_t>;

// Header block as owned by a bitmap record.
using HeaderBlock = std::unique_ptr<std::uint8_t[]>;

struct WorkingBitmap {
  WorkingBitmap() = default;
  WorkingBitmap(WorkingBitmap&& other) noexcept;
  WorkingBitmap& operator=(WorkingBitmap&& other) noexcept;
  WorkingBitmap(const WorkingBitmap&) = delete;
  WorkingBitmap& operator=(const WorkingBitmap&) = delete;
  ~WorkingBitmap();

  PlatformHandle deviceContext = nullptr;
  PlatformHandle bitmap = nullptr;
  HeaderBlock header;                // none until the first load
  PixelBytes pixels;                 // biSizeImage bytes of rows
};

struct OutputBitmap {
  OutputBitmap() = default;
  OutputBitmap(OutputBitmap&& other) noexcept;
  OutputBitmap& operator=(OutputBitmap&& other) noexcept;
  OutputBitmap(const OutputBitmap&) = delete;
  OutputBitmap& operator=(const OutputBitmap&) = delete;
  ~OutputBitmap();  // releases bitmap, device context and header block

  PlatformHandle deviceContext = nullptr;
  PlatformHandle bitmap = nullptr;
  HeaderBlock header;
  std::uint8_t* pixels = nullptr;  // zeroed rows; null when the bitmap could not be made
  std::size_t pixelBytes = 0;      // stride x height
  PixelBytes storage;              // owns the rows where the platform does not
};

// Little-endian field access on a header block (or any byte buffer).
std::uint16_t ReadLe16(const std::uint8_t* p);
std::uint32_t ReadLe32(const std::uint8_t* p);
void WriteLe16(std::uint8_t* p, std::uint16_t value);
void WriteLe32(std::uint8_t* p, std::uint32_t value);

// Width, height and bit count of a header block; 0 for a missing block.
std::int32_t HeaderWidth(const std::uint8_t* header);
std::int32_t HeaderHeight(const std::uint8_t* header);
int HeaderBitCount(const std::uint8_t* header);

// Bytes per row of a 24-bit image: 3 x width rounded up to a multiple of 4.
std::int64_t Stride24(std::int64_t width);

// Bytes per row at any bit count, rounded up to a multiple of 4.
std::int64_t RowStride(std::int64_t width, int bitCount);

// True when the record holds a 24-bit image whose pixel block covers its rows.
bool HasImage24(const WorkingBitmap& bitmap);

// Packed colour: blue + green x 256 + red x 65536 from three bytes in memory order.
inline std::uint32_t PackColour(const std::uint8_t* pixel) {
  return static_cast<std::uint32_t>(pixel[0]) | (static_cast<std::uint32_t>(pixel[1]) << 8) |
         (static_cast<std::uint32_t>(pixel[2]) << 16);
}

namespace detail {
inline int AbsDiff(int a, int b) { return a > b ? a - b : b - a; }
}  // namespace detail

// Sum of the absolute channel differences, 0..765; 0 exactly when equal.
inline int PixelDistance(const std::uint8_t* a, const std::uint8_t* b) {
  return detail::AbsDiff(a[0], b[0]) + detail::AbsDiff(a[1], b[1]) + detail::AbsDiff(a[2], b[2]);
}
inline int PixelDistance(std::uint32_t a, std::uint32_t b) {  // bits 24-31 take no part
  return detail::AbsDiff(static_cast<int>(a & 0xFF), static_cast<int>(b & 0xFF)) +
         detail::AbsDiff(static_cast<int>((a >> 8) & 0xFF), static_cast<int>((b >> 8) & 0xFF)) +
         detail::AbsDiff(static_cast<int>((a >> 16) & 0xFF), static_cast<int>((b >> 16) & 0xFF));
}

// Colour of the first stored pixel (bottom-left); 0 when the record holds no pixels.
std::uint32_t BackgroundColour(const WorkingBitmap& bitmap);

// Why a BMP file was not loaded.
enum class LoadFailure {
  kNone,
  kUnreadable,   // the file could not be opened or read (systemError tells why)
  kNotBmp,       // its first bytes are not those of a BMP file
  kUnsupported,  // a BMP of a kind the loader does not take (header, bit count, compression)
  kTooLarge,     // its rows would exceed kMaxPixelBlockBytes
  kTruncated,    // the file ends before its colour table or rows do
};

// What a load found: the failure, and the size the header gives once it was read.
struct LoadOutcome {
  LoadFailure failure = LoadFailure::kNone;
  int systemError = 0;  // errno (or the platform's error) of an unreadable file
  std::int64_t width = 0, height = 0;  // height is positive for top-down files too
};

// A short description of a failure, for a message ("not a BMP file", ...).
const char* LoadFailureText(LoadFailure failure);

// Reads only the headers of a BMP file: the outcome holds the size, or why it is not a BMP
// the loader takes. Nothing past the headers is read.
LoadOutcome InspectBitmapFile(const char* fileName);

// Reads a BMP file into the record, replacing what it held; returns the rows copied,
// 0 on failure (then bit count 0). Other bit counts than 24 load with their true count.
// A file whose first bytes are not a BMP's is not read further.
std::int32_t LoadBitmapFile(const char* fileName, WorkingBitmap& bitmap, LoadOutcome* outcome = nullptr);

// Same, from a file image already in memory (the platform-free part of the POSIX loader).
std::int32_t LoadBitmapBytes(const std::uint8_t* data, std::size_t size, WorkingBitmap& bitmap,
                             LoadOutcome* outcome = nullptr);

// A zeroed 24-bit bitmap whose header copies the first 44 bytes of source's header;
// pixels is null when width or height is not positive or the rows exceed the limit.
OutputBitmap CreateOutputBitmap(const WorkingBitmap& source, std::int32_t width, std::int32_t height);

// Writes header (14-byte file header, info header, biClrUsed colour entries) and
// biSizeImage bytes of pixels; true only when the whole file was written and closed.
// pixelBytes bounds what may be read from pixels. The mode says how the file is created
// (WriteOutputFile); a failed write leaves LastOutputFailure set.
bool WriteBitmapFile(const char* fileName, std::uint8_t* header, PlatformHandle bitmap,
                     PlatformHandle deviceContext, const std::uint8_t* pixels, std::size_t pixelBytes,
                     OutputMode mode = OutputMode::kReplace);
bool WriteBitmapFile(const char* fileName, OutputBitmap& output, OutputMode mode = OutputMode::kReplace);
bool WriteBitmapFile(const char* fileName, WorkingBitmap& bitmap, OutputMode mode = OutputMode::kReplace);

}  // namespace quillet
