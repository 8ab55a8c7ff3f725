#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <utility>
#include <thread>
#include <vector>

#include "pixeltools/parallel.h"

namespace pixeltools {

namespace {

constexpr int kMostThreads = 256;

// The count the variable gives, a whole number from 1 to kMostThreads; 0 when it gives none.
int ThreadsFromEnvironment(const char* variable) {
  const char* text = variable ? std::getenv(variable) : nullptr;
  if (!text || *text == '\0') return 0;
  int n = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return 0;
    n = n * 10 + (*p - '0');
    if (n > kMostThreads) return 0;
  }
  return n;
}

}  // namespace

int HardwareThreads(const char* variable) {
  if (const int given = ThreadsFromEnvironment(variable); given > 0) return given;
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(std::min(n, static_cast<unsigned>(kMostThreads)));
}

bool ParallelFor(int count, int threads, const std::function<void(int worker, int k)>& body, bool memoryStops) {
  if (count <= 0) return true;
  const int workers = std::max(1, std::min(threads, count));
  if (workers == 1) {
    for (int k = 0; k < count; ++k) body(0, k);
    return true;
  }
  // Indices are handed out in increasing order, so early indices start first.
  std::atomic<int> next{0};
  // The first failure of a call, on whichever thread; the calls not yet started are given up.
  std::mutex failureMutex;
  std::exception_ptr failure;
  auto run = [&](int worker) noexcept {
    try {
      for (int k = next.fetch_add(1); k < count; k = next.fetch_add(1)) body(worker, k);
    } catch (...) {
      next.store(count);
      const std::lock_guard<std::mutex> lock(failureMutex);
      if (!failure) failure = std::current_exception();
    }
  };
  std::vector<std::thread> pool;
  // A thread that cannot start (for want of threads or of memory) leaves its share to the
  // others, or for want of memory ends the work when asked to; the ones started are always
  // joined, before a failure is passed on: a joinable thread left behind would abort the
  // program.
  pool.reserve(static_cast<std::size_t>(workers - 1));
  bool memoryRanOut = false;
  for (int t = 1; t < workers && !memoryRanOut; ++t) {
    try {
      pool.emplace_back(run, t);
    } catch (const std::system_error&) {
      break;
    } catch (const std::bad_alloc&) {
      memoryRanOut = memoryStops;
      break;
    }
  }
  if (memoryRanOut) {
    next.store(count);  // the started threads take no more
  } else {
    run(0);
  }
  for (std::thread& thread : pool) thread.join();
  if (failure) std::rethrow_exception(failure);
  return !memoryRanOut;
}

WorkerThreads::WorkerThreads(int count, std::function<void(int)> body) : body_(std::move(body)) {
  threads_.reserve(static_cast<std::size_t>(std::max(count, 0)));
  for (int k = 0; k < count; ++k) {
    try {
      threads_.emplace_back([this, k] { body_(k); });
    } catch (const std::system_error&) {
      break;
    } catch (const std::bad_alloc&) {
      break;
    }
  }
}

void WorkerThreads::Join() {
  for (std::thread& thread : threads_)
    if (thread.joinable()) thread.join();
}

}  // namespace pixeltools
