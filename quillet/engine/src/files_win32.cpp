// The job's files through the Win32 file calls: outputs are created beside their targets
// under unique names and moved over them; the job's directory is a new directory in the
// user's temporary folder, which only the user may enter.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "files_internal.h"
#include "quillet/files.h"

namespace quillet {
namespace {

bool Fail(const char* path, DWORD error) {
  char text[kFailureReasonChars] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                      text, sizeof text, nullptr);
  std::string reason(text, length);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ' ||
                             reason.back() == '.'))
    reason.pop_back();
  if (reason.empty()) reason = "error " + std::to_string(error);
  RecordOutputFailure(path, reason.c_str());
  return false;
}

bool WriteAll(HANDLE file, const ByteRange* parts, std::size_t count) {
  for (std::size_t k = 0; k < count; ++k) {
    const auto* bytes = static_cast<const unsigned char*>(parts[k].data);
    std::size_t size = parts[k].size;
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
  }
  return true;
}

// Writes the parts and closes the file; false with the first error.
bool WriteAndClose(HANDLE file, const ByteRange* parts, std::size_t count, DWORD& error) {
  const bool written = WriteAll(file, parts, count);
  error = written ? 0 : GetLastError();
  const bool closed = CloseHandle(file) != 0;
  if (written && !closed) error = GetLastError();
  return written && closed;
}

// Others may read the file and delete it (RemoveTemporariesNow may run while it is open).
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_DELETE;

bool WriteNew(const char* name, const ByteRange* parts, std::size_t count) {
  const HANDLE file = CreateFileA(name, GENERIC_WRITE, kShare, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(name, GetLastError());
  DWORD error = 0;
  if (WriteAndClose(file, parts, count, error)) return true;
  DeleteFileA(name);
  return Fail(name, error);
}

bool WriteAndReplace(const char* name, const ByteRange* parts, std::size_t count) {
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
      if (file == INVALID_HANDLE_VALUE) return Fail(name, GetLastError());
      return WriteAndClose(file, parts, count, error) || Fail(name, error);
    }
    if (known && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return Fail(name, ERROR_DIRECTORY);
    if (known && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) return Fail(name, ERROR_ACCESS_DENIED);
  }

  const std::string target = name;
  const std::size_t slash = target.find_last_of("\\/:");
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = target.substr(folder.size()).substr(0, 200);
  std::string temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  int slot = -1;
  // Each name is registered for removal before the file is created, so that no ending of the
  // process in between leaves it behind; one that turns out to be taken is let go at once.
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = folder + "." + base + "." + UniqueSuffix();
    slot = RegisterTemporary(temporary.c_str(), false);
    file = CreateFileA(temporary.c_str(), GENERIC_WRITE, kShare, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      error = GetLastError();
      ReleaseTemporary(slot);
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
  }
  if (file == INVALID_HANDLE_VALUE) {
    // An existing file the user may write in a folder where no file may be made beside it: it
    // is written where it is, every write and the close checked. A failure then leaves it
    // damaged, which is why this is the last resort; a new file there fails as before.
    if (exists && error == ERROR_ACCESS_DENIED) {
      const HANDLE inPlace = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
      if (inPlace != INVALID_HANDLE_VALUE) return WriteAndClose(inPlace, parts, count, error) || Fail(name, error);
    }
    return Fail(name, error);
  }
  bool ok = WriteAndClose(file, parts, count, error);
  if (ok && !MoveFileExA(temporary.c_str(), name, MOVEFILE_REPLACE_EXISTING)) {
    ok = false;
    error = GetLastError();
  }
  if (!ok) DeleteFileA(temporary.c_str());
  ReleaseTemporary(slot);
  return ok || Fail(name, error);
}

}  // namespace

bool WriteOutputFile(const char* name, const ByteRange* parts, std::size_t count, OutputMode mode) {
  if (!name || name[0] == '\0') return Fail("", ERROR_INVALID_NAME);
  return mode == OutputMode::kCreateNew ? WriteNew(name, parts, count) : WriteAndReplace(name, parts, count);
}

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

unsigned long long UniqueSeed() {
  LARGE_INTEGER now = {};
  QueryPerformanceCounter(&now);
  return static_cast<unsigned long long>(now.QuadPart) * 0x9E3779B97F4A7C15ull ^
         (static_cast<unsigned long long>(GetCurrentProcessId()) << 20);
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

void RemoveFileNow(const char* path) { DeleteFileA(path); }
void RemoveDirectoryNow(const char* path) { RemoveDirectoryA(path); }
char PathSeparator() { return '\\'; }

}  // namespace quillet
