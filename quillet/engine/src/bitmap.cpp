#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "bitmap_internal.h"
#include "quillet/bitmap.h"

namespace quillet {

std::uint16_t ReadLe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t ReadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void WriteLe16(std::uint8_t* p, std::uint16_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
}

void WriteLe32(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
  p[2] = static_cast<std::uint8_t>(value >> 16);
  p[3] = static_cast<std::uint8_t>(value >> 24);
}

std::int32_t HeaderWidth(const std::uint8_t* header) {
  return header ? static_cast<std::int32_t>(ReadLe32(header + kBiWidth)) : 0;
}

std::int32_t HeaderHeight(const std::uint8_t* header) {
  return header ? static_cast<std::int32_t>(ReadLe32(header + kBiHeight)) : 0;
}

int HeaderBitCount(const std::uint8_t* header) {
  return header ? ReadLe16(header + kBiBitCount) : 0;
}

std::int64_t Stride24(std::int64_t width) { return (3 * width + 3) / 4 * 4; }

std::int64_t RowStride(std::int64_t width, int bitCount) {
  return (width * bitCount + 31) / 32 * 4;
}

bool HasImage24(const WorkingBitmap& bitmap) {
  const std::int32_t w = HeaderWidth(bitmap.header.get());
  const std::int32_t h = HeaderHeight(bitmap.header.get());
  if (HeaderBitCount(bitmap.header.get()) != 24 || w <= 0 || h <= 0) return false;
  return static_cast<std::uint64_t>(Stride24(w)) * static_cast<std::uint64_t>(h) <= bitmap.pixels.size();
}

std::uint32_t BackgroundColour(const WorkingBitmap& bitmap) {
  return bitmap.pixels.size() >= 3 ? PackColour(bitmap.pixels.data()) : 0;
}

const char* LoadFailureText(LoadFailure failure) {
  switch (failure) {
    case LoadFailure::kNone:
      return "no failure";
    case LoadFailure::kUnreadable:
      return "cannot be opened or read";
    case LoadFailure::kNotBmp:
      return "not a BMP file";
    case LoadFailure::kUnsupported:
      return "a kind of BMP file that is not supported";
    case LoadFailure::kTooLarge:
      return "too large";
    case LoadFailure::kTruncated:
      return "a truncated BMP file";
  }
  return "unknown failure";
}

LoadOutcome InspectBitmapFile(const char* fileName) {
  LoadOutcome outcome;
  errno = 0;
  std::FILE* file = fileName ? std::fopen(fileName, "rb") : nullptr;
  if (!file) {
    outcome.failure = LoadFailure::kUnreadable;
    outcome.systemError = errno;
    return outcome;
  }
  std::uint8_t headers[kBmpHeadersBytes];
  const std::size_t got = std::fread(headers, 1, sizeof headers, file);
  const bool readError = std::ferror(file) != 0;
  outcome.systemError = readError ? errno : 0;
  std::fclose(file);
  if (readError) {
    outcome.failure = LoadFailure::kUnreadable;
    return outcome;
  }
  BmpFileLayout layout;
  outcome.failure = ParseBmpHeaders(headers, got, layout);
  outcome.width = layout.width;
  outcome.height = layout.height < 0 ? -layout.height : layout.height;
  return outcome;
}

HeaderBlock NewEmptyHeader() {
  HeaderBlock header(new std::uint8_t[kHeaderBlockBytes]());
  WriteLe32(header.get() + kBiSize, kInfoHeaderBytes);
  WriteLe16(header.get() + kBiPlanes, 1);
  return header;
}

HeaderBlock NewOutputHeader(const WorkingBitmap& source, std::int32_t width, std::int32_t height) {
  HeaderBlock header = NewEmptyHeader();
  if (source.header) std::memcpy(header.get(), source.header.get(), 44);
  WriteLe32(header.get() + kBiWidth, static_cast<std::uint32_t>(width));
  WriteLe32(header.get() + kBiHeight, static_cast<std::uint32_t>(height));
  WriteLe16(header.get() + kBiBitCount, 24);
  return header;
}

std::size_t OutputPixelBytes(std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 0) return 0;
  const std::uint64_t bytes = static_cast<std::uint64_t>(Stride24(width)) * static_cast<std::uint64_t>(height);
  return bytes > kMaxPixelBlockBytes ? 0 : static_cast<std::size_t>(bytes);
}

