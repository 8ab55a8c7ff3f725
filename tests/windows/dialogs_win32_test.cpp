// quillet's two dialogs opened from the program's own resources in this process: texts and
// enabled states read back, commands sent as messages, and the hand-over of the progress
// dialog between its thread and the job's.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "dialogs_win32.h"
#include "quillet/dialog_ids.h"

namespace quillet {
namespace {

HINSTANCE Resources() { return GetModuleHandleA(nullptr); }

std::string TextOf(HWND dialog, int control) {
  char text[512] = {};
  GetDlgItemTextA(dialog, control, text, sizeof text);
  return text;
}

bool Enabled(HWND dialog, int control) { return IsWindowEnabled(GetDlgItem(dialog, control)) != FALSE; }

void Command(HWND dialog, int control) {
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(control, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, control)));
}

class DialogTest : public ::testing::Test {
 protected:
  // Opens the dialog resource over record, modeless, as the test's own window.
  void OpenDialog(int resource, DLGPROC procedure, void* record) {
    dialog_ = CreateDialogParamA(Resources(), MAKEINTRESOURCEA(resource), nullptr, procedure,
                                 reinterpret_cast<LPARAM>(record));
    ASSERT_NE(dialog_, nullptr);
  }
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
  }
  void TearDown() override {
    if (dialog_) DestroyWindow(dialog_);
  }
  HWND dialog_ = nullptr;
};

class ParameterDialog : public DialogTest {
 protected:
  void Open() {
    state_.run = &run_;
    OpenDialog(QUILLET_PARAMETER_DIALOG, ParameterDialogProc, &state_);
  }
  RunParameters run_;
  ParameterDialogState state_;
};

TEST_F(ParameterDialog, ShowsTheValuesAndEnablesEndBoxesForSeriesOnly) {
  run_.angle = 45.0;
  run_.endAngle = 135.0;
  ASSERT_NO_FATAL_FAILURE(Open());
  char caption[64] = {};
  GetWindowTextA(dialog_, caption, sizeof caption);
  EXPECT_STREQ(caption, "Choose Parameters");
  EXPECT_EQ(TextOf(dialog_, QUILLET_ANGLE_BOX), "45.000000");
  EXPECT_EQ(TextOf(dialog_, QUILLET_SCALE_BOX), "1.000000");
  EXPECT_EQ(TextOf(dialog_, QUILLET_FRAMES_BOX), "1");
  EXPECT_EQ(TextOf(dialog_, QUILLET_END_ANGLE_BOX), "135.000000");
  EXPECT_EQ(TextOf(dialog_, QUILLET_END_SCALE_BOX), "1.000000");
  EXPECT_EQ(TextOf(dialog_, IDOK), "Run");
  EXPECT_EQ(TextOf(dialog_, IDCANCEL), "Quit");

  // Setting the text sends EN_CHANGE, as typing does.
  const struct {
    const char* frames;
    bool enabled;
  } cases[] = {{"1", false}, {"2", true}, {"10", true}, {"", false}, {"x", false}, {"0", false}, {"3x", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.frames);
    SetDlgItemTextA(dialog_, QUILLET_FRAMES_BOX, c.frames);
    EXPECT_EQ(Enabled(dialog_, QUILLET_END_ANGLE_BOX), c.enabled);
    EXPECT_EQ(Enabled(dialog_, QUILLET_END_SCALE_BOX), c.enabled);
    EXPECT_TRUE(Enabled(dialog_, QUILLET_ANGLE_BOX));
  }
  EXPECT_EQ(state_.result, 0);
}

TEST_F(ParameterDialog, RunStoresEveryBoxAndKeepsValuesOfTextsThatDoNotRead) {
  run_.frameCount = 4;
  run_.angle = 12.5;
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_TRUE(Enabled(dialog_, QUILLET_END_ANGLE_BOX));
  SetDlgItemTextA(dialog_, QUILLET_ANGLE_BOX, "");
  SetDlgItemTextA(dialog_, QUILLET_SCALE_BOX, "2.5x");
  SetDlgItemTextA(dialog_, QUILLET_FRAMES_BOX, "1");
  // Disabled end boxes are stored too.
  SetDlgItemTextA(dialog_, QUILLET_END_ANGLE_BOX, "-90");
  SetDlgItemTextA(dialog_, QUILLET_END_SCALE_BOX, "0.5");
  ASSERT_FALSE(Enabled(dialog_, QUILLET_END_SCALE_BOX));
  Command(dialog_, IDOK);
  EXPECT_EQ(state_.result, IDOK);
  EXPECT_EQ(run_.angle, 12.5);
  EXPECT_EQ(run_.scale, 2.5);
  EXPECT_EQ(run_.frameCount, 1);
  EXPECT_EQ(run_.endAngle, -90.0);
  EXPECT_EQ(run_.endScale, 0.5);
}

