#include "quillet/sprite_job.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
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

// The enlargement by three smart 2x steps, handed over in memory, on up to `threads` threads.
bool EnlargeEightTimes(WorkingBitmap& bitmap, int threads) {
  for (int step = 0; step < 3; ++step) {
    const std::int32_t w = HeaderWidth(bitmap.header.get()), h = HeaderHeight(bitmap.header.get());
    if (std::int64_t{w} * 2 > INT32_MAX || std::int64_t{h} * 2 > INT32_MAX) return false;
    OutputBitmap output = CreateOutputBitmap(bitmap, 2 * w, 2 * h);
    if (!output.pixels || !EnlargeInto(bitmap, output, threads)) return false;
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
    out.pivotX = frame.pivotX - std::floor(frame.pivotX);
    out.pivotY = frame.pivotY - std::floor(frame.pivotY);
    return out;
  }
  out.image = BlankImage(box.right - box.left, box.bottom - box.top);
  for (std::int32_t y = box.top; y < box.bottom; ++y)
    for (std::int32_t x = box.left; x < box.right; ++x) out.image.At(x - box.left, y - box.top) = frame.image.At(x, y);
  out.centreX = frame.centreX - box.left;
  out.centreY = frame.centreY - box.top;
  out.pivotX = frame.pivotX - box.left;
  out.pivotY = frame.pivotY - box.top;
  return out;
}

// The point a frame turns about, in the enlargement (rows counted from its bottom edge). When
// placed, the frame is placed on its canvas by where the point lands, and the sampling phase
// is chosen among those that land it within kPivotReach of a point whose place within its
// pixel is (fractionX, fractionY): rounded to that grid, it then sits still from frame to
// frame, which the best phase alone leaves to chance within half a pixel each way.
struct PivotTarget {
  double row = 0.0, column = 0.0;
  bool placed = false;
  double fractionX = 0.0, fractionY = 0.0;
  const FramePlan* plan = nullptr;
};
constexpr double kPivotReach = 0.3;

bool LandsNearGrid(const void* context, PhaseOffset offset) {
  const PivotTarget& target = *static_cast<const PivotTarget*>(context);
  double x = 0.0, y = 0.0;
  LandingPoint(*target.plan, offset, target.row, target.column, x, y);
  const double dx = x - target.fractionX - std::round(x - target.fractionX);
  const double dy = y - target.fractionY - std::round(y - target.fractionY);
  return dx * dx + dy * dy <= kPivotReach * kPivotReach;
}

