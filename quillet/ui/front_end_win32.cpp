// The dialogs of quillet on Windows: the common file dialogs, the parameter dialog on the
// main thread, and the progress dialog on a thread of its own so that it stays responsive
// (and its Cancel works) while the main thread computes.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <cstddef>
#include <new>

#include "dialogs_win32.h"
#include "quillet/dialog_ids.h"
#include "quillet/files.h"
#include "quillet/parameter_form.h"

namespace quillet {
namespace {

// Characters read from an edit box, terminator excluded.
constexpr int kFramesTextChars = 515;
constexpr int kFieldTextChars = 255;

// Ends the progress dialog at the end of a job; its result tells the thread that this was
// no Cancel, so the process goes on.
constexpr UINT kStopProgressMessage = WM_APP + 1;
constexpr INT_PTR kStoppedResult = 0x5170;

// How long the main thread waits for the progress dialog to come up, and for its thread to
// end after the job. Both are far above what a dialog needs, even under an emulated CPU;
// they only keep a lost dialog from holding the job or the program for ever.
constexpr DWORD kProgressOpenWaitMs = 60000;
constexpr DWORD kProgressCloseWaitMs = 10000;
// After a Cancel the job ends the process at its next report, between two file operations,
// so no temporary is held open when they are deleted; if no report comes in this time, the
// dialog's thread ends it wherever the job stands.
constexpr DWORD kCancelGraceMs = 5000;

// The 76-byte settings record of the file dialogs: the layout without the trailing
// reserved fields.
constexpr DWORD kFileDialogRecordBytes = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
static_assert(sizeof(void*) != 4 || kFileDialogRecordBytes == 76);

WindowsDialogs& Dialogs(void* context) { return *static_cast<WindowsDialogs*>(context); }

// The job's temporary files, and a frame half-written beside its name, go first.
[[noreturn]] void EndProcess() {
  RemoveTemporariesNow();
  TerminateProcess(GetCurrentProcess(), 0);
  ExitProcess(0);  // not reached: TerminateProcess on this process does not return
}

bool ChooseFile(void* context, const FileChooserSettings& settings, char* fileBuffer, bool forOutput) {
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = kFileDialogRecordBytes;
  dialog.hwndOwner = nullptr;
  dialog.hInstance = Dialogs(context).instance;
  dialog.lpstrFilter = settings.filter;
  dialog.nFilterIndex = 0;
  dialog.lpstrFile = fileBuffer;
  dialog.nMaxFile = kPathChars;
  dialog.lpstrTitle = settings.title;
  dialog.Flags = settings.flags;
  dialog.lpstrDefExt = settings.defaultExtension;
  return (forOutput ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog)) != 0;
}

bool ChooseInput(void* context, const FileChooserSettings& settings, char* fileBuffer) {
  return ChooseFile(context, settings, fileBuffer, false);
}

bool ChooseOutput(void* context, const FileChooserSettings& settings, char* fileBuffer) {
  return ChooseFile(context, settings, fileBuffer, true);
}

// The end boxes serve a series only: enabled while the frame count reads above 1.
void UpdateEndBoxes(HWND dialog) {
  char text[kFramesTextChars + 1];
  GetDlgItemTextA(dialog, QUILLET_FRAMES_BOX, text, sizeof text);
  const BOOL enable = EndFieldsEnabled(text) ? TRUE : FALSE;
  EnableWindow(GetDlgItem(dialog, QUILLET_END_ANGLE_BOX), enable);
  EnableWindow(GetDlgItem(dialog, QUILLET_END_SCALE_BOX), enable);
}

ParameterDialogState& ParameterState(HWND dialog) {
  return *reinterpret_cast<ParameterDialogState*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

void EndParameterDialog(HWND dialog, INT_PTR result) {
  ParameterState(dialog).result = result;
  EndDialog(dialog, result);
}

bool EditParameters(void* context, RunParameters& run) {
  ParameterDialogState state;
  state.run = &run;
  DialogBoxParamA(Dialogs(context).instance, MAKEINTRESOURCEA(QUILLET_PARAMETER_DIALOG), nullptr,
                  ParameterDialogProc, reinterpret_cast<LPARAM>(&state));
  return state.result == IDOK;
}

// The job reports from its own thread, never while it holds a file open: the place to end
// the process after a Cancel.
ProgressDialog& ReportedTo(void* context) {
  ProgressDialog& progress = *static_cast<ProgressDialog*>(context);
  if (progress.endedBy.load() == QUILLET_CANCEL_BUTTON) EndProcess();
  return progress;
}

void SetPosition(void* context, int position) {
  SendDlgItemMessageA(ReportedTo(context).window.load(), QUILLET_PROGRESS_BAR, PBM_SETPOS,
                      static_cast<WPARAM>(position), 0);
}

void SetStatus(void* context, const char* text) {
  SetDlgItemTextA(ReportedTo(context).window.load(), QUILLET_STATUS_TEXT, text);
}

ProgressDialog& ProgressOf(HWND dialog) {
  return *reinterpret_cast<ProgressDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

// Runs the progress dialog. After a Cancel the job's next report ends the process (within
// kCancelGraceMs, else this thread does); a dialog that could not be made lets the job run
// without one.
DWORD WINAPI ProgressThread(void* parameter) {
  ProgressDialog& progress = *static_cast<ProgressDialog*>(parameter);
  const INT_PTR result = DialogBoxParamA(progress.instance, MAKEINTRESOURCEA(QUILLET_PROGRESS_DIALOG), nullptr,
                                         ProgressDialogProc, reinterpret_cast<LPARAM>(&progress));
  if (result == QUILLET_CANCEL_BUTTON) {
    Sleep(kCancelGraceMs);
    EndProcess();
  }
  SetEvent(progress.opened);  // for a dialog that never came up
  return 0;
}

void StartProgress(void* context, AppState& app) {
  WindowsDialogs& dialogs = Dialogs(context);
  ProgressDialog* progress = new (std::nothrow) ProgressDialog;
  if (!progress) return;  // the job runs without a display
  progress->app = &app;
  progress->instance = dialogs.instance;
  if (!OpenProgressDialog(*progress, kProgressOpenWaitMs) && !progress->thread) {
    delete progress;
    return;
  }
  dialogs.progress = progress;
}

// A dialog thread that does not end in time keeps its record: it is left, not freed.
void StopProgress(void* context, AppState& app) {
  WindowsDialogs& dialogs = Dialogs(context);
  if (dialogs.progress && CloseProgressDialog(*dialogs.progress, kProgressCloseWaitMs)) delete dialogs.progress;
  dialogs.progress = nullptr;
  app.progressWindow.store(nullptr);
}

void ShowErrorBox(void*, const char* caption, const char* text) {
  MessageBoxA(nullptr, text, caption, MB_ICONERROR);
}

}  // namespace

// lParam of WM_INITDIALOG is the ParameterDialogState; Run stores into its RunParameters.
INT_PTR CALLBACK ParameterDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      const ParameterTexts texts = FormatParameters(*reinterpret_cast<ParameterDialogState*>(lParam)->run);
      for (int field = 0; field < kParameterFieldCount; ++field)
        SetDlgItemTextA(dialog, kParameterFields[field].controlId, texts.field[field]);
      UpdateEndBoxes(dialog);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK: {
          ParameterTexts texts;
          for (int field = 0; field < kParameterFieldCount; ++field)
            GetDlgItemTextA(dialog, kParameterFields[field].controlId, texts.field[field], kFieldTextChars + 1);
          StoreParameters(texts, *ParameterState(dialog).run);
          EndParameterDialog(dialog, IDOK);
          return TRUE;
        }
        case IDCANCEL:  // Quit, and the Esc key
          EndParameterDialog(dialog, IDCANCEL);
          return TRUE;
        case QUILLET_FRAMES_BOX:
          if (HIWORD(wParam) == EN_CHANGE) UpdateEndBoxes(dialog);
          return FALSE;
        default:
          return FALSE;
      }
    case WM_CLOSE:
      EndParameterDialog(dialog, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

// The window is published before stopRequested is read, and CloseProgressDialog sets
// stopRequested before it reads the window: so either this dialog sees the request or the
// main thread sees the window and posts the stop, whichever comes first.
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      ProgressDialog& progress = *reinterpret_cast<ProgressDialog*>(lParam);
      progress.display.setPosition = SetPosition;
      progress.display.setStatus = SetStatus;
      progress.display.context = &progress;
      SetDlgItemTextA(dialog, QUILLET_STATUS_TEXT, "");
      SendDlgItemMessageA(dialog, QUILLET_PROGRESS_BAR, PBM_SETPOS, 0, 0);
      SendDlgItemMessageA(dialog, QUILLET_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
      SendDlgItemMessageA(dialog, QUILLET_PROGRESS_BAR, PBM_SETBARCOLOR, 0, static_cast<LPARAM>(CLR_DEFAULT));
      progress.window.store(dialog);
      if (progress.stopRequested.load()) {
        PostMessageA(dialog, kStopProgressMessage, 0, 0);
      } else if (progress.app) {
        progress.app->progressWindow.store(&progress.display);
      }
      if (progress.opened) SetEvent(progress.opened);
      return TRUE;
    }
    case WM_COMMAND:
      // Esc and the close box arrive as IDCANCEL and are ignored: only Cancel ends the job.
      if (LOWORD(wParam) == QUILLET_CANCEL_BUTTON) {
        ProgressOf(dialog).endedBy.store(QUILLET_CANCEL_BUTTON);
        EndDialog(dialog, QUILLET_CANCEL_BUTTON);
        return TRUE;
      }
      return FALSE;
    case kStopProgressMessage:
      EndDialog(dialog, kStoppedResult);
      return TRUE;
    default:
      return FALSE;
  }
}

