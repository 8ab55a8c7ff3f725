#include "png_input.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "pixeltools/png_door.h"

namespace mostel {
namespace {

std::string SystemReason(int error) { return error != 0 ? std::strerror(error) : "read error"; }

std::string TooLongReason() { return "the file is larger than " + std::to_string(kMaxInputFileBytes) + " bytes"; }

bool FitsLimit(unsigned width, unsigned height) { return std::uint64_t{width} * height <= kMaxInputPixels; }

}  // namespace

DecodedInput::~DecodedInput() { std::free(pixels); }

void DecodePngBytes(const unsigned char* data, std::size_t size, DecodedInput& input) {
  pixeltools::PngPicture picture;
  pixeltools::DecodePngRgba(data, size, FitsLimit, picture);
  // The size counts as read once the header gave it, even when the header is then refused.
  input.width = picture.width;
  input.height = picture.height;
  switch (picture.problem) {
    case pixeltools::PngDecodeProblem::kNone:
      input.pixels = std::exchange(picture.pixels, nullptr);
      return;
    case pixeltools::PngDecodeProblem::kNotPng:
      input.failure = InputFailure::kNoSize;
      input.reason = "not a PNG file";
      return;
    case pixeltools::PngDecodeProblem::kHeader:
      input.failure = input.Pixels() == 0 ? InputFailure::kNoSize : InputFailure::kUndecodable;
      input.reason = picture.error != 0 ? pixeltools::PngErrorText(picture.error) : "the header gives no size";
      return;
    case pixeltools::PngDecodeProblem::kTooLarge:
      input.failure = InputFailure::kTooLarge;
      input.reason = "the image is " + std::to_string(input.width) + " x " + std::to_string(input.height) +
                     " pixels, over the limit of " + std::to_string(kMaxInputPixels) + " (8192 x 8192)";
      return;
    case pixeltools::PngDecodeProblem::kUndecodable:
    case pixeltools::PngDecodeProblem::kOutOfMemory:
      input.failure = picture.problem == pixeltools::PngDecodeProblem::kOutOfMemory ? InputFailure::kOutOfMemory
                                                                                     : InputFailure::kUndecodable;
      input.reason = pixeltools::PngErrorText(picture.error);
      return;
  }
}

void DecodePngFile(const char* path, DecodedInput& input) {
  pixeltools::PngFileBytes file;
  pixeltools::ReadPngFileBytes(path, kMaxInputFileBytes, FitsLimit, file);
  switch (file.problem) {
    case pixeltools::PngReadProblem::kNone:
      DecodePngBytes(file.bytes.data(), file.bytes.size(), input);
      return;
    case pixeltools::PngReadProblem::kUnreadable:
      input.reason = SystemReason(file.error);
      break;
    case pixeltools::PngReadProblem::kNotPng:
      input.reason = "not a PNG file";
      break;
    case pixeltools::PngReadProblem::kTooLong:
      input.reason = TooLongReason();
      break;
  }
  input.failure = InputFailure::kNoSize;
}

}  // namespace mostel
