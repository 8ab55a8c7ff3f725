// The C interface against the programs: the same pixels as their files, the errors a caller
// meets, and calls on several threads at once.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "pixeltools.h"
#include "process.h"
#include "quillet/bitmap.h"
#include "quillet/sprite.h"

namespace {

namespace fs = std::filesystem;
using pixeltools::testing::Command;
using pixeltools::testing::ProcessResult;
using pixeltools::testing::RunProcess;

const std::string kSamples = SAMPLES_DIR;

// A folder of the test's own, removed with it.
struct Scratch {
  fs::path dir;
  Scratch() {
    std::string name = (fs::temp_directory_path() / "pxt-test-XXXXXX").string();
    if (mkdtemp(name.data())) dir = name;
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  std::string operator/(const std::string& name) const { return (dir / name).string(); }
};

ProcessResult RunProgram(const char* program, const std::vector<std::string>& args, const Scratch& scratch) {
  Command command;
  command.argv = {program};
  command.argv.insert(command.argv.end(), args.begin(), args.end());
  command.directory = scratch.dir.string();
  return RunProcess(command);
}

// Library records released with their tests.
struct Image {
  pxt_image image{};
  ~Image() { pxt_image_free(&image); }
};
struct Turn {
  pxt_turn_result result{};
  ~Turn() { pxt_turn_result_free(&result); }
};

// An image's pixels row after row, whatever its stride.
std::vector<unsigned char> Rows(const pxt_image& image) {
  std::vector<unsigned char> rows;
  for (uint32_t y = 0; y < image.height; ++y)
    rows.insert(rows.end(), image.pixels + y * image.stride, image.pixels + y * image.stride + 4 * image.width);
  return rows;
}

std::vector<unsigned char> FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {});
}

// The image's pixels in rows `pad` bytes longer than they need, the padding filled with junk.
struct Padded {
  std::vector<unsigned char> bytes;
  pxt_image image{};
  Padded(const pxt_image& from, size_t pad) : bytes((4 * from.width + pad) * from.height + 1, 0xA5) {
    image = from;
    image.stride = 4 * from.width + pad;
    image.pixels = bytes.data() + 1;  // not on a word boundary either
    for (uint32_t y = 0; y < from.height; ++y)
      std::memcpy(image.pixels + y * image.stride, from.pixels + y * from.stride, 4 * from.width);
  }
};

Image ReadPng(const std::string& path) {
  Image read;
  pxt_error error{};
  EXPECT_EQ(pxt_png_read_file(path.c_str(), nullptr, &read.image, &error), PXT_OK) << path << ": " << error.message;
  return read;
}

// A written BMP frame as opaque RGBA rows from the top.
std::vector<unsigned char> BmpRows(const std::string& path) {
  quillet::WorkingBitmap bitmap;
  quillet::LoadBitmapFile(path.c_str(), bitmap);
  const quillet::RgbaImage image = quillet::RgbaOfBitmap(bitmap);
  std::vector<unsigned char> rows;
  for (const quillet::Rgba v : image.pixels)
    rows.insert(rows.end(), {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                             static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)});
  return rows;
}

pxt_status TurnSample(const char* sample, const pxt_turn_options& options, Turn& turn, pxt_error* error = nullptr,
                      const pxt_progress* progress = nullptr, const pxt_limits* limits = nullptr) {
  Image sprite = ReadPng(kSamples + "/" + sample);
  return pxt_quillet_turn(&sprite.image, &options, progress, limits, &turn.result, error);
}

// One job of each kind of output, as quillet's command line and as the library's options.
struct TurnCase {
  const char* name;
  const char* sample;
  std::vector<std::string> args;  // besides -in and -out
  pxt_turn_options options;
  std::vector<std::string> files;  // what the program writes, in frame order
};

pxt_turn_options Options(double angle, double endAngle, double scale, double endScale, int frames,
                         pxt_frame_format format, int sheet = 0, int background = -1) {
  pxt_turn_options options;
  pxt_turn_options_default(&options);
  options.angle = angle;
  options.end_angle = endAngle;
  options.scale = scale;
  options.end_scale = endScale;
  options.frames = frames;
  options.format = format;
  options.sheet_columns = sheet;
  if (background >= 0) {
    options.background = static_cast<uint32_t>(background);
    options.background_given = 1;
  }
  return options;
}

