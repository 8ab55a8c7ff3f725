// Runs independent pieces of work on several threads, over std::thread on every platform
// (parallel_stdthread.cpp).
#pragma once

#include <functional>
#include <thread>
#include <vector>

namespace quillet {

// Number of threads the machine runs at once, or the count from 1 to 256 that the environment
// variable QUILLET_THREADS gives; at least 1.
int HardwareThreads();

// Calls body(k) once for each k in [0, count), spread over up to `threads` threads
// (the caller's included); returns when all calls have returned. When a call throws, on any
// thread, the calls not yet started are not made, every thread is joined, and the first
// exception is thrown again here.
void ParallelFor(int count, int threads, const std::function<void(int)>& body);

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

}  // namespace quillet
