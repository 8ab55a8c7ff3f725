// The bitmap operations where the platform offers no bitmap objects: the records hold
// the header block and the rows alone, and files go through the C runtime.
#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "bitmap_internal.h"
#include "quillet/bitmap.h"

namespace quillet {
namespace {

// A BMP can be no larger than its largest pixel block plus headers and colour table.
constexpr std::size_t kMaxFileBytes = kMaxPixelBlockBytes + 4096;
// Headers, colour table and channel masks, which is all a file of compressed rows gives.
constexpr std::size_t kHeadersAndTableBytes = kBmpHeadersBytes + 4 * 256 + 16;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Reads up to limit bytes from the file's current position onto the end of bytes; false on a
// read error.
bool ReadUpTo(std::FILE* file, std::size_t limit, PixelBytes& bytes) {
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  while (bytes.size() < limit) {
    const std::size_t used = bytes.size();
    const std::size_t want = std::min(kChunk, limit - used);
    bytes.resize(used + want);
    const std::size_t got = std::fread(bytes.data() + used, 1, want, file);
    bytes.resize(used + got);
    if (got < want) break;
  }
  return !std::ferror(file);
}

// Reads the headers, and then only as much of the file as they say its rows need.
LoadFailure ReadBitmapBytes(const char* fileName, PixelBytes& bytes, int& systemError) {
  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName, "rb"));
  if (!file || !ReadUpTo(file.get(), kBmpHeadersBytes, bytes)) {
    systemError = errno;
    return LoadFailure::kUnreadable;
  }
  BmpFileLayout layout;
  const LoadFailure failure = ParseBmpHeaders(bytes.data(), bytes.size(), layout);
  if (failure != LoadFailure::kNone) return failure;
  const std::size_t wanted = static_cast<std::size_t>(
      std::min<std::uint64_t>(std::max<std::uint64_t>(layout.fileBytesNeeded, kHeadersAndTableBytes), kMaxFileBytes));
  bytes.reserve(wanted + 4);  // room for the whole image, and for a last row's missing padding
  if (!ReadUpTo(file.get(), wanted, bytes)) {
    systemError = errno;
    return LoadFailure::kUnreadable;
  }
  return LoadFailure::kNone;
}

}  // namespace

void ReleasePlatformHandles(PlatformHandle& bitmap, PlatformHandle& deviceContext) {
  bitmap = nullptr;
  deviceContext = nullptr;
}

std::int32_t LoadBitmapFile(const char* fileName, WorkingBitmap& bitmap, LoadOutcome* outcome) {
  // The record's earlier image goes first, and the file's buffer becomes the pixel block,
  // so a large image is held only once.
  bitmap.pixels = PixelBytes();
  PixelBytes bytes;
  int systemError = 0;
  const LoadFailure failure = fileName ? ReadBitmapBytes(fileName, bytes, systemError) : LoadFailure::kUnreadable;
  if (failure == LoadFailure::kNone) return LoadBitmapVector(bytes, bitmap, outcome);
  LoadBitmapBytes(nullptr, 0, bitmap);
  if (outcome) {
    *outcome = LoadOutcome{};
    outcome->failure = failure;
    outcome->systemError = systemError;
    if (failure != LoadFailure::kUnreadable) {
      BmpFileLayout layout;
      ParseBmpHeaders(bytes.data(), bytes.size(), layout);
      outcome->width = layout.width;
      outcome->height = layout.height < 0 ? -layout.height : layout.height;
    }
  }
  return 0;
}

OutputBitmap CreateOutputBitmap(const WorkingBitmap& source, std::int32_t width, std::int32_t height) {
  OutputBitmap output;
  output.header = NewOutputHeader(source, width, height);
  const std::size_t bytes = OutputPixelBytes(width, height);
  if (bytes == 0) return output;
  output.storage.assign(bytes, 0);
  output.pixels = output.storage.data();
  output.pixelBytes = output.storage.size();
  return output;
}

bool WriteBitmapFile(const char* fileName, std::uint8_t* header, PlatformHandle /*bitmap*/,
                     PlatformHandle /*deviceContext*/, const std::uint8_t* pixels, std::size_t pixelBytes,
                     OutputMode mode) {
  BitmapFileLayout layout;
  if (!fileName || !PrepareBitmapFile(header, pixels, pixelBytes, layout)) return false;
  const ByteRange parts[3] = {{layout.fileHeader, kFileHeaderBytes}, {header, layout.infoBytes}, {pixels, layout.imageBytes}};
  return WriteOutputFile(fileName, parts, 3, mode);
}

}  // namespace quillet
