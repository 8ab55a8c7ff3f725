#include <cstdio>
#include <cstring>

#include "files_internal.h"
#include "quillet/files.h"

namespace quillet {
namespace {

thread_local OutputFailure lastFailure;

constexpr const char* kTemporaryNames[4] = {"_temp.bmp", "temp24.tif", "temp24.bmp", "input"};

bool Join(const char* directory, const char* name, char (&path)[kTempPathChars]) {
  const int length = std::snprintf(path, sizeof path, "%s%c%s", directory, PathSeparator(), name);
  return length > 0 && static_cast<std::size_t>(length) < sizeof path;
}

}  // namespace

void RecordOutputFailure(const char* path, const char* reason) {
  std::snprintf(lastFailure.path, sizeof lastFailure.path, "%s", path ? path : "");
  std::snprintf(lastFailure.reason, sizeof lastFailure.reason, "%s", reason && reason[0] ? reason : "failed");
}

const OutputFailure& LastOutputFailure() { return lastFailure; }
bool OutputFailed() { return lastFailure.reason[0] != '\0'; }
void ClearOutputFailure() { lastFailure = OutputFailure{}; }

bool WriteOutputFile(const char* name, const ByteRange* parts, std::size_t count, OutputMode mode) {
  pixeltools::WriteFailure failure;
  if (pixeltools::WriteOutputFile(name, parts, count, mode, &failure)) return true;
  RecordOutputFailure(name ? name : "", failure.reason);
  return false;
}

bool WriteOutputFile(const char* name, const void* data, std::size_t size, OutputMode mode) {
  const ByteRange part = {data, size};
  return WriteOutputFile(name, &part, 1, mode);
}

void DirectoryOf(const char* path, char (&directory)[kTempPathChars]) {
  std::snprintf(directory, sizeof directory, "%s", path ? path : "");
  char* last = nullptr;
  for (char* c = directory; *c != '\0'; ++c) {
    if (*c == '/' || *c == PathSeparator()) last = c;
  }
  if (!last) {
    std::snprintf(directory, sizeof directory, ".");
  } else if (last == directory) {
    last[1] = '\0';
  } else {
    *last = '\0';
  }
}

bool CreateJobTemporaries(JobTemporaries& temporaries) {
  RemoveJobTemporaries(temporaries);
  char parent[kTempPathChars];
  if (!SystemTempDirectory(parent)) return false;
  std::snprintf(temporaries.directory, sizeof temporaries.directory, "%s", parent);
  if (!MakePrivateDirectory(parent, temporaries.directory)) return false;
  char(*names[4])[kTempPathChars] = {&temporaries.enlargeName, &temporaries.importTiffName,
                                     &temporaries.importBmpName, &temporaries.inputCopyName};
  for (int k = 0; k < 4; ++k) {
    if (!Join(temporaries.directory, kTemporaryNames[k], *names[k])) {
      RemoveDirectoryNow(temporaries.directory);
      RecordOutputFailure(parent, "the path of the temporary directory is too long");
      std::snprintf(temporaries.directory, sizeof temporaries.directory, "%s", parent);
      return false;
    }
  }
  // Every name is registered before any file of the job is made: one the registry cannot take
  // fails the job here rather than leave its file behind after a signal.
  temporaries.slots[4] = RegisterTemporary(temporaries.directory, true);
  for (int k = 0; k < 4; ++k) temporaries.slots[k] = RegisterTemporary(*names[k], false);
  temporaries.created = true;
  for (int k = 0; k < 5; ++k) {
    if (temporaries.slots[k] >= 0) continue;
    const char* refused = k < 4 ? *names[k] : temporaries.directory;
    RemoveJobTemporaries(temporaries);
    RecordOutputFailure(parent, RegistrationRefusal(refused));
    std::snprintf(temporaries.directory, sizeof temporaries.directory, "%s", parent);
    return false;
  }
  return true;
}

void RemoveJobTemporaries(JobTemporaries& temporaries) {
  if (!temporaries.created) return;
  for (const char* name : {temporaries.enlargeName, temporaries.importTiffName, temporaries.importBmpName,
                           temporaries.inputCopyName})
    RemoveFileNow(name);
  RemoveDirectoryNow(temporaries.directory);
  for (int& slot : temporaries.slots) {
    ReleaseTemporary(slot);
    slot = -1;
  }
  temporaries.created = false;
}

JobTemporaries::~JobTemporaries() { RemoveJobTemporaries(*this); }

}  // namespace quillet
