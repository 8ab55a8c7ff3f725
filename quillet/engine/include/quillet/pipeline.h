// One job of quillet: import the input, enlarge it eight times by three smart 2x steps
// through a temporary BMP file of the job's own, then render one frame or a numbered series
// of frames.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quillet/app_state.h"

namespace quillet {

struct RgbaImage;
struct FrameSink;

// The name of the enlargement's temporary file; a job makes it in its own temporary
// directory (RunQuilletJob), callers of EnlargeImage wherever they choose.
inline constexpr char kEnlargeTempName[] = "_temp.bmp";

// Room for a frame name: a base cut at index 251, "_", ten digits, ".bmp" and the terminator.
inline constexpr std::size_t kFrameNameChars = 272;

// Brings an image file into app.workingBitmap; true when it then holds a 24-bit image.
// The front end supplies the import through the platform's imaging library; with no
// function set, only files that the BMP loader reads as 24-bit bitmaps are taken.
// The import also fills app.importReport; inspect, when set, gives the size of an image file
// from its header without decoding it (false when it cannot tell, with report.problem set).
// importRgba, when set, gives the input with its transparency for PNG frames: true with
// rgba set, or false with report saying why; false with no problem in report leaves the file
// to import.
struct ImageImporter {
  bool (*import)(void* context, AppState& app, const char* fileName) = nullptr;
  void* context = nullptr;
  bool (*inspect)(void* context, const char* fileName, InputReport& report) = nullptr;
  bool (*importRgba)(void* context, AppState& app, const char* fileName, RgbaImage& rgba,
                     InputReport& report) = nullptr;
};

// The report of a BMP load: its failure as an input problem, the error and the size.
InputReport ReportOf(const LoadOutcome& outcome);

// Largest eight-times enlargement a job makes, in bytes of 24-bit rows: kMaxPixelBlockBytes,
// or a quarter of it in a 32-bit process, whose address space could not hold the job's
// copies of a larger one.
std::uint64_t MaxEnlargedBytes();

// Whether a width x height input's eight-times enlargement is within limit bytes of 24-bit rows
// (MaxEnlargedBytes unless a caller sets its own).
bool FitsEnlargement(std::int64_t width, std::int64_t height, std::uint64_t limit = MaxEnlargedBytes());

struct EnlargeResult {
  bool inputImported = false;  // the input became a 24-bit image
  InputReport input;           // why not, when it did not
  bool outOfMemory = false;    // memory ran out during the enlargement
  // Every step was written and, with the reload flag, read back: the working bitmap (or,
  // without the flag, the temporary file) holds the eight-times image. When false the
  // working bitmap holds no image, so no frame is rendered from a partial enlargement.
  bool enlarged = false;
  bool cancelled = false;  // the progress's cancel stopped it between steps
  // A temporary file could not be created or written: the directory meant for it, and why.
  bool temporaryFailed = false;
  char temporaryDirectory[kTempPathChars] = {};
  char temporaryReason[kFailureReasonChars] = {};
};

enum class FrameProblem {
  kNone,
  kNotWritten,   // the file could not be written
  kTooLarge,     // the frame would be over the size limit (wantedWidth x wantedHeight)
  kOutOfMemory,  // memory ran out while rendering it
};

struct FramesResult {
  int framesWanted = 0;   // 1 for a single frame, else the frame count
  int framesWritten = 0;  // frame files written whole
  char firstFailedName[kFrameNameChars] = {};  // first frame not written; empty when none
  FrameProblem firstProblem = FrameProblem::kNone;  // why that frame was not written
  double wantedWidth = 0, wantedHeight = 0;        // its size, when it was too large
  bool wantedRgba = false;     // that size is of a sheet of 4-byte RGBA pixels
  bool wantedAtLeast = false;  // that size is what the frames made so far already need
  char failureReason[kFailureReasonChars] = {};  // why it was not written; empty when unknown
  bool cancelled = false;  // the progress's cancel stopped the series before a frame
  bool dataFailed = false;  // every frame went out, but the data file beside them did not
};

// Room for the line that refuses a sprite set, with a name of kPathChars in it.
inline constexpr std::size_t kSetRefusedChars = 512;

struct JobResult {
  EnlargeResult enlarge;
  FramesResult frames;
  // A sprite set whose options do not fit the picture read (cells that do not divide it, a
  // pivot outside it, more frames than a set holds): the line that says so; nothing is made.
  char setRefused[kSetRefusedChars] = {};
  // The sink's claim refused the job's files (OutputClaim): none was written.
  bool outputsRefused = false;
  bool Succeeded() const {
    return enlarge.enlarged && frames.framesWritten == frames.framesWanted && !frames.dataFailed;
  }
  bool Cancelled() const { return enlarge.cancelled || frames.cancelled; }
};

// Imports inputName, then runs three smart 2x steps, each written to tempName, which each
// step creates anew (an existing file of that name fails the step, a link is not followed);
// the first two are read back, and the third too when reload is set, each deleted once read
// back. Without reload the third step's file stays for the caller. A file of that name that
// this call did not write is neither read nor deleted. Reports 0, 5, 10, 25, 35, 50, 65, 80,
// (90,) 100. progress's cancel is asked before each step. Each step's bands of rows go to up
// to `threads` threads (0: every core); the bytes do not depend on it.
EnlargeResult EnlargeImage(AppState& app, const JobProgress& progress, const ImageImporter& importer,
                           const char* inputName, const char* tempName, bool reload, int threads = 0);

// Renders each frame of app.runParameters from the working bitmap as a 24-bit frame and
// hands it to sink (named by SinkFileName); a series runs angle and scale evenly from the
// start values to the end values, and stops at the first frame the sink did not take.
// threads as for RenderFrame: 0 uses every core; the bytes do not depend on it. With more
// than one, the frames of a series after the first may be made side by side on worker
// threads; texts, progress positions and frames still come in frame order from this thread.
FramesResult RunFrames(const AppState& app, const JobProgress& progress, const FrameSink& sink, int threads = 0);

// The output name with "." and extension appended unless it counts as having it: for "bmp",
// its last '.' at index 5 or later followed by b, m, p in any ASCII case; for any other, it
// ends in "." and the extension in any ASCII case. Nothing is appended when the result would
// not fit kPathChars. outputName is read up to kPathChars - 1 characters.
void OutputFileName(const char* outputName, char (&name)[kPathChars], const char* extension = "bmp");

// Name of frame index (from 0) of a series of frameCount: the suffix "_%d." and the
// extension (the number of width 1, 2, 3 or 4 by the frame count) replaces the last '.' and
// what follows it, starting no later than index 251 (for a three-letter extension).
void FrameFileName(const char* name, int frameCount, int index, char (&frameName)[kFrameNameChars],
                   const char* extension = "bmp");

// Whether the first length characters of name end in "." and extension, in any ASCII case.
bool EndsWithExtension(const char* name, std::size_t length, const char* extension);

// ((end - start) x index) / (count - 1) + start, in this order; count must exceed 1.
double Interpolate(double start, double end, int index, int count);

// Resolves name against the current directory without touching the file system; false
// when the result needs more than outSize bytes with its terminator.
bool AbsolutePath(const char* name, char* out, std::size_t outSize);

}  // namespace quillet
