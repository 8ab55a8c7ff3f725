// The command line of quillet: options, each followed by one value (-quiet takes none), read
// into the job's parameters. Option names ignore ASCII case; numbers are read leniently, and
// a value the lenient reading had to replace gets one warning line on standard error.
#pragma once

#include <climits>
#include <cstdint>
#include <vector>

#include "quillet/app_state.h"

namespace quillet {

// Where the tokens come from: the text after the program name, split in place by
// NextToken (Windows), or the arguments the shell has split (POSIX), one token each.
// Either way, once parsed, later parses see only the first token, with an empty value.
struct CommandLine {
  char* text = nullptr;  // used when not null
  char* const* arguments = nullptr;
  int argumentCount = 0;
  bool parsed = false;  // set by the first parse; later parses warn of no value
};

// The marks of one parse: which values the command line gave.
struct GivenValues {
  bool angle = false;
  bool endAngle = false;
  bool scale = false;
  bool endScale = false;
  bool frames = false;
  bool format = false;
  bool sheet = false;
  bool data = false;  // -data or -fps
  bool quiet = false;
  bool directions = false;
  bool cells = false;
  bool pivot = false;
  bool canvas = false;
  // A batch: -outdir, -overwrite, and the names after "--" (pointers into the line's tokens).
  const char* outdir = nullptr;
  bool overwrite = false;  // -overwrite yes
  bool inputsGiven = false;  // "--" was given
  std::vector<const char*> inputs;
};

// Most frames per second a data file is written with, and most frames it describes (its text
// is made in memory, a few hundred bytes a frame).
inline constexpr double kMaxFps = 1000.0;
inline constexpr std::int32_t kMaxDataFrames = 100000;

// Most frames to a row of a sprite sheet.
inline constexpr int kMaxSheetColumns = 100000;
// Most turns of a sprite set, and the longest side of its cells.
inline constexpr int kMaxDirections = 360;
inline constexpr int kMaxCellSide = INT32_MAX;

// Reports a token that names no option; null writes "unknown commandline arg \"token\""
// to standard error without a line end.
struct UnknownArgumentReport {
  void (*report)(void* context, const char* token) = nullptr;
  void* context = nullptr;
};

// Passes token to unknown, or writes the message above when it has no function.
void ReportUnknownArgument(const UnknownArgumentReport& unknown, const char* token);

// Whether token names an option that takes no value (-quiet). Every other option takes the
// next token as its value; tokens that name no option take none.
bool TakesNoValue(const char* token);

// Whether token is the option name (ASCII case ignored; option is given in lower case).
bool SameOption(const char* token, const char* option);

// Skips blanks (character 32 only) and returns the next token where it lies in the text;
// an empty token at the end of the text. A token opened by a double quote runs to the next
// double quote, which is not part of it; there are no escapes. The blank or closing quote
// that ends a token is overwritten with a terminator and the cursor moves past it.
char* NextToken(char** cursor);

// The leading decimal real of text after white space (sign, digits, fraction, exponent);
// false, with value untouched, when text holds no number there. end, when given, is set to
// the first character not read (text itself when there was no number).
bool ReadReal(const char* text, double& value, const char** end = nullptr);

// The leading decimal integer of text after white space, held to the 32-bit range; false,
// with value untouched, when text holds no number there. end as for ReadReal; clamped, when
// given, tells whether the number was beyond the range.
bool ReadCount(const char* text, std::int32_t& value, const char** end = nullptr, bool* clamped = nullptr);

bool IsEmpty(const CommandLine& line);

// Reads every option of the line into run and marks what it gave. A start value given alone
// is also the end value. On the line's first parse, a number that is not read whole (30deg),
// text without one (the value stays), a scale of 0 or below (taken as 1) and a frame count
// below 1 (one frame) each get one warning line naming the option, the value given and the
// value used. Unknown tokens go to unknown, which may collect them. False, with a message on standard error, when an input or output
// name does not fit kPathChars with its terminator, or a value of -format (bmp or png),
// -sheet (frames per row, with -format png), -background (#rrggbb), -directions (1 to 360),
// -cells (WxH), -pivot (X,Y from 0), -canvas (keep), -data (json or godot), -fps (above 0 up
// to kMaxFps) or -overwrite (yes or no) is not one; when a set's option (-directions, -cells,
// -pivot, -canvas) or -data or -fps comes without -format png; and when -directions comes
// with -frames above 1 or -endangle. Every token after "--" is an input of a batch.
bool ParseCommandLine(CommandLine& line, RunParameters& run, GivenValues& given,
                      const UnknownArgumentReport& unknown);

}  // namespace quillet
