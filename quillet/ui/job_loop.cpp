#include <atomic>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "quillet/import.h"
#include "quillet/job.h"
#include "quillet/job_loop.h"
#include "quillet/output_folder.h"
#include "quillet/sheet_data.h"
#include "quillet/sprite_job.h"

namespace quillet {

bool NeedsParameterDialog(const GivenValues& given) {
  return (!given.angle && !given.scale && !given.directions) || (given.endAngle && !given.frames) ||
         (given.endScale && !given.frames);
}

namespace {

// A chooser's name ending in the other format's extension is given the sink's in its place:
// walk.bmp becomes walk.png for PNG frames, and back.
void FitExtension(char (&name)[kPathChars], const char* extension) {
  const std::size_t length = strnlen(name, kPathChars - 1);
  for (const char* other : {"bmp", "png"}) {
    if (std::strcmp(other, extension) != 0 && EndsWithExtension(name, length, other)) {
      std::memcpy(name + length - 3, extension, 3);
      return;
    }
  }
}

}  // namespace

bool ChooseFiles(AppState& app, const FrontEndPlatform& platform) {
  RunParameters& run = app.runParameters;
  bool inputByDialog = false;
  bool askInput = run.inputName[0] == '\0';
  for (;;) {
    if (askInput) {
      inputByDialog = true;
      if (!platform.chooseInput(platform.context, kInputChooser, app.openFileName)) return false;
      std::memcpy(run.inputName, app.openFileName, kPathChars);
      run.inputName[kPathChars - 1] = '\0';
    }
    if (run.outputName[0] != '\0') return true;
    // The save chooser starts from a name of the sink's format, lists its files, and a name
    // chosen in the other format's extension is given the sink's.
    BmpFileOptions options;
    SheetSink sheet;
    const FrameSink sink = SinkFor(run, options, sheet);
    app.saveFileName[kPathChars - 1] = '\0';
    FitExtension(app.saveFileName, sink.extension);
    const bool png = std::strcmp(sink.extension, "png") == 0;
    if (platform.chooseOutput(platform.context, png ? kPngOutputChooser : kOutputChooser, app.saveFileName)) {
      FitExtension(app.saveFileName, sink.extension);
      std::memcpy(run.outputName, app.saveFileName, kPathChars);
      run.outputName[kPathChars - 1] = '\0';
      return true;
    }
    if (!inputByDialog) return false;
    askInput = true;
  }
}

namespace {

// The status a cancel ends the process with; read by signal handlers.
std::atomic<int> cancelStatus{kExitSuccess};
static_assert(std::atomic<int>::is_always_lock_free);

// Keeps the tokens of a parse that name no option, to be reported once the line is read.
void CollectUnknown(void* context, const char* token) {
  static_cast<std::vector<const char*>*>(context)->push_back(token);
}

// An output name that stands for a folder would give a frame named only by its extension
// inside it (frames/.bmp), or one beside it that was not meant.
bool OutputNameTaken(const char* name) {
  const std::size_t length = std::strlen(name);
  if (length > 0 && IsPathSeparator(name[length - 1])) {
    std::fprintf(stderr, "quillet: -out \"%s\" ends in a separator; give the name of a file, such as \"%ssprite\"\n",
                 name, name);
    return false;
  }
  if (IsFolder(name)) {
    std::fprintf(stderr, "quillet: -out \"%s\" is a folder; give the name of a file, such as \"%s/sprite\"\n", name,
                 name);
    return false;
  }
  return true;
}

// Whether the line makes a batch that can run: inputs after "--" with -outdir, no -in nor -out,
// no token that names no option, and every parameter settled, as nothing is asked.
bool BatchLineAccepted(const RunParameters& run, const GivenValues& given, const std::vector<const char*>& unknown) {
  if (!given.outdir) {
    std::fprintf(stderr, "quillet: the names after -- are the inputs of a batch, which needs -outdir DIR\n");
  } else if (run.inputName[0] != '\0' || run.outputName[0] != '\0') {
    std::fprintf(stderr, "quillet: -outdir \"%s\" makes a batch of the inputs after --; it takes no -in or -out\n",
                 given.outdir);
  } else if (!given.inputsGiven) {
    std::fprintf(stderr, "quillet: -outdir \"%s\" needs -- and the files and folders to turn after it\n",
                 given.outdir);
  } else if (given.inputs.empty()) {
    std::fprintf(stderr, "quillet: -outdir \"%s\" needs at least one file or folder after --\n", given.outdir);
  } else if (!unknown.empty()) {
    std::fprintf(stderr, "quillet: \"%s\" is not an option (see quillet -help); nothing was done\n", unknown.front());
  } else if (NeedsParameterDialog(given)) {
    std::fprintf(stderr, "quillet: a batch asks nothing: give -angle or -scale, and -frames with an end value\n");
  } else {
    return true;
  }
  return false;
}

}  // namespace

RoundOutcome PrepareRound(AppState& app, CommandLine& line, const FrontEndPlatform& platform, RoundMarks* marks) {
  GivenValues given;
  RunParameters& run = app.runParameters;
  bool oneShot = false;
  if (IsEmpty(line)) {
    if (app.firstRoundDefaults) {
      app.firstRoundDefaults = false;
      run.angle = 45.0;
      run.endAngle = 135.0;
    }
  } else {
    const bool firstParse = !line.parsed;
    std::vector<const char*> unknown;
    if (!ParseCommandLine(line, run, given, UnknownArgumentReport{CollectUnknown, &unknown}))
      return RoundOutcome::kRefused;
    if (given.outdir || given.inputsGiven) {
      if (!BatchLineAccepted(run, given, unknown)) return RoundOutcome::kRefused;
      if (marks) {
        marks->quiet = given.quiet;
        marks->batch = true;
        marks->request = BatchRequest{given.outdir, given.overwrite, given.quiet, given.inputs};
      }
      return RoundOutcome::kReady;
    }
    oneShot = !app.runAgain && run.inputName[0] != '\0' && run.outputName[0] != '\0' && !NeedsParameterDialog(given);
    if (oneShot && !unknown.empty()) {
      std::fprintf(stderr, "quillet: \"%s\" is not an option (see quillet -help); nothing was done\n", unknown.front());
      return RoundOutcome::kRefused;
    }
    for (const char* token : unknown) ReportUnknownArgument(platform.unknownArgument, token);
    if (firstParse && run.outputName[0] != '\0') {
      if (!OutputNameTaken(run.outputName)) return RoundOutcome::kRefused;
      if (run.format == OutputFormat::kBmp && !given.format &&
          EndsWithExtension(run.outputName, std::strlen(run.outputName), "png")) {
        std::fprintf(stderr, "quillet: hint: -out \"%s\" ends in .png, but the frames are BMP files; "
                     "-format png writes PNG\n", run.outputName);
      }
    }
  }
  if (marks) {
    marks->oneShot = oneShot;
    marks->quiet = given.quiet;
  }
  if (!ChooseFiles(app, platform)) return RoundOutcome::kEnded;
  if (NeedsParameterDialog(given)) {
    app.runAgain = true;
    if (!platform.editParameters(platform.context, run)) return RoundOutcome::kEnded;
  }
  return RoundOutcome::kReady;
}

int CheckOutputFolder(const RunParameters& run) {
  char folder[kTempPathChars];
  DirectoryOf(run.outputName, folder);
  char reason[kFailureReasonChars] = {};
  if (CanWriteInto(folder, reason)) return kExitSuccess;
  // A folder that takes no new file may still hold outputs the user may write: those are
  // written in place, so the job goes on when its first file is one of them.
  // The first file a job writes: its one output, its sheet, or its series' first frame.
  BmpFileOptions options;
  SheetSink sheet;
  char first[kFrameNameChars];
  SinkFileName(SinkFor(run, options, sheet), run, 0, first);
  if (IsFolder(folder) && CanWriteFile(first)) return kExitSuccess;
  std::fprintf(stderr, "quillet: cannot write into the output folder \"%s\": %s\n", folder, reason);
  return kExitOutputUnwritable;
}

int CancelExitStatus() { return cancelStatus.load(std::memory_order_relaxed); }

int CheckParameters(const RunParameters& run) {
  const char* what = !std::isfinite(run.angle) || !std::isfinite(run.endAngle)   ? "angle"
                     : !std::isfinite(run.scale) || !std::isfinite(run.endScale) ? "scale"
                                                                                 : nullptr;
  if (!what) return kExitSuccess;
  std::fprintf(stderr, "quillet: %s must be a finite number\n", what);
  return kExitBadCommandLine;
}

namespace {

// Writes a message to standard error, or appends it to out when given.
[[gnu::format(printf, 2, 3)]] void Say(std::string* out, const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  if (!out) {
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    return;
  }
  std::va_list again;
  va_copy(again, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  if (length > 0) {
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    text.pop_back();
    *out += text;
  }
  va_end(again);
}

// One line naming the real reason the input was not taken; its status.
int ReportInput(const char* name, const InputReport& input, std::string* out) {
  switch (input.problem) {
    case InputProblem::kUnreadable:
      Say(out, "quillet: cannot read \"%s\": %s\n", name,
          input.systemError ? std::strerror(input.systemError) : "read error");
      return kExitInputUnreadable;
    case InputProblem::kTooLarge: {
      const double enlarged = static_cast<double>(Stride24(8 * input.width)) * 8.0 * static_cast<double>(input.height);
      const bool small = sizeof(void*) < 8 && enlarged <= static_cast<double>(kMaxPixelBlockBytes);
      Say(out,
          "quillet: \"%s\" is %lld x %lld pixels, too large%s: its eight-times enlargement would need "
          "%.0f MiB, over the limit of %llu MiB\n",
          name, static_cast<long long>(input.width), static_cast<long long>(input.height),
          small ? " for the 32-bit program (the 64-bit program takes it)" : "",
          std::ceil(enlarged / 1048576.0),
          static_cast<unsigned long long>(MaxEnlargedBytes() >> 20));
      return small ? kExitOutOfMemory : kExitInputUnreadable;
    }
    case InputProblem::kOutOfMemory:
      Say(out, "quillet: memory ran out while reading \"%s\"\n", name);
      return kExitOutOfMemory;
    case InputProblem::kTooManyColours:
      Say(out,
          "quillet: \"%s\" has too many colours to turn with its transparency: no 24-bit colour is "
          "left to stand for each of its values\n",
          name);
      return kExitInputUnreadable;
    case InputProblem::kFileTooLarge:
      Say(out, "quillet: \"%s\" is over the limit of %llu MiB of an input read from a pipe\n", name,
          static_cast<unsigned long long>(kMaxInputCopyBytes >> 20));
      return kExitInputUnreadable;
    case InputProblem::kConversionFailed:
      if (!input.reason[0]) break;
      Say(out, "quillet: could not read \"%s\" as an image: not an image file that can be read: %s\n",
          name, input.reason);
      return kExitInputUnreadable;
    default:
      break;
  }
  const char* why = "not an image";
  switch (input.problem) {
    case InputProblem::kNotImage:
    case InputProblem::kConversionFailed: why = "not an image file that can be read or converted"; break;
    case InputProblem::kUnsupported: why = "a kind of BMP file that is not supported"; break;
    case InputProblem::kTruncated: why = "the file ends before its image does"; break;
    case InputProblem::kNoLibrary: why = "it is not a 24-bit BMP and the imaging library is missing"; break;
    default: break;
  }
  Say(out, "quillet: could not read \"%s\" as an image: %s\n", name, why);
  return kExitInputUnreadable;
}

}  // namespace

int ReportJobResult(const AppState& app, const JobResult& job, std::string* out) {
  const RunParameters& run = app.runParameters;
  if (job.Cancelled()) {
    Say(out, "quillet: the job was cancelled (%d of %d frames written)\n", job.frames.framesWritten,
        job.frames.framesWanted);
    return CancelExitStatus();
  }
  if (job.setRefused[0] != '\0') {
    std::fprintf(stderr, "quillet: %s\n", job.setRefused);
    return kExitBadCommandLine;
  }
  if (job.enlarge.temporaryFailed) {
    Say(out, "quillet: cannot create a temporary file in \"%s\": %s\n", job.enlarge.temporaryDirectory,
        job.enlarge.temporaryReason);
    return kExitOutputUnwritable;
  }
  if (!job.enlarge.inputImported) return ReportInput(run.inputName, job.enlarge.input, out);
  if (job.enlarge.outOfMemory) {
    Say(out, "quillet: memory ran out while enlarging \"%s\"%s\n", run.inputName,
        sizeof(void*) < 8 ? ": the picture is too large for the 32-bit program" : "");
    return kExitOutOfMemory;
  }
  if (!job.enlarge.enlarged && MadeAsSprite(run)) {
    Say(out, "quillet: the picture of \"%s\" is too big to turn\n", run.inputName);
    return kExitOutputUnwritable;
  }
  if (!job.enlarge.enlarged) {
    Say(out, "quillet: could not enlarge \"%s\"\n", run.inputName);
    return kExitOutputUnwritable;
  }
  const FramesResult& frames = job.frames;
  if (frames.dataFailed) {
    std::fprintf(stderr, "quillet: could not write \"%s\"%s%s (the frames were written)\n", frames.firstFailedName,
                 frames.failureReason[0] ? ": " : "", frames.failureReason);
    return kExitOutputUnwritable;
  }
  if (frames.framesWritten != frames.framesWanted) {
    switch (frames.firstProblem) {
      case FrameProblem::kTooLarge:
        if (frames.wantedRgba) {
          Say(out,
              "quillet: the sheet would be %s%.0f x %.0f pixels, over the limit of %llu MiB of 4-byte "
              "pixels (\"%s\" not written)\n",
              frames.wantedAtLeast ? "at least " : "", frames.wantedWidth, frames.wantedHeight,
              static_cast<unsigned long long>(kMaxPixelBlockBytes >> 20), frames.firstFailedName);
          return kExitBadCommandLine;
        }
        Say(out,
            "quillet: the output would be %.0f x %.0f pixels, over the limit of %llu MiB of 24-bit rows "
            "(\"%s\" not written)\n",
            frames.wantedWidth, frames.wantedHeight,
            static_cast<unsigned long long>(kMaxPixelBlockBytes >> 20), frames.firstFailedName);
        return kExitBadCommandLine;
      case FrameProblem::kOutOfMemory:
        Say(out, "quillet: memory ran out while rendering \"%s\"%s\n", frames.firstFailedName,
            sizeof(void*) < 8 ? ": the frame is too large for the 32-bit program" : "");
        return kExitOutOfMemory;
      default:
        Say(out, "quillet: could not write \"%s\"%s%s (%d of %d frames written)\n",
            frames.firstFailedName, frames.failureReason[0] ? ": " : "", frames.failureReason,
            frames.framesWritten, frames.framesWanted);
        return kExitOutputUnwritable;
    }
  }
  return kExitSuccess;
}

namespace {

// The job into the sink of its format: BMP frames lay a transparent input over the background
// first; PNG frames keep its alpha; BMP frames with a background given are made as PNG frames,
// then laid over it whole. Memory that runs out in a job of RGBA frames ends it as a frame
// that could not be made, under the output's name, so that the job is reported and the
// progress display closed as after any other.
JobResult RunJobInFormat(AppState& app, const ImageImporter& importer, int threads, const OutputClaim& claim) {
  const RunParameters& run = app.runParameters;
  BmpFileOptions options;
  SheetSink sheet;
  SheetData data;
  FrameSink sink = JobSink(run, options, sheet, data);
  sink.claim = claim;
  if (!sink.rgba) return RunQuilletJob(app, ProgressOf(app), importer, sink, threads);
  try {
    return RunQuilletJob(app, ProgressOf(app), importer, sink, threads);
  } catch (const std::bad_alloc&) {
    JobResult failed;
    failed.enlarge.inputImported = true;
    failed.enlarge.enlarged = true;
    failed.frames.framesWanted = 1;
    failed.frames.firstProblem = FrameProblem::kOutOfMemory;
    char name[kPathChars];
    SinkOutputName(sink, run.outputName, name);
    std::snprintf(failed.frames.firstFailedName, sizeof failed.frames.firstFailedName, "%s", name);
    return failed;
  }
}

}  // namespace

// A pipe is read once, into a copy that the job reads under the input's name in its place.
JobResult RunOneShotJob(AppState& app, const ImageImporter& importer, int threads, const OutputClaim& claim) {
  JobResult result;
  InputCopy copy;
  if (!CopyUnseekableInput(app.runParameters.inputName, copy, result.enlarge)) return result;
  if (!copy.made) return RunJobInFormat(app, importer, threads, claim);
  char given[kPathChars];
  std::memcpy(given, app.runParameters.inputName, kPathChars);
  std::snprintf(app.runParameters.inputName, kPathChars, "%s", copy.temporaries.inputCopyName);
  result = RunJobInFormat(app, importer, threads, claim);
  std::memcpy(app.runParameters.inputName, given, kPathChars);
  return result;
}

std::vector<std::string> JobOutputNames(const RunParameters& run) {
  BmpFileOptions options;
  SheetSink sheet;
  SheetData data;
  const FrameSink sink = JobSink(run, options, sheet, data);
  std::vector<std::string> names = SinkOutputNames(sink, run, RequestCount(run));
  // The job claims those names once it has read the input.
  if (NamesNeedInput(run)) names.erase(names.begin(), names.end() - (sink.data ? 1 : 0));
  return names;
}

bool NamesNeedInput(const RunParameters& run) {
  return run.cellWidth > 0 && !(run.format == OutputFormat::kPng && run.sheetColumns > 0);
}

int RunJobs(AppState& app, CommandLine& line, const FrontEndPlatform& platform, const ImageImporter& importer,
            const ImageImporter* batchImporter) {
  bool jobRan = false;
  bool quiet = false;  // once given, for every later job too
  for (;;) {
    RoundMarks marks;
    const RoundOutcome outcome = PrepareRound(app, line, platform, &marks);
    quiet = quiet || marks.quiet;
    switch (outcome) {
      case RoundOutcome::kReady: break;
      case RoundOutcome::kEnded:
        // Once a job has run, ending the input ends the session as a Quit would.
        return jobRan || !platform.endStatus ? kExitSuccess : platform.endStatus(platform.context);
      case RoundOutcome::kRefused: return kExitBadCommandLine;
    }
    if (marks.batch) {
      if (const int refused = CheckParameters(app.runParameters); refused != kExitSuccess) return refused;
      cancelStatus.store(kExitInterrupted);
      return RunBatchJobs(app.runParameters, marks.request, batchImporter ? *batchImporter : importer);
    }
    int refused = CheckParameters(app.runParameters);
    if (refused == kExitSuccess) refused = CheckOutputFolder(app.runParameters);
    if (refused != kExitSuccess) {
      if (!app.runAgain) return refused;
      app.runParameters.inputName[0] = '\0';
      app.runParameters.outputName[0] = '\0';
      continue;
    }
    jobRan = true;
    cancelStatus.store(marks.oneShot ? kExitInterrupted : kExitSuccess);
    app.progressWindow.store(nullptr);
    if (!quiet) platform.startProgress(platform.context, app);
    const JobResult job = RunOneShotJob(app, importer);
    if (!quiet) platform.stopProgress(platform.context, app);
    app.progressWindow.store(nullptr);
    std::fflush(stdout);
    const int status = ReportJobResult(app, job);
    if (!app.runAgain) return status;
    app.runParameters.inputName[0] = '\0';
    app.runParameters.outputName[0] = '\0';
  }
}

int RunProgram(AppState& app, CommandLine& line, const FrontEndPlatform& platform, const ImagingApi& imaging) {
  ImportSetup import;
  import.imaging = &imaging;
  import.errors = platform.errorDisplay;
  // A batch's inputs each get one line naming the cause of a failure; the import's own
  // messages would come between them in the order of the workers.
  ImportSetup quietImport;
  quietImport.imaging = &imaging;
  quietImport.errors.show = [](void*, const char*, const char*) {};
  const ImageImporter batchImporter = ImporterFor(quietImport);
  try {
    return RunJobs(app, line, platform, ImporterFor(import), &batchImporter);
  } catch (const std::bad_alloc&) {
    std::fputs("quillet: memory ran out\n", stderr);
    return kExitOutOfMemory;
  }
}

}  // namespace quillet
