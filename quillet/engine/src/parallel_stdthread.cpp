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

#include "parallel.h"

namespace quillet {

namespace {

constexpr int kMostThreads = 256;

// The count QUILLET_THREADS gives, a whole number from 1 to kMostThreads; 0 when it gives none.
int ThreadsFromEnvironment() {
  const char* text = std::getenv("QUILLET_THREADS");
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

int HardwareThreads() {
  if (const int given = ThreadsFromEnvironment(); given > 0) return given;
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(std::min(n, static_cast<unsigned>(kMostThreads)));
}

void ParallelFor(int count, int threads, const std::function<void(int)>& body) {
  if (count <= 0) return;
  const int workers = std::max(1, std::min(threads, count));
  if (workers == 1) {
    for (int k = 0; k < count; ++k) body(k);
    return;
  }
  // Indices are handed out in increasing order, so early indices start first.
  std::atomic<int> next{0};
  // The first failure of a call, on whichever thread; the calls not yet started are given up.
  std::mutex failureMutex;
  std::exception_ptr failure;
  auto run = [&]() noexcept {
    try {
      for (int k = next.fetch_add(1); k < count; k = next.fetch_add(1)) body(k);
    } catch (...) {
      next.store(count);
      const std::lock_guard<std::mutex> lock(failureMutex);
      if (!failure) failure = std::current_exception();
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(static_cast<std::size_t>(workers - 1));
  // A thread that cannot start (for want of threads or of memory) leaves its share to the
  // others; the ones started are always joined, before a failure is passed on.
  for (int t = 1; t < workers; ++t) {
    try {
      pool.emplace_back(run);
    } catch (const std::system_error&) {
      break;
    } catch (const std::bad_alloc&) {
      break;
    }
  }
  run();
  for (std::thread& thread : pool) thread.join();
  if (failure) std::rethrow_exception(failure);
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

}  // namespace quillet
