// --help, -h and --version: where they are recognised on a command line, and what the program
// does with them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "quillet/about.h"
#include "scratch_dir.h"

namespace quillet::testing {
namespace {

AboutRequest Find(const std::vector<const char*>& tokens) {
  return FindAboutRequest(tokens.data(), static_cast<int>(tokens.size()));
}

TEST(AboutRequest, IsSeenWhereAnOptionNameStands) {
  EXPECT_EQ(Find({"--help"}), AboutRequest::kHelp);
  EXPECT_EQ(Find({"-h"}), AboutRequest::kHelp);
  EXPECT_EQ(Find({"--version"}), AboutRequest::kVersion);
  EXPECT_EQ(Find({"-in", "a.png", "-angle", "30", "--version"}), AboutRequest::kVersion);
  EXPECT_EQ(Find({"-in", "a.png", "--help", "--version"}), AboutRequest::kHelp);
  // A token that is not an option takes no value, as in the job's own parse.
  EXPECT_EQ(Find({"stray", "--help"}), AboutRequest::kHelp);
  // Unknown options are taken to have a value too, so new options need no change here.
  EXPECT_EQ(Find({"-sheet", "4", "-h"}), AboutRequest::kHelp);
  // The program's own single-dash words, in any case; -quiet takes no value.
  EXPECT_EQ(Find({"-in", "a.png", "-HELP"}), AboutRequest::kHelp);
  EXPECT_EQ(Find({"-quiet", "-version"}), AboutRequest::kVersion);

  EXPECT_EQ(Find({}), AboutRequest::kNone);
  EXPECT_EQ(Find({"-in", "a.png", "-out", "b"}), AboutRequest::kNone);
  // Values are never requests: an output may well be called -h.
  EXPECT_EQ(Find({"-out", "-h", "-in", "--version"}), AboutRequest::kNone);
  // Whole, case-sensitive words only.
  EXPECT_EQ(Find({"--HELP"}), AboutRequest::kNone);
  EXPECT_EQ(Find({"--versions"}), AboutRequest::kNone);
}

TEST(AboutRequest, TextFormGroupsQuotedBlanksAndLeavesTheTextAlone) {
  EXPECT_EQ(FindAboutRequestInText("  --help "), AboutRequest::kHelp);
  EXPECT_EQ(FindAboutRequestInText("-in \"my file.png\" --version"), AboutRequest::kVersion);
  EXPECT_EQ(FindAboutRequestInText("-out \"--help\" -angle 3"), AboutRequest::kNone);
  EXPECT_EQ(FindAboutRequestInText(""), AboutRequest::kNone);
  EXPECT_EQ(FindAboutRequestInText(nullptr), AboutRequest::kNone);
  const std::string text = "-in a.png -h";
  std::string copy = text;
  EXPECT_EQ(FindAboutRequestInText(copy.c_str()), AboutRequest::kHelp);
  EXPECT_EQ(copy, text);
}

class QuilletAbout : public ScratchDirTest {
 protected:
  struct Result {
    int status = -1;
    std::string out, err;
  };
  // The program in the scratch directory with no input; nothing may be asked.
  Result Run(const std::string& args, const std::string& stdoutTo = "out.txt") {
    const std::string cmd = std::string("'") + QUILLET_PROGRAM + "' " + args + " >" + stdoutTo +
                            " 2>err.txt </dev/null";
    Result r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = Read("out.txt");
    r.err = Read("err.txt");
    std::filesystem::remove("out.txt");
    std::filesystem::remove("err.txt");
    return r;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
};

TEST_F(QuilletAbout, AnswersBeforeAnyJobOrQuestion) {
  WriteFile("sprite.bmp", Bmp24File(SpriteLike(6, 5, 2, 3)));
  for (const char* args : {"--help", "-h", "-in sprite.bmp -out turned -angle 30 -help"}) {
    const Result r = Run(args);
    EXPECT_EQ(r.status, 0) << args;
    EXPECT_EQ(r.out.rfind("Usage: quillet ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("-endscale"), std::string::npos);
    EXPECT_EQ(r.err, "") << args;
    EXPECT_EQ(Listing(), "sprite.bmp") << args;
  }
  const Result version = Run("-version -in sprite.bmp -out turned -angle 30");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "quillet " PIXELTOOLS_VERSION "\n");
  EXPECT_EQ(Listing(), "sprite.bmp");

  // As a value it is an ordinary name: the job runs and writes -h.bmp.
  const Result job = Run("-in sprite.bmp -out -h -angle 30");
  EXPECT_EQ(job.status, 0) << job.err;
  EXPECT_EQ(job.out.find("Usage"), std::string::npos);
  EXPECT_EQ(Listing(), "-h.bmp sprite.bmp");
}

TEST_F(QuilletAbout, AnswerThatCannotBeWrittenFails) {
  EXPECT_NE(Run("--help", "/dev/full").status, 0);
  EXPECT_NE(Run("--version", "/dev/full").status, 0);
}

}  // namespace
}  // namespace quillet::testing
