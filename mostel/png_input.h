// Reading mostel's input: the file is read with a bound, its PNG header is checked against
// the pixel limit before anything is decoded, and every failure keeps its real cause.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mostel {

// Largest picture mostel takes, in pixels (8192 x 8192); its 3x output needs 36 bytes each.
inline constexpr std::uint64_t kMaxInputPixels = std::uint64_t{8192} * 8192;

// Largest input file read: room for any PNG of kMaxInputPixels, even stored uncompressed.
inline constexpr std::size_t kMaxInputFileBytes = std::size_t{1} << 30;

// What is read at most: a picture of no more than maxPixels, from no more than maxFileBytes.
struct InputLimits {
  std::uint64_t maxPixels = kMaxInputPixels;
  std::size_t maxFileBytes = kMaxInputFileBytes;
};

enum class InputFailure {
  kNone,
  kNoSize,       // failed before the header gave a size: a bad header
  kUnreadable,   // the file could not be opened or read (systemError tells why)
  kNotPng,       // the first bytes are not a PNG signature
  kFileTooLong,  // the file is over maxFileBytes
  kTooLarge,     // the header's size is over kMaxInputPixels
  kUndecodable,  // the decoder failed after the header gave a size
  kOutOfMemory,  // memory ran out while decoding
};

struct DecodedInput {
  DecodedInput() = default;
  DecodedInput(const DecodedInput&) = delete;
  DecodedInput& operator=(const DecodedInput&) = delete;
  ~DecodedInput();

  unsigned char* pixels = nullptr;  // RGBA, 8 bits a channel; released with free
  unsigned width = 0, height = 0;   // from the header as soon as it was read
  InputFailure failure = InputFailure::kNone;
  std::string reason;               // the cause of a failure, for a message
  int systemError = 0;              // errno behind kUnreadable
  std::uint64_t Pixels() const { return std::uint64_t{width} * height; }
};

// Decodes a PNG file image held in memory into input, which must be fresh.
void DecodePngBytes(const unsigned char* data, std::size_t size, DecodedInput& input,
                    const InputLimits& limits = InputLimits{});

// Reads and decodes the file; a file that does not start as a PNG, or whose header chunk is
// refused, is not read further.
void DecodePngFile(const char* path, DecodedInput& input, const InputLimits& limits = InputLimits{});

}  // namespace mostel
