// The thread pool's calls for a build without threads: every piece of work runs on the calling
// thread, in increasing order, and no thread is ever started.
#include <utility>

#include "pixeltools/parallel.h"

namespace pixeltools {

int HardwareThreads(const char*) { return 1; }

bool ParallelFor(int count, int, const std::function<void(int worker, int k)>& body, bool) {
  for (int k = 0; k < count; ++k) body(0, k);
  return true;
}

WorkerThreads::WorkerThreads(int, std::function<void(int)> body) : body_(std::move(body)) {}

void WorkerThreads::Join() {}

}  // namespace pixeltools
