// quillet on POSIX: the dialogs run on the terminal; Ctrl-C is the Cancel of every dialog.
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "front_end_posix.h"
#include "pixeltools/signal_cleanup_posix.h"
#include "quillet/about.h"
#include "quillet/files.h"
#include "quillet/job_loop.h"
#include "quillet/imaging.h"
#include "quillet/import.h"

namespace {

// Cancel ends the process at once, wherever the job stands; frames written so far stay, the
// job's temporary files and a frame half-written beside its name go. The status is 130 for a
// job run once from a complete command line, so that a script tells it from success, and 0
// in interactive use. The line end leaves the shell's prompt below a half-drawn bar.
void Cancel(int) {
  quillet::RemoveTemporariesNow();
  const ssize_t ignored = write(STDERR_FILENO, "\n", 1);
  (void)ignored;
  _exit(quillet::CancelExitStatus());
}

}  // namespace

int main(int argc, char** argv) {
  const quillet::AboutRequest about = quillet::FindAboutRequest(argv + 1, argc - 1);
  if (about != quillet::AboutRequest::kNone) return quillet::AnswerAboutRequest(about, stdout);

  struct sigaction action = {};
  action.sa_handler = Cancel;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  // A request to end from outside removes the same files, then ends the process as the signal
  // would have.
  action.sa_handler = pixeltools::EndRemovingTemporaries;
  for (const int signal : {SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction previous = {};
    sigaction(signal, nullptr, &previous);
    if (previous.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
  }

  quillet::AppState& app = quillet::TheAppState();
  const quillet::ImagingApi& imaging = quillet::LoadImagingLibrary();
  app.workingBitmap = quillet::WorkingBitmap{};

  quillet::CommandLine line;
  line.arguments = argc > 1 ? argv + 1 : nullptr;
  line.argumentCount = argc > 1 ? argc - 1 : 0;
  quillet::TerminalSession session;
  const quillet::FrontEndPlatform platform = quillet::TerminalFrontEnd(session);
  return quillet::RunProgram(app, line, platform, imaging);
}
