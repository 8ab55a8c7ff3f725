// The imaging library on Windows: GDI+'s flat entry points, bound by name from
// "gdiplus.dll" at start-up. Nothing links against it, so the program starts without it.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "quillet/imaging.h"
#include "quillet/pipeline.h"
#include "quillet/sprite.h"

namespace quillet {
namespace {

// The library's own record layouts and calling convention (32-bit: stdcall).
using GpStatus = int;  // 0 is success
constexpr GpStatus kOk = 0;

struct GdiplusStartupInput {
  UINT32 version;
  void* debugEventCallback;
  BOOL suppressBackgroundThread;
  BOOL suppressExternalCodecs;
};

struct ImageCodecInfo {
  CLSID clsid;
  GUID formatId;
  const WCHAR* codecName;
  const WCHAR* dllName;
  const WCHAR* formatDescription;
  const WCHAR* filenameExtension;
  const WCHAR* mimeType;
  DWORD flags;
  DWORD version;
  DWORD sigCount;
  DWORD sigSize;
  const BYTE* sigPattern;
  const BYTE* sigMask;
};

struct EncoderParameter {
  GUID guid;
  ULONG numberOfValues;
  ULONG type;
  void* value;
};

struct EncoderParameters {
  UINT count;
  EncoderParameter parameter[1];
};

constexpr ULONG kEncoderParameterValueTypeLong = 4;
// Bits per pixel asked of the TIFF encoder.
constexpr LONG kImportColourDepth = 24;
// EncoderColorDepth {66087055-AD66-4C7C-9A18-38A2310B8337}
constexpr GUID kEncoderColorDepth = {0x66087055, 0xAD66, 0x4C7C, {0x9A, 0x18, 0x38, 0xA2, 0x31, 0x0B, 0x83, 0x37}};

using StartupFn = GpStatus(WINAPI*)(ULONG_PTR* token, const GdiplusStartupInput* input, void* output);
using ShutdownFn = void(WINAPI*)(ULONG_PTR token);
using GetImageEncodersFn = GpStatus(WINAPI*)(UINT count, UINT size, ImageCodecInfo* encoders);
using GetImageEncodersSizeFn = GpStatus(WINAPI*)(UINT* count, UINT* size);
using SaveImageToFileFn = GpStatus(WINAPI*)(void* image, const WCHAR* fileName, const CLSID* encoder,
                                            const EncoderParameters* parameters);
using LoadImageFromFileFn = GpStatus(WINAPI*)(const WCHAR* fileName, void** image);
using DisposeImageFn = GpStatus(WINAPI*)(void* image);
using GetImageSideFn = GpStatus(WINAPI*)(void* image, UINT* side);

struct GpRect {
  INT x, y, width, height;
};
struct BitmapData {
  UINT width;
  UINT height;
  INT stride;
  INT pixelFormat;
  void* scan0;
  UINT_PTR reserved;
};
using BitmapLockBitsFn = GpStatus(WINAPI*)(void* bitmap, const GpRect* rect, UINT flags, INT format,
                                           BitmapData* data);
using BitmapUnlockBitsFn = GpStatus(WINAPI*)(void* bitmap, BitmapData* data);
constexpr UINT kImageLockModeRead = 1;
constexpr INT kPixelFormat32bppArgb = 0x0026200A;  // blue, green, red, alpha; not premultiplied
constexpr GpStatus kOutOfMemory = 3;

// Bound beside the ten, only for the pictures with their transparency: without them the
// library still converts.
constexpr const char* kSideNames[] = {"GdipGetImageWidth", "GdipGetImageHeight"};

// The ten entry points in binding order; the bitmap's lock and unlock give its pixels with
// their transparency, and the third bitmap call is bound but not used.
constexpr const char* kEntryNames[] = {
    "GdiplusStartup",          "GdiplusShutdown",     "GdipGetImageEncoders", "GdipGetImageEncodersSize",
    "GdipCreateBitmapFromScan0", "GdipBitmapLockBits", "GdipBitmapUnlockBits", "GdipSaveImageToFile",
    "GdipLoadImageFromFile",   "GdipDisposeImage",
};
constexpr int kEntryCount = sizeof kEntryNames / sizeof kEntryNames[0];
enum Entry {
  kStartup, kShutdown, kGetImageEncoders, kGetImageEncodersSize, kCreateBitmapFromScan0,
  kBitmapLockBits, kBitmapUnlockBits, kSaveImageToFile, kLoadImageFromFile, kDisposeImage,
};

// One binding of the library: its module, entry points and start-up token. A record's
// context is the binding its load made, read-only once started; bindings are chained from
// keptBindings and never freed, so every record handed out stays valid.
struct GdiplusApi {
  HMODULE module = nullptr;
  FARPROC entries[kEntryCount] = {};
  FARPROC sides[2] = {};  // kSideNames
  ULONG_PTR token = 0;
  bool available = false;
  GdiplusApi* next = nullptr;
};
std::atomic<GdiplusApi*> keptBindings{nullptr};

void Keep(GdiplusApi* binding) {
  binding->next = keptBindings.load();
  while (!keptBindings.compare_exchange_weak(binding->next, binding)) {
  }
}

const GdiplusApi& BindingOf(void* context) { return *static_cast<const GdiplusApi*>(context); }

template <typename Function>
Function EntryAs(const GdiplusApi& gdiplus, Entry entry) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(gdiplus.entries[entry]));
}

