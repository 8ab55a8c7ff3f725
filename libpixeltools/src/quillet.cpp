// quillet's turn of a caller's sprite, frames or a sheet in memory: RGBA frames through the
// sprite functions of the engine, BMP frames through the job's eight-times enlargement in its
// temporary files and the engine's frame renderer.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "internal.h"
#include "quillet/app_state.h"
#include "quillet/bitmap.h"
#include "quillet/files.h"
#include "quillet/pipeline.h"
#include "quillet/render.h"
#include "quillet/sprite.h"
#include "quillet/sprite_job.h"

namespace pxt {
namespace {

using quillet::FrameRequest;
using quillet::RgbaImage;

// The engine's positions of each step of a call, passed on to the caller's progress as one run
// from 0 to 100: step k of n takes its share, and a position never goes back. The engine's
// texts name files of a job; the caller sees texts of its own instead.
struct Progress {
  const pxt_progress* caller = nullptr;
  int low = 0, high = 100;
  int last = -1;

  static void Position(void* context, int position) {
    Progress& progress = *static_cast<Progress*>(context);
    progress.Report(progress.low + (progress.high - progress.low) * std::clamp(position, 0, 100) / 100);
  }
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

double EffectiveScale(double scale) { return scale > 0.0 ? scale : 1.0; }

// Whether a width x height picture's eight-times enlargement fits limit bytes of 24-bit rows.
bool FitsEnlargement(std::int64_t width, std::int64_t height, std::uint64_t limit) {
  if (width <= 0 || height <= 0 || width > (std::int64_t{1} << 24) || height > (std::int64_t{1} << 24)) return false;
  return static_cast<std::uint64_t>(quillet::Stride24(8 * width)) * static_cast<std::uint64_t>(8 * height) <= limit;
}

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

// A rendered frame's 24-bit rows (bottom-up) as opaque RGBA.
RgbaImage RgbaOfFrame(const quillet::OutputBitmap& frame) {
  const std::int32_t width = quillet::HeaderWidth(frame.header.get());
  const std::int32_t height = quillet::HeaderHeight(frame.header.get());
  const std::int64_t stride = quillet::Stride24(width);
  RgbaImage image = quillet::BlankImage(width, height);
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* row = frame.pixels + (height - 1 - y) * stride;
    for (std::int32_t x = 0; x < width; ++x) image.At(x, y) = quillet::PackRgba(row[3 * x + 2], row[3 * x + 1], row[3 * x], 255);
  }
  return image;
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

// The job's parameters from the options, as quillet takes them from its command line.
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

void ShowFrame(const Progress& progress, int index, int count, const FrameRequest& request) {
  char text[160];
  std::snprintf(text, sizeof text, "Turning frame %d of %d\n(angle %g degrees) (scale %g%%)", index + 1, count,
                request.angle, EffectiveScale(request.scale) * 100.0);
  progress.Show(text);
}

struct Job {
  const pxt_turn_options& options;
  const pxt_limits& limits;
  quillet::AppState& app;
  Progress& progress;
  const quillet::JobProgress& engine;  // the engine's positions, relayed to progress
  int threads;
  pxt_turn_result& result;
  pxt_error* error;
};

// RGBA frames on one canvas (or laid over the background as BMP frames), or one sheet: the
// pixels RunSpriteJob writes.
pxt_status TurnSprite(const Job& job, const RgbaImage& sprite) {
  const quillet::RunParameters run = RunOf(job.options);
  const int count = quillet::RequestCount(run);
  const bool sheet = run.sheetColumns > 0 && run.format == quillet::OutputFormat::kPng;
  const bool overBackground = run.format == quillet::OutputFormat::kBmp;
  const std::int64_t across = std::min<std::int64_t>(run.sheetColumns, count);
  const std::int64_t down = sheet ? (count + across - 1) / across : 1;
  // A sheet's cells are at least a pixel each: a sheet of too many of them is refused first.
  if (sheet && !Fits4(across, down, job.limits.max_output_bytes))
    return Fail(job.error, PXT_ERROR_TOO_LARGE, "the sheet would be at least %lld x %lld pixels, over the limit of %s of 4-byte pixels",
                static_cast<long long>(across), static_cast<long long>(down), LimitText(job.limits.max_output_bytes).text);

  std::vector<FrameRequest> requests;
  requests.reserve(static_cast<std::size_t>(count));
  double smallest = 1.0;
  for (int k = 0; k < count; ++k) {
    requests.push_back(quillet::RequestAt(run, k));
    smallest = std::min(smallest, EffectiveScale(requests.back().scale));
  }
  const std::int32_t margin = quillet::MarginFor(smallest);
  if (!FitsEnlargement(std::int64_t{sprite.width} + 2 * margin, std::int64_t{sprite.height} + 2 * margin,
                       job.limits.max_enlarged_bytes))
    return EnlargementTooLarge(job.error, sprite.width, sprite.height, job.limits.max_enlarged_bytes);

  job.progress.Show("Enlarging the sprite eight times");
  job.progress.Step(0, 10);
  quillet::SpriteTurner turner;
  if (!quillet::PrepareTurns(sprite, requests, turner)) {
    if (turner.map.outOfColours)
      return Fail(job.error, PXT_ERROR_TOO_MANY_COLOURS,
                  "the sprite has too many colours to turn with its transparency: no 24-bit colour is left to stand "
                  "for each of its values");
    return Fail(job.error, PXT_ERROR_TOO_LARGE, "the picture of the sprite is too big to turn");
  }

  // Each frame, then the canvas they share.
  std::vector<quillet::SpriteFrame> frames;
  frames.reserve(static_cast<std::size_t>(count));
  quillet::CanvasReach reach;
  for (int k = 0; k < count; ++k) {
    if (job.progress.Cancelled()) return Cancelled(job.error);
    const FrameRequest& request = requests[static_cast<std::size_t>(k)];
    if (quillet::HasImage24(turner.enlarged)) {
      const quillet::FramePlan plan =
          quillet::PlanFrame(quillet::HeaderWidth(turner.enlarged.header.get()),
                             quillet::HeaderHeight(turner.enlarged.header.get()), -request.angle, request.scale);
      if (!plan.valid || static_cast<std::uint64_t>(quillet::Stride24(plan.newW)) * static_cast<std::uint64_t>(plan.newH) >
                             job.limits.max_output_bytes)
        return FrameTooLarge(job.error, plan.wantedW, plan.wantedH, job.limits.max_output_bytes);
    }
    ShowFrame(job.progress, k, count, request);
    job.progress.Step(10 + 80 * k / count, 10 + 80 * (k + 1) / count);
    quillet::SpriteFrame frame;
    if (!quillet::TurnOnce(job.engine, sprite, turner, request, job.threads, frame))
      return Fail(job.error, PXT_ERROR_TOO_LARGE, "frame %d of the sprite is too big to turn", k + 1);
    quillet::Widen(reach, frame);
    const quillet::SeriesCanvas canvas = quillet::CanvasOf(reach);
    // The canvas only grows with more frames: one already over the limit is refused now.
    if (sheet ? !Fits4(across * canvas.width, down * canvas.height, job.limits.max_output_bytes)
              : !Fits4(canvas.width, canvas.height, job.limits.max_output_bytes))
      return Fail(job.error, PXT_ERROR_TOO_LARGE, "the %s would be %s%.0f x %.0f pixels, over the limit of %s of 4-byte pixels",
                  sheet ? "sheet" : "canvas", k + 1 < count ? "at least " : "",
                  static_cast<double>(sheet ? across : 1) * canvas.width,
                  static_cast<double>(sheet ? down : 1) * canvas.height, LimitText(job.limits.max_output_bytes).text);
    frames.push_back(std::move(frame));
  }
  turner = quillet::SpriteTurner{};
  if (job.progress.Cancelled()) return Cancelled(job.error);

  job.progress.Step(90, 100);
  const quillet::SeriesCanvas canvas = quillet::CanvasOf(reach);
  pxt_turn_result& result = job.result;
  if (!StartResult(result, static_cast<std::size_t>(count), sheet)) return OutOfMemory(job.error);
  result.canvas_width = static_cast<std::uint32_t>(canvas.width);
  result.canvas_height = static_cast<std::uint32_t>(canvas.height);
  std::vector<RgbaImage> cells;
  for (int k = 0; k < count; ++k) {
    quillet::SpriteFrame& frame = frames[static_cast<std::size_t>(k)];
    const std::pair<std::int64_t, std::int64_t> origin = quillet::OriginOn(reach, frame);
    pxt_frame_place& place = result.places[k];
    place.x = sheet ? static_cast<std::int32_t>((k % across) * canvas.width) : 0;
    place.y = sheet ? static_cast<std::int32_t>((k / across) * canvas.height) : 0;
    place.width = result.canvas_width;
    place.height = result.canvas_height;
    place.centre_x = static_cast<double>(origin.first) + frame.centreX;
    place.centre_y = static_cast<double>(origin.second) + frame.centreY;
    place.angle = requests[static_cast<std::size_t>(k)].angle;
    place.scale = EffectiveScale(requests[static_cast<std::size_t>(k)].scale);
    RgbaImage cell = quillet::OnCanvasAt(frame, canvas.width, canvas.height, origin);
    frame = quillet::SpriteFrame{};
    if (sheet) {
      cells.push_back(std::move(cell));
      continue;
    }
    if (overBackground) {
      quillet::WorkingBitmap laid;
      if (!quillet::CompositeOver(cell, run.background, laid))
        return Fail(job.error, PXT_ERROR_TOO_LARGE, "frame %d is too large to lay over the background", k + 1);
      cell = quillet::RgbaOfBitmap(laid);
    }
    if (!Hand(cell, result.frames[k])) return OutOfMemory(job.error);
  }
  if (sheet) {
    const RgbaImage laidOut = quillet::LayOutSheet(cells, static_cast<std::int32_t>(across));
    if (laidOut.width <= 0) return Fail(job.error, PXT_ERROR_TOO_LARGE, "the sheet is too large to lay out");
    cells.clear();
    if (!Hand(laidOut, result.sheet)) return OutOfMemory(job.error);
  }
  job.progress.Report(100);
  return Succeed(job.error);
}

// The sprite laid over the background, handed to the engine's enlargement as the job's input
// in place of a file; the enlargement's own files are read as any BMP file is.
struct MemoryInput {
  quillet::WorkingBitmap bitmap;
  std::int32_t width = 0, height = 0;
};
constexpr char kSpriteName[] = "sprite";

bool ImportMemory(void* context, quillet::AppState& app, const char* fileName) {
  auto& input = *static_cast<MemoryInput*>(context);
  app.importReport = quillet::InputReport{};
  if (std::strcmp(fileName, kSpriteName) == 0) {
    app.workingBitmap = std::move(input.bitmap);
    return quillet::HasImage24(app.workingBitmap);
  }
  quillet::LoadOutcome outcome;
  quillet::LoadBitmapFile(fileName, app.workingBitmap, &outcome);
  app.importReport = quillet::ReportOf(outcome);
  return quillet::HasImage24(app.workingBitmap);
}

bool InspectMemory(void* context, const char* fileName, quillet::InputReport& report) {
  const auto& input = *static_cast<const MemoryInput*>(context);
  report = quillet::InputReport{};
  if (std::strcmp(fileName, kSpriteName) != 0) {
    report = quillet::ReportOf(quillet::InspectBitmapFile(fileName));
    return report.problem == quillet::InputProblem::kNone || report.problem == quillet::InputProblem::kTooLarge;
  }
  report.width = input.width;
  report.height = input.height;
  return true;
}

// BMP frames as quillet's BMP files hold them: the sprite laid over the background, enlarged
// through the job's temporary files, and each frame rendered from that.
pxt_status TurnBitmap(const Job& job, const RgbaImage& sprite) {
  const quillet::RunParameters run = RunOf(job.options);
  const int count = quillet::RequestCount(run);
  if (!FitsEnlargement(sprite.width, sprite.height, job.limits.max_enlarged_bytes))
    return EnlargementTooLarge(job.error, sprite.width, sprite.height, job.limits.max_enlarged_bytes);

  MemoryInput input;
  input.width = sprite.width;
  input.height = sprite.height;
  if (!quillet::CompositeOver(sprite, run.background, input.bitmap))
    return EnlargementTooLarge(job.error, sprite.width, sprite.height, job.limits.max_enlarged_bytes);
  quillet::ImageImporter importer;
  importer.import = ImportMemory;
  importer.inspect = InspectMemory;
  importer.context = &input;

  job.progress.Show("Enlarging the sprite eight times");
  job.progress.Step(0, 10);
  quillet::EnlargeResult enlarged;
  {
    quillet::JobTemporaries temporaries;
    quillet::ClearOutputFailure();
    if (!quillet::CreateJobTemporaries(temporaries))
      return Fail(job.error, PXT_ERROR_TEMPORARY, "cannot create a temporary file in \"%s\": %s", temporaries.directory,
                  quillet::LastOutputFailure().reason);
    job.app.temporaries = &temporaries;
    enlarged = quillet::EnlargeImage(job.app, job.engine, importer, kSpriteName, temporaries.enlargeName, true);
    job.app.temporaries = nullptr;
  }
  if (enlarged.temporaryFailed)
    return Fail(job.error, PXT_ERROR_TEMPORARY, "cannot create a temporary file in \"%s\": %s",
                enlarged.temporaryDirectory, enlarged.temporaryReason);
  if (!enlarged.inputImported && enlarged.input.problem == quillet::InputProblem::kTooLarge)
    return EnlargementTooLarge(job.error, sprite.width, sprite.height, quillet::MaxEnlargedBytes());
  if (enlarged.outOfMemory || enlarged.input.problem == quillet::InputProblem::kOutOfMemory)
    return Fail(job.error, PXT_ERROR_OUT_OF_MEMORY, "memory ran out while enlarging the sprite");
  if (!enlarged.enlarged) return Fail(job.error, PXT_ERROR_TEMPORARY, "could not enlarge the sprite");

  pxt_turn_result& result = job.result;
  if (!StartResult(result, static_cast<std::size_t>(count), false)) return OutOfMemory(job.error);
  const quillet::WorkingBitmap& source = job.app.workingBitmap;
  quillet::ScoreTable scores;  // built by the first frame, shared by the rest
  for (int k = 0; k < count; ++k) {
    if (job.progress.Cancelled()) return Cancelled(job.error);
    const FrameRequest request = quillet::RequestAt(run, k);
    const quillet::FramePlan plan = quillet::PlanFrame(quillet::HeaderWidth(source.header.get()),
                                                       quillet::HeaderHeight(source.header.get()), -request.angle,
                                                       request.scale);
    if (!plan.valid || static_cast<std::uint64_t>(quillet::Stride24(plan.newW)) * static_cast<std::uint64_t>(plan.newH) >
                           job.limits.max_output_bytes)
      return FrameTooLarge(job.error, plan.wantedW, plan.wantedH, job.limits.max_output_bytes);
    ShowFrame(job.progress, k, count, request);
    job.progress.Step(10 + 90 * k / count, 10 + 90 * (k + 1) / count);
    const quillet::OutputBitmap frame =
        quillet::RenderFrameBitmap(job.engine, source, -request.angle, request.scale, job.threads, &scores);
    if (!frame.pixels) return Fail(job.error, PXT_ERROR_OUT_OF_MEMORY, "memory ran out while rendering frame %d", k + 1);
    const RgbaImage picture = RgbaOfFrame(frame);
    pxt_frame_place& place = result.places[k];
    place.width = static_cast<std::uint32_t>(picture.width);
    place.height = static_cast<std::uint32_t>(picture.height);
    place.centre_x = picture.width / 2.0;
    place.centre_y = picture.height / 2.0;
    place.angle = request.angle;
    place.scale = EffectiveScale(request.scale);
    if (!Hand(picture, result.frames[k])) return OutOfMemory(job.error);
  }
  job.progress.Report(100);
  return Succeed(job.error);
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
    pxt::Progress relay;
    relay.caller = progress;
    if (relay.Cancelled()) return pxt::Cancelled(error);
    // The enlargement of the sprite is refused from its size before any copy of it is made.
    if (!pxt::FitsEnlargement(sprite->width, sprite->height, in.max_enlarged_bytes))
      return pxt::EnlargementTooLarge(error, sprite->width, sprite->height, in.max_enlarged_bytes);
    // A job of its own: no state is shared with another call.
    const auto app = std::make_unique<quillet::AppState>();
    const quillet::JobProgress engine{pxt::Progress::Position, nullptr, nullptr, &relay};
    const pxt::Job job{chosen, in, *app, relay, engine,
                       static_cast<int>(std::min<unsigned>(chosen.threads, INT_MAX)), *result, error};
    const quillet::RgbaImage picture = pxt::SpriteOf(*sprite);
    const bool asSprite = chosen.format == PXT_FRAMES_RGBA || chosen.background_given != 0;
    const pxt_status status = asSprite ? pxt::TurnSprite(job, picture) : pxt::TurnBitmap(job, picture);
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
