#include <windows.h>

#include <string>

#include "whole_file.h"

namespace quillet {

bool WriteWholeFile(const char* fileName, const void* data, std::size_t size) {
  if (!fileName || fileName[0] == '\0') return false;
  static unsigned counter = 0;
  std::string partName;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    partName = std::string(fileName) + ".part" + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(counter++);
    file = CreateFileA(partName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (file == INVALID_HANDLE_VALUE) return false;
  const char* p = static_cast<const char*>(data);
  std::size_t left = size;
  bool ok = true;
  while (ok && left > 0) {
    const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    DWORD written = 0;
    ok = WriteFile(file, p, chunk, &written, nullptr) && written > 0;
    p += written;
    left -= written;
  }
  ok = (CloseHandle(file) != 0) && ok;
  ok = ok && MoveFileExA(partName.c_str(), fileName, MOVEFILE_REPLACE_EXISTING) != 0;
  if (!ok) DeleteFileA(partName.c_str());
  return ok;
}

}  // namespace quillet
