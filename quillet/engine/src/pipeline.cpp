#include "quillet/pipeline.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "quillet/ascii.h"
#include "quillet/bitmap.h"
#include "quillet/enlarge.h"
#include "quillet/files.h"
#include "quillet/render.h"

namespace quillet {
namespace {

// Status texts hold an absolute path of up to kPathChars and a line of numbers.
constexpr std::size_t kStatusChars = kFrameNameChars + 128;

InputProblem ProblemOf(LoadFailure failure) {
  switch (failure) {
    case LoadFailure::kNone: return InputProblem::kNone;
    case LoadFailure::kUnreadable: return InputProblem::kUnreadable;
    case LoadFailure::kNotBmp: return InputProblem::kNotImage;
    case LoadFailure::kUnsupported: return InputProblem::kUnsupported;
    case LoadFailure::kTooLarge: return InputProblem::kTooLarge;
    case LoadFailure::kTruncated: return InputProblem::kTruncated;
  }
  return InputProblem::kUnsupported;
}

}  // namespace

InputReport ReportOf(const LoadOutcome& outcome) {
  InputReport report;
  report.problem = ProblemOf(outcome.failure);
  report.systemError = outcome.systemError;
  report.width = outcome.width;
  report.height = outcome.height;
  return report;
}

namespace {

// Runs an allocating step; memory that runs out inside it makes it fail and is noted.
template <typename Step>
bool Guarded(bool& outOfMemory, Step step) {
  try {
    return step();
  } catch (const std::bad_alloc&) {
    outOfMemory = true;
    return false;
  }
}

bool Import(const ImageImporter& importer, AppState& app, const char* fileName) {
  app.importReport = InputReport{};
  if (importer.import) return importer.import(importer.context, app, fileName);
  LoadOutcome outcome;
  LoadBitmapFile(fileName, app.workingBitmap, &outcome);
  app.importReport = ReportOf(outcome);
  if (outcome.failure == LoadFailure::kNone && !HasImage24(app.workingBitmap))
    app.importReport.problem = InputProblem::kUnsupported;
  return HasImage24(app.workingBitmap);
}

// The input's size from its header; false when it cannot be told that way.
bool InspectInput(const ImageImporter& importer, const char* fileName, InputReport& report) {
  if (importer.inspect) return importer.inspect(importer.context, fileName, report);
  report = ReportOf(InspectBitmapFile(fileName));
  return report.problem == InputProblem::kNone || report.problem == InputProblem::kTooLarge;
}

// The absolute form of name for display, at most kPathChars with its terminator; the name
// as given when that does not fit.
void DisplayPath(const char* name, char (&out)[kFrameNameChars]) {
  if (!AbsolutePath(name, out, kPathChars)) std::snprintf(out, sizeof out, "%s", name);
}

void ShowGenerating(const AppState& app, const char* fileName, double angle, double scale) {
  char path[kFrameNameChars];
  DisplayPath(fileName, path);
  char text[kStatusChars];
  std::snprintf(text, sizeof text, "Generating \"%s\"\n(angle %g degrees) (scale %g%%)", path, angle,
                scale > 0.0 ? scale * 100.0 : 100.0);
  ReportProgress(app, 0);
  ShowStatus(app, text);
}

// Keeps where and why a temporary file could not be written.
void NoteTemporaryFailure(EnlargeResult& result) {
  result.temporaryFailed = true;
  DirectoryOf(LastOutputFailure().path, result.temporaryDirectory);
  std::snprintf(result.temporaryReason, sizeof result.temporaryReason, "%s", LastOutputFailure().reason);
}


bool HasBmpExtension(const char* name) {
  const char* dot = std::strrchr(name, '.');
  if (!dot || dot - name < 5) return false;
  return LowerAscii(dot[1]) == 'b' && LowerAscii(dot[2]) == 'm' && LowerAscii(dot[3]) == 'p';
}

}  // namespace

std::uint64_t MaxEnlargedBytes() {
  return sizeof(void*) < 8 ? kMaxPixelBlockBytes / 4 : kMaxPixelBlockBytes;
}

bool FitsEnlargement(std::int64_t width, std::int64_t height) {
  if (width <= 0 || height <= 0 || width > (std::int64_t{1} << 24) || height > (std::int64_t{1} << 24)) return false;
  return static_cast<std::uint64_t>(Stride24(8 * width)) * static_cast<std::uint64_t>(8 * height) <=
         MaxEnlargedBytes();
}

void OutputFileName(const char* outputName, char (&name)[kPathChars]) {
  const std::size_t length = outputName ? strnlen(outputName, kPathChars - 1) : 0;
  if (length > 0) std::memcpy(name, outputName, length);
  name[length] = '\0';
  if (!HasBmpExtension(name) && length + 4 < kPathChars) std::memcpy(name + length, ".bmp", 5);
}

void FrameFileName(const char* name, int frameCount, int index, char (&frameName)[kFrameNameChars]) {
  const std::size_t length = strnlen(name, kPathChars - 1);
  std::memcpy(frameName, name, length);
  frameName[length] = '\0';
  const char* dot = std::strrchr(frameName, '.');
  std::size_t p = dot ? static_cast<std::size_t>(dot - frameName) : length;
  while (p + 8 >= kPathChars) --p;
  const char* format = frameCount < 10 ? "_%d.bmp" : frameCount < 100 ? "_%02d.bmp" : frameCount < 1000 ? "_%03d.bmp" : "_%04d.bmp";
  std::snprintf(frameName + p, sizeof frameName - p, format, index + 1);
}

double Interpolate(double start, double end, int index, int count) {
  return ((end - start) * index) / (count - 1) + start;
}

EnlargeResult EnlargeImage(AppState& app, const ImageImporter& importer, const char* inputName,
                           const char* tempName, bool reload) {
  EnlargeResult result;
  ReportProgress(app, 0);
  {
    char path[kFrameNameChars];
    DisplayPath(inputName, path);
    char text[kStatusChars];
    std::snprintf(text, sizeof text, "Processing image file \"%s\"", path);
    ShowStatus(app, text);
  }
  ReportProgress(app, 5);

  // A picture whose enlargement would be over the limit is refused from its header, before
  // it is decoded; one whose header could not tell is checked once it is read.
  InputReport inspected;
  bool memoryOut = false;
  ClearOutputFailure();
  if (InspectInput(importer, inputName, inspected) && !FitsEnlargement(inspected.width, inspected.height)) {
    app.workingBitmap = WorkingBitmap{};
    result.input = inspected;
    result.input.problem = InputProblem::kTooLarge;
  } else {
    result.inputImported = Guarded(memoryOut, [&] { return Import(importer, app, inputName); });
    result.input = app.importReport;
    if (memoryOut) result.input.problem = InputProblem::kOutOfMemory;
    const std::int32_t width = HeaderWidth(app.workingBitmap.header.get());
    const std::int32_t height = HeaderHeight(app.workingBitmap.header.get());
    if (result.inputImported && !FitsEnlargement(width, height)) {
      result.inputImported = false;
      result.input.problem = InputProblem::kTooLarge;
      result.input.width = width;
      result.input.height = height;
      app.workingBitmap = WorkingBitmap{};
    }
  }
  ReportProgress(app, 10);

  if (!result.inputImported && OutputFailed()) NoteTemporaryFailure(result);

  // intact: the working bitmap holds this job's image at the size reached so far.
  bool intact = result.inputImported;
  constexpr int kStepDone[3] = {25, 50, 80};
  constexpr int kReloadDone[3] = {35, 65, 90};
  for (int step = 0; step < 3; ++step) {
    bool written = false;  // this call created tempName, whole
    if (intact) {
      ClearOutputFailure();
      written = intact = Guarded(memoryOut, [&] {
        return EnlargeStep(app.workingBitmap, tempName, OutputMode::kCreateNew);
      });
      if (!written && OutputFailed()) NoteTemporaryFailure(result);
    }
    ReportProgress(app, kStepDone[step]);
    if (step == 2 && !reload) break;
    if (intact) intact = Guarded(memoryOut, [&] { return Import(importer, app, tempName); });
    if (written) std::remove(tempName);
    ReportProgress(app, kReloadDone[step]);
  }
  if (!intact) app.workingBitmap = WorkingBitmap{};
  result.enlarged = intact;
  result.outOfMemory = result.inputImported && memoryOut;
  ReportProgress(app, 100);
  return result;
}

FramesResult RunFrames(AppState& app, int threads) {
  const RunParameters& run = app.runParameters;
  FramesResult result;
  char name[kPathChars];
  OutputFileName(run.outputName, name);
  ScoreTable scores;  // built by the first frame, shared by the rest

  auto render = [&](const char* fileName, double angle, double scale) {
    ShowGenerating(app, fileName, angle, scale);
    const WorkingBitmap& source = app.workingBitmap;
    const FramePlan plan =
        PlanFrame(HeaderWidth(source.header.get()), HeaderHeight(source.header.get()), -angle, scale);
    FrameProblem problem = FrameProblem::kNone;
    bool memoryOut = false;
    ClearOutputFailure();
    if (HasImage24(source) && !plan.valid) {
      problem = FrameProblem::kTooLarge;
      ReportProgress(app, 100);
    } else if (!Guarded(memoryOut, [&] { return RenderFrame(app, -angle, scale, fileName, threads, &scores); })) {
      problem = memoryOut ? FrameProblem::kOutOfMemory : FrameProblem::kNotWritten;
    }
    if (problem == FrameProblem::kNone) {
      ++result.framesWritten;
      return true;
    }
    // The series stops at the first frame that was not written.
    std::snprintf(result.firstFailedName, sizeof result.firstFailedName, "%s", fileName);
    std::snprintf(result.failureReason, sizeof result.failureReason, "%s", LastOutputFailure().reason);
    result.firstProblem = problem;
    result.wantedWidth = plan.wantedW;
    result.wantedHeight = plan.wantedH;
    return false;
  };

  if (run.frameCount <= 1) {
    result.framesWanted = 1;
    render(name, run.angle, run.scale);
    return result;
  }
  result.framesWanted = run.frameCount;
  for (int i = 0; i < run.frameCount; ++i) {
    const double angle = Interpolate(run.angle, run.endAngle, i, run.frameCount);
    const double scale = Interpolate(run.scale, run.endScale, i, run.frameCount);
    char frameName[kFrameNameChars];
    FrameFileName(name, run.frameCount, i, frameName);
    if (!render(frameName, angle, scale)) break;
  }
  return result;
}

JobResult RunJob(AppState& app, const ImageImporter& importer) {
  JobResult result;
  JobTemporaries temporaries;
  ClearOutputFailure();
  if (!CreateJobTemporaries(temporaries)) {
    result.enlarge.temporaryFailed = true;
    std::snprintf(result.enlarge.temporaryDirectory, sizeof result.enlarge.temporaryDirectory, "%s",
                  temporaries.directory);
    std::snprintf(result.enlarge.temporaryReason, sizeof result.enlarge.temporaryReason, "%s",
                  LastOutputFailure().reason);
    return result;
  }
  app.temporaries = &temporaries;
  result.enlarge = EnlargeImage(app, importer, app.runParameters.inputName, temporaries.enlargeName, true);
  app.temporaries = nullptr;
  RemoveJobTemporaries(temporaries);
  result.frames = RunFrames(app);
  return result;
}

}  // namespace quillet
