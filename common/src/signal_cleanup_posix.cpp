#include <pthread.h>

#include <cstddef>
#include <mutex>

#include "pixeltools/signal_cleanup_posix.h"
#include "pixeltools/temporaries.h"

namespace pixeltools {
namespace {

constexpr std::size_t kSignalCount = sizeof kCleanupSignals / sizeof kCleanupSignals[0];

std::mutex scopeMutex;
int scopeCount = 0;
bool installed[kSignalCount] = {};

}  // namespace

void EndRemovingTemporaries(int signal) {
  RemoveTemporariesNow();
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  raise(signal);
}

SignalCleanupScope::SignalCleanupScope() {
  const std::lock_guard<std::mutex> lock(scopeMutex);
  if (scopeCount++ > 0) return;
  struct sigaction action = {};
  action.sa_handler = EndRemovingTemporaries;
  sigemptyset(&action.sa_mask);
  for (std::size_t k = 0; k < kSignalCount; ++k) {
    struct sigaction previous = {};
    sigaction(kCleanupSignals[k], nullptr, &previous);
    installed[k] = !(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_DFL;
    if (installed[k]) sigaction(kCleanupSignals[k], &action, nullptr);
  }
}

SignalCleanupScope::~SignalCleanupScope() {
  const std::lock_guard<std::mutex> lock(scopeMutex);
  if (--scopeCount > 0) return;
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (std::size_t k = 0; k < kSignalCount; ++k) {
    if (installed[k]) sigaction(kCleanupSignals[k], &action, nullptr);
    installed[k] = false;
  }
}

CleanupSignalsHeld::CleanupSignalsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (const int signal : kCleanupSignals) sigaddset(&held, signal);
  pthread_sigmask(SIG_BLOCK, &held, &previous);
}

CleanupSignalsHeld::~CleanupSignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }

}  // namespace pixeltools
