#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "quillet/import.h"
#include "quillet/job_loop.h"
#include "quillet/sprite_job.h"

namespace quillet {

bool NeedsParameterDialog(const GivenValues& given) {
  return (!given.angle && !given.scale) || (given.endAngle && !given.frames) ||
         (given.endScale && !given.frames);
}

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
    // PNG frames: the save chooser's untouched starting name gets the PNG ending.
    if (run.format == OutputFormat::kPng && std::strcmp(app.saveFileName, "output.bmp") == 0) {
      std::strcpy(app.saveFileName, "output.png");
    }
    if (platform.chooseOutput(platform.context, kOutputChooser, app.saveFileName)) {
      std::memcpy(run.outputName, app.saveFileName, kPathChars);
      run.outputName[kPathChars - 1] = '\0';
      return true;
    }
    if (!inputByDialog) return false;
    askInput = true;
  }
}

RoundOutcome PrepareRound(AppState& app, CommandLine& line, const FrontEndPlatform& platform) {
  GivenValues given;
  RunParameters& run = app.runParameters;
  if (IsEmpty(line)) {
    if (app.firstRoundDefaults) {
      app.firstRoundDefaults = false;
      run.angle = 45.0;
      run.endAngle = 135.0;
    }
  } else if (!ParseCommandLine(line, run, given, platform.unknownArgument)) {
    return RoundOutcome::kRefused;
  }
  if (!ChooseFiles(app, platform)) return RoundOutcome::kEnded;
  if (NeedsParameterDialog(given)) {
    app.runAgain = true;
    if (!platform.editParameters(platform.context, run)) return RoundOutcome::kEnded;
  }
  return RoundOutcome::kReady;
}

int CheckParameters(const RunParameters& run) {
  const char* what = !std::isfinite(run.angle) || !std::isfinite(run.endAngle)   ? "angle"
                     : !std::isfinite(run.scale) || !std::isfinite(run.endScale) ? "scale"
                                                                                 : nullptr;
  if (!what) return kExitSuccess;
  std::fprintf(stderr, "quillet: %s must be a finite number\n", what);
  return kExitBadCommandLine;
}

