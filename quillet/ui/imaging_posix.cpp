// The imaging library on Linux: MagickWand, loaded with dlopen and bound with dlsym. Its
// headers give the types of the entry points; nothing links against it.
//
// Files are read and written here, never by the library: it only decodes and encodes
// bytes. That keeps the library's own reading of names ("fmt:name", "name[1]", "|cmd",
// "@list") away from user file names, and an input is decoded only by the coder of the
// format its first bytes show, from a fixed list of raster formats.
#include <dlfcn.h>
#include <wand/MagickWand.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "quillet/bitmap.h"
#include "quillet/files.h"
#include "quillet/imaging.h"

namespace quillet {
namespace {

constexpr char kLibraryName[] = "libMagickWand-6.Q16.so.6";

// Largest image file read: twice its pixels would already pass the engine's limit.
constexpr std::size_t kMaxImageFileBytes = std::size_t{256} << 20;

struct MagickEntryPoints {
  decltype(&MagickWandGenesis) wandGenesis = nullptr;
  decltype(&IsMagickWandInstantiated) isWandInstantiated = nullptr;
  decltype(&NewMagickWand) newWand = nullptr;
  decltype(&DestroyMagickWand) destroyWand = nullptr;
  decltype(&MagickSetFormat) setFormat = nullptr;
  decltype(&MagickReadImageBlob) readImageBlob = nullptr;
  decltype(&MagickPingImageBlob) pingImageBlob = nullptr;
  decltype(&MagickSetFirstIterator) setFirstIterator = nullptr;
  decltype(&MagickGetImage) getImage = nullptr;
  decltype(&MagickGetImageColorspace) getColorspace = nullptr;
  decltype(&MagickSetImageColorspace) setColorspace = nullptr;
  decltype(&MagickTransformImageColorspace) transformColorspace = nullptr;
  decltype(&MagickSetType) setType = nullptr;
  decltype(&MagickSetImageAlphaChannel) setAlphaChannel = nullptr;
  decltype(&MagickSetImageType) setImageType = nullptr;
  decltype(&MagickSetImageDepth) setImageDepth = nullptr;
  decltype(&MagickSetImageFormat) setImageFormat = nullptr;
  decltype(&MagickGetImageBlob) getImageBlob = nullptr;
  decltype(&MagickRelinquishMemory) relinquishMemory = nullptr;
  decltype(&MagickGetImageWidth) getImageWidth = nullptr;
  decltype(&MagickGetImageHeight) getImageHeight = nullptr;
  decltype(&MagickExportImagePixels) exportImagePixels = nullptr;
};

// The context of one load's record: its entry points, read-only once bound. Bindings are
// chained here and never freed, so every record handed out stays valid.
struct MagickBinding {
  MagickEntryPoints entries;
  MagickBinding* next = nullptr;
};
std::atomic<MagickBinding*> keptBindings{nullptr};

void Keep(MagickBinding* binding) {
  binding->next = keptBindings.load();
  while (!keptBindings.compare_exchange_weak(binding->next, binding)) {
  }
}

const MagickEntryPoints& EntriesOf(void* context) { return static_cast<const MagickBinding*>(context)->entries; }

template <typename Function>
bool Bind(void* module, const char* name, Function& entry) {
  entry = reinterpret_cast<Function>(dlsym(module, name));
  return entry != nullptr;
}

bool BindAll(void* module, MagickEntryPoints& e) {
  return Bind(module, "MagickWandGenesis", e.wandGenesis) &&
         Bind(module, "IsMagickWandInstantiated", e.isWandInstantiated) &&
         Bind(module, "NewMagickWand", e.newWand) && Bind(module, "DestroyMagickWand", e.destroyWand) &&
         Bind(module, "MagickSetFormat", e.setFormat) && Bind(module, "MagickReadImageBlob", e.readImageBlob) &&
         Bind(module, "MagickPingImageBlob", e.pingImageBlob) &&
         Bind(module, "MagickSetFirstIterator", e.setFirstIterator) &&
         Bind(module, "MagickGetImage", e.getImage) &&
         Bind(module, "MagickGetImageColorspace", e.getColorspace) &&
         Bind(module, "MagickSetImageColorspace", e.setColorspace) &&
         Bind(module, "MagickTransformImageColorspace", e.transformColorspace) &&
         Bind(module, "MagickSetType", e.setType) &&
         Bind(module, "MagickSetImageAlphaChannel", e.setAlphaChannel) &&
         Bind(module, "MagickSetImageType", e.setImageType) &&
         Bind(module, "MagickSetImageDepth", e.setImageDepth) &&
         Bind(module, "MagickSetImageFormat", e.setImageFormat) &&
         Bind(module, "MagickGetImageBlob", e.getImageBlob) &&
         Bind(module, "MagickRelinquishMemory", e.relinquishMemory) &&
         Bind(module, "MagickGetImageWidth", e.getImageWidth) &&
         Bind(module, "MagickGetImageHeight", e.getImageHeight) &&
         Bind(module, "MagickExportImagePixels", e.exportImagePixels);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

const char* CoderFor(const std::vector<std::uint8_t>& bytes);

// Reads the file when its first bytes show a format of the list; anything else is not read
// on (a device of endless zeros is refused after 16 bytes). The coder is set when it is read.
bool ReadImageFile(const char* fileName, std::vector<std::uint8_t>& bytes, const char*& coder) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName, "rb"));
  if (!file) return false;
  constexpr std::size_t kMagicBytes = 16;
  bytes.resize(kMagicBytes);
  std::size_t used = std::fread(bytes.data(), 1, kMagicBytes, file.get());
  bytes.resize(used);
  coder = CoderFor(bytes);
  if (!coder || std::ferror(file.get())) return false;
  if (used < kMagicBytes) return true;
  for (std::size_t chunk = std::size_t{1} << 16;; chunk = std::min(2 * chunk, std::size_t{1} << 24)) {
    if (used > kMaxImageFileBytes) return false;
    bytes.resize(used + chunk);
    const std::size_t got = std::fread(bytes.data() + used, 1, chunk, file.get());
    used += got;
    if (got < chunk) break;
  }
  bytes.resize(used);
  return !std::ferror(file.get()) && used <= kMaxImageFileBytes;
}