TEST_F(ParameterDialog, QuitEscAndCloseBoxEndItWithoutStoring) {
  for (const bool closeBox : {false, true}) {
    SCOPED_TRACE(closeBox ? "close box" : "Quit");
    run_ = RunParameters{};
    state_ = ParameterDialogState{};
    ASSERT_NO_FATAL_FAILURE(Open());
    SetDlgItemTextA(dialog_, QUILLET_ANGLE_BOX, "77");
    if (closeBox) {
      SendMessageA(dialog_, WM_CLOSE, 0, 0);
    } else {
      Command(dialog_, IDCANCEL);
    }
    EXPECT_EQ(state_.result, IDCANCEL);
    EXPECT_EQ(run_.angle, 0.0);
    DestroyWindow(dialog_);
    dialog_ = nullptr;
  }
}

class ProgressDialogTest : public DialogTest {
 protected:
  void Open() {
    progress_.app = &app_;
    OpenDialog(QUILLET_PROGRESS_DIALOG, ProgressDialogProc, &progress_);
  }
  AppState app_;
  ProgressDialog progress_;
};

TEST_F(ProgressDialogTest, ShowsWhatTheJobReportsAndEndsOnlyOnCancel) {
  ASSERT_NO_FATAL_FAILURE(Open());
  char caption[64] = {};
  GetWindowTextA(dialog_, caption, sizeof caption);
  EXPECT_STREQ(caption, "quillet - Progress");
  EXPECT_EQ(app_.progressWindow.load(), &progress_.display);
  EXPECT_EQ(progress_.window.load(), dialog_);
  EXPECT_EQ(TextOf(dialog_, QUILLET_STATUS_TEXT), "");
  EXPECT_EQ(TextOf(dialog_, QUILLET_CANCEL_BUTTON), "Cancel");
  const HWND bar = GetDlgItem(dialog_, QUILLET_PROGRESS_BAR);
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 100);

  ReportProgress(ProgressOf(app_), 40);
  ShowStatus(ProgressOf(app_), "Enlarging (2 of 3)");
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 40);
  EXPECT_EQ(TextOf(dialog_, QUILLET_STATUS_TEXT), "Enlarging (2 of 3)");

  // Esc and the close box arrive as IDCANCEL and leave the job running.
  Command(dialog_, IDCANCEL);
  SendMessageA(dialog_, WM_CLOSE, 0, 0);
  EXPECT_EQ(progress_.endedBy.load(), 0);
  Command(dialog_, QUILLET_CANCEL_BUTTON);
  EXPECT_EQ(progress_.endedBy.load(), QUILLET_CANCEL_BUTTON);
}

// The real hand-over: the dialog on its own thread, reports from this one, and the end of
// the job closing it without ending the process.
TEST(ProgressHandOver, OpensReportsAndClosesJobAfterJob) {
  AppState app;
  for (int job = 0; job < 3; ++job) {
    SCOPED_TRACE(job);
    ProgressDialog progress;
    progress.app = &app;
    progress.instance = Resources();
    ASSERT_TRUE(OpenProgressDialog(progress, 30000));
    const HWND window = progress.window.load();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(app.progressWindow.load(), &progress.display);
    ShowStatus(ProgressOf(app), "Frame 1 of 1");
    ReportProgress(ProgressOf(app), 55);
    EXPECT_EQ(TextOf(window, QUILLET_STATUS_TEXT), "Frame 1 of 1");
    EXPECT_EQ(SendDlgItemMessageA(window, QUILLET_PROGRESS_BAR, PBM_GETPOS, 0, 0), 55);
    ASSERT_TRUE(CloseProgressDialog(progress, 30000));
    EXPECT_EQ(app.progressWindow.load(), nullptr);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(progress.endedBy.load(), 0);
  }
}

// A job that ends before its dialog came up must not wait for a dialog nobody will close.
TEST(ProgressHandOver, StopBeforeTheDialogIsUpEndsItAnyway) {
  AppState app;
  for (int job = 0; job < 20; ++job) {
    SCOPED_TRACE(job);
    ProgressDialog progress;
    progress.app = &app;
    progress.instance = Resources();
    OpenProgressDialog(progress, 0);
    ASSERT_TRUE(CloseProgressDialog(progress, 30000));
    EXPECT_EQ(app.progressWindow.load(), nullptr);
  }
}

// Without the resource no dialog can be made: the job runs without a display and the
// process goes on.
TEST(ProgressHandOver, JobRunsWithoutDisplayWhenNoDialogCanBeMade) {
  AppState app;
  ProgressDialog progress;
  progress.app = &app;
  progress.instance = GetModuleHandleA("kernel32.dll");
  EXPECT_FALSE(OpenProgressDialog(progress, 30000));
  EXPECT_EQ(app.progressWindow.load(), nullptr);
  ReportProgress(ProgressOf(app), 10);
  EXPECT_TRUE(CloseProgressDialog(progress, 30000));
}

}  // namespace
}  // namespace quillet
