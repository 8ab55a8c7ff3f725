// The one entry of a quillet job: the input prepared for turning, every frame of the series
// rendered in order and handed to a frame sink, which puts it where it goes (BMP files, PNG
// files, one sheet, or memory).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "quillet/app_state.h"
#include "quillet/bitmap.h"
#include "quillet/pipeline.h"
#include "quillet/progress.h"
#include "quillet/sprite.h"

namespace quillet {

// One frame as a sink receives it: a 24-bit frame, or an RGBA frame cut to its visible
// pixels with its place on the canvas that every frame of the series shares.
struct SinkFrame {
  int index = 0;              // in the series, from 0
  int count = 1;              // frames in the series
  const char* fileName = "";  // its file, or the sheet's
  OutputBitmap* bitmap = nullptr;  // the sink may write it out as it stands
  const SpriteFrame* sprite = nullptr;
  std::int32_t canvasWidth = 0, canvasHeight = 0;
  std::pair<std::int64_t, std::int64_t> origin;  // where the sprite's top-left corner lies on the canvas
  // Its place in a sprite set: cell of the input and direction (both 0 in a plain series).
  int cell = 0, cells = 1, direction = 0, directions = 1;
  double angle = 0.0;             // degrees, counter-clockwise
  double pivotX = 0.0, pivotY = 0.0;  // where the pivot lies on the canvas, pixels from its top-left
};

// Asked by a job, when set, once it knows every file it will write (SinkOutputNames) and
// before it writes the first: false and the job writes none of them, its result saying
// outputsRefused; the caller that refused says why.
struct OutputClaim {
  bool (*claim)(void* context, const std::vector<std::string>& names) = nullptr;
  void* context = nullptr;
};

// Where a job's frames go. frame is called once per frame, in order, and false stops the
// series there (LastOutputFailure telling why); finish, when set, follows the last frame and
// is what writes a sheet.
struct FrameSink {
  const char* extension = "bmp";  // of the output's names, without the dot
  // Takes RGBA frames on the series' canvas: the input is turned with its transparency
  // through stand-in colours in memory. Otherwise 24-bit frames of the input's eight-times
  // enlargement, made through the job's temporary file.
  bool rgba = false;
  int sheetColumns = 0;  // above 0: every frame is a cell of one sheet, that many to a row
  bool (*frame)(void* context, const SinkFrame& frame) = nullptr;
  bool (*finish)(void* context, const char* fileName) = nullptr;
  // When set, follows finish: writes the data file that goes beside the output named fileName.
  bool (*data)(void* context, const char* fileName) = nullptr;
  void* context = nullptr;
  OutputClaim claim;
};

// 24-bit BMP files. With backgroundGiven the frames are turned as RGBA frames and each is laid
// over background on its canvas; otherwise a transparent input is laid over background first.
struct BmpFileOptions {
  std::uint32_t background = 0xFF00FF;
  bool backgroundGiven = false;
};
FrameSink BmpFileSink(const BmpFileOptions& options);  // options must outlive the sink

// 8-bit RGBA PNG files, each frame on the canvas.
FrameSink PngFileSink();

// Where the frames of a sheet lie: each of `directions` directions starts a row, and its
// `cells` cells run left to right, `columns` to a row. A plain series is one direction of
// as many cells as frames. Frame index lies at (column, row) = Place(index).
struct SheetGrid {
  std::int64_t cells = 1, across = 1, rowsPerDirection = 1, down = 1;
  std::pair<std::int64_t, std::int64_t> Place(std::int64_t index) const {
    const std::int64_t cell = index % cells, direction = index / cells;
    return {cell % across, direction * rowsPerDirection + cell / across};
  }
};
SheetGrid SheetGridOf(std::int64_t columns, std::int64_t cells, std::int64_t directions);
// The grid of the sheet that frame's series goes on, `columns` to a row: a set's, or a plain
// series' of frame.count cells.
SheetGrid SheetGridOf(std::int64_t columns, const SinkFrame& frame);

// One RGBA PNG sheet of the frames' cells, `columns` to a row.
struct SheetSink {
  std::int64_t columns = 1;
  std::int64_t across = 0;  // cells to a row of the sheet made
  SheetGrid grid;           // of the sheet made
  RgbaImage laidOut;
};
FrameSink SheetFileSink(SheetSink& sheet, int columns);

// The frames kept in memory, each cut to its visible pixels with its place on the canvas.
struct KeptFrame {
  RgbaImage image;
  std::int64_t left = 0, top = 0;
};
struct MemoryFrames {
  std::int32_t canvasWidth = 0, canvasHeight = 0;
  std::vector<KeptFrame> frames;
};
FrameSink MemorySink(MemoryFrames& frames);

// The sink of run's format: BMP files, PNG files, or a sheet when run asks for one.
FrameSink SinkFor(const RunParameters& run, BmpFileOptions& options, SheetSink& sheet);

// The output's name with the sink's extension (OutputFileName).
void SinkOutputName(const FrameSink& sink, const char* outputName, char (&name)[kPathChars]);

// The file frame index (from 0) of run's series goes to: the output itself for one frame or a
// sheet, else the output's name numbered (FrameFileName) with the sink's extension.
void SinkFileName(const FrameSink& sink, const RunParameters& run, int index, char (&fileName)[kFrameNameChars]);
// The same for a series of count frames (a sprite set's cells x directions).
void SinkFileName(const FrameSink& sink, const RunParameters& run, int index, int count,
                  char (&fileName)[kFrameNameChars]);

// Every file a job of run writes through sink when its series has count frames, in order:
// its one output, its sheet, or each frame, and its data file when the sink writes one.
std::vector<std::string> SinkOutputNames(const FrameSink& sink, const RunParameters& run, int count);

// Whether the job's claim, if any, lets it write its files; false notes the refusal in result.
bool ClaimedOutputs(const FrameSink& sink, const RunParameters& run, int count, JobResult& result);

// The job of app.runParameters: reads the input through importer (app.workingBitmap and
// app.importReport serve the import), renders each frame and hands it to sink in order.
// threads <= 0 uses every core; the bytes do not depend on it. The RGBA frames of a series
// are held until their canvas is known, in memory up to heldFrameBytes and past that in the
// job's temporary directory. progress's cancel is asked between steps and frames; a job
// that stops for it says so in its result.
inline constexpr std::uint64_t kHeldFrameBytes = std::uint64_t{64} << 20;
JobResult RunQuilletJob(AppState& app, const JobProgress& progress, const ImageImporter& importer,
                        const FrameSink& sink, int threads = 0, std::uint64_t heldFrameBytes = kHeldFrameBytes);

}  // namespace quillet
