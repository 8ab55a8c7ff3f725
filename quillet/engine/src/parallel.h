// Runs independent pieces of work on several threads, over std::thread on every platform
// (parallel_stdthread.cpp).
#pragma once

#include <functional>

namespace quillet {

// Number of threads the machine runs at once; at least 1.
int HardwareThreads();

// Calls body(k) once for each k in [0, count), spread over up to `threads` threads
// (the caller's included); returns when all calls have returned.
void ParallelFor(int count, int threads, const std::function<void(int)>& body);

}  // namespace quillet
