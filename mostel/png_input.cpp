#include "png_input.h"

#include <lodepng.h>

#include <algorithm>
#include <cerrno>
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

std::string SystemReason(int error) { return error != 0 ? std::strerror(error) : "read error"; }

}  // namespace

DecodedInput::~DecodedInput() { std::free(pixels); }

void DecodePngBytes(const unsigned char* data, std::size_t size, DecodedInput& input) {
  if (size < sizeof kSignature || std::memcmp(data, kSignature, sizeof kSignature) != 0) {
    input.failure = InputFailure::kNoSize;
    input.reason = "not a PNG file";
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
  if (input.Pixels() > kMaxInputPixels) {
    input.failure = InputFailure::kTooLarge;
    input.reason = "the image is " + std::to_string(input.width) + " x " + std::to_string(input.height) +
                   " pixels, over the limit of " + std::to_string(kMaxInputPixels) + " (8192 x 8192)";
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

void DecodePngFile(const char* path, DecodedInput& input) {
  input.failure = InputFailure::kNoSize;
  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
  if (!file) {
    input.reason = SystemReason(errno);
    return;
  }
  // The signature first: anything else is not read on.
  std::vector<unsigned char> bytes(sizeof kSignature);
  std::size_t used = std::fread(bytes.data(), 1, bytes.size(), file.get());
  if (std::ferror(file.get())) {
    input.reason = SystemReason(errno);
    return;
  }
  if (used < sizeof kSignature || std::memcmp(bytes.data(), kSignature, sizeof kSignature) != 0) {
    input.reason = "not a PNG file";
    return;
  }
  for (std::size_t chunk = std::size_t{1} << 16;; chunk = std::min(chunk * 2, std::size_t{1} << 26)) {
    if (used >= kMaxInputFileBytes) {
      input.reason = "the file is larger than " + std::to_string(kMaxInputFileBytes) + " bytes";
      return;
    }
    bytes.resize(used + chunk);
    const std::size_t got = std::fread(bytes.data() + used, 1, chunk, file.get());
    used += got;
    if (got < chunk) break;
  }
  if (std::ferror(file.get())) {
    input.reason = SystemReason(errno);
    return;
  }
  input.failure = InputFailure::kNone;
  DecodePngBytes(bytes.data(), used, input);
}

}  // namespace mostel