std::vector<TurnCase> TurnCases() {
  return {
      {"sheet", "slime.png", {"-angle", "0", "-endangle", "300", "-frames", "5", "-format", "png", "-sheet", "2"},
       Options(0, 300, 1, 1, 5, PXT_FRAMES_RGBA, 2), {"out.png"}},
      {"rgba-frames", "potion.png",
       {"-angle", "10", "-endangle", "80", "-scale", "1", "-endscale", "1.5", "-frames", "3", "-format", "png"},
       Options(10, 80, 1, 1.5, 3, PXT_FRAMES_RGBA), {"out_1.png", "out_2.png", "out_3.png"}},
      {"rgba-one", "sheet.png", {"-angle", "-33", "-scale", "0.75", "-format", "png"},
       Options(-33, -33, 0.75, 0.75, 1, PXT_FRAMES_RGBA), {"out.png"}},
      {"bmp-frames", "sword.png", {"-angle", "30", "-endangle", "90", "-frames", "2"},
       Options(30, 90, 1, 1, 2, PXT_FRAMES_BMP), {"out_1.bmp", "out_2.bmp"}},
      {"bmp-background", "slime.png", {"-angle", "45", "-endangle", "60", "-frames", "2", "-background", "#10A0c0"},
       Options(45, 60, 1, 1, 2, PXT_FRAMES_BMP, 0, 0x10A0C0), {"out_1.bmp", "out_2.bmp"}},
  };
}

// The library's frames (or sheet) are the pixels of the program's files for the same job.
TEST(PixeltoolsPins, QuilletTurnGivesThePixelsOfTheProgramsFiles) {
  for (const TurnCase& job : TurnCases()) {
    SCOPED_TRACE(job.name);
    Scratch scratch;
    std::vector<std::string> args = {"-in", kSamples + "/" + job.sample, "-out", "out"};
    args.insert(args.end(), job.args.begin(), job.args.end());
    const ProcessResult run = RunProgram(QUILLET_PROGRAM, args, scratch);
    ASSERT_EQ(run.status, 0) << run.err;

    Turn turn;
    pxt_error error{};
    ASSERT_EQ(TurnSample(job.sample, job.options, turn, &error), PXT_OK) << error.message;
    const bool sheet = job.options.sheet_columns > 0;
    ASSERT_EQ(turn.result.frame_count, static_cast<size_t>(job.options.frames));
    EXPECT_EQ(turn.result.frames == nullptr, sheet);
    for (size_t k = 0; k < job.files.size(); ++k) {
      SCOPED_TRACE(job.files[k]);
      const pxt_image& made = sheet ? turn.result.sheet : turn.result.frames[k];
      const std::string path = scratch / job.files[k];
      if (job.options.format == PXT_FRAMES_BMP) {
        EXPECT_TRUE(Rows(made) == BmpRows(path));
      } else {
        const Image written = ReadPng(path);
        EXPECT_EQ(made.width, written.image.width);
        EXPECT_TRUE(Rows(made) == Rows(written.image));
      }
    }
    // Frames on a canvas share its size, and each has its box in the sheet.
    const bool onCanvas = job.options.format == PXT_FRAMES_RGBA || job.options.background_given;
    for (size_t k = 0; onCanvas && k < turn.result.frame_count; ++k) {
      const pxt_frame_place& place = turn.result.places[k];
      EXPECT_EQ(place.width, turn.result.canvas_width);
      EXPECT_EQ(place.height, turn.result.canvas_height);
      if (sheet) {
        EXPECT_EQ(place.x, static_cast<int32_t>((k % 2) * place.width));
        EXPECT_EQ(place.y, static_cast<int32_t>((k / 2) * place.height));
      }
      EXPECT_GT(place.centre_x, 0.0);
      EXPECT_LT(place.centre_x, place.width);
    }
  }
}

