// RGBA frames of a job (RunQuilletJob): the input read with its alpha and turned through
// stand-in colours without a temporary file; PNG files in and out. Also the import that lays a
// transparent input over a background for BMP frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "quillet/app_state.h"
#include "quillet/render.h"
#include "quillet/pipeline.h"
#include "quillet/sprite.h"

namespace quillet {

// Reads a PNG file as 8-bit RGBA; false when the file is not a PNG, does not decode, or its
// picture would be too big to enlarge eight times within kMaxPixelBlockBytes.
bool ReadPngFile(const char* fileName, RgbaImage& image);

// A PNG file's bytes as 8-bit RGBA, as ReadPngFile takes them; false, with report saying
// why, when they are not a PNG, do not decode, or the picture would be too big.
bool DecodePngBytes(const unsigned char* data, std::size_t size, RgbaImage& image, InputReport& report);

// Encodes the picture as an 8-bit RGBA PNG in memory and writes it whole under fileName
// (beside it first, then renamed into place); false when nothing was written.
bool WritePngFile(const char* fileName, const RgbaImage& image);

// Brings an image file into the working bitmap for BMP frames: a PNG with transparency is
// laid over background (packed as PackColour reads it); any other file goes to inner.
struct CompositingImport {
  ImageImporter inner;
  std::uint32_t background = 0xFF00FF;
};
ImageImporter CompositingImporter(const CompositingImport& import);  // import must outlive it

// A sprite in memory, handed to a job in place of its input file under `name`, a name no file
// answers to: with its transparency for RGBA frames, or laid over background for 24-bit
// frames. Any other name (the enlargement's own files) is read as a BMP file. The import
// takes the sprite out of the record.
struct MemorySprite {
  RgbaImage sprite;
  std::uint32_t background = 0xFF00FF;
  const char* name = "";
};
ImageImporter MemorySpriteImporter(MemorySprite& input);  // input must outlive it

// The input as RGBA: a PNG through the PNG decoder, anything else through the importer's
// importRgba with its transparency, or else its import (whose pictures are opaque). False, with report saying why, when it could not be read or its
// eight-times enlargement would be over the limit.
bool LoadSprite(AppState& app, const ImageImporter& importer, const char* fileName, RgbaImage& sprite,
                InputReport& report);

struct FrameRequest {
  double angle = 0.0;  // degrees, positive counter-clockwise
  double scale = 1.0;  // 0 or less means 1
};

// The scale a request is made at: 0 or less means 1.
inline double EffectiveScale(double scale) { return scale > 0.0 ? scale : 1.0; }

// Turns the sprite once per request. A request at scale 1 whose angle is a whole number of
// quarter turns gives the exactly turned picture; the rest go through the eight-times
// enlargement of the sprite's stand-ins with a transparent margin. Each frame is cropped to
// its visible pixels. False when the enlargement would be too big.
bool TurnSprite(const JobProgress& progress, const RgbaImage& sprite, const std::vector<FrameRequest>& requests,
                int threads, std::vector<SpriteFrame>& frames);

// TurnSprite in steps: the stand-ins' enlargement once for all requests that need it, then
// one request at a time. Each frame tells where the pivot landed in it (PrepareTurns sets it
// to the sprite's centre; a caller may move it anywhere on the sprite before turning).
struct SpriteTurner {
  StandInMap map;
  WorkingBitmap enlarged;  // holds no image when every request is an exact quarter turn
  ScoreTable scores;       // of enlarged: built by the first turn that needs it, shared by the rest
  std::int32_t margin = 0;  // of enlarged, in pixels of the sprite
  double pivotX = 0.0, pivotY = 0.0;  // pixels of the sprite from its top-left corner
  // The frames are placed by where the pivot lands (a sprite set's frames): each is sampled at
  // the best phase that lands the pivot near a point of the pixel grid.
  bool placeByPivot = false;
};
bool PrepareTurns(const RgbaImage& sprite, const std::vector<FrameRequest>& requests, SpriteTurner& turner);
bool TurnOnce(const JobProgress& progress, const RgbaImage& sprite, SpriteTurner& turner, const FrameRequest& request,
              int threads, SpriteFrame& frame);

// The number of requests of a run: one, or a series from the start to the end values; and
// request index of them, made alone. With directions, the turns over a full circle.
int RequestCount(const RunParameters& run);
FrameRequest RequestAt(const RunParameters& run, int index);

// Lays the frame over background (packed as PackColour reads it), every pixel that is not
// opaque blended as CompositeOver does, and writes it whole under fileName as a 24-bit BMP;
// false when nothing was written.
bool WriteCompositedBmpFile(const char* fileName, const RgbaImage& image, std::uint32_t background);

// Whether the job's frames are made as RGBA frames on a canvas (SinkFor's sinks take them so):
// PNG frames, and BMP frames when a background was given for them.
inline bool MadeAsSprite(const RunParameters& run) {
  return run.format == OutputFormat::kPng || run.backgroundGiven;
}

}  // namespace quillet
