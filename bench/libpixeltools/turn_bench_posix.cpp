// A 32 x 32 tile turned into 8 RGBA frames (0 to 315 degrees) through the library, and by
// starting the quillet program for the same job (fork and exec, waited for), timed alike.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "pixeltools.h"

namespace {

namespace fs = std::filesystem;

// A tile of a few colours with a transparent border and a diagonal edge, as pixel art has.
struct Tile {
  pxt_image image{};
  Tile() {
    pxt_image_create(32, 32, &image, nullptr);
    for (std::uint32_t y = 2; y < 30 && image.pixels; ++y)
      for (std::uint32_t x = 2; x < 30; ++x) {
        unsigned char* p = image.pixels + y * image.stride + 4 * x;
        const bool upper = x > y;
        p[0] = upper ? 200 : 40;
        p[1] = (x / 4 + y / 4) % 2 ? 120 : 60;
        p[2] = upper ? 30 : 180;
        p[3] = 255;
      }
  }
  ~Tile() { pxt_image_free(&image); }
};

pxt_turn_options EightFrames() {
  pxt_turn_options options;
  pxt_turn_options_default(&options);
  options.angle = 0;
  options.end_angle = 315;
  options.frames = 8;
  return options;
}

void BM_LibraryTurn(benchmark::State& state) {
  const Tile tile;
  const pxt_turn_options options = EightFrames();
  for (auto _ : state) {
    pxt_turn_result result{};
    if (pxt_quillet_turn(&tile.image, &options, nullptr, nullptr, &result, nullptr) != PXT_OK) {
      state.SkipWithError("the turn failed");
      break;
    }
    benchmark::DoNotOptimize(result.frames);
    pxt_turn_result_free(&result);
  }
}
BENCHMARK(BM_LibraryTurn)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ProgramTurn(benchmark::State& state) {
  const Tile tile;
  std::string folder = (fs::temp_directory_path() / "pxt-bench-XXXXXX").string();
  if (!mkdtemp(folder.data()) || pxt_png_write_file((folder + "/tile.png").c_str(), &tile.image, PXT_PNG_RGBA8, nullptr) != PXT_OK) {
    state.SkipWithError("no folder for the program's files");
    return;
  }
  const std::string input = folder + "/tile.png", output = folder + "/turned";
  for (auto _ : state) {
    const pid_t child = fork();
    if (child == 0) {
      execl(QUILLET_PROGRAM, QUILLET_PROGRAM, "-in", input.c_str(), "-out", output.c_str(), "-format", "png", "-angle",
            "0", "-endangle", "315", "-frames", "8", "-quiet", static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("the program failed");
      break;
    }
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}
BENCHMARK(BM_ProgramTurn)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
