// The platform's imaging library, loaded by name at start-up and bound at run time. It
// converts the image formats quillet does not read itself; names are 8-bit strings, and
// relative names lie in the current directory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quillet/sprite.h"

namespace quillet {

using ImageHandle = void*;

// Room for a line of the library's own words, terminator included.
inline constexpr std::size_t kImagingTextChars = 256;

// Why a call of the library failed: a file it does not read as an image (or a format it is
// not asked to read), or memory that ran out.
enum class ImagingProblem { kNone, kNotImage, kOutOfMemory };
struct ImagingFailure {
  ImagingProblem problem = ImagingProblem::kNone;
  char reason[kImagingTextChars] = {};  // the library's words, when it gave any
};

// The failure last noted on this thread since ClearImagingFailure; the platform's calls
// note theirs.
const ImagingFailure& LastImagingFailure();
void ClearImagingFailure();
void NoteImagingFailure(ImagingProblem problem, const char* reason);

struct ImagingApi {
  // True when the library, every entry point and its start-up were found; the functions
  // below are set only then.
  bool available = false;
  // This record's binding of the library, handed to every function below as its first
  // argument. Each load makes its own; it is kept, like the library, until the process ends.
  void* context = nullptr;
  // Loads an image file (its first picture when it holds several); null on failure.
  ImageHandle (*loadImage)(void* context, const char* fileName) = nullptr;
  // Writes the image as a TIFF of 24 bits per pixel to a file it creates; false unless
  // written whole.
  bool (*saveTiff24)(void* context, ImageHandle image, const char* fileName) = nullptr;
  // Writes the image as a BMP of 24 bits per pixel with a 40-byte info header, alpha
  // dropped and the stored colour kept; false unless written whole.
  bool (*saveBmp24)(void* context, ImageHandle image, const char* fileName) = nullptr;
  // The size of the image in a file, read from its header without decoding its pixels;
  // false when the file is not an image the library reads. May be null.
  bool (*imageSize)(void* context, const char* fileName, std::uint64_t* width, std::uint64_t* height) = nullptr;
  // Releases the image; no file stays open for it.
  void (*disposeImage)(void* context, ImageHandle image) = nullptr;
  // The image as 8-bit RGBA with its transparency; a fully transparent pixel is
  // kTransparent whatever colour the file stores under it. False, with the failure noted,
  // when it cannot be given or its eight-times enlargement would be over the job's limit.
  // May be null.
  bool (*imageRgba)(void* context, ImageHandle image, RgbaImage& rgba) = nullptr;

  // The library's own name, set whether or not it loaded, and why it did not load when the
  // loader said ("" when it was not found).
  char libraryName[64] = {};
  char unavailableReason[kImagingTextChars] = {};
  // The common formats it reads, for a message ("PNG, JPEG, GIF, ..."); asked only when
  // needed, as the library may have to load every coder it has to tell. May be null.
  void (*listFormats)(void* context, char (&formats)[kImagingTextChars]) = nullptr;
};

// The library under its usual name, loaded, bound and started on the first call and kept
// until the process ends; later calls return the same record.
const ImagingApi& LoadImagingLibrary();

// Loads, binds and starts the library from the given file name; the record says whether
// that worked. A library that loads but lacks an entry point stays loaded. Every call makes
// a binding of its own: records from earlier calls keep working whatever later calls find.
ImagingApi LoadImagingLibraryFrom(const char* libraryName);

}  // namespace quillet
