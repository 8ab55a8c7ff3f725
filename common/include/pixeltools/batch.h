// Many files in one process, for both programs: the inputs a command line names (files, and the
// image files below folders), where each one's outputs go under the output folder, and a run
// over a pool of workers whose lines come out in the inputs' order.
#pragma once

#include <condition_variable>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace pixeltools {

// One input of a batch.
struct BatchInput {
  std::string path;      // the file to read, as named or as found below a folder
  std::string relative;  // its outputs' place under the output folder, without an ending: "a/walk"
  std::string problem;   // not empty: why it cannot be taken at all ("no file matches")
};

// Whether name ends in '.' and one of the endings (given in lower case), ASCII case ignored.
bool HasEnding(const std::string& name, std::initializer_list<const char*> endings);

// Whether a file found below a folder is an input, by its name.
using InputNameFilter = bool (*)(const std::string& name);

// The inputs of the arguments, in their order. On Windows an argument with * or ? in its last
// part stands for the names that match it there, sorted; one that matches nothing is an input
// with the problem "no file matches". A folder stands for every file below it that takes
// accepts, found by a walk of the whole tree in sorted order (a linked folder is not entered,
// so no walk goes round in a circle); it is "relative" that mirrors the tree. The output
// folder is not entered where a walk meets it, so outputs of earlier runs are not taken for
// inputs. Anything else is taken as a file; whether it can be read is left to its job.
std::vector<BatchInput> CollectBatchInputs(const std::vector<std::string>& arguments, InputNameFilter takes,
                                           const std::string& outputFolder);

// The platform's folder separator, and path names built with it.
char FolderSeparator();
std::string JoinPath(const std::string& folder, const std::string& relative);
// The folder part of path, without its last separator; "" when it has none.
std::string FolderOf(const std::string& path);

// Makes folder and its missing parents; false with the platform's reason.
bool MakeFolders(const std::string& folder, std::string& reason);

// Whether anything is under path, a link that leads nowhere included.
bool PathExists(const std::string& path);

// What tells the file behind path from every other one, the same whichever of its names is
// used; empty when path names no file that can be looked at.
std::string FileIdentity(const std::string& path);

// The same text for every spelling of an output name that the system takes for one file: the
// name itself where names tell case apart, the name folded to lower case, with one kind of
// separator, where they do not (Windows).
std::string OutputNameKey(const std::string& name);

// The statuses of a batch: every input written; some skipped (their outputs exist), none
// failed; some failed (read, turned or written).
inline constexpr int kBatchExitSkipped = 6;
inline constexpr int kBatchExitFailed = 7;

enum class BatchOutcome { kWritten, kSkipped, kFailed };

// What one input came to, and the lines (each ending in a line break) that say so.
struct BatchItem {
  BatchOutcome outcome = BatchOutcome::kWritten;
  std::string lines;
};

struct BatchCounts {
  int written = 0, skipped = 0, failed = 0;
};

// Whether an input's job runs, decided for every input before any runs: when not, verdict
// says what it came to.
struct BatchPlan {
  bool run = true;
  BatchItem verdict;
};

// The output names a batch's inputs hold, shared by its workers: each name is written by one
// input only, never over the file of an input of the batch, and over a file that exists only
// with overwrite.
struct BatchClaims {
  std::string program;
  bool overwrite = false;
  std::vector<std::string> inputPaths;         // by input, for the lines
  std::set<std::string> inputFiles;            // FileIdentity of every input
  std::map<std::string, std::size_t> writers;  // OutputNameKey of each name held, and its input
  // By input: it claims no more names. An input claims while running only once every one
  // before it is settled, so which of two inputs holds a name does not depend on which
  // worker was quicker.
  std::vector<bool> settled;
  std::size_t firstUnsettled = 0;
  std::mutex mutex;
  std::condition_variable settledMore;
};

// Input k takes names when none of them is another input's, nor the file of an input, nor
// (without overwrite) a file that exists; then it holds them all. Otherwise it holds none of
// them, and verdict is what it comes to (failed, or skipped), one line starting with the program.
bool ClaimOutputs(BatchClaims& claims, std::size_t k, const std::vector<std::string>& names, BatchItem& verdict);
// The same from a worker of the batch, once every input before k is settled; k is then
// settled too.
bool ClaimOutputsInOrder(BatchClaims& claims, std::size_t k, const std::vector<std::string>& names,
                         BatchItem& verdict);
// Input k claims no more names: its job ended, or its names were all claimed by the plan.
// Every input that runs must be settled when its job ends, whatever the way.
void SettleClaims(BatchClaims& claims, std::size_t k);

// Decides from the names each input's job would write (outputs[k] for inputs[k]), in the
// inputs' order, through claims (ClaimOutputs): an input with a problem fails; so does one that
// would write a name an earlier input writes, or the file of any input of the batch (inputs are
// never written). One that would write a name that exists is skipped unless overwrite. Each
// verdict is one line that starts with program. A job whose names are known only once it runs
// claims the rest then, through the same claims (ClaimOutputsInOrder). Inputs that do not run
// are settled; the caller settles those whose names the plan held all of.
std::vector<BatchPlan> PlanBatch(const char* program, const std::vector<BatchInput>& inputs,
                                 const std::vector<std::vector<std::string>>& outputs, bool overwrite,
                                 BatchClaims& claims);
std::vector<BatchPlan> PlanBatch(const char* program, const std::vector<BatchInput>& inputs,
                                 const std::vector<std::vector<std::string>>& outputs, bool overwrite);

// 0, kBatchExitSkipped or kBatchExitFailed for the counts.
int BatchExitStatus(const BatchCounts& counts);

// Calls job(k, threadsInside) once for each input k in [0, count), each on one of up to
// `threads` workers (no more than count), threadsInside being the threads each may use
// within (threads shared among the workers, at least 1). The lines of each input go to
// standard error in the inputs' order as soon as it and every one before it are done, so
// logs do not depend on which worker was quicker. Unless quiet, a line "N of M files done,
// about T left" is redrawn in place on standard error while it is a terminal. The last line
// is "N written, M skipped, K failed".
BatchCounts RunBatch(int count, int threads, bool quiet, const std::function<BatchItem(int k, int threadsInside)>& job);

// Platform: whether standard error is a terminal.
bool StandardErrorIsTerminal();

// Platform: the names in folder (without "." and ".."), each with whether it is a folder to
// walk into (a linked folder is not); false with the platform's reason when it cannot be
// listed.
struct FolderEntry {
  std::string name;
  bool folder = false;
  bool linkedFolder = false;  // a link to a folder: neither walked nor taken as a file
};
bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries, std::string& reason);

// Platform: makes one folder, whose parent exists; true when it is there (also already).
bool MakeFolder(const std::string& folder, std::string& reason);

// Platform: whether path names a folder (through a link too).
bool IsFolderPath(const std::string& path);

// Platform: the names an argument stands for. On Windows, * and ? in its last part are
// matched against the names in its folder (sorted; none when nothing matches); elsewhere,
// and for a name without them, the argument itself.
std::vector<std::string> ExpandArgument(const std::string& argument);

}  // namespace pixeltools
