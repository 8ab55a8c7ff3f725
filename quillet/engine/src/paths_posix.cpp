// Absolute paths where the file system has one root and '/' separates names.
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "quillet/pipeline.h"

namespace quillet {

// Joins name to the current directory and folds ".", ".." and repeated separators, as the
// Windows platform does for its full paths; links are not followed.
bool AbsolutePath(const char* name, char* out, std::size_t outSize) {
  if (!name || !out || outSize == 0) return false;
  std::string joined;
  if (name[0] != '/') {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return false;
    joined = cwd;
    joined += '/';
  }
  joined += name;

  std::vector<std::string> parts;
  std::size_t begin = 0;
  while (begin <= joined.size()) {
    std::size_t end = joined.find('/', begin);
    if (end == std::string::npos) end = joined.size();
    const std::string part = joined.substr(begin, end - begin);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    begin = end + 1;
  }
  std::string path;
  for (const std::string& part : parts) path += "/" + part;
  if (path.empty()) path.push_back('/');
  if (path.size() + 1 > outSize) return false;
  std::memcpy(out, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace quillet
