// The platform's imaging library, loaded by name at start-up and bound at run time. It
// converts the image formats quillet does not read itself; names are 8-bit strings, and
// relative names lie in the current directory.
#pragma once

#include <cstdint>

namespace quillet {

using ImageHandle = void*;

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
};

// The library under its usual name, loaded, bound and started on the first call and kept
// until the process ends; later calls return the same record.
const ImagingApi& LoadImagingLibrary();

// Loads, binds and starts the library from the given file name; the record says whether
// that worked. A library that loads but lacks an entry point stays loaded. Every call makes
// a binding of its own: records from earlier calls keep working whatever later calls find.
ImagingApi LoadImagingLibraryFrom(const char* libraryName);

}  // namespace quillet