bool StartsWith(const std::vector<std::uint8_t>& bytes, const char* magic, std::size_t length) {
  return bytes.size() >= length && std::memcmp(bytes.data(), magic, length) == 0;
}

// The coder for the format that the file's first bytes show; null for any other file.
const char* CoderFor(const std::vector<std::uint8_t>& bytes) {
  if (StartsWith(bytes, "\x89PNG\r\n\x1a\n", 8)) return "PNG";
  if (StartsWith(bytes, "\xff\xd8\xff", 3)) return "JPEG";
  if (StartsWith(bytes, "GIF87a", 6) || StartsWith(bytes, "GIF89a", 6)) return "GIF";
  if (StartsWith(bytes, "II*\0", 4) || StartsWith(bytes, "MM\0*", 4)) return "TIFF";
  if (StartsWith(bytes, "BM", 2)) return "BMP";
  if (StartsWith(bytes, "\0\0\1\0", 4)) return "ICO";
  return nullptr;
}

MagickWand* Wand(ImageHandle image) { return static_cast<MagickWand*>(image); }

ImageHandle LoadImage(void* context, const char* fileName) {
  const MagickEntryPoints& magick = EntriesOf(context);
  std::vector<std::uint8_t> bytes;
  const char* coder = nullptr;
  if (!fileName || !ReadImageFile(fileName, bytes, coder)) return nullptr;
  MagickWand* all = magick.newWand();
  if (!all) return nullptr;
  MagickWand* first = nullptr;
  if (magick.setFormat(all, coder) && magick.readImageBlob(all, bytes.data(), bytes.size())) {
    magick.setFirstIterator(all);
    first = magick.getImage(all);  // the first picture alone
  }
  magick.destroyWand(all);
  return first;
}

// The first picture's size as the coder reads it from the header, without its pixels.
bool ImageSize(void* context, const char* fileName, std::uint64_t* width, std::uint64_t* height) {
  const MagickEntryPoints& magick = EntriesOf(context);
  std::vector<std::uint8_t> bytes;
  const char* coder = nullptr;
  if (!fileName || !ReadImageFile(fileName, bytes, coder)) return false;
  MagickWand* wand = magick.newWand();
  if (!wand) return false;
  bool known = false;
  if (magick.setFormat(wand, coder) && magick.pingImageBlob(wand, bytes.data(), bytes.size())) {
    magick.setFirstIterator(wand);
    *width = magick.getImageWidth(wand);
    *height = magick.getImageHeight(wand);
    known = *width > 0 && *height > 0;
  }
  magick.destroyWand(wand);
  return known;
}

