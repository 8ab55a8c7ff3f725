// Program-wide state of quillet: the job parameters, the working bitmap and the
// progress display installed by the front end.
#pragma once

#include <atomic>
#include <cstdint>

#include "quillet/bitmap.h"
#include "quillet/files.h"
#include "quillet/progress.h"

namespace quillet {

// Room for a path with its terminator, as the platform's file dialogs use.
inline constexpr int kPathChars = 260;

// What a job writes: 24-bit BMP frames, or RGBA PNG frames that keep the input's alpha.
enum class OutputFormat : std::uint8_t { kBmp, kPng };

// What a PNG job writes beside its frames or sheet for a game engine to load: nothing, a JSON
// atlas of the frames (walk.json), or a SpriteFrames resource (walk.tres).
enum class DataFormat : std::uint8_t { kNone, kJson, kGodot };

struct RunParameters {
  double angle = 0.0;     // degrees of the first frame, positive counter-clockwise
  double endAngle = 0.0;  // degrees of the last frame of a series
  double scale = 1.0;     // factor relative to the input picture; 0 or less means 1
  double endScale = 1.0;  // factor of the last frame of a series
  std::int32_t frameCount = 1;  // below 2 means one frame
  char inputName[kPathChars] = {};
  char outputName[kPathChars] = {};
  OutputFormat format = OutputFormat::kBmp;
  std::int32_t sheetColumns = 0;        // PNG frames: above 0, one sheet of that many to a row
  std::uint32_t background = 0xFF00FF;  // BMP frames: what transparent input lies over (packed)
  bool backgroundGiven = false;         // BMP frames: made as PNG frames are, then laid over it
  std::int32_t directions = 0;                 // above 0: that many turns over a full circle from angle
  std::int32_t cellWidth = 0, cellHeight = 0;  // above 0: the input is a strip or grid of such cells
  bool pivotGiven = false;                     // the frames turn about (pivotX, pivotY) of the picture
  double pivotX = 0.0, pivotY = 0.0;           // or of each cell, in pixels from its top-left corner
  bool keepCanvas = false;                     // frames keep the input's canvas, grown as needed
  DataFormat data = DataFormat::kNone;  // a data file beside the frames or sheet
  double fps = 10.0;                    // frames per second written in the data file
};

// Whether run asks for a sprite set: frames placed by where the pivot lands, not by their
// centre pixels.
inline bool IsSpriteSet(const RunParameters& run) {
  return run.directions > 0 || run.cellWidth > 0 || run.pivotGiven || run.keepCanvas;
}

// Most frames of a sprite set (cells x directions): each is held until the canvas is known.
inline constexpr std::int64_t kMaxSetFrames = 100000;

// A progress display the front end installs. Either callback may be null.
// position runs 0 to 100; text is a NUL-terminated line or two.
struct ProgressDisplay {
  void (*setPosition)(void* context, int position) = nullptr;
  void (*setStatus)(void* context, const char* text) = nullptr;
  void* context = nullptr;
};

// Why the job's input was not taken, as the import found it.
enum class InputProblem {
  kNone,
  kUnreadable,        // cannot be opened or read (systemError tells why)
  kNotImage,          // its first bytes are those of no image format that is read
  kUnsupported,       // a BMP of a kind that is not read, and no conversion took it
  kTruncated,         // the file ends before its image does
  kTooLarge,          // its size is over the limit of a job (width and height tell it)
  kConversionFailed,  // the imaging library could not convert it
  kNoLibrary,         // a conversion was needed and the imaging library is missing
  kOutOfMemory,       // memory ran out while reading it
  kTooManyColours,    // PNG frames: no 24-bit colour is left to stand for one of its values
  kFileTooLarge,      // a pipe's bytes run over the limit of an input read into memory
};

struct InputReport {
  InputProblem problem = InputProblem::kNone;
  int systemError = 0;
  std::int64_t width = 0, height = 0;  // the size its header gives, when known
  char reason[256] = {};               // the imaging library's words on why, when it gave any
};

struct AppState {
  RunParameters runParameters;
  char openFileName[kPathChars] = "input.bmp";
  char saveFileName[kPathChars] = "output.bmp";
  bool firstRoundDefaults = true;
  bool runAgain = false;
  // None while no progress dialog is open; another thread may install or clear it
  // at any time, so every report reads it afresh.
  std::atomic<const ProgressDisplay*> progressWindow{nullptr};
  WorkingBitmap workingBitmap;
  InputReport importReport;  // set by each import of a job's input
  // The running job's temporary files; none outside a job.
  const JobTemporaries* temporaries = nullptr;
};

// The process-wide record the front ends use; tests may build their own AppState.
AppState& TheAppState();

// The progress of a job on app's display: each report goes to the display installed at that
// moment, if any. Never asks to stop. app must outlive it.
JobProgress ProgressOf(const AppState& app);

}  // namespace quillet