// One frame of the enlarged stand-ins at a user angle, with where the pivot lands in it;
// false when its size is not valid.
bool RenderSpriteFrame(const JobProgress& progress, const WorkingBitmap& enlarged, const StandInMap& map,
                       ScoreTable& scores, const FrameRequest& request, int threads, PivotTarget pivot,
                       SpriteFrame& frame) {
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
  pivot.plan = &plan;
  const PhaseOffset offset = PhaseSearch(progress, enlarged, plan, threads, &scores,
                                         pivot.placed ? PhaseFilter{LandsNearGrid, &pivot} : PhaseFilter{});
  ReportProgress(progress, 90);
  SamplingPass(enlarged, plan, offset, output, threads);
  ReportProgress(progress, 95);
  DetailPass(enlarged, plan, offset, output, threads);
  ReportProgress(progress, 98);
  if (!RgbaFromStandIns(output.header.get(), output.pixels, output.pixelBytes, map, frame.image)) return false;

  LandingPoint(plan, offset, plan.srcHeight / 2.0, plan.srcWidth / 2.0, frame.centreX, frame.centreY);
  LandingPoint(plan, offset, pivot.row, pivot.column, frame.pivotX, frame.pivotY);
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

namespace {

bool ImportMemoryRgba(void* context, AppState&, const char*, RgbaImage& rgba, InputReport& report) {
  auto& input = *static_cast<MemorySprite*>(context);
  report = InputReport{};
  report.width = input.sprite.width;
  report.height = input.sprite.height;
  rgba = std::move(input.sprite);
  return true;
}

bool ImportMemoryOver(void* context, AppState& app, const char* fileName) {
  auto& input = *static_cast<MemorySprite*>(context);
  app.importReport = InputReport{};
  if (std::strcmp(fileName, input.name) != 0) {
    LoadOutcome outcome;
    LoadBitmapFile(fileName, app.workingBitmap, &outcome);
    app.importReport = ReportOf(outcome);
    return HasImage24(app.workingBitmap);
  }
  app.importReport.width = input.sprite.width;
  app.importReport.height = input.sprite.height;
  if (!CompositeOver(input.sprite, input.background, app.workingBitmap))
    app.importReport.problem = InputProblem::kOutOfMemory;
  input.sprite = RgbaImage{};
  return HasImage24(app.workingBitmap);
}

bool InspectMemory(void* context, const char* fileName, InputReport& report) {
  const auto& input = *static_cast<const MemorySprite*>(context);
  if (std::strcmp(fileName, input.name) != 0) {
    report = ReportOf(InspectBitmapFile(fileName));
    return report.problem == InputProblem::kNone || report.problem == InputProblem::kTooLarge;
  }
  report = InputReport{};
  report.width = input.sprite.width;
  report.height = input.sprite.height;
  return true;
}

}  // namespace

ImageImporter MemorySpriteImporter(MemorySprite& input) {
  ImageImporter importer;
  importer.import = ImportMemoryOver;
  importer.inspect = InspectMemory;
  importer.importRgba = ImportMemoryRgba;
  importer.context = &input;
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

int RequestCount(const RunParameters& run) {
  if (run.directions > 0) return run.directions;
  return run.frameCount <= 1 ? 1 : run.frameCount;
}

FrameRequest RequestAt(const RunParameters& run, int index) {
  if (run.directions > 0) return {run.angle + 360.0 * index / run.directions, run.scale};
  if (run.frameCount <= 1) return {run.angle, run.scale};
  return {Interpolate(run.angle, run.endAngle, index, run.frameCount),
          Interpolate(run.scale, run.endScale, index, run.frameCount)};
}

namespace {

// The stand-ins' enlargement for count requests, request k given by requestAt(k), when any
// of them needs it; false when it could not be made.
template <typename RequestAtIndex>
bool PrepareTurnsOver(const RgbaImage& sprite, std::size_t count, RequestAtIndex requestAt, SpriteTurner& turner,
                      int threads = 0) {
  turner = SpriteTurner{};
  if (sprite.width <= 0 || sprite.height <= 0) return false;
  turner.pivotX = sprite.width / 2.0;
  turner.pivotY = sprite.height / 2.0;
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
    turner.margin = MarginFor(smallest);
    if (turner.map.outOfColours || !StandInBitmap(sprite, turner.map, turner.margin, turner.enlarged) ||
        !EnlargeEightTimes(turner.enlarged, threads))
      return false;
  }
  return true;
}

// Where a point of the sprite lies when it is turned by quarters x 90 degrees as QuarterTurn
// turns it.
void QuarterTurnPoint(const RgbaImage& sprite, int quarters, double x, double y, double& tx, double& ty) {
  switch (((quarters % 4) + 4) % 4) {
    case 1: tx = y; ty = sprite.width - x; break;
    case 2: tx = sprite.width - x; ty = sprite.height - y; break;
    case 3: tx = sprite.height - y; ty = x; break;
    default: tx = x; ty = y; break;
  }
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
    QuarterTurnPoint(sprite, quarters, turner.pivotX, turner.pivotY, turned.pivotX, turned.pivotY);
  } else {
    // The enlargement is eight times the sprite with its margin, its rows counted from the bottom.
    PivotTarget pivot;
    pivot.row = 8.0 * (sprite.height + turner.margin - turner.pivotY);
    pivot.column = 8.0 * (turner.pivotX + turner.margin);
    pivot.placed = turner.placeByPivot;
    pivot.fractionX = turner.pivotX - std::floor(turner.pivotX);
    pivot.fractionY = turner.pivotY - std::floor(turner.pivotY);
    if (!HasImage24(turner.enlarged) || !RenderSpriteFrame(progress, turner.enlarged, turner.map, turner.scores,
                                                           request, threads, pivot, turned))
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

// The frames of a series that are made and not yet written, each under its place in the
// series: they may be made in another order than they are taken. In memory while they take
// no more than a bound of bytes; past it the ones held so far go, packed one after the other,
// to a file in a temporary directory of the job's own, made when first needed; the file is
// gone once closed or once the process ends, the directory when the job ends.
class HeldFrames {
 public:
  explicit HeldFrames(std::uint64_t bound) : bound_(bound) {}
  HeldFrames(const HeldFrames&) = delete;
  HeldFrames& operator=(const HeldFrames&) = delete;
  ~HeldFrames() { Discard(); }

  // Frame index of the series, held once. False when the file could not be made or written
  // (LastOutputFailure says why).
  bool Add(std::size_t index, SpriteFrame frame) {
    bytes_ += HeldBytesOf(frame);
    memory_[index] = std::move(frame);
    return bytes_ <= bound_ || Spill();
  }

  // Ends adding: the frames are then taken, each once. False when the file failed.
  bool StartTaking() {
    if (!file_) return true;
    errno = 0;
    if (std::fflush(file_) != 0 || std::ferror(file_)) return Failed();
    readAt_ = written_;
    return true;
  }

  // Frame index; false when it is not held or the file could not be read back.
  bool Take(std::size_t index, SpriteFrame& frame) {
    const auto held = memory_.find(index);
    if (held != memory_.end()) {
      frame = std::move(held->second);
      memory_.erase(held);
      return true;
    }
    if (index >= offsets_.size() || offsets_[index] == kNotInFile) return false;
    const std::uint64_t offset = offsets_[index];
    offsets_[index] = kNotInFile;
    errno = 0;
    // Frames taken in the order they were held are read on from where the last one ended.
    if (offset != readAt_ && !SeekScratchFile(file_, offset)) return Failed();
    // A frame is cut from a 24-bit frame within the limit: no more pixels than that holds.
    std::int32_t size[2];
    double points[4];
    if (std::fread(size, sizeof size, 1, file_) != 1 || std::fread(points, sizeof points, 1, file_) != 1 ||
        size[0] <= 0 || size[1] <= 0 ||
        static_cast<std::uint64_t>(size[0]) * static_cast<std::uint64_t>(size[1]) > kMaxPixelBlockBytes / 3)
      return Failed();
    frame.image = BlankImage(size[0], size[1]);
    frame.centreX = points[0];
    frame.centreY = points[1];
    frame.pivotX = points[2];
    frame.pivotY = points[3];
    if (std::fread(frame.image.pixels.data(), sizeof(Rgba), frame.image.pixels.size(), file_) !=
        frame.image.pixels.size())
      return Failed();
    readAt_ = offset + RecordBytes(frame);
    return true;
  }

  const char* Directory() const { return temporaries_ ? temporaries_->directory : ""; }

 private:
  static constexpr std::uint64_t kNotInFile = UINT64_MAX;

  static std::uint64_t RecordBytes(const SpriteFrame& frame) {
    return 2 * sizeof(std::int32_t) + 4 * sizeof(double) +
           static_cast<std::uint64_t>(frame.image.pixels.size()) * sizeof(Rgba);
  }

  bool Spill() {
    if (!file_ && !Open()) return false;
    errno = 0;
    for (auto& [index, frame] : memory_) {
      const std::int32_t size[2] = {frame.image.width, frame.image.height};
      const double points[4] = {frame.centreX, frame.centreY, frame.pivotX, frame.pivotY};
      if (std::fwrite(size, sizeof size, 1, file_) != 1 || std::fwrite(points, sizeof points, 1, file_) != 1 ||
          std::fwrite(frame.image.pixels.data(), sizeof(Rgba), frame.image.pixels.size(), file_) !=
              frame.image.pixels.size())
        return Failed();
      if (offsets_.size() <= index) offsets_.resize(index + 1, kNotInFile);
      offsets_[index] = written_;
      written_ += RecordBytes(frame);
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
  std::map<std::size_t, SpriteFrame> memory_;  // by index
  std::vector<std::uint64_t> offsets_;          // by index: where each frame in the file starts
  std::unique_ptr<JobTemporaries> temporaries_;
  char path_[kTempPathChars] = {};
  std::FILE* file_ = nullptr;
  std::uint64_t written_ = 0;  // bytes of the file
  std::uint64_t readAt_ = 0;   // where the file's position stands once reading began
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

// The pictures a set turns: the input's cells left to right and top to bottom, without the
// wholly transparent cells that end it (the first is kept when every one is), or the input
// itself. False, with the line that says why in refused, when the cells do not divide it.
bool CutCells(const RunParameters& run, RgbaImage input, std::vector<RgbaImage>& cells, char (&refused)[kSetRefusedChars]) {
  cells.clear();
  if (run.cellWidth <= 0 || run.cellHeight <= 0) {
    cells.push_back(std::move(input));
    return true;
  }
  const std::int32_t w = run.cellWidth, h = run.cellHeight;
  if (input.width % w != 0 || input.height % h != 0) {
    std::snprintf(refused, sizeof refused,
                  "-cells %dx%d does not divide \"%s\" of %d x %d pixels into whole cells", static_cast<int>(w),
                  static_cast<int>(h), run.inputName, static_cast<int>(input.width), static_cast<int>(input.height));
    return false;
  }
  const std::int64_t across = input.width / w, down = input.height / h;
  if (across * down > kMaxSetFrames) {
    std::snprintf(refused, sizeof refused, "-cells %dx%d cuts \"%s\" into %lld cells, over the limit of %lld frames",
                  static_cast<int>(w), static_cast<int>(h), run.inputName, static_cast<long long>(across * down),
                  static_cast<long long>(kMaxSetFrames));
    return false;
  }
  for (std::int64_t k = 0; k < across * down; ++k) {
    const std::int32_t x0 = static_cast<std::int32_t>(k % across) * w, y0 = static_cast<std::int32_t>(k / across) * h;
    RgbaImage cell = BlankImage(w, h);
    for (std::int32_t y = 0; y < h; ++y)
      std::memcpy(&cell.At(0, y), &input.At(x0, y0 + y), static_cast<std::size_t>(w) * sizeof(Rgba));
    cells.push_back(std::move(cell));
  }
  while (cells.size() > 1 && VisibleBox(cells.back()).Empty()) cells.pop_back();
  return true;
}

// The pivot of run on a width x height picture (its centre when none was given); false, with
// the line that says why in refused, when it lies outside.
bool PivotOf(const RunParameters& run, std::int32_t width, std::int32_t height, double& x, double& y,
             char (&refused)[kSetRefusedChars]) {
  if (!run.pivotGiven) {
    x = width / 2.0;
    y = height / 2.0;
    return true;
  }
  x = run.pivotX;
  y = run.pivotY;
  if (x >= 0.0 && x <= width && y >= 0.0 && y <= height) return true;
  const bool cells = run.cellWidth > 0;
  std::snprintf(refused, sizeof refused, "-pivot %g,%g lies outside the %d x %d pixels of %s\"%s\"", x, y,
                static_cast<int>(width), static_cast<int>(height), cells ? "each cell of " : "", run.inputName);
  return false;
}

}  // namespace

JobResult RunSpriteJob(AppState& app, const JobProgress& progress, const ImageImporter& importer,
                       const FrameSink& sink, int threads, std::uint64_t heldFrameBytes) {
  const RunParameters& run = app.runParameters;
  JobResult result;
  ShowProcessing(progress, run.inputName);
  const bool set = IsSpriteSet(run);
  // A set's frames go direction by direction, each direction through every cell: frame
  // index = direction x cells + cell. The cells are turned one after the other, each in
  // every direction, so that each one's enlargement is made once.
  const int perCell = RequestCount(run);
  const auto requestAt = [&](std::size_t k) { return RequestAt(run, static_cast<int>(k)); };
  const bool sheet = sink.sheetColumns > 0;

  RgbaImage input;
  std::vector<RgbaImage> cells;
  result.enlarge.inputImported = LoadSprite(app, importer, run.inputName, input, result.enlarge.input);
  double pivotX = 0.0, pivotY = 0.0;
  if (result.enlarge.inputImported) {
    if (!CutCells(run, std::move(input), cells, result.setRefused) ||
        !PivotOf(run, cells.front().width, cells.front().height, pivotX, pivotY, result.setRefused))
      return result;
  } else {
    cells.resize(1);
  }
  const std::int64_t cellCount = static_cast<std::int64_t>(cells.size());
  if (set && cellCount * perCell > kMaxSetFrames) {
    char turns[64];
    std::snprintf(turns, sizeof turns, run.directions > 0 ? "-directions %d" : "-frames %d", perCell);
    std::snprintf(result.setRefused, sizeof result.setRefused,
                  "%s of %lld cell%s of \"%s\" make %lld frames, over the limit of %lld of a set", turns,
                  static_cast<long long>(cellCount), cellCount == 1 ? "" : "s", run.inputName,
                  static_cast<long long>(cellCount * perCell), static_cast<long long>(kMaxSetFrames));
    return result;
  }
  const int count = static_cast<int>(cellCount * perCell);
  const bool byDirection = run.directions > 0 || run.cellWidth > 0;  // laid out and told as a set
  result.frames.framesWanted = sheet ? 1 : count;

  char name[kPathChars];
  SinkOutputName(sink, run.outputName, name);
  auto fileNameOf = [&](std::size_t k, char (&out)[kFrameNameChars]) {
    SinkFileName(sink, run, static_cast<int>(k), count, out);
  };

  // A sheet's cells are at least a pixel each: a sheet of too many of them is refused before
  // anything is made.
  const SheetGrid grid = byDirection ? SheetGridOf(sink.sheetColumns, cellCount, perCell)
                                     : SheetGridOf(sink.sheetColumns, count, 1);
  const std::int64_t across = grid.across, down = sheet ? grid.down : 1;
  if (result.enlarge.inputImported && sheet && !SheetFits(across, down, 1, 1)) {
    result.enlarge.enlarged = true;
    ReportProgress(progress, 10);
    ReportProgress(progress, 100);
    NoteSheetTooLarge(result.frames, name, across, down, SeriesCanvas{}, true);
    return result;
  }
  double smallest = 1.0;
  for (int k = 0; k < perCell; ++k) smallest = std::min(smallest, EffectiveScale(requestAt(k).scale));
  const std::int32_t margin = MarginFor(smallest);
  const RgbaImage* sprite = &cells.front();
  if (result.enlarge.inputImported) {
    // The margin must fit within the enlargement's limit too.
    if (!FitsEnlargement(std::int64_t{sprite->width} + 2 * margin, std::int64_t{sprite->height} + 2 * margin)) {
      result.enlarge.inputImported = false;
      result.enlarge.input.problem = InputProblem::kTooLarge;
      result.enlarge.input.width = sprite->width;
      result.enlarge.input.height = sprite->height;
    }
  }
  // Every name is known once the cells are: none is written unless all may be.
  if (result.enlarge.inputImported && !ClaimedOutputs(sink, run, count, result)) return result;
  ReportProgress(progress, 10);
  SpriteTurner turner;
  // Cell c's turns made ready; false when its enlargement could not be made.
  const auto prepare = [&](std::int64_t c) {
    sprite = &cells[static_cast<std::size_t>(c)];
    if (!PrepareTurnsOver(*sprite, static_cast<std::size_t>(perCell), requestAt, turner, threads)) return false;
    turner.pivotX = pivotX;
    turner.pivotY = pivotY;
    turner.placeByPivot = set;
    return true;
  };
  result.enlarge.enlarged = result.enlarge.inputImported && prepare(0);
  if (result.enlarge.inputImported && turner.map.outOfColours) {
    result.enlarge.inputImported = false;
    result.enlarge.input.problem = InputProblem::kTooManyColours;
  }
  ReportProgress(progress, 100);
  HeldFrames held(heldFrameBytes);
  CanvasReach reach = set ? PivotReach(pivotX, pivotY) : CanvasReach{};
  std::int64_t cell = 0;  // being turned
  const auto seriesIndex = [&](int k) { return static_cast<std::size_t>(k * cellCount + cell); };
  // A frame that could not be made: nothing is written, as the frames share a canvas.
  const auto notMade = [&](int k) {
    const FrameRequest request = requestAt(static_cast<std::size_t>(k));
    char frameName[kFrameNameChars];
    fileNameOf(seriesIndex(k), frameName);
    const double s = EffectiveScale(request.scale);
    const double radians = request.angle * 0.017453292519943295;
    const double c = std::fabs(std::cos(radians)), n = std::fabs(std::sin(radians));
    std::snprintf(result.frames.firstFailedName, sizeof result.frames.firstFailedName, "%s", frameName);
    result.frames.firstProblem = FrameProblem::kTooLarge;
    const double w = sprite->width + 2.0 * margin, h = sprite->height + 2.0 * margin;  // as turned
    result.frames.wantedWidth = std::ceil((w * c + h * n) * s);
    result.frames.wantedHeight = std::ceil((w * n + h * c) * s);
    return false;
  };
  // Frame k of the cell made: onto the canvas and held. False when the job ends here.
  const auto hold = [&](int k, SpriteFrame& frame) {
    Widen(reach, frame);
    // The canvas only grows with more frames: a sheet already over the limit is refused now.
    CanvasReach grown = reach;
    if (run.keepCanvas) KeepPictureCanvas(grown, sprite->width, sprite->height, pivotX, pivotY);
    const SeriesCanvas canvas = CanvasOf(grown);
    if (sheet && !SheetFits(across, down, canvas.width, canvas.height)) {
      ReportProgress(progress, 100);
      NoteSheetTooLarge(result.frames, name, across, down, canvas,
                        cell + 1 < cellCount || k + 1 < perCell);
      return false;
    }
    ClearOutputFailure();
    if (!held.Add(seriesIndex(k), std::move(frame))) {
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
      fileNameOf(seriesIndex(k), frameName);
      ShowGenerating(progress, frameName, request.angle, request.scale);
    }
    SkippingRelay relay{&progress, reported};
    SpriteFrame frame;
    if (!TurnOnce(reported > 0 ? relay.Progress() : progress, *sprite, turner, request, threads, frame))
      return notMade(k);
    return hold(k, frame);
  };
  // Frames first.. made side by side; false when the job ends. resume: the frame from which
  // the rest go in order (perCell when none is left), shown and reported as for turnInOrder.
  const auto turnSideBySide = [&](int first, int workers, int& resume, bool& shown, std::size_t& reported) {
    SideBySide<SpriteFrame> frames(workers, [&](int k, const JobProgress& relayed, SpriteFrame& frame) {
      return TurnOnce(relayed, *sprite, turner, requestAt(static_cast<std::size_t>(k)), 1, frame);
    });
    resume = first;
    shown = false;
    reported = 0;
    if (!frames.Start(first, perCell, workers)) return true;
    for (int k = first; k < perCell; ++k) {
      resume = k;
      shown = false;
      if (CancelRequested(progress)) {
        result.frames.cancelled = true;
        return false;
      }
      const FrameRequest request = requestAt(static_cast<std::size_t>(k));
      char frameName[kFrameNameChars];
      fileNameOf(seriesIndex(k), frameName);
      ShowGenerating(progress, frameName, request.angle, request.scale);
      shown = true;
      SpriteFrame frame;
      const auto got = frames.Take(k, progress, frame, reported);
      if (got == SideBySide<SpriteFrame>::Got::kOutOfMemory) return true;  // memory ran out beside the other frames
      if (got == SideBySide<SpriteFrame>::Got::kNotMade) return notMade(k);
      if (!hold(k, frame)) return false;
      frames.Done(k);
    }
    resume = perCell;
    return true;
  };
  // Every turn of the cell being turned; false when the job ends.
  const auto turnCell = [&]() {
    // The first frame on its own, with every thread; the rest side by side where memory allows.
    if (!turnInOrder(0, false, 0)) return false;
    const int cores = threads > 0 ? threads : HardwareThreads();
    const int workers = cores > 1 && perCell > 2 ? SpriteWorkers(*sprite, turner, perCell, requestAt, cores) : 0;
    int resume = 1;
    bool shown = false;
    std::size_t reported = 0;
    if (workers > 1) {
      // Shared read-only by the workers: the score table is built first.
      if (HasImage24(turner.enlarged) && !ScoreTableFits(turner.scores, turner.enlarged))
        BuildScoreTable(turner.enlarged, cores, turner.scores);
      if (!turnSideBySide(1, workers, resume, shown, reported)) return false;
    }
    for (int k = resume; k < perCell; ++k) {
      const bool first = k == resume;
      if (!turnInOrder(k, first && shown, first ? reported : 0)) return false;
    }
    return true;
  };

  if (result.enlarge.enlarged) {
    for (cell = 0; cell < cellCount; ++cell) {
      if (cell > 0) {
        if (CancelRequested(progress)) {
          result.frames.cancelled = true;
          return result;
        }
        if (!prepare(cell)) {
          if (turner.map.outOfColours) {
            result.enlarge.inputImported = false;
            result.enlarge.input.problem = InputProblem::kTooManyColours;
          }
          result.enlarge.enlarged = false;
          break;
        }
      }
      if (!turnCell()) return result;
    }
  }
  turner = SpriteTurner{};
  if (!result.enlarge.enlarged) {
    char first[kFrameNameChars];
    fileNameOf(0, first);
    std::snprintf(result.frames.firstFailedName, sizeof result.frames.firstFailedName, "%s", first);
    return result;
  }
  if (run.keepCanvas) KeepPictureCanvas(reach, cells.front().width, cells.front().height, pivotX, pivotY);
  cells.clear();

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
    if (!held.Take(static_cast<std::size_t>(k), frame)) {
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
    const int direction = static_cast<int>(k / cellCount);
    if (byDirection) {
      handing.cell = static_cast<int>(k % cellCount);
      handing.cells = static_cast<int>(cellCount);
      handing.direction = direction;
      handing.directions = perCell;
    }
    handing.angle = requestAt(static_cast<std::size_t>(direction)).angle;
    handing.pivotX = static_cast<double>(handing.origin.first) + (set ? frame.pivotX : frame.centreX);
    handing.pivotY = static_cast<double>(handing.origin.second) + (set ? frame.pivotY : frame.centreY);
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
