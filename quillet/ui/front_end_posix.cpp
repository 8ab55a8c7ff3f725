// The dialogs of quillet on a terminal: prompts and progress on standard error, answers
// from standard input. The end of input cancels a chooser and quits the parameter form.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "front_end_posix.h"
#include "quillet/job_loop.h"
#include "quillet/ascii.h"
#include "quillet/parameter_form.h"

namespace quillet {
namespace {

constexpr int kBarWidth = 40;
constexpr int kBarLineChars = kBarWidth + 7;  // "[", the bar, "] ", "100%"

TerminalSession& Session(void* context) { return *static_cast<TerminalSession*>(context); }

// Notes where the answers ran out, unless the user can type more (a terminal's Ctrl-D).
void NoteEndOfInput(void* context, const char* dialog) {
  TerminalSession& session = Session(context);
  if (isatty(STDIN_FILENO) != 1 && !session.inputEndedAt) session.inputEndedAt = dialog;
}

int EndStatus(void* context) {
  const char* endedAt = Session(context).inputEndedAt;
  if (!endedAt) return kExitSuccess;
  std::fprintf(stderr, "quillet: standard input ended before \"%s\" was answered; no job was run\n",
               endedAt);
  return kExitInputEnded;
}

void DrawBar(TerminalProgress& progress) {
  char bar[kBarWidth + 1];
  const int filled = progress.position * kBarWidth / 100;
  for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = '\0';
  std::fprintf(stderr, "\r[%s] %3d%%", bar, progress.position);
  std::fflush(stderr);
  progress.barShown = true;
}

void EraseBar(TerminalProgress& progress) {
  if (!progress.barShown) return;
  std::fprintf(stderr, "\r%*s\r", kBarLineChars, "");
  progress.barShown = false;
}

TerminalProgress& Progress(void* context) { return Session(context).progress; }

void SetPosition(void* context, int position) {
  TerminalProgress& progress = Progress(context);
  if (position < 0) position = 0;
  if (position > 100) position = 100;
  if (!progress.onTerminal || (progress.barShown && position == progress.position)) return;
  progress.position = position;
  DrawBar(progress);
}

void SetStatus(void* context, const char* text) {
  TerminalProgress& progress = Progress(context);
  EraseBar(progress);
  if (text[0] != '\0') std::fprintf(stderr, "%s\n", text);
  if (progress.onTerminal) DrawBar(progress);
  std::fflush(stderr);
}

void StartProgress(void* context, AppState& app) {
  TerminalProgress& progress = Progress(context);
  progress.active = true;
  progress.onTerminal = isatty(STDERR_FILENO) == 1;
  progress.barShown = false;
  progress.position = 0;
  progress.display.setPosition = SetPosition;
  progress.display.setStatus = SetStatus;
  progress.display.context = context;  // the session, as every function here takes
  std::fprintf(stderr, "\n%s%s\n", kProgressDialogTitle, progress.onTerminal ? " (Ctrl-C cancels)" : "");
  if (progress.onTerminal) DrawBar(progress);
  std::fflush(stderr);
  app.progressWindow.store(&progress.display);
}

void StopProgress(void* context, AppState&) {
  TerminalProgress& progress = Progress(context);
  progress.active = false;
  EraseBar(progress);
  std::fflush(stderr);
}

void ShowErrorMessage(void* context, const char* caption, const char* text) {
  TerminalProgress& progress = Progress(context);
  EraseBar(progress);
  std::fprintf(stderr, "%s: %s\n", caption, text);
  if (progress.active && progress.onTerminal) DrawBar(progress);
  std::fflush(stderr);
}

// On a terminal the message gets a line end, so that it does not run into the next prompt.
void ReportUnknownArgument(void*, const char* token) {
  std::fprintf(stderr, "unknown commandline arg \"%s\"\n", token);
}

// One line of standard input without its line end; false at the end of input.
bool ReadLine(std::string& line) {
  line.clear();
  bool any = false;
  for (int c; (c = std::getc(stdin)) != EOF;) {
    any = true;
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  // Ctrl-D on a terminal ends one answer, not the terminal: the stream's end-of-file mark
  // would otherwise end every later prompt too (the open chooser after a cancelled save).
  if (isatty(STDIN_FILENO) == 1) std::clearerr(stdin);
  return any;
}

// Shows text, reads the answer; answers that come from a file or a pipe are echoed, so that
// the transcript on standard error reads as a session would.
bool Prompt(const char* text, std::string& answer) {
  std::fputs(text, stderr);
  std::fflush(stderr);
  const bool answered = ReadLine(answer);
  if (answered && isatty(STDIN_FILENO) != 1) std::fputs(answer.c_str(), stderr);
  if (!answered || isatty(STDIN_FILENO) != 1) std::fputc('\n', stderr);
  return answered;
}

std::string Trimmed(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

bool LastNameHasExtension(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return path.find('.', slash == std::string::npos ? 0 : slash + 1) != std::string::npos;
}

enum class Kind { kNone, kFile, kFolder };

Kind KindOf(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return Kind::kNone;
  return S_ISDIR(info.st_mode) ? Kind::kFolder : Kind::kFile;
}

std::string FolderOf(const std::string& absolutePath) {
  const std::size_t slash = absolutePath.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : absolutePath.substr(0, slash);
}

// The typed name as a full path in full, or empty (with a message) when it does not fit.
std::string FullPath(std::string name) {
  if (name.size() >= 2 && name[0] == '~' && name[1] == '/') {
    if (const char* home = std::getenv("HOME")) name = home + name.substr(1);
  }
  char path[kPathChars];
  if (name.size() >= static_cast<std::size_t>(kPathChars) || !AbsolutePath(name.c_str(), path, sizeof path)) {
    std::fprintf(stderr, "%s\nThe file name is too long: at most %d characters fit.\n", name.c_str(), kPathChars - 1);
    return {};
  }
  return path;
}

// Checks a chosen name as the chooser's flags ask; the accepted full path, or empty after a message.
std::string Accept(const FileChooserSettings& settings, const std::string& name, bool forOutput) {
  std::string path = FullPath(name);
  if (path.empty()) return {};
  const std::string withExtension = path + "." + settings.defaultExtension;
  if (!forOutput) {
    if (KindOf(path) == Kind::kNone && !LastNameHasExtension(path) && KindOf(withExtension) != Kind::kNone &&
        withExtension.size() < static_cast<std::size_t>(kPathChars)) {
      path = withExtension;
    }
    switch (KindOf(path)) {
      case Kind::kNone:
        std::fprintf(stderr, "%s\nFile not found.\nCheck the file name and try again.\n", path.c_str());
        return {};
      case Kind::kFolder:
        std::fprintf(stderr, "%s\nThis is a folder; give the name of a file.\n", path.c_str());
        return {};
      case Kind::kFile:
        return path;
    }
  }
  if (!LastNameHasExtension(path)) {
    if (withExtension.size() >= static_cast<std::size_t>(kPathChars)) {
      std::fprintf(stderr, "%s\nThe file name is too long: at most %d characters fit.\n", withExtension.c_str(),
                   kPathChars - 1);
      return {};
    }
    path = withExtension;
  }
  if (KindOf(FolderOf(path)) != Kind::kFolder) {
    std::fprintf(stderr, "%s\nPath does not exist.\nCheck the path and try again.\n", path.c_str());
    return {};
  }
  const Kind kind = KindOf(path);
  if (kind == Kind::kFolder) {
    std::fprintf(stderr, "%s\nThis is a folder; give the name of a file.\n", path.c_str());
    return {};
  }
  if (kind == Kind::kFile && access(path.c_str(), W_OK) != 0) {
    std::fprintf(stderr, "%s\nThis file is set to read-only.\nTry again with a different file name.\n", path.c_str());
    return {};
  }
  return path;
}

bool ChooseFile(void* context, const FileChooserSettings& settings, char* fileBuffer, bool forOutput) {
  std::fprintf(stderr, "\n%s\n", settings.title);
  for (const char* entry = settings.filter; *entry != '\0';) {
    const char* description = entry;
    const char* pattern = description + std::strlen(description) + 1;
    std::fprintf(stderr, "  %s: %s\n", description, pattern);
    entry = pattern + std::strlen(pattern) + 1;
  }
  std::fputs("  (Enter takes the name shown; end of input cancels)\n", stderr);
  std::string answer;
  for (;;) {
    const std::string prompt = std::string("File name [") + fileBuffer + "]: ";
    if (!Prompt(prompt.c_str(), answer)) {
      NoteEndOfInput(context, settings.title);
      return false;
    }
    const std::string typed = Trimmed(answer);
    const std::string path = Accept(settings, typed.empty() ? std::string(fileBuffer) : typed, forOutput);
    if (path.empty()) continue;
    std::memcpy(fileBuffer, path.c_str(), path.size() + 1);
    return true;
  }
}

bool ChooseInput(void* context, const FileChooserSettings& settings, char* fileBuffer) {
  return ChooseFile(context, settings, fileBuffer, false);
}

bool ChooseOutput(void* context, const FileChooserSettings& settings, char* fileBuffer) {
  return ChooseFile(context, settings, fileBuffer, true);
}

bool IsEndField(int field) { return field == kEndAngleField || field == kEndScaleField; }

bool EditParameters(void* context, RunParameters& run) {
  ParameterTexts texts = FormatParameters(run);
  std::fprintf(stderr, "\n%s\n  (Enter keeps the value shown; end of input quits)\n", kParameterDialogTitle);
  std::string answer;
  for (;;) {
    for (int field = 0; field < kParameterFieldCount; ++field) {
      char* text = texts.field[field];
      if (IsEndField(field) && !EndFieldsEnabled(texts.field[kFramesField])) {
        std::fprintf(stderr, "  %s [%s] (used with more than 1 frame)\n", kParameterFields[field].label, text);
        continue;
      }
      const std::string prompt = std::string("  ") + kParameterFields[field].label + " [" + text + "]: ";
      if (!Prompt(prompt.c_str(), answer)) {
        NoteEndOfInput(context, kParameterDialogTitle);
        return false;
      }
      if (answer.empty()) continue;
      std::snprintf(text, kParameterTextChars, "%s", answer.c_str());
    }
    for (;;) {
      if (!Prompt("Run, Edit or Quit? [Run]: ", answer)) {
        NoteEndOfInput(context, kParameterDialogTitle);
        return false;
      }
      std::string choice = Trimmed(answer);
      for (char& c : choice) c = LowerAscii(c);
      if (choice.empty() || choice == "r" || choice == "run") {
        StoreParameters(texts, run);
        return true;
      }
      if (choice == "q" || choice == "quit") return false;
      if (choice == "e" || choice == "edit") break;
    }
  }
}

}  // namespace

FrontEndPlatform TerminalFrontEnd(TerminalSession& session) {
  FrontEndPlatform platform;
  platform.chooseInput = ChooseInput;
  platform.chooseOutput = ChooseOutput;
  platform.editParameters = EditParameters;
  platform.startProgress = StartProgress;
  platform.stopProgress = StopProgress;
  platform.endStatus = EndStatus;
  platform.unknownArgument.report = ReportUnknownArgument;
  platform.errorDisplay.show = ShowErrorMessage;
  platform.errorDisplay.context = &session;
  platform.context = &session;
  return platform;
}

}  // namespace quillet