// mostel's file is the library's enlargement encoded, at every thread count, with the count of
// edge decisions it prints.
TEST(PixeltoolsPins, MostelEnlargeGivesTheBytesOfTheProgramsFile) {
  for (const char* sample : {"sheet.png", "potion.png"}) {
    SCOPED_TRACE(sample);
    Scratch scratch;
    const ProcessResult run = RunProgram(MOSTEL_PROGRAM, {kSamples + "/" + sample, "out.png"}, scratch);
    ASSERT_EQ(run.status, 0) << run.err;
    const Image input = ReadPng(kSamples + "/" + sample);
    const Padded padded(input.image, 7);
    for (unsigned threads : {1u, 3u, 0u}) {
      SCOPED_TRACE(threads);
      Image output;
      uint32_t decisions = 0;
      pxt_error error{};
      // Rows apart by more than a row, off a word boundary, are read as well.
      const pxt_image& from = threads == 3 ? padded.image : input.image;
      ASSERT_EQ(pxt_mostel_enlarge(&from, threads, nullptr, &output.image, &decisions, &error), PXT_OK)
          << error.message;
      EXPECT_EQ(output.image.width, 3 * input.image.width);
      unsigned char* png = nullptr;
      size_t size = 0;
      ASSERT_EQ(pxt_png_encode(&output.image, PXT_PNG_SMALLEST, &png, &size, &error), PXT_OK) << error.message;
      std::vector<unsigned char> encoded(png, png + size);
      pxt_free(png);
      EXPECT_TRUE(encoded == FileBytes(scratch / "out.png"));
      char summary[64];
      std::snprintf(summary, sizeof summary, "Success!\n%5u filtered pixels.\n", decisions);
      EXPECT_EQ(run.out, summary);
    }
  }
}

