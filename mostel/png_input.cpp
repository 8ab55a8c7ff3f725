#include "png_input.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "pixeltools/png_door.h"

namespace mostel {
namespace {

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

bool FitsLimit(const void* context, unsigned width, unsigned height) {
  return std::uint64_t{width} * height <= static_cast<const InputLimits*>(context)->maxPixels;
}

}  // namespace

DecodedInput::~DecodedInput() { std::free(pixels); }

void DecodePngBytes(const unsigned char* data, std::size_t size, DecodedInput& input, const InputLimits& limits) {
  pixeltools::PngPicture picture;
  pixeltools::DecodePngRgba(data, size, {FitsLimit, &limits}, picture);
  // The size counts as read once the header gave it, even when the header is then refused.
  input.width = picture.width;
  input.height = picture.height;
  switch (picture.problem) {
    case pixeltools::PngDecodeProblem::kNone:
      input.pixels = std::exchange(picture.pixels, nullptr);
      return;
    case pixeltools::PngDecodeProblem::kNotPng:
      FailEarly(input, InputFailure::kNotPng, "not a PNG file");
      return;
    case pixeltools::PngDecodeProblem::kHeader:
      input.failure = input.Pixels() == 0 ? InputFailure::kNoSize : InputFailure::kUndecodable;
      input.reason = picture.error != 0 ? pixeltools::PngErrorText(picture.error) : "the header gives no size";
      return;
    case pixeltools::PngDecodeProblem::kTooLarge:
      input.failure = InputFailure::kTooLarge;
      input.reason = "the image is " + std::to_string(input.width) + " x " + std::to_string(input.height) +
                     " pixels, over the limit of " + PixelLimitText(limits.maxPixels);
      return;
    case pixeltools::PngDecodeProblem::kUndecodable:
    case pixeltools::PngDecodeProblem::kOutOfMemory:
      input.failure = picture.problem == pixeltools::PngDecodeProblem::kOutOfMemory ? InputFailure::kOutOfMemory
                                                                                     : InputFailure::kUndecodable;
      input.reason = pixeltools::PngErrorText(picture.error);
      return;
  }
}

void DecodePngFile(const char* path, DecodedInput& input, const InputLimits& limits) {
  pixeltools::PngFileBytes file;
  pixeltools::ReadPngFileBytes(path, limits.maxFileBytes, {FitsLimit, &limits}, file);
  switch (file.problem) {
    case pixeltools::PngReadProblem::kNone:
      DecodePngBytes(file.bytes.data(), file.bytes.size(), input, limits);
      return;
    case pixeltools::PngReadProblem::kUnreadable:
      FailEarly(input, InputFailure::kUnreadable, SystemReason(file.error), file.error);
      return;
    case pixeltools::PngReadProblem::kNotPng:
      FailEarly(input, InputFailure::kNotPng, "not a PNG file");
      return;
    case pixeltools::PngReadProblem::kTooLong:
      FailEarly(input, InputFailure::kFileTooLong, TooLongReason(limits.maxFileBytes));
      return;
  }
}

}  // namespace mostel
