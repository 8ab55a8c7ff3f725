// PNG decoding and reading through mostel's reader; encoding as either program writes, and writing
// through the checked writer.

#include <cstdlib>
#include <cstring>
#include <memory>

#include "internal.h"
#include "pixeltools/output_file.h"
#include "pixeltools/png_door.h"
#include "png_input.h"

namespace pxt {
namespace {

// The reader's limits from the caller's: pixels whose 4-byte rows fit max_output_bytes, from no
// more than max_file_bytes.
mostel::InputLimits ReaderLimits(const pxt_limits& limits) {
  mostel::InputLimits reader;
  reader.maxPixels = limits.max_output_bytes / 4;
  // One byte past the limit tells a longer file: the limit leaves room for it.
  reader.maxFileBytes = static_cast<std::size_t>(
      limits.max_file_bytes < SIZE_MAX - 1 ? limits.max_file_bytes : SIZE_MAX - 1);
  return reader;
}

pxt_status CodeOf(const mostel::DecodedInput& input) {
  switch (input.failure) {
    case mostel::InputFailure::kNone: return PXT_OK;
    case mostel::InputFailure::kUnreadable: return PXT_ERROR_READ;
    case mostel::InputFailure::kNotPng: return PXT_ERROR_NOT_PNG;
    case mostel::InputFailure::kFileTooLong:
    case mostel::InputFailure::kTooLarge: return PXT_ERROR_TOO_LARGE;
    case mostel::InputFailure::kOutOfMemory: return PXT_ERROR_OUT_OF_MEMORY;
    case mostel::InputFailure::kNoSize:
    case mostel::InputFailure::kUndecodable: return PXT_ERROR_DECODE;
  }
  return PXT_ERROR_DECODE;
}

// Hands the decoded picture over to image, or fills error with the reader's reason and the
// size its header gave.
pxt_status Finish(mostel::DecodedInput& input, pxt_image* image, pxt_error* error) {
  const pxt_status code = CodeOf(input);
  if (code != PXT_OK) {
    FailSystem(error, code, input.systemError, "%s", input.reason.c_str());
    if (error) {
      error->width = input.width;
      error->height = input.height;
    }
    return code;
  }
  image->width = input.width;
  image->height = input.height;
  image->stride = std::size_t{4} * input.width;
  image->pixels = input.pixels;  // malloc'd by the decoder
  input.pixels = nullptr;
  return Succeed(error);
}

struct Freed {
  void operator()(unsigned char* bytes) const { std::free(bytes); }
};
using Bytes = std::unique_ptr<unsigned char, Freed>;

// The image's rows one after the other: its own pixels when they already are, else a copy.
pxt_status Packed(const pxt_image& image, const unsigned char*& rows, Bytes& copy, pxt_error* error) {
  const std::size_t row = std::size_t{4} * image.width;
  if (image.stride == row) {
    rows = image.pixels;
    return PXT_OK;
  }
  copy.reset(static_cast<unsigned char*>(std::malloc(row * image.height)));
  if (!copy) return Fail(error, PXT_ERROR_OUT_OF_MEMORY, "memory ran out");
  for (uint32_t y = 0; y < image.height; ++y) std::memcpy(copy.get() + y * row, image.pixels + y * image.stride, row);
  rows = copy.get();
  return PXT_OK;
}

// The PNG of an image at the settings of LodePNG's 32-bit call, which picks the smallest
// colour type that holds every pixel.
pxt_status Encode(const pxt_image& image, pxt_png_encoding encoding, Bytes& png, std::size_t& size,
                  pxt_error* error) {
  const unsigned char* rows = nullptr;
  Bytes copy;
  if (const pxt_status packed = Packed(image, rows, copy, error); packed != PXT_OK) return packed;
  unsigned char* encoded = nullptr;
  size = 0;
  const unsigned failure =
      pixeltools::EncodePng(rows, image.width, image.height, encoding == PXT_PNG_RGBA8, &encoded, &size);
  png.reset(encoded);
  if (failure == pixeltools::kPngOutOfMemory) return Fail(error, PXT_ERROR_OUT_OF_MEMORY, "memory ran out");
  if (failure != 0) return Fail(error, PXT_ERROR_ENCODE, "%s", pixeltools::PngErrorText(failure));
  return PXT_OK;
}

}  // namespace
}  // namespace pxt

extern "C" {

pxt_status pxt_png_decode(const void* bytes, size_t size, const pxt_limits* limits, pxt_image* image,
                          pxt_error* error) {
  if (!image) return pxt::Fail(error, PXT_ERROR_ARGUMENT, "no image record was given");
  *image = pxt_image{};
  if (!bytes && size > 0) return pxt::Fail(error, PXT_ERROR_ARGUMENT, "no bytes were given");
  const pxt_limits in = pxt::LimitsOr(limits);
  return pxt::Guarded(error, [&] {
    if (size > in.max_file_bytes)
      return pxt::Fail(error, PXT_ERROR_TOO_LARGE, "the file is larger than %llu bytes",
                       static_cast<unsigned long long>(in.max_file_bytes));
    mostel::DecodedInput input;
    mostel::DecodePngBytes(static_cast<const unsigned char*>(bytes), size, input, pxt::ReaderLimits(in));
    return pxt::Finish(input, image, error);
  });
}

pxt_status pxt_png_read_file(const char* path, const pxt_limits* limits, pxt_image* image, pxt_error* error) {
  if (!image) return pxt::Fail(error, PXT_ERROR_ARGUMENT, "no image record was given");
  *image = pxt_image{};
  if (!path) return pxt::Fail(error, PXT_ERROR_ARGUMENT, "no file name was given");
  const pxt_limits in = pxt::LimitsOr(limits);
  return pxt::Guarded(error, [&] {
    mostel::DecodedInput input;
    mostel::DecodePngFile(path, input, pxt::ReaderLimits(in));
    return pxt::Finish(input, image, error);
  });
}

pxt_status pxt_png_encode(const pxt_image* image, pxt_png_encoding encoding, unsigned char** bytes, size_t* size,
                          pxt_error* error) {
  if (bytes) *bytes = nullptr;
  if (size) *size = 0;
  if (!bytes || !size) return pxt::Fail(error, PXT_ERROR_ARGUMENT, "no place for the bytes was given");
  if (!pxt::CheckImage(image, "image", error)) return PXT_ERROR_ARGUMENT;
  return pxt::Guarded(error, [&] {
    pxt::Bytes png;
    std::size_t encoded = 0;
    if (const pxt_status status = pxt::Encode(*image, encoding, png, encoded, error); status != PXT_OK) return status;
    *bytes = png.release();
    *size = encoded;
    return pxt::Succeed(error);
  });
}

pxt_status pxt_png_write_file(const char* path, const pxt_image* image, pxt_png_encoding encoding, pxt_error* error) {
  if (!path) return pxt::Fail(error, PXT_ERROR_ARGUMENT, "no file name was given");
  if (!pxt::CheckImage(image, "image", error)) return PXT_ERROR_ARGUMENT;
  return pxt::Guarded(error, [&] {
    pxt::Bytes png;
    std::size_t size = 0;
    if (const pxt_status status = pxt::Encode(*image, encoding, png, size, error); status != PXT_OK) return status;
    pixeltools::WriteFailure failure;
    if (!pixeltools::WriteOutputFile(path, png.get(), size, &failure))
      return pxt::FailSystem(error, PXT_ERROR_WRITE, failure.systemError, "%s", failure.reason);
    return pxt::Succeed(error);
  });
}

}  // extern "C"
