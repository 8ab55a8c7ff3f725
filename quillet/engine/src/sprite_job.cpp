#include "quillet/sprite_job.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>

#include "files_internal.h"
#include "parallel.h"
#include "side_by_side.h"
#include "job_internal.h"
#include "pixeltools/png_door.h"
#include "quillet/enlarge.h"
#include "quillet/files.h"
#include "quillet/render.h"

namespace quillet {
namespace {

// Largest PNG file read.
constexpr std::size_t kMaxPngFileBytes = std::size_t{256} << 20;

struct FreeDeleter {
  void operator()(unsigned char* p) const { std::free(p); }
};
using LodeBuffer = std::unique_ptr<unsigned char, FreeDeleter>;

// The pictures quillet takes: those whose eight-times enlargement fits.
bool FitsEightTimes(const void*, unsigned width, unsigned height) { return FitsEnlargement(width, height); }

// The file's bytes when it starts with the PNG signature; false otherwise. A file whose header
// chunk is refused is not read past it: DecodePng gives it the same answer from the header
// alone, and only a file over the size limit is turned away as such first, as when read whole.
bool ReadPngBytes(const char* fileName, std::vector<unsigned char>& bytes) {
  pixeltools::PngFileBytes file;
  pixeltools::ReadPngFileBytes(fileName, kMaxPngFileBytes, {FitsEightTimes, nullptr}, file);
  bytes = std::move(file.bytes);
  return file.problem == pixeltools::PngReadProblem::kNone;
}

// Decodes a PNG's bytes as 8-bit RGBA. A picture whose eight-times enlargement would be over
// the limit is refused from its header, before it is decoded.
bool DecodePng(const unsigned char* data, std::size_t size, RgbaImage& image, InputReport& report) {
  report = InputReport{};
  pixeltools::PngPicture picture;
  pixeltools::DecodePngRgba(data, size, {FitsEightTimes, nullptr}, picture);
  if (picture.problem == pixeltools::PngDecodeProblem::kNotPng ||
      picture.problem == pixeltools::PngDecodeProblem::kHeader) {
    report.problem = InputProblem::kConversionFailed;
    return false;
  }
  report.width = picture.width;
  report.height = picture.height;
  switch (picture.problem) {
    case pixeltools::PngDecodeProblem::kNone:
      break;
    case pixeltools::PngDecodeProblem::kTooLarge:
      report.problem = InputProblem::kTooLarge;
      return false;
    case pixeltools::PngDecodeProblem::kOutOfMemory:
      report.problem = InputProblem::kOutOfMemory;
      return false;
    default:
      report.problem = InputProblem::kConversionFailed;
      return false;
  }
  image = BlankImage(static_cast<std::int32_t>(picture.width), static_cast<std::int32_t>(picture.height));
  const unsigned char* p = picture.pixels;
  for (Rgba& v : image.pixels) {
    v = PackRgba(p[0], p[1], p[2], p[3]);
    p += 4;
  }
  return true;
}

const CompositingImport& ImportOf(void* context) { return *static_cast<const CompositingImport*>(context); }

bool ImportComposited(void* context, AppState& app, const char* fileName) {
  const CompositingImport& import = ImportOf(context);
  std::vector<unsigned char> bytes;
  RgbaImage image;
  InputReport report;
  if (ReadPngBytes(fileName, bytes) && DecodePng(bytes.data(), bytes.size(), image, report) && HasTransparency(image) &&
      CompositeOver(image, import.background, app.workingBitmap)) {
    app.importReport = report;
    return true;
  }
  return ImportInput(import.inner, app, fileName);
}

bool InspectComposited(void* context, const char* fileName, InputReport& report) {
  return InspectInput(ImportOf(context).inner, fileName, report);
}

// The enlargement by three smart 2x steps, handed over in memory.
bool EnlargeEightTimes(WorkingBitmap& bitmap) {
  for (int step = 0; step < 3; ++step) {
    const std::int32_t w = HeaderWidth(bitmap.header.get()), h = HeaderHeight(bitmap.header.get());
    if (std::int64_t{w} * 2 > INT32_MAX || std::int64_t{h} * 2 > INT32_MAX) return false;
    OutputBitmap output = CreateOutputBitmap(bitmap, 2 * w, 2 * h);
    if (!output.pixels || !EnlargeInto(bitmap, output)) return false;
    WorkingBitmap next;
    next.header.reset(new std::uint8_t[kHeaderBlockBytes]);
    std::memcpy(next.header.get(), output.header.get(), kHeaderBlockBytes);
    WriteLe32(next.header.get() + kBiSizeImage, static_cast<std::uint32_t>(output.pixelBytes));
    next.pixels.assign(output.pixels, output.pixels + output.pixelBytes);
    bitmap = std::move(next);
  }
  return true;
}

// Quarter turns counter-clockwise when the request is an exact one at scale 1; else -1.
int ExactQuarters(const FrameRequest& request) {
  if (EffectiveScale(request.scale) != 1.0 || !std::isfinite(request.angle)) return -1;
  if (std::fmod(request.angle, 90.0) != 0.0) return -1;
  const double quarters = std::fmod(request.angle / 90.0, 4.0);
  return (static_cast<int>(quarters) % 4 + 4) % 4;
}

// The frame cropped to its visible pixels, the centre moved with it.
SpriteFrame Cropped(SpriteFrame frame) {
  const PixelBox box = VisibleBox(frame.image);
  SpriteFrame out;
  if (box.Empty()) {
    out.image = BlankImage(1, 1);
    return out;
  }
  out.image = BlankImage(box.right - box.left, box.bottom - box.top);
  for (std::int32_t y = box.top; y < box.bottom; ++y)
    for (std::int32_t x = box.left; x < box.right; ++x) out.image.At(x - box.left, y - box.top) = frame.image.At(x, y);
  out.centreX = frame.centreX - box.left;
  out.centreY = frame.centreY - box.top;
  return out;
}

// One frame of the enlarged stand-ins at a user angle; false when its size is not valid.
bool RenderSpriteFrame(const JobProgress& progress, const WorkingBitmap& enlarged, const StandInMap& map,
                       ScoreTable& scores, const FrameRequest& request, int threads, SpriteFrame& frame) {
  const FramePlan plan = PlanFrame(HeaderWidth(enlarged.header.get()), HeaderHeight(enlarged.header.get()),
                                   -request.angle, request.scale);
  ReportProgress(progress, 5);
  if (!plan.valid) return false;
  OutputBitmap output = CreateOutputBitmap(enlarged, plan.newW, plan.newH);
  if (!output.pixels) return false;
  const std::int64_t ds = Stride24(plan.newW);
  for (std::int32_t y = 0; y < plan.newH; ++y)
    for (std::int32_t x = 0; x < plan.newW; ++x) {
      std::uint8_t* p = output.pixels + y * ds + 3 * x;
      p[0] = static_cast<std::uint8_t>(map.key);
      p[1] = static_cast<std::uint8_t>(map.key >> 8);
      p[2] = static_cast<std::uint8_t>(map.key >> 16);
    }
  const PhaseOffset offset = PhaseSearch(progress, enlarged, plan, threads, &scores);
  ReportProgress(progress, 90);
  SamplingPass(enlarged, plan, offset, output, threads);
  ReportProgress(progress, 95);
  DetailPass(enlarged, plan, offset, output, threads);
  ReportProgress(progress, 98);
  if (!RgbaFromStandIns(output.header.get(), output.pixels, output.pixelBytes, map, frame.image)) return false;

  // The picture's centre, taking each output pixel's sample to stand for the pixel's middle.
  const double p = plan.srcHeight / 2.0 - offset.i * plan.r;
  const double q = plan.srcWidth / 2.0 - offset.j * plan.r;
  const double norm = plan.A * plan.A + plan.B * plan.B;
  const double dx = (p * plan.B + q * plan.A) / norm;
  const double dy = (p * plan.A - q * plan.B) / norm;
  frame.centreX = plan.X0 + dx + 0.5;
  frame.centreY = plan.newH - (plan.Y0 + dy + 0.5);
  return true;
}

}  // namespace

bool DecodePngBytes(const unsigned char* data, std::size_t size, RgbaImage& image, InputReport& report) {
  report = InputReport{};
  if (!data || size < 8 || size > kMaxPngFileBytes ||
      std::memcmp(data, pixeltools::kPngSignature, sizeof pixeltools::kPngSignature) != 0) {
    report.problem = InputProblem::kNotImage;
    return false;
  }
  return DecodePng(data, size, image, report);
}

bool ReadPngFile(const char* fileName, RgbaImage& image) {
  std::vector<unsigned char> bytes;
  InputReport report;
  return ReadPngBytes(fileName, bytes) && DecodePng(bytes.data(), bytes.size(), image, report);
}

bool WritePngFile(const char* fileName, const RgbaImage& image) {
  if (image.width <= 0 || image.height <= 0) return false;
  std::vector<unsigned char> raw(image.pixels.size() * 4);
  for (std::size_t k = 0; k < image.pixels.size(); ++k) {
    const Rgba v = image.pixels[k];
    raw[4 * k] = static_cast<unsigned char>(v);
    raw[4 * k + 1] = static_cast<unsigned char>(v >> 8);
    raw[4 * k + 2] = static_cast<unsigned char>(v >> 16);
    raw[4 * k + 3] = static_cast<unsigned char>(v >> 24);
  }
  unsigned char* encoded = nullptr;
  std::size_t size = 0;
  const unsigned error = pixeltools::EncodePng(raw.data(), static_cast<unsigned>(image.width),
                                               static_cast<unsigned>(image.height), true, &encoded, &size);
  LodeBuffer owned(encoded);
  return error == 0 && encoded && WriteOutputFile(fileName, encoded, size);
}

bool WriteCompositedBmpFile(const char* fileName, const RgbaImage& image, std::uint32_t background) {
  WorkingBitmap bitmap;
  return CompositeOver(image, background, bitmap) && WriteBitmapFile(fileName, bitmap);
}

ImageImporter CompositingImporter(const CompositingImport& import) {
  ImageImporter importer;
  importer.import = ImportComposited;
  importer.inspect = InspectComposited;
  importer.context = const_cast<CompositingImport*>(&import);
  return importer;
}

bool LoadSprite(AppState& app, const ImageImporter& importer, const char* fileName, RgbaImage& sprite,
                InputReport& report) {
  std::vector<unsigned char> bytes;
  if (ReadPngBytes(fileName, bytes)) return DecodePng(bytes.data(), bytes.size(), sprite, report);
  app.importReport = InputReport{};
  if (importer.importRgba) {
    report = InputReport{};
    if (importer.importRgba(importer.context, app, fileName, sprite, report)) return true;
    if (report.problem != InputProblem::kNone) return false;
  }
  bool imported = ImportInput(importer, app, fileName);
  report = app.importReport;
  if (imported && !FitsEnlargement(HeaderWidth(app.workingBitmap.header.get()),
                                   HeaderHeight(app.workingBitmap.header.get()))) {
    report.problem = InputProblem::kTooLarge;
    report.width = HeaderWidth(app.workingBitmap.header.get());
    report.height = HeaderHeight(app.workingBitmap.header.get());
    imported = false;
  }
  if (imported) sprite = RgbaOfBitmap(app.workingBitmap);
  app.workingBitmap = WorkingBitmap{};
  if (imported && sprite.width <= 0) {
    report.problem = InputProblem::kUnsupported;
    imported = false;
  }
  return imported;
}

int RequestCount(const RunParameters& run) { return run.frameCount <= 1 ? 1 : run.frameCount; }

FrameRequest RequestAt(const RunParameters& run, int index) {
  if (run.frameCount <= 1) return {run.angle, run.scale};
  return {Interpolate(run.angle, run.endAngle, index, run.frameCount),
          Interpolate(run.scale, run.endScale, index, run.frameCount)};
}

namespace {

// The stand-ins' enlargement for count requests, request k given by requestAt(k), when any
// of them needs it; false when it could not be made.
template <typename RequestAtIndex>
bool PrepareTurnsOver(const RgbaImage& sprite, std::size_t count, RequestAtIndex requestAt, SpriteTurner& turner) {
  turner = SpriteTurner{};
  if (sprite.width <= 0 || sprite.height <= 0) return false;
  double smallest = 1.0;
  bool needsEngine = false;
  for (std::size_t k = 0; k < count; ++k) {
    const FrameRequest request = requestAt(k);
    if (ExactQuarters(request) >= 0) continue;
    needsEngine = true;
    smallest = std::min(smallest, EffectiveScale(request.scale));
  }
  if (needsEngine) {
    turner.map = BuildStandInMap(sprite);
    if (turner.map.outOfColours || !StandInBitmap(sprite, turner.map, MarginFor(smallest), turner.enlarged) ||
        !EnlargeEightTimes(turner.enlarged))
      return false;
  }
  return true;
}

}  // namespace

bool PrepareTurns(const RgbaImage& sprite, const std::vector<FrameRequest>& requests, SpriteTurner& turner) {
  return PrepareTurnsOver(sprite, requests.size(), [&](std::size_t k) { return requests[k]; }, turner);
}

bool TurnOnce(const JobProgress& progress, const RgbaImage& sprite, SpriteTurner& turner, const FrameRequest& request,
              int threads, SpriteFrame& frame) {
  SpriteFrame turned;
  const int quarters = ExactQuarters(request);
  if (quarters >= 0) {
    turned.image = QuarterTurn(sprite, quarters);
    turned.centreX = turned.image.width / 2.0;
    turned.centreY = turned.image.height / 2.0;
  } else if (!HasImage24(turner.enlarged) ||
             !RenderSpriteFrame(progress, turner.enlarged, turner.map, turner.scores, request, threads, turned)) {
    return false;
  }
  frame = Cropped(std::move(turned));
  return true;
}

bool TurnSprite(const JobProgress& progress, const RgbaImage& sprite, const std::vector<FrameRequest>& requests,
                int threads, std::vector<SpriteFrame>& frames) {
  frames.clear();
  SpriteTurner turner;
  if (!PrepareTurns(sprite, requests, turner)) return false;
  for (const FrameRequest& request : requests) {
    SpriteFrame frame;
    if (!TurnOnce(progress, sprite, turner, request, threads, frame)) {
      frames.clear();
      return false;
    }
    frames.push_back(std::move(frame));
  }
  return true;
}

namespace {

// How many frames of the series from 1 on may be turned side by side on up to `threads`
// threads, by the memory of the largest: its 24-bit frame and its RGBA picture, twice.
template <typename RequestAtIndex>
int SpriteWorkers(const RgbaImage& sprite, const SpriteTurner& turner, int count, RequestAtIndex requestAt,
                  int threads) {
  std::uint64_t largest = 2 * 4 * static_cast<std::uint64_t>(sprite.width) * static_cast<std::uint64_t>(sprite.height);
  for (int k = 1; k < count; ++k) {
    const FrameRequest request = requestAt(static_cast<std::size_t>(k));
    if (ExactQuarters(request) >= 0 || !HasImage24(turner.enlarged)) continue;
    const FramePlan plan = PlanFrame(HeaderWidth(turner.enlarged.header.get()), HeaderHeight(turner.enlarged.header.get()),
                                     -request.angle, request.scale);
    if (!plan.valid) continue;
    const std::uint64_t pixels = static_cast<std::uint64_t>(plan.newW) * static_cast<std::uint64_t>(plan.newH);
    largest = std::max(largest, static_cast<std::uint64_t>(Stride24(plan.newW)) * static_cast<std::uint64_t>(plan.newH) +
                                    2 * 4 * pixels);
  }
  return SideBySideWorkers(largest, count - 1, threads);
}

std::uint64_t HeldBytesOf(const SpriteFrame& frame) {
  return sizeof(SpriteFrame) + static_cast<std::uint64_t>(frame.image.pixels.size()) * sizeof(Rgba);
}

// The frames of a series that are made and not yet written, in order: in memory while they
// take no more than a bound of bytes; past it the ones held so far go, packed one after the
// other, to a file in a temporary directory of the job's own, made when first needed; the
// file is gone once closed or once the process ends, the directory when the job ends.
class HeldFrames {
 public:
  explicit HeldFrames(std::uint64_t bound) : bound_(bound) {}
  HeldFrames(const HeldFrames&) = delete;
  HeldFrames& operator=(const HeldFrames&) = delete;
  ~HeldFrames() { Discard(); }

