// Runs the mostel program as a user or a script would and checks what it prints, the files it
// leaves and its exit status.
#include <gtest/gtest.h>
#include <lodepng.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "edge_scale.h"
#include "process.h"

namespace fs = std::filesystem;

namespace mostel {
namespace {

using pixeltools::testing::Command;
using RunResult = pixeltools::testing::ProcessResult;

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class MostelProgram : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("mostel_cli_" + std::to_string(getpid()) + "_" +
                                        testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The program with nothing on standard input, behind the launcher given (prlimit and its options).
  RunResult Mostel(const std::vector<std::string>& args, const std::vector<std::string>& launcher = {}) {
    Command command;
    command.launcher = launcher;
    command.argv = {MOSTEL_PROGRAM};
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    return RunProcess(command);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // The names in the test's folder, sorted, hidden ones included.
  std::string Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string all;
    for (const std::string& name : names) all += (all.empty() ? "" : " ") + name;
    return all;
  }

  fs::path dir_;
};

const char kUsage[] = "Usage: mostel <input png 32bit> <output png 32bit>\n*** Programmed by Oberin. ***\n";

// Any count of names but two gets the usage text and status 2, and nothing is read or
// written: three or more are most often a shell pattern, which would have overwritten the
// second file with the first one's enlargement; they also get a hint on standard error.
TEST_F(MostelProgram, TakesExactlyTwoNames) {
  const unsigned char pixel[4] = {10, 20, 30, 40};
  ASSERT_EQ(lodepng_encode32_file(Path("a.png").c_str(), pixel, 1, 1), 0u);
  ASSERT_EQ(lodepng_encode32_file(Path("b.png").c_str(), pixel + 1, 1, 1), 0u);
  const std::string a = ReadText(Path("a.png")), b = ReadText(Path("b.png"));
  const std::vector<std::string> cases[] = {
      {}, {Path("a.png")}, {Path("a.png"), Path("b.png"), Path("c.png")}, {Path("a.png"), Path("b.png"), "x", "y"}};
  for (const auto& args : cases) {
    const RunResult r = Mostel(args);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.status, 2) << args.size();
    if (args.size() > 2) {
      EXPECT_EQ(r.err.rfind("mostel: " + std::to_string(args.size()) + " names given", 0), 0u) << r.err;
      EXPECT_NE(r.err.find("one file per run"), std::string::npos) << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    } else {
      EXPECT_EQ(r.err, "");
    }
    EXPECT_EQ(ReadText(Path("a.png")), a);
    EXPECT_EQ(ReadText(Path("b.png")), b);
    EXPECT_FALSE(fs::exists(Path("c.png")));
  }
}

// A first argument that asks about the program is answered on standard output, whatever
// follows it; nothing is read or written, and an answer that cannot be written is a failure.
TEST_F(MostelProgram, AnswersHelpAndVersionInsteadOfRunning) {
  const std::string in = std::string(SAMPLES_DIR) + "/slime.png";
  for (const char* ask : {"--help", "-h"}) {
    for (const auto& rest : {std::vector<std::string>{}, std::vector<std::string>{in, Path("out.png")}}) {
      std::vector<std::string> args{ask};
      args.insert(args.end(), rest.begin(), rest.end());
      const RunResult r = Mostel(args);
      EXPECT_EQ(r.status, 0) << ask;
      EXPECT_EQ(r.out.rfind("Usage: mostel INPUT.png OUTPUT.png\n", 0), 0u) << r.out;
      EXPECT_NE(r.out.find("--version"), std::string::npos);
      EXPECT_EQ(r.err, "");
      EXPECT_FALSE(fs::exists(Path("out.png")));
    }
  }
  const RunResult version = Mostel({"--version", in, Path("out.png")});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "mostel " PIXELTOOLS_VERSION "\n");
  EXPECT_FALSE(fs::exists(Path("out.png")));

