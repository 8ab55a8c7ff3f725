#include <windows.h>

#include <cstdio>
#include <string>

#include "pixeltools/system_error_win32.h"
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
  const std::string words = pixeltools::SystemErrorText(error);
  std::snprintf(reason, sizeof reason, "%s", words.c_str());
  return false;
}

}  // namespace quillet
