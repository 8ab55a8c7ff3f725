// Runs independent pieces of work on several threads, over std::thread on every platform.
#pragma once

#include <functional>
#include <thread>
#include <vector>

namespace pixeltools {

// Number of threads the machine runs at once, or the count from 1 to 256 that the environment
// variable named variable gives (none when null); at least 1 and at most 256.
int HardwareThreads(const char* variable);

// Calls body(worker, k) once for each k in [0, count), spread over up to `threads` threads,
// worker 0 being the caller's; the indices go in increasing order to whichever thread is
// free. Returns when all calls have returned, true. A thread that cannot be started leaves
// its share to the others; but when memoryStops is set, one that cannot for want of memory
// stops the work: the calls not yet started are not made, every started thread is joined,
// and the result is false. When a call throws, on any thread, the calls not yet started are
// not made, every thread is joined, and the first exception is thrown again here.
bool ParallelFor(int count, int threads, const std::function<void(int worker, int k)>& body,
                 bool memoryStops = false);

// Up to `count` threads, each running body(k) with its own k; joined at Join or destruction.
// A thread that cannot be started is left out (Started tells how many run).
class WorkerThreads {
 public:
  WorkerThreads(int count, std::function<void(int)> body);
  ~WorkerThreads() { Join(); }
  WorkerThreads(const WorkerThreads&) = delete;
  WorkerThreads& operator=(const WorkerThreads&) = delete;

  int Started() const { return static_cast<int>(threads_.size()); }
  void Join();

 private:
  std::function<void(int)> body_;
  std::vector<std::thread> threads_;
};

}  // namespace pixeltools
