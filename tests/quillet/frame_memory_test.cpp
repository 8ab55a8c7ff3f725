// A frame of a series that runs out of memory while frames are made side by side is made
// again alone: the job writes the same files and shows the same progress as on one thread.
// Memory is made to run out by failing large allocations on every thread but the test's
// own, through this program's replacement of the global allocation functions. Also: how a
// failure inside the threads of a ParallelFor reaches its caller.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "parallel.h"
#include "quillet/pipeline.h"
#include "quillet/job.h"
#include "quillet/render.h"
#include "progress_log.h"
#include "scratch_dir.h"
#include "test_images.h"

namespace {

std::atomic<bool> failOffMainThread{false};
std::thread::id mainThread;
constexpr std::size_t kLargeBytes = std::size_t{64} << 10;  // a frame's pixels, not a thread's bookkeeping
std::atomic<int> refused{0};

}  // namespace

void* operator new(std::size_t size) {
  if (failOffMainThread.load() && size >= kLargeBytes && std::this_thread::get_id() != mainThread) {
    refused.fetch_add(1);
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace quillet {
namespace {

using testing::ProgressLog;

class FrameMemoryTest : public testing::ScratchDirTest {};

TEST_F(FrameMemoryTest, AFrameThatRunsOutBesideOthersIsMadeAgainAlone) {
  mainThread = std::this_thread::get_id();
  AppState app;
  testing::SetPicture(app.workingBitmap, testing::SpriteLike(96, 24, 5, 3));
  testing::EnlargeInPlace(app.workingBitmap, 3);
  RunParameters& run = app.runParameters;
  run.frameCount = 5;
  run.angle = 10;
  run.endAngle = 200;
  std::snprintf(run.outputName, kPathChars, "frames");

  struct Seen {
    std::vector<int> positions;
    std::vector<std::string> texts;
    std::vector<std::vector<std::uint8_t>> files;
    int written = 0;
  };
  auto runOn = [&](int threads) {
    ProgressLog log;
    app.progressWindow.store(&log.display);
    const FramesResult result = RunFrames(app, ProgressOf(app), BmpFileSink(BmpFileOptions{}), threads);
    app.progressWindow.store(nullptr);
    Seen seen{log.positions, log.texts, {}, result.framesWritten};
    for (int k = 1; k <= run.frameCount; ++k) {
      const std::string name = "frames_" + std::to_string(k) + ".bmp";
      seen.files.push_back(testing::ReadFileBytes(name));
      std::filesystem::remove(name);
    }
    return seen;
  };

  // At scale 4 a worker's frame runs out as its pixels are made, before it reports anything;
  // at scale 1 the pixels fit and it runs out in the detail pass, after the search's reports.
  for (double scale : {4.0, 1.0}) {
    SCOPED_TRACE(scale);
    run.scale = scale;
    run.endScale = scale;
    const Seen alone = runOn(1);
    ASSERT_EQ(alone.written, 5);
    refused.store(0);
    failOffMainThread.store(true);
    const Seen sideBySide = runOn(2);
    failOffMainThread.store(false);
    EXPECT_GT(refused.load(), 0);  // a worker's frame did run out
    EXPECT_EQ(sideBySide.written, 5);
    EXPECT_EQ(sideBySide.positions, alone.positions);
    EXPECT_EQ(sideBySide.texts, alone.texts);
    EXPECT_TRUE(sideBySide.files == alone.files);
  }
}

// Memory that runs out in one call of a ParallelFor, on the calling thread or on a worker, is
// thrown again to the caller only once every call that began has ended and every thread is
// joined; the calls not yet begun are given up.
TEST(ParallelFor, PassesAFailureOnOnceEveryThreadHasEnded) {
  for (const bool onCaller : {true, false}) {
    SCOPED_TRACE(onCaller ? "on the calling thread" : "on a worker");
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> begun{0}, ended{0}, thrown{0};
    bool caught = false;
    try {
      ParallelFor(400, 8, [&](int) {
        begun.fetch_add(1);
        if ((std::this_thread::get_id() == caller) == onCaller && thrown.fetch_add(1) == 0) throw std::bad_alloc();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ended.fetch_add(1);
      });
    } catch (const std::bad_alloc&) {
      caught = true;
    }
    EXPECT_TRUE(caught);
    EXPECT_EQ(ended.load(), begun.load() - 1);  // only the failed call did not end
    EXPECT_LT(begun.load(), 400);
  }
}

}  // namespace
}  // namespace quillet