  // Only the whole word asks: a longer one is an input name like any other.
  EXPECT_EQ(Mostel({"--helpful"}).out, kUsage);
  EXPECT_EQ(Mostel({"--help=x", Path("out.png")}).out, "File not found: --help=x\n");

  for (const char* ask : {"--help", "--version"}) {
    Command command;
    command.argv = {MOSTEL_PROGRAM, ask};
    command.outputFile = "/dev/full";
    const RunResult r = RunProcess(command);
    EXPECT_EQ(r.signal, 0) << ask;
    EXPECT_FALSE(r.timedOut) << ask;
    EXPECT_NE(r.status, 0) << ask;
  }
}

TEST_F(MostelProgram, ReportsMissingInput) {
  const RunResult r = Mostel({Path("missing.png"), Path("out.png")});
  EXPECT_EQ(r.out, "File not found: " + Path("missing.png") + "\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(fs::exists(Path("out.png")));
}

TEST_F(MostelProgram, ScalesOnePixel) {
  const unsigned char pixel[4] = {10, 20, 30, 40};
  ASSERT_EQ(lodepng_encode32_file(Path("one.png").c_str(), pixel, 1, 1), 0u);
  const RunResult r = Mostel({Path("one.png"), Path("out.png")});
  EXPECT_EQ(r.out, "Success!\n    0 filtered pixels.\n");
  EXPECT_EQ(r.status, 0);
  unsigned char* image = nullptr;
  unsigned w = 0, h = 0;
  ASSERT_EQ(lodepng_decode32_file(&image, &w, &h, Path("out.png").c_str()), 0u);
  ASSERT_EQ(w, 3u);
  ASSERT_EQ(h, 3u);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(0, std::memcmp(image + 4 * i, pixel, 4)) << i;
  std::free(image);
}

TEST_F(MostelProgram, FailsWhenOutputCannotBeWritten) {
  const std::string in = std::string(SAMPLES_DIR) + "/slime.png";
  for (const std::string& out : {Path("no/such/dir/out.png"), std::string("/dev/full")}) {
    const RunResult r = Mostel({in, out});
    EXPECT_EQ(r.out.find("Success!"), std::string::npos) << out << ": " << r.out;
    EXPECT_NE(r.err.find(out), std::string::npos) << r.err;
    EXPECT_EQ(r.status, 3) << out;
  }
  EXPECT_FALSE(fs::exists(Path("no/such/dir/out.png")));
  EXPECT_NE(Mostel({in, "/dev/full"}).err.find("No space left on device"), std::string::npos);

  // A file-size limit stops the file written beside the output (330 bytes): a new output does
  // not appear, an old one keeps its contents, and nothing is left beside either. (The limit
  // holds for the files that keep what the program prints too.)
  std::ofstream(Path("old.png")) << "old contents";
  const std::vector<std::string> limited = {"sh", "-c", "trap '' XFSZ && exec prlimit --fsize=300 \"$@\"", "sh"};
  for (const char* name : {"new.png", "old.png"}) {
    const RunResult r = Mostel({in, Path(name)}, limited);
    EXPECT_EQ(r.out, "") << name;
    EXPECT_EQ(r.err, "ERR: could not write " + Path(name) + ": File too large\n") << name;
    EXPECT_EQ(r.status, 3) << name;
  }
  EXPECT_FALSE(fs::exists(Path("new.png")));
  EXPECT_EQ(ReadText(Path("old.png")), "old contents");
  EXPECT_EQ(Listing(), "old.png");
}

// A regular output is replaced whole and keeps its mode; a link is followed and stays a
// link; a pipe is written in place; no file is left beside any of them.
TEST_F(MostelProgram, OutputsAreReplacedWholeOrWrittenInPlace) {
  const std::string in = std::string(SAMPLES_DIR) + "/slime.png";
  ASSERT_EQ(Mostel({in, Path("plain.png")}).status, 0);
  const std::string expected = ReadText(Path("plain.png"));
  ASSERT_GT(expected.size(), 100u);

  std::ofstream(Path("old.png")) << "old contents";
  fs::permissions(Path("old.png"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_directory(Path("real"));
  fs::create_symlink("real/target.png", Path("link.png"));  // dangling until written
  fs::create_symlink("real/kept.png", Path("link2.png"));
  std::ofstream(Path("real/kept.png")) << "to be replaced";
  ASSERT_EQ(mkfifo(Path("pipe.png").c_str(), 0600), 0);

  EXPECT_EQ(Mostel({in, Path("old.png")}).status, 0);
  EXPECT_EQ(ReadText(Path("old.png")), expected);
  EXPECT_EQ(fs::status(Path("old.png")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  for (const char* link : {"link.png", "link2.png"}) {
    EXPECT_EQ(Mostel({in, Path(link)}).status, 0) << link;
    EXPECT_TRUE(fs::is_symlink(Path(link))) << link;
    EXPECT_EQ(ReadText(Path(link)), expected) << link;
  }

  Command cat;
  cat.argv = {"cat", Path("pipe.png")};
  pixeltools::testing::Process reader = pixeltools::testing::Start(cat);
  EXPECT_EQ(Mostel({in, Path("pipe.png")}).status, 0);
  const RunResult read = pixeltools::testing::Finish(reader);
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(read.out, expected);
  EXPECT_TRUE(fs::is_fifo(Path("pipe.png")));

  std::string names;
  for (const auto& entry : fs::directory_iterator(dir_)) names += entry.path().filename().string() + " ";
  for (const auto& entry : fs::directory_iterator(Path("real"))) names += entry.path().filename().string() + " ";
  EXPECT_EQ(names.find(".png."), std::string::npos) << names;
}

// A file the user may write in a folder the user may not is written in place; a new file
// there fails. Root writes any folder, so as root the program runs as the nobody user.
TEST_F(MostelProgram, WritesAWritableFileInAFolderItCannotWriteTo) {
  const std::string in = std::string(SAMPLES_DIR) + "/slime.png";
  ASSERT_EQ(Mostel({in, Path("plain.png")}).status, 0);
  fs::create_directory(Path("locked"));
  std::ofstream(Path("locked/out.png")) << "old contents";
  ASSERT_EQ(chmod(Path("locked/out.png").c_str(), 0666), 0);
  ASSERT_EQ(chmod(Path("locked").c_str(), 0555), 0);
  ASSERT_EQ(chmod(dir_.c_str(), 0711), 0);
  std::vector<std::string> asUser;
  if (geteuid() == 0) asUser = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};

  const RunResult written = Mostel({in, Path("locked/out.png")}, asUser);
  EXPECT_EQ(written.status, 0) << written.err;
  EXPECT_EQ(ReadText(Path("locked/out.png")), ReadText(Path("plain.png")));
  const RunResult refused = Mostel({in, Path("locked/new.png")}, asUser);
  EXPECT_EQ(refused.err, "ERR: could not write " + Path("locked/new.png") + ": Permission denied\n");
  EXPECT_EQ(refused.status, 3);
  std::string names;
  for (const auto& entry : fs::directory_iterator(Path("locked"))) names += entry.path().filename().string() + " ";
  EXPECT_EQ(names, "out.png ");
  chmod(Path("locked").c_str(), 0700);
}

// Every corrupt file of the suite, with what the program says of it: the files whose 32 x 32
// header was read get the size message, the others the not-found one. No output appears and
// the status is 1.
TEST_F(MostelProgram, RejectsCorruptFiles) {
  const char kTooBig[] = "Too big images are not supported!\nYour image has 1024 pixels!\n";
  const struct {
    const char* name;
    bool sizeRead;
  } kCorrupt[] = {
      {"xc1n0g08.png", true},  {"xc9n2c08.png", true},  {"xcrn0g04.png", false}, {"xcsn0g01.png", true},
      {"xd0n2c08.png", true},  {"xd3n2c08.png", true},  {"xd9n2c08.png", true},  {"xdtn0g01.png", true},
      {"xhdn0g08.png", true},  {"xlfn0g04.png", false}, {"xs1n0g01.png", false}, {"xs2n0g01.png", false},
      {"xs4n0g01.png", false}, {"xs7n0g01.png", false},
  };
  int listed = 0;
  for (const auto& entry : fs::directory_iterator(PNGSUITE_DIR))
    if (entry.path().filename().string()[0] == 'x') ++listed;
  EXPECT_EQ(listed, static_cast<int>(std::size(kCorrupt)));
  for (const auto& file : kCorrupt) {
    const std::string path = std::string(PNGSUITE_DIR) + "/" + file.name;
    const RunResult r = Mostel({path, Path("out.png")});
    EXPECT_EQ(r.out, file.sizeRead ? std::string(kTooBig) : "File not found: " + path + "\n") << file.name;
    // The decoder's own reason goes beside the fixed text once it read a size; before, a
    // file whose first bytes are not a PNG's is named as such.
    const std::string prefix = "mostel: " + path + ": ";
    if (file.sizeRead) {
      unsigned char* image = nullptr;
      unsigned w = 0, h = 0;
      const unsigned error = lodepng_decode32_file(&image, &w, &h, path.c_str());
      std::free(image);
      EXPECT_EQ(r.err, prefix + lodepng_error_text(error) + "\n") << file.name;
    } else {
      EXPECT_EQ(r.err.rfind(prefix, 0), 0u) << r.err;
      EXPECT_GT(r.err.size(), prefix.size() + 5) << r.err;
    }
    EXPECT_EQ(r.status, 1) << file.name;
    EXPECT_FALSE(fs::exists(Path("out.png"))) << file.name;
  }
}

// Every valid file of the suite, in every colour type and depth, comes out three times as large
// and equal to the scaler's own result on the decoded pixels.
TEST_F(MostelProgram, ScalesEveryValidSuiteFile) {
  int seen = 0;
  for (const auto& entry : fs::directory_iterator(PNGSUITE_DIR)) {
    const std::string name = entry.path().filename().string();
    if (name[0] == 'x' || entry.path().extension() != ".png") continue;
    unsigned char* src = nullptr;
    unsigned w = 0, h = 0;
    ASSERT_EQ(lodepng_decode32_file(&src, &w, &h, entry.path().c_str()), 0u) << name;
    std::vector<uint32_t> expected(size_t{w} * h * 9);
    const ScalerJob job = {reinterpret_cast<const uint32_t*>(src), 2 * w, w, h, expected.data(), 6 * w, 3 * w, 3 * h};
    ScalerCounts counts;
    ASSERT_TRUE(EdgeScaleBlocks(job, 1, &counts));
    std::free(src);

    const RunResult r = Mostel({entry.path().string(), Path("out.png")});
    char summary[64];
    std::snprintf(summary, sizeof summary, "Success!\n%5u filtered pixels.\n", counts.Filtered());
    EXPECT_EQ(r.out, summary) << name;
    EXPECT_EQ(r.status, 0) << name;
    unsigned char* out = nullptr;
    unsigned ow = 0, oh = 0;
    ASSERT_EQ(lodepng_decode32_file(&out, &ow, &oh, Path("out.png").c_str()), 0u) << name;
    EXPECT_EQ(ow, 3 * w);
    EXPECT_EQ(oh, 3 * h);
    EXPECT_EQ(0, std::memcmp(out, expected.data(), expected.size() * 4)) << name;
    std::free(out);
    fs::remove(Path("out.png"));
    ++seen;
  }
  EXPECT_GE(seen, 150);
}

// A PNG signature and an IHDR chunk of the given size, then an IDAT of nothing useful.
std::vector<unsigned char> PngHeader(unsigned width, unsigned height) {
  std::vector<unsigned char> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  const unsigned char ihdr[13] = {static_cast<unsigned char>(width >> 24), static_cast<unsigned char>(width >> 16),
                                  static_cast<unsigned char>(width >> 8),  static_cast<unsigned char>(width),
                                  static_cast<unsigned char>(height >> 24), static_cast<unsigned char>(height >> 16),
                                  static_cast<unsigned char>(height >> 8), static_cast<unsigned char>(height),
                                  1, 0, 0, 0, 0};
  unsigned char* out = nullptr;
  size_t size = 0;
  EXPECT_EQ(lodepng_chunk_create(&out, &size, sizeof ihdr, "IHDR", ihdr), 0u);
  EXPECT_EQ(lodepng_chunk_create(&out, &size, 1, "IDAT", ihdr), 0u);
  EXPECT_EQ(lodepng_chunk_create(&out, &size, 0, "IEND", ihdr), 0u);
  file.insert(file.end(), out, out + size);
  std::free(out);
  return file;
}

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

// Files that are not PNGs at all: the fixed text, and the real cause on standard error.
TEST_F(MostelProgram, NamesTheCauseOfUnreadableInputs) {
  WriteBytes(Path("photo.jpg"), {0xff, 0xd8, 0xff, 0xe0, 0, 16, 'J', 'F', 'I', 'F'});
  fs::create_directory(Path("folder"));
  const std::pair<std::string, std::string> cases[] = {
      {Path("missing.png"), "No such file or directory"},
      {Path("photo.jpg"), "not a PNG file"},
      {Path("folder"), "Is a directory"},
      {"/dev/zero", "not a PNG file"},
  };
  for (const auto& [input, reason] : cases) {
    const RunResult r = Mostel({input, Path("out.png")});
    EXPECT_EQ(r.out, "File not found: " + input + "\n");
    EXPECT_EQ(r.err, "mostel: " + input + ": " + reason + "\n");
    EXPECT_EQ(r.status, 1);
  }
  EXPECT_FALSE(fs::exists(Path("out.png")));
}

// Sizes past the limit are refused from the header alone, counted without wrapping.
TEST_F(MostelProgram, RefusesHugeHeadersBeforeDecoding) {
  const std::pair<unsigned, unsigned> sizes[] = {{65536, 65536}, {65535, 65535}, {16000, 16000}, {8193, 8192}};
  for (const auto& [w, h] : sizes) {
    WriteBytes(Path("huge.png"), PngHeader(w, h));
    const RunResult r = Mostel({Path("huge.png"), Path("out.png")});
    const unsigned long long pixels = 1ull * w * h;
    EXPECT_EQ(r.out, "Too big images are not supported!\nYour image has " + std::to_string(pixels) + " pixels!\n");
    EXPECT_NE(r.err.find("over the limit of 67108864 (8192 x 8192)"), std::string::npos) << r.err;
    EXPECT_EQ(r.status, 1);
  }
  // At the limit the header passes and the decoder gives the reason.
  WriteBytes(Path("edge.png"), PngHeader(8192, 8192));
  const RunResult r = Mostel({Path("edge.png"), Path("out.png")});
  EXPECT_EQ(r.out, "Too big images are not supported!\nYour image has 67108864 pixels!\n");
  EXPECT_EQ(r.err.find("over the limit"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Path("out.png")));
}

// A file whose header chunk is refused is not read past it: the same lines and status as for
// the header alone come within an address space far smaller than the file, and a file over the
// size limit is still refused as such first.
TEST_F(MostelProgram, StopsReadingAtARefusedHeader) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "address-space limits do not combine with AddressSanitizer";
#endif
  std::vector<unsigned char> notHeader = PngHeader(4, 4), badCrc = PngHeader(4, 4);
  std::memcpy(notHeader.data() + 12, "tEXt", 4);
  badCrc[29] ^= 1;
  const std::vector<unsigned char> headers[] = {notHeader, badCrc, PngHeader(16000, 16000)};
  const std::vector<std::string> limit = {"prlimit", "--as=" + std::to_string(256u << 20)};
  for (const auto& header : headers) {
    const std::string path = Path("sparse.png");
    WriteBytes(path, header);
    const RunResult alone = Mostel({path, Path("out.png")});
    EXPECT_EQ(alone.status, 1) << alone.err;
    fs::resize_file(path, std::uintmax_t{512} << 20);  // sparse: takes no room on the disk
    const RunResult r = Mostel({path, Path("out.png")}, limit);
    EXPECT_EQ(r.out, alone.out);
    EXPECT_EQ(r.err, alone.err);
    EXPECT_EQ(r.status, 1);
    fs::resize_file(path, (std::uintmax_t{1} << 30) + 1);
    const RunResult over = Mostel({path, Path("out.png")}, limit);
    EXPECT_EQ(over.out, "File not found: " + path + "\n");
    EXPECT_EQ(over.err, "mostel: " + path + ": the file is larger than 1073741824 bytes\n");
    EXPECT_EQ(over.status, 1);
  }
  EXPECT_FALSE(fs::exists(Path("out.png")));
}

// Threads that cannot start leave the work to the others; memory that runs out ends the run
// with the fixed message and status 255, never an abort.
TEST_F(MostelProgram, SurvivesExhaustedResources) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "address-space limits do not combine with AddressSanitizer";
#endif
  std::vector<unsigned char> noise(600 * 600 * 4);
  uint32_t state = 7;
  for (unsigned char& byte : noise) {
    state = state * 1103515245u + 12345u;
    byte = (state >> 16) & 0x80 ? 255 : 0;
  }
  ASSERT_EQ(lodepng_encode32_file(Path("noise.png").c_str(), noise.data(), 600, 600), 0u);
  const RunResult plain = Mostel({Path("noise.png"), Path("plain.png")});
  ASSERT_EQ(plain.status, 0);
  // Each thread's stack would take 8 GiB of a 4 GiB address space.
  RunResult r = Mostel({Path("noise.png"), Path("alone.png")}, {"prlimit", "--stack=8589934592", "--as=4294967296"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, plain.out);
  EXPECT_EQ(ReadText(Path("alone.png")), ReadText(Path("plain.png")));

  // 4000 x 4000: the destination alone needs 576 MB.
  std::vector<unsigned char> flat(size_t{4000} * 4000 * 4, 200);
  ASSERT_EQ(lodepng_encode32_file(Path("flat.png").c_str(), flat.data(), 4000, 4000), 0u);
  r = Mostel({Path("flat.png"), Path("out.png")}, {"prlimit", "--as=" + std::to_string(300u << 20)});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "ERR: memory exhausted\n");
  EXPECT_FALSE(fs::exists(Path("out.png")));
}

TEST(DestinationBytes, RefusesSizesThatDoNotFit) {
  EXPECT_EQ(DestinationBytes(1, 1), 36u);
  EXPECT_EQ(DestinationBytes(1024, 2048), size_t{1024} * 2048 * 36);
  EXPECT_EQ(DestinationBytes(UINT32_MAX / 6 + 1, 1), 0u);  // the destination pitch would wrap
  EXPECT_EQ(DestinationBytes(1, UINT32_MAX / 3 + 1), 0u);  // the destination height would wrap
  if (sizeof(size_t) == 8) {
    EXPECT_EQ(DestinationBytes(1u << 28, 1u << 31), 0u);  // 2^59 pixels x 36 bytes
  } else {
    EXPECT_EQ(DestinationBytes(65536, 2048), 0u);  // 4 GiB and more
  }
}

}  // namespace
}  // namespace mostel
