// quillet's turn of a caller's sprite, frames or a sheet in memory: one job of the engine
// (RunQuilletJob) whose input is the sprite in memory and whose sink keeps every frame.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "internal.h"
#include "quillet/app_state.h"
#include "quillet/bitmap.h"
#include "quillet/job.h"
#include "quillet/pipeline.h"
#include "quillet/render.h"
#include "quillet/sprite.h"
#include "quillet/sprite_job.h"

namespace pxt {
namespace {

using quillet::FrameRequest;
using quillet::RgbaImage;

using quillet::EffectiveScale;

// The job's positions, texts and cancel, passed on to the caller's progress. Each status text
// of the job starts a step: the first is the enlargement, each one after it a frame, and the
// steps share one run from 0 to 100 in which a position never goes back. The job's texts name
// files; the caller sees texts of its own instead.
struct Progress {
  const pxt_progress* caller = nullptr;
  const quillet::RunParameters* run = nullptr;
  int count = 1;        // frames of the series
  int frameShare = 90;  // of the run, the frames' steps together
  int low = 0, high = 100;
  int last = -1;
  int texts = 0;  // status texts of the job so far

  static void Position(void* context, int position) {
    Progress& progress = *static_cast<Progress*>(context);
    progress.Report(progress.low + (progress.high - progress.low) * std::clamp(position, 0, 100) / 100);
  }
  static void Status(void* context, const char*) {
    Progress& progress = *static_cast<Progress*>(context);
    if (++progress.texts == 1) {
      progress.Show("Enlarging the sprite eight times");
      progress.Step(0, 10);
      return;
    }
    const int k = progress.Frame();
    const FrameRequest request = quillet::RequestAt(*progress.run, k);
    char text[160];
    std::snprintf(text, sizeof text, "Turning frame %d of %d\n(angle %g degrees) (scale %g%%)", k + 1, progress.count,
                  request.angle, EffectiveScale(request.scale) * 100.0);
    progress.Show(text);
    const std::int64_t share = progress.frameShare;
    progress.Step(static_cast<int>(10 + share * k / progress.count), static_cast<int>(10 + share * (k + 1) / progress.count));
  }
  static bool Cancel(void* context) { return static_cast<const Progress*>(context)->Cancelled(); }