// Every way a call is refused: the code, the message naming the cause, the size a header gave,
// and nothing left allocated or written.
TEST(PixeltoolsErrors, NameTheCauseAndLeaveNothingBehind) {
  Scratch scratch;
  const Image slime = ReadPng(kSamples + "/slime.png");
  pxt_limits small;
  pxt_limits_default(&small);
  small.max_output_bytes = 15 * 15 * 4;
  pxt_limits fewPixels;
  pxt_limits_default(&fewPixels);
  fewPixels.max_mostel_pixels = 255;
  pxt_limits smallEnlargement;
  pxt_limits_default(&smallEnlargement);
  smallEnlargement.max_enlarged_bytes = 1 << 16;
  const std::vector<unsigned char> png = FileBytes(kSamples + "/slime.png");
  const char notPng[] = "GIF89a, not a PNG";
  pxt_image narrow = slime.image;
  narrow.stride = 4 * narrow.width - 1;

  struct Case {
    const char* name;
    pxt_status expected;
    const char* words;  // in the message
    uint32_t width;     // of the header, when it was read
    std::function<pxt_status(pxt_error*)> call;
  };
  Image image;
  Turn turn;
  pxt_turn_options options;
  pxt_turn_options_default(&options);
  const std::vector<Case> cases = {
      {"not a PNG", PXT_ERROR_NOT_PNG, "not a PNG file", 0,
       [&](pxt_error* e) { return pxt_png_decode(notPng, sizeof notPng, nullptr, &image.image, e); }},
      {"cut short", PXT_ERROR_DECODE, "", 16,
       [&](pxt_error* e) { return pxt_png_decode(png.data(), png.size() / 2, nullptr, &image.image, e); }},
      {"over the pixel limit", PXT_ERROR_TOO_LARGE, "the image is 16 x 16 pixels, over the limit of 225 (15 x 15)", 16,
       [&](pxt_error* e) { return pxt_png_decode(png.data(), png.size(), &small, &image.image, e); }},
      {"over the byte limit", PXT_ERROR_TOO_LARGE, "larger than 99 bytes", 0,
       [&](pxt_error* e) {
         pxt_limits bytes = small;
         bytes.max_file_bytes = 99;
         return pxt_png_decode(png.data(), png.size(), &bytes, &image.image, e);
       }},
      {"missing file", PXT_ERROR_READ, std::strerror(ENOENT), 0,
       [&](pxt_error* e) { return pxt_png_read_file((scratch / "none.png").c_str(), nullptr, &image.image, e); }},
      {"unwritable file", PXT_ERROR_WRITE, std::strerror(ENOENT), 0,
       [&](pxt_error* e) { return pxt_png_write_file((scratch / "no/such.png").c_str(), &slime.image, PXT_PNG_SMALLEST, e); }},
      {"short stride", PXT_ERROR_ARGUMENT, "stride", 0,
       [&](pxt_error* e) { return pxt_png_encode(&narrow, PXT_PNG_SMALLEST, nullptr, nullptr, e) == PXT_ERROR_ARGUMENT
                                      ? pxt_mostel_enlarge(&narrow, 0, nullptr, &image.image, nullptr, e)
                                      : PXT_OK; }},
      {"mostel's pixel limit", PXT_ERROR_TOO_LARGE, "over the limit of 255", 16,
       [&](pxt_error* e) { return pxt_mostel_enlarge(&slime.image, 0, &fewPixels, &image.image, nullptr, e); }},
      {"no sprite", PXT_ERROR_ARGUMENT, "no sprite", 0,
       [&](pxt_error* e) { return pxt_quillet_turn(nullptr, nullptr, nullptr, nullptr, &turn.result, e); }},
      {"angle not finite", PXT_ERROR_ARGUMENT, "angle must be a finite number", 0,
       [&](pxt_error* e) {
         pxt_turn_options nan = options;
         nan.end_angle = std::nan("");
         return pxt_quillet_turn(&slime.image, &nan, nullptr, nullptr, &turn.result, e);
       }},
      {"sheet of BMP frames", PXT_ERROR_ARGUMENT, "a sheet needs RGBA frames", 0,
       [&](pxt_error* e) {
         pxt_turn_options bmpSheet = options;
         bmpSheet.format = PXT_FRAMES_BMP;
         bmpSheet.sheet_columns = 2;
         return pxt_quillet_turn(&slime.image, &bmpSheet, nullptr, nullptr, &turn.result, e);
       }},
      {"enlargement over the limit", PXT_ERROR_TOO_LARGE, "the sprite is 16 x 16 pixels, too large", 0,
       [&](pxt_error* e) { return pxt_quillet_turn(&slime.image, &options, nullptr, &smallEnlargement, &turn.result, e); }},
      {"frame over the limit", PXT_ERROR_TOO_LARGE, "over the limit of 1000 bytes of 24-bit rows", 0,
       [&](pxt_error* e) {
         pxt_turn_options big = options;
         big.angle = 30;
         big.scale = 4;
         pxt_limits frame;
         pxt_limits_default(&frame);
         frame.max_output_bytes = 1000;
         return pxt_quillet_turn(&slime.image, &big, nullptr, &frame, &turn.result, e);
       }},
      {"canvas over the limit", PXT_ERROR_TOO_LARGE, "the canvas would be", 0,
       [&](pxt_error* e) {
         pxt_limits canvas;  // a pixel: the unturned frames pass every check before they are made
         pxt_limits_default(&canvas);
         canvas.max_output_bytes = 4;
         pxt_turn_options quarters = options;
         quarters.end_angle = 90;
         quarters.frames = 2;
         return pxt_quillet_turn(&slime.image, &quarters, nullptr, &canvas, &turn.result, e);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pxt_error error{};
    EXPECT_EQ(c.call(&error), c.expected);
    EXPECT_EQ(error.code, c.expected);
    EXPECT_NE(std::string(error.message).find(c.words), std::string::npos) << error.message;
    EXPECT_EQ(std::strchr(error.message, '\n'), nullptr);
    EXPECT_EQ(error.width, c.width);
    EXPECT_EQ(image.image.pixels, nullptr);
    EXPECT_EQ(turn.result.frame_count, 0u);
    EXPECT_EQ(turn.result.places, nullptr);
  }
  EXPECT_TRUE(fs::is_empty(scratch.dir));
  EXPECT_STREQ(pxt_status_text(PXT_ERROR_OUT_OF_MEMORY), "out of memory");
}

// Progress runs from 0 to 100 in order, and a cancel between frames ends the call with nothing
// left in the result.
struct Watch {
  std::vector<int> positions;
  int texts = 0;
  int cancelAfter = -1;  // cancels once this many frame texts were shown
  pxt_progress Progress() {
    return {[](void* c, int p) { static_cast<Watch*>(c)->positions.push_back(p); },
            [](void* c, const char*) { ++static_cast<Watch*>(c)->texts; },
            [](void* c) {
              const Watch& w = *static_cast<Watch*>(c);
              return w.cancelAfter >= 0 && w.texts > w.cancelAfter ? 1 : 0;
            },
            this};
  }
};

TEST(PixeltoolsProgress, RunsInOrderAndCancelsBetweenFrames) {
  for (const pxt_frame_format format : {PXT_FRAMES_RGBA, PXT_FRAMES_BMP}) {
    SCOPED_TRACE(format);
    const pxt_turn_options options = Options(20, 100, 1, 2, 3, format);
    Watch whole;
    const pxt_progress progress = whole.Progress();
    Turn turn;
    ASSERT_EQ(TurnSample("potion.png", options, turn, nullptr, &progress), PXT_OK);
    ASSERT_FALSE(whole.positions.empty());
    EXPECT_EQ(whole.positions.front(), 0);
    EXPECT_EQ(whole.positions.back(), 100);
    EXPECT_TRUE(std::is_sorted(whole.positions.begin(), whole.positions.end()));
    EXPECT_EQ(whole.texts, 4);  // the enlargement, then each frame

    Watch cancelling;
    cancelling.cancelAfter = 2;  // during the second frame
    const pxt_progress cancel = cancelling.Progress();
    Turn cancelled;
    pxt_error error{};
    EXPECT_EQ(TurnSample("potion.png", options, cancelled, &error, &cancel), PXT_ERROR_CANCELLED);
    EXPECT_EQ(cancelling.texts, 3);
    EXPECT_EQ(cancelled.result.frames, nullptr);
    EXPECT_EQ(cancelled.result.frame_count, 0u);
  }
}

// Four calls at once on different pictures give the bytes each gives alone: no state is shared.
TEST(PixeltoolsThreads, CallsAtOnceGiveTheBytesOfOneAtATime) {
  const std::vector<TurnCase> jobs = TurnCases();
  auto work = [&](size_t k, std::vector<unsigned char>& bytes) {
    const TurnCase& job = jobs[k];
    Turn turn;
    if (TurnSample(job.sample, job.options, turn) != PXT_OK) return;
    if (turn.result.frames) {
      for (size_t f = 0; f < turn.result.frame_count; ++f) {
        const std::vector<unsigned char> rows = Rows(turn.result.frames[f]);
        bytes.insert(bytes.end(), rows.begin(), rows.end());
      }
    } else {
      bytes = Rows(turn.result.sheet);
    }
    Image enlarged;
    const pxt_image& first = turn.result.frames ? turn.result.frames[0] : turn.result.sheet;
    if (pxt_mostel_enlarge(&first, 2, nullptr, &enlarged.image, nullptr, nullptr) == PXT_OK) {
      const std::vector<unsigned char> rows = Rows(enlarged.image);
      bytes.insert(bytes.end(), rows.begin(), rows.end());
    }
  };
  constexpr size_t kThreads = 4;
  std::vector<std::vector<unsigned char>> alone(kThreads), together(kThreads);
  for (size_t k = 0; k < kThreads; ++k) work(k + 1, alone[k]);
  std::vector<std::thread> threads;
  for (size_t k = 0; k < kThreads; ++k) threads.emplace_back(work, k + 1, std::ref(together[k]));
  for (std::thread& thread : threads) thread.join();
  for (size_t k = 0; k < kThreads; ++k) {
    EXPECT_FALSE(alone[k].empty()) << jobs[k + 1].name;
    EXPECT_TRUE(together[k] == alone[k]) << jobs[k + 1].name;
  }
}

}  // namespace
