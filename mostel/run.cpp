#include "run.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "pixeltools.h"
#include "pixeltools/batch.h"
#include "pixeltools/parallel.h"

namespace mostel {
namespace {

constexpr int kExitBadInput = 1;
constexpr int kExitUsage = 2;
constexpr int kExitBadOutput = 3;
constexpr int kExitOutOfMemory = -1;

// Releases a library image on every way out.
struct Image {
  pxt_image image{};
  Image() = default;
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  ~Image() { pxt_image_free(&image); }
};

int MemoryExhausted() {
  std::fflush(stdout);
  std::fputs("ERR: memory exhausted\n", stderr);
  return kExitOutOfMemory;
}

// Most pixels to a side of a cell: the largest picture's side.
constexpr unsigned kMaxCellSide = 65535;

// What the command line asks for besides its names.
struct Options {
  const char* outdir = nullptr;  // a batch into this folder
  bool overwrite = false;        // a batch replaces outputs that exist
  bool quiet = false;            // no progress display
  unsigned cellWidth = 0, cellHeight = 0;  // above 0: each cell of a sheet enlarged on its own
  std::vector<std::string> names;
};

// Whether token is the option (given in lower case), ASCII case ignored.
bool SameOption(const char* token, const char* option) {
  for (; *token && *option; ++token, ++option) {
    const char c = *token >= 'A' && *token <= 'Z' ? static_cast<char>(*token - 'A' + 'a') : *token;
    if (c != *option) return false;
  }
  return *token == '\0' && *option == '\0';
}

// A whole number from 1 to kMaxCellSide at text; the character after it in end.
bool ReadSide(const char* text, unsigned& side, const char** end) {
  unsigned long long n = 0;
  const char* p = text;
  while (*p >= '0' && *p <= '9' && n <= kMaxCellSide) n = n * 10 + static_cast<unsigned>(*p++ - '0');
  *end = p;
  if (p == text || n < 1 || n > kMaxCellSide) return false;
  side = static_cast<unsigned>(n);
  return true;
}

bool ParseCells(const char* value, Options& options) {
  const char* p = value;
  const bool read = ReadSide(p, options.cellWidth, &p) && (*p == 'x' || *p == 'X') &&
                    ReadSide(p + 1, options.cellHeight, &p) && *p == '\0';
  if (read) return true;
  std::fprintf(stderr, "mostel: -cells takes WxH with both sides from 1 to %u, not \"%s\"\n", kMaxCellSide, value);
  return false;
}

// Reads the options, which may stand anywhere before "--", and the names. False, with a line
// naming the option and the value, when one is refused.
bool ParseOptions(int argc, const char* const* argv, Options& options) {
  bool names = false;  // after "--" every argument is a name
  for (int k = 1; k < argc; ++k) {
    const char* token = argv[k];
    if (names) {
      options.names.push_back(token);
      continue;
    }
    if (std::strcmp(token, "--") == 0) {
      names = true;
      continue;
    }
    if (SameOption(token, "-quiet")) {
      options.quiet = true;
      continue;
    }
    const bool outdir = SameOption(token, "-outdir"), overwrite = SameOption(token, "-overwrite"),
               cells = SameOption(token, "-cells");
    if (!outdir && !overwrite && !cells) {
      options.names.push_back(token);
      continue;
    }
    if (k + 1 >= argc) {
      std::fprintf(stderr, "mostel: %s needs a value\n", token);
      return false;
    }
    const char* value = argv[++k];
    if (outdir) {
      if (value[0] == '\0') {
        std::fprintf(stderr, "mostel: -outdir takes a folder, not \"\"\n");
        return false;
      }
      options.outdir = value;
    } else if (overwrite) {
      if (SameOption(value, "yes") || SameOption(value, "no")) {
        options.overwrite = SameOption(value, "yes");
      } else {
        std::fprintf(stderr, "mostel: -overwrite takes yes or no, not \"%s\"\n", value);
        return false;
      }
    } else if (!ParseCells(value, options)) {
      return false;
    }
  }
  return true;
}

// A failed step: the status and the line that names the cause.
struct Failure {
  int status = 0;
  std::string line;
};

Failure Failed(int status, const char* path, const char* message) {
  return Failure{status, std::string("mostel: \"") + path + "\": " + message + "\n"};
}

// Enlarges input as a whole, or each of its cells on its own with the results laid at three
// times their places, on `threads` threads; the bytes do not depend on them.
pxt_status Enlarge(const pxt_image& input, const Options& options, unsigned threads, const pxt_limits& limits,
                   pxt_image& output, uint32_t& filtered, pxt_error& error) {
  if (options.cellWidth == 0) return pxt_mostel_enlarge(&input, threads, &limits, &output, &filtered, &error);
  filtered = 0;
  if (threads == 0) threads = static_cast<unsigned>(pixeltools::HardwareThreads("MOSTEL_THREADS"));
  const pxt_status made = pxt_image_create(3 * input.width, 3 * input.height, &output, &error);
  if (made != PXT_OK) return made;
  const unsigned across = input.width / options.cellWidth, down = input.height / options.cellHeight;
  // The first cell that failed, by its place, whichever thread met it.
  std::mutex mutex;
  long long failedCell = -1;
  pxt_status failed = PXT_OK;
  std::atomic<uint64_t> decisions{0};
  pixeltools::ParallelFor(static_cast<int>(std::size_t{across} * down), static_cast<int>(threads), [&](int, int k) {
    const std::size_t x = std::size_t{static_cast<unsigned>(k) % across} * options.cellWidth;
    const std::size_t y = std::size_t{static_cast<unsigned>(k) / across} * options.cellHeight;
    const pxt_image cell = {options.cellWidth, options.cellHeight, input.stride,
                            input.pixels + y * input.stride + 4 * x};
    Image enlarged;
    uint32_t count = 0;
    pxt_error cellError{};
    const pxt_status status = pxt_mostel_enlarge(&cell, 1, &limits, &enlarged.image, &count, &cellError);
    if (status != PXT_OK) {
      const std::lock_guard<std::mutex> lock(mutex);
      if (failedCell < 0 || k < failedCell) {
        failedCell = k;
        failed = status;
        error = cellError;
      }
      return;
    }
    decisions += count;
    const std::size_t row = std::size_t{4} * enlarged.image.width;
    for (uint32_t r = 0; r < enlarged.image.height; ++r)
      std::memcpy(output.pixels + (3 * y + r) * output.stride + 3 * 4 * x,
                  enlarged.image.pixels + r * enlarged.image.stride, row);
  });
  if (failed != PXT_OK) {
    pxt_image_free(&output);
    return failed;
  }
  filtered = static_cast<uint32_t>(decisions.load());
  return PXT_OK;
}

// Whether the picture splits into whole cells; else the line that says why.
bool SplitsIntoCells(const pxt_image& picture, const Options& options, const char* path, Failure& failure) {
  if (options.cellWidth == 0 || (picture.width % options.cellWidth == 0 && picture.height % options.cellHeight == 0))
    return true;
  char text[256];
  std::snprintf(text, sizeof text, "%u x %u pixels are not whole cells of -cells %ux%u", picture.width,
                picture.height, options.cellWidth, options.cellHeight);
  failure = Failed(kExitUsage, path, text);
  return false;
}

// Reading whole PNG files within mostel's own limits: its pixel limit refuses a picture from
// its header, as 4-byte pixels of the decoded picture.
pxt_limits MostelLimits() {
  pxt_limits limits;
  pxt_limits_default(&limits);
  limits.max_output_bytes = limits.max_mostel_pixels * 4;
  return limits;
}

// One input of a batch: read, enlarged on threads, written as output, its folder made first.
pixeltools::BatchItem EnlargeOne(const std::string& path, const std::string& output, const Options& options,
                                 unsigned threads) {
  pixeltools::BatchItem item;
  item.outcome = pixeltools::BatchOutcome::kFailed;
  const pxt_limits limits = MostelLimits();
  pxt_error error{};
  Image input;
  if (pxt_png_read_file(path.c_str(), &limits, &input.image, &error) != PXT_OK) {
    item.lines = Failed(kExitBadInput, path.c_str(), error.message).line;
    return item;
  }
  Failure failure;
  if (!SplitsIntoCells(input.image, options, path.c_str(), failure)) {
    item.lines = failure.line;
    return item;
  }
  Image picture;
  uint32_t filtered = 0;
  if (Enlarge(input.image, options, threads, limits, picture.image, filtered, error) != PXT_OK) {
    item.lines = Failed(kExitBadInput, path.c_str(), error.message).line;
    return item;
  }
  pxt_image_free(&input.image);
  std::string reason;
  if (!pixeltools::MakeFolders(pixeltools::FolderOf(output), reason)) {
    item.lines = Failed(kExitBadOutput, path.c_str(), reason.c_str()).line;
    return item;
  }
  if (pxt_png_write_file(output.c_str(), &picture.image, PXT_PNG_SMALLEST, &error) != PXT_OK) {
    item.lines = "mostel: \"" + path + "\": could not write \"" + output + "\": " + error.message + "\n";
    return item;
  }
  item.outcome = pixeltools::BatchOutcome::kWritten;
  return item;
}

bool TakesPng(const std::string& name) { return pixeltools::HasEnding(name, {"png"}); }

// Every input of the batch into the folder: PNG files below folders, outputs mirroring the
// tree, no input written and no existing output replaced unless asked.
int RunBatch(const Options& options) {
  const std::vector<pixeltools::BatchInput> inputs = pixeltools::CollectBatchInputs(options.names, TakesPng, options.outdir);
  std::vector<std::vector<std::string>> outputs(inputs.size());
  for (std::size_t k = 0; k < inputs.size(); ++k)
    outputs[k].push_back(pixeltools::JoinPath(options.outdir, inputs[k].relative + ".png"));
  const std::vector<pixeltools::BatchPlan> plans = pixeltools::PlanBatch("mostel", inputs, outputs, options.overwrite);
  const int threads = pixeltools::HardwareThreads("MOSTEL_THREADS");
  const pixeltools::BatchCounts counts = pixeltools::RunBatch(
      static_cast<int>(inputs.size()), threads, options.quiet, [&](int k, int inside) {
        if (!plans[k].run) return plans[k].verdict;
        try {
          return EnlargeOne(inputs[k].path, outputs[k].front(), options, static_cast<unsigned>(inside));
        } catch (const std::bad_alloc&) {
          return pixeltools::BatchItem{pixeltools::BatchOutcome::kFailed,
                                       "mostel: \"" + inputs[k].path + "\": memory ran out\n"};
        }
      });
  return pixeltools::BatchExitStatus(counts);
}

}  // namespace

int RunMostel(int argc, const char* const* argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) return kExitUsage;
  if (options.outdir) {
    if (options.names.empty()) {
      std::fprintf(stderr, "mostel: -outdir \"%s\" needs at least one file or folder to enlarge\n", options.outdir);
      return kExitUsage;
    }
    return RunBatch(options);
  }
  const int names = static_cast<int>(options.names.size());
  if (names != 2) {
    std::puts("Usage: mostel <input png 32bit> <output png 32bit>\n*** Programmed by Oberin. ***");
    // More than two names is most often a shell pattern (mostel *.png) that would overwrite
    // the second file with the first one's enlargement: nothing is read or written.
    if (names > 2) {
      std::fflush(stdout);
      std::fprintf(stderr,
                   "mostel: %d names given, but mostel enlarges one file per run; for many, use "
                   "mostel -outdir FOLDER FILE|FOLDER... (or a shell loop: "
                   "for f in *.png; do mostel \"$f\" \"${f%%.png}-3x.png\"; done)\n",
                   names);
    }
    return kExitUsage;
  }
  const char* inputPath = options.names[0].c_str();
  const char* outputPath = options.names[1].c_str();