  // False when the file could not be made or written; LastOutputFailure says why.
  bool Add(SpriteFrame frame) {
    bytes_ += HeldBytesOf(frame);
    memory_.push_back(std::move(frame));
    return bytes_ <= bound_ || Spill();
  }

  // Ends adding: the frames are then taken back in order. False when the file failed.
  bool StartTaking() {
    if (!file_) return true;
    errno = 0;
    if (std::fflush(file_) != 0 || std::ferror(file_) || std::fseek(file_, 0, SEEK_SET) != 0) return Failed();
    return true;
  }

  // The next frame; false when the file could not be read back.
  bool Take(SpriteFrame& frame) {
    if (inFile_ == 0) {
      if (memory_.empty()) return false;
      frame = std::move(memory_.front());
      memory_.pop_front();
      return true;
    }
    errno = 0;
    // A frame is cut from a 24-bit frame within the limit: no more pixels than that holds.
    std::int32_t size[2];
    double centre[2];
    if (std::fread(size, sizeof size, 1, file_) != 1 || std::fread(centre, sizeof centre, 1, file_) != 1 ||
        size[0] <= 0 || size[1] <= 0 ||
        static_cast<std::uint64_t>(size[0]) * static_cast<std::uint64_t>(size[1]) > kMaxPixelBlockBytes / 3)
      return Failed();
    frame.image = BlankImage(size[0], size[1]);
    frame.centreX = centre[0];
    frame.centreY = centre[1];
    if (std::fread(frame.image.pixels.data(), sizeof(Rgba), frame.image.pixels.size(), file_) !=
        frame.image.pixels.size())
      return Failed();
    --inFile_;
    return true;
  }

