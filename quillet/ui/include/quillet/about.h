// Questions about the program itself (--help, -h, -help, --version, -version), answered before the command
// line is read as a job.
#pragma once

#include <cstdio>

namespace quillet {

enum class AboutRequest { kNone, kHelp, kVersion };

// The first request among the tokens, looked for where an option name stands: the first
// token, and after that the token after each option and its value. Any token that begins
// with '-' counts as an option taking the next token as its value, unless it names an option
// that takes none (-quiet), so a value such as the output name "-h" in "-out -h" is never
// taken for a request; other tokens take no value.
AboutRequest FindAboutRequest(const char* const* tokens, int count);

// The same over the text form of a command line (quotes group blanks, as in the job's own
// parse); the text is left as it is.
AboutRequest FindAboutRequestInText(const char* text);

// Prints the usage or the version to out; 0 when all of it was written, 1 otherwise.
int AnswerAboutRequest(AboutRequest request, std::FILE* out);

}  // namespace quillet