  // The frame (from 0) the job is at: the last one whose text was shown.
  int Frame() const { return std::max(texts - 2, 0); }
  void Report(int position) {
    if (position <= last) return;
    last = position;
    if (caller && caller->position) caller->position(caller->context, position);
  }
  void Step(int from, int to) {
    low = from;
    high = to;
    Report(from);
  }
  void Show(const char* text) const {
    if (caller && caller->status) caller->status(caller->context, text);
  }
  bool Cancelled() const { return caller && caller->cancel && caller->cancel(caller->context) != 0; }
  quillet::JobProgress Job() { return {Position, Status, Cancel, this}; }
};

// "1024 MiB", or the bytes of a limit that is no whole number of MiB.
struct LimitText {
  char text[48];
  explicit LimitText(std::uint64_t bytes) {
    if (bytes % (std::uint64_t{1} << 20) == 0)
      std::snprintf(text, sizeof text, "%llu MiB", static_cast<unsigned long long>(bytes >> 20));
    else
      std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  }
};

pxt_status EnlargementTooLarge(pxt_error* error, std::int64_t width, std::int64_t height, std::uint64_t limit) {
  const double enlarged = static_cast<double>(quillet::Stride24(8 * width)) * 8.0 * static_cast<double>(height);
  return Fail(error, PXT_ERROR_TOO_LARGE,
              "the sprite is %lld x %lld pixels, too large: its eight-times enlargement would need %.0f MiB, over "
              "the limit of %s",
              static_cast<long long>(width), static_cast<long long>(height), std::ceil(enlarged / 1048576.0),
              LimitText(limit).text);
}

pxt_status FrameTooLarge(pxt_error* error, double width, double height, std::uint64_t limit) {
  return Fail(error, PXT_ERROR_TOO_LARGE, "the output would be %.0f x %.0f pixels, over the limit of %s of 24-bit rows",
              width, height, LimitText(limit).text);
}

pxt_status OutOfMemory(pxt_error* error) { return Fail(error, PXT_ERROR_OUT_OF_MEMORY, "memory ran out"); }

pxt_status Cancelled(pxt_error* error) { return Fail(error, PXT_ERROR_CANCELLED, "the turn was cancelled"); }

bool Fits4(std::int64_t width, std::int64_t height, std::uint64_t limit) {
  return width > 0 && height > 0 && width <= INT32_MAX && height <= INT32_MAX &&
         static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 4 <= limit;
}

RgbaImage SpriteOf(const pxt_image& image) {
  RgbaImage sprite = quillet::BlankImage(static_cast<std::int32_t>(image.width), static_cast<std::int32_t>(image.height));
  for (std::uint32_t y = 0; y < image.height; ++y) {
    const unsigned char* p = image.pixels + y * image.stride;
    for (std::uint32_t x = 0; x < image.width; ++x, p += 4) sprite.At(x, y) = quillet::PackRgba(p[0], p[1], p[2], p[3]);
  }
  return sprite;
}

// A library-owned copy of a picture; false when memory ran out.
bool Hand(const RgbaImage& picture, pxt_image& image) {
  const std::size_t bytes = ImageBytes(static_cast<std::uint64_t>(picture.width), static_cast<std::uint64_t>(picture.height));
  auto* pixels = static_cast<unsigned char*>(bytes != 0 ? Allocate(bytes) : nullptr);
  if (!pixels) return false;
  unsigned char* p = pixels;
  for (const quillet::Rgba v : picture.pixels) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
    p += 4;
  }
  image.width = static_cast<std::uint32_t>(picture.width);
  image.height = static_cast<std::uint32_t>(picture.height);
  image.stride = std::size_t{4} * image.width;
  image.pixels = pixels;
  return true;
}

// Everything a result is given, released on every way out but success.
struct Owned {
  pxt_turn_result* result;
  bool kept = false;
  ~Owned() {
    if (!kept) pxt_turn_result_free(result);
  }
};

bool StartResult(pxt_turn_result& result, std::size_t count, bool sheet) {
  result.frame_count = count;
  result.places = static_cast<pxt_frame_place*>(std::calloc(count, sizeof(pxt_frame_place)));
  if (!sheet) result.frames = static_cast<pxt_image*>(std::calloc(count, sizeof(pxt_image)));
  return result.places && (sheet || result.frames);
}

// The job's parameters from the options, as quillet takes them from its command line. The
// input has no file: the importer hands the sprite over under a name no file answers to.
quillet::RunParameters RunOf(const pxt_turn_options& options) {
  quillet::RunParameters run;
  run.angle = options.angle;
  run.endAngle = options.end_angle;
  run.scale = options.scale;
  run.endScale = options.end_scale;
  run.frameCount = options.frames;
  run.format = options.format == PXT_FRAMES_BMP ? quillet::OutputFormat::kBmp : quillet::OutputFormat::kPng;
  run.sheetColumns = options.sheet_columns;
  run.background = options.background;
  run.backgroundGiven = options.background_given != 0;
  return run;
}

// Whether a request is turned through the eight-times enlargement rather than exactly by
// quarter turns, as the job tells them apart for RGBA frames.
bool NeedsEnlargement(const FrameRequest& request) {
  return EffectiveScale(request.scale) != 1.0 || std::fmod(request.angle, 90.0) != 0.0;
}

// The caller's limits on what can be told before the job: the enlargement (with the margin of
// the RGBA frames' stand-ins), a sheet's cells, and each frame's 24-bit rows.
pxt_status CheckLimits(const quillet::RunParameters& run, std::int64_t width, std::int64_t height,
                       const pxt_limits& limits, pxt_error* error) {
  const int count = quillet::RequestCount(run);
  const bool asSprite = quillet::MadeAsSprite(run);
  std::int64_t enlargedWidth = width, enlargedHeight = height;
  bool enlarged = !asSprite;
  if (asSprite) {
    if (run.sheetColumns > 0) {
      const std::int64_t across = std::min<std::int64_t>(run.sheetColumns, count);
      const std::int64_t down = (count + across - 1) / across;
      // A sheet's cells are at least a pixel each: a sheet of too many of them is refused first.
      if (!Fits4(across, down, limits.max_output_bytes))
        return Fail(error, PXT_ERROR_TOO_LARGE,
                    "the sheet would be at least %lld x %lld pixels, over the limit of %s of 4-byte pixels",
                    static_cast<long long>(across), static_cast<long long>(down),
                    LimitText(limits.max_output_bytes).text);
    }
    double smallest = 1.0;
    for (int k = 0; k < count; ++k) {
      const FrameRequest request = quillet::RequestAt(run, k);
      smallest = std::min(smallest, EffectiveScale(request.scale));
      enlarged = enlarged || NeedsEnlargement(request);
    }
    const std::int32_t margin = quillet::MarginFor(smallest);
    enlargedWidth += 2 * margin;
    enlargedHeight += 2 * margin;
    if (!quillet::FitsEnlargement(enlargedWidth, enlargedHeight, limits.max_enlarged_bytes))
      return EnlargementTooLarge(error, width, height, limits.max_enlarged_bytes);
  }
  for (int k = 0; enlarged && k < count; ++k) {
    const FrameRequest request = quillet::RequestAt(run, k);
    const quillet::FramePlan plan = quillet::PlanFrame(static_cast<std::int32_t>(8 * enlargedWidth),
                                                       static_cast<std::int32_t>(8 * enlargedHeight), -request.angle,
                                                       request.scale);
    if (!plan.valid ||
        static_cast<std::uint64_t>(quillet::Stride24(plan.newW)) * static_cast<std::uint64_t>(plan.newH) >
            limits.max_output_bytes)
      return FrameTooLarge(error, plan.wantedW, plan.wantedH, limits.max_output_bytes);
  }
  return PXT_OK;
}

// The job's frames kept in the result: RGBA frames on their canvas (laid over the background
// for BMP frames), the cells of a sheet laid out by the engine's sheet sink, or 24-bit frames
// as they were rendered. A frame or canvas over the caller's limit stops the job.
struct Keeper {
  const quillet::RunParameters& run;
  const pxt_limits& limits;
  pxt_turn_result& result;
  pxt_error* error;
  const quillet::FrameSink* cells = nullptr;  // the sheet's, when the frames make one
  pxt_status status = PXT_OK;                  // why a frame was not kept

