// The process runner the program tests stand on: what it feeds, keeps and reports.
#include "process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace pixeltools::testing {
namespace {

Command Shell(const std::string& script) {
  Command command;
  command.argv = {"sh", "-c", script};
  return command;
}

// More than a pipe holds, so that feeding and keeping must go on while the program runs.
std::string Megabyte() {
  std::string bytes(1 << 20, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 4096);
  return bytes;
}

TEST(Process, FeedsInputAndKeepsBothOutputsAndTheStatus) {
  Command command = Shell("cat; printf 'to err' >&2; exit 3");
  command.input = Megabyte();
  const ProcessResult r = RunProcess(command);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.signal, 0);
  EXPECT_FALSE(r.timedOut);
  EXPECT_TRUE(r.out == command.input) << r.out.size() << " bytes";
  EXPECT_EQ(r.err, "to err");

  // A program that reads none of its input ends normally, and so does the test.
  command = Shell("exit 0");
  command.input = Megabyte();
  EXPECT_EQ(RunProcess(command).status, 0);

  // Input that is not given ends at once.
  EXPECT_EQ(RunProcess(Shell("cat")).out, "");
}

TEST(Process, SetsEnvironmentDirectoryLauncherAndOutputFile) {
  Command command = Shell("echo \"$EXTRA $HOME $FROM_LAUNCHER\"; pwd");
  command.environment = {"EXTRA=1", "HOME=/elsewhere"};
  command.directory = "/";
  command.launcher = {"env", "FROM_LAUNCHER=yes"};
  ProcessResult r = RunProcess(command);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1 /elsewhere yes\n/\n");

  const std::string file = std::filesystem::temp_directory_path() / ("process_test_" + std::to_string(getpid()));
  command = Shell("echo to the file");
  command.outputFile = file;
  r = RunProcess(command);
  EXPECT_EQ(r.out, "");
  std::stringstream text;
  text << std::ifstream(file).rdbuf();
  EXPECT_EQ(text.str(), "to the file\n");
  std::filesystem::remove(file);

  command = Shell("exit 0");
  command.argv = {"/no/such/program"};
  r = RunProcess(command);
  EXPECT_EQ(r.status, 127);
  EXPECT_NE(r.err.find("/no/such/program"), std::string::npos) << r.err;
}

TEST(Process, ReportsSignalsAndKillsWhatOutlivesItsTime) {
  ProcessResult r = RunProcess(Shell("kill -TERM $$"));
  EXPECT_EQ(r.signal, SIGTERM);
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(Describe(r), "ended by signal 15");

  // A child the system reaped by itself ended in a way nobody can know: never a success.
  signal(SIGCHLD, SIG_IGN);
  r = RunProcess(Shell("exit 3"));
  signal(SIGCHLD, SIG_DFL);
  EXPECT_EQ(r.status, -1);
  EXPECT_NE(r.err.find("cannot wait"), std::string::npos) << r.err;

  Command command = Shell("sleep 30");
  command.timeout = std::chrono::seconds(1);
  const auto start = std::chrono::steady_clock::now();
  r = RunProcess(command);
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.status, -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

  // Several at once, finished in any order; one never finished is killed with its record.
  Process slow = Start(Shell("sleep 30"));
  Process first = Start(Shell("echo one"));
  Process second = Start(Shell("echo two"));
  EXPECT_EQ(Finish(second).out, "two\n");
  EXPECT_EQ(Finish(first).out, "one\n");
  const pid_t pid = slow.child.id;
  slow = Process();
  EXPECT_NE(kill(pid, 0), 0);
}

TEST(Process, RunsOnATerminalThatCanBeTypedInto) {
  Command command = Shell("[ -t 0 ] && [ -t 2 ] && printf 'name? ' && read name && echo \"hello $name\"");
  bool typed = false;
  const ProcessResult r = RunOnTerminal(command, [&typed](const std::string& shown, int terminal) {
    if (!typed && shown.find("name? ") != std::string::npos) {
      typed = true;
      ASSERT_EQ(write(terminal, "ann\n", 4), 4);
    }
  });
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("hello ann"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace pixeltools::testing
