// Frames of a series made several at a time, each on one worker thread, and taken in order by
// the calling thread, which passes each frame's progress on as it comes: the same frames,
// texts and positions as making one after the other. Only a few frames are held at once.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "parallel.h"
#include "quillet/progress.h"

namespace quillet {

// Passes progress positions on, after dropping the first `skip` of them: a frame made in
// order after its first positions were passed on from a worker.
struct SkippingRelay {
  const JobProgress* progress = nullptr;
  std::size_t skip = 0;
  JobProgress Progress() {
    JobProgress relayed;
    relayed.position = [](void* context, int position) {
      SkippingRelay& relay = *static_cast<SkippingRelay*>(context);
      if (relay.skip > 0) {
        --relay.skip;
      } else {
        ReportProgress(*relay.progress, position);
      }
    };
    relayed.context = this;
    return relayed;
  }
};

template <typename Frame>
class SideBySide {
 public:
  // Makes frame k on the calling worker with one thread, reporting to the progress given;
  // false when it cannot be made. It may run out of memory.
  using Make = std::function<bool(int k, const JobProgress& progress, Frame& frame)>;
  enum class Got { kMade, kNotMade, kOutOfMemory };

  SideBySide(int workers, Make make) : make_(std::move(make)), slots_(static_cast<std::size_t>(workers) + 1) {
    for (Slot& slot : slots_) slot.positions.reserve(64);
  }
  ~SideBySide() { Stop(); }
  SideBySide(const SideBySide&) = delete;
  SideBySide& operator=(const SideBySide&) = delete;

  // Starts up to `workers` threads on frames first..count-1; false when none started.
  bool Start(int first, int count, int workers) {
    next_ = first;
    taken_ = first;
    count_ = count;
    threads_ = std::make_unique<WorkerThreads>(workers, [this](int) { Work(); });
    return threads_->Started() > 0;
  }

  // Waits for frame index, the next in order, passing its progress on as it comes; reported
  // counts the positions passed on.
  Got Take(int index, const JobProgress& progress, Frame& frame, std::size_t& reported) {
    Slot& slot = SlotOf(index);
    std::unique_lock<std::mutex> lock(mutex_);
    reported = 0;
    for (;;) {
      const bool mine = slot.index == index;
      const bool finished = mine && slot.state != State::kMaking;
      while (mine && reported < slot.positions.size()) {
        const int position = slot.positions[reported++];
        lock.unlock();
        ReportProgress(progress, position);
        lock.lock();
      }
      if (finished) break;
      // Progress is passed on a few dozen times a second, and at once when the frame is done.
      changed_.wait_for(lock, std::chrono::milliseconds(20));
    }
    const State state = slot.state;
    frame = std::move(slot.frame);
    slot.frame = Frame{};
    slot.state = State::kFree;
    return state == State::kOutOfMemory ? Got::kOutOfMemory : state == State::kNotMade ? Got::kNotMade : Got::kMade;
  }

  // Frame index is finished with: the workers may go on further.
  void Done(int index) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      taken_ = index + 1;
    }
    changed_.notify_all();
  }

  void Stop() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    if (threads_) threads_->Join();
  }

 private:
  enum class State { kFree, kMaking, kMade, kNotMade, kOutOfMemory };
  struct Slot {
    int index = -1;
    State state = State::kFree;
    Frame frame{};
    std::vector<int> positions;  // reported while making, in order
  };
  struct Relay {
    SideBySide* owner;
    Slot* slot;
  };

  static void Record(void* context, int position) {
    const Relay& relay = *static_cast<const Relay*>(context);
    const std::lock_guard<std::mutex> lock(relay.owner->mutex_);
    relay.slot->positions.push_back(position);
  }

  Slot& SlotOf(int index) { return slots_[static_cast<std::size_t>(index) % slots_.size()]; }

  // A worker: takes the next frame while it is within reach of the one to be taken next.
  void Work() {
    Relay relay{this, nullptr};
    JobProgress recording;
    recording.position = Record;
    recording.context = &relay;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] {
        return stop_ || next_ >= count_ || next_ < taken_ + static_cast<int>(slots_.size());
      });
      if (stop_ || next_ >= count_) return;
      const int index = next_++;
      Slot& slot = SlotOf(index);
      slot.index = index;
      slot.state = State::kMaking;
      slot.frame = Frame{};
      slot.positions.clear();
      relay.slot = &slot;
      lock.unlock();
      Frame frame{};
      State state = State::kMade;
      try {
        if (!make_(index, recording, frame)) state = State::kNotMade;
      } catch (const std::bad_alloc&) {
        state = State::kOutOfMemory;
      }
      lock.lock();
      slot.frame = std::move(frame);
      slot.state = state;
      changed_.notify_all();
    }
  }

  Make make_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Slot> slots_;
  int next_ = 0;   // the next frame a worker takes
  int taken_ = 0;  // frames before this one are finished with (or the series stopped)
  int count_ = 0;
  bool stop_ = false;
  std::unique_ptr<WorkerThreads> threads_;  // last: its threads use everything above
};

// What the frames held at once by frames made side by side may take: each worker's frame and
// one more, at the size of the largest frame of the series.
inline constexpr std::uint64_t kSideBySideBytes = std::uint64_t{64} << 20;

// How many frames may be made side by side on up to `threads` threads when `frames` are left
// and the largest takes `largest` bytes: 0 or 1 when they are to be made one at a time.
inline int SideBySideWorkers(std::uint64_t largest, int frames, int threads) {
  const std::uint64_t fit = kSideBySideBytes / (largest > 0 ? largest : 1);  // frames held at once
  const std::uint64_t workers = fit > 1 ? fit - 1 : 0;
  return static_cast<int>(std::min<std::uint64_t>(workers, static_cast<std::uint64_t>(std::min(threads, frames))));
}

}  // namespace quillet