  bool Refuse(pxt_status refused) {
    status = refused;
    return false;
  }
};

bool KeepFrame(void* context, const quillet::SinkFrame& frame) {
  Keeper& keeper = *static_cast<Keeper*>(context);
  pxt_turn_result& result = keeper.result;
  const FrameRequest request = quillet::RequestAt(keeper.run, frame.index);
  pxt_frame_place& place = result.places[frame.index];
  place.angle = request.angle;
  place.scale = EffectiveScale(request.scale);
  const std::uint64_t limit = keeper.limits.max_output_bytes;
  if (frame.bitmap) {
    const std::int32_t width = quillet::HeaderWidth(frame.bitmap->header.get());
    const std::int32_t height = quillet::HeaderHeight(frame.bitmap->header.get());
    if (static_cast<std::uint64_t>(quillet::Stride24(width)) * static_cast<std::uint64_t>(height) > limit)
      return keeper.Refuse(FrameTooLarge(keeper.error, width, height, limit));
    const RgbaImage picture = quillet::RgbaOfBitmap(*frame.bitmap);
    place.width = static_cast<std::uint32_t>(width);
    place.height = static_cast<std::uint32_t>(height);
    place.centre_x = width / 2.0;
    place.centre_y = height / 2.0;
    return Hand(picture, result.frames[frame.index]) || keeper.Refuse(OutOfMemory(keeper.error));
  }
  if (!frame.sprite) return false;
  const std::int64_t across = keeper.cells ? std::min<std::int64_t>(keeper.run.sheetColumns, frame.count) : 1;
  const std::int64_t down = keeper.cells ? (frame.count + across - 1) / across : 1;
  if (!Fits4(across * frame.canvasWidth, down * frame.canvasHeight, limit))
    return keeper.Refuse(Fail(keeper.error, PXT_ERROR_TOO_LARGE,
                              "the %s would be %.0f x %.0f pixels, over the limit of %s of 4-byte pixels",
                              keeper.cells ? "sheet" : "canvas", static_cast<double>(across) * frame.canvasWidth,
                              static_cast<double>(down) * frame.canvasHeight, LimitText(limit).text));
  result.canvas_width = static_cast<std::uint32_t>(frame.canvasWidth);
  result.canvas_height = static_cast<std::uint32_t>(frame.canvasHeight);
  place.x = keeper.cells ? static_cast<std::int32_t>((frame.index % across) * frame.canvasWidth) : 0;
  place.y = keeper.cells ? static_cast<std::int32_t>((frame.index / across) * frame.canvasHeight) : 0;
  place.width = result.canvas_width;
  place.height = result.canvas_height;
  place.centre_x = static_cast<double>(frame.origin.first) + frame.sprite->centreX;
  place.centre_y = static_cast<double>(frame.origin.second) + frame.sprite->centreY;
  if (keeper.cells) return keeper.cells->frame(keeper.cells->context, frame) || keeper.Refuse(OutOfMemory(keeper.error));
  RgbaImage cell = quillet::OnCanvasAt(*frame.sprite, frame.canvasWidth, frame.canvasHeight, frame.origin);
  if (keeper.run.format == quillet::OutputFormat::kBmp) {
    quillet::WorkingBitmap laid;
    if (!quillet::CompositeOver(cell, keeper.run.background, laid))
      return keeper.Refuse(
          Fail(keeper.error, PXT_ERROR_TOO_LARGE, "frame %d is too large to lay over the background", frame.index + 1));
    cell = quillet::RgbaOfBitmap(laid);
  }
  return Hand(cell, result.frames[frame.index]) || keeper.Refuse(OutOfMemory(keeper.error));
}

bool KeepSheet(void*, const char*) { return true; }  // laid out already, and written nowhere

// The failure a job reports, in the library's codes and words.
pxt_status FailureOf(const quillet::JobResult& job, const quillet::RunParameters& run, const Progress& progress,
                     std::int64_t width, std::int64_t height, pxt_error* error) {
  const bool asSprite = quillet::MadeAsSprite(run);
  if (job.Cancelled()) return Cancelled(error);
  const quillet::EnlargeResult& enlarge = job.enlarge;
  if (enlarge.temporaryFailed)
    return Fail(error, PXT_ERROR_TEMPORARY, "cannot create a temporary file in \"%s\": %s", enlarge.temporaryDirectory,
                enlarge.temporaryReason);
  if (!enlarge.inputImported) {
    switch (enlarge.input.problem) {
      case quillet::InputProblem::kTooLarge:
        return EnlargementTooLarge(error, width, height, quillet::MaxEnlargedBytes());
      case quillet::InputProblem::kTooManyColours:
        return Fail(error, PXT_ERROR_TOO_MANY_COLOURS,
                    "the sprite has too many colours to turn with its transparency: no 24-bit colour is left to stand "
                    "for each of its values");
      case quillet::InputProblem::kOutOfMemory:
        return Fail(error, PXT_ERROR_OUT_OF_MEMORY, "memory ran out while enlarging the sprite");
      default:
        return Fail(error, PXT_ERROR_TOO_LARGE, "the picture of the sprite is too big to turn");
    }
  }
  if (enlarge.outOfMemory) return Fail(error, PXT_ERROR_OUT_OF_MEMORY, "memory ran out while enlarging the sprite");
  if (!enlarge.enlarged) {
    if (asSprite) return Fail(error, PXT_ERROR_TOO_LARGE, "the picture of the sprite is too big to turn");
    return Fail(error, PXT_ERROR_TEMPORARY, "could not enlarge the sprite");
  }
  const quillet::FramesResult& frames = job.frames;
  const int frame = progress.Frame() + 1;
  switch (frames.firstProblem) {
    case quillet::FrameProblem::kTooLarge:
      if (frames.wantedRgba)
        return Fail(error, PXT_ERROR_TOO_LARGE, "the sheet would be %s%.0f x %.0f pixels, over the limit of %s of 4-byte pixels",
                    frames.wantedAtLeast ? "at least " : "", frames.wantedWidth, frames.wantedHeight,
                    LimitText(quillet::kMaxPixelBlockBytes).text);
      return Fail(error, PXT_ERROR_TOO_LARGE, "frame %d of the sprite is too big to turn", frame);
    case quillet::FrameProblem::kOutOfMemory:
      return Fail(error, PXT_ERROR_OUT_OF_MEMORY, "memory ran out while rendering frame %d", frame);
    default:
      return Fail(error, PXT_ERROR_OUT_OF_MEMORY, "frame %d could not be kept", frame);
  }
}

// The turn as one job of the engine: the sprite handed over in memory, each frame kept in the
// result.
pxt_status Turn(const pxt_image& image, const pxt_turn_options& options, const pxt_progress* caller,
                const pxt_limits& limits, pxt_turn_result& result, pxt_error* error) {
  quillet::RunParameters run = RunOf(options);
  const std::int64_t width = image.width, height = image.height;
  if (const pxt_status refused = CheckLimits(run, width, height, limits, error); refused != PXT_OK) return refused;
  const int count = quillet::RequestCount(run);
  const bool sheet = run.format == quillet::OutputFormat::kPng && run.sheetColumns > 0;
  if (!StartResult(result, static_cast<std::size_t>(count), sheet)) return OutOfMemory(error);

  Progress progress;
  progress.caller = caller;
  progress.run = &run;
  progress.count = count;
  progress.frameShare = quillet::MadeAsSprite(run) ? 80 : 90;

  quillet::MemorySprite input{SpriteOf(image), run.background};
  const quillet::ImageImporter importer = quillet::MemorySpriteImporter(input);
  quillet::BmpFileOptions bmp;
  bmp.background = run.background;
  bmp.backgroundGiven = run.backgroundGiven;
  quillet::SheetSink laidOut;
  const quillet::FrameSink cells = quillet::SheetFileSink(laidOut, run.sheetColumns);
  Keeper keeper{run, limits, result, error, sheet ? &cells : nullptr};
  quillet::FrameSink sink = sheet ? cells : run.format == quillet::OutputFormat::kPng ? quillet::PngFileSink()
                                                                                     : quillet::BmpFileSink(bmp);
  sink.frame = KeepFrame;
  sink.finish = sheet ? KeepSheet : nullptr;
  sink.context = &keeper;

  // A job of its own: no state is shared with another call.
  const auto app = std::make_unique<quillet::AppState>();
  app->runParameters = run;
  const quillet::JobResult job = quillet::RunQuilletJob(
      *app, progress.Job(), importer, sink, static_cast<int>(std::min<unsigned>(options.threads, INT_MAX)));
  if (keeper.status != PXT_OK) return keeper.status;
  if (!job.Succeeded()) return FailureOf(job, run, progress, width, height, error);
  if (sheet && !Hand(laidOut.laidOut, result.sheet)) return OutOfMemory(error);
  progress.Report(100);
  return Succeed(error);
}

pxt_status CheckOptions(const pxt_turn_options& options, pxt_error* error) {
  if (!std::isfinite(options.angle) || !std::isfinite(options.end_angle))
    return Fail(error, PXT_ERROR_ARGUMENT, "angle must be a finite number");
  if (!std::isfinite(options.scale) || !std::isfinite(options.end_scale))
    return Fail(error, PXT_ERROR_ARGUMENT, "scale must be a finite number");
  if (options.format != PXT_FRAMES_RGBA && options.format != PXT_FRAMES_BMP)
    return Fail(error, PXT_ERROR_ARGUMENT, "the frame format %d is neither RGBA nor BMP", static_cast<int>(options.format));
  if (options.sheet_columns > 0 && options.format != PXT_FRAMES_RGBA)
    return Fail(error, PXT_ERROR_ARGUMENT, "a sheet needs RGBA frames");
  if (options.background > 0xFFFFFF)
    return Fail(error, PXT_ERROR_ARGUMENT, "the background 0x%X is not a 24-bit colour 0xRRGGBB", options.background);
  return PXT_OK;
}

}  // namespace
}  // namespace pxt

