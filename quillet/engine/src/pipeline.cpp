#include "quillet/pipeline.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "quillet/ascii.h"
#include "quillet/bitmap.h"
#include "quillet/enlarge.h"
#include "quillet/files.h"
#include "quillet/job.h"
#include "quillet/render.h"
#include "quillet/sprite_job.h"
#include "job_internal.h"
#include "parallel.h"
#include "side_by_side.h"

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

bool ImportInput(const ImageImporter& importer, AppState& app, const char* fileName) {
  app.importReport = InputReport{};
  if (importer.import) return importer.import(importer.context, app, fileName);
  LoadOutcome outcome;
  LoadBitmapFile(fileName, app.workingBitmap, &outcome);
  app.importReport = ReportOf(outcome);
  if (outcome.failure == LoadFailure::kNone && !HasImage24(app.workingBitmap))
    app.importReport.problem = InputProblem::kUnsupported;
  return HasImage24(app.workingBitmap);
}

bool InspectInput(const ImageImporter& importer, const char* fileName, InputReport& report) {
  if (importer.inspect) return importer.inspect(importer.context, fileName, report);
  report = ReportOf(InspectBitmapFile(fileName));
  return report.problem == InputProblem::kNone || report.problem == InputProblem::kTooLarge;
}

namespace {

// The absolute form of name for display, at most kPathChars with its terminator; the name
// as given when that does not fit.
void DisplayPath(const char* name, char (&out)[kFrameNameChars]) {
  if (!AbsolutePath(name, out, kPathChars)) std::snprintf(out, sizeof out, "%s", name);
}

}  // namespace

void ShowProcessing(const JobProgress& progress, const char* inputName) {
  char path[kFrameNameChars];
  DisplayPath(inputName, path);
  char text[kStatusChars];
  std::snprintf(text, sizeof text, "Processing image file \"%s\"", path);
  ReportProgress(progress, 0);
  ShowStatus(progress, text);
}

void ShowGenerating(const JobProgress& progress, const char* fileName, double angle, double scale) {
  char path[kFrameNameChars];
  DisplayPath(fileName, path);
  char text[kStatusChars];
  std::snprintf(text, sizeof text, "Generating \"%s\"\n(angle %g degrees) (scale %g%%)", path, angle,
                scale > 0.0 ? scale * 100.0 : 100.0);
  ReportProgress(progress, 0);
  ShowStatus(progress, text);
}

void NoteFrameFailure(FramesResult& result, const char* fileName, FrameProblem problem) {
  std::snprintf(result.firstFailedName, sizeof result.firstFailedName, "%s", fileName);
  std::snprintf(result.failureReason, sizeof result.failureReason, "%s", LastOutputFailure().reason);
  result.firstProblem = problem;
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

// Keeps where and why a temporary file could not be written.
void NoteTemporaryFailure(EnlargeResult& result) {
  result.temporaryFailed = true;
  DirectoryOf(LastOutputFailure().path, result.temporaryDirectory);
  std::snprintf(result.temporaryReason, sizeof result.temporaryReason, "%s", LastOutputFailure().reason);
}


// BMP names keep their first rule: the last '.' at index 5 or later, followed by b, m, p.
bool HasBmpExtension(const char* name) {
  const char* dot = std::strrchr(name, '.');
  if (!dot || dot - name < 5) return false;
  return LowerAscii(dot[1]) == 'b' && LowerAscii(dot[2]) == 'm' && LowerAscii(dot[3]) == 'p';
}

bool HasExtension(const char* name, std::size_t length, const char* extension) {
  if (std::strcmp(extension, "bmp") == 0) return HasBmpExtension(name);
  return EndsWithExtension(name, length, extension);
}

}  // namespace

std::uint64_t MaxEnlargedBytes() {
  return sizeof(void*) < 8 ? kMaxPixelBlockBytes / 4 : kMaxPixelBlockBytes;
}

bool FitsEnlargement(std::int64_t width, std::int64_t height, std::uint64_t limit) {
  if (width <= 0 || height <= 0 || width > (std::int64_t{1} << 24) || height > (std::int64_t{1} << 24)) return false;
  return static_cast<std::uint64_t>(Stride24(8 * width)) * static_cast<std::uint64_t>(8 * height) <= limit;
}

