#include "quillet/job.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "job_internal.h"
#include "quillet/sprite_job.h"

namespace quillet {

namespace {

bool IsSet(std::int64_t count, int cells, int directions) {
  return (cells > 1 || directions > 1) && std::int64_t{cells} * directions == count;
}

}  // namespace

SheetGrid SheetGridOf(std::int64_t count, int cells, int directions, std::int64_t columns) {
  SheetGrid grid;
  if (count < 1 || columns < 1) return grid;
  if (IsSet(count, cells, directions)) {
    grid.across = std::min<std::int64_t>(columns, cells);
    grid.down = directions * ((cells + grid.across - 1) / grid.across);
  } else {
    grid.across = std::min(columns, count);
    grid.down = (count + grid.across - 1) / grid.across;
  }
  return grid;
}

std::pair<std::int64_t, std::int64_t> SheetCellOf(std::int64_t index, std::int64_t count, int cells, int directions,
                                                  std::int64_t columns) {
  const SheetGrid grid = SheetGridOf(count, cells, directions, columns);
  if (!IsSet(count, cells, directions)) return {index % grid.across, index / grid.across};
  const std::int64_t direction = index / cells, cell = index % cells;
  const std::int64_t rowsEach = (cells + grid.across - 1) / grid.across;
  return {cell % grid.across, direction * rowsEach + cell / grid.across};
}

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
    const SheetGrid grid = SheetGridOf(frame.count, frame.cells, frame.directions, sheet.columns);
    sheet.across = grid.across;
    sheet.laidOut = BlankImage(static_cast<std::int32_t>(grid.across * width), static_cast<std::int32_t>(grid.down * height));
  }
  const RgbaImage cell = CellOf(frame);
  const auto [column, row] = SheetCellOf(frame.index, frame.count, frame.cells, frame.directions, sheet.columns);
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

void SinkFileName(const FrameSink& sink, const RunParameters& run, int index, char (&fileName)[kFrameNameChars]) {
  char name[kPathChars];
  SinkOutputName(sink, run.outputName, name);
  if (run.frameCount > 1 && sink.sheetColumns <= 0) FrameFileName(name, run.frameCount, index, fileName, sink.extension);
  else std::snprintf(fileName, sizeof fileName, "%s", name);
}

JobResult RunQuilletJob(AppState& app, const JobProgress& progress, const ImageImporter& importer,
                        const FrameSink& sink, int threads, std::uint64_t heldFrameBytes) {
  if (sink.rgba) return RunSpriteJob(app, progress, importer, sink, threads, heldFrameBytes);
  return RunEnlargedJob(app, progress, importer, sink, threads);
}

}  // namespace quillet
