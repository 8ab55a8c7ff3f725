#include <atomic>
#include <cstdio>
#include <cstring>

#include "files_internal.h"
#include "quillet/files.h"

namespace quillet {
namespace {

// What a terminating signal must remove. A slot is free (0), being filled or emptied (1), or
// holds a path (2); the path is only read in state 2, so a handler never sees half of one.
struct TemporarySlot {
  std::atomic<int> state{0};
  bool directory = false;
  char path[kTempPathChars] = {};
};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int kSlotCount = 32;
TemporarySlot slots[kSlotCount];

thread_local OutputFailure lastFailure;

constexpr const char* kTemporaryNames[4] = {"_temp.bmp", "temp24.tif", "temp24.bmp", "input"};

bool Join(const char* directory, const char* name, char (&path)[kTempPathChars]) {
  const int length = std::snprintf(path, sizeof path, "%s%c%s", directory, PathSeparator(), name);
  return length > 0 && static_cast<std::size_t>(length) < sizeof path;
}

}  // namespace

std::string UniqueSuffix() {
  static std::atomic<unsigned> counter{0};
  unsigned long long mix = UniqueSeed() ^ counter.fetch_add(1) * 0xBF58476D1CE4E5B9ull;
  static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (int k = 0; k < 8; ++k) {
    suffix.push_back(kDigits[mix % 36]);
    mix /= 36;
  }
  return suffix;
}

int RegisterTemporary(const char* path, bool directory) {
  if (!path || std::strlen(path) >= kTempPathChars) return -1;
  for (int k = 0; k < kSlotCount; ++k) {
    int expected = 0;
    if (!slots[k].state.compare_exchange_strong(expected, 1)) continue;
    slots[k].directory = directory;
    std::memcpy(slots[k].path, path, std::strlen(path) + 1);
    slots[k].state.store(2);
    return k;
  }
  return -1;
}

void ReleaseTemporary(int slot) {
  if (slot >= 0 && slot < kSlotCount) slots[slot].state.store(0);
}

void RemoveTemporariesNow() {
  for (int pass = 0; pass < 2; ++pass) {
    for (TemporarySlot& slot : slots) {
      if (slot.state.load() != 2 || slot.directory != (pass == 1)) continue;
      if (slot.directory) {
        RemoveDirectoryNow(slot.path);
      } else {
        RemoveFileNow(slot.path);
      }
    }
  }
}

void RecordOutputFailure(const char* path, const char* reason) {
  std::snprintf(lastFailure.path, sizeof lastFailure.path, "%s", path ? path : "");
  std::snprintf(lastFailure.reason, sizeof lastFailure.reason, "%s", reason && reason[0] ? reason : "failed");
}

const OutputFailure& LastOutputFailure() { return lastFailure; }
bool OutputFailed() { return lastFailure.reason[0] != '\0'; }
void ClearOutputFailure() { lastFailure = OutputFailure{}; }

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
  temporaries.slots[4] = RegisterTemporary(temporaries.directory, true);
  for (int k = 0; k < 4; ++k) temporaries.slots[k] = RegisterTemporary(*names[k], false);
  temporaries.created = true;
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
