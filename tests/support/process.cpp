#include "process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>

extern char** environ;

namespace pixeltools::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Everything the child needs, made before fork: after it only async-signal-safe calls are
// allowed, since the test process may run threads of its own.
struct Launch {
  std::vector<std::string> args;
  std::vector<std::string> env;
  std::vector<char*> argv;
  std::vector<char*> envp;
  std::string path;
  std::string directory;
  std::string failure;  // written to standard error when exec fails
};

// The program's path: a name without a slash is looked up in PATH.
std::string Resolve(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  for (std::size_t start = 0; start <= dirs.size();) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string candidate = (end > start ? dirs.substr(start, end - start) : ".") + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return name;
}

Launch Prepare(const Command& command) {
  Launch launch;
  launch.args = command.launcher;
  launch.args.insert(launch.args.end(), command.argv.begin(), command.argv.end());
  for (char** entry = environ; *entry; ++entry) {
    const std::string given = *entry;
    const std::string name = given.substr(0, given.find('='));
    bool replaced = false;
    for (const std::string& extra : command.environment)
      replaced = replaced || extra.compare(0, name.size() + 1, name + "=") == 0;
    if (!replaced) launch.env.push_back(given);
  }
  launch.env.insert(launch.env.end(), command.environment.begin(), command.environment.end());
  for (std::string& arg : launch.args) launch.argv.push_back(arg.data());
  launch.argv.push_back(nullptr);
  for (std::string& entry : launch.env) launch.envp.push_back(entry.data());
  launch.envp.push_back(nullptr);
  launch.path = launch.args.empty() ? std::string() : Resolve(launch.args[0]);
  launch.directory = command.directory;
  launch.failure = "cannot run \"" + launch.path + "\"" +
                   (launch.directory.empty() ? "" : " in \"" + launch.directory + "\"") + "\n";
  return launch;
}

// In the child, once its descriptors are in place: never returns.
[[noreturn]] void Exec(const Launch& launch) {
  signal(SIGPIPE, SIG_DFL);  // the test process ignores it; the program must not inherit that
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if (!launch.directory.empty() && chdir(launch.directory.c_str()) != 0) {
    ssize_t ignored = write(2, launch.failure.data(), launch.failure.size());
    (void)ignored;
    _exit(126);
  }
  if (!launch.path.empty()) execve(launch.path.c_str(), launch.argv.data(), launch.envp.data());
  ssize_t ignored = write(2, launch.failure.data(), launch.failure.size());
  (void)ignored;
  _exit(127);
}

