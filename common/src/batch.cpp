#include "pixeltools/batch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "pixeltools/parallel.h"

namespace pixeltools {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsSeparator(char c) { return c == '/' || c == FolderSeparator(); }

// The last part of a path: after its last separator.
std::string LastPart(const std::string& path) {
  std::size_t end = path.size();
  while (end > 1 && IsSeparator(path[end - 1])) --end;
  std::size_t start = end;
  while (start > 0 && !IsSeparator(path[start - 1])) --start;
  return path.substr(start, end - start);
}

// A name without its ending: "walk.png" is "walk"; a name that only starts with a dot keeps it.
std::string WithoutEnding(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Every file below folder that takes accepts, in sorted order, its place under the folder in
// front of each name.
void Walk(const std::string& folder, const std::string& place, InputNameFilter takes, const std::string& skipped,
          std::vector<BatchInput>& out) {
  std::vector<FolderEntry> entries;
  std::string reason;
  if (!ListFolder(folder, entries, reason)) {
    out.push_back(BatchInput{folder, place, "cannot read the folder: " + reason});
    return;
  }
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  for (const FolderEntry& entry : entries) {
    const std::string path = JoinPath(folder, entry.name);
    const std::string below = place.empty() ? entry.name : JoinPath(place, entry.name);
    if (entry.folder) {
      if (skipped.empty() || FileIdentity(path) != skipped) Walk(path, below, takes, skipped, out);
    } else if (!entry.linkedFolder && takes(entry.name)) {
      out.push_back(BatchInput{path, WithoutEnding(below), ""});
    }
  }
}

// "0:42", "12:05", "2:03:00".
std::string Duration(double seconds) {
  const long long total = seconds < 0 ? 0 : static_cast<long long>(seconds + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
  }
  return text;
}

}  // namespace

bool HasEnding(const std::string& name, std::initializer_list<const char*> endings) {
  for (const char* ending : endings) {
    const std::size_t length = std::strlen(ending);
    if (name.size() <= length || name[name.size() - length - 1] != '.') continue;
    bool same = true;
    for (std::size_t k = 0; k < length && same; ++k) same = Lower(name[name.size() - length + k]) == ending[k];
    if (same) return true;
  }
  return false;
}

std::string JoinPath(const std::string& folder, const std::string& relative) {
  if (folder.empty()) return relative;
  if (IsSeparator(folder.back())) return folder + relative;
  return folder + FolderSeparator() + relative;
}

std::string FolderOf(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && !IsSeparator(path[end - 1])) --end;
  if (end == 0) return "";
  // The root keeps its separator.
  std::size_t last = end - 1;
  while (last > 0 && IsSeparator(path[last - 1])) --last;
  return last == 0 ? path.substr(0, 1) : path.substr(0, last);
}

std::vector<BatchInput> CollectBatchInputs(const std::vector<std::string>& arguments, InputNameFilter takes,
                                           const std::string& outputFolder) {
  const std::string skipped = FileIdentity(outputFolder);
  std::vector<BatchInput> inputs;
  for (const std::string& argument : arguments) {
    const std::vector<std::string> names = ExpandArgument(argument);
    if (names.empty()) {
      inputs.push_back(BatchInput{argument, WithoutEnding(LastPart(argument)), "no file matches"});
      continue;
    }
    for (const std::string& name : names) {
      if (IsFolderPath(name)) {
        Walk(name, "", takes, skipped, inputs);
      } else {
        inputs.push_back(BatchInput{name, WithoutEnding(LastPart(name)), ""});
      }
    }
  }
  return inputs;
}

bool MakeFolders(const std::string& folder, std::string& reason) {
  if (folder.empty() || IsFolderPath(folder)) return true;
  const std::string parent = FolderOf(folder);
  if (!parent.empty() && parent != folder && !MakeFolders(parent, reason)) return false;
  return MakeFolder(folder, reason);
}

namespace {

// ClaimOutputs with claims.mutex held.
bool ClaimLocked(BatchClaims& claims, std::size_t k, const std::vector<std::string>& names, BatchItem& verdict) {
  auto refuse = [&](BatchOutcome outcome, const std::string& why) {
    verdict.outcome = outcome;
    verdict.lines = claims.program + ": \"" + claims.inputPaths[k] + "\": " + why + "\n";
    return false;
  };
  for (const std::string& name : names) {
    const auto writer = claims.writers.find(OutputNameKey(name));
    if (writer != claims.writers.end() && writer->second != k)
      return refuse(BatchOutcome::kFailed,
                    "not done: \"" + name + "\" is also the output of \"" + claims.inputPaths[writer->second] + "\"");
  }
  std::string existing;
  for (const std::string& name : names) {
    if (!PathExists(name)) continue;
    const std::string identity = FileIdentity(name);
    if (!identity.empty() && claims.inputFiles.count(identity) != 0)
      return refuse(BatchOutcome::kFailed, "not done: its output \"" + name + "\" is an input of the batch");
    if (existing.empty()) existing = name;
  }
  // An input skipped holds its names too: another input would replace them.
  for (const std::string& name : names) claims.writers.emplace(OutputNameKey(name), k);
  if (!existing.empty() && !claims.overwrite)
    return refuse(BatchOutcome::kSkipped, "skipped: \"" + existing + "\" exists (-overwrite yes replaces it)");
  return true;
}

void SettleLocked(BatchClaims& claims, std::size_t k) {
  if (k >= claims.settled.size()) return;
  claims.settled[k] = true;
  while (claims.firstUnsettled < claims.settled.size() && claims.settled[claims.firstUnsettled])
    ++claims.firstUnsettled;
}

}  // namespace

