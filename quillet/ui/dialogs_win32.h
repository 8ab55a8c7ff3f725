// The parameter dialog and the progress dialog of quillet on Windows, for the front end
// (front_end_win32.cpp) and its tests. Each dialog works on a record given at its creation,
// so the tests can open the real resources in their own process.
#pragma once

#include <windows.h>

#include <atomic>

#include "quillet/app_state.h"
#include "quillet/front_end.h"

namespace quillet {

// The parameter dialog edits run; result says how it ended.
struct ParameterDialogState {
  RunParameters* run = nullptr;
  INT_PTR result = 0;  // IDOK after Run (values stored), IDCANCEL after Quit, Esc or the close box
};

// The procedure of resource QUILLET_PARAMETER_DIALOG; the creation parameter is a
// ParameterDialogState*. It ends the dialog on Run and on Quit, and never the process.
INT_PTR CALLBACK ParameterDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The progress dialog of one job, run modally on a thread of its own so that its Cancel
// works while the main thread computes. The record must outlive that thread.
struct ProgressDialog {
  AppState* app = nullptr;  // the dialog installs display into app->progressWindow
  HINSTANCE instance = nullptr;
  ProgressDisplay display;
  std::atomic<HWND> window{nullptr};         // set by the dialog once it is up
  std::atomic<bool> stopRequested{false};    // set by the main thread at the end of the job
  std::atomic<INT_PTR> endedBy{0};           // QUILLET_CANCEL_BUTTON after Cancel
  HANDLE opened = nullptr;  // event: the dialog is up, or could not be made
  HANDLE thread = nullptr;
};

// The procedure of resource QUILLET_PROGRESS_DIALOG; the creation parameter is a
// ProgressDialog*. Cancel ends the dialog with QUILLET_CANCEL_BUTTON; Esc and the close box
// do nothing.
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Starts the dialog's thread and waits at most waitMs for the dialog to come up. The job
// runs without a display when it does not: false then. A Cancel ends the process at the
// job's next report.
bool OpenProgressDialog(ProgressDialog& progress, DWORD waitMs);

// Ends the dialog through its own thread and waits at most waitMs for that thread; false
// when it did not end in time (the record must then be left alive). Either way the
// display is no longer installed when this returns.
bool CloseProgressDialog(ProgressDialog& progress, DWORD waitMs);

// What the Windows front end works on: the module holding the dialog resources, and the
// progress dialog of the running job.
struct WindowsDialogs {
  HINSTANCE instance = nullptr;
  ProgressDialog* progress = nullptr;
};

// The front end over dialogs, which must outlive the record returned.
FrontEndPlatform WindowsFrontEnd(WindowsDialogs& dialogs);

}  // namespace quillet
