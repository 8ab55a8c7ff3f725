// Runs a program from a test as a shell or a person would: arguments, bytes on standard input,
// extra environment, a launcher such as prlimit in front, a time limit, and what it printed and
// how it ended. One process at a time with RunProcess, several at once with Start and Finish,
// or on a pseudo-terminal with RunOnTerminal.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace pixeltools::testing {

struct Command {
  std::vector<std::string> argv;         // the program (a path, or a name looked up in PATH), then its arguments
  std::vector<std::string> launcher;     // run in front of argv, with its options: {"prlimit", "--as=..."}
  std::string input;                     // fed through a pipe to standard input, which then ends
  std::vector<std::string> environment;  // "NAME=value", set over the test's own environment
  std::string directory;                 // the working directory; the test's own when empty
  std::string outputFile;                // standard output goes to this file instead of being captured
  std::chrono::seconds timeout{60};      // then the process is killed and the result says so
};

struct ProcessResult {
  int status = -1;        // the exit status; -1 when the process did not exit by itself
  int signal = 0;         // the signal that ended it; 0 when it exited
  bool timedOut = false;  // it was killed when its time was up
  std::string out;        // standard output (on a terminal: everything the terminal showed)
  std::string err;        // standard error
};

// "exit status 3", "ended by signal 15" or "killed when its time was up", for failure messages.
std::string Describe(const ProcessResult& result);

// A descriptor or a process id, given back when the record goes: `Release` closes it or kills
// and reaps it.
template <void (*Release)(int)>
struct Owned {
  int id = -1;
  Owned() = default;
  explicit Owned(int given) : id(given) {}
  Owned(Owned&& other) noexcept : id(other.id) { other.id = -1; }
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      Reset();
      id = other.id;
      other.id = -1;
    }
    return *this;
  }
  ~Owned() { Reset(); }
  void Reset() {
    if (id >= 0) Release(id);
    id = -1;
  }
};

void CloseDescriptor(int fd);
void KillAndReap(int pid);  // passes over 0, the child's own view of fork
using Fd = Owned<CloseDescriptor>;
using Child = Owned<KillAndReap>;  // one still running when the record goes is killed

// A started process.
struct Process {
  Child child;
  Fd input;  // the write end of its standard input, while bytes are left to feed
  Fd out;    // where its standard output and error are kept until it ends (no out with an
  Fd err;    // output file)
  std::string pending;  // the input not yet written
  std::size_t written = 0;
  std::chrono::steady_clock::time_point deadline;
  std::string startFailure;  // why it could not be started; empty once it was
};

// Starts the command; its time runs from now. A command that cannot be started gives a record
// whose Finish reports status -1 and the cause on err.
Process Start(const Command& command);

// Feeds the rest of the input, waits for the process to end (killing it when its time is up)
// and gives what it printed.
ProcessResult Finish(Process& process);

ProcessResult RunProcess(const Command& command);

// The command on a pseudo-terminal (its input is not used). After each read, onOutput sees
// everything shown so far and may type into the terminal's descriptor. Reading stops when the
// program has gone or its time is up.
ProcessResult RunOnTerminal(const Command& command,
                            const std::function<void(const std::string& shown, int terminal)>& onOutput);

}  // namespace pixeltools::testing
