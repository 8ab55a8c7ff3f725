#include "pixeltools/png_door.h"

#include <lodepng.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace pixeltools {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Whether the file, of which position bytes were read, holds more than limit bytes, found
// without keeping them: by a seek where the file allows one, else by reading on. readError is
// set when reading failed.
bool LongerThan(std::FILE* file, std::size_t position, std::size_t limit, bool& readError) {
  if (std::ftell(file) >= 0 && limit <= static_cast<std::size_t>(LONG_MAX) &&
      std::fseek(file, static_cast<long>(limit), SEEK_SET) == 0) {
    const bool more = std::fgetc(file) != EOF;
    readError = std::ferror(file) != 0;
    return more;
  }
  std::clearerr(file);
  unsigned char discard[1 << 16];
  std::size_t total = position;
  for (;;) {
    const std::size_t got = std::fread(discard, 1, sizeof discard, file);
    total += got;
    if (total > limit) return true;
    if (got < sizeof discard) break;
  }
  readError = std::ferror(file) != 0;
  return false;
}

void Refuse(PngFileBytes& out, PngReadProblem problem, int error = 0) {
  out.bytes.clear();
  out.problem = problem;
  out.error = error;
}

}  // namespace

bool PngHeaderUsable(const unsigned char* data, std::size_t size, PngSizeCheck fits) {
  unsigned width = 0, height = 0;
  LodePNGState state;
  lodepng_state_init(&state);
  const unsigned error = lodepng_inspect(&width, &height, &state, data, size);
  lodepng_state_cleanup(&state);
  return error == 0 && width != 0 && height != 0 && fits(width, height);
}

void ReadPngFileBytes(const char* path, std::size_t maxBytes, PngSizeCheck fits, PngFileBytes& out) {
  out = PngFileBytes{};
  if (!path) return Refuse(out, PngReadProblem::kUnreadable, ENOENT);
  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
  if (!file) return Refuse(out, PngReadProblem::kUnreadable, errno);
  // The signature first: anything else is not read on.
  std::vector<unsigned char>& bytes = out.bytes;
  bytes.resize(kPngHeaderBytes);
  std::size_t used = std::fread(bytes.data(), 1, bytes.size(), file.get());
  if (std::ferror(file.get())) return Refuse(out, PngReadProblem::kUnreadable, errno);
  if (used < sizeof kPngSignature || std::memcmp(bytes.data(), kPngSignature, sizeof kPngSignature) != 0)
    return Refuse(out, PngReadProblem::kNotPng);
  // Then the header chunk: a file whose header is refused is not read on either.
  if (!PngHeaderUsable(bytes.data(), used, fits)) {
    bool readError = false;
    if (LongerThan(file.get(), used, maxBytes, readError)) return Refuse(out, PngReadProblem::kTooLong);
    if (readError) return Refuse(out, PngReadProblem::kUnreadable, errno);
    bytes.resize(used);
    return;
  }
  for (std::size_t chunk = std::size_t{1} << 16;; chunk = std::min(chunk * 2, std::size_t{1} << 26)) {
    // One byte past the bound tells a file over it.
    const std::size_t want = std::min(chunk, maxBytes + 1 - used);
    bytes.resize(used + want);
    const std::size_t got = std::fread(bytes.data() + used, 1, want, file.get());
    used += got;
    if (used > maxBytes) return Refuse(out, PngReadProblem::kTooLong);
    if (got < want) break;
  }
  if (std::ferror(file.get())) return Refuse(out, PngReadProblem::kUnreadable, errno);
  bytes.resize(used);
}

PngPicture::~PngPicture() { std::free(pixels); }

void DecodePngRgba(const unsigned char* data, std::size_t size, PngSizeCheck fits, PngPicture& out) {
  if (!data || size < sizeof kPngSignature || std::memcmp(data, kPngSignature, sizeof kPngSignature) != 0) {
    out.problem = PngDecodeProblem::kNotPng;
    return;
  }
  LodePNGState state;
  lodepng_state_init(&state);
  unsigned error = lodepng_inspect(&out.width, &out.height, &state, data, size);
  lodepng_state_cleanup(&state);
  if (error != 0 || out.width == 0 || out.height == 0) {
    out.problem = PngDecodeProblem::kHeader;
    out.error = error;
    return;
  }
  if (!fits(out.width, out.height)) {
    out.problem = PngDecodeProblem::kTooLarge;
    return;
  }
  unsigned width = 0, height = 0;
  error = lodepng_decode_memory(&out.pixels, &width, &height, data, size, LCT_RGBA, 8);
  if (error != 0 || !out.pixels) {
    std::free(out.pixels);
    out.pixels = nullptr;
    out.problem = error == kPngOutOfMemory ? PngDecodeProblem::kOutOfMemory : PngDecodeProblem::kUndecodable;
    out.error = error;
  }
}

const char* PngErrorText(unsigned error) { return lodepng_error_text(error); }

unsigned EncodePng(const unsigned char* rgba, unsigned width, unsigned height, bool keepRgba8, unsigned char** png,
                   std::size_t* size) {
  *png = nullptr;
  *size = 0;
  if (!keepRgba8) return lodepng_encode32(png, size, rgba, width, height);
  LodePNGState state;
  lodepng_state_init(&state);
  state.encoder.auto_convert = 0;  // always 8-bit RGBA, whatever colours the picture holds
  state.info_raw.colortype = LCT_RGBA;
  state.info_raw.bitdepth = 8;
  state.info_png.color.colortype = LCT_RGBA;
  state.info_png.color.bitdepth = 8;
  const unsigned error = lodepng_encode(png, size, rgba, width, height, &state);
  lodepng_state_cleanup(&state);
  return error;
}

}  // namespace pixeltools