// Loads, binds and starts the library; never shut down or unloaded.
GdiplusApi LoadGdiplus(const char* libraryName) {
  GdiplusApi api;
  api.module = LoadLibraryA(libraryName);
  if (api.module) {
    for (int k = 0; k < kEntryCount; ++k) api.entries[k] = GetProcAddress(api.module, kEntryNames[k]);
    for (int k = 0; k < 2; ++k) api.sides[k] = GetProcAddress(api.module, kSideNames[k]);
  }
  for (FARPROC entry : api.entries) {
    if (!entry) return api;
  }
  const GdiplusStartupInput input = {1, nullptr, FALSE, TRUE};
  if (reinterpret_cast<StartupFn>(reinterpret_cast<void*>(api.entries[kStartup]))(&api.token, &input, nullptr) != kOk) {
    reinterpret_cast<ShutdownFn>(reinterpret_cast<void*>(api.entries[kShutdown]))(api.token);
    return api;
  }
  api.available = true;
  return api;
}

// Room for a file name in either form, terminator included.
constexpr int kNameUnits = 260;

// 8-bit name (ANSI code page) to 16-bit units; false, with out empty, when it does not
// convert or fit.
bool WidenBytes(const char* bytes, wchar_t (&out)[kNameUnits]) {
  out[0] = L'\0';
  if (!bytes) return false;
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, -1, out, kNameUnits) == 0) {
    out[0] = L'\0';
    return false;
  }
  return true;
}

bool SameUnits(const wchar_t* a, const wchar_t* b) {
  if (!a || !b) return false;
  for (; *a && *a == *b; ++a, ++b) {
  }
  return *a == *b;
}

// Index of the encoder for mimeType (exact match), its class identifier in clsid; -1 when
// the library is not available or has no such encoder.
int FindEncoderClsid(const GdiplusApi& gdiplus, const wchar_t* mimeType, CLSID& clsid) {
  if (!gdiplus.available) return -1;
  UINT count = 0;
  UINT size = 0;
  EntryAs<GetImageEncodersSizeFn>(gdiplus, kGetImageEncodersSize)(&count, &size);
  if (size == 0 || count == 0 || size < count * sizeof(ImageCodecInfo)) return -1;
  // The records come first in the block; the texts they point to follow them.
  std::unique_ptr<ImageCodecInfo[]> block(new (std::nothrow) ImageCodecInfo[(size + sizeof(ImageCodecInfo) - 1) /
                                                                            sizeof(ImageCodecInfo)]);
  if (!block) {
    NoteImagingFailure(ImagingProblem::kOutOfMemory, "");
    return -1;
  }
  EntryAs<GetImageEncodersFn>(gdiplus, kGetImageEncoders)(count, size, block.get());
  for (UINT k = 0; k < count; ++k) {
    if (SameUnits(block[k].mimeType, mimeType)) {
      clsid = block[k].clsid;
      return static_cast<int>(k);
    }
  }
  return -1;
}

// The library's status as a reason.
void NoteStatus(GpStatus status, const char* what) {
  char reason[kImagingTextChars];
  std::snprintf(reason, sizeof reason, "%s (GDI+ status %d)", what, status);
  NoteImagingFailure(status == kOutOfMemory ? ImagingProblem::kOutOfMemory : ImagingProblem::kNotImage, reason);
}

ImageHandle LoadImage(void* context, const char* fileName) {
  wchar_t name[kNameUnits];
  if (!WidenBytes(fileName, name)) {
    NoteImagingFailure(ImagingProblem::kNotImage, "the name does not convert to the code page");
    return nullptr;
  }
  void* image = nullptr;
  const GpStatus status = EntryAs<LoadImageFromFileFn>(BindingOf(context), kLoadImageFromFile)(name, &image);
  if (status != kOk) {
    // The library answers "out of memory" for files it does not read as well: that is no
    // reason to end as if memory ran out.
    char reason[kImagingTextChars];
    std::snprintf(reason, sizeof reason, "GDI+ does not read it (status %d)", status);
    NoteImagingFailure(ImagingProblem::kNotImage, reason);
    return nullptr;
  }
  return image;
}

