#include <algorithm>
#include <atomic>
#include <new>
#include <system_error>
#include <utility>
#include <thread>
#include <vector>

#include "parallel.h"

namespace quillet {

int HardwareThreads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(std::min(n, 256u));
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
  auto run = [&] {
    for (int k = next.fetch_add(1); k < count; k = next.fetch_add(1)) body(k);
  };
  std::vector<std::thread> pool;
  pool.reserve(static_cast<std::size_t>(workers - 1));
  // A thread that cannot start (for want of threads or of memory) leaves its share to the
  // others; the ones started are always joined.
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
