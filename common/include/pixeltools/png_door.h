// The way into and out of PNG for both programs: a file read with a bound, its signature and
// header chunk inspected and the picture's size checked against the caller's limit before
// anything is decoded; pictures encoded in memory for the checked writer.
#pragma once

#include <cstddef>
#include <vector>

namespace pixeltools {

inline constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// The signature and the header chunk that must follow it.
inline constexpr std::size_t kPngHeaderBytes = 33;

// The caller's limit: whether it takes a picture of that size; context is the caller's own.
struct PngSizeCheck {
  bool (*fits)(const void* context, unsigned width, unsigned height) = nullptr;
  const void* context = nullptr;
  bool operator()(unsigned width, unsigned height) const { return fits(context, width, height); }
};

// Whether the bytes hold a header that decoding goes past: one that can be read, of a size
// that is not 0 and that fits takes.
bool PngHeaderUsable(const unsigned char* data, std::size_t size, PngSizeCheck fits);

enum class PngReadProblem {
  kNone,
  kUnreadable,  // the file could not be opened or read; error holds errno
  kNotPng,      // it does not start with the PNG signature
  kTooLong,     // it holds more than the bound
};

struct PngFileBytes {
  std::vector<unsigned char> bytes;
  PngReadProblem problem = PngReadProblem::kNone;
  int error = 0;
};

// Reads the file, of at most maxBytes. A file that does not start as a PNG is not read on;
// nor is one whose header is not usable (PngHeaderUsable): its bytes are then the signature
// and the header alone, which decode to the answer the whole file would get, and only a
// file over the bound is refused as such first, as when read whole.
void ReadPngFileBytes(const char* path, std::size_t maxBytes, PngSizeCheck fits, PngFileBytes& out);

enum class PngDecodeProblem {
  kNone,
  kNotPng,       // no PNG signature
  kHeader,       // the header could not be read, or gives no size
  kTooLarge,     // fits refused the header's size
  kUndecodable,  // the decoder failed after the header
  kOutOfMemory,  // memory ran out while decoding
};

// A decoded picture: RGBA, 8 bits a channel, width to a row.
struct PngPicture {
  PngPicture() = default;
  PngPicture(const PngPicture&) = delete;
  PngPicture& operator=(const PngPicture&) = delete;
  ~PngPicture();

  unsigned char* pixels = nullptr;  // released with free
  unsigned width = 0, height = 0;   // as the header gave them, also when it was refused
  PngDecodeProblem problem = PngDecodeProblem::kNone;
  unsigned error = 0;               // the decoder's error code, 0 when it had none
};

// Decodes a PNG file image held in memory into out, which must be fresh; its header is
// inspected and its size offered to fits before anything is decoded.
void DecodePngRgba(const unsigned char* data, std::size_t size, PngSizeCheck fits, PngPicture& out);

// The decoder's words for its error code.
const char* PngErrorText(unsigned error);

// The decoder's code for memory that ran out.
inline constexpr unsigned kPngOutOfMemory = 83;

// Encodes RGBA pixels, 8 bits a channel, as a PNG in memory (*png released with free). With
// keepRgba8 the file is always 8-bit RGBA, whatever colours the picture holds; without it
// the encoder picks the smallest colour type that holds them, as its file call does.
// Returns the encoder's error code, 0 on success.
unsigned EncodePng(const unsigned char* rgba, unsigned width, unsigned height, bool keepRgba8, unsigned char** png,
                   std::size_t* size);

}  // namespace pixeltools
