// The job loop's rules, through a front end whose dialogs answer from a script: which
// chooser is asked when, the values the parameter form starts from, when another job
// follows, and the status the program ends with.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "quillet/job_loop.h"
#include "scratch_dir.h"
#include "test_images.h"

namespace quillet {
namespace {

using testing::Exists;
using testing::ScratchDirTest;

// One answer of a dialog: a name chosen or parameters run (true), or a cancel or Quit.
struct Answer {
  bool accept = true;
  std::string name;          // for a chooser
  double angle = 0.0;        // for the parameter form, when setAngle
  bool setAngle = false;
};

struct FakeDialogs {
  std::deque<Answer> answers;
  std::vector<std::string> asked;      // "input", "output", "parameters" in order
  std::vector<std::string> outputStarts;  // the name each output chooser opened with
  std::vector<double> formAngles;      // the angle each parameter form opened with
  std::vector<double> formEndAngles;
  int progressOpen = 0;
  int jobs = 0;
  bool importWorks = true;
};

Answer Chosen(const char* name) {
  Answer answer;
  answer.name = name;
  return answer;
}
Answer Accept() { return Answer{}; }
Answer Cancel() {
  Answer answer;
  answer.accept = false;
  return answer;
}

FakeDialogs& Fake(void* context) { return *static_cast<FakeDialogs*>(context); }

Answer Next(FakeDialogs& fake, const char* dialog) {
  fake.asked.push_back(dialog);
  if (fake.answers.empty()) return Cancel();  // the script is over
  Answer answer = fake.answers.front();
  fake.answers.pop_front();
  return answer;
}

bool Choose(void* context, const char* dialog, char* fileBuffer) {
  const Answer answer = Next(Fake(context), dialog);
  if (answer.accept) std::snprintf(fileBuffer, kPathChars, "%s", answer.name.c_str());
  return answer.accept;
}

FrontEndPlatform FakePlatform(FakeDialogs& fake) {
  FrontEndPlatform platform;
  platform.chooseInput = [](void* context, const FileChooserSettings&, char* buffer) {
    return Choose(context, "input", buffer);
  };
  platform.chooseOutput = [](void* context, const FileChooserSettings&, char* buffer) {
    Fake(context).outputStarts.push_back(buffer);
    return Choose(context, "output", buffer);
  };
  platform.editParameters = [](void* context, RunParameters& run) {
    FakeDialogs& dialogs = Fake(context);
    dialogs.formAngles.push_back(run.angle);
    dialogs.formEndAngles.push_back(run.endAngle);
    const Answer answer = Next(dialogs, "parameters");
    if (answer.accept && answer.setAngle) run.angle = answer.angle;
    return answer.accept;
  };
  platform.startProgress = [](void* context, AppState&) { ++Fake(context).progressOpen; };
  platform.stopProgress = [](void* context, AppState&) {
    --Fake(context).progressOpen;
    ++Fake(context).jobs;
  };
  platform.context = &fake;
  return platform;
}

// Every input is a small picture, unless the script says the import fails.
bool FakeImport(void* context, AppState& app, const char*) {
  if (!static_cast<FakeDialogs*>(context)->importWorks) return false;
  testing::SetPicture(app.workingBitmap, testing::SpriteLike(4, 3, 3, 7));
  return true;
}

Answer RunAtAngle(double angle) {
  Answer answer;
  answer.angle = angle;
  answer.setAngle = true;
  return answer;
}

class JobLoop : public ScratchDirTest {
 protected:
  int Run(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    CommandLine line;
    line.arguments = argv.empty() ? nullptr : argv.data();
    line.argumentCount = static_cast<int>(argv.size());
    const ImageImporter importer{FakeImport, &fake_};
    const int status = RunJobs(app_, line, FakePlatform(fake_), importer);
    EXPECT_EQ(fake_.progressOpen, 0);
    return status;
  }
  AppState app_;
  FakeDialogs fake_;
};

TEST_F(JobLoop, FullCommandLineRunsOneJobWithoutDialogs) {
  EXPECT_EQ(Run({"-in", "a.bmp", "-out", "frame", "-angle", "30"}), kExitSuccess);
  EXPECT_TRUE(fake_.asked.empty());
  EXPECT_EQ(fake_.jobs, 1);
  EXPECT_TRUE(Exists("frame.bmp"));
}

TEST_F(JobLoop, CancelledOutputChooserGoesBackToTheInputChooserOnlyWhenThatWasAsked) {
  fake_.answers = {Chosen("a.bmp"), Cancel(), Chosen("b.bmp"), Chosen("out.bmp"), Cancel()};
  EXPECT_EQ(Run({"-angle", "10"}), kExitSuccess);
  EXPECT_EQ(fake_.asked, (std::vector<std::string>{"input", "output", "input", "output"}));
  EXPECT_EQ(fake_.jobs, 1);
}

// With the input named on the command line, cancelling the output chooser ends the program.
TEST_F(JobLoop, CancelledOutputChooserEndsTheProgramWhenTheInputWasGiven) {
  fake_.answers = {Cancel()};
  EXPECT_EQ(Run({"-in", "a.bmp", "-angle", "10"}), kExitSuccess);
  EXPECT_EQ(fake_.asked, (std::vector<std::string>{"output"}));
  EXPECT_EQ(fake_.jobs, 0);
}

// The save chooser starts from a name of the format being written, and a name chosen in the
// other format's extension takes the format's (walk.png, never walk.bmp.png).
TEST_F(JobLoop, SaveChooserNamesFollowTheOutputFormat) {
  const std::vector<std::string> bmp = {"-in", "a.bmp", "-angle", "10"};
  std::vector<std::string> png = bmp;
  png.insert(png.end(), {"-format", "png"});
  fake_.answers = {Cancel()};
  EXPECT_EQ(Run(bmp), kExitSuccess);
  fake_.answers = {Chosen("turned")};
  EXPECT_EQ(Run(png), kExitSuccess);
  for (const auto& [chosen, line] : {std::pair{"walk.bmp", png}, std::pair{"backward.PNG", bmp}}) {
    app_.runParameters = RunParameters{};
    fake_.answers = {Chosen(chosen)};
    EXPECT_EQ(Run(line), kExitSuccess);
  }
  EXPECT_EQ(fake_.outputStarts, (std::vector<std::string>{"output.bmp", "output.png", "turned", "walk.bmp"}));
  EXPECT_EQ(Listing(), "backward.bmp turned.png walk.png");
}

TEST_F(JobLoop, InteractiveRoundsStartFrom45To135ThenFromTheLastAnswers) {
  fake_.answers = {Chosen("a.bmp"), Chosen("first.bmp"),  RunAtAngle(20),
                   Chosen("b.bmp"), Chosen("second.bmp"), Accept(),
                   Chosen("c.bmp"), Chosen("third.bmp"),  Cancel()};
  EXPECT_EQ(Run({}), kExitSuccess);
  EXPECT_EQ(fake_.formAngles, (std::vector<double>{45.0, 20.0, 20.0}));
  EXPECT_EQ(fake_.formEndAngles, (std::vector<double>{135.0, 135.0, 135.0}));
  EXPECT_EQ(fake_.jobs, 2);
  EXPECT_TRUE(Exists("first.bmp"));
  EXPECT_TRUE(Exists("second.bmp"));
  EXPECT_FALSE(Exists("third.bmp"));
}

TEST_F(JobLoop, ParameterFormMakesTheLoopGoOnAfterAFailedJob) {
  // An end value without a frame count opens the form; the failed job does not end the loop.
  // The next round reads what is left of the command line after its first split, the lone
  // "-in", so it asks for both names again.
  fake_.importWorks = false;
  fake_.answers = {Accept(), Cancel()};
  EXPECT_EQ(Run({"-in", "a.bmp", "-out", "one", "-endangle", "90"}), kExitSuccess);
  EXPECT_EQ(fake_.asked, (std::vector<std::string>{"parameters", "input"}));
  EXPECT_EQ(fake_.jobs, 1);
  EXPECT_TRUE(app_.runAgain);
}

TEST_F(JobLoop, OneShotJobEndsWithTheStatusOfWhatFailed) {
  fake_.importWorks = false;
  EXPECT_EQ(Run({"-in", "a.bmp", "-out", "frame", "-angle", "30"}), kExitInputUnreadable);
  fake_ = FakeDialogs{};
  EXPECT_EQ(Run({"-in", "a.bmp", "-out", "no_such_folder/frame", "-angle", "30"}), kExitOutputUnwritable);
  fake_ = FakeDialogs{};
  const std::string tooLong(300, 'x');
  EXPECT_EQ(Run({"-in", tooLong, "-out", "frame", "-angle", "30"}), kExitBadCommandLine);
  EXPECT_EQ(fake_.jobs, 0);
}

}  // namespace
}  // namespace quillet
