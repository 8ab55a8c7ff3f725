// Output files through the Win32 file calls: the new file is created beside its target under
// a unique name and moved over it.
#include <windows.h>

#include <cstdio>
#include <string>

#include "pixeltools/system_error_win32.h"
#include "pixeltools/output_file.h"
#include "pixeltools/temporaries.h"

namespace pixeltools {
namespace {

bool Fail(WriteFailure* failure, const char* reason) {
  if (failure) std::snprintf(failure->reason, sizeof failure->reason, "%s", reason);
  return false;
}

bool Fail(WriteFailure* failure, DWORD error) {
  const std::string reason = pixeltools::SystemErrorText(error);
  if (failure) failure->systemError = static_cast<int>(error);
  return Fail(failure, reason.c_str());
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

bool WriteNew(const char* name, const ByteRange* parts, std::size_t count, WriteFailure* failure) {
  const HANDLE file = CreateFileA(name, GENERIC_WRITE, kShare, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(failure, GetLastError());
  DWORD error = 0;
  if (WriteAndClose(file, parts, count, error)) return true;
  DeleteFileA(name);
  return Fail(failure, error);
}

bool WriteAndReplace(const char* name, const ByteRange* parts, std::size_t count, WriteFailure* failure) {
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
      return WriteAndClose(file, parts, count, error) || Fail(failure, error);
    }
    if (known && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return Fail(failure, DWORD{ERROR_DIRECTORY});
    if (known && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) return Fail(failure, DWORD{ERROR_ACCESS_DENIED});
  }

  const std::string target = name;
  const std::size_t slash = target.find_last_of("\\/:");
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = target.substr(folder.size()).substr(0, 200);
  std::string temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  int slot = -1;
  // Each name is registered for removal before the file is created, so that no ending of the
  // process in between leaves it behind; one that turns out to be taken is let go at once. A
  // name the registry cannot take is not created: nothing would remove it.
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = folder + "." + base + "." + UniqueSuffix();
    slot = RegisterTemporary(temporary.c_str(), false);
    if (slot < 0) return Fail(failure, RegistrationRefusal(temporary.c_str()));
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
      if (inPlace != INVALID_HANDLE_VALUE)
        return WriteAndClose(inPlace, parts, count, error) || Fail(failure, error);
    }
    return Fail(failure, error);
  }
  bool ok = WriteAndClose(file, parts, count, error);
  if (ok && !MoveFileExA(temporary.c_str(), name, MOVEFILE_REPLACE_EXISTING)) {
    ok = false;
    error = GetLastError();
  }
  if (!ok) DeleteFileA(temporary.c_str());
  ReleaseTemporary(slot);
  return ok || Fail(failure, error);
}

}  // namespace

bool WriteOutputFile(const char* name, const ByteRange* parts, std::size_t count, OutputMode mode,
                     WriteFailure* failure) {
  if (!name || name[0] == '\0') return Fail(failure, DWORD{ERROR_INVALID_NAME});
  return mode == OutputMode::kCreateNew ? WriteNew(name, parts, count, failure)
                                        : WriteAndReplace(name, parts, count, failure);
}

}  // namespace pixeltools
