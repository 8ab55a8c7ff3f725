// The PNG mode of a job: the input read with its alpha, turned through stand-in colours
// without a temporary file, and written as RGBA PNG frames on one canvas or as one sprite
// sheet. Also the import that lays a transparent input over a background for BMP frames.
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

// Encodes the picture as an 8-bit RGBA PNG in memory and writes it whole under fileName
// (beside it first, then renamed into place); false when nothing was written.
bool WritePngFile(const char* fileName, const RgbaImage& image);

// The output name with ".png" appended unless it ends in ".png" in any ASCII case; nothing
// is appended when the result would not fit kPathChars.
void PngOutputFileName(const char* outputName, char (&name)[kPathChars]);

// The name of frame index (from 0) of a series of frameCount PNG files: the suffix
// "_%d.png" (width by the frame count) replaces the last '.' and what follows it.
void PngFrameFileName(const char* name, int frameCount, int index, char (&frameName)[kFrameNameChars]);

// Brings an image file into the working bitmap for BMP frames: a PNG with transparency is
// laid over background (packed as PackColour reads it); any other file goes to inner.
struct CompositingImport {
  ImageImporter inner;
  std::uint32_t background = 0xFF00FF;
};
ImageImporter CompositingImporter(const CompositingImport& import);  // import must outlive it

// The input as RGBA: a PNG through the PNG decoder, anything else through the importer's
// importRgba with its transparency, or else its import (whose pictures are opaque). False, with report saying why, when it could not be read or its
// eight-times enlargement would be over the limit.
bool LoadSprite(AppState& app, const ImageImporter& importer, const char* fileName, RgbaImage& sprite,
                InputReport& report);

struct FrameRequest {
  double angle = 0.0;  // degrees, positive counter-clockwise
  double scale = 1.0;  // 0 or less means 1
};

// Turns the sprite once per request. A request at scale 1 whose angle is a whole number of
// quarter turns gives the exactly turned picture; the rest go through the eight-times
// enlargement of the sprite's stand-ins with a transparent margin. Each frame is cropped to
// its visible pixels. False when the enlargement would be too big.
bool TurnSprite(const AppState& app, const RgbaImage& sprite, const std::vector<FrameRequest>& requests,
                int threads, std::vector<SpriteFrame>& frames);

// TurnSprite in steps: the stand-ins' enlargement once for all requests that need it, then
// one request at a time.
struct SpriteTurner {
  ProxyMap map;
  WorkingBitmap enlarged;  // holds no image when every request is an exact quarter turn
  ScoreTable scores;       // of enlarged: built by the first turn that needs it, shared by the rest
};
bool PrepareTurns(const RgbaImage& sprite, const std::vector<FrameRequest>& requests, SpriteTurner& turner);
bool TurnOnce(const AppState& app, const RgbaImage& sprite, SpriteTurner& turner, const FrameRequest& request,
              int threads, SpriteFrame& frame);

// The requests of app.runParameters: one, or a series from the start to the end values.
std::vector<FrameRequest> FrameRequests(const RunParameters& run);

// The whole PNG-mode job of app.runParameters: every frame on the series' canvas, written as
// separate files or, with a sheet column count, as one sheet.
JobResult RunSpriteJob(AppState& app, const ImageImporter& importer, int threads = 0);

}  // namespace quillet
