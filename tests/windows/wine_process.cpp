#include "wine_process.h"

#include <fstream>
#include <iterator>

namespace quillet::testing {

std::string WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string windows("Z:");
  windows.append(path);
  for (char& c : windows)
    if (c == '/') c = '\\';
  return windows;
}

ChildProcess StartChild(const std::string& program, const std::vector<std::string>& arguments,
                        const std::string& folder) {
  ChildProcess child;
  std::string commandLine(1, '"');
  commandLine.append(WindowsPath(program)).push_back('"');
  for (const std::string& argument : arguments) commandLine.append(" \"").append(argument).push_back('"');
  child.outputFile = folder;
  child.outputFile.append("\\child_output.txt");

  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  const HANDLE output = CreateFileA(child.outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output == INVALID_HANDLE_VALUE) return child;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = output;
  startup.hStdError = output;
  std::vector<char> text(commandLine.begin(), commandLine.end());
  text.push_back('\0');
  child.started = CreateProcessA(nullptr, text.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup,
                                 &child.info) != 0;
  CloseHandle(output);
  return child;
}

ChildResult FinishChild(ChildProcess& child, DWORD waitMs) {
  ChildResult result;
  if (!child.started) return result;
  result.ended = WaitForSingleObject(child.info.hProcess, waitMs) == WAIT_OBJECT_0;
  if (!result.ended) {
    TerminateProcess(child.info.hProcess, 255);
    WaitForSingleObject(child.info.hProcess, INFINITE);
  }
  GetExitCodeProcess(child.info.hProcess, &result.status);
  CloseHandle(child.info.hThread);
  CloseHandle(child.info.hProcess);
  child.started = false;
  std::ifstream in(child.outputFile, std::ios::binary);
  result.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return result;
}

namespace {

struct WindowSearch {
  DWORD processId;
  const char* caption;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
  WindowSearch& search = *reinterpret_cast<WindowSearch*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char caption[128] = {};
  if (owner != search.processId || !IsWindowVisible(window) || !GetWindowTextA(window, caption, sizeof caption))
    return TRUE;
  if (std::string(caption) != search.caption) return TRUE;
  search.found = window;
  return FALSE;
}

}  // namespace

HWND FindChildWindow(const ChildProcess& child, const char* caption) {
  WindowSearch search = {child.info.dwProcessId, caption, nullptr};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace quillet::testing
