#include <cstdio>
#include <cstring>

#include "quillet/front_end.h"
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

int ReportJobResult(const AppState& app, const JobResult& job) {
  const RunParameters& run = app.runParameters;
  if (!job.enlarge.inputImported) {
    std::fprintf(stderr, "quillet: could not read \"%s\" as an image\n", run.inputName);
    return kExitInputUnreadable;
  }
  if (!job.enlarge.enlarged && run.format == OutputFormat::kPng) {
    std::fprintf(stderr, "quillet: the picture of \"%s\" is too big to turn\n", run.inputName);
    return kExitOutputUnwritable;
  }
  if (!job.enlarge.enlarged) {
    std::fprintf(stderr, "quillet: could not write or read back \"%s\" in the current directory\n",
                 kEnlargeTempName);
    return kExitOutputUnwritable;
  }
  const FramesResult& frames = job.frames;
  if (frames.framesWritten != frames.framesWanted) {
    std::fprintf(stderr, "quillet: could not write \"%s\" (%d of %d frames written)\n", frames.firstFailedName,
                 frames.framesWritten, frames.framesWanted);
    return kExitOutputUnwritable;
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

int LoopJobs(AppState& app, CommandLine& line, const FrontEndPlatform& platform, const ImageImporter& importer) {
  for (;;) {
    switch (PrepareRound(app, line, platform)) {
      case RoundOutcome::kReady: break;
      case RoundOutcome::kEnded: return kExitSuccess;
      case RoundOutcome::kRefused: return kExitBadCommandLine;
    }
    app.progressWindow.store(nullptr);
    platform.startProgress(platform.context, app);
    const JobResult job = RunJobInFormat(app, importer);
    platform.stopProgress(platform.context, app);
    app.progressWindow.store(nullptr);
    std::fflush(stdout);
    const int status = ReportJobResult(app, job);
    if (!app.runAgain) return status;
    app.runParameters.inputName[0] = '\0';
    app.runParameters.outputName[0] = '\0';
  }
}

}  // namespace

int RunJobs(AppState& app, CommandLine& line, const FrontEndPlatform& platform, const ImageImporter& importer) {
  if (platform.errorDisplay.show) SetErrorDisplay(&platform.errorDisplay);
  const int status = LoopJobs(app, line, platform, importer);
  if (platform.errorDisplay.show) SetErrorDisplay(nullptr);
  return status;
}

}  // namespace quillet
