// Both programs' output writers on any name and contents, in a private folder of their own:
// what stands under the name beforehand (nothing, a file, a link, a folder), a subfolder or
// none, and a file-size limit that may stop the write part way. After each write either the
// whole contents are under the name (through its link) or nothing changed, and no other file
// is left in the folder.
#include <signal.h>
#include <sys/resource.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "pixeltools/output_file.h"
#include "quillet/files.h"

namespace fs = std::filesystem;

namespace {

const char kOld[] = "old";

// A new private folder for one input, removed with everything in it when the input is done.
struct PrivateFolder {
  fs::path path;
  PrivateFolder() {
    static const bool ignored = [] {
      signal(SIGXFSZ, SIG_IGN);  // a write over the limit fails with EFBIG instead
      return true;
    }();
    (void)ignored;
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && base[0] ? base : "/tmp") + "/fuzz_output_files.XXXXXX";
    if (!mkdtemp(pattern.data())) __builtin_trap();
    path = pattern;
  }
  ~PrivateFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

// Every entry under the folder (links not followed) with the contents of the regular files.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> entries;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::end(it); it.increment(error)) {
    std::string contents;
    std::error_code typeError;
    if (it->symlink_status(typeError).type() == fs::file_type::regular) {
      std::ifstream in(it->path(), std::ios::binary);
      contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    entries[it->path().lexically_relative(folder).string()] = contents;
  }
  if (error) __builtin_trap();
  return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint8_t setup = data[0];
  const std::size_t nameLength = data[1] % 24 + 1;
  if (size < 3 + nameLength) return 0;
  // Names of a few letters, dots and slashes, so that they meet the setup's names and the
  // hidden names written beside them; never one that climbs out of the folder.
  static const char kLetters[] = "ab.t/";
  std::string name;
  for (std::size_t k = 0; k < nameLength; ++k) name.push_back(kLetters[data[2 + k] % 5]);
  if (name.find("..") != std::string::npos) return 0;
  const std::uint8_t limitByte = data[2 + nameLength];
  const std::string contents(reinterpret_cast<const char*>(data) + 3 + nameLength, size - 3 - nameLength);

  const PrivateFolder folder;
  std::error_code ignored;
  const fs::path path = folder.path / name;
  if (setup & 0x40) fs::create_directory(folder.path / "t", ignored);
  switch ((setup >> 2) & 3) {
    case 1:
      std::ofstream(path, std::ios::binary) << kOld;
      break;
    case 2:
      fs::create_symlink("b", path, ignored);
      if (setup & 0x10) std::ofstream(path.parent_path() / "b", std::ios::binary) << kOld;
      break;
    case 3:
      fs::create_directory(path, ignored);
      break;
  }
  const std::map<std::string, std::string> before = Snapshot(folder.path);

  struct rlimit previous = {};
  if (getrlimit(RLIMIT_FSIZE, &previous) != 0) __builtin_trap();
  if (setup & 0x20) {
    struct rlimit limited = previous;
    limited.rlim_cur = contents.size() * limitByte / 256;
    if (setrlimit(RLIMIT_FSIZE, &limited) != 0) __builtin_trap();
  }
  bool written = false;
  if (setup & 1) {
    const quillet::OutputMode mode = setup & 2 ? quillet::OutputMode::kCreateNew : quillet::OutputMode::kReplace;
    written = quillet::WriteOutputFile(path.c_str(), contents.data(), contents.size(), mode);
    if (written == quillet::OutputFailed()) __builtin_trap();
    quillet::ClearOutputFailure();
  } else {
    pixeltools::WriteFailure failure;
    written = pixeltools::WriteOutputFile(path.c_str(), contents.data(), contents.size(), &failure);
    if (!written && failure.reason[0] == '\0') __builtin_trap();
  }
  if (setrlimit(RLIMIT_FSIZE, &previous) != 0) __builtin_trap();

  const std::map<std::string, std::string> after = Snapshot(folder.path);
  if (!written) {
    if (after != before) __builtin_trap();  // nothing changed, nothing left beside the name
    return 0;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in || std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) != contents)
    __builtin_trap();
  // One entry at most came or changed: the file written. Every other one is as it was.
  int changed = 0;
  for (const auto& [entry, text] : after) {
    const auto old = before.find(entry);
    if (old == before.end() && text != contents) __builtin_trap();  // a file left beside it
    if (old == before.end() || old->second != text) ++changed;
  }
  for (const auto& [entry, text] : before)
    if (after.find(entry) == after.end()) __builtin_trap();
  if (changed > 1) __builtin_trap();
  return 0;
}
