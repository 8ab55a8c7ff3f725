// mostel.exe and quillet.exe, each started once as a user would, against the same work
// done in this process; and a quillet.exe job cancelled from its progress dialog.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "run.h"
#include "quillet/dialog_ids.h"
#include "quillet/import.h"
#include "quillet/job_loop.h"
#include "scratch_win32.h"
#include "wine_process.h"

namespace quillet {
namespace {

using testing::ReadFileBytes;
using testing::ScratchDirTest;

// Far above a run's need, even where each process start takes a minute of emulation.
constexpr DWORD kRunLimitMs = 600000;

const std::string kSamples = testing::WindowsPath(SAMPLES_DIR);

class Programs : public ScratchDirTest {
 protected:
  std::string Folder(const char* name) {
    const std::string folder = Dir() + "\\" + name;
    std::filesystem::create_directory(folder);
    return folder;
  }
};

TEST_F(Programs, MostelExeWritesWhatTheDriverWrites) {
  const std::string input = kSamples + "\\sheet.png";
  const char* arguments[] = {"mostel", input.c_str(), "driver.png"};
  ASSERT_EQ(mostel::RunMostel(3, arguments), 0);

  const std::string folder = Folder("exe");
  testing::ChildProcess child = testing::StartChild(MOSTEL_EXE, {input, "out.png"}, folder);
  ASSERT_TRUE(child.started);
  const testing::ChildResult result = testing::FinishChild(child, kRunLimitMs);
  ASSERT_TRUE(result.ended);
  EXPECT_EQ(result.status, 0u);
  EXPECT_EQ(result.output.rfind("Success!\r\n", 0), 0u) << result.output;
  const std::vector<std::uint8_t> own = ReadFileBytes("driver.png");
  ASSERT_FALSE(own.empty());
  EXPECT_TRUE(ReadFileBytes(folder + "\\out.png") == own);
}

// The same command line through the job loop in this process, with a front end that shows
// no progress, and through quillet.exe.
TEST_F(Programs, QuilletExeFromAFullCommandLineWritesTheSeriesOfTheLoopInProcess) {
  const std::string input = kSamples + "\\slime.png";
  std::string text = "-in \"" + input + "\" -out own -angle 0 -endangle 90 -scale 1 -endscale 2 -frames 3";
  CommandLine line;
  line.text = text.data();
  FrontEndPlatform quiet;
  quiet.startProgress = [](void*, AppState&) {};
  quiet.stopProgress = [](void*, AppState&) {};
  ImportSetup import;
  import.imaging = &LoadImagingLibrary();
  AppState app;
  ASSERT_EQ(RunJobs(app, line, quiet, ImporterFor(import)), 0);

  const std::string folder = Folder("exe");
  testing::ChildProcess child = testing::StartChild(
      QUILLET_EXE,
      {"-in", input, "-out", "series", "-angle", "0", "-endangle", "90", "-scale", "1", "-endscale", "2", "-frames", "3"},
      folder);
  ASSERT_TRUE(child.started);
  const testing::ChildResult result = testing::FinishChild(child, kRunLimitMs);
  ASSERT_TRUE(result.ended);
  EXPECT_EQ(result.status, 0u) << result.output;
  for (int frame = 1; frame <= 3; ++frame) {
    SCOPED_TRACE(frame);
    const std::vector<std::uint8_t> own = ReadFileBytes("own_" + std::to_string(frame) + ".bmp");
    ASSERT_FALSE(own.empty());
    EXPECT_TRUE(ReadFileBytes(folder + "\\series_" + std::to_string(frame) + ".bmp") == own);
  }
  EXPECT_EQ(TempListing(), "");
}

// The shells of Windows hand * and ? over as typed: both programs match them themselves, a
// name without them passes as it is, and a pattern that matches nothing is an input that fails.
// Names that differ in case only are one file: a second input writing one fails.
TEST_F(Programs, BatchesMatchWildcardsThemselves) {
  const std::string folder = Folder("exe");
  std::filesystem::create_directory(folder + "\\art");
  std::filesystem::create_directory(folder + "\\more");
  for (const char* name : {"slime.png", "potion.png"})
    std::filesystem::copy_file(kSamples + "\\" + name, folder + "\\art\\" + name);
  std::filesystem::copy_file(kSamples + "\\sword.png", folder + "\\art\\sword.gif.txt");
  std::filesystem::copy_file(kSamples + "\\sword.png", folder + "\\more\\SLIME.png");
  const std::vector<std::pair<const char*, std::vector<std::string>>> runs = {
      {QUILLET_EXE, {"-format", "png", "-angle", "30", "-outdir", "q", "--", "art\\*.png", "none*.png",
                     "art\\sword.gif.txt", "more/SLIME.png"}},
      {MOSTEL_EXE, {"-outdir", "m", "art\\p?tion.png", "art/s*e.png", "none?.png", "more\\SLIME.png"}}};
  for (const auto& [program, arguments] : runs) {
    SCOPED_TRACE(program);
    testing::ChildProcess child = testing::StartChild(program, arguments, folder);
    ASSERT_TRUE(child.started);
    const testing::ChildResult result = testing::FinishChild(child, kRunLimitMs);
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(result.status, 7u) << result.output;
    EXPECT_NE(result.output.find("\"none"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find(".png\": no file matches"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("SLIME.png\": not done: \""), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("is also the output of"), std::string::npos) << result.output;
  }
  for (const char* output : {"q\\potion.png", "q\\slime.png", "m\\potion.png", "m\\slime.png"})
    EXPECT_FALSE(ReadFileBytes(folder + "\\" + output).empty()) << output;
  // The name without a wildcard was taken as it is: a GIF under another ending.
  EXPECT_FALSE(ReadFileBytes(folder + "\\q\\sword.gif.png").empty());
}

// The job asks for far more frames than it can write before the Cancel comes.
TEST_F(Programs, QuilletExeCancelledFromItsProgressDialogEndsWithStatusZero) {
  constexpr int kFrames = 400;
  const std::string folder = Folder("exe");
  testing::ChildProcess child = testing::StartChild(
      QUILLET_EXE,
      {"-in", kSamples + "\\sword.png", "-out", "many", "-angle", "0", "-endangle", "359", "-scale", "4", "-frames",
       std::to_string(kFrames)},
      folder);
  ASSERT_TRUE(child.started);
  // Polls for the dialog until the child ends or the limit passes; each poll waits on the
  // child itself.
  HWND dialog = nullptr;
  const ULONGLONG deadline = GetTickCount64() + kRunLimitMs;
  while (!(dialog = testing::FindChildWindow(child, QUILLET_PROGRESS_TITLE)) && GetTickCount64() < deadline) {
    if (WaitForSingleObject(child.info.hProcess, 50) == WAIT_OBJECT_0) break;
  }
  ASSERT_NE(dialog, nullptr) << "no progress dialog appeared";
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(QUILLET_CANCEL_BUTTON, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, QUILLET_CANCEL_BUTTON)));
  const testing::ChildResult result = testing::FinishChild(child, kRunLimitMs);
  ASSERT_TRUE(result.ended);
  EXPECT_EQ(result.status, 0u);
  int frames = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().filename().string().rfind("many_", 0) == 0) ++frames;
  EXPECT_LT(frames, kFrames);
  EXPECT_EQ(TempListing(), "");  // the job's temporary folder went with the Cancel
}

}  // namespace
}  // namespace quillet
