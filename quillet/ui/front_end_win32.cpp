// The dialogs of quillet on Windows: the common file dialogs, the parameter dialog on the
// main thread, and the progress dialog on a thread of its own so that it stays responsive
// (and its Cancel works) while the main thread computes.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <atomic>
#include <cstddef>

#include "quillet/files.h"
#include "quillet/front_end.h"
#include "quillet/parameter_form.h"

namespace quillet {
namespace {

constexpr int kParameterDialogId = 129;
constexpr int kProgressDialogId = 130;

constexpr int kFramesBox = 1004;
constexpr int kEndAngleBox = 1005;
constexpr int kEndScaleBox = 1007;

constexpr int kStatusText = 1009;
constexpr int kProgressBar = 1007;
constexpr int kCancelButton = 1006;

// Characters read from an edit box, terminator excluded.
constexpr int kFramesTextChars = 515;
constexpr int kFieldTextChars = 255;

// Ends the progress dialog at the end of a job; its result tells the thread that this was
// no Cancel, so the process goes on.
constexpr UINT kStopProgressMessage = WM_APP + 1;
constexpr INT_PTR kStoppedResult = 0x5170;

// The 76-byte settings record of the file dialogs: the layout without the trailing
// reserved fields.
constexpr DWORD kFileDialogRecordBytes = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
static_assert(sizeof(void*) != 4 || kFileDialogRecordBytes == 76);

HINSTANCE Instance(void* context) { return static_cast<HINSTANCE>(static_cast<AppState*>(context)->instance); }

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
  dialog.hInstance = Instance(context);
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
  GetDlgItemTextA(dialog, kFramesBox, text, sizeof text);
  const BOOL enable = EndFieldsEnabled(text) ? TRUE : FALSE;
  EnableWindow(GetDlgItem(dialog, kEndAngleBox), enable);
  EnableWindow(GetDlgItem(dialog, kEndScaleBox), enable);
}

// lParam of WM_INITDIALOG is the RunParameters edited; Run stores into it.
INT_PTR CALLBACK ParameterDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      const ParameterTexts texts = FormatParameters(*reinterpret_cast<RunParameters*>(lParam));
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
          StoreParameters(texts, *reinterpret_cast<RunParameters*>(GetWindowLongPtrA(dialog, DWLP_USER)));
          EndDialog(dialog, IDOK);
          return TRUE;
        }
        case IDCANCEL:  // Quit, and the Esc key
          EndProcess();
        case kFramesBox:
          if (HIWORD(wParam) == EN_CHANGE) UpdateEndBoxes(dialog);
          return FALSE;
        default:
          return FALSE;
      }
    case WM_CLOSE:
      EndProcess();
    default:
      return FALSE;
  }
}

bool EditParameters(void* context, RunParameters& run) {
  const INT_PTR result = DialogBoxParamA(Instance(context), MAKEINTRESOURCEA(kParameterDialogId), nullptr,
                                         ParameterDialogProc, reinterpret_cast<LPARAM>(&run));
  return result == IDOK;
}

// The progress dialog of the running job. The dialog handle is written by the progress
// thread and read by the main thread, which waits for it before the job starts.
struct ProgressDialog {
  AppState* app = nullptr;
  std::atomic<HWND> window{nullptr};
  std::atomic<bool> opened{false};       // the dialog was made
  std::atomic<bool> unavailable{false};  // the dialog could not be made (no display)
  HANDLE thread = nullptr;
  ProgressDisplay display;
};

ProgressDialog theProgress;

void SetPosition(void* context, int position) {
  SendDlgItemMessageA(static_cast<HWND>(context), kProgressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void SetStatus(void* context, const char* text) { SetDlgItemTextA(static_cast<HWND>(context), kStatusText, text); }

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      theProgress.display.setPosition = SetPosition;
      theProgress.display.setStatus = SetStatus;
      theProgress.display.context = dialog;
      theProgress.opened.store(true);
      theProgress.window.store(dialog);
      SetDlgItemTextA(dialog, kStatusText, "");
      SendDlgItemMessageA(dialog, kProgressBar, PBM_SETPOS, 0, 0);
      SendDlgItemMessageA(dialog, kProgressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
      SendDlgItemMessageA(dialog, kProgressBar, PBM_SETBARCOLOR, 0, static_cast<LPARAM>(CLR_DEFAULT));
      theProgress.app->progressWindow.store(&theProgress.display);
      return TRUE;
    case WM_COMMAND:
      // Esc and the close box arrive as IDCANCEL and are ignored: only Cancel ends the job.
      if (LOWORD(wParam) == kCancelButton) {
        EndDialog(dialog, kCancelButton);
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

// Runs the progress dialog. Any end of it but the job's own (Cancel) ends the process at
// once, wherever the main thread stands. A dialog that could not be made at all (no display)
// lets the job run without one.
DWORD WINAPI ProgressThread(void*) {
  const INT_PTR result = DialogBoxParamA(static_cast<HINSTANCE>(theProgress.app->instance),
                                         MAKEINTRESOURCEA(kProgressDialogId), nullptr, ProgressDialogProc, 0);
  if (result != kStoppedResult && !theProgress.opened.load()) {
    theProgress.unavailable.store(true);
    return 0;
  }
  if (result != kStoppedResult) EndProcess();
  return 0;
}

void StartProgress(void*, AppState& app) {
  theProgress.app = &app;
  theProgress.window.store(nullptr);
  app.progressWindow.store(nullptr);
  theProgress.opened.store(false);
  theProgress.unavailable.store(false);
  theProgress.thread = CreateThread(nullptr, 0, ProgressThread, nullptr, 0, nullptr);
  if (!theProgress.thread) return;  // the job runs without a display
  while (!theProgress.window.load() && !theProgress.unavailable.load()) Sleep(5);
  if (theProgress.unavailable.load()) {  // so does it when the dialog cannot be shown
    WaitForSingleObject(theProgress.thread, INFINITE);
    CloseHandle(theProgress.thread);
    theProgress.thread = nullptr;
  }
}

// Ends the dialog through its own thread, which then returns; no thread is killed, so none
// can be stopped while it holds a lock of the process.
void StopProgress(void*, AppState& app) {
  app.progressWindow.store(nullptr);
  if (!theProgress.thread) return;
  if (const HWND window = theProgress.window.exchange(nullptr))
    PostMessageA(window, kStopProgressMessage, 0, 0);
  WaitForSingleObject(theProgress.thread, INFINITE);
  CloseHandle(theProgress.thread);
  theProgress.thread = nullptr;
}

void ShowErrorBox(void*, const char* caption, const char* text) {
  MessageBoxA(nullptr, text, caption, MB_ICONERROR);
}

}  // namespace

FrontEndPlatform PlatformFrontEnd() {
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
  platform.context = &TheAppState();
  return platform;
}

}  // namespace quillet