  const char* Directory() const { return temporaries_ ? temporaries_->directory : ""; }

 private:
  bool Spill() {
    if (!file_ && !Open()) return false;
    errno = 0;
    for (SpriteFrame& frame : memory_) {
      const std::int32_t size[2] = {frame.image.width, frame.image.height};
      const double centre[2] = {frame.centreX, frame.centreY};
      if (std::fwrite(size, sizeof size, 1, file_) != 1 || std::fwrite(centre, sizeof centre, 1, file_) != 1 ||
          std::fwrite(frame.image.pixels.data(), sizeof(Rgba), frame.image.pixels.size(), file_) !=
              frame.image.pixels.size())
        return Failed();
      ++inFile_;
      frame = SpriteFrame{};
    }
    memory_.clear();
    bytes_ = 0;
    return true;
  }

  bool Open() {
    temporaries_ = std::make_unique<JobTemporaries>();
    if (!CreateJobTemporaries(*temporaries_)) return false;
    const int length = std::snprintf(path_, sizeof path_, "%s%cframes.bin", temporaries_->directory, PathSeparator());
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof path_) {
      RecordOutputFailure(temporaries_->directory, "the path of the temporary directory is too long");
      return false;
    }
    // Gone with the process however it ends; the directory goes with temporaries_.
    file_ = OpenScratchFile(path_);
    return file_ != nullptr;
  }

