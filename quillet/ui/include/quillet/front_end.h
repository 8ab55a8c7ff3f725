// The seam between quillet's job loop (job_loop.h) and the dialogs each platform supplies
// (front_end_posix.cpp on a terminal, front_end_win32.cpp in windows).
#pragma once

#include <cstdint>

#include "quillet/app_state.h"
#include "quillet/command_line.h"
#include "quillet/dialog_ids.h"
#include "quillet/import.h"

namespace quillet {

struct FileChooserSettings {
  const char* title;
  const char* filter;  // description and pattern pairs, each terminated, then an empty string
  std::uint32_t flags;  // OPENFILENAME flags on Windows
  const char* defaultExtension;
};

inline constexpr FileChooserSettings kInputChooser = {
    "Choose Input Image File",
    "Image Files (BMP/PNG/JPG/GIF/TIFF)\0*.bmp;*.png;*.jpg;*.jpeg;*.gif;*.tif;*.dib;*.wmf;*.emf\0"
    "All Files (*.*)\0*.*\0",
    0x81004,  // explorer style, file must exist, hide read-only box
    "bmp"};

inline constexpr FileChooserSettings kOutputChooser = {
    "Choose Output Bitmap Filename",
    "Bitmap Files (BMP)\0*.bmp\0All Files (*.*)\0*.*\0",
    0x88804,  // explorer style, no read-only file, path must exist, hide read-only box; no overwrite prompt
    "bmp"};

inline constexpr FileChooserSettings kPngOutputChooser = {
    "Choose Output PNG Filename",
    "PNG Files (PNG)\0*.png\0All Files (*.*)\0*.*\0",
    0x88804,
    "png"};

inline constexpr char kProgressDialogTitle[] = QUILLET_PROGRESS_TITLE;

// The platform's dialogs. Each chooser works on a file buffer of kPathChars that it starts
// from and, on a choice, leaves holding the chosen full path.
struct FrontEndPlatform {
  // True when a file was chosen; false on cancel.
  bool (*chooseInput)(void* context, const FileChooserSettings& settings, char* fileBuffer) = nullptr;
  bool (*chooseOutput)(void* context, const FileChooserSettings& settings, char* fileBuffer) = nullptr;
  // The parameter form over run: true on Run with the values stored, false on Quit.
  bool (*editParameters)(void* context, RunParameters& run) = nullptr;
  // Opens the progress display and installs it into app.progressWindow before returning.
  // Its cancel ends the process at once with status 0, at any moment of the job.
  void (*startProgress)(void* context, AppState& app) = nullptr;
  // Closes the display without ending the process; the caller then clears app.progressWindow.
  void (*stopProgress)(void* context, AppState& app) = nullptr;
  // Status of a round ended in a dialog before any job ran, after writing why; null or 0
  // when the user cancelled or quit (standard input that ran out is no such choice).
  int (*endStatus)(void* context) = nullptr;
  UnknownArgumentReport unknownArgument;
  // Shows the "Error" messages of the import; the program hands it to its importer.
  ErrorDisplay errorDisplay;
  void* context = nullptr;
};

}  // namespace quillet
