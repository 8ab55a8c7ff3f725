#include "quillet/number_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quillet {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string ShortestText(double value) {
  if (value == 0.0) return std::signbit(value) ? "-0" : "0";
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  // The fewest significant digits whose nearest decimal reads back as value. printf and
  // strtod share the locale, so the round trip holds whatever its decimal point; the digits
  // and the exponent are then taken out of the text without it.
  char text[64];
  for (int digits = 1; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*e", digits - 1, value);
    if (std::strtod(text, nullptr) == value) break;
  }
  std::string mantissa;
  const char* p = text;
  for (; *p && *p != 'e'; ++p) {
    if (IsDigit(*p)) mantissa += *p;
  }
  const int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
  while (mantissa.size() > 1 && mantissa.back() == '0') mantissa.pop_back();
  const std::size_t count = mantissa.size();

  std::string scientific(value < 0 ? "-" : "");
  scientific += mantissa[0];
  if (count > 1) {
    scientific += '.';
    scientific.append(mantissa, 1, std::string::npos);
  }
  char power[16];
  std::snprintf(power, sizeof power, "e%c%02d", exponent < 0 ? '-' : '+', exponent < 0 ? -exponent : exponent);
  scientific += power;

  std::string plain(value < 0 ? "-" : "");
  if (exponent >= 0) {
    const auto whole = static_cast<std::size_t>(exponent) + 1;
    if (count <= whole) {
      // A whole number is written plainly with all of its digits, not the shortest's zeros.
      char exact[400];
      std::snprintf(exact, sizeof exact, "%.0f", std::fabs(value));
      plain += exact;
    } else {
      plain.append(mantissa, 0, whole);
      plain += '.';
      plain.append(mantissa, whole, std::string::npos);
    }
  } else {
    plain += "0.";
    plain.append(static_cast<std::size_t>(-exponent - 1), '0');
    plain += mantissa;
  }
  return plain.size() <= scientific.size() ? plain : scientific;
}

std::string FixedText(double value, int decimals) {
  char text[400];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string out;
  for (const char* p = text; *p; ++p) out += IsDigit(*p) || *p == '-' ? *p : '.';
  return out;
}

}  // namespace quillet
