#include "quillet/command_line.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "quillet/ascii.h"

namespace quillet {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// White space as the C library's scanning skips it.
const char* SkipSpace(const char* p) {
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  return p;
}


bool SameOption(const char* token, const char* option) {
  for (; *token && *option; ++token, ++option) {
    if (LowerAscii(*token) != *option) return false;
  }
  return *token == '\0' && *option == '\0';
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

}  // namespace

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

bool ReadReal(const char* text, double& value) {
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
  return true;
}

bool ReadCount(const char* text, std::int32_t& value) {
  const char* p = SkipSpace(text);
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (!IsDigit(*p)) return false;
  long long magnitude = 0;
  for (; IsDigit(*p); ++p) {
    if (magnitude <= INT_MAX) magnitude = magnitude * 10 + (*p - '0');
  }
  if (negative) magnitude = -magnitude;
  if (magnitude > INT_MAX) magnitude = INT_MAX;
  if (magnitude < INT_MIN) magnitude = INT_MIN;
  value = static_cast<std::int32_t>(magnitude);
  return true;
}

bool IsEmpty(const CommandLine& line) {
  if (line.text) return line.text[0] == '\0';
  return line.argumentCount <= 0;
}

bool ParseCommandLine(CommandLine& line, RunParameters& run, GivenValues& given,
                      const UnknownArgumentReport& unknown) {
  TokenReader reader(line);
  bool accepted = true;
  for (;;) {
    const char* token = reader.Next();
    if (token[0] == '\0') break;
    if (SameOption(token, "-in")) {
      if (!SetName("-in", reader.Next(), run.inputName)) { accepted = false; break; }
    } else if (SameOption(token, "-out")) {
      if (!SetName("-out", reader.Next(), run.outputName)) { accepted = false; break; }
    } else if (SameOption(token, "-angle")) {
      ReadReal(reader.Next(), run.angle);
      if (!given.endAngle) run.endAngle = run.angle;
      given.angle = true;
    } else if (SameOption(token, "-endangle")) {
      ReadReal(reader.Next(), run.endAngle);
      if (!given.angle) run.angle = run.endAngle;
      given.endAngle = true;
    } else if (SameOption(token, "-scale")) {
      ReadReal(reader.Next(), run.scale);
      if (!given.endScale) run.endScale = run.scale;
      given.scale = true;
    } else if (SameOption(token, "-endscale")) {
      ReadReal(reader.Next(), run.endScale);
      if (!given.scale) run.scale = run.endScale;
      given.endScale = true;
    } else if (SameOption(token, "-frames")) {
      ReadCount(reader.Next(), run.frameCount);
      given.frames = true;
    } else if (SameOption(token, "-format")) {
      if (!ParseFormat(reader.Next(), run.format)) { accepted = false; break; }
      given.format = true;
    } else if (SameOption(token, "-sheet")) {
      if (!ParseSheet(reader.Next(), run.sheetColumns)) { accepted = false; break; }
      given.sheet = true;
    } else if (SameOption(token, "-background")) {
      if (!ParseBackground(reader.Next(), run.background)) { accepted = false; break; }
      run.backgroundGiven = true;
    } else if (unknown.report) {
      unknown.report(unknown.context, token);
    } else {
      std::fprintf(stderr, "unknown commandline arg \"%s\"", token);
    }
  }
  if (accepted && given.sheet && run.format != OutputFormat::kPng) {
    std::fprintf(stderr, "quillet: -sheet needs -format png\n");
    accepted = false;
  }
  // The text form is now split after its first token; the argument form follows suit.
  if (!line.text && line.argumentCount > 1) line.argumentCount = 1;
  return accepted;
}

}  // namespace quillet
