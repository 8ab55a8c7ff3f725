// The imaging library on Windows: GDI+'s flat entry points, bound by name from
// "gdiplus.dll" at start-up. Nothing links against it, so the program starts without it.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <new>

#include "quillet/imaging.h"

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

// The ten entry points in binding order; the three bitmap calls are bound but not used.
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
  if (!block) return -1;
  EntryAs<GetImageEncodersFn>(gdiplus, kGetImageEncoders)(count, size, block.get());
  for (UINT k = 0; k < count; ++k) {
    if (SameUnits(block[k].mimeType, mimeType)) {
      clsid = block[k].clsid;
      return static_cast<int>(k);
    }
  }
  return -1;
}

ImageHandle LoadImage(void* context, const char* fileName) {
  wchar_t name[kNameUnits];
  if (!WidenBytes(fileName, name)) return nullptr;
  void* image = nullptr;
  if (EntryAs<LoadImageFromFileFn>(BindingOf(context), kLoadImageFromFile)(name, &image) != kOk) return nullptr;
  return image;
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
  return api;
}

const ImagingApi& LoadImagingLibrary() {
  static const ImagingApi api = LoadImagingLibraryFrom("gdiplus.dll");
  return api;
}

}  // namespace quillet