// The bitmap's pixels as 32-bit ARGB, converted by the library from whatever the file holds.
bool ImageRgba(void* context, ImageHandle image, RgbaImage& rgba) {
  const GdiplusApi& gdiplus = BindingOf(context);
  UINT width = 0, height = 0;
  GpStatus status = reinterpret_cast<GetImageSideFn>(reinterpret_cast<void*>(gdiplus.sides[0]))(image, &width);
  if (status == kOk)
    status = reinterpret_cast<GetImageSideFn>(reinterpret_cast<void*>(gdiplus.sides[1]))(image, &height);
  if (status != kOk) {
    NoteStatus(status, "its size cannot be read");
    return false;
  }
  if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX || !FitsEnlargement(width, height)) {
    NoteImagingFailure(ImagingProblem::kNotImage, "the picture is too large");
    return false;
  }
  const GpRect rect = {0, 0, static_cast<INT>(width), static_cast<INT>(height)};
  BitmapData data = {};
  status = EntryAs<BitmapLockBitsFn>(gdiplus, kBitmapLockBits)(image, &rect, kImageLockModeRead,
                                                               kPixelFormat32bppArgb, &data);
  if (status != kOk) {
    NoteStatus(status, "its pixels cannot be read");
    return false;
  }
  RgbaImage out = BlankImage(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
  for (UINT y = 0; y < height; ++y) {
    const BYTE* row = static_cast<const BYTE*>(data.scan0) + static_cast<std::ptrdiff_t>(y) * data.stride;
    for (UINT x = 0; x < width; ++x) {
      const BYTE* p = row + 4 * x;
      out.At(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)) =
          p[3] == 0 ? kTransparent : PackRgba(p[2], p[1], p[0], p[3]);
    }
  }
  EntryAs<BitmapUnlockBitsFn>(gdiplus, kBitmapUnlockBits)(image, &data);
  rgba = std::move(out);
  return true;
}

// The decoders the library has built in.
void ListFormats(void*, char (&formats)[kImagingTextChars]) {
  std::snprintf(formats, sizeof formats, "BMP, GIF, JPEG, PNG, TIFF, ICO, EMF and WMF");
}

// An encoder that is not found fails the save instead of passing an unset identifier.
bool SaveImage(const GdiplusApi& gdiplus, ImageHandle image, const char* fileName, const wchar_t* mimeType,
               const EncoderParameters* parameters) {
  wchar_t name[kNameUnits];
  CLSID encoder;
  if (!image || !WidenBytes(fileName, name) || FindEncoderClsid(gdiplus, mimeType, encoder) < 0) return false;
  return EntryAs<SaveImageToFileFn>(gdiplus, kSaveImageToFile)(image, name, &encoder, parameters) == kOk;
}

bool SaveTiff24(void* context, ImageHandle image, const char* fileName) {
  LONG colourDepth = kImportColourDepth;
  EncoderParameters parameters = {};
  parameters.count = 1;
  parameters.parameter[0].guid = kEncoderColorDepth;
  parameters.parameter[0].numberOfValues = 1;
  parameters.parameter[0].type = kEncoderParameterValueTypeLong;
  parameters.parameter[0].value = &colourDepth;
  return SaveImage(BindingOf(context), image, fileName, L"image/tiff", &parameters);
}

bool SaveBmp24(void* context, ImageHandle image, const char* fileName) {
  return SaveImage(BindingOf(context), image, fileName, L"image/bmp", nullptr);
}

void DisposeImage(void* context, ImageHandle image) {
  if (image) EntryAs<DisposeImageFn>(BindingOf(context), kDisposeImage)(image);
}

}  // namespace

ImagingApi LoadImagingLibraryFrom(const char* libraryName) {
  const GdiplusApi loaded = LoadGdiplus(libraryName);
  ImagingApi api;
  std::snprintf(api.libraryName, sizeof api.libraryName, "%s", libraryName ? libraryName : "");
  if (!loaded.available) return api;
  GdiplusApi* binding = new (std::nothrow) GdiplusApi(loaded);
  if (!binding) return api;
  Keep(binding);
  api.available = true;
  api.context = binding;
  api.loadImage = LoadImage;
  api.saveTiff24 = SaveTiff24;
  api.saveBmp24 = SaveBmp24;
  api.disposeImage = DisposeImage;
  api.listFormats = ListFormats;
  if (loaded.sides[0] && loaded.sides[1]) api.imageRgba = ImageRgba;
  return api;
}

const ImagingApi& LoadImagingLibrary() {
  static const ImagingApi api = LoadImagingLibraryFrom("gdiplus.dll");
  return api;
}

}  // namespace quillet
