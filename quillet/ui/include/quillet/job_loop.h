// The loop of quillet's jobs: one round of choosing files and parameters, the job, and what
// the program ends with, over the platform's dialogs (front_end.h).
#pragma once

#include <string>
#include <vector>

#include "quillet/app_state.h"
#include "quillet/batch.h"
#include "quillet/command_line.h"
#include "quillet/front_end.h"
#include "quillet/imaging.h"
#include "quillet/job.h"
#include "quillet/pipeline.h"

namespace quillet {

// Status of a program whose last job failed, and of a refused command line.
enum ExitStatus : int {
  kExitSuccess = 0,          // also every cancel and quit in interactive use
  kExitInputUnreadable = 1,  // the input could not be read as an image
  kExitBadCommandLine = 2,   // a name is too long, a value not finite, an output too large, an
                             // unknown option on a complete line, an -out that is a folder
  kExitOutputUnwritable = 3, // the output folder, a temporary file or a frame could not be written
  kExitInputEnded = 4,       // standard input, not a terminal, ended before a needed answer
  kExitOutOfMemory = 5,      // memory ran out, or the picture is too large for a 32-bit program
  kExitInterrupted = 130,    // Ctrl-C (SIGINT) stopped a job run once from a complete command line
};

enum class RoundOutcome {
  kReady,     // input and output names set, parameters settled
  kEnded,     // the user cancelled a chooser or quit the parameter form
  kRefused,   // the command line was refused; a message was written
};

// What a round's command line asked beyond the job's parameters.
struct RoundMarks {
  // The line named both files and settled the parameters, and no dialog was shown in this
  // round or before: the job runs once, as a script runs it.
  bool oneShot = false;
  bool quiet = false;  // -quiet: no progress display
  // The line asked for a batch (-outdir DIR -- INPUT...), which runs once and asks nothing.
  bool batch = false;
  BatchRequest request;
};

// Reads the command line (the first job of an empty one starts from 45 to 135 degrees),
// asks for missing names, and shows the parameter form unless the line settles the
// parameters; showing it sets app.runAgain. A line that would run once is refused for a
// token that names no option; other lines report such tokens and go on. An -out that names
// a folder or ends in a separator is refused either way. A BMP job whose -out ends in .png
// gets a hint at -format png. marks, when given, receives the round's marks.
RoundOutcome PrepareRound(AppState& app, CommandLine& line, const FrontEndPlatform& platform,
                          RoundMarks* marks = nullptr);

// Asks for the names still empty. The output chooser is that of the job's sink (its filter
// and extension), starts from the last name in that extension, and a name chosen in the other
// format's extension (.bmp, .png) takes the sink's. Cancelling the output chooser goes back to
// the input chooser when that was asked for in this round; false when the user cancelled.
bool ChooseFiles(AppState& app, const FrontEndPlatform& platform);

// Whether the parameter form is needed: no angle nor scale given, or an end value without
// a frame count.
bool NeedsParameterDialog(const GivenValues& given);

// Writes to standard error why the parameters cannot make a job (an angle or scale that is
// not a finite number); its status, or kExitSuccess when they can.
int CheckParameters(const RunParameters& run);

// Writes to standard error why the job's frames could not be written where its output name
// points (the folder is missing, no folder, or may not be written); kExitOutputUnwritable
// then, kExitSuccess when they can be.
int CheckOutputFolder(const RunParameters& run);

// The status a cancel ends the process with: kExitInterrupted while a one-shot job runs,
// kExitSuccess otherwise (a dialog's cancel, interactive use). Safe in a signal handler.
int CancelExitStatus();

// Writes to standard error (or, when out is given, appends to it) what a job failed to do;
// the exit status that stands for it.
int ReportJobResult(const AppState& app, const JobResult& job, std::string* out = nullptr);

// The job of a complete command line on app.runParameters: its format's sink, the input read
// once first when it is a pipe, `threads` threads (0: every core). A batch runs each of its
// files through this too, with the claim of its names (OutputClaim).
JobResult RunOneShotJob(AppState& app, const ImageImporter& importer, int threads = 0, const OutputClaim& claim = {});

// Every file the job of run would write, in order: its one output, its sheet, or each frame of
// its series, and its data file. Frames one to a file of a set of -cells are left out: their
// names depend on the count of cells, known once the input is read.
std::vector<std::string> JobOutputNames(const RunParameters& run);
// Whether the names of the files of run's job depend on its input: frames one to a file of a
// set of -cells are named for the count of cells.
bool NamesNeedInput(const RunParameters& run);

// Runs jobs until one ends without app.runAgain, and returns the status of that job, or 0
// when the user ended the program in a dialog. A job's output folder is checked before the
// job; with -quiet no progress display is opened. A batch runs instead through batchImporter
// (importer when null) and its status is returned.
int RunJobs(AppState& app, CommandLine& line, const FrontEndPlatform& platform, const ImageImporter& importer,
            const ImageImporter* batchImporter = nullptr);

// The program's jobs: RunJobs with the import through imaging, its "Error" messages shown by
// the platform. Memory that runs out beyond the jobs' own checks ends it with kExitOutOfMemory.
int RunProgram(AppState& app, CommandLine& line, const FrontEndPlatform& platform, const ImagingApi& imaging);

}  // namespace quillet
