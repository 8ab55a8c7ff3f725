#include <windows.h>

#include "pixeltools/system_error_win32.h"

namespace pixeltools {

std::string SystemErrorText(unsigned long error) {
  char text[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                      text, sizeof text, nullptr);
  std::string words(text, length);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                            words.back() == '.'))
    words.pop_back();
  if (words.empty()) words = "error " + std::to_string(error);
  return words;
}

}  // namespace pixeltools