  // Notes the failure of the file's last call, with the system's reason when it gave one.
  bool Failed() {
    const int error = errno;
    RecordOutputFailure(path_, error != 0 ? std::strerror(error)
                                          : "the frames held for the canvas could not be written or read back");
    return false;
  }

  void Discard() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    temporaries_.reset();  // removes the directory
  }

  std::uint64_t bound_;
  std::uint64_t bytes_ = 0;  // of the frames in memory
  std::deque<SpriteFrame> memory_;
  std::unique_ptr<JobTemporaries> temporaries_;
  char path_[kTempPathChars] = {};
  std::FILE* file_ = nullptr;
  std::uint64_t inFile_ = 0;  // frames in the file not taken yet
};

// Whether an across x down sheet of width x height cells is within the limit at 4 bytes a pixel.
bool SheetFits(std::int64_t across, std::int64_t down, std::int64_t width, std::int64_t height) {
  const std::int64_t w = across * width, h = down * height;
  return w > 0 && h > 0 && w <= INT32_MAX && h <= INT32_MAX &&
         static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h) * 4 <= kMaxPixelBlockBytes;
}

void NoteSheetTooLarge(FramesResult& frames, const char* name, std::int64_t across, std::int64_t down,
                       const SeriesCanvas& canvas, bool atLeast) {
  frames.firstProblem = FrameProblem::kTooLarge;
  frames.wantedWidth = static_cast<double>(across) * canvas.width;
  frames.wantedHeight = static_cast<double>(down) * canvas.height;
  frames.wantedRgba = true;
  frames.wantedAtLeast = atLeast;
  std::snprintf(frames.firstFailedName, sizeof frames.firstFailedName, "%s", name);
}