extern "C" {

void pxt_turn_options_default(pxt_turn_options* options) {
  if (!options) return;
  *options = pxt_turn_options{};
  options->scale = 1.0;
  options->end_scale = 1.0;
  options->frames = 1;
  options->format = PXT_FRAMES_RGBA;
  options->background = 0xFF00FF;
}

pxt_status pxt_quillet_turn(const pxt_image* sprite, const pxt_turn_options* options, const pxt_progress* progress,
                            const pxt_limits* limits, pxt_turn_result* result, pxt_error* error) {
  if (!result) return pxt::Fail(error, PXT_ERROR_ARGUMENT, "no result record was given");
  *result = pxt_turn_result{};
  if (!pxt::CheckImage(sprite, "sprite", error)) return PXT_ERROR_ARGUMENT;
  if (sprite->width > INT32_MAX || sprite->height > INT32_MAX)
    return pxt::Fail(error, PXT_ERROR_TOO_LARGE, "the sprite is %u x %u pixels, too large to turn", sprite->width,
                     sprite->height);
  pxt_turn_options chosen;
  pxt_turn_options_default(&chosen);
  if (options) chosen = *options;
  if (const pxt_status refused = pxt::CheckOptions(chosen, error); refused != PXT_OK) return refused;
  const pxt_limits in = pxt::LimitsOr(limits);
  return pxt::Guarded(error, [&] {
    pxt::Owned owned{result};
    if (progress && progress->cancel && progress->cancel(progress->context) != 0) return pxt::Cancelled(error);
    // The enlargement of the sprite is refused from its size before any copy of it is made.
    if (!quillet::FitsEnlargement(sprite->width, sprite->height, in.max_enlarged_bytes))
      return pxt::EnlargementTooLarge(error, sprite->width, sprite->height, in.max_enlarged_bytes);
    const pxt_status status = pxt::Turn(*sprite, chosen, progress, in, *result, error);
    owned.kept = status == PXT_OK;
    return status;
  });
}

void pxt_turn_result_free(pxt_turn_result* result) {
  if (!result) return;
  if (result->frames)
    for (size_t k = 0; k < result->frame_count; ++k) pxt_image_free(&result->frames[k]);
  std::free(result->frames);
  std::free(result->places);
  pxt_image_free(&result->sheet);
  *result = pxt_turn_result{};
}

}  // extern "C"
