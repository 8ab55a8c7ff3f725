// Reads the state of another program's dialogs for the dialog test: one request per line of
// standard input, one answer line each on standard output. Fields are separated by tabs.
//   wait  <title>              "found" once a top-level window has that title, else "missing" (200 s)
//   gone  <title>              "gone" once no window has that title, else "present" (200 s)
//   texts <title> <id>...      the texts of the dialog's controls, joined with '|'
//   enabled <title> <id>...    1 or 0 for each control, joined with ' '
//   center <title> <id>        screen position of the control's centre, "x y"
//   rect <title>               the window's place on the screen, "WxH+X+Y"
// It says "ready" once it runs.
// Under an emulated Wine every process start costs about a minute, so one probe serves a
// whole test.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

HWND WaitFor(const std::string& title, bool present) {
  for (int tries = 0; tries < 2000; ++tries) {
    HWND window = FindWindowA(nullptr, title.c_str());
    if ((window != nullptr) == present) return window;
    Sleep(100);
  }
  return FindWindowA(nullptr, title.c_str());
}

std::string ControlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  if (!control) return "<no control>";
  char text[1024] = {};
  // Edit boxes of another process keep their text themselves: ask them.
  SendMessageA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

std::string Answer(const std::vector<std::string>& request) {
  const std::string& verb = request[0];
  if (request.size() < 2) return "bad request";
  const std::string& title = request[1];
  if (verb == "wait") return WaitFor(title, true) ? "found" : "missing";
  if (verb == "gone") return WaitFor(title, false) ? "present" : "gone";
  HWND dialog = FindWindowA(nullptr, title.c_str());
  if (!dialog) return "no window";
  if (verb == "rect") {
    RECT rect = {};
    GetWindowRect(dialog, &rect);
    return std::to_string(rect.right - rect.left) + "x" + std::to_string(rect.bottom - rect.top) + "+" +
           std::to_string(rect.left) + "+" + std::to_string(rect.top);
  }
  std::string answer;
  for (std::size_t k = 2; k < request.size(); ++k) {
    const int id = std::atoi(request[k].c_str());
    if (k > 2) answer += verb == "texts" ? "|" : " ";
    if (verb == "texts") {
      answer += ControlText(dialog, id);
    } else if (verb == "center") {
      RECT rect = {};
      HWND control = GetDlgItem(dialog, id);
      if (!control || !GetWindowRect(control, &rect)) return "?";
      return std::to_string((rect.left + rect.right) / 2) + " " + std::to_string((rect.top + rect.bottom) / 2);
    } else if (verb == "enabled") {
      HWND control = GetDlgItem(dialog, id);
      answer += control ? (IsWindowEnabled(control) ? "1" : "0") : "?";
    } else {
      return "bad request";
    }
  }
  return answer;
}

}  // namespace

int main() {
  std::printf("ready\n");
  std::fflush(stdout);
  char line[2048];
  while (std::fgets(line, sizeof line, stdin)) {
    line[std::strcspn(line, "\r\n")] = '\0';
    if (std::strcmp(line, "quit") == 0) break;
    std::printf("%s\n", Answer(Split(line)).c_str());
    std::fflush(stdout);
  }
  return 0;
}
