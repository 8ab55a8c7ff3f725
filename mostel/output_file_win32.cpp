// Output files through the Win32 file calls: the new file is created beside its target under
// a unique name and moved over it.
#include <windows.h>

#include <cstdio>
#include <string>

#include "output_file.h"
#include "output_name.h"

namespace mostel {
namespace {

bool Fail(WriteFailure* failure, DWORD error) {
  if (!failure) return false;
  failure->reason[0] = '\0';
  failure->systemError = static_cast<int>(error);
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                      failure->reason, sizeof failure->reason, nullptr);
  std::string text(failure->reason, length);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  if (text.empty()) text = "error " + std::to_string(error);
  std::snprintf(failure->reason, sizeof failure->reason, "%s", text.c_str());
  return false;
}

bool WriteAll(HANDLE file, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const DWORD chunk = size > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, bytes, chunk, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    bytes += written;
    size -= written;
  }
  return true;
}

// Writes and closes; false with the first error.
bool WriteAndClose(HANDLE file, const void* data, std::size_t size, DWORD& error) {
  const bool written = WriteAll(file, data, size);
  error = written ? 0 : GetLastError();
  const bool closed = CloseHandle(file) != 0;
  if (written && !closed) error = GetLastError();
  return written && closed;
}

unsigned long long UniqueSeed() {
  LARGE_INTEGER now = {};
  QueryPerformanceCounter(&now);
  return static_cast<unsigned long long>(now.QuadPart) * 0x9E3779B97F4A7C15ull ^
         (static_cast<unsigned long long>(GetCurrentProcessId()) << 20);
}

}  // namespace

bool WriteOutputFile(const char* name, const void* data, std::size_t size, WriteFailure* failure) {
  if (!name || name[0] == '\0') return Fail(failure, ERROR_INVALID_NAME);
  DWORD error = 0;
  const HANDLE probe = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const bool exists = probe != INVALID_HANDLE_VALUE;
  if (exists) {
    const DWORD type = GetFileType(probe);
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool known = GetFileInformationByHandle(probe, &info) != 0;
    CloseHandle(probe);
    if (type != FILE_TYPE_DISK) {
      // A device or a pipe is written, never replaced.
      const HANDLE file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE) return Fail(failure, GetLastError());
      return WriteAndClose(file, data, size, error) || Fail(failure, error);
    }
    if (known && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return Fail(failure, ERROR_DIRECTORY);
    if (known && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) return Fail(failure, ERROR_ACCESS_DENIED);
  }

  const std::string target = name;
  const std::size_t slash = target.find_last_of("\\/:");
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = target.substr(folder.size()).substr(0, 200);
  std::string temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = folder + "." + base + "." + UniqueSuffix(UniqueSeed());
    file = CreateFileA(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (file == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) {
    // An existing file the user may write in a folder where no file may be made beside it: it
    // is written where it is, every write and the close checked. A failure then leaves it
    // damaged, which is why this is the last resort; a new file there fails as before.
    if (exists && error == ERROR_ACCESS_DENIED) {
      const HANDLE inPlace = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
      if (inPlace != INVALID_HANDLE_VALUE) return WriteAndClose(inPlace, data, size, error) || Fail(failure, error);
    }
    return Fail(failure, error);
  }
  bool ok = WriteAndClose(file, data, size, error);
  if (ok && !MoveFileExA(temporary.c_str(), name, MOVEFILE_REPLACE_EXISTING)) {
    ok = false;
    error = GetLastError();
  }
  if (!ok) {
    DeleteFileA(temporary.c_str());
    return Fail(failure, error);
  }
  return true;
}

}  // namespace mostel
