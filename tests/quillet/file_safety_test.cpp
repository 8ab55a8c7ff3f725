// The quillet program's files under pressure: many jobs at once in one directory, inputs
// named like temporary files, outputs that cannot be written, and jobs ended by a signal.
// Every job's TMPDIR is a scratch directory, which must be empty once the jobs are gone.
#include <lodepng.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "quillet/job_loop.h"
#include "quillet_command.h"
#include "scratch_dir.h"

namespace fs = std::filesystem;

namespace quillet::testing {
namespace {

using Clock = std::chrono::steady_clock;

void WritePng(const std::string& path, const Picture& picture) {
  ASSERT_EQ(lodepng::encode(path, OpaqueRgbaBytes(picture), static_cast<unsigned>(picture.width),
                            static_cast<unsigned>(picture.height)),
            0u);
}

// How the process ended; one that had to be killed when its time was up fails the test.
ProcessResult Ended(Process& process) {
  const ProcessResult result = Finish(process);
  if (result.timedOut) ADD_FAILURE() << "the program did not end in time: " << result.err;
  return result;
}

ProcessResult RunQuillet(const Command& command) {
  Process process = Start(command);
  return Ended(process);
}

ProcessResult RunQuillet(const std::vector<std::string>& args) { return RunQuillet(QuilletCommand(args)); }

using FileSafety = ScratchDirTest;

// Jobs on different sprites, BMP and PNG, started together in one directory, round after
// round: each writes exactly what it writes alone.
TEST_F(FileSafety, JobsRunAtOnceInOneDirectoryKeepToTheirOwnFiles) {
  constexpr int kJobs = 8;
  constexpr int kRounds = 12;
  std::vector<std::string> inputs;
  for (int k = 0; k < kJobs; ++k) {
    const Picture sprite = SpriteLike(20 + k, 16 + 2 * k, 3 + k % 4, 100u + static_cast<std::uint32_t>(k));
    inputs.push_back("in" + std::to_string(k) + (k % 2 ? ".png" : ".bmp"));
    if (k % 2) {
      WritePng(inputs.back(), sprite);
    } else {
      WriteFile(inputs.back(), Bmp24File(sprite));
    }
  }
  auto args = [&](int k, const std::string& out) {
    return std::vector<std::string>{"-in", inputs[static_cast<std::size_t>(k)], "-out", out,
                                    "-angle", std::to_string(10 * k + 5), "-scale", "2"};
  };
  std::vector<std::vector<std::uint8_t>> alone;
  for (int k = 0; k < kJobs; ++k) {
    const ProcessResult run = RunQuillet(args(k, "alone.bmp"));
    ASSERT_EQ(run.status, 0) << run.err;
    alone.push_back(ReadFileBytes("alone.bmp"));
    ASSERT_GT(alone.back().size(), 54u);
    fs::remove("alone.bmp");
  }
  for (int round = 0; round < kRounds; ++round) {
    std::vector<Process> jobs;
    for (int k = 0; k < kJobs; ++k) jobs.push_back(Start(QuilletCommand(args(k, "output" + std::to_string(k)))));
    for (int k = 0; k < kJobs; ++k) {
      const std::string name = "output" + std::to_string(k) + ".bmp";
      const ProcessResult run = Ended(jobs[static_cast<std::size_t>(k)]);
      EXPECT_EQ(run.status, 0) << "round " << round << ", job " << k << ": " << run.err;
      EXPECT_EQ(ReadFileBytes(name), alone[static_cast<std::size_t>(k)]) << "round " << round << ", job " << k;
      fs::remove(name);
    }
    ASSERT_EQ(TempListing(), "") << "round " << round;
  }
}

// Inputs that carry the names the job once gave its temporary files are read, left as they
// were, and turned as a copy under any other name would be.
TEST_F(FileSafety, InputsNamedLikeTemporaryFilesSurvive) {
  const Picture sprite = SpriteLike(14, 11, 4, 77);
  WritePng("reference.png", sprite);
  const ProcessResult reference = RunQuillet({"-in", "reference.png", "-out", "reference", "-angle", "30"});
  ASSERT_EQ(reference.status, 0) << reference.err;
  const std::vector<std::uint8_t> expected = ReadFileBytes("reference.bmp");
  const std::vector<std::uint8_t> input = ReadFileBytes("reference.png");
  for (const std::string name : {"temp24.bmp", "_temp.bmp", "temp24.tif"}) {
    fs::copy_file("reference.png", name);
    const ProcessResult run = RunQuillet({"-in", name, "-out", "turned", "-angle", "30"});
    EXPECT_EQ(run.status, 0) << name << ": " << run.err;
    EXPECT_EQ(ReadFileBytes(name), input) << name;
    EXPECT_EQ(ReadFileBytes("turned.bmp"), expected) << name;
    fs::remove(name);
    fs::remove("turned.bmp");
  }
  EXPECT_EQ(TempListing(), "");
}

// A frame that cannot be written ends the job with status 3 and a line that says why; a
// temporary location that cannot be used says so, blaming neither the image nor the output.
TEST_F(FileSafety, UnwritableFilesAreReportedWithTheirCause) {
  WriteFile("in.bmp", Bmp24File(SpriteLike(9, 9, 3, 5)));
  fs::create_symlink("/dev/full", "full.bmp");
  ProcessResult run = RunQuillet({"-in", "in.bmp", "-out", "full", "-angle", "10"});
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.err.find("could not write \"full.bmp\": No space left on device"), std::string::npos) << run.err;
  EXPECT_TRUE(fs::is_symlink("full.bmp"));
  // PNG frames too; a link is followed.
  fs::create_symlink("/dev/full", "full.png");
  run = RunQuillet({"-in", "in.bmp", "-out", "full", "-angle", "10", "-format", "png"});
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.err.find("could not write \"full.png\": No space left on device"), std::string::npos) << run.err;
  EXPECT_TRUE(fs::is_symlink("full.png"));
  fs::create_directory("real");
  fs::create_symlink("real/target.png", "link.png");
  run = RunQuillet({"-in", "in.bmp", "-out", "link", "-angle", "10", "-format", "png"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::is_symlink("link.png"));
  EXPECT_GT(ReadFileBytes("real/target.png").size(), 8u);

  Command missingTemp = QuilletCommand({"-in", "in.bmp", "-out", "out", "-angle", "10"});
  missingTemp.environment = {"TMPDIR=" + TempDir() + "/missing"};
  run = RunQuillet(missingTemp);
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.err.find("cannot create a temporary file in \"" + TempDir() + "/missing\""), std::string::npos)
      << run.err;
  EXPECT_FALSE(Exists("out.bmp"));
}

