// quillet's dialogs on a terminal, for the POSIX program: prompts and progress on standard
// error, answers from standard input.
#pragma once

#include "quillet/front_end.h"

namespace quillet {

// The progress display of the running job on standard error.
struct TerminalProgress {
  bool active = false;      // between StartProgress and StopProgress
  bool onTerminal = false;  // standard error is a terminal: the bar is drawn and redrawn
  bool barShown = false;
  int position = 0;
  ProgressDisplay display;
};

// What the terminal front end keeps between its dialogs.
struct TerminalSession {
  TerminalProgress progress;
  // The dialog at which standard input, when it is not a terminal, ran out; null while it has not.
  const char* inputEndedAt = nullptr;
};

// The front end on the terminal over session, which must outlive the record returned.
FrontEndPlatform TerminalFrontEnd(TerminalSession& session);

}  // namespace quillet
