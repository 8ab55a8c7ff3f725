// The imaging library on Linux: MagickWand, loaded with dlopen and bound with dlsym. Its
// headers give the types of the entry points; nothing links against it.
//
// Files are read and written here, never by the library: it only decodes and encodes
// bytes. That keeps the library's own reading of names ("fmt:name", "name[1]", "|cmd",
// "@list") away from user file names. An input is decoded only by the coder the library
// names for its first bytes (or, for formats without a signature, for its name's ending),
// and only when that coder takes the picture from the bytes themselves: formats that are
// drawing scripts, pseudo-images or read through other programs are not asked for.
#include <dlfcn.h>
#include <wand/MagickWand.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "quillet/bitmap.h"
#include "quillet/files.h"
#include "quillet/imaging.h"
#include "quillet/pipeline.h"
#include "quillet/sprite.h"

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
  decltype(&MagickGetException) getException = nullptr;
  decltype(&AcquireExceptionInfo) acquireException = nullptr;
  decltype(&DestroyExceptionInfo) destroyException = nullptr;
  decltype(&GetMagickInfo) getMagickInfo = nullptr;
  decltype(&GetMagickInfoList) getMagickInfoList = nullptr;
  decltype(&GetImageDecoder) getImageDecoder = nullptr;
  decltype(&GetMagickBlobSupport) getBlobSupport = nullptr;
  decltype(&GetMagickRawSupport) getRawSupport = nullptr;
  decltype(&GetMagicInfo) getMagicInfo = nullptr;
  decltype(&GetMagicName) getMagicName = nullptr;
  decltype(&GetImageMagick) getImageMagick = nullptr;
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
         Bind(module, "MagickExportImagePixels", e.exportImagePixels) &&
         Bind(module, "MagickGetException", e.getException) &&
         Bind(module, "AcquireExceptionInfo", e.acquireException) &&
         Bind(module, "DestroyExceptionInfo", e.destroyException) &&
         Bind(module, "GetMagickInfo", e.getMagickInfo) && Bind(module, "GetMagickInfoList", e.getMagickInfoList) &&
         Bind(module, "GetImageDecoder", e.getImageDecoder) &&
         Bind(module, "GetMagickBlobSupport", e.getBlobSupport) &&
         Bind(module, "GetMagickRawSupport", e.getRawSupport) && Bind(module, "GetMagicInfo", e.getMagicInfo) &&
         Bind(module, "GetMagicName", e.getMagicName) && Bind(module, "GetImageMagick", e.getImageMagick);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Room for a coder's name.
constexpr std::size_t kCoderChars = 64;

// Bytes of the file that the library's signature tests look at.
constexpr std::size_t kMagicBytes = 4096;

// The library's words with its source position (" @ error/...") and an empty name quote
// dropped.
void Tidy(const char* text, char (&out)[kImagingTextChars]) {
  std::snprintf(out, sizeof out, "%s", text ? text : "");
  if (char* at = std::strstr(out, " @ ")) *at = '\0';
  std::size_t length = std::strlen(out);
  if (length >= 3 && std::strcmp(out + length - 3, " `'") == 0) out[length -= 3] = '\0';
}

// Notes why the wand's last read failed: the library's words, and whether memory or another
// resource ran out.
void NoteWandFailure(const MagickEntryPoints& magick, MagickWand* wand) {
  ExceptionType severity = UndefinedException;
  char* text = magick.getException(wand, &severity);
  char reason[kImagingTextChars];
  Tidy(text, reason);
  if (text) magick.relinquishMemory(text);
  NoteImagingFailure(severity == ResourceLimitError || severity == ResourceLimitFatalError
                         ? ImagingProblem::kOutOfMemory
                         : ImagingProblem::kNotImage,
                     reason);
}

// Coders that take no picture from the bytes (built-in pictures, rendered text) or read
// other files by name.
constexpr const char* kRefusedCoders[] = {"PATTERN", "MAGICK", "CAPTION", "PANGO", "MASK", "CLIP", "MPC",
                                          "TTF",     "OTF",    "TTC",     "DFONT", "PFA",  "PFB"};

