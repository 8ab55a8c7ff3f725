// Runs independent pieces of work on several threads: the pool both programs share
// (pixeltools/parallel.h), with quillet's thread count.
#pragma once

#include <functional>

#include "pixeltools/parallel.h"

namespace quillet {

// Number of threads the machine runs at once, or the count from 1 to 256 that the environment
// variable QUILLET_THREADS gives; at least 1.
inline int HardwareThreads() { return pixeltools::HardwareThreads("QUILLET_THREADS"); }

// Calls body(k) once for each k in [0, count), spread over up to `threads` threads
// (the caller's included); returns when all calls have returned. When a call throws, on any
// thread, the calls not yet started are not made, every thread is joined, and the first
// exception is thrown again here.
inline void ParallelFor(int count, int threads, const std::function<void(int)>& body) {
  pixeltools::ParallelFor(count, threads, [&body](int, int k) { body(k); });
}

using pixeltools::WorkerThreads;

}  // namespace quillet