void BuildFileHeader(std::uint8_t out[kFileHeaderBytes], std::uint32_t infoBytes, std::uint32_t imageBytes) {
  const std::uint32_t offBits = static_cast<std::uint32_t>(kFileHeaderBytes) + infoBytes;
  out[0] = 'B';
  out[1] = 'M';
  WriteLe32(out + 2, offBits + imageBytes);
  WriteLe16(out + 6, 0);
  WriteLe16(out + 8, 0);
  WriteLe32(out + 10, offBits);
}

bool PrepareBitmapFile(std::uint8_t* header, const std::uint8_t* pixels, std::size_t pixelBytes,
                       BitmapFileLayout& layout) {
  if (!header) return false;
  const std::int32_t width = HeaderWidth(header);
  const std::int32_t height = HeaderHeight(header);
  const int bitCount = HeaderBitCount(header);
  const std::uint32_t clrUsed = ReadLe32(header + kBiClrUsed);
  if (width <= 0 || height <= 0 || bitCount == 0 || clrUsed > 256 ||
      ReadLe32(header + kBiSize) != kInfoHeaderBytes)
    return false;
  const std::uint64_t imageBytes = static_cast<std::uint64_t>(RowStride(width, bitCount)) * static_cast<std::uint64_t>(height);
  if (imageBytes > kMaxPixelBlockBytes || imageBytes > pixelBytes || (!pixels && imageBytes > 0)) return false;
  WriteLe32(header + kBiSizeImage, static_cast<std::uint32_t>(imageBytes));
  layout.infoBytes = kInfoHeaderBytes + 4 * clrUsed;
  layout.imageBytes = static_cast<std::uint32_t>(imageBytes);
  BuildFileHeader(layout.fileHeader, layout.infoBytes, layout.imageBytes);
  return true;
}

namespace {

// Hands the platform objects and the header of one record to another, after releasing the
// target's own; the source is left without them.
template <typename Record>
void TakeHandles(Record& to, Record& from) {
  ReleasePlatformHandles(to.bitmap, to.deviceContext);
  to.deviceContext = std::exchange(from.deviceContext, nullptr);
  to.bitmap = std::exchange(from.bitmap, nullptr);
  to.header = std::move(from.header);
}

}  // namespace

WorkingBitmap::WorkingBitmap(WorkingBitmap&& other) noexcept { *this = std::move(other); }

WorkingBitmap& WorkingBitmap::operator=(WorkingBitmap&& other) noexcept {
  if (this != &other) {
    TakeHandles(*this, other);
    pixels = std::move(other.pixels);
  }
  return *this;
}

WorkingBitmap::~WorkingBitmap() { ReleasePlatformHandles(bitmap, deviceContext); }

OutputBitmap::OutputBitmap(OutputBitmap&& other) noexcept { *this = std::move(other); }

OutputBitmap& OutputBitmap::operator=(OutputBitmap&& other) noexcept {
  if (this != &other) {
    TakeHandles(*this, other);
    pixels = std::exchange(other.pixels, nullptr);
    pixelBytes = std::exchange(other.pixelBytes, 0);
    storage = std::move(other.storage);
  }
  return *this;
}

OutputBitmap::~OutputBitmap() { ReleasePlatformHandles(bitmap, deviceContext); }

bool WriteBitmapFile(const char* fileName, OutputBitmap& output, OutputMode mode) {
  return WriteBitmapFile(fileName, output.header.get(), output.bitmap, output.deviceContext, output.pixels,
                         output.pixelBytes, mode);
}

bool WriteBitmapFile(const char* fileName, WorkingBitmap& bitmap, OutputMode mode) {
  return WriteBitmapFile(fileName, bitmap.header.get(), bitmap.bitmap, bitmap.deviceContext,
                         bitmap.pixels.data(), bitmap.pixels.size(), mode);
}

}  // namespace quillet