// A coder of the library that decodes a picture from memory by itself: it has a decoder,
// reads blobs without a file or another program, needs no size given beside the bytes, and
// is not one of the pseudo-formats that are only named explicitly.
bool Readable(const MagickEntryPoints& magick, ExceptionInfo* exception, const char* name) {
  if (!name || !*name) return false;
  for (const char* refused : kRefusedCoders) {
    if (std::strcmp(name, refused) == 0) return false;
  }
  const MagickInfo* info = magick.getMagickInfo(name, exception);
  return info && magick.getImageDecoder(info) && magick.getBlobSupport(info) == MagickTrue &&
         magick.getRawSupport(info) == MagickFalse && info->format_type == UndefinedFormatType;
}

bool StartsWith(const std::vector<std::uint8_t>& bytes, const char* magic, std::size_t length) {
  return bytes.size() >= length && std::memcmp(bytes.data(), magic, length) == 0;
}

// The coder for the file: the format the library's table of signatures finds in its first
// bytes, else the format its name's ending names (TGA and others have no signature), else
// the icon format (which that table lacks), else what the coders' own tests find. False,
// with the failure noted, when none of these is a readable coder.
bool ChooseCoder(const MagickEntryPoints& magick, const std::vector<std::uint8_t>& bytes, const char* fileName,
                 char (&coder)[kCoderChars]) {
  coder[0] = '\0';
  ExceptionInfo* exception = magick.acquireException();
  if (!exception) {
    NoteImagingFailure(ImagingProblem::kOutOfMemory, "");
    return false;
  }
  const std::size_t head = std::min(bytes.size(), kMagicBytes);
  char found[MaxTextExtent] = "";  // a format named by the bytes but not read
  auto take = [&](const char* name) {
    if (!name || !*name) return false;
    if (!Readable(magick, exception, name)) {
      if (!found[0]) std::snprintf(found, sizeof found, "%s", name);
      return false;
    }
    std::snprintf(coder, sizeof coder, "%s", name);
    return true;
  };
  bool chosen = false;
  if (head > 0) {
    const MagicInfo* magic = magick.getMagicInfo(bytes.data(), head, exception);
    chosen = magic && take(magick.getMagicName(magic));
  }
  if (!chosen && fileName) {
    // The ending after the last '.' of the last path element: letters and digits only.
    const char* base = std::strrchr(fileName, '/');
    const char* dot = std::strrchr(base ? base + 1 : fileName, '.');
    const std::size_t length = dot ? std::strlen(dot + 1) : 0;
    char ending[16] = "";
    bool plain = length > 0 && length < sizeof ending;
    for (std::size_t k = 0; plain && k < length; ++k) {
      const unsigned char c = static_cast<unsigned char>(dot[1 + k]);
      plain = std::isalnum(c) != 0;
      ending[k] = static_cast<char>(std::toupper(c));
    }
    if (plain) {
      ending[length] = '\0';
      chosen = Readable(magick, exception, ending) && take(ending);
    }
  }
  if (!chosen && StartsWith(bytes, "\0\0\1\0", 4)) chosen = take("ICO");
  // The coders' own tests run only over the coders loaded, so every coder is loaded first.
  char tested[MaxTextExtent] = "";
  if (!chosen && head > 0 && magick.getMagickInfo("*", exception) &&
      magick.getImageMagick(bytes.data(), head, tested) == MagickTrue)
    chosen = take(tested);
  magick.destroyException(exception);
  if (!chosen) {
    char reason[kImagingTextChars];
    if (found[0]) {
      std::snprintf(reason, sizeof reason, "its format (%s) is one that is not read here", found);
    } else {
      std::snprintf(reason, sizeof reason, "the imaging library does not recognise its format");
    }
    NoteImagingFailure(ImagingProblem::kNotImage, reason);
  }
  return chosen;
}

