// quillet's command line on any bytes: as arguments split at NUL bytes (POSIX), and as one
// text split by the program itself (Windows), read twice as later jobs do; then the checks a
// job makes of the values, and the parameter form's texts of them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "quillet/command_line.h"
#include "quillet/job_loop.h"
#include "quillet/parameter_form.h"

namespace {

void Check(const quillet::RunParameters& run) {
  if (strnlen(run.inputName, quillet::kPathChars) >= static_cast<std::size_t>(quillet::kPathChars) ||
      strnlen(run.outputName, quillet::kPathChars) >= static_cast<std::size_t>(quillet::kPathChars))
    __builtin_trap();
  quillet::CheckParameters(run);
  quillet::RunParameters again = run;
  quillet::StoreParameters(quillet::FormatParameters(run), again);
  char name[quillet::kPathChars];
  quillet::OutputFileName(run.outputName, name);
  char frame[quillet::kFrameNameChars];
  quillet::FrameFileName(name, run.frameCount, run.frameCount > 1 ? run.frameCount - 1 : 0, frame);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const quillet::UnknownArgumentReport quiet = {[](void*, const char*) {}, nullptr};

  std::vector<std::string> tokens(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) tokens.emplace_back();
    else tokens.back().push_back(static_cast<char>(data[i]));
  }
  std::vector<char*> arguments;
  for (std::string& token : tokens) arguments.push_back(token.data());
  quillet::CommandLine split;
  split.arguments = arguments.data();
  split.argumentCount = static_cast<int>(arguments.size());
  for (int round = 0; round < 2; ++round) {
    quillet::RunParameters run;
    quillet::GivenValues given;
    if (quillet::ParseCommandLine(split, run, given, quiet)) Check(run);
  }

  std::vector<char> text(data, data + size);
  text.push_back('\0');
  quillet::CommandLine whole;
  whole.text = text.data();
  for (int round = 0; round < 2; ++round) {
    quillet::RunParameters run;
    quillet::GivenValues given;
    if (quillet::ParseCommandLine(whole, run, given, quiet)) Check(run);
  }
  return 0;
}