void NoteHeldFramesFailed(JobResult& result, const HeldFrames& held) {
  result.enlarge.temporaryFailed = true;
  if (held.Directory()[0] != '\0') {
    std::snprintf(result.enlarge.temporaryDirectory, sizeof result.enlarge.temporaryDirectory, "%s",
                  held.Directory());
  } else {
    DirectoryOf(LastOutputFailure().path, result.enlarge.temporaryDirectory);
  }
  std::snprintf(result.enlarge.temporaryReason, sizeof result.enlarge.temporaryReason, "%s",
                LastOutputFailure().reason);
}

}  // namespace

JobResult RunSpriteJob(AppState& app, const JobProgress& progress, const ImageImporter& importer,
                       const FrameSink& sink, int threads, std::uint64_t heldFrameBytes) {
  const RunParameters& run = app.runParameters;
  JobResult result;
  ShowProcessing(progress, run.inputName);
  // Each request is made from its index when it is needed: a series may be very long.
  const int count = RequestCount(run);
  const auto requestAt = [&](std::size_t k) { return RequestAt(run, static_cast<int>(k)); };
  const bool sheet = sink.sheetColumns > 0;
  result.frames.framesWanted = sheet ? 1 : count;

  char name[kPathChars];
  SinkOutputName(sink, run.outputName, name);
  auto fileNameOf = [&](std::size_t k, char (&out)[kFrameNameChars]) {
    SinkFileName(sink, run, static_cast<int>(k), out);
  };

  RgbaImage sprite;
  result.enlarge.inputImported = LoadSprite(app, importer, run.inputName, sprite, result.enlarge.input);
  // A sheet's cells are at least a pixel each: a sheet of too many of them is refused before
  // anything is made.
  const std::int64_t across = std::min<std::int64_t>(sink.sheetColumns, count);
  const std::int64_t down = sheet ? (count + across - 1) / across : 1;
  if (result.enlarge.inputImported && sheet && !SheetFits(across, down, 1, 1)) {
    result.enlarge.enlarged = true;
    ReportProgress(progress, 10);
    ReportProgress(progress, 100);
    NoteSheetTooLarge(result.frames, name, across, down, SeriesCanvas{}, true);
    return result;
  }
  double smallest = 1.0;
  for (int k = 0; k < count; ++k) smallest = std::min(smallest, EffectiveScale(requestAt(k).scale));
  const std::int32_t margin = MarginFor(smallest);
  if (result.enlarge.inputImported) {
    // The margin must fit within the enlargement's limit too.
    if (!FitsEnlargement(std::int64_t{sprite.width} + 2 * margin, std::int64_t{sprite.height} + 2 * margin)) {
      result.enlarge.inputImported = false;
      result.enlarge.input.problem = InputProblem::kTooLarge;
      result.enlarge.input.width = sprite.width;
      result.enlarge.input.height = sprite.height;
    }
  }
  ReportProgress(progress, 10);
  SpriteTurner turner;
  result.enlarge.enlarged =
      result.enlarge.inputImported && PrepareTurnsOver(sprite, static_cast<std::size_t>(count), requestAt, turner);
  if (result.enlarge.inputImported && turner.map.outOfColours) {
    result.enlarge.inputImported = false;
    result.enlarge.input.problem = InputProblem::kTooManyColours;
  }
  ReportProgress(progress, 100);
  HeldFrames held(heldFrameBytes);
  CanvasReach reach;
  // A frame that could not be made: nothing is written, as the frames share a canvas.
  const auto notMade = [&](int k) {
    const FrameRequest request = requestAt(static_cast<std::size_t>(k));
    char frameName[kFrameNameChars];
    fileNameOf(static_cast<std::size_t>(k), frameName);
    const double s = EffectiveScale(request.scale);
    const double radians = request.angle * 0.017453292519943295;
    const double c = std::fabs(std::cos(radians)), n = std::fabs(std::sin(radians));
    std::snprintf(result.frames.firstFailedName, sizeof result.frames.firstFailedName, "%s", frameName);
    result.frames.firstProblem = FrameProblem::kTooLarge;
    const double w = sprite.width + 2.0 * margin, h = sprite.height + 2.0 * margin;  // as turned
    result.frames.wantedWidth = std::ceil((w * c + h * n) * s);
    result.frames.wantedHeight = std::ceil((w * n + h * c) * s);
    return false;
  };
  // Frame k made: onto the canvas and held. False when the job ends here.
  const auto hold = [&](int k, SpriteFrame& frame) {
    Widen(reach, frame);
    // The canvas only grows with more frames: a sheet already over the limit is refused now.
    const SeriesCanvas canvas = CanvasOf(reach);
    if (sheet && !SheetFits(across, down, canvas.width, canvas.height)) {
      ReportProgress(progress, 100);
      NoteSheetTooLarge(result.frames, name, across, down, canvas, k + 1 < count);
      return false;
    }
    ClearOutputFailure();
    if (!held.Add(std::move(frame))) {
      NoteHeldFramesFailed(result, held);
      return false;
    }
    ReportProgress(progress, 100);
    return true;
  };
  // Status text shown (unless it was) and frame k made on this thread, after the first
  // `reported` positions of its progress were passed on from a worker.
  const auto turnInOrder = [&](int k, bool shown, std::size_t reported) {
    const FrameRequest request = requestAt(static_cast<std::size_t>(k));
    if (!shown) {
      if (CancelRequested(progress)) {
        result.frames.cancelled = true;
        return false;
      }
      char frameName[kFrameNameChars];
      fileNameOf(static_cast<std::size_t>(k), frameName);
      ShowGenerating(progress, frameName, request.angle, request.scale);
    }
    SkippingRelay relay{&progress, reported};
    SpriteFrame frame;
    if (!TurnOnce(reported > 0 ? relay.Progress() : progress, sprite, turner, request, threads, frame))
      return notMade(k);
    return hold(k, frame);
  };
  // Frames first.. made side by side; false when the job ends. resume: the frame from which
  // the rest go in order (count when none is left), shown and reported as for turnInOrder.
  const auto turnSideBySide = [&](int first, int workers, int& resume, bool& shown, std::size_t& reported) {
    SideBySide<SpriteFrame> frames(workers, [&](int k, const JobProgress& relayed, SpriteFrame& frame) {
      return TurnOnce(relayed, sprite, turner, requestAt(static_cast<std::size_t>(k)), 1, frame);
    });
    resume = first;
    shown = false;
    reported = 0;
    if (!frames.Start(first, count, workers)) return true;
    for (int k = first; k < count; ++k) {
      resume = k;
      shown = false;
      if (CancelRequested(progress)) {
        result.frames.cancelled = true;
        return false;
      }
      const FrameRequest request = requestAt(static_cast<std::size_t>(k));
      char frameName[kFrameNameChars];
      fileNameOf(static_cast<std::size_t>(k), frameName);
      ShowGenerating(progress, frameName, request.angle, request.scale);
      shown = true;
      SpriteFrame frame;
      const auto got = frames.Take(k, progress, frame, reported);
      if (got == SideBySide<SpriteFrame>::Got::kOutOfMemory) return true;  // memory ran out beside the other frames
      if (got == SideBySide<SpriteFrame>::Got::kNotMade) return notMade(k);
      if (!hold(k, frame)) return false;
      frames.Done(k);
    }
    resume = count;
    return true;
  };

  if (result.enlarge.enlarged) {
    // The first frame on its own, with every thread; the rest side by side where memory allows.
    if (!turnInOrder(0, false, 0)) return result;
    const int cores = threads > 0 ? threads : HardwareThreads();
    const int workers = cores > 1 && count > 2 ? SpriteWorkers(sprite, turner, count, requestAt, cores) : 0;
    int resume = 1;
    bool shown = false;
    std::size_t reported = 0;
    if (workers > 1) {
      // Shared read-only by the workers: the score table is built first.
      if (HasImage24(turner.enlarged) && !ScoreTableFits(turner.scores, turner.enlarged))
        BuildScoreTable(turner.enlarged, cores, turner.scores);
      if (!turnSideBySide(1, workers, resume, shown, reported)) return result;
    }
    for (int k = resume; k < count; ++k) {
      const bool first = k == resume;
      if (!turnInOrder(k, first && shown, first ? reported : 0)) return result;
    }
  }
  turner = SpriteTurner{};
  if (!result.enlarge.enlarged) {
    char first[kFrameNameChars];
    fileNameOf(0, first);
    std::snprintf(result.frames.firstFailedName, sizeof result.frames.firstFailedName, "%s", first);
    return result;
  }

  ClearOutputFailure();
  if (!held.StartTaking()) {
    NoteHeldFramesFailed(result, held);
    return result;
  }
  const SeriesCanvas canvas = CanvasOf(reach);
  bool handed = true;  // every frame so far was taken by the sink
  for (int k = 0; k < count; ++k) {
    if (CancelRequested(progress)) {
      result.frames.cancelled = true;
      return result;
    }
    SpriteFrame frame;
    ClearOutputFailure();
    if (!held.Take(frame)) {
      NoteHeldFramesFailed(result, held);
      return result;
    }
    char frameName[kFrameNameChars];
    fileNameOf(static_cast<std::size_t>(k), frameName);
    SinkFrame handing;
    handing.index = k;
    handing.count = count;
    handing.fileName = frameName;
    handing.sprite = &frame;
    handing.canvasWidth = canvas.width;
    handing.canvasHeight = canvas.height;
    handing.origin = OriginOn(reach, frame);
    handing.angle = requestAt(static_cast<std::size_t>(k)).angle;
    handing.pivotX = static_cast<double>(handing.origin.first) + frame.centreX;
    handing.pivotY = static_cast<double>(handing.origin.second) + frame.centreY;
    ClearOutputFailure();
    if (!sink.frame(sink.context, handing)) {
      // The series stops at the first frame that cannot be written.
      NoteFrameFailure(result.frames, frameName, FrameProblem::kNotWritten);
      handed = false;
      break;
    }
    if (sheet) continue;
    ++result.frames.framesWritten;
    ReportProgress(progress, 100);
  }
  bool finished = handed;
  if (handed && sink.finish) {
    ClearOutputFailure();
    if (sink.finish(sink.context, name)) {
      if (sheet) result.frames.framesWritten = 1;
    } else {
      NoteFrameFailure(result.frames, name, FrameProblem::kNotWritten);
      finished = false;
    }
  }
  // The data file goes out last, once every file it names is whole.
  if (finished && sink.data) {
    ClearOutputFailure();
    if (!sink.data(sink.context, name)) {
      NoteFrameFailure(result.frames, LastOutputFailure().path[0] ? LastOutputFailure().path : name,
                       FrameProblem::kNotWritten);
      result.frames.dataFailed = true;
    }
  }
  if (sheet) ReportProgress(progress, 100);
  return result;
}

}  // namespace quillet
