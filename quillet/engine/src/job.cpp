#include "quillet/job.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "job_internal.h"
#include "quillet/sheet_data.h"
#include "quillet/sprite_job.h"

namespace quillet {

namespace {

RgbaImage CellOf(const SinkFrame& frame) {
  return OnCanvasAt(*frame.sprite, frame.canvasWidth, frame.canvasHeight, frame.origin);
}

bool WriteBmpFrame(void* context, const SinkFrame& frame) {
  const BmpFileOptions& options = *static_cast<const BmpFileOptions*>(context);
  if (frame.bitmap) return WriteBitmapFile(frame.fileName, *frame.bitmap);
  return frame.sprite && WriteCompositedBmpFile(frame.fileName, CellOf(frame), options.background);
}

bool WritePngFrame(void*, const SinkFrame& frame) {
  return frame.sprite && WritePngFile(frame.fileName, CellOf(frame));
}

// Cells in rows of `across` (the columns, or fewer when the series has fewer frames), in
// order; the sheet is made with the first.
bool PlaceCell(void* context, const SinkFrame& frame) {
  SheetSink& sheet = *static_cast<SheetSink*>(context);
  if (!frame.sprite) return false;
  const std::int64_t width = frame.canvasWidth, height = frame.canvasHeight;
  if (sheet.laidOut.pixels.empty()) {
    // A set lays each direction out from a new row; a plain series is one direction.
    sheet.grid = SheetGridOf(sheet.columns, frame);
    sheet.across = sheet.grid.across;
    sheet.laidOut = BlankImage(static_cast<std::int32_t>(sheet.grid.across * width),
                               static_cast<std::int32_t>(sheet.grid.down * height));
  }
  const RgbaImage cell = CellOf(frame);
  const auto [column, row] = sheet.grid.Place(frame.index);
  const std::int64_t x0 = column * width, y0 = row * height;
  for (std::int64_t y = 0; y < height; ++y)
    std::memcpy(&sheet.laidOut.pixels[static_cast<std::size_t>((y0 + y) * sheet.laidOut.width + x0)],
                &cell.pixels[static_cast<std::size_t>(y * width)], static_cast<std::size_t>(width) * sizeof(Rgba));
  return true;
}

bool WriteSheet(void* context, const char* fileName) {
  return WritePngFile(fileName, static_cast<SheetSink*>(context)->laidOut);
}

bool KeepFrame(void* context, const SinkFrame& frame) {
  MemoryFrames& kept = *static_cast<MemoryFrames*>(context);
  if (!frame.sprite) return false;
  kept.canvasWidth = frame.canvasWidth;
  kept.canvasHeight = frame.canvasHeight;
  kept.frames.push_back(KeptFrame{frame.sprite->image, frame.origin.first, frame.origin.second});
  return true;
}

}  // namespace

FrameSink BmpFileSink(const BmpFileOptions& options) {
  FrameSink sink;
  sink.extension = "bmp";
  sink.rgba = options.backgroundGiven;
  sink.frame = WriteBmpFrame;
  sink.context = const_cast<BmpFileOptions*>(&options);
  return sink;
}

FrameSink PngFileSink() {
  FrameSink sink;
  sink.extension = "png";
  sink.rgba = true;
  sink.frame = WritePngFrame;
  return sink;
}

FrameSink SheetFileSink(SheetSink& sheet, int columns) {
  sheet = SheetSink{};
  sheet.columns = columns;
  FrameSink sink;
  sink.extension = "png";
  sink.rgba = true;
  sink.sheetColumns = columns;
  sink.frame = PlaceCell;
  sink.finish = WriteSheet;
  sink.context = &sheet;
  return sink;
}

FrameSink MemorySink(MemoryFrames& frames) {
  frames = MemoryFrames{};
  FrameSink sink;
  sink.extension = "png";
  sink.rgba = true;
  sink.frame = KeepFrame;
  sink.context = &frames;
  return sink;
}

FrameSink SinkFor(const RunParameters& run, BmpFileOptions& options, SheetSink& sheet) {
  if (run.format == OutputFormat::kPng) return run.sheetColumns > 0 ? SheetFileSink(sheet, run.sheetColumns) : PngFileSink();
  options.background = run.background;
  options.backgroundGiven = run.backgroundGiven;
  return BmpFileSink(options);
}

void SinkOutputName(const FrameSink& sink, const char* outputName, char (&name)[kPathChars]) {
  OutputFileName(outputName, name, sink.extension);
}

SheetGrid SheetGridOf(std::int64_t columns, const SinkFrame& frame) {
  const bool set = frame.cells > 1 || frame.directions > 1;
  return set ? SheetGridOf(columns, frame.cells, frame.directions) : SheetGridOf(columns, frame.count, 1);
}

SheetGrid SheetGridOf(std::int64_t columns, std::int64_t cells, std::int64_t directions) {
  SheetGrid grid;
  grid.cells = std::max<std::int64_t>(cells, 1);
  grid.across = std::max<std::int64_t>(std::min(columns, grid.cells), 1);
  grid.rowsPerDirection = (grid.cells + grid.across - 1) / grid.across;
  grid.down = std::max<std::int64_t>(directions, 1) * grid.rowsPerDirection;
  return grid;
}

void SinkFileName(const FrameSink& sink, const RunParameters& run, int index, int count,
                  char (&fileName)[kFrameNameChars]) {
  char name[kPathChars];
  SinkOutputName(sink, run.outputName, name);
  if (count > 1 && sink.sheetColumns <= 0) FrameFileName(name, count, index, fileName, sink.extension);
  else std::snprintf(fileName, sizeof fileName, "%s", name);
}

void SinkFileName(const FrameSink& sink, const RunParameters& run, int index, char (&fileName)[kFrameNameChars]) {
  SinkFileName(sink, run, index, run.directions > 0 ? run.directions : run.frameCount, fileName);
}

std::vector<std::string> SinkOutputNames(const FrameSink& sink, const RunParameters& run, int count) {
  const int files = count > 1 && sink.sheetColumns <= 0 ? count : 1;
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(files) + 1);
  char name[kFrameNameChars];
  for (int index = 0; index < files; ++index) {
    SinkFileName(sink, run, index, count, name);
    names.emplace_back(name);
  }
  if (sink.data) {
    char output[kPathChars];
    SinkOutputName(sink, run.outputName, output);
    names.push_back(DataFileName(output, run.data));
  }
  return names;
}

bool ClaimedOutputs(const FrameSink& sink, const RunParameters& run, int count, JobResult& result) {
  if (!sink.claim.claim || sink.claim.claim(sink.claim.context, SinkOutputNames(sink, run, count))) return true;
  result.outputsRefused = true;
  return false;
}

JobResult RunQuilletJob(AppState& app, const JobProgress& progress, const ImageImporter& importer,
                        const FrameSink& sink, int threads, std::uint64_t heldFrameBytes) {
  if (sink.rgba) return RunSpriteJob(app, progress, importer, sink, threads, heldFrameBytes);
  return RunEnlargedJob(app, progress, importer, sink, threads);
}

}  // namespace quillet
