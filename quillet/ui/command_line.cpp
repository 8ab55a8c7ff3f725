#include "quillet/command_line.h"

#include <cerrno>
#include <cmath>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "quillet/ascii.h"
#include "quillet/number_text.h"

namespace quillet {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// White space as the C library's scanning skips it.
const char* SkipSpace(const char* p) {
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  return p;
}


// Yields the tokens of one parse of a CommandLine.
struct TokenReader {
  CommandLine& line;
  char* cursor;
  int index = 0;
  char empty[1] = {'\0'};

  explicit TokenReader(CommandLine& l) : line(l), cursor(l.text) {}

  char* Next() {
    if (line.text) return NextToken(&cursor);
    if (index < line.argumentCount && line.arguments[index]) return line.arguments[index++];
    index = line.argumentCount;
    return empty;
  }
};

bool SetName(const char* option, const char* value, char (&name)[kPathChars]) {
  const std::size_t length = std::strlen(value);
  if (length >= static_cast<std::size_t>(kPathChars)) {
    std::fprintf(stderr, "quillet: the name given with %s has %zu characters; at most %d fit\n", option,
                 length, kPathChars - 1);
    return false;
  }
  std::memcpy(name, value, length + 1);
  return true;
}

bool ParseOverwrite(const char* value, bool& overwrite) {
  if (SameOption(value, "yes") || SameOption(value, "no")) {
    overwrite = SameOption(value, "yes");
    return true;
  }
  std::fprintf(stderr, "quillet: -overwrite takes yes or no, not \"%s\"\n", value);
  return false;
}

bool ParseOutdir(const char* value, const char*& outdir) {
  if (value[0] == '\0') {
    std::fprintf(stderr, "quillet: -outdir takes a folder, not \"\"\n");
    return false;
  }
  outdir = value;
  return true;
}

bool ParseFormat(const char* value, OutputFormat& format) {
  if (SameOption(value, "bmp")) format = OutputFormat::kBmp;
  else if (SameOption(value, "png")) format = OutputFormat::kPng;
  else {
    std::fprintf(stderr, "quillet: -format takes bmp or png, not \"%s\"\n", value);
    return false;
  }
  return true;
}

bool ParseSheet(const char* value, std::int32_t& columns) {
  const char* p = value;
  long long n = 0;
  while (IsDigit(*p) && n <= kMaxSheetColumns) n = n * 10 + (*p++ - '0');
  if (p == value || *p != '\0' || n < 1 || n > kMaxSheetColumns) {
    std::fprintf(stderr, "quillet: -sheet takes a number of frames per row from 1 to %d, not \"%s\"\n",
                 kMaxSheetColumns, value);
    return false;
  }
  columns = static_cast<std::int32_t>(n);
  return true;
}

// A whole number from 1 to most, digits only; false when value is not one.
bool ReadWholeInRange(const char* value, const char* stop, long long most, std::int32_t& n, const char** end) {
  const char* p = value;
  long long read = 0;
  while (p != stop && IsDigit(*p) && read <= most) read = read * 10 + (*p++ - '0');
  *end = p;
  if (p == value || read < 1 || read > most) return false;
  n = static_cast<std::int32_t>(read);
  return true;
}

bool ParseDirections(const char* value, std::int32_t& directions) {
  const char* end = value;
  if (!ReadWholeInRange(value, nullptr, kMaxDirections, directions, &end) || *end != '\0') {
    std::fprintf(stderr, "quillet: -directions takes a number of turns from 1 to %d, not \"%s\"\n", kMaxDirections,
                 value);
    return false;
  }
  return true;
}

bool ParseCells(const char* value, std::int32_t& width, std::int32_t& height) {
  const char* end = value;
  const bool ok = ReadWholeInRange(value, nullptr, kMaxCellSide, width, &end) && (*end == 'x' || *end == 'X') &&
                  ReadWholeInRange(end + 1, nullptr, kMaxCellSide, height, &end) && *end == '\0';
  if (!ok) {
    std::fprintf(stderr, "quillet: -cells takes WxH with both sides from 1, not \"%s\"\n", value);
    width = height = 0;
    return false;
  }
  return true;
}

// X,Y: two finite numbers from 0, read whole.
bool ParsePivot(const char* value, double& x, double& y) {
  const char* end = value;
  const bool ok = IsDigit(*value) || *value == '.' ? ReadReal(value, x, &end) && *end == ',' &&
                                                         (IsDigit(end[1]) || end[1] == '.') &&
                                                         ReadReal(end + 1, y, &end) && *end == '\0' &&
                                                         std::isfinite(x) && std::isfinite(y)
                                                   : false;
  if (!ok) {
    std::fprintf(stderr,
                 "quillet: -pivot takes X,Y of a point of the picture, in pixels from its top-left corner, not "
                 "\"%s\"\n",
                 value);
    return false;
  }
  return true;
}

bool ParseCanvas(const char* value, bool& keep) {
  if (!SameOption(value, "keep")) {
    std::fprintf(stderr, "quillet: -canvas takes keep, not \"%s\"\n", value);
    return false;
  }
  keep = true;
  return true;
}

// The options of a sprite set need PNG frames, and a set's turns are asked for one way.
bool CheckSetOptions(const RunParameters& run, const GivenValues& given) {
  const char* setOption = given.directions ? "-directions"
                          : given.cells    ? "-cells"
                          : given.pivot    ? "-pivot"
                          : given.canvas   ? "-canvas"
                                           : nullptr;
  if (setOption && run.format != OutputFormat::kPng) {
    std::fprintf(stderr, "quillet: %s needs -format png\n", setOption);
    return false;
  }
  if (given.directions && (run.frameCount > 1 || given.endAngle)) {
    std::fprintf(stderr, "quillet: -directions cannot go with %s: they are two ways to ask for a series\n",
                 given.endAngle ? "-endangle" : "-frames");
    return false;
  }
  return true;
}

bool ParseData(const char* value, DataFormat& data) {
  if (SameOption(value, "json")) data = DataFormat::kJson;
  else if (SameOption(value, "godot")) data = DataFormat::kGodot;
  else {
    std::fprintf(stderr, "quillet: -data takes json or godot, not \"%s\"\n", value);
    return false;
  }
  return true;
}

bool ParseFps(const char* value, double& fps) {
  double read = 0.0;
  const char* end = value;
  if (!ReadReal(value, read, &end) || *end != '\0' || !(read > 0.0) || !(read <= kMaxFps)) {
    std::fprintf(stderr, "quillet: -fps takes frames per second above 0 and up to %g, not \"%s\"\n", kMaxFps, value);
    return false;
  }
  fps = read;
  return true;
}

int HexDigit(char c) {
  if (IsDigit(c)) return c - '0';
  const char lower = LowerAscii(c);
  return (lower >= 'a' && lower <= 'f') ? lower - 'a' + 10 : -1;
}

bool ParseBackground(const char* value, std::uint32_t& colour) {
  std::uint32_t rgb = 0;
  bool ok = value[0] == '#' && std::strlen(value) == 7;
  for (int k = 1; ok && k < 7; ++k) {
    const int digit = HexDigit(value[k]);
    ok = digit >= 0;
    rgb = rgb << 4 | static_cast<std::uint32_t>(digit);
  }
  if (!ok) {
    std::fprintf(stderr, "quillet: -background takes a colour as #rrggbb (such as #ff00ff), not \"%s\"\n", value);
    return false;
  }
  colour = rgb;  // red, green, blue from the top byte down: the packed colour's order
  return true;
}

// The options of the line; every one but -quiet takes the next token as its value.
enum class Option { kIn, kOut, kAngle, kEndAngle, kScale, kEndScale, kFrames, kFormat, kSheet, kBackground,
                    kDirections, kCells, kPivot, kCanvas, kData, kFps, kQuiet, kOutdir, kOverwrite, kUnknown };

struct OptionName {
  const char* name;
  bool takesValue;
};

// In the order of Option.
constexpr OptionName kOptions[] = {
    {"-in", true},       {"-out", true},    {"-angle", true},  {"-endangle", true}, {"-scale", true},
    {"-endscale", true}, {"-frames", true}, {"-format", true}, {"-sheet", true},    {"-background", true},
    {"-directions", true}, {"-cells", true}, {"-pivot", true}, {"-canvas", true},   {"-data", true},
    {"-fps", true},        {"-quiet", false},      {"-outdir", true},     {"-overwrite", true},
};
static_assert(std::size(kOptions) == static_cast<std::size_t>(Option::kUnknown));

Option OptionOf(const char* token) {
  for (int k = 0; k < static_cast<int>(Option::kUnknown); ++k) {
    if (SameOption(token, kOptions[k].name)) return static_cast<Option>(k);
  }
  return Option::kUnknown;
}

// The shortest text that reads back as value.
std::string Shortest(double value) { return ShortestText(value); }

void Warn(const char* option, const char* given, const char* why, const std::string& used) {
  std::fprintf(stderr, "quillet: warning: %s \"%s\" %s; %s is used\n", option, given, why, used.c_str());
}

// Reads a real option value; with warn, a value read only in part or not at all, and a scale
// of 0 or below, which the frames take as 1, get their warning.
void ReadRealValue(const char* option, const char* text, double& value, bool isScale, bool warn) {
  const char* end = text;
  const bool read = ReadReal(text, value, &end);
  if (!warn) return;
  // Infinite values are refused later, with their own message.
  if (read && !std::isfinite(value)) return;
  if (!read) {
    Warn(option, text, "is not a number", Shortest(value));
  } else if (isScale && value <= 0.0) {
    Warn(option, text, "is 0 or below", "1");
  } else if (*end != '\0') {
    Warn(option, text, "has text after its number", Shortest(value));
  }
}

// Reads the frame count; with warn, a count read only in part or not at all, held to the
// 32-bit range, or below 1 (one frame) gets its warning.
void ReadFramesValue(const char* text, std::int32_t& count, bool warn) {
  const char* end = text;
  bool clamped = false;
  const bool read = ReadCount(text, count, &end, &clamped);
  if (!warn) return;
  if (!read) {
    Warn("-frames", text, "is not a number", std::to_string(count));
  } else if (count < 1) {
    Warn("-frames", text, "is below 1 (one frame is made)", "1");
  } else if (clamped) {
    Warn("-frames", text, "is out of range", std::to_string(count));
  } else if (*end != '\0') {
    Warn("-frames", text, "has text after its whole number", std::to_string(count));
  }
}

}  // namespace

