// quillet on Windows: a windowed program without a main window; its dialogs are the whole
// interface. Started without arguments it runs job after job until the user cancels.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "dialogs_win32.h"
#include "quillet/about.h"
#include "quillet/job_loop.h"
#include "quillet/imaging.h"
#include "quillet/import.h"

// commandLine is the text after the program name and the blanks that follow it.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  // Answered on standard output, which reaches a console only when it is redirected.
  const quillet::AboutRequest about = quillet::FindAboutRequestInText(commandLine);
  if (about != quillet::AboutRequest::kNone) return quillet::AnswerAboutRequest(about, stdout);

  quillet::AppState& app = quillet::TheAppState();
  const quillet::ImagingApi& imaging = quillet::LoadImagingLibrary();
  app.workingBitmap = quillet::WorkingBitmap{};

  // The parse splits the text in place and later jobs parse it again, so it lives as long
  // as the jobs do.
  const char* given = commandLine ? commandLine : "";
  std::vector<char> text(given, given + std::strlen(given) + 1);
  quillet::CommandLine line;
  line.text = text.data();
  quillet::WindowsDialogs dialogs;
  dialogs.instance = instance;
  const quillet::FrontEndPlatform platform = quillet::WindowsFrontEnd(dialogs);
  return quillet::RunProgram(app, line, platform, imaging);
}
