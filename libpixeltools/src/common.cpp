// Status texts, limits, images and the memory the library hands out.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "internal.h"
#include "png_input.h"
#include "quillet/bitmap.h"
#include "quillet/pipeline.h"

namespace pxt {
namespace {

void Fill(pxt_error* error, pxt_status code, int systemError, const char* format, va_list arguments) {
  if (!error) return;
  error->code = code;
  error->system_error = systemError;
  error->width = 0;
  error->height = 0;
  std::vsnprintf(error->message, sizeof error->message, format, arguments);
  // One line: a newline of a system's text would end it.
  for (char* c = error->message; *c; ++c)
    if (*c == '\n' || *c == '\r') *c = ' ';
}

}  // namespace

pxt_status Fail(pxt_error* error, pxt_status code, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Fill(error, code, 0, format, arguments);
  va_end(arguments);
  return code;
}

pxt_status FailSystem(pxt_error* error, pxt_status code, int systemError, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Fill(error, code, systemError, format, arguments);
  va_end(arguments);
  return code;
}

pxt_status Succeed(pxt_error* error) {
  if (error) {
    error->code = PXT_OK;
    error->system_error = 0;
    error->width = 0;
    error->height = 0;
    error->message[0] = '\0';
  }
  return PXT_OK;
}

pxt_limits LimitsOr(const pxt_limits* limits) {
  if (limits) return *limits;
  pxt_limits defaults;
  pxt_limits_default(&defaults);
  return defaults;
}

std::size_t ImageBytes(std::uint64_t width, std::uint64_t height) {
  if (width == 0 || height == 0 || width > SIZE_MAX / 4 / height) return 0;
  return static_cast<std::size_t>(width * height * 4);
}

bool CheckImage(const pxt_image* image, const char* what, pxt_error* error) {
  if (!image) {
    Fail(error, PXT_ERROR_ARGUMENT, "no %s was given", what);
    return false;
  }
  if (!image->pixels || image->width == 0 || image->height == 0) {
    Fail(error, PXT_ERROR_ARGUMENT, "the %s has no pixels (%u x %u)", what, image->width, image->height);
    return false;
  }
  if (image->stride / 4 < image->width ||
      (image->height > 1 && image->stride > (SIZE_MAX - std::size_t{4} * image->width) / (image->height - 1))) {
    Fail(error, PXT_ERROR_ARGUMENT, "the %s's stride of %llu bytes is too small for %u pixels or too large", what,
         static_cast<unsigned long long>(image->stride), image->width);
    return false;
  }
  return true;
}

void* Allocate(std::size_t bytes) { return std::malloc(bytes != 0 ? bytes : 1); }

}  // namespace pxt

extern "C" {

const char* pxt_status_text(pxt_status code) {
  switch (code) {
    case PXT_OK: return "success";
    case PXT_ERROR_ARGUMENT: return "bad argument";
    case PXT_ERROR_READ: return "could not read the file";
    case PXT_ERROR_NOT_PNG: return "not a PNG file";
    case PXT_ERROR_DECODE: return "could not decode the PNG";
    case PXT_ERROR_TOO_LARGE: return "over a size limit";
    case PXT_ERROR_TOO_MANY_COLOURS: return "too many colours";
    case PXT_ERROR_OUT_OF_MEMORY: return "out of memory";
    case PXT_ERROR_ENCODE: return "could not encode the PNG";
    case PXT_ERROR_WRITE: return "could not write the file";
    case PXT_ERROR_TEMPORARY: return "could not make or write a temporary file";
    case PXT_ERROR_CANCELLED: return "cancelled";
  }
  return "unknown status";
}

void pxt_limits_default(pxt_limits* limits) {
  if (!limits) return;
  limits->max_file_bytes = mostel::kMaxInputFileBytes;
  limits->max_mostel_pixels = mostel::kMaxInputPixels;
  limits->max_enlarged_bytes = quillet::MaxEnlargedBytes();
  limits->max_output_bytes = quillet::kMaxPixelBlockBytes;
}

pxt_status pxt_image_create(uint32_t width, uint32_t height, pxt_image* image, pxt_error* error) {
  if (!image) return pxt::Fail(error, PXT_ERROR_ARGUMENT, "no image record was given");
  *image = pxt_image{};
  const std::size_t bytes = pxt::ImageBytes(width, height);
  if (width == 0 || height == 0) return pxt::Fail(error, PXT_ERROR_ARGUMENT, "an image of %u x %u pixels has none", width, height);
  if (bytes == 0) return pxt::Fail(error, PXT_ERROR_TOO_LARGE, "an image of %u x %u pixels does not fit in memory", width, height);
  void* pixels = std::calloc(bytes, 1);
  if (!pixels) return pxt::Fail(error, PXT_ERROR_OUT_OF_MEMORY, "memory ran out for an image of %u x %u pixels", width, height);
  image->width = width;
  image->height = height;
  image->stride = std::size_t{4} * width;
  image->pixels = static_cast<unsigned char*>(pixels);
  return pxt::Succeed(error);
}

void pxt_image_free(pxt_image* image) {
  if (!image) return;
  std::free(image->pixels);
  *image = pxt_image{};
}

void pxt_free(void* bytes) { std::free(bytes); }

}  // extern "C"
