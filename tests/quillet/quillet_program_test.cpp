// Runs the quillet program as a script or a person would: full command lines, sessions fed
// through standard input, and a pseudo-terminal for the progress bar and Ctrl-C. Each run
// has a fresh current directory; frames are compared with the engine's own job.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <lodepng.h>

#include "quillet/bitmap.h"
#include "quillet/job.h"
#include "quillet/job_loop.h"
#include "quillet/imaging.h"
#include "quillet/import.h"
#include "quillet/pipeline.h"
#include "quillet/sprite_job.h"
#include "alpha_sprite.h"
#include "quillet_command.h"
#include "scratch_dir.h"

namespace fs = std::filesystem;

namespace quillet::testing {
namespace {

using Clock = std::chrono::steady_clock;

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

RgbaImage OpaqueRgba(const Picture& picture) {
  RgbaImage image = BlankImage(picture.width, picture.height);
  for (std::int32_t y = 0; y < picture.height; ++y)
    for (std::int32_t x = 0; x < picture.width; ++x) {
      const std::uint32_t c = picture.At(x, picture.height - 1 - y);
      image.At(x, y) = PackRgba(static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                                static_cast<std::uint8_t>(c), 255);
    }
  return image;
}

void WritePng(const std::string& path, const RgbaImage& image) { ASSERT_TRUE(WritePngFile(path.c_str(), image)); }

class QuilletProgram : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    job_ = Dir() + "/job";
    fs::create_directory(job_);
    fs::create_directory(Dir() + "/reference");
    sprite_ = SpriteLike(12, 10, 4, 7);
    WriteFile(job_ + "/sprite.bmp", Bmp24File(sprite_));
  }

  // The program in the job directory, with `input` on its standard input.
  Command Quillet(const std::vector<std::string>& args, const std::string& input = "") const {
    Command command = QuilletCommand(args);
    command.input = input;
    command.directory = job_;
    return command;
  }

  ProcessResult Run(const std::vector<std::string>& args, const std::string& input = "") const {
    return RunProcess(Quillet(args, input));
  }

  // The program on a pseudo-terminal; onOutput sees all output so far and may type.
  ProcessResult RunOnTerminal(const std::vector<std::string>& args, int seconds,
                           const std::function<void(const std::string&, int terminal)>& onOutput) const {
    Command command = Quillet(args);
    command.timeout = std::chrono::seconds(seconds);
    return pixeltools::testing::RunOnTerminal(command, onOutput);
  }

  // The frames the engine writes for these parameters, in order.
  std::vector<std::vector<std::uint8_t>> Expected(const std::string& input, double angle, double endAngle,
                                                  double scale, double endScale, int frames) {
    const std::string here = fs::current_path().string();
    EXPECT_EQ(chdir((Dir() + "/reference").c_str()), 0);
    AppState app;
    RunParameters& run = app.runParameters;
    run = {angle, endAngle, scale, endScale, frames, {}, "frame.bmp"};
    std::snprintf(run.inputName, sizeof run.inputName, "%s/%s", job_.c_str(), input.c_str());
    ImportSetup import;
    import.imaging = &LoadImagingLibrary();
    const JobResult job = RunQuilletJob(app, ProgressOf(app), ImporterFor(import), BmpFileSink(BmpFileOptions{}));
    EXPECT_TRUE(job.Succeeded());
    std::vector<std::vector<std::uint8_t>> files;
    for (int i = 0; i < job.frames.framesWanted; ++i) {
      char name[kFrameNameChars];
      FrameFileName("frame.bmp", frames, i, name);
      files.push_back(ReadFileBytes(frames > 1 ? name : "frame.bmp"));
      EXPECT_FALSE(files.back().empty());
    }
    for (const auto& entry : fs::directory_iterator(".")) fs::remove(entry.path());
    EXPECT_EQ(chdir(here.c_str()), 0);
    return files;
  }

  std::vector<std::uint8_t> Output(const std::string& name) { return ReadFileBytes(job_ + "/" + name); }

  std::vector<std::vector<std::uint8_t>> Series(const std::string& base, int frames) {
    std::vector<std::vector<std::uint8_t>> files;
    for (int i = 1; i <= frames; ++i) files.push_back(Output(base + "_" + std::to_string(i) + ".bmp"));
    return files;
  }

  std::string JobListing() {
    const std::string here = fs::current_path().string();
    EXPECT_EQ(chdir(job_.c_str()), 0);
    std::string listing = Listing();
    EXPECT_EQ(chdir(here.c_str()), 0);
    return listing;
  }

  std::string job_;
  Picture sprite_;
};