bool ClaimOutputs(BatchClaims& claims, std::size_t k, const std::vector<std::string>& names, BatchItem& verdict) {
  const std::lock_guard<std::mutex> lock(claims.mutex);
  return ClaimLocked(claims, k, names, verdict);
}

bool ClaimOutputsInOrder(BatchClaims& claims, std::size_t k, const std::vector<std::string>& names,
                         BatchItem& verdict) {
  std::unique_lock<std::mutex> lock(claims.mutex);
  // The inputs before k were handed to workers first, so the earliest one unsettled is
  // running and waits for none: this ends.
  claims.settledMore.wait(lock, [&] { return claims.firstUnsettled >= k; });
  const bool claimed = ClaimLocked(claims, k, names, verdict);
  SettleLocked(claims, k);
  lock.unlock();
  claims.settledMore.notify_all();
  return claimed;
}

void SettleClaims(BatchClaims& claims, std::size_t k) {
  {
    const std::lock_guard<std::mutex> lock(claims.mutex);
    SettleLocked(claims, k);
  }
  claims.settledMore.notify_all();
}

std::vector<BatchPlan> PlanBatch(const char* program, const std::vector<BatchInput>& inputs,
                                 const std::vector<std::vector<std::string>>& outputs, bool overwrite,
                                 BatchClaims& claims) {
  {
    const std::lock_guard<std::mutex> lock(claims.mutex);
    claims.program = program;
    claims.overwrite = overwrite;
    claims.inputPaths.clear();
    claims.inputFiles.clear();
    claims.writers.clear();
    claims.settled.assign(inputs.size(), false);
    claims.firstUnsettled = 0;
    for (const BatchInput& input : inputs) {
      claims.inputPaths.push_back(input.path);
      const std::string identity = FileIdentity(input.path);
      if (!identity.empty()) claims.inputFiles.insert(identity);
    }
  }
  std::vector<BatchPlan> plans(inputs.size());
  for (std::size_t k = 0; k < inputs.size(); ++k) {
    if (!inputs[k].problem.empty()) {
      plans[k].run = false;
      plans[k].verdict.outcome = BatchOutcome::kFailed;
      plans[k].verdict.lines = std::string(program) + ": \"" + inputs[k].path + "\": " + inputs[k].problem + "\n";
      continue;
    }
    const std::vector<std::string>& names = k < outputs.size() ? outputs[k] : std::vector<std::string>{};
    plans[k].run = ClaimOutputs(claims, k, names, plans[k].verdict);
  }
  for (std::size_t k = 0; k < inputs.size(); ++k)
    if (!plans[k].run) SettleClaims(claims, k);
  return plans;
}

std::vector<BatchPlan> PlanBatch(const char* program, const std::vector<BatchInput>& inputs,
                                 const std::vector<std::vector<std::string>>& outputs, bool overwrite) {
  BatchClaims claims;
  return PlanBatch(program, inputs, outputs, overwrite, claims);
}

int BatchExitStatus(const BatchCounts& counts) {
  if (counts.failed > 0) return kBatchExitFailed;
  if (counts.skipped > 0) return kBatchExitSkipped;
  return 0;
}

BatchCounts RunBatch(int count, int threads, bool quiet, const std::function<BatchItem(int k, int threadsInside)>& job) {
  BatchCounts counts;
  const int workers = std::max(1, std::min(threads, count));
  const int inside = std::max(1, threads / workers);
  const bool redraw = !quiet && StandardErrorIsTerminal();
  const auto start = std::chrono::steady_clock::now();

  // Items are kept until every one before them is done, then written in order.
  std::mutex mutex;
  std::vector<BatchItem> items(static_cast<std::size_t>(std::max(count, 0)));
  std::vector<bool> done(items.size(), false);
  int doneCount = 0;
  int nextToWrite = 0;
  std::size_t shown = 0;  // characters of the progress line now on the terminal

  auto eraseProgress = [&] {
    if (shown == 0) return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(shown), "");
    shown = 0;
  };
  auto drawProgress = [&] {
    if (!redraw) return;
    std::string line = std::to_string(doneCount) + " of " + std::to_string(count) + " files done";
    if (doneCount > 0 && doneCount < count) {
      const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      line += ", about " + Duration(elapsed / doneCount * (count - doneCount)) + " left";
    }
    const std::size_t previous = shown;
    std::fprintf(stderr, "\r%s", line.c_str());
    if (line.size() < previous) std::fprintf(stderr, "%*s\r%s", static_cast<int>(previous - line.size()), "",
                                             line.c_str());
    std::fflush(stderr);
    shown = line.size();
  };

  {
    const std::lock_guard<std::mutex> lock(mutex);
    drawProgress();
  }
  ParallelFor(count, workers, [&](int, int k) {
    BatchItem item = job(k, inside);
    const std::lock_guard<std::mutex> lock(mutex);
    items[static_cast<std::size_t>(k)] = std::move(item);
    done[static_cast<std::size_t>(k)] = true;
    ++doneCount;
    bool erased = false;
    for (; nextToWrite < count && done[static_cast<std::size_t>(nextToWrite)]; ++nextToWrite) {
      BatchItem& ready = items[static_cast<std::size_t>(nextToWrite)];
      switch (ready.outcome) {
        case BatchOutcome::kWritten: ++counts.written; break;
        case BatchOutcome::kSkipped: ++counts.skipped; break;
        case BatchOutcome::kFailed: ++counts.failed; break;
      }
      if (ready.lines.empty()) continue;
      if (!erased) eraseProgress();
      erased = true;
      std::fputs(ready.lines.c_str(), stderr);
      ready.lines = std::string();
    }
    drawProgress();
  });
  eraseProgress();
  std::fprintf(stderr, "%d written, %d skipped, %d failed\n", counts.written, counts.skipped, counts.failed);
  std::fflush(stderr);
  return counts;
}

}  // namespace pixeltools