// Reads the file's first kMagicBytes, chooses the coder for them, and only then reads on,
// up to kMaxImageFileBytes (a device of endless zeros is refused after its first bytes). An
// empty file or one over the limit is refused; so is any failure, which is noted.
bool ReadForCoder(const MagickEntryPoints& magick, const char* fileName, std::vector<std::uint8_t>& bytes,
                  char (&coder)[kCoderChars]) {
  if (!fileName) return false;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName, "rb"));
  if (!file) {
    NoteImagingFailure(ImagingProblem::kNotImage, std::strerror(errno));
    return false;
  }
  std::size_t used = 0;
  bool chosen = false;
  for (std::size_t chunk = kMagicBytes;; chunk = std::min(2 * std::max(chunk, std::size_t{1} << 15), std::size_t{1} << 24)) {
    if (used > kMaxImageFileBytes) break;
    bytes.resize(used + chunk);
    const std::size_t got = std::fread(bytes.data() + used, 1, chunk, file.get());
    used += got;
    bytes.resize(used);
    if (std::ferror(file.get())) {
      NoteImagingFailure(ImagingProblem::kNotImage, "read error");
      return false;
    }
    if (used == 0) {
      NoteImagingFailure(ImagingProblem::kNotImage, "the file is empty");
      return false;
    }
    if (!chosen) {
      if (!ChooseCoder(magick, bytes, fileName, coder)) return false;
      chosen = true;
    }
    if (got < chunk) break;
  }
  if (used > kMaxImageFileBytes) {
    NoteImagingFailure(ImagingProblem::kNotImage, "the file is over 256 MiB");
    return false;
  }
  return true;
}

MagickWand* Wand(ImageHandle image) { return static_cast<MagickWand*>(image); }

ImageHandle LoadImage(void* context, const char* fileName) {
  const MagickEntryPoints& magick = EntriesOf(context);
  std::vector<std::uint8_t> bytes;
  char coder[kCoderChars];
  if (!ReadForCoder(magick, fileName, bytes, coder)) return nullptr;
  MagickWand* all = magick.newWand();
  if (!all) {
    NoteImagingFailure(ImagingProblem::kOutOfMemory, "");
    return nullptr;
  }
  MagickWand* first = nullptr;
  if (magick.setFormat(all, coder) && magick.readImageBlob(all, bytes.data(), bytes.size())) {
    magick.setFirstIterator(all);
    first = magick.getImage(all);  // the first picture alone
    if (!first) NoteImagingFailure(ImagingProblem::kOutOfMemory, "");
  } else {
    NoteWandFailure(magick, all);
  }
  magick.destroyWand(all);
  return first;
}