bool EndsWithExtension(const char* name, std::size_t length, const char* extension) {
  const std::size_t e = std::strlen(extension);
  if (length < e + 1 || name[length - e - 1] != '.') return false;
  for (std::size_t k = 0; k < e; ++k)
    if (LowerAscii(name[length - e + k]) != LowerAscii(extension[k])) return false;
  return true;
}

void OutputFileName(const char* outputName, char (&name)[kPathChars], const char* extension) {
  const std::size_t length = outputName ? strnlen(outputName, kPathChars - 1) : 0;
  if (length > 0) std::memcpy(name, outputName, length);
  name[length] = '\0';
  const std::size_t e = std::strlen(extension);
  if (!HasExtension(name, length, extension) && length + e + 1 < kPathChars) {
    name[length] = '.';
    std::memcpy(name + length + 1, extension, e + 1);
  }
}

void FrameFileName(const char* name, int frameCount, int index, char (&frameName)[kFrameNameChars],
                   const char* extension) {
  const std::size_t length = strnlen(name, kPathChars - 1);
  std::memcpy(frameName, name, length);
  frameName[length] = '\0';
  const char* dot = std::strrchr(frameName, '.');
  std::size_t p = dot ? static_cast<std::size_t>(dot - frameName) : length;
  while (p + 5 + std::strlen(extension) >= kPathChars) --p;
  const int digits = frameCount < 10 ? 1 : frameCount < 100 ? 2 : frameCount < 1000 ? 3 : 4;
  std::snprintf(frameName + p, sizeof frameName - p, "_%0*d.%s", digits, index + 1, extension);
}

double Interpolate(double start, double end, int index, int count) {
  return ((end - start) * index) / (count - 1) + start;
}

EnlargeResult EnlargeImage(AppState& app, const JobProgress& progress, const ImageImporter& importer,
                           const char* inputName, const char* tempName, bool reload, int threads) {
  EnlargeResult result;
  ShowProcessing(progress, inputName);
  ReportProgress(progress, 5);

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
    result.inputImported = Guarded(memoryOut, [&] { return ImportInput(importer, app, inputName); });
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
  ReportProgress(progress, 10);

  if (!result.inputImported && OutputFailed()) NoteTemporaryFailure(result);

  // intact: the working bitmap holds this job's image at the size reached so far.
  bool intact = result.inputImported;
  constexpr int kStepDone[3] = {25, 50, 80};
  constexpr int kReloadDone[3] = {35, 65, 90};
  for (int step = 0; step < 3; ++step) {
    if (intact && CancelRequested(progress)) {
      intact = false;
      result.cancelled = true;
    }
    bool written = false;  // this call created tempName, whole
    if (intact) {
      ClearOutputFailure();
      written = intact = Guarded(memoryOut, [&] {
        return EnlargeStep(app.workingBitmap, tempName, OutputMode::kCreateNew, threads);
      });
      if (!written && OutputFailed()) NoteTemporaryFailure(result);
    }
    ReportProgress(progress, kStepDone[step]);
    if (step == 2 && !reload) break;
    if (intact) intact = Guarded(memoryOut, [&] { return ImportInput(importer, app, tempName); });
    if (written) std::remove(tempName);
    ReportProgress(progress, kReloadDone[step]);
  }
  if (!intact) app.workingBitmap = WorkingBitmap{};
  result.enlarged = intact;
  result.outOfMemory = result.inputImported && memoryOut;
  ReportProgress(progress, 100);
  return result;
}

