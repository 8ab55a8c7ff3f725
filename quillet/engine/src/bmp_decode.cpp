// Reads a BMP file image from memory into a WorkingBitmap. The file is untrusted:
// every field is checked against the file size before anything is allocated.
#include <algorithm>
#include <cstring>

#include "bitmap_internal.h"
#include "quillet/bitmap.h"

namespace quillet {
namespace {

constexpr std::uint32_t kCoreHeaderBytes = 12;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;
constexpr std::int64_t kMaxDimension = std::int64_t{1} << 24;

struct BmpInfo {
  std::uint32_t headerBytes = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;  // negative for top-down rows
  int bitCount = 0;
  std::uint32_t compression = kBiRgb;
  std::uint32_t clrUsed = 0;
  std::uint32_t clrImportant = 0;
};

bool ValidBitCount(int bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The info header: kNone when the loader takes its kind.
LoadFailure ParseInfo(const std::uint8_t* data, std::size_t size, BmpInfo& info) {
  if (size < 2 || data[0] != 'B' || data[1] != 'M') return LoadFailure::kNotBmp;
  if (size < kFileHeaderBytes + 4) return LoadFailure::kTruncated;
  const std::uint8_t* h = data + kFileHeaderBytes;
  info.headerBytes = ReadLe32(h);
  if (info.headerBytes == kCoreHeaderBytes) {
    if (size < kFileHeaderBytes + kCoreHeaderBytes) return LoadFailure::kTruncated;
    info.width = ReadLe16(h + 4);
    info.height = ReadLe16(h + 6);
    info.bitCount = ReadLe16(h + 10);
    return ValidBitCount(info.bitCount) && info.bitCount != 16 && info.bitCount != 32 ? LoadFailure::kNone
                                                                                        : LoadFailure::kUnsupported;
  }
  if (info.headerBytes != 40 && info.headerBytes != 52 && info.headerBytes != 56 && info.headerBytes != 108 &&
      info.headerBytes != 124)
    return LoadFailure::kUnsupported;
  if (size < kFileHeaderBytes + info.headerBytes) return LoadFailure::kTruncated;
  info.width = static_cast<std::int32_t>(ReadLe32(h + 4));
  info.height = static_cast<std::int32_t>(ReadLe32(h + 8));
  info.bitCount = ReadLe16(h + 14);
  info.compression = ReadLe32(h + 16);
  info.clrUsed = ReadLe32(h + 32);
  info.clrImportant = ReadLe32(h + 36);
  if (!ValidBitCount(info.bitCount)) return LoadFailure::kUnsupported;
  bool taken = false;
  switch (info.compression) {
    case kBiRgb:
      taken = true;
      break;
    case kBiRle8:
      taken = info.bitCount == 8 && info.height > 0;
      break;
    case kBiRle4:
      taken = info.bitCount == 4 && info.height > 0;
      break;
    case kBiBitfields:
    case kBiAlphaBitfields:
      taken = info.bitCount == 16 || info.bitCount == 32;
      break;
    default:
      break;
  }
  return taken ? LoadFailure::kNone : LoadFailure::kUnsupported;
}

bool RowsReadable(const BmpInfo& info) {
  return info.compression == kBiRgb || info.compression == kBiBitfields || info.compression == kBiAlphaBitfields;
}

// The info header and the size it gives, checked against the limits.
LoadFailure ParseSized(const std::uint8_t* data, std::size_t size, BmpInfo& info, BmpFileLayout& layout) {
  const LoadFailure failure = ParseInfo(data, size, info);
  if (failure != LoadFailure::kNone) return failure;
  layout.width = info.width;
  layout.height = info.height;
  if (info.width <= 0 || info.height == 0) return LoadFailure::kUnsupported;
  if (info.width > kMaxDimension || info.height > kMaxDimension || info.height < -kMaxDimension)
    return LoadFailure::kTooLarge;
  const std::int64_t rows = info.height < 0 ? -info.height : info.height;
  const std::int64_t stride = RowStride(info.width, info.bitCount);
  if (static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(rows) > kMaxPixelBlockBytes)
    return LoadFailure::kTooLarge;
  if (RowsReadable(info)) {
    const std::uint64_t lastRowBytes = static_cast<std::uint64_t>((info.width * info.bitCount + 7) / 8);
    layout.fileBytesNeeded = std::uint64_t{ReadLe32(data + 10)} +
                             static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(rows - 1) + lastRowBytes;
  }
  return LoadFailure::kNone;
}

// Colour entries (bit counts up to 8) or channel masks go to the header block after the
// info header, where the file's own layout puts them. Returns false when they lie outside the file.
bool CopyColourTable(const std::uint8_t* data, std::size_t size, const BmpInfo& info, std::uint8_t* header) {
  const std::size_t tableStart = kFileHeaderBytes + info.headerBytes;
  if (info.bitCount <= 8) {
    const std::uint32_t maxEntries = 1u << info.bitCount;
    const std::uint32_t entries = (info.clrUsed == 0 || info.clrUsed > maxEntries) ? maxEntries : info.clrUsed;
    const std::size_t entryBytes = info.headerBytes == kCoreHeaderBytes ? 3 : 4;
    if (tableStart + entries * entryBytes > size) return false;
    for (std::uint32_t k = 0; k < entries; ++k) {
      const std::uint8_t* src = data + tableStart + k * entryBytes;
      std::uint8_t* dst = header + kColourTable + 4 * k;
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
      dst[3] = 0;
    }
    WriteLe32(header + kBiClrUsed, entries);
    return true;
  }
  if (info.compression == kBiBitfields || info.compression == kBiAlphaBitfields) {
    // Masks follow a 40-byte header; larger headers hold them at the same file offset.
    const std::size_t maskBytes = info.compression == kBiBitfields ? 12 : 16;
    const std::size_t maskStart = kFileHeaderBytes + kInfoHeaderBytes;
    if (maskStart + maskBytes > size) return false;
    std::memcpy(header + kColourTable, data + maskStart, maskBytes);
  }
  return true;
}

}  // namespace

LoadFailure ParseBmpHeaders(const std::uint8_t* data, std::size_t size, BmpFileLayout& layout) {
  BmpInfo info;
  return ParseSized(data, size, info, layout);
}

namespace {

// LoadBitmapBytes; with owned (the vector that holds data), the rows are moved to its front
// and it becomes the pixel block, so the image is never held twice.
std::int32_t LoadImage(const std::uint8_t* data, std::size_t size, WorkingBitmap& bitmap, LoadOutcome* outcome,
                       PixelBytes* owned) {
  ReleasePlatformHandles(bitmap.bitmap, bitmap.deviceContext);
  bitmap.pixels = PixelBytes();
  bitmap.header = NewEmptyHeader();
  LoadOutcome ignored;
  LoadOutcome& result = outcome ? *outcome : ignored;
  auto fail = [&](LoadFailure failure) {
    bitmap.header = NewEmptyHeader();
    result.failure = failure;
    return 0;
  };

  BmpInfo info;
  BmpFileLayout layout;
  const LoadFailure parsed = data || size == 0 ? ParseSized(data, size, info, layout) : LoadFailure::kUnreadable;
  result.width = layout.width;
  result.height = layout.height < 0 ? -layout.height : layout.height;
  if (parsed != LoadFailure::kNone) return fail(parsed);
  const bool topDown = info.height < 0;
  const std::int64_t rows = topDown ? -info.height : info.height;
  const std::int64_t stride = RowStride(info.width, info.bitCount);

  std::uint8_t* header = bitmap.header.get();
  if (!CopyColourTable(data, size, info, header)) return fail(LoadFailure::kTruncated);
  const bool rowsReadable = RowsReadable(info);
  const std::uint32_t offBits = ReadLe32(data + 10);
  // The last row may lack its padding; every other byte of the rows must be in the file.
  if (rowsReadable && offBits < kFileHeaderBytes + info.headerBytes) return fail(LoadFailure::kUnsupported);
  if (rowsReadable && size < layout.fileBytesNeeded) return fail(LoadFailure::kTruncated);

  WriteLe32(header + kBiWidth, static_cast<std::uint32_t>(info.width));
  WriteLe32(header + kBiHeight, static_cast<std::uint32_t>(rows));
  WriteLe16(header + kBiBitCount, static_cast<std::uint16_t>(info.bitCount));
  WriteLe32(header + kBiCompression, info.compression);
  WriteLe32(header + kBiClrImportant, info.bitCount <= 8 ? info.clrImportant : 0);
  if (!rowsReadable) {  // compressed rows: the true format is reported, no rows are copied
    result.failure = LoadFailure::kUnsupported;
    return 0;
  }

  const std::size_t blockBytes = static_cast<std::size_t>(stride * rows);
  WriteLe32(header + kBiSizeImage, static_cast<std::uint32_t>(blockBytes));
  const std::size_t available = size - offBits;
  if (owned) {
    std::uint8_t* block = owned->data();
    for (std::int64_t r = 0; r < rows; ++r) {
      const std::size_t from = static_cast<std::size_t>(r * stride);
      std::memmove(block + from, block + offBits + from, std::min(static_cast<std::size_t>(stride), available - from));
    }
    const std::size_t filled = std::min(blockBytes, available);
    owned->resize(blockBytes);
    std::fill(owned->begin() + static_cast<std::ptrdiff_t>(filled), owned->end(), std::uint8_t{0});
    if (topDown)
      for (std::int64_t r = 0; r < rows / 2; ++r)
        std::swap_ranges(owned->begin() + r * stride, owned->begin() + (r + 1) * stride,
                         owned->begin() + (rows - 1 - r) * stride);
    bitmap.pixels = std::move(*owned);
  } else {
    bitmap.pixels.assign(blockBytes, 0);
    const std::uint8_t* rowsStart = data + offBits;
    for (std::int64_t r = 0; r < rows; ++r) {
      const std::size_t from = static_cast<std::size_t>(r * stride);
      const std::size_t count = std::min(static_cast<std::size_t>(stride), available - from);
      const std::int64_t target = topDown ? rows - 1 - r : r;
      std::memcpy(bitmap.pixels.data() + target * stride, rowsStart + from, count);
    }
  }
  result.failure = LoadFailure::kNone;
  return static_cast<std::int32_t>(rows);
}

}  // namespace

std::int32_t LoadBitmapBytes(const std::uint8_t* data, std::size_t size, WorkingBitmap& bitmap,
                             LoadOutcome* outcome) {
  return LoadImage(data, size, bitmap, outcome, nullptr);
}

std::int32_t LoadBitmapVector(PixelBytes& bytes, WorkingBitmap& bitmap, LoadOutcome* outcome) {
  return LoadImage(bytes.data(), bytes.size(), bitmap, outcome, &bytes);
}

}  // namespace quillet
