// The job's files through the Win32 file calls: the job's directory is a new directory in the
// user's temporary folder, which only the user may enter.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "pixeltools/system_error_win32.h"
#include "files_internal.h"
#include "quillet/files.h"

namespace quillet {
namespace {

bool Fail(const char* path, DWORD error) {
  const std::string reason = pixeltools::SystemErrorText(error);
  RecordOutputFailure(path, reason.c_str());
  return false;
}

}  // namespace

bool SystemTempDirectory(char (&directory)[kTempPathChars]) {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(sizeof path, path);
  if (length == 0 || length > MAX_PATH) return Fail(".", GetLastError());
  std::string text(path, length);
  while (text.size() > 3 && (text.back() == '\\' || text.back() == '/')) text.pop_back();
  std::snprintf(directory, sizeof directory, "%s", text.c_str());
  return true;
}

bool MakePrivateDirectory(const char* parent, char (&directory)[kTempPathChars]) {
  DWORD error = ERROR_ALREADY_EXISTS;
  for (int attempt = 0; attempt < 100 && error == ERROR_ALREADY_EXISTS; ++attempt) {
    char path[kTempPathChars];
    const std::string suffix = UniqueSuffix();
    const int length = std::snprintf(path, sizeof path, "%s\\quillet-%s", parent, suffix.c_str());
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) return Fail(parent, ERROR_FILENAME_EXCED_RANGE);
    if (CreateDirectoryA(path, nullptr)) {
      std::memcpy(directory, path, static_cast<std::size_t>(length) + 1);
      return true;
    }
    error = GetLastError();
  }
  return Fail(parent, error);
}

bool SeekScratchFile(std::FILE* file, std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) {
    errno = EINVAL;
    return false;
  }
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

std::FILE* OpenScratchFile(const char* path) {
  const HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail(path, GetLastError());
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    Fail(path, ERROR_INVALID_HANDLE);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "w+b");
  if (!file) {
    _close(fd);
    Fail(path, ERROR_INVALID_HANDLE);
  }
  return file;
}

char PathSeparator() { return '\\'; }

}  // namespace quillet
