// Runs a Windows program as a child of the test, with a limit on its run.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace quillet::testing {

// "Z:\..." for an absolute POSIX path, which Wine's drive Z: maps; other names unchanged.
std::string WindowsPath(const std::string& path);

struct ChildProcess {
  PROCESS_INFORMATION info = {};
  std::string outputFile;  // standard output and error of the child
  bool started = false;
};

// Starts program with arguments in folder; its output goes to "child_output.txt" there.
ChildProcess StartChild(const std::string& program, const std::vector<std::string>& arguments,
                        const std::string& folder);

struct ChildResult {
  bool ended = false;  // false: the child ran past the limit and was ended
  DWORD status = 0;
  std::string output;
};

// Waits at most waitMs for the child, ends it when it runs longer, and releases it.
ChildResult FinishChild(ChildProcess& child, DWORD waitMs);

// A visible top-level window of the child with the given caption; null when none.
HWND FindChildWindow(const ChildProcess& child, const char* caption);

}  // namespace quillet::testing