namespace {

// One frame of a job: where it goes and how it is turned.
struct FrameTask {
  int index = 0;
  int count = 1;
  char fileName[kFrameNameChars] = {};
  double angle = 0, scale = 1;  // as the user gave them
};

FrameTask TaskOf(const RunParameters& run, const FrameSink& sink, int index) {
  FrameTask task;
  task.index = index;
  task.count = run.frameCount <= 1 ? 1 : run.frameCount;
  SinkFileName(sink, run, index, task.fileName);
  if (run.frameCount <= 1) {
    task.angle = run.angle;
    task.scale = run.scale;
  } else {
    task.angle = Interpolate(run.angle, run.endAngle, index, run.frameCount);
    task.scale = Interpolate(run.scale, run.endScale, index, run.frameCount);
  }
  return task;
}

// Hands the rendered frame to the sink; false when it was not taken.
bool HandOver(const FrameSink& sink, const FrameTask& task, OutputBitmap& output) {
  SinkFrame frame;
  frame.index = task.index;
  frame.count = task.count;
  frame.fileName = task.fileName;
  frame.bitmap = &output;
  return output.pixels && sink.frame(sink.context, frame);
}

FramePlan PlanOf(const WorkingBitmap& source, const FrameTask& task) {
  return PlanFrame(HeaderWidth(source.header.get()), HeaderHeight(source.header.get()), -task.angle, task.scale);
}

// Records the first frame that was not written; the series stops there.
void NoteFailure(FramesResult& result, const FrameTask& task, const FramePlan& plan, FrameProblem problem) {
  NoteFrameFailure(result, task.fileName, problem);
  result.wantedWidth = plan.wantedW;
  result.wantedHeight = plan.wantedH;
}

// Renders and writes one frame on this thread with `threads` threads, after its status text
// (unless shown already) and the first `reported` positions of its progress (when shown
// already). False when the frame was not written; the failure is then noted.
bool RenderInOrder(const AppState& app, const JobProgress& progress, const FrameSink& sink, const FrameTask& task,
                   int threads, ScoreTable& scores, FramesResult& result,
                   bool shown = false, std::size_t reported = 0) {
  if (!shown) ShowGenerating(progress, task.fileName, task.angle, task.scale);
  const WorkingBitmap& source = app.workingBitmap;
  const FramePlan plan = PlanOf(source, task);
  FrameProblem problem = FrameProblem::kNone;
  bool memoryOut = false;
  ClearOutputFailure();
  if (HasImage24(source) && !plan.valid) {
    problem = FrameProblem::kTooLarge;
    ReportProgress(progress, 100);
  } else {
    SkippingRelay relay{&progress, reported};
    const JobProgress skipping = relay.Progress();
    const bool written = Guarded(memoryOut, [&] {
      OutputBitmap output = RenderFrameBitmap(reported > 0 ? skipping : progress, source, -task.angle, task.scale,
                                              threads, &scores);
      const bool done = HandOver(sink, task, output);
      ReportProgress(progress, 100);
      return done;
    });
    if (!written) problem = memoryOut ? FrameProblem::kOutOfMemory : FrameProblem::kNotWritten;
  }
  if (problem == FrameProblem::kNone) {
    ++result.framesWritten;
    return true;
  }
  NoteFailure(result, task, plan, problem);
  return false;
}

enum class Outcome { kFinished, kStopped, kContinueInOrder };

// Frames first.. of the series rendered side by side on `workers` threads and handed to the
// sink in order. kContinueInOrder: frame `resume` was not finished here (shown: its status
// text is shown, and `reported` positions of its progress); it and the rest go one at a time.
Outcome RenderSideBySide(const AppState& app, const JobProgress& progress, const FrameSink& sink, ScoreTable& scores,
                         int workers, FramesResult& result, int first, int& resume, bool& shown,
                         std::size_t& reported) {
  const RunParameters& run = app.runParameters;
  SideBySide<OutputBitmap> frames(workers, [&](int k, const JobProgress& relayed, OutputBitmap& output) {
    const FrameTask task = TaskOf(run, sink, k);
    output = RenderFrameBitmap(relayed, app.workingBitmap, -task.angle, task.scale, 1, &scores);
    return true;
  });
  resume = first;
  shown = false;
  reported = 0;
  if (!frames.Start(first, run.frameCount, workers)) return Outcome::kContinueInOrder;
  for (int k = first; k < run.frameCount; ++k) {
    const FrameTask task = TaskOf(run, sink, k);
    resume = k;
    if (CancelRequested(progress)) {
      result.cancelled = true;
      return Outcome::kStopped;
    }
    shown = true;
    ShowGenerating(progress, task.fileName, task.angle, task.scale);
    const FramePlan plan = PlanOf(app.workingBitmap, task);
    ClearOutputFailure();
    if (!plan.valid) {
      ReportProgress(progress, 100);
      NoteFailure(result, task, plan, FrameProblem::kTooLarge);
      return Outcome::kStopped;
    }
    OutputBitmap output;
    if (frames.Take(k, progress, output, reported) == SideBySide<OutputBitmap>::Got::kOutOfMemory) {
      frames.Stop();  // memory ran out beside the other frames
      return Outcome::kContinueInOrder;
    }
    bool memoryOut = false;
    const bool written = Guarded(memoryOut, [&] { return HandOver(sink, task, output); });
    output = OutputBitmap{};
    ReportProgress(progress, 100);
    if (!written) {
      NoteFailure(result, task, plan, memoryOut ? FrameProblem::kOutOfMemory : FrameProblem::kNotWritten);
      return Outcome::kStopped;
    }
    ++result.framesWritten;
    frames.Done(k);
  }
  return Outcome::kFinished;
}

// How many frames of the series from first on may be made side by side on up to `threads`
// threads: 0 or 1 when they are to be made one at a time.
int FrameWorkers(const AppState& app, const FrameSink& sink, int first, int threads) {
  std::uint64_t largest = 1;
  for (int k = first; k < app.runParameters.frameCount; ++k) {
    const FramePlan plan = PlanOf(app.workingBitmap, TaskOf(app.runParameters, sink, k));
    if (plan.valid)
      largest = std::max(largest, static_cast<std::uint64_t>(Stride24(plan.newW)) * static_cast<std::uint64_t>(plan.newH));
  }
  return SideBySideWorkers(largest, app.runParameters.frameCount - first, threads);
}

}  // namespace