namespace {

// One line naming the real reason the input was not taken; its status.
int ReportInput(const char* name, const InputReport& input) {
  switch (input.problem) {
    case InputProblem::kUnreadable:
      std::fprintf(stderr, "quillet: cannot read \"%s\": %s\n", name,
                   input.systemError ? std::strerror(input.systemError) : "read error");
      return kExitInputUnreadable;
    case InputProblem::kTooLarge: {
      const double enlarged = static_cast<double>(Stride24(8 * input.width)) * 8.0 * static_cast<double>(input.height);
      const bool small = sizeof(void*) < 8 && enlarged <= static_cast<double>(kMaxPixelBlockBytes);
      std::fprintf(stderr,
                   "quillet: \"%s\" is %lld x %lld pixels, too large%s: its eight-times enlargement would need "
                   "%.0f MiB, over the limit of %llu MiB\n",
                   name, static_cast<long long>(input.width), static_cast<long long>(input.height),
                   small ? " for the 32-bit program (the 64-bit program takes it)" : "",
                   std::ceil(enlarged / 1048576.0),
                   static_cast<unsigned long long>(MaxEnlargedBytes() >> 20));
      return small ? kExitOutOfMemory : kExitInputUnreadable;
    }
    case InputProblem::kOutOfMemory:
      std::fprintf(stderr, "quillet: memory ran out while reading \"%s\"\n", name);
      return kExitOutOfMemory;
    case InputProblem::kFileTooLarge:
      std::fprintf(stderr, "quillet: \"%s\" is over the limit of %llu MiB of an input read from a pipe\n", name,
                   static_cast<unsigned long long>(kMaxInputCopyBytes >> 20));
      return kExitInputUnreadable;
    case InputProblem::kConversionFailed:
      if (!input.reason[0]) break;
      std::fprintf(stderr, "quillet: could not read \"%s\" as an image: not an image file that can be read: %s\n",
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
  std::fprintf(stderr, "quillet: could not read \"%s\" as an image: %s\n", name, why);
  return kExitInputUnreadable;
}

}  // namespace

int ReportJobResult(const AppState& app, const JobResult& job) {
  const RunParameters& run = app.runParameters;
  if (job.enlarge.temporaryFailed) {
    std::fprintf(stderr, "quillet: cannot create a temporary file in \"%s\": %s\n", job.enlarge.temporaryDirectory,
                 job.enlarge.temporaryReason);
    return kExitOutputUnwritable;
  }
  if (!job.enlarge.inputImported) return ReportInput(run.inputName, job.enlarge.input);
  if (job.enlarge.outOfMemory) {
    std::fprintf(stderr, "quillet: memory ran out while enlarging \"%s\"%s\n", run.inputName,
                 sizeof(void*) < 8 ? ": the picture is too large for the 32-bit program" : "");
    return kExitOutOfMemory;
  }
  if (!job.enlarge.enlarged && run.format == OutputFormat::kPng) {
    std::fprintf(stderr, "quillet: the picture of \"%s\" is too big to turn\n", run.inputName);
    return kExitOutputUnwritable;
  }
  if (!job.enlarge.enlarged) {
    std::fprintf(stderr, "quillet: could not enlarge \"%s\"\n", run.inputName);
    return kExitOutputUnwritable;
  }
  const FramesResult& frames = job.frames;
  if (frames.framesWritten != frames.framesWanted) {
    switch (frames.firstProblem) {
      case FrameProblem::kTooLarge:
        std::fprintf(stderr,
                     "quillet: the output would be %.0f x %.0f pixels, over the limit of %llu MiB of 24-bit rows "
                     "(\"%s\" not written)\n",
                     frames.wantedWidth, frames.wantedHeight,
                     static_cast<unsigned long long>(kMaxPixelBlockBytes >> 20), frames.firstFailedName);
        return kExitBadCommandLine;
      case FrameProblem::kOutOfMemory:
        std::fprintf(stderr, "quillet: memory ran out while rendering \"%s\"%s\n", frames.firstFailedName,
                     sizeof(void*) < 8 ? ": the frame is too large for the 32-bit program" : "");
        return kExitOutOfMemory;
      default:
        std::fprintf(stderr, "quillet: could not write \"%s\"%s%s (%d of %d frames written)\n",
                     frames.firstFailedName, frames.failureReason[0] ? ": " : "", frames.failureReason,
                     frames.framesWritten, frames.framesWanted);
        return kExitOutputUnwritable;
    }
  }
  return kExitSuccess;
}

namespace {

// BMP frames lay a transparent input over the background first; PNG frames keep its alpha.
JobResult RunJobInFormat(AppState& app, const ImageImporter& importer) {
  if (app.runParameters.format == OutputFormat::kPng) return RunSpriteJob(app, importer);
  CompositingImport import;
  import.inner = importer;
  import.background = app.runParameters.background;
  return RunJob(app, CompositingImporter(import));
}

// A pipe is read once, into a copy that the job reads under the input's name in its place.
JobResult RunJobOnce(AppState& app, const ImageImporter& importer) {
  JobResult result;
  InputCopy copy;
  if (!CopyUnseekableInput(app.runParameters.inputName, copy, result.enlarge)) return result;
  if (!copy.made) return RunJobInFormat(app, importer);
  char given[kPathChars];
  std::memcpy(given, app.runParameters.inputName, kPathChars);
  std::snprintf(app.runParameters.inputName, kPathChars, "%s", copy.temporaries.inputCopyName);
  result = RunJobInFormat(app, importer);
  std::memcpy(app.runParameters.inputName, given, kPathChars);
  return result;
}

}  // namespace

int RunJobs(AppState& app, CommandLine& line, const FrontEndPlatform& platform, const ImageImporter& importer) {
  bool jobRan = false;
  for (;;) {
    switch (PrepareRound(app, line, platform)) {
      case RoundOutcome::kReady: break;
      case RoundOutcome::kEnded:
        // Once a job has run, ending the input ends the session as a Quit would.
        return jobRan || !platform.endStatus ? kExitSuccess : platform.endStatus(platform.context);
      case RoundOutcome::kRefused: return kExitBadCommandLine;
    }
    if (const int refused = CheckParameters(app.runParameters); refused != kExitSuccess) {
      if (!app.runAgain) return refused;
      app.runParameters.inputName[0] = '\0';
      app.runParameters.outputName[0] = '\0';
      continue;
    }
    jobRan = true;
    app.progressWindow.store(nullptr);
    platform.startProgress(platform.context, app);
    const JobResult job = RunJobOnce(app, importer);
    platform.stopProgress(platform.context, app);
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
  try {
    return RunJobs(app, line, platform, ImporterFor(import));
  } catch (const std::bad_alloc&) {
    std::fputs("quillet: memory ran out\n", stderr);
    return kExitOutOfMemory;
  }
}

}  // namespace quillet