TEST_F(QuilletProgram, FullCommandLineRunsOnceWithoutDialogs) {
  ProcessResult run = Run({"-in", "sprite.bmp", "-out", "first.bmp", "-angle", "30"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("Choose"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find('\r'), std::string::npos) << "no bar off a terminal";
  EXPECT_NE(run.err.find("(angle 30 degrees) (scale 100%)\n"), std::string::npos) << run.err;
  EXPECT_EQ(Output("first.bmp"), Expected("sprite.bmp", 30, 30, 1, 1, 1)[0]);
  EXPECT_EQ(JobListing(), "first.bmp sprite.bmp");

  run = Run({"-in", "sprite.bmp", "-out", "c", "-scale", "2", "-endscale", "4", "-frames", "3"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Series("c", 3), Expected("sprite.bmp", 0, 0, 2, 4, 3));

  // Option order, letter case and lenient numbers: 30 to 60 degrees in 2 frames, scale kept.
  run = Run({"-ENDANGLE", "60", "-frames", "2.9", "-Angle", "30deg", "-scale", "abc", "-in", "sprite.bmp",
             "-out", "ordered.bmp"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Series("ordered", 2), Expected("sprite.bmp", 30, 60, 1, 1, 2));

  // "-frames" without a value still counts as given: one frame, no dialog.
  run = Run({"-in", "sprite.bmp", "-out", "no-count.bmp", "-angle", "10", "-endangle", "40", "-frames"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("Choose"), std::string::npos) << run.err;
  EXPECT_EQ(Output("no-count.bmp"), Expected("sprite.bmp", 10, 40, 1, 1, 1)[0]);
}

TEST_F(QuilletProgram, NamesAreTakenWholeAndPngIsImported) {
  // An opaque PNG goes through the imaging library exactly as before.
  WritePng(job_ + "/my sprite.png", OpaqueRgba(sprite_));
  const ProcessResult run = Run({"-in", "my sprite.png", "-out", "out \"1\"", "-angle", "45"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Output("out \"1\".bmp"), Expected("my sprite.png", 45, 45, 1, 1, 1)[0]);
  EXPECT_EQ(JobListing(), "my sprite.png out \"1\".bmp sprite.bmp");
}

// A transparent input gives BMP frames of the picture laid over the background colour, not of
// the colours hidden under its transparent pixels: by default laid over it before it is
// turned; with a background given, each PNG frame on the series' canvas laid over it whole.
TEST_F(QuilletProgram, TransparentInputLiesOverTheBackgroundInBmpFrames) {
  RgbaImage slime;
  ASSERT_TRUE(ReadPngFile(SAMPLES_DIR "/slime.png", slime));
  for (Rgba& v : slime.pixels)
    if (AlphaOf(v) == 0) v = 0x00FFFFFF;  // hidden white
  WritePng(job_ + "/slime.png", slime);
  Picture laid = Plain(slime.width, slime.height, 0);
  for (std::int32_t y = 0; y < slime.height; ++y)
    for (std::int32_t x = 0; x < slime.width; ++x) {
      const Rgba v = slime.At(x, slime.height - 1 - y);
      laid.At(x, y) = AlphaOf(v) == 0 ? 0xFF00FF : ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
    }
  WriteFile(job_ + "/laid.bmp", Bmp24File(laid));
  ProcessResult run = Run({"-in", "slime.png", "-out", "turned", "-angle", "30"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Output("turned.bmp"), Expected("laid.bmp", 30, 30, 1, 1, 1)[0]);

  for (std::size_t k = 0; k < slime.pixels.size(); k += 5)
    if (AlphaOf(slime.pixels[k]) != 0) slime.pixels[k] = (slime.pixels[k] & 0xFFFFFF) | 0x60000000;  // partly covering
  WritePng(job_ + "/slime.png", slime);
  const std::vector<std::string> series = {"-in", "slime.png", "-angle", "0", "-endangle", "100", "-frames", "3"};
  std::vector<std::string> args = series;
  args.insert(args.end(), {"-out", "canvas", "-format", "png"});
  run = Run(args);
  EXPECT_EQ(run.status, 0) << run.err;
  args = series;
  args.insert(args.end(), {"-out", "over", "-background", "#10A0c0"});
  run = Run(args);
  EXPECT_EQ(run.status, 0) << run.err;
  for (int k = 1; k <= 3; ++k) {
    SCOPED_TRACE(k);
    RgbaImage frame;
    ASSERT_TRUE(ReadPngFile((job_ + "/canvas_" + std::to_string(k) + ".png").c_str(), frame));
    WorkingBitmap expected, written;
    ASSERT_TRUE(CompositeOver(frame, 0x10A0C0, expected));
    LoadBitmapFile((job_ + "/over_" + std::to_string(k) + ".bmp").c_str(), written);
    ASSERT_TRUE(HasImage24(written));
    EXPECT_TRUE(written.pixels == expected.pixels);
  }
  EXPECT_EQ(JobListing(), "canvas_1.png canvas_2.png canvas_3.png laid.bmp over_1.bmp over_2.bmp over_3.bmp "
                          "slime.png sprite.bmp turned.bmp");
}

TEST_F(QuilletProgram, PngFramesShareOneCanvasAndMakeASheet) {
  RgbaImage slime;
  ASSERT_TRUE(ReadPngFile(SAMPLES_DIR "/slime.png", slime));
  fs::copy_file(SAMPLES_DIR "/slime.png", job_ + "/slime.png");
  ProcessResult run = Run({"-in", "slime.png", "-out", "turn.PNG", "-angle", "0", "-endangle", "270", "-frames", "4",
                        "-format", "PNG"});
  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<RgbaImage> frames;
  for (int k = 1; k <= 4; ++k) {
    frames.emplace_back();
    ASSERT_TRUE(ReadPngFile((job_ + "/turn_" + std::to_string(k) + ".png").c_str(), frames.back())) << k;
    EXPECT_EQ(frames.back().width, frames.front().width);
    EXPECT_EQ(frames.back().height, frames.front().height);
  }
  // Quarter turns of the 16 x 16 slime, whose visible pixels span columns 1 to 14 and rows 3
  // to 14: the exact turns, on the 14 x 14 canvas that holds them all about the centre.
  ASSERT_EQ(frames[0].width, 14);
  ASSERT_EQ(frames[0].height, 14);
  for (std::int32_t y = 0; y < 14; ++y)
    for (std::int32_t x = 0; x < 14; ++x) ASSERT_EQ(frames[0].At(x, y), slime.At(x + 1, y + 1)) << x << "," << y;
  EXPECT_EQ(frames[1].pixels, QuarterTurn(frames[0], 1).pixels);
  EXPECT_EQ(frames[2].pixels, QuarterTurn(frames[0], 2).pixels);
  EXPECT_EQ(frames[3].pixels, QuarterTurn(frames[0], 3).pixels);

  run = Run({"-in", "slime.png", "-out", "sheet", "-angle", "0", "-endangle", "270", "-frames", "4", "-format",
             "png", "-sheet", "3", "-background", "#000000"});
  EXPECT_EQ(run.status, 0) << run.err;
  RgbaImage sheet;
  ASSERT_TRUE(ReadPngFile((job_ + "/sheet.png").c_str(), sheet));
  EXPECT_EQ(sheet.pixels, LayOutSheet(frames, 3).pixels);
  EXPECT_EQ(JobListing(), "sheet.png slime.png sprite.bmp turn_1.png turn_2.png turn_3.png turn_4.png");
}

// PNG frames refuse what BMP frames refuse, with the same causes and statuses.
TEST_F(QuilletProgram, PngFramesRefuseMissingAndOversizedInputs) {
  ProcessResult run = Run({"-in", "missing.png", "-out", "a", "-angle", "10", "-format", "png"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot read \"missing.png\""), std::string::npos) << run.err;

  // A header of 16000 x 16000 pixels and no more: refused before anything is decoded.
  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                   0, 0, 0x3E, 0x80, 0, 0, 0x3E, 0x80, 8, 6, 0, 0, 0};
  const unsigned crc = lodepng_crc32(png.data() + 12, 17);
  for (int shift = 24; shift >= 0; shift -= 8) png.push_back(static_cast<std::uint8_t>(crc >> shift));
  WriteFile(job_ + "/huge.png", png);
  run = Run({"-in", "huge.png", "-out", "a", "-angle", "10", "-format", "png"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("16000 x 16000 pixels, too large"), std::string::npos) << run.err;

  run = Run({"-in", "sprite.bmp", "-out", "big", "-scale", "1e4", "-format", "png"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("over the limit"), std::string::npos) << run.err;

  // A million cells of a 40 x 30 picture: refused from the first frame, not after the last.
  WriteFile(job_ + "/wide.bmp", Bmp24File(SpriteLike(40, 30, 4, 9)));
  run = Run({"-in", "wide.bmp", "-out", "sheet", "-angle", "0", "-endangle", "359", "-frames", "1000000", "-format",
             "png", "-sheet", "1000"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("the sheet would be at least 40000 x 30000 pixels, over the limit of 1024 MiB of 4-byte "
                         "pixels (\"sheet.png\" not written)"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(JobListing(), "huge.png sprite.bmp wide.bmp");
}

// PNG frames from other formats keep the file's transparency: every pixel as the file holds
// it (fully transparent ones as kTransparent), and turned frames as from the same picture in
// a PNG.
TEST_F(QuilletProgram, PngFramesKeepTheTransparencyOfOtherFormats) {
  for (const AlphaFile& file : kAlphaFiles) {
    const std::vector<AlphaPixel> expected = AlphaSprite(file.halfAlpha);
    fs::copy_file(std::string(QUILLET_ALPHA_DIR) + "/" + file.name, job_ + "/" + file.name);
    RgbaImage same = BlankImage(5, 4);
    for (std::size_t k = 0; k < expected.size(); ++k)
      same.pixels[k] = PackRgba(expected[k].r, expected[k].g, expected[k].b, expected[k].a);
    WritePng(job_ + "/same.png", same);

    ProcessResult run = Run({"-in", file.name, "-out", "upright", "-angle", "0", "-format", "png"});
    ASSERT_EQ(run.status, 0) << file.name << run.err;
    RgbaImage frame;
    ASSERT_TRUE(ReadPngFile((job_ + "/upright.png").c_str(), frame)) << file.name;
    std::vector<AlphaPixel> got;
    for (const Rgba v : frame.pixels)
      got.push_back({static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
                     static_cast<std::uint8_t>(v >> 24)});
    EXPECT_EQ(frame.width, 5) << file.name;
    EXPECT_TRUE(got == expected) << file.name;

    run = Run({"-in", file.name, "-out", "turned", "-angle", "30", "-format", "png"});
    ASSERT_EQ(run.status, 0) << file.name << run.err;
    run = Run({"-in", "same.png", "-out", "reference", "-angle", "30", "-format", "png"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Output("turned.png"), Output("reference.png")) << file.name;
    for (const char* name : {"upright.png", "turned.png", "reference.png", "same.png", file.name})
      fs::remove(job_ + "/" + name);
  }
  EXPECT_EQ(JobListing(), "sprite.bmp");
}

// An input that can be read only once (a pipe) is read once, into a private copy, in either
// format; the frames are those of the same file, and the copy goes with the job.
TEST_F(QuilletProgram, APipeInputIsReadOnce) {
  const std::string gif = std::string(QUILLET_ALPHA_DIR) + "/sprite.gif";
  RgbaImage slime;
  ASSERT_TRUE(ReadPngFile(SAMPLES_DIR "/slime.png", slime));
  WritePng(job_ + "/slime.png", slime);
  const struct {
    std::string file;
    std::vector<std::string> format;
    const char* output;
  } cases[] = {{job_ + "/slime.png", {}, ".bmp"}, {gif, {"-format", "png"}, ".png"}};
  for (const auto& c : cases) {
    std::vector<std::string> args = {"-in", c.file, "-out", "direct", "-angle", "30"};
    args.insert(args.end(), c.format.begin(), c.format.end());
    ProcessResult run = Run(args);
    ASSERT_EQ(run.status, 0) << run.err;

    ASSERT_EQ(mkfifo((job_ + "/pipe").c_str(), 0600), 0);
    std::FILE* writer = popen(("cat '" + c.file + "' > '" + job_ + "/pipe'").c_str(), "r");
    ASSERT_NE(writer, nullptr);
    args[1] = "pipe";
    args[3] = "piped";
    run = Run(args);
    pclose(writer);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Output(std::string("piped") + c.output), Output(std::string("direct") + c.output)) << c.file;
    EXPECT_EQ(TempListing(), "");
    for (const std::string& name : {std::string("pipe"), std::string("direct") + c.output, std::string("piped") + c.output})
      fs::remove(job_ + "/" + name);
  }
}

// A PNG whose header chunk is refused (another chunk first, a wrong check value, a size too
// large) is not read past it: a file of 200 MiB gets the answer its header alone gets, in an
// address space smaller than the file.
TEST_F(QuilletProgram, PngInputsAreNotReadPastARefusedHeader) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "address-space limits do not combine with AddressSanitizer";
#endif
  auto header = [](const char* type, unsigned side) {
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13,
                                     static_cast<std::uint8_t>(type[0]), static_cast<std::uint8_t>(type[1]),
                                     static_cast<std::uint8_t>(type[2]), static_cast<std::uint8_t>(type[3]),
                                     0, 0, static_cast<std::uint8_t>(side >> 8), static_cast<std::uint8_t>(side),
                                     0, 0, static_cast<std::uint8_t>(side >> 8), static_cast<std::uint8_t>(side),
                                     8, 6, 0, 0, 0};
    const unsigned crc = lodepng_crc32(png.data() + 12, 17);
    for (int shift = 24; shift >= 0; shift -= 8) png.push_back(static_cast<std::uint8_t>(crc >> shift));
    return png;
  };
  std::vector<std::uint8_t> badCrc = header("IHDR", 4);
  badCrc.back() ^= 1;
  const std::vector<std::uint8_t> headers[] = {header("tEXt", 4), badCrc, header("IHDR", 16000)};
  for (const auto& png : headers) {
    WriteFile(job_ + "/head.png", png);
    const ProcessResult alone = Run({"-in", "head.png", "-out", "a", "-angle", "10", "-format", "png"});
    EXPECT_EQ(alone.status, 1) << alone.err;
    fs::resize_file(job_ + "/head.png", std::uintmax_t{200} << 20);  // sparse: no room taken on the disk
    Command command = Quillet({"-in", "head.png", "-out", "a", "-angle", "10", "-format", "png"});
    command.launcher = {"prlimit", "--as=" + std::to_string(std::uint64_t{160} << 20)};
    const ProcessResult run = RunProcess(command);
    EXPECT_EQ(run.status, alone.status) << run.err;
    EXPECT_EQ(run.err, alone.err);
  }
  EXPECT_EQ(JobListing(), "head.png sprite.bmp");
}

TEST_F(QuilletProgram, BadFormatSheetBackgroundOrDataIsRefused) {
  const std::vector<std::vector<std::string>> refused = {
      {"-format", "jpeg"}, {"-format", "png", "-sheet", "0"}, {"-format", "png", "-sheet", "2x"},
      {"-sheet", "4"},     {"-background", "red"},            {"-background", "#ff00f"},
      {"-background", "#ff00fg"}, {"-format", "png", "-data", "xml"}, {"-format", "png", "-fps", "0"},
      {"-format", "png", "-fps", "1e9"}, {"-data", "json"}, {"-fps", "5"},
      {"-format", "png", "-data", "godot", "-endangle", "90", "-frames", "100001"}};
  const std::vector<std::string> messages = {"-format takes bmp or png, not \"jpeg\"", "-sheet takes", "-sheet takes",
                                             "-sheet needs -format png", "-background takes a colour as #rrggbb",
                                             "not \"#ff00f\"", "not \"#ff00fg\"",
                                             "quillet: -data takes json or godot, not \"xml\"\n",
                                             "quillet: -fps takes frames per second above 0 and up to 1000, not \"0\"\n",
                                             "not \"1e9\"", "quillet: -data needs -format png\n",
                                             "quillet: -fps needs -format png\n",
                                             "quillet: -data describes at most 100000 frames, not the 100001 of -frames\n"};
  for (std::size_t k = 0; k < refused.size(); ++k) {
    std::vector<std::string> args = {"-in", "sprite.bmp", "-out", "out", "-angle", "10"};
    args.insert(args.end(), refused[k].begin(), refused[k].end());
    const ProcessResult run = Run(args);
    EXPECT_EQ(run.status, 2) << k;
    EXPECT_NE(run.err.find(messages[k]), std::string::npos) << run.err;
  }
  EXPECT_EQ(JobListing(), "sprite.bmp");
}

TEST_F(QuilletProgram, FailedOneShotJobSaysWhatAndEndsNonZero) {
  ProcessResult run = Run({"-in", "missing.png", "-out", "a.bmp", "-angle", "10"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot read \"missing.png\": No such file or directory"), std::string::npos) << run.err;
  EXPECT_EQ(Count(run.err, "Generating"), 0) << run.err;  // no frame is announced without a picture

  WriteFile(job_ + "/text.png", {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'});
  run = Run({"-in", "text.png", "-out", "a.bmp", "-angle", "10"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("could not read \"text.png\""), std::string::npos) << run.err;

  run = Run({"-in", std::string(kPathChars, 'n') + ".bmp", "-out", "a.bmp", "-angle", "10"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("-in has 264 characters; at most 259 fit"), std::string::npos) << run.err;
  EXPECT_EQ(JobListing(), "sprite.bmp text.png");
}

// A command line that runs once is refused before any work, or warned about, in one line on
// standard error; -quiet leaves that line alone there. A lenient value keeps its effect.
TEST_F(QuilletProgram, OneShotLinesEndWithTheirStatusAndOneLine) {
  fs::create_directory(job_ + "/folder");
  fs::create_directory(job_ + "/f.json");
  fs::create_directory(job_ + "/locked");
  fs::permissions(job_ + "/locked", fs::perms::owner_read | fs::perms::owner_exec);
  struct Case {
    std::vector<std::string> args;  // after -in sprite.bmp and -quiet
    int status;
    std::string line;
  };
  std::vector<Case> cases = {
      {{"-out", "s", "-angle", "30", "-fromat", "png"}, 2,
       "quillet: \"-fromat\" is not an option (see quillet -help); nothing was done"},
      {{"-out", "folder/", "-angle", "30"}, 2,
       "quillet: -out \"folder/\" ends in a separator; give the name of a file, such as \"folder/sprite\""},
      {{"-out", "folder", "-angle", "30"}, 2,
       "quillet: -out \"folder\" is a folder; give the name of a file, such as \"folder/sprite\""},
      {{"-out", "none/sheet", "-angle", "0", "-endangle", "90", "-frames", "3", "-format", "png", "-sheet", "2"}, 3,
       "quillet: cannot write into the output folder \"none\": No such file or directory"},
      {{"-out", "sprite.bmp/a", "-scale", "2"}, 3,
       "quillet: cannot write into the output folder \"sprite.bmp\": Not a directory"},
      {{"-out", "a", "-angle", "30deg"}, 0, "quillet: warning: -angle \"30deg\" has text after its number; 30 is used"},
      {{"-out", "b", "-angle", "5", "-scale", "0"}, 0, "quillet: warning: -scale \"0\" is 0 or below; 1 is used"},
      {{"-out", "c", "-endscale", "x", "-angle", "5", "-frames", "2"}, 0,
       "quillet: warning: -endscale \"x\" is not a number; 1 is used"},
      {{"-out", "d", "-angle", "5", "-endangle", "9", "-frames", "-3"}, 0,
       "quillet: warning: -frames \"-3\" is below 1 (one frame is made); 1 is used"},
      {{"-out", "e.PNG", "-angle", "5"}, 0,
       "quillet: hint: -out \"e.PNG\" ends in .png, but the frames are BMP files; -format png writes PNG"},
      // The data file goes last: its failure is the job's, though the frames are there.
      {{"-out", "f", "-angle", "5", "-format", "png", "-data", "json"}, 3,
       "quillet: could not write \"f.json\": Is a directory (the frames were written)"},
  };
  // Permissions do not bind the superuser.
  if (geteuid() != 0)
    cases.push_back({{"-out", "locked/f", "-angle", "5"}, 3,
                     "quillet: cannot write into the output folder \"locked\": Permission denied"});
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-in", "sprite.bmp", "-quiet"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProcessResult run = Run(args);
    EXPECT_EQ(run.status, c.status) << c.line << "\n" << run.err;
    EXPECT_EQ(run.err, c.line + "\n");
  }
  const std::vector<std::uint8_t> at5 = Expected("sprite.bmp", 5, 5, 1, 1, 1)[0];
  EXPECT_EQ(Output("b.bmp"), at5);
  EXPECT_EQ(Output("d.bmp"), at5);
  EXPECT_EQ(Output("e.PNG.bmp"), at5);
  EXPECT_EQ(JobListing(), "a.bmp b.bmp c_1.bmp c_2.bmp d.bmp e.PNG.bmp f.json f.png folder locked sprite.bmp");
  EXPECT_TRUE(fs::is_empty(job_ + "/folder"));
  EXPECT_EQ(TempListing(), "");
}

// SIGINT, from a terminal's Ctrl-C or a script's kill, ends a job run once with 130, which no
// success gives; in interactive use it is the Cancel, 0. Either way no temporary or
// half-written file stays, and the frames written so far do.
TEST_F(QuilletProgram, InterruptedOneShotJobEnds130AndLeavesNoLitter) {
  const std::vector<std::string> series = {"-in", "sprite.bmp", "-out", "long", "-angle", "0", "-endangle", "360"};
  for (const bool oneShot : {true, false}) {
    std::vector<std::string> args = series;
    if (oneShot) args.insert(args.end(), {"-frames", "9999"});
    // The parameter form: angle and scale kept, 9999 frames, end values kept, run.
    Process process = pixeltools::testing::Start(Quillet(args, oneShot ? "" : "\n\n9999\n\n\nrun\n"));
    if (!oneShot) {  // the answers go now, not once the program is being waited for
      ASSERT_EQ(write(process.input.id, process.pending.data(), process.pending.size()),
                static_cast<ssize_t>(process.pending.size()));
      process.written = process.pending.size();
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
    while (!Exists(job_ + "/long_0003.bmp") && Clock::now() < deadline) usleep(2000);
    ASSERT_TRUE(Exists(job_ + "/long_0003.bmp"));
    ASSERT_EQ(kill(process.child.id, SIGINT), 0);
    const ProcessResult run = pixeltools::testing::Finish(process);
    EXPECT_EQ(run.status, oneShot ? kExitInterrupted : kExitSuccess) << pixeltools::testing::Describe(run);
    EXPECT_FALSE(Exists(job_ + "/long_9999.bmp"));
    EXPECT_EQ(TempListing(), "");
    for (const auto& entry : fs::directory_iterator(job_)) {
      const std::string name = entry.path().filename().string();
      if (name == "sprite.bmp") continue;
      EXPECT_TRUE(name.size() == 13 && name.rfind("long_", 0) == 0 && name.ends_with(".bmp")) << name;
      fs::remove(entry.path());
    }
  }
}

// End of input in a chooser is its cancel; the dialogs shown depend on what the line gave.
TEST_F(QuilletProgram, ChoosersAskOnlyForMissingNames) {
  // Standard input that is not a terminal and ends before a job ran is no user's choice.
  ProcessResult run = Run({"-out", "b.bmp", "-angle", "10"});
  EXPECT_EQ(run.status, kExitInputEnded);
  EXPECT_NE(run.err.find("standard input ended before \"Choose Input Image File\" was answered; no job was run"),
            std::string::npos) << run.err;
  EXPECT_EQ(Count(run.err, "\nChoose Input Image File\n"), 1) << run.err;
  EXPECT_EQ(Count(run.err, "\nChoose"), 1) << run.err;

  // Cancelling the save chooser ends the program when the input came from the line...
  run = Run({"-in", "sprite.bmp", "-angle", "10"});
  EXPECT_EQ(run.status, kExitInputEnded);
  EXPECT_EQ(Count(run.err, "Choose Output Bitmap Filename\n"), 1) << run.err;
  EXPECT_NE(run.err.find("File name [output.bmp]: \n"), std::string::npos) << run.err;
  EXPECT_EQ(Count(run.err, "\nChoose"), 1) << run.err;

  // ...and goes back to the open chooser when the input was chosen.
  run = Run({}, "nothing.bmp\nsprite\n");
  EXPECT_EQ(run.status, kExitInputEnded);
  EXPECT_NE(run.err.find("before \"Choose Output Bitmap Filename\" was answered"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("File name [input.bmp]: "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(job_ + "/nothing.bmp\nFile not found."), std::string::npos) << run.err;
  EXPECT_EQ(Count(run.err, "\nChoose Input Image File\n"), 2) << run.err;
  EXPECT_NE(run.err.find("File name [" + job_ + "/sprite.bmp]: \n"), std::string::npos) << run.err;
  EXPECT_EQ(JobListing(), "sprite.bmp");
}

// Two jobs from an empty line: the second starts from the first one's choices.
TEST_F(QuilletProgram, InteractiveSessionCarriesChoicesToTheNextJob) {
  const ProcessResult run = Run({}, "sprite.bmp\nseries\n30\n\n3\n90\n\nrun\n"  // first job
                                 "\n\n\n\n\n\n\n\n");                       // second job, then end of input
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Count(run.err, "Choose Parameters"), 2);
  EXPECT_EQ(Count(run.err, "Choose Input Image File"), 3) << run.err;
  const std::size_t second = run.err.find("Choose Input Image File", run.err.find("quillet - Progress"));
  const std::string first = run.err.substr(0, second);
  for (const char* shown : {"File name [input.bmp]: ", "File name [output.bmp]: ", "Counter-Clockwise) [45.000000]: ",
                            "Scaling (Factor) [1.000000]: ", "Export [1]: ", "Final Angle [135.000000]: "}) {
    EXPECT_NE(first.find(shown), std::string::npos) << shown << "\n" << first;
  }
  const std::string later = run.err.substr(second);
  for (const std::string& shown : {"File name [" + job_ + "/sprite.bmp]: ", "File name [" + job_ + "/series.bmp]: ",
                                  std::string("Counter-Clockwise) [30.000000]: "), std::string("Export [3]: "),
                                  std::string("Final Angle [90.000000]: ")}) {
    EXPECT_NE(later.find(shown), std::string::npos) << shown << "\n" << later;
  }
  EXPECT_EQ(Series("series", 3), Expected("sprite.bmp", 30, 90, 1, 1, 3));
  EXPECT_EQ(JobListing(), "series_1.bmp series_2.bmp series_3.bmp sprite.bmp");
}

TEST_F(QuilletProgram, EndValueWithoutFrameCountAsksForParameters) {
  // One frame: the end fields are shown but skipped, so the fourth line answers Run. Then
  // the program has become interactive, and the next job asks for files again.
  ProcessResult run = Run({"-in", "sprite.bmp", "-out", "asked.bmp", "-angle", "0", "-endangle", "90"}, "\n\n\nrun\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("Final Angle [90.000000] (used with more than 1 frame)\n"), std::string::npos) << run.err;
  EXPECT_EQ(Output("asked.bmp"), Expected("sprite.bmp", 0, 90, 1, 1, 1)[0]);
  EXPECT_EQ(Count(run.err, "Choose Input Image File"), 1) << run.err;

  // The later job's first token "-angle" has no value: the angle stays as entered, the end
  // angle follows it, and no parameter form is shown again.
  run = Run({"-angle", "20", "-in", "sprite.bmp", "-out", "first.bmp", "-endangle", "90"},
            "25\n\n\nrun\nsprite.bmp\nsecond\nsprite.bmp\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Count(run.err, "Choose Parameters"), 1) << run.err;
  // The third job's save chooser is cancelled, which goes back to the open chooser.
  EXPECT_EQ(Count(run.err, "Choose Input Image File"), 3) << run.err;
  const std::vector<std::uint8_t> at25 = Expected("sprite.bmp", 25, 25, 1, 1, 1)[0];
  EXPECT_EQ(Output("first.bmp"), at25);
  EXPECT_EQ(Output("second.bmp"), at25);

  run = Run({"-in", "sprite.bmp", "-out", "e.bmp", "-scale", "2", "-endscale", "3"}, "\n\n\nquit\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(Exists(job_ + "/e.bmp"));
}

TEST_F(QuilletProgram, TerminalShowsTheBarRedrawnInPlace) {
  const ProcessResult run = RunOnTerminal({"-in", "sprite.bmp", "-out", "s", "-angle", "0", "-endangle", "90",
                                        "-frames", "3"},
                                       60, [](const std::string&, int) {});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("quillet - Progress (Ctrl-C cancels)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\r[" + std::string(40, '#') + "] 100%"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\r[....................................."), std::string::npos) << run.out;
  EXPECT_EQ(Series("s", 3), Expected("sprite.bmp", 0, 90, 1, 1, 3));
}

// Ctrl-D in the save chooser goes back to the open chooser, which must still read the terminal.
TEST_F(QuilletProgram, CancelledSaveChooserAsksForTheInputAgainOnTerminal) {
  int opens = 0, saves = 0;
  const ProcessResult run = RunOnTerminal({}, 30, [&](const std::string& output, int master) {
    const auto count = [&output](const char* text) {
      int n = 0;
      for (size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1)) ++n;
      return n;
    };
    const bool atPrompt = output.size() >= 2 && output.compare(output.size() - 2, 2, ": ") == 0;
    if (!atPrompt) return;
    if (count("Choose Input Image File") > opens) {
      opens = count("Choose Input Image File");
      // First time: choose the sprite; second time: cancel the whole program.
      const char* answer = opens == 1 ? "sprite.bmp\n" : "\x04";
      ASSERT_GT(write(master, answer, std::strlen(answer)), 0);
    } else if (count("Choose Output Bitmap Filename") > saves) {
      saves = count("Choose Output Bitmap Filename");
      ASSERT_EQ(write(master, "\x04", 1), 1);
    }
  });
  EXPECT_FALSE(run.timedOut) << run.out;
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(opens, 2) << run.out;
  EXPECT_EQ(saves, 1) << run.out;
}

TEST_F(QuilletProgram, CtrlCCancelsALongJobAtOnce) {
  bool typed = false;
  Clock::time_point typedAt;
  const ProcessResult run = RunOnTerminal(
      {"-in", "sprite.bmp", "-out", "long", "-angle", "0", "-endangle", "360", "-frames", "9999"}, 120,
      [&](const std::string& output, int master) {
        if (!typed && output.find("long_0003.bmp") != std::string::npos) {
          typed = true;
          typedAt = Clock::now();
          ASSERT_EQ(write(master, "\x03", 1), 1);
        }
      });
  ASSERT_TRUE(typed) << run.out;
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.status, kExitInterrupted) << run.out;
  EXPECT_LT(Clock::now() - typedAt, std::chrono::seconds(10));
  EXPECT_FALSE(Exists(job_ + "/long_9999.bmp"));
  EXPECT_TRUE(Exists(job_ + "/long_0001.bmp"));
}


// A mistyped option leaves the parameters open; answers that run out end non-zero, answers
// that come through the pipe still run the job, and values that are no numbers are refused.
TEST_F(QuilletProgram, UnfinishedOrImpossibleRequestsEndNonZero) {
  ProcessResult run = Run({"-in", "sprite.bmp", "-out", "typo", "-angel", "30"});
  EXPECT_EQ(run.status, kExitInputEnded) << run.err;
  EXPECT_NE(run.err.find("unknown commandline arg \"-angel\""), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("before \"Choose Parameters\" was answered"), std::string::npos) << run.err;

  run = Run({"-in", "sprite.bmp", "-out", "typo", "-angel", "30"}, "30\n\n\nrun\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Output("typo.bmp"), Expected("sprite.bmp", 30, 30, 1, 1, 1)[0]);

  for (const char* angle : {"1e999", "-1e400"}) {
    run = Run({"-in", "sprite.bmp", "-out", "inf", "-angle", angle});
    EXPECT_EQ(run.status, kExitBadCommandLine) << angle;
    EXPECT_NE(run.err.find("quillet: angle must be a finite number"), std::string::npos) << run.err;
  }
  run = Run({"-in", "sprite.bmp", "-out", "inf", "-angle", "0", "-endscale", "1e999", "-frames", "2"});
  EXPECT_EQ(run.status, kExitBadCommandLine);
  EXPECT_NE(run.err.find("quillet: scale must be a finite number"), std::string::npos) << run.err;

  // 12 x 10 at scale 1e6 would be 12000000 x 10000000 output pixels.
  run = Run({"-in", "sprite.bmp", "-out", "huge", "-angle", "0", "-scale", "1e6"});
  EXPECT_EQ(run.status, kExitBadCommandLine) << run.err;
  EXPECT_NE(run.err.find("the output would be 12000000 x 10000000 pixels, over the limit of 1024 MiB"),
            std::string::npos) << run.err;
  EXPECT_EQ(JobListing(), "sprite.bmp typo.bmp");
}

// Inputs that are no picture, or too large a one, are refused from their first bytes or their
// header, at once, with the reason.
TEST_F(QuilletProgram, RefusedInputsSayWhy) {
  struct Case {
    std::string input;
    const char* reason;
  };
  std::vector<std::uint8_t> cut = Bmp24File(sprite_);
  cut.resize(cut.size() - 40);
  WriteFile(job_ + "/cut.bmp", cut);
  std::vector<std::uint8_t> large = Bmp24File(sprite_);
  WriteLe32(large.data() + 18, 3000);  // 3000 x 3000: its enlargement would need 1.6 GB
  WriteLe32(large.data() + 22, 3000);
  WriteFile(job_ + "/large.bmp", large);
  fs::create_directory(job_ + "/folder");
  const Case cases[] = {
      {"/dev/zero", "could not read \"/dev/zero\" as an image: not an image file that can be read: the imaging "
                    "library does not recognise its format"},
      {"/dev/zero", "MagickWand reads PNG, JPEG, GIF, BMP, TIFF, WebP, TGA, ICO, PCX, XPM"},
      {"cut.bmp", "could not read \"cut.bmp\" as an image: the file ends before its image does"},
      {"large.bmp", "\"large.bmp\" is 3000 x 3000 pixels, too large: its eight-times enlargement would need 1648 MiB"},
      {"folder", "cannot read \"folder\": Is a directory"},
  };
  for (const Case& c : cases) {
    const Clock::time_point start = Clock::now();
    const ProcessResult run = Run({"-in", c.input, "-out", "o", "-angle", "5"});
    EXPECT_EQ(run.status, kExitInputUnreadable) << c.input;
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20)) << c.input;
  }
  EXPECT_FALSE(Exists(job_ + "/o.bmp"));
}

// Threads that cannot start leave the work to fewer; memory that runs out ends the job with a
// message and its own status. (Address-space limits do not combine with the sanitizers.)
TEST_F(QuilletProgram, ExhaustedResourcesEndWithAMessage) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "address-space limits do not combine with AddressSanitizer";
#endif
  const Picture big = SpriteLike(160, 140, 6, 11);
  WriteFile(job_ + "/big.bmp", Bmp24File(big));
  const std::vector<std::uint8_t> expected = Expected("big.bmp", 30, 30, 1, 1, 1)[0];
  // Each thread's stack would take 8 GiB of a 4 GiB address space: none can start.
  Command command = Quillet({"-in", "big.bmp", "-out", "alone", "-angle", "30"});
  command.launcher = {"prlimit", "--stack=8589934592", "--as=4294967296"};
  ProcessResult run = RunProcess(command);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Output("alone.bmp"), expected);

  // The eight-times enlargement (8000 x 7200, 172 MB) alone needs more than this address space,
  // on the machine's threads or on eight: whichever thread meets the end of memory, the job
  // ends with its message and status, and leaves nothing behind.
  const Picture larger = SpriteLike(1000, 900, 6, 12);
  WriteFile(job_ + "/larger.bmp", Bmp24File(larger));
  const std::pair<const char*, const char*> cases[] = {
      {"", "-format bmp"}, {"8", "-format bmp"}, {"8", "-format png"}, {"8", "-background #102030"}};
  for (const auto& [threads, option] : cases) {
    SCOPED_TRACE(std::string(option) + " on threads " + threads);
    const std::string text = option;
    const std::size_t blank = text.find(' ');
    command = Quillet({"-in", "larger.bmp", "-out", "starved", "-angle", "30", text.substr(0, blank),
                       text.substr(blank + 1)});
    command.launcher = {"prlimit", "--as=" + std::to_string(std::uint64_t{160} << 20)};
    if (threads[0]) command.environment = {std::string("QUILLET_THREADS=") + threads};
    run = RunProcess(command);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, kExitOutOfMemory) << run.err;
    EXPECT_NE(run.err.find("quillet: memory ran out"), std::string::npos) << run.err;
    EXPECT_EQ(JobListing(), "alone.bmp big.bmp larger.bmp sprite.bmp");
    EXPECT_EQ(TempListing(), "");
  }
}

}  // namespace
}  // namespace quillet::testing
