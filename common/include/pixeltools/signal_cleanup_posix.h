// The terminating signals on POSIX: their arrival removes the registered temporaries before
// the process ends as the signal would have ended it.
#pragma once

#include <signal.h>

namespace pixeltools {

inline constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// A signal handler: removes the registered temporaries, then ends the process by the signal's
// default action.
void EndRemovingTemporaries(int signal);

// While at least one lives, on any thread, each cleanup signal that has its default action
// is handled by EndRemovingTemporaries; when the last goes, those signals have their default
// action again. A signal the process ignores or handles itself is left to it.
struct SignalCleanupScope {
  SignalCleanupScope();
  ~SignalCleanupScope();
  SignalCleanupScope(const SignalCleanupScope&) = delete;
  SignalCleanupScope& operator=(const SignalCleanupScope&) = delete;
};

// Blocks the cleanup signals on this thread while it lives; one that came is taken when it
// goes.
struct CleanupSignalsHeld {
  sigset_t previous;
  CleanupSignalsHeld();
  ~CleanupSignalsHeld();
  CleanupSignalsHeld(const CleanupSignalsHeld&) = delete;
  CleanupSignalsHeld& operator=(const CleanupSignalsHeld&) = delete;
};

}  // namespace pixeltools