bool SameOption(const char* token, const char* option) {
  for (; *token && *option; ++token, ++option) {
    if (LowerAscii(*token) != *option) return false;
  }
  return *token == '\0' && *option == '\0';
}

bool TakesNoValue(const char* token) {
  const Option option = OptionOf(token);
  return option != Option::kUnknown && !kOptions[static_cast<int>(option)].takesValue;
}

void ReportUnknownArgument(const UnknownArgumentReport& unknown, const char* token) {
  if (unknown.report) {
    unknown.report(unknown.context, token);
  } else {
    std::fprintf(stderr, "unknown commandline arg \"%s\"", token);
  }
}

char* NextToken(char** cursor) {
  char* p = *cursor;
  while (*p == ' ') ++p;
  if (*p == '\0') {
    *cursor = p;
    return p;
  }
  char* token = p;
  char end = ' ';
  if (*p == '"') {
    end = '"';
    token = ++p;
  }
  while (*p != '\0' && *p != end) ++p;
  if (*p != '\0') *p++ = '\0';
  *cursor = p;
  return token;
}

bool ReadReal(const char* text, double& value, const char** end) {
  if (end) *end = text;
  const char* p = SkipSpace(text);
  const char* start = p;
  if (*p == '+' || *p == '-') ++p;
  const char* mantissa = p;
  while (IsDigit(*p)) ++p;
  bool digits = p > mantissa;
  if (*p == '.') {
    const char* fraction = ++p;
    while (IsDigit(*p)) ++p;
    digits = digits || p > fraction;
  }
  if (!digits) return false;
  if (*p == 'e' || *p == 'E') {
    const char* q = p + 1;
    if (*q == '+' || *q == '-') ++q;
    if (IsDigit(*q)) {
      while (IsDigit(*q)) ++q;
      p = q;
    }
  }
  // strtod on a copy of exactly the accepted characters: it would take more (hex, inf, nan).
  const std::string number(start, p);
  value = std::strtod(number.c_str(), nullptr);
  if (end) *end = p;
  return true;
}

