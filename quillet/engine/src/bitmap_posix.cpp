// The bitmap operations where the platform offers no bitmap objects: the records hold
// the header block and the rows alone, and files go through the C runtime.
#include <cstdio>

#include "bitmap_internal.h"
#include "quillet/bitmap.h"

namespace quillet {
namespace {

// A BMP can be no larger than its largest pixel block plus headers and colour table.
constexpr std::size_t kMaxFileBytes = kMaxPixelBlockBytes + 4096;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Reads the whole file; false when it cannot be opened or read or exceeds kMaxFileBytes.
bool ReadWholeFile(const char* fileName, std::vector<std::uint8_t>& bytes) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName, "rb"));
  if (!file) return false;
  constexpr std::size_t kChunk = 1 << 16;
  std::size_t used = 0;
  for (;;) {
    if (used > kMaxFileBytes) return false;
    bytes.resize(used + kChunk);
    const std::size_t got = std::fread(bytes.data() + used, 1, kChunk, file.get());
    used += got;
    if (got < kChunk) break;
  }
  bytes.resize(used);
  return !std::ferror(file.get()) && used <= kMaxFileBytes;
}

}  // namespace

void ReleasePlatformHandles(PlatformHandle& bitmap, PlatformHandle& deviceContext) {
  bitmap = nullptr;
  deviceContext = nullptr;
}

std::int32_t LoadBitmapFile(const char* fileName, WorkingBitmap& bitmap) {
  std::vector<std::uint8_t> bytes;
  if (!fileName || !ReadWholeFile(fileName, bytes)) return LoadBitmapBytes(nullptr, 0, bitmap);
  return LoadBitmapBytes(bytes.data(), bytes.size(), bitmap);
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
                     PlatformHandle /*deviceContext*/, const std::uint8_t* pixels, std::size_t pixelBytes) {
  BitmapFileLayout layout;
  if (!fileName || !PrepareBitmapFile(header, pixels, pixelBytes, layout)) return false;
  std::FILE* file = std::fopen(fileName, "wb");
  if (!file) return false;
  bool ok = std::fwrite(layout.fileHeader, 1, kFileHeaderBytes, file) == kFileHeaderBytes;
  ok = ok && std::fwrite(header, 1, layout.infoBytes, file) == layout.infoBytes;
  ok = ok && (layout.imageBytes == 0 || std::fwrite(pixels, 1, layout.imageBytes, file) == layout.imageBytes);
  const bool closed = std::fclose(file) == 0;
  return ok && closed;
}

}  // namespace quillet
