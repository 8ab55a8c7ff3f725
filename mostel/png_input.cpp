#include "png_input.h"

#include <lodepng.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace mostel {
namespace {

constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr unsigned kLodepngAllocFailed = 83;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The signature and the header chunk that must follow it.
constexpr std::size_t kHeaderBytes = 33;

std::string SystemReason(int error) { return error != 0 ? std::strerror(error) : "read error"; }

std::string TooLongReason(std::size_t limit) { return "the file is larger than " + std::to_string(limit) + " bytes"; }

// "67108864 (8192 x 8192)": a limit that is a square also gives its side.
std::string PixelLimitText(std::uint64_t limit) {
  std::string text = std::to_string(limit);
  // The root of a double is within one of the whole root, for any 64-bit limit.
  const auto root = static_cast<std::uint64_t>(std::sqrt(static_cast<double>(limit)));
  std::uint64_t side = root > 0 ? root - 1 : 0;
  while (side < (std::uint64_t{1} << 32) && (side + 1) * (side + 1) <= limit) ++side;
  if (side * side == limit) text += " (" + std::to_string(side) + " x " + std::to_string(side) + ")";
  return text;
}

// A failure before the header gave a size, with its reason.
void FailEarly(DecodedInput& input, InputFailure failure, std::string reason, int systemError = 0) {
  input.failure = failure;
  input.reason = std::move(reason);
  input.systemError = systemError;
}

// Whether the first bytes of a file hold a header that DecodePngBytes goes past: one that can
// be read, with a size that is not 0 and not over the limit.
bool HeaderUsable(const unsigned char* data, std::size_t size, std::uint64_t maxPixels) {
  unsigned width = 0, height = 0;
  LodePNGState state;
  lodepng_state_init(&state);
  const unsigned error = lodepng_inspect(&width, &height, &state, data, size);
  lodepng_state_cleanup(&state);
  return error == 0 && width != 0 && height != 0 && std::uint64_t{width} * height <= maxPixels;
}

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

}  // namespace

DecodedInput::~DecodedInput() { std::free(pixels); }

void DecodePngBytes(const unsigned char* data, std::size_t size, DecodedInput& input, const InputLimits& limits) {
  if (size < sizeof kSignature || std::memcmp(data, kSignature, sizeof kSignature) != 0) {
    FailEarly(input, InputFailure::kNotPng, "not a PNG file");
    return;
  }
  LodePNGState state;
  lodepng_state_init(&state);
  unsigned error = lodepng_inspect(&input.width, &input.height, &state, data, size);
  lodepng_state_cleanup(&state);
  // The size counts as read once the header gave it, even when the header is then refused.
  if (error != 0 || input.width == 0 || input.height == 0) {
    input.failure = input.Pixels() == 0 ? InputFailure::kNoSize : InputFailure::kUndecodable;
    input.reason = error != 0 ? lodepng_error_text(error) : "the header gives no size";
    return;
  }
  if (input.Pixels() > limits.maxPixels) {
    input.failure = InputFailure::kTooLarge;
    input.reason = "the image is " + std::to_string(input.width) + " x " + std::to_string(input.height) +
                   " pixels, over the limit of " + PixelLimitText(limits.maxPixels);
    return;
  }
  unsigned width = 0, height = 0;
  error = lodepng_decode32(&input.pixels, &width, &height, data, size);
  if (error != 0) {
    std::free(input.pixels);
    input.pixels = nullptr;
    input.failure = error == kLodepngAllocFailed ? InputFailure::kOutOfMemory : InputFailure::kUndecodable;
    input.reason = lodepng_error_text(error);
  }
}

void DecodePngFile(const char* path, DecodedInput& input, const InputLimits& limits) {
  const std::size_t maxBytes = limits.maxFileBytes;
  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
  if (!file) {
    FailEarly(input, InputFailure::kUnreadable, SystemReason(errno), errno);
    return;
  }
  // The signature first: anything else is not read on.
  std::vector<unsigned char> bytes(kHeaderBytes);
  std::size_t used = std::fread(bytes.data(), 1, bytes.size(), file.get());
  if (std::ferror(file.get())) {
    FailEarly(input, InputFailure::kUnreadable, SystemReason(errno), errno);
    return;
  }
  if (used < sizeof kSignature || std::memcmp(bytes.data(), kSignature, sizeof kSignature) != 0) {
    FailEarly(input, InputFailure::kNotPng, "not a PNG file");
    return;
  }
  // Then the header chunk: a file whose header is refused is not read on either. Its outcome
  // is the one the whole file would get, as the header is all the check reads; only a file
  // over the size limit is refused as such first, as it would be when read whole.
  if (!HeaderUsable(bytes.data(), used, limits.maxPixels)) {
    bool readError = false;
    if (LongerThan(file.get(), used, maxBytes, readError)) {
      FailEarly(input, InputFailure::kFileTooLong, TooLongReason(maxBytes));
      return;
    }
    if (readError) {
      FailEarly(input, InputFailure::kUnreadable, SystemReason(errno), errno);
      return;
    }
    DecodePngBytes(bytes.data(), used, input, limits);
    return;
  }
  for (std::size_t chunk = std::size_t{1} << 16;; chunk = std::min(chunk * 2, std::size_t{1} << 26)) {
    // One byte past the limit tells a file over it.
    const std::size_t want = std::min(chunk, maxBytes + 1 - used);
    bytes.resize(used + want);
    const std::size_t got = std::fread(bytes.data() + used, 1, want, file.get());
    used += got;
    if (used > maxBytes) {
      FailEarly(input, InputFailure::kFileTooLong, TooLongReason(maxBytes));
      return;
    }
    if (got < want) break;
  }
  if (std::ferror(file.get())) {
    FailEarly(input, InputFailure::kUnreadable, SystemReason(errno), errno);
    return;
  }
  DecodePngBytes(bytes.data(), used, input, limits);
}

}  // namespace mostel