// Writes the current picture of the wand as one file in the given format; the wand's own
// format, set for reading, would otherwise win over the picture's.
bool SaveBlob(const MagickEntryPoints& magick, MagickWand* wand, const char* format, const char* fileName) {
  if (!magick.setFormat(wand, format) || !magick.setImageFormat(wand, format)) return false;
  std::size_t size = 0;
  unsigned char* blob = magick.getImageBlob(wand, &size);
  if (!blob) return false;
  const bool written = size > 0 && WriteOutputFile(fileName, blob, size, OutputMode::kCreateNew);
  magick.relinquishMemory(blob);
  return written;
}

// Red, green and blue as the file stores them. Grey and RGB images are only relabelled,
// so no gamma the file declares changes a value; other models (CMYK, YCbCr) convert.
bool ToStoredRgb(const MagickEntryPoints& magick, MagickWand* wand) {
  switch (magick.getColorspace(wand)) {
    case UndefinedColorspace:
    case RGBColorspace:
    case GRAYColorspace:
    case TransparentColorspace:
    case sRGBColorspace:
    case LinearGRAYColorspace:
      return magick.setColorspace(wand, sRGBColorspace);
    default:
      return magick.transformColorspace(wand, sRGBColorspace);
  }
}

bool SaveTiff24(void* context, ImageHandle image, const char* fileName) {
  const MagickEntryPoints& magick = EntriesOf(context);
  MagickWand* wand = Wand(image);
  if (!wand || !fileName) return false;
  // Three 8-bit samples per pixel: no alpha (its colour is kept), no palette, no grey.
  return ToStoredRgb(magick, wand) && magick.setAlphaChannel(wand, DeactivateAlphaChannel) &&
         magick.setImageType(wand, TrueColorType) && magick.setType(wand, TrueColorType) &&
         magick.setImageDepth(wand, 8) && SaveBlob(magick, wand, "TIFF", fileName);
}

// The rows go out as the engine's own BMP writer lays them down: 40-byte info header,
// bottom-up, blue green red, each row padded to 4 bytes.
bool SaveBmp24(void* context, ImageHandle image, const char* fileName) {
  const MagickEntryPoints& magick = EntriesOf(context);
  MagickWand* wand = Wand(image);
  if (!wand || !fileName) return false;
  const std::size_t width = magick.getImageWidth(wand);
  const std::size_t height = magick.getImageHeight(wand);
  if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) return false;
  const std::uint64_t stride = static_cast<std::uint64_t>(Stride24(static_cast<std::int64_t>(width)));
  if (stride * height > kMaxPixelBlockBytes) return false;
  if (!ToStoredRgb(magick, wand)) return false;

  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(stride * height), 0);
  for (std::size_t row = 0; row < height; ++row) {
    std::uint8_t* stored = pixels.data() + (height - 1 - row) * stride;
    if (!magick.exportImagePixels(wand, 0, static_cast<ssize_t>(row), width, 1, "BGR", CharPixel, stored))
      return false;
  }
  std::uint8_t header[kHeaderBlockBytes] = {};
  WriteLe32(header + kBiSize, kInfoHeaderBytes);
  WriteLe32(header + kBiWidth, static_cast<std::uint32_t>(width));
  WriteLe32(header + kBiHeight, static_cast<std::uint32_t>(height));
  WriteLe16(header + kBiPlanes, 1);
  WriteLe16(header + kBiBitCount, 24);
  return WriteBitmapFile(fileName, header, nullptr, nullptr, pixels.data(), pixels.size(), OutputMode::kCreateNew);
}

void DisposeImage(void* context, ImageHandle image) {
  if (image) EntriesOf(context).destroyWand(Wand(image));
}

}  // namespace

ImagingApi LoadImagingLibraryFrom(const char* libraryName) {
  ImagingApi api;
  void* module = libraryName ? dlopen(libraryName, RTLD_NOW | RTLD_LOCAL) : nullptr;
  if (!module) return api;
  MagickEntryPoints bound;
  if (!BindAll(module, bound)) return api;
  bound.wandGenesis();
  if (bound.isWandInstantiated() != MagickTrue) return api;
  MagickBinding* binding = new (std::nothrow) MagickBinding{bound, nullptr};
  if (!binding) return api;
  Keep(binding);
  api.available = true;
  api.context = binding;
  api.loadImage = LoadImage;
  api.saveTiff24 = SaveTiff24;
  api.saveBmp24 = SaveBmp24;
  api.disposeImage = DisposeImage;
  api.imageSize = ImageSize;
  return api;
}

const ImagingApi& LoadImagingLibrary() {
  static const ImagingApi api = LoadImagingLibraryFrom(kLibraryName);
  return api;
}

}  // namespace quillet