// A job ended by SIGTERM or Ctrl-C (SIGINT) while it enlarges a large sheet leaves no
// temporary file behind.
TEST_F(FileSafety, ASignalDuringTheEnlargementRemovesTheTemporaryFiles) {
  WriteFile("sheet.bmp", Bmp24File(SpriteLike(700, 700, 6, 3)));
  for (const int signal : {SIGTERM, SIGINT}) {
    Process job = Start(QuilletCommand({"-in", "sheet.bmp", "-out", "turned", "-angle", "10"}));
    // Waits for the third step's file: the job is then deep in its enlargement.
    bool seen = false;
    for (const Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
         !seen && Clock::now() < deadline;) {
      std::error_code ignored;
      for (const auto& entry : fs::recursive_directory_iterator(TempDir(), ignored)) {
        if (entry.path().filename() == "_temp.bmp" && fs::file_size(entry.path(), ignored) > 20'000'000) seen = true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(seen);
    kill(job.child.id, signal);
    const ProcessResult run = Ended(job);
    if (signal == SIGTERM) {
      EXPECT_EQ(run.signal, SIGTERM) << Describe(run);
    } else {
      EXPECT_EQ(run.status, kExitInterrupted) << Describe(run);  // a job run once, interrupted
    }
    EXPECT_EQ(TempListing(), "") << signal;
    EXPECT_EQ(Listing(), "sheet.bmp");
  }
}

}  // namespace
}  // namespace quillet::testing
