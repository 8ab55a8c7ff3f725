// quillet's terminal dialogs on any answers: the bytes become standard input (not a
// terminal) for the save chooser and then the parameter form, until they run out.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "front_end_posix.h"
#include "quillet/job_loop.h"

namespace {

int answers = -1;  // the in-memory file that standard input reads

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  answers = memfd_create("answers", 0);
  if (answers < 0 || dup2(answers, STDIN_FILENO) < 0) __builtin_trap();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (ftruncate(answers, 0) != 0 || pwrite(answers, data, size, 0) != static_cast<ssize_t>(size)) return 0;
  std::clearerr(stdin);
  if (std::fseek(stdin, 0, SEEK_SET) != 0) __builtin_trap();

  quillet::TerminalSession session;
  const quillet::FrontEndPlatform platform = quillet::TerminalFrontEnd(session);
  char fileBuffer[quillet::kPathChars] = "output.bmp";
  if (platform.chooseOutput(platform.context, quillet::kOutputChooser, fileBuffer) &&
      strnlen(fileBuffer, sizeof fileBuffer) >= sizeof fileBuffer)
    __builtin_trap();
  quillet::RunParameters run;
  platform.editParameters(platform.context, run);
  quillet::CheckParameters(run);
  return 0;
}
