// The quillet program's files under pressure: many jobs at once in one directory, inputs
// named like temporary files, outputs that cannot be written, and jobs ended by a signal.
// Every job's TMPDIR is a scratch directory, which must be empty once the jobs are gone.
#include <lodepng.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
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

  // A file-size limit stops a frame written beside its name, BMP or PNG: a new one does not
  // appear, an old one keeps its contents, and nothing is left beside either or in TMPDIR.
  WriteFile("old.bmp", {'o', 'l', 'd'});
  WriteFile("old.png", {'o', 'l', 'd'});
  // (The limit holds for the files that keep what the program prints too.)
  const struct {
    const char* format;
    const char* scale;
    const char* bytes;
  } limits[] = {{"bmp", "20", "30000"}, {"png", "60", "2000"}};
  for (const auto& [format, scale, bytes] : limits) {
    for (const std::string base : {"new", "old"}) {
      Command limited = QuilletCommand({"-in", "in.bmp", "-out", base, "-angle", "10", "-scale", scale, "-format", format});
      limited.launcher = {"sh", "-c", std::string("trap '' XFSZ && exec prlimit --fsize=") + bytes + " \"$@\"", "sh"};
      run = RunQuillet(limited);
      const std::string name = base + "." + format;
      EXPECT_EQ(run.status, 3) << name;
      EXPECT_NE(run.err.find("could not write \"" + name + "\": File too large"), std::string::npos) << run.err;
    }
  }
  EXPECT_EQ(ReadFileBytes("old.bmp"), std::vector<std::uint8_t>({'o', 'l', 'd'}));
  EXPECT_EQ(ReadFileBytes("old.png"), std::vector<std::uint8_t>({'o', 'l', 'd'}));
  EXPECT_EQ(Listing(), "full.bmp full.png in.bmp link.png old.bmp old.png real");
  EXPECT_EQ(TempListing(), "");

  Command missingTemp = QuilletCommand({"-in", "in.bmp", "-out", "out", "-angle", "10"});
  missingTemp.environment = {"TMPDIR=" + TempDir() + "/missing"};
  run = RunQuillet(missingTemp);
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.err.find("cannot create a temporary file in \"" + TempDir() + "/missing\""), std::string::npos)
      << run.err;
  EXPECT_FALSE(Exists("out.bmp"));
}

// A frame the user may write in a folder the user may not is written in place, BMP or PNG; a
// new one there fails. Root writes any folder, so as root the program runs as the nobody user.
TEST_F(FileSafety, AWritableFileInAFolderItCannotWriteToIsWrittenInPlace) {
  WriteFile("in.bmp", Bmp24File(SpriteLike(9, 9, 3, 5)));
  for (const char* format : {"bmp", "png"}) {
    const ProcessResult run = RunQuillet({"-in", "in.bmp", "-out", "plain", "-angle", "10", "-format", format});
    ASSERT_EQ(run.status, 0) << run.err;
  }
  fs::create_directory("locked");
  WriteFile("locked/out.bmp", {'o', 'l', 'd'});
  WriteFile("locked/out.png", {'o', 'l', 'd'});
  for (const char* path : {"locked/out.bmp", "locked/out.png"}) ASSERT_EQ(chmod(path, 0666), 0);
  ASSERT_EQ(chmod("locked", 0555), 0);
  ASSERT_EQ(chmod(Dir().c_str(), 0755), 0);
  ASSERT_EQ(chmod(TempDir().c_str(), 0777), 0);
  std::vector<std::string> asUser;
  if (geteuid() == 0) asUser = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};

  for (const std::string format : {"bmp", "png"}) {
    Command command = QuilletCommand({"-in", "in.bmp", "-out", "locked/out", "-angle", "10", "-format", format});
    command.launcher = asUser;
    ProcessResult run = RunQuillet(command);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFileBytes("locked/out." + format), ReadFileBytes("plain." + format)) << format;
    command = QuilletCommand({"-in", "in.bmp", "-out", "locked/new", "-angle", "10", "-format", format});
    command.launcher = asUser;
    run = RunQuillet(command);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("cannot write into the output folder \"locked\": Permission denied"), std::string::npos)
        << run.err;
  }
  std::string names;
  for (const auto& entry : fs::directory_iterator("locked")) names += entry.path().filename().string() + " ";
  EXPECT_TRUE(names == "out.bmp out.png " || names == "out.png out.bmp ") << names;
  EXPECT_EQ(TempListing(), "");
  chmod("locked", 0700);
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
