// The batch's files where names are paths of a POSIX file system.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pixeltools/batch.h"

namespace pixeltools {

char FolderSeparator() { return '/'; }

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

bool IsFolderPath(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

std::string FileIdentity(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return "";
  return std::to_string(static_cast<unsigned long long>(info.st_dev)) + ":" +
         std::to_string(static_cast<unsigned long long>(info.st_ino));
}

std::string OutputNameKey(const std::string& name) { return name; }

bool MakeFolder(const std::string& folder, std::string& reason) {
  if (mkdir(folder.c_str(), 0777) == 0) return true;
  const int error = errno;
  // Another worker may have made it a moment before.
  if (error == EEXIST && IsFolderPath(folder)) return true;
  reason = "cannot make the folder \"" + folder + "\": " + std::strerror(error);
  return false;
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries, std::string& reason) {
  DIR* listing = opendir(folder.c_str());
  if (!listing) {
    reason = std::strerror(errno);
    return false;
  }
  errno = 0;
  while (const dirent* found = readdir(listing)) {
    const std::string name = found->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + (folder.back() == '/' ? "" : "/") + name;
    FolderEntry entry;
    entry.name = name;
    struct stat info;
    if (lstat(path.c_str(), &info) == 0) {
      if (S_ISDIR(info.st_mode)) {
        entry.folder = true;
      } else if (S_ISLNK(info.st_mode)) {
        struct stat target;
        entry.linkedFolder = stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
      }
    }
    entries.push_back(entry);
    errno = 0;
  }
  const int error = errno;
  closedir(listing);
  if (error != 0) {
    reason = std::strerror(error);
    return false;
  }
  return true;
}

std::vector<std::string> ExpandArgument(const std::string& argument) { return {argument}; }

}  // namespace pixeltools
