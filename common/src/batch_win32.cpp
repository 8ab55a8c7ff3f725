// The batch's files where names are Windows paths in the program's code page. The shells of
// Windows hand * and ? over as they are typed, so the program matches them itself.
#include <windows.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "pixeltools/batch.h"
#include "pixeltools/system_error_win32.h"

namespace pixeltools {
namespace {

constexpr DWORD kNoAttributes = INVALID_FILE_ATTRIBUTES;

bool IsDots(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

}  // namespace

char FolderSeparator() { return '\\'; }

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

bool IsFolderPath(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != kNoAttributes; }

std::string FileIdentity(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "";
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  if (!known) return "";
  char text[64];
  std::snprintf(text, sizeof text, "%lx:%lx:%lx", static_cast<unsigned long>(info.dwVolumeSerialNumber),
                static_cast<unsigned long>(info.nFileIndexHigh), static_cast<unsigned long>(info.nFileIndexLow));
  return text;
}

std::string OutputNameKey(const std::string& name) {
  std::string key = name;
  std::replace(key.begin(), key.end(), '/', '\\');
  // The file system does not tell case apart: letters folded as the program's code page folds them.
  if (!key.empty()) CharLowerBuffA(key.data(), static_cast<DWORD>(key.size()));
  return key;
}

bool MakeFolder(const std::string& folder, std::string& reason) {
  if (CreateDirectoryA(folder.c_str(), nullptr)) return true;
  const DWORD error = GetLastError();
  // Another worker may have made it a moment before.
  if (error == ERROR_ALREADY_EXISTS && IsFolderPath(folder)) return true;
  reason = "cannot make the folder \"" + folder + "\": " + SystemErrorText(error);
  return false;
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries, std::string& reason) {
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(JoinPath(folder, "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return true;  // an empty drive's root
    reason = SystemErrorText(error);
    return false;
  }
  do {
    if (IsDots(found.cFileName)) continue;
    FolderEntry entry;
    entry.name = found.cFileName;
    const bool directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool linked = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entry.folder = directory && !linked;
    entry.linkedFolder = directory && linked;
    entries.push_back(entry);
  } while (FindNextFileA(search, &found));
  const DWORD error = GetLastError();
  FindClose(search);
  if (error != ERROR_NO_MORE_FILES) {
    reason = SystemErrorText(error);
    return false;
  }
  return true;
}

std::vector<std::string> ExpandArgument(const std::string& argument) {
  std::size_t start = argument.size();
  while (start > 0 && argument[start - 1] != '\\' && argument[start - 1] != '/' && argument[start - 1] != ':') --start;
  if (argument.find_first_of("*?", start) == std::string::npos) return {argument};
  const std::string folder = argument.substr(0, start);
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(argument.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!IsDots(found.cFileName)) names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  for (std::string& name : names) name = folder + name;
  return names;
}

}  // namespace pixeltools
