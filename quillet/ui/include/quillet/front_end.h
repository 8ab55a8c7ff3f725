// The front end of quillet: one round of choosing files and parameters, and the loop of
// jobs, over the dialogs each platform supplies (front_end_posix.cpp, front_end_win32.cpp).
#pragma once

#include <cstdint>

#include "quillet/app_state.h"
#include "quillet/command_line.h"
#include "quillet/dialog_ids.h"
#include "quillet/import.h"
#include "quillet/pipeline.h"

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

inline constexpr char kProgressDialogTitle[] = QUILLET_PROGRESS_TITLE;

// Status of a program whose last job failed, and of a refused command line.
enum ExitStatus : int {
  kExitSuccess = 0,          // also every cancel and quit
  kExitInputUnreadable = 1,  // the input could not be read as an image
  kExitBadCommandLine = 2,   // a name is too long, a value not finite, an output too large
  kExitOutputUnwritable = 3, // a temporary file or a frame could not be written
  kExitInputEnded = 4,       // standard input, not a terminal, ended before a needed answer
  kExitOutOfMemory = 5,      // memory ran out, or the picture is too large for a 32-bit program
};

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
  // The "Error" messages of the import; installed while RunJobs runs when show is set.
  ErrorDisplay errorDisplay;
  void* context = nullptr;
};

enum class RoundOutcome {
  kReady,     // input and output names set, parameters settled
  kEnded,     // the user cancelled a chooser or quit the parameter form
  kRefused,   // the command line was refused; a message was written
};

// Reads the command line (the first job of an empty one starts from 45 to 135 degrees),
// asks for missing names, and shows the parameter form unless the line settles the
// parameters; showing it sets app.runAgain.
RoundOutcome PrepareRound(AppState& app, CommandLine& line, const FrontEndPlatform& platform);

// Asks for the names still empty. Cancelling the output chooser goes back to the input
// chooser when that was asked for in this round; false when the user cancelled.
bool ChooseFiles(AppState& app, const FrontEndPlatform& platform);

// Whether the parameter form is needed: no angle nor scale given, or an end value without
// a frame count.
bool NeedsParameterDialog(const GivenValues& given);

// Writes to standard error why the parameters cannot make a job (an angle or scale that is
// not a finite number); its status, or kExitSuccess when they can.
int CheckParameters(const RunParameters& run);

// Writes to standard error what a job failed to do; the exit status that stands for it.
int ReportJobResult(const AppState& app, const JobResult& job);

// Runs jobs until one ends without app.runAgain, and returns the status of that job, or 0
// when the user ended the program in a dialog.
int RunJobs(AppState& app, CommandLine& line, const FrontEndPlatform& platform, const ImageImporter& importer);

// The platform's dialogs, bound to the process's standard streams or windows.
FrontEndPlatform PlatformFrontEnd();

}  // namespace quillet