bool OpenProgressDialog(ProgressDialog& progress, DWORD waitMs) {
  if (progress.app) progress.app->progressWindow.store(nullptr);
  progress.opened = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!progress.opened) return false;
  progress.thread = CreateThread(nullptr, 0, ProgressThread, &progress, 0, nullptr);
  if (!progress.thread) return false;
  return WaitForSingleObject(progress.opened, waitMs) == WAIT_OBJECT_0 && progress.window.load() != nullptr;
}

// No thread is killed, so none can be stopped while it holds a lock of the process.
bool CloseProgressDialog(ProgressDialog& progress, DWORD waitMs) {
  progress.stopRequested.store(true);
  if (const HWND window = progress.window.load()) PostMessageA(window, kStopProgressMessage, 0, 0);
  bool ended = true;
  if (progress.thread) {
    ended = WaitForSingleObject(progress.thread, waitMs) == WAIT_OBJECT_0;
    if (ended) {
      CloseHandle(progress.thread);
      progress.thread = nullptr;
    }
  }
  if (ended && progress.opened) {
    CloseHandle(progress.opened);
    progress.opened = nullptr;
  }
  if (progress.app) progress.app->progressWindow.store(nullptr);
  return ended;
}

FrontEndPlatform WindowsFrontEnd(WindowsDialogs& dialogs) {
  // The progress bar's window class.
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  FrontEndPlatform platform;
  platform.chooseInput = ChooseInput;
  platform.chooseOutput = ChooseOutput;
  platform.editParameters = EditParameters;
  platform.startProgress = StartProgress;
  platform.stopProgress = StopProgress;
  platform.errorDisplay.show = ShowErrorBox;
  platform.context = &dialogs;
  return platform;
}

}  // namespace quillet