FramesResult RunFrames(const AppState& app, const JobProgress& progress, const FrameSink& sink, int threads) {
  const RunParameters& run = app.runParameters;
  FramesResult result;
  ScoreTable scores;  // built by the first frame, shared by the rest
  if (threads <= 0) threads = HardwareThreads();

  result.framesWanted = run.frameCount <= 1 ? 1 : run.frameCount;
  if (CancelRequested(progress)) {
    result.cancelled = true;
    return result;
  }
  // The first frame on its own, with every thread (it builds the score table).
  if (!RenderInOrder(app, progress, sink, TaskOf(run, sink, 0), threads, scores, result) || run.frameCount <= 1)
    return result;
  int resume = 1;
  std::size_t reported = 0;
  bool shown = false;
  const int workers = threads > 1 && run.frameCount > 2 ? FrameWorkers(app, sink, 1, threads) : 0;
  if (workers > 1) {
    bool memoryOut = false;
    Outcome outcome = Outcome::kContinueInOrder;
    Guarded(memoryOut, [&] {
      outcome = RenderSideBySide(app, progress, sink, scores, workers, result, 1, resume, shown, reported);
      return true;
    });
    if (outcome != Outcome::kContinueInOrder) return result;
  }
  for (int i = resume; i < run.frameCount; ++i) {
    const bool first = i == resume;
    if (!(first && shown) && CancelRequested(progress)) {
      result.cancelled = true;
      break;
    }
    if (!RenderInOrder(app, progress, sink, TaskOf(run, sink, i), threads, scores, result, first && shown,
                       first ? reported : 0))
      break;
  }
  return result;
}

JobResult RunEnlargedJob(AppState& app, const JobProgress& progress, const ImageImporter& importer,
                         const FrameSink& sink, int threads) {
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
  // A transparent input is laid over the background before it is enlarged.
  CompositingImport import;
  import.inner = importer;
  import.background = app.runParameters.background;
  app.temporaries = &temporaries;
  result.enlarge = EnlargeImage(app, progress, CompositingImporter(import), app.runParameters.inputName,
                                temporaries.enlargeName, true, threads);
  app.temporaries = nullptr;
  RemoveJobTemporaries(temporaries);
  if (result.enlarge.enlarged) {
    const RunParameters& run = app.runParameters;
    if (!ClaimedOutputs(sink, run, run.frameCount, result)) {
      result.frames.framesWanted = run.frameCount <= 1 ? 1 : run.frameCount;
      return result;
    }
    result.frames = RunFrames(app, progress, sink, threads);
  } else {
    // Without an image no frame is tried, nor announced; the first one is named as not written.
    const RunParameters& run = app.runParameters;
    result.frames.framesWanted = run.frameCount <= 1 ? 1 : run.frameCount;
    result.frames.cancelled = result.enlarge.cancelled;
    SinkFileName(sink, run, 0, result.frames.firstFailedName);
  }
  return result;
}

}  // namespace quillet