// The first picture's size as the coder reads it from the header, without its pixels.
bool ImageSize(void* context, const char* fileName, std::uint64_t* width, std::uint64_t* height) {
  const MagickEntryPoints& magick = EntriesOf(context);
  std::vector<std::uint8_t> bytes;
  char coder[kCoderChars];
  if (!ReadForCoder(magick, fileName, bytes, coder)) return false;
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

// RGBA as the file stores it, alpha kept; fully transparent pixels become kTransparent.
bool ImageRgba(void* context, ImageHandle image, RgbaImage& rgba) {
  const MagickEntryPoints& magick = EntriesOf(context);
  MagickWand* wand = Wand(image);
  if (!wand) return false;
  const std::size_t width = magick.getImageWidth(wand);
  const std::size_t height = magick.getImageHeight(wand);
  if (width == 0 || height == 0 || !FitsEnlargement(static_cast<std::int64_t>(std::min<std::size_t>(width, INT32_MAX)),
                                                    static_cast<std::int64_t>(std::min<std::size_t>(height, INT32_MAX)))) {
    NoteImagingFailure(ImagingProblem::kNotImage, "the picture is too large");
    return false;
  }
  if (!ToStoredRgb(magick, wand)) {
    NoteWandFailure(magick, wand);
    return false;
  }
  std::vector<std::uint8_t> raw(4 * width);
  RgbaImage out = BlankImage(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
  for (std::size_t row = 0; row < height; ++row) {
    if (!magick.exportImagePixels(wand, 0, static_cast<ssize_t>(row), width, 1, "RGBA", CharPixel, raw.data())) {
      NoteWandFailure(magick, wand);
      return false;
    }
    for (std::size_t x = 0; x < width; ++x) {
      const std::uint8_t* p = &raw[4 * x];
      out.At(static_cast<std::int32_t>(x), static_cast<std::int32_t>(row)) =
          p[3] == 0 ? kTransparent : PackRgba(p[0], p[1], p[2], p[3]);
    }
  }
  rgba = std::move(out);
  return true;
}

void DisposeImage(void* context, ImageHandle image) {
  if (image) EntriesOf(context).destroyWand(Wand(image));
}

}  // namespace

namespace {

// The common formats the library reads, then how many others it reads.
void ListFormats(void* context, char (&formats)[kImagingTextChars]) {
  const MagickEntryPoints& magick = EntriesOf(context);
  constexpr const char* kCommon[][2] = {{"PNG", "PNG"},   {"JPEG", "JPEG"}, {"GIF", "GIF"}, {"BMP", "BMP"},
                                        {"TIFF", "TIFF"}, {"WEBP", "WebP"}, {"TGA", "TGA"}, {"ICO", "ICO"},
                                        {"PCX", "PCX"},   {"XPM", "XPM"},   {"PSD", "PSD"}, {"PNM", "PNM"}};
  formats[0] = '\0';
  ExceptionInfo* exception = magick.acquireException();
  if (!exception) return;
  std::size_t used = 0, common = 0;
  for (const auto& format : kCommon) {
    if (!Readable(magick, exception, format[0])) continue;
    used += static_cast<std::size_t>(
        std::snprintf(formats + used, sizeof formats - used, "%s%s", common ? ", " : "", format[1]));
    ++common;
  }
  std::size_t count = 0, readable = 0;
  if (const MagickInfo** all = magick.getMagickInfoList("*", &count, exception)) {
    for (std::size_t k = 0; k < count; ++k) readable += Readable(magick, exception, all[k]->name) ? 1 : 0;
    magick.relinquishMemory(all);
  }
  if (readable > common && used < sizeof formats)
    std::snprintf(formats + used, sizeof formats - used, " and %zu other formats", readable - common);
  magick.destroyException(exception);
}

}  // namespace

ImagingApi LoadImagingLibraryFrom(const char* libraryName) {
  ImagingApi api;
  std::snprintf(api.libraryName, sizeof api.libraryName, "MagickWand");
  void* module = libraryName ? dlopen(libraryName, RTLD_NOW | RTLD_LOCAL) : nullptr;
  MagickEntryPoints bound;
  if (!module || !BindAll(module, bound)) {
    // dlerror names the file and the symbol or the reason the loader gave.
    const char* why = dlerror();
    std::snprintf(api.unavailableReason, sizeof api.unavailableReason, "%s",
                  why ? why : libraryName ? libraryName : "no library name");
    return api;
  }
  bound.wandGenesis();
  if (bound.isWandInstantiated() != MagickTrue) {
    std::snprintf(api.unavailableReason, sizeof api.unavailableReason, "%s did not start", libraryName);
    return api;
  }
  MagickBinding* binding = new (std::nothrow) MagickBinding{bound, nullptr};
  if (!binding) {
    std::snprintf(api.unavailableReason, sizeof api.unavailableReason, "memory ran out");
    return api;
  }
  Keep(binding);
  api.available = true;
  api.context = binding;
  api.loadImage = LoadImage;
  api.saveTiff24 = SaveTiff24;
  api.saveBmp24 = SaveBmp24;
  api.disposeImage = DisposeImage;
  api.imageSize = ImageSize;
  api.imageRgba = ImageRgba;
  api.listFormats = ListFormats;
  return api;
}

const ImagingApi& LoadImagingLibrary() {
  static const ImagingApi api = LoadImagingLibraryFrom(kLibraryName);
  return api;
}

}  // namespace quillet
