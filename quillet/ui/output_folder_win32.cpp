#include <windows.h>

#include <cstdio>
#include <string>

#include "quillet/output_folder.h"

namespace quillet {

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

bool IsFolder(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CanWriteFile(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
}

// The folder must exist and be one. Its read-only mark does not keep files from being made in
// it here, and no probe file is written: what the rights allow shows at the first write.
bool CanWriteInto(const char* folder, char (&reason)[kFailureReasonChars]) {
  const DWORD attributes = GetFileAttributesA(folder);
  DWORD error = 0;
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = GetLastError();
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    std::snprintf(reason, sizeof reason, "it is a file, not a folder");
    return false;
  }
  if (error == 0) return true;
  char text[kFailureReasonChars] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                      text, sizeof text, nullptr);
  std::string words(text, length);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                            words.back() == '.'))
    words.pop_back();
  if (words.empty()) words = "error " + std::to_string(error);
  std::snprintf(reason, sizeof reason, "%s", words.c_str());
  return false;
}

}  // namespace quillet
