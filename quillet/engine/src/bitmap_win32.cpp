// The bitmap operations through GDI: files are read by the platform's BMP loader into a
// DIB section held in a memory device context, outputs are DIB sections whose zeroed memory
// the engine writes, and files are written with the Win32 file calls.
#include <windows.h>

#include <cstring>
#include <new>

#include "bitmap_internal.h"
#include "quillet/bitmap.h"

namespace quillet {
namespace {

HDC Dc(PlatformHandle handle) { return static_cast<HDC>(handle); }
HBITMAP Bitmap(PlatformHandle handle) { return static_cast<HBITMAP>(handle); }
BITMAPINFO* Info(std::uint8_t* header) { return reinterpret_cast<BITMAPINFO*>(header); }

}  // namespace

// Deleting the device context first detaches the bitmap from it; a bitmap still selected
// into a context cannot be deleted.
void ReleasePlatformHandles(PlatformHandle& bitmap, PlatformHandle& deviceContext) {
  if (deviceContext) DeleteDC(Dc(deviceContext));
  if (bitmap) DeleteObject(Bitmap(bitmap));
  bitmap = nullptr;
  deviceContext = nullptr;
}

std::int32_t LoadBitmapFile(const char* fileName, WorkingBitmap& bitmap, LoadOutcome* outcome) {
  bitmap.pixels = PixelBytes();
  ReleasePlatformHandles(bitmap.bitmap, bitmap.deviceContext);
  bitmap.header = NewEmptyHeader();
  // The headers are checked, the size against the limits, before the platform reads the rows.
  LoadOutcome ignored;
  LoadOutcome& result = outcome ? *outcome : ignored;
  result = InspectBitmapFile(fileName);
  if (result.failure != LoadFailure::kNone) return 0;
  result.failure = LoadFailure::kUnsupported;  // until the platform's loader has taken it
  bitmap.deviceContext = CreateCompatibleDC(nullptr);
  if (!bitmap.deviceContext) return 0;

  bitmap.bitmap = LoadImageA(GetModuleHandleA(nullptr), fileName, IMAGE_BITMAP, 0, 0,
                             LR_CREATEDIBSECTION | LR_LOADFROMFILE);
  if (!bitmap.bitmap) return 0;
  SelectObject(Dc(bitmap.deviceContext), Bitmap(bitmap.bitmap));

  std::uint8_t* header = bitmap.header.get();
  // Bit count 0 asks for the header alone: format, size and biSizeImage.
  if (!GetDIBits(Dc(bitmap.deviceContext), Bitmap(bitmap.bitmap), 0, 0, nullptr, Info(header), DIB_RGB_COLORS) ||
      ReadLe32(header + kBiSize) != kInfoHeaderBytes) {
    bitmap.header = NewEmptyHeader();
    return 0;
  }
  // Rows are always kept bottom-up; a top-down file is reported with a positive height.
  std::int32_t height = HeaderHeight(header);
  if (height < 0) {
    height = -height;
    WriteLe32(header + kBiHeight, static_cast<std::uint32_t>(height));
  }
  const std::int32_t width = HeaderWidth(header);
  const int bitCount = HeaderBitCount(header);
  const std::uint64_t rowBytes =
      width > 0 && height > 0 && bitCount > 0
          ? static_cast<std::uint64_t>(RowStride(width, bitCount)) * static_cast<std::uint64_t>(height)
          : 0;
  if (rowBytes == 0 || rowBytes > kMaxPixelBlockBytes) {
    bitmap.header = NewEmptyHeader();
    return 0;
  }
  // The block covers the rows whatever the platform says biSizeImage is.
  const std::uint32_t sizeImage = ReadLe32(header + kBiSizeImage);
  bitmap.pixels.assign(static_cast<std::size_t>(sizeImage > rowBytes ? sizeImage : rowBytes), 255);
  const int rows = GetDIBits(Dc(bitmap.deviceContext), Bitmap(bitmap.bitmap), 0, static_cast<UINT>(height),
                             bitmap.pixels.data(), Info(header), DIB_RGB_COLORS);
  if (rows > 0) result.failure = LoadFailure::kNone;
  return rows > 0 ? rows : 0;
}

OutputBitmap CreateOutputBitmap(const WorkingBitmap& source, std::int32_t width, std::int32_t height) {
  OutputBitmap output;
  output.header = NewOutputHeader(source, width, height);
  const std::size_t bytes = OutputPixelBytes(width, height);
  if (bytes == 0) return output;

  output.deviceContext = CreateCompatibleDC(nullptr);
  if (!output.deviceContext) return output;
  void* bits = nullptr;
  output.bitmap = CreateDIBSection(Dc(output.deviceContext), Info(output.header.get()), DIB_RGB_COLORS, &bits,
                                   nullptr, 0);
  // A bitmap the platform cannot make for its size fails as any other allocation does.
  if (!output.bitmap || !bits) throw std::bad_alloc();
  SelectObject(Dc(output.deviceContext), Bitmap(output.bitmap));
  output.pixels = static_cast<std::uint8_t*>(bits);
  output.pixelBytes = bytes;
  return output;
}

bool WriteBitmapFile(const char* fileName, std::uint8_t* header, PlatformHandle bitmap,
                     PlatformHandle deviceContext, const std::uint8_t* pixels, std::size_t pixelBytes,
                     OutputMode mode) {
  if (!fileName || !header) return false;
  // The header's own bit count asks the platform for the image size of that format.
  if (bitmap && deviceContext && HeaderBitCount(header) != 0)
    GetDIBits(Dc(deviceContext), Bitmap(bitmap), 0, 0, nullptr, Info(header), DIB_RGB_COLORS);
  BitmapFileLayout layout;
  if (!PrepareBitmapFile(header, pixels, pixelBytes, layout)) return false;
  const ByteRange parts[3] = {{layout.fileHeader, kFileHeaderBytes}, {header, layout.infoBytes}, {pixels, layout.imageBytes}};
  return WriteOutputFile(fileName, parts, 3, mode);
}

}  // namespace quillet