bool ReadCount(const char* text, std::int32_t& value, const char** end, bool* clamped) {
  if (end) *end = text;
  if (clamped) *clamped = false;
  const char* p = SkipSpace(text);
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (!IsDigit(*p)) return false;
  long long magnitude = 0;
  for (; IsDigit(*p); ++p) {
    if (magnitude <= INT_MAX) magnitude = magnitude * 10 + (*p - '0');
  }
  if (negative) magnitude = -magnitude;
  const long long held = magnitude > INT_MAX ? INT_MAX : magnitude < INT_MIN ? INT_MIN : magnitude;
  value = static_cast<std::int32_t>(held);
  if (end) *end = p;
  if (clamped) *clamped = held != magnitude;
  return true;
}

bool IsEmpty(const CommandLine& line) {
  if (line.text) return line.text[0] == '\0';
  return line.argumentCount <= 0;
}

bool ParseCommandLine(CommandLine& line, RunParameters& run, GivenValues& given,
                      const UnknownArgumentReport& unknown) {
  TokenReader reader(line);
  const bool warn = !line.parsed;
  bool accepted = true;
  for (;;) {
    const char* token = reader.Next();
    if (token[0] == '\0') break;
    if (given.inputsGiven) {
      given.inputs.push_back(token);
      continue;
    }
    if (std::strcmp(token, "--") == 0) {
      given.inputsGiven = true;
      continue;
    }
    const Option option = OptionOf(token);
    if (option == Option::kUnknown) {
      ReportUnknownArgument(unknown, token);
      continue;
    }
    if (option == Option::kQuiet) {
      given.quiet = true;
      continue;
    }
    const char* value = reader.Next();
    const char* name = kOptions[static_cast<int>(option)].name;
    switch (option) {
      case Option::kIn:
        accepted = SetName("-in", value, run.inputName);
        break;
      case Option::kOut:
        accepted = SetName("-out", value, run.outputName);
        break;
      case Option::kAngle:
        ReadRealValue(name, value, run.angle, false, warn);
        if (!given.endAngle) run.endAngle = run.angle;
        given.angle = true;
        break;
      case Option::kEndAngle:
        ReadRealValue(name, value, run.endAngle, false, warn);
        if (!given.angle) run.angle = run.endAngle;
        given.endAngle = true;
        break;
      case Option::kScale:
        ReadRealValue(name, value, run.scale, true, warn);
        if (!given.endScale) run.endScale = run.scale;
        given.scale = true;
        break;
      case Option::kEndScale:
        ReadRealValue(name, value, run.endScale, true, warn);
        if (!given.scale) run.scale = run.endScale;
        given.endScale = true;
        break;
      case Option::kFrames:
        ReadFramesValue(value, run.frameCount, warn);
        given.frames = true;
        break;
      case Option::kFormat:
        accepted = ParseFormat(value, run.format);
        given.format = true;
        break;
      case Option::kSheet:
        accepted = ParseSheet(value, run.sheetColumns);
        given.sheet = true;
        break;
      case Option::kBackground:
        accepted = ParseBackground(value, run.background);
        run.backgroundGiven = true;
        break;
      case Option::kDirections:
        accepted = ParseDirections(value, run.directions);
        given.directions = true;
        break;
      case Option::kCells:
        accepted = ParseCells(value, run.cellWidth, run.cellHeight);
        given.cells = true;
        break;
      case Option::kPivot:
        accepted = ParsePivot(value, run.pivotX, run.pivotY);
        run.pivotGiven = accepted;
        given.pivot = true;
        break;
      case Option::kCanvas:
        accepted = ParseCanvas(value, run.keepCanvas);
        given.canvas = true;
        break;
      case Option::kOutdir:
        accepted = ParseOutdir(value, given.outdir);
        break;
      case Option::kOverwrite:
        accepted = ParseOverwrite(value, given.overwrite);
        break;
      case Option::kData:
        accepted = ParseData(value, run.data);
        given.data = true;
        break;
      case Option::kFps:
        accepted = ParseFps(value, run.fps);
        given.data = true;
        break;
      case Option::kQuiet:
      case Option::kUnknown:
        break;
    }
    if (!accepted) break;
  }
  if (accepted && given.sheet && run.format != OutputFormat::kPng) {
    std::fprintf(stderr, "quillet: -sheet needs -format png\n");
    accepted = false;
  }
  if (accepted) accepted = CheckSetOptions(run, given);
  if (accepted && given.data && run.format != OutputFormat::kPng) {
    std::fprintf(stderr, "quillet: %s needs -format png\n", run.data != DataFormat::kNone ? "-data" : "-fps");
    accepted = false;
  }
  if (accepted && run.data != DataFormat::kNone && run.frameCount > kMaxDataFrames) {
    std::fprintf(stderr, "quillet: -data describes at most %d frames, not the %d of -frames\n", kMaxDataFrames,
                 run.frameCount);
    accepted = false;
  }
  // The text form is now split after its first token; the argument form follows suit.
  if (!line.text && line.argumentCount > 1) line.argumentCount = 1;
  line.parsed = true;
  return accepted;
}

}  // namespace quillet
