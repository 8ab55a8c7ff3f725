// The data file a PNG job writes beside its sheet or frames for a game engine to load: where
// each frame lies, its pivot, its duration and the animations of the series.
//
// JSON (walk.json): the "hash" layout of texture atlases. `frames` is keyed by frame name (the
// name its file has, or would have, when the frames are written one to a file); each frame's
// `frame` is its visible box, `spriteSourceSize` where that box sits on the canvas and
// `sourceSize` the canvas; `anchor` and `pivot` both give the pivot as fractions of the canvas;
// `duration` is in milliseconds. `animations` lists the frame names of each direction (the
// series' name, or that name and the direction's angle: walk_45), and meta.frameTags gives
// the same as ranges of frame indices.
// For a sheet the boxes lie in the sheet, named by meta.image. Frames written one to a file
// are each the whole file, untrimmed; meta then names no image, and each frame's name is its
// file's name.
//
// Godot (walk.tres): a SpriteFrames resource with one animation per direction. For a sheet,
// one AtlasTexture per frame holds its box of the sheet and, as margin, the rest of its canvas,
// so that every frame keeps its place; frames written one to a file are loaded as they are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quillet/app_state.h"
#include "quillet/job.h"

namespace quillet {

struct DataFrame {
  std::string name;                        // its key: a file name without folder
  std::string file;                        // frames one to a file: that file, without folder
  std::int64_t x = 0, y = 0, w = 0, h = 0;  // the box in the sheet or file
  std::int64_t left = 0, top = 0;          // where the box's top-left lies on the canvas
  std::int32_t canvasWidth = 1, canvasHeight = 1;
  double pivotX = 0.0, pivotY = 0.0;  // on the canvas, in pixels
  int direction = 0, directions = 1;
  double angle = 0.0;
};

struct SheetData {
  DataFormat format = DataFormat::kNone;
  double fps = 10.0;
  std::string base;   // the series' name: the output's file name without folder or extension
  std::string image;  // the sheet's file name without folder; empty for frames one to a file
  std::int64_t columns = 0;  // of the sheet; 0 for frames one to a file
  std::int64_t width = 0, height = 0;  // of the sheet
  std::vector<DataFrame> frames;
  FrameSink inner;  // where the frames go
};

// The text of the data file.
std::string JsonDataText(const SheetData& data);
std::string GodotDataText(const SheetData& data);

// An animation's name: the base alone when the series has one direction, else the base and
// the direction's angle, whole or with up to two decimals (walk_45, walk_22.5).
std::string AnimationName(const std::string& base, const DataFrame& first);

// The data file's name for the output name (walk or walk.png gives walk.json).
std::string DataFileName(const char* outputName, DataFormat format);

// inner, whose frames are also noted in data; the data file is written once inner is done.
// data must outlive the sink.
FrameSink DataFileSink(SheetData& data, const FrameSink& inner, const RunParameters& run);

// The sink a job of run writes through: SinkFor's, under a DataFileSink when a PNG job asks
// for a data file. options, sheet and data must outlive it.
FrameSink JobSink(const RunParameters& run, BmpFileOptions& options, SheetSink& sheet, SheetData& data);

}  // namespace quillet