// The descriptor moved above the three standard ones, which may be closed in the test process:
// putting the child's own in place then never overwrites one still to be put.
int AboveStandard(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[65536];
  for (off_t at = 0;;) {
    const ssize_t got = pread(fd, buffer, sizeof buffer, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    at += got;
  }
  return text;
}

void SetEnded(int raw, ProcessResult& result) {
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
}

// Waits for the child until the deadline, killing it then; `pause` runs between looks. The
// child is gone on return.
void Reap(Child& child, Clock::time_point deadline, ProcessResult& result, const std::function<void()>& pause) {
  int raw = 0;
  for (;;) {
    const pid_t ended = waitpid(child.id, &raw, WNOHANG);
    if (ended == child.id) break;
    if (ended < 0 && errno != EINTR) {  // not ours to wait for: how it ended is unknown
      result.err += std::string("cannot wait for the process: ") + std::strerror(errno) + "\n";
      child.id = -1;
      return;
    }
    if (Clock::now() > deadline) {
      result.timedOut = true;
      kill(child.id, SIGKILL);
      while (waitpid(child.id, &raw, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    pause();
  }
  child.id = -1;  // reaped
  SetEnded(raw, result);
}

}  // namespace

void CloseDescriptor(int fd) { close(fd); }

void KillAndReap(int pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

std::string Describe(const ProcessResult& result) {
  if (result.timedOut) return "killed when its time was up";
  if (result.signal != 0) return "ended by signal " + std::to_string(result.signal);
  return "exit status " + std::to_string(result.status);
}

Process Start(const Command& command) {
  // Input the program does not read must not end the test process.
  signal(SIGPIPE, SIG_IGN);
  Process process;
  process.deadline = Clock::now() + command.timeout;
  const Launch launch = Prepare(command);
  int inPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) != 0) {
    process.startFailure = std::string("no pipe: ") + std::strerror(errno);
    return process;
  }
  Fd readEnd(AboveStandard(inPipe[0]));
  process.input = Fd(AboveStandard(inPipe[1]));
  process.out = Fd(AboveStandard(command.outputFile.empty() ? memfd_create("stdout", MFD_CLOEXEC)
                                                            : open(command.outputFile.c_str(),
                                                                   O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)));
  process.err = Fd(AboveStandard(memfd_create("stderr", MFD_CLOEXEC)));
  if (readEnd.id < 0 || process.input.id < 0 || process.out.id < 0 || process.err.id < 0) {
    process.startFailure = std::string("cannot set up its descriptors: ") + std::strerror(errno);
    return process;
  }
  process.child = Child(fork());
  if (process.child.id == 0) {
    if (dup2(readEnd.id, 0) < 0 || dup2(process.out.id, 1) < 0 || dup2(process.err.id, 2) < 0) _exit(126);
    Exec(launch);
  }
  if (process.child.id < 0) {
    process.startFailure = std::string("fork failed: ") + std::strerror(errno);
    return process;
  }
  if (!command.outputFile.empty()) process.out.Reset();
  process.pending = command.input;
  if (process.pending.empty()) {
    process.input.Reset();
  } else {
    fcntl(process.input.id, F_SETFL, fcntl(process.input.id, F_GETFL) | O_NONBLOCK);
  }
  return process;
}

// Writes what the pipe takes of the input left; closes it when all is written or the program
// closed its end.
void Feed(Process& process) {
  while (process.input.id >= 0) {
    const ssize_t put = write(process.input.id, process.pending.data() + process.written,
                              process.pending.size() - process.written);
    if (put < 0 && errno == EINTR) continue;
    if (put > 0) process.written += static_cast<std::size_t>(put);
    if ((put < 0 && errno != EAGAIN) || process.written == process.pending.size()) process.input.Reset();
    if (put <= 0) break;
  }
}

ProcessResult Finish(Process& process) {
  ProcessResult result;
  if (process.child.id <= 0) {
    result.err = process.startFailure;
    return result;
  }
  Reap(process.child, process.deadline, result, [&process] {
    Feed(process);
    pollfd writable = {process.input.id, POLLOUT, 0};
    poll(&writable, 1, 2);  // a closed input (fd -1) is passed over: just the pause
  });
  process.input.Reset();
  if (process.out.id >= 0) result.out = ReadAll(process.out.id);
  result.err = ReadAll(process.err.id) + result.err;
  return result;
}

ProcessResult RunProcess(const Command& command) {
  Process process = Start(command);
  return Finish(process);
}

ProcessResult RunOnTerminal(const Command& command,
                            const std::function<void(const std::string& shown, int terminal)>& onOutput) {
  const Launch launch = Prepare(command);
  ProcessResult result;
  const Clock::time_point deadline = Clock::now() + command.timeout;
  int master = -1;
  Child child(forkpty(&master, nullptr, nullptr, nullptr));
  if (child.id == 0) Exec(launch);
  if (child.id < 0) {
    result.err = std::string("forkpty failed: ") + std::strerror(errno);
    return result;
  }
  const Fd terminal(master);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  for (;;) {
    pollfd ready = {master, POLLIN, 0};
    if (poll(&ready, 1, 50) > 0) {
      char buffer[4096];
      const ssize_t got = read(master, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;  // EIO once the program has gone
      result.out.append(buffer, static_cast<std::size_t>(got));
      onOutput(result.out, master);
    }
    if (Clock::now() > deadline) break;
  }
  Reap(child, deadline, result, [] { usleep(2000); });
  return result;
}

}  // namespace pixeltools::testing
