#include "quillet/pipeline.h"

#include <cstdio>
#include <cstring>

#include "quillet/bitmap.h"
#include "quillet/enlarge.h"
#include "quillet/render.h"

namespace quillet {
namespace {

// Status texts hold an absolute path of up to kPathChars and a line of numbers.
constexpr std::size_t kStatusChars = kFrameNameChars + 128;

bool Import(const ImageImporter& importer, AppState& app, const char* fileName) {
  if (importer.import) return importer.import(importer.context, app, fileName);
  LoadBitmapFile(fileName, app.workingBitmap);
  return HasImage24(app.workingBitmap);
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

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool HasBmpExtension(const char* name) {
  const char* dot = std::strrchr(name, '.');
  if (!dot || dot - name < 5) return false;
  return LowerAscii(dot[1]) == 'b' && LowerAscii(dot[2]) == 'm' && LowerAscii(dot[3]) == 'p';
}

}  // namespace

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

  result.inputImported = Import(importer, app, inputName);
  ReportProgress(app, 10);

  // intact: the working bitmap holds this job's image at the size reached so far.
  bool intact = result.inputImported;
  bool tempWritten = false;  // this call created or replaced tempName
  constexpr int kStepDone[3] = {25, 50, 80};
  constexpr int kReloadDone[3] = {35, 65, 90};
  for (int step = 0; step < 3; ++step) {
    if (intact) {
      tempWritten = true;  // a failed write may still have left part of a file
      intact = EnlargeStep(app.workingBitmap, tempName);
    }
    ReportProgress(app, kStepDone[step]);
    if (step == 2 && !reload) break;
    if (intact) intact = Import(importer, app, tempName);
    ReportProgress(app, kReloadDone[step]);
  }
  if (reload && tempWritten) std::remove(tempName);
  if (!reload && !intact && tempWritten) std::remove(tempName);
  if (!intact) app.workingBitmap = WorkingBitmap{};
  result.enlarged = intact;
  ReportProgress(app, 100);
  return result;
}

FramesResult RunFrames(AppState& app) {
  const RunParameters& run = app.runParameters;
  FramesResult result;
  char name[kPathChars];
  OutputFileName(run.outputName, name);

  auto render = [&](const char* fileName, double angle, double scale) {
    ShowGenerating(app, fileName, angle, scale);
    if (RenderFrame(app, -angle, scale, fileName)) {
      ++result.framesWritten;
    } else if (result.firstFailedName[0] == '\0') {
      std::snprintf(result.firstFailedName, sizeof result.firstFailedName, "%s", fileName);
    }
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
    render(frameName, angle, scale);
  }
  return result;
}

JobResult RunJob(AppState& app, const ImageImporter& importer) {
  JobResult result;
  result.enlarge = EnlargeImage(app, importer, app.runParameters.inputName, kEnlargeTempName, true);
  result.frames = RunFrames(app);
  return result;
}

}  // namespace quillet