  const pxt_limits limits = MostelLimits();

  // The fixed texts go to standard output; the cause goes beside them to standard error.
  pxt_error error{};
  Image input;
  if (pxt_png_read_file(inputPath, &limits, &input.image, &error) != PXT_OK) {
    const unsigned long long pixels = static_cast<unsigned long long>(error.width) * error.height;
    if (pixels == 0) {
      std::printf("File not found: %s\n", inputPath);
    } else {
      std::puts("Too big images are not supported!");
      std::printf("Your image has %llu pixels!\n", pixels);
    }
    if (error.code == PXT_ERROR_OUT_OF_MEMORY) return MemoryExhausted();
    std::fflush(stdout);
    std::fprintf(stderr, "mostel: %s: %s\n", inputPath, error.message);
    return kExitBadInput;
  }
  Failure failure;
  if (!SplitsIntoCells(input.image, options, inputPath, failure)) {
    std::fputs(failure.line.c_str(), stderr);
    return failure.status;
  }

  Image picture;
  uint32_t filtered = 0;
  const pxt_status enlarged = Enlarge(input.image, options, 0, limits, picture.image, filtered, error);
  pxt_image_free(&input.image);
  if (enlarged == PXT_ERROR_OUT_OF_MEMORY) return MemoryExhausted();
  if (enlarged != PXT_OK) {
    std::fprintf(stderr, "mostel: %s: %s\n", inputPath, error.message);
    return kExitBadInput;
  }

  // The summary follows only a written file.
  switch (pxt_png_write_file(outputPath, &picture.image, PXT_PNG_SMALLEST, &error)) {
    case PXT_OK:
      break;
    case PXT_ERROR_OUT_OF_MEMORY:
      return MemoryExhausted();
    case PXT_ERROR_ENCODE:
      std::fprintf(stderr, "ERR: could not encode %s: %s\n", outputPath, error.message);
      return kExitBadOutput;
    default:
      std::fprintf(stderr, "ERR: could not write %s: %s\n", outputPath, error.message);
      return kExitBadOutput;
  }
  std::printf("Success!\n%5d filtered pixels.\n", static_cast<int>(filtered));
  return 0;
}

}  // namespace mostel
