// The portable command-line reading and the parameter form's texts; the program tests
// drive the rest through the POSIX front end.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "quillet/command_line.h"
#include "quillet/job_loop.h"
#include "quillet/parameter_form.h"

namespace quillet {
namespace {

std::vector<std::string> Tokens(std::string text) {
  std::vector<std::string> tokens;
  char* cursor = text.data();
  for (char* token = NextToken(&cursor); token[0] != '\0'; token = NextToken(&cursor)) tokens.push_back(token);
  return tokens;
}

TEST(NextToken, SplitsOnBlanksAndDoubleQuotesOnly) {
  EXPECT_EQ(Tokens("-in \"my file.png\"x  tab\there   "),
            (std::vector<std::string>{"-in", "my file.png", "x", "tab\there"}));
  EXPECT_EQ(Tokens("ab\"c \"open to the end"), (std::vector<std::string>{"ab\"c", "open to the end"}));
  EXPECT_EQ(Tokens("   "), std::vector<std::string>{});
}

TEST(ReadNumbers, TakeTheLeadingNumberOrKeepTheValue) {
  const struct { const char* text; double expected; } reals[] = {
      {"30deg", 30.0}, {"  -1.5e2x", -150.0}, {".5", 0.5}, {"1e", 1.0}, {"7.", 7.0},
      {"0x10", 0.0},   {"abc", -9.0},         {"", -9.0}, {"+", -9.0}, {"inf", -9.0},
  };
  for (const auto& c : reals) {
    double value = -9.0;
    EXPECT_EQ(ReadReal(c.text, value), c.expected != -9.0) << c.text;
    EXPECT_EQ(value, c.expected) << c.text;
  }
  const struct { const char* text; std::int32_t expected; } counts[] = {
      {"2.9", 2}, {" -3", -3}, {"99999999999", INT_MAX}, {"-99999999999", INT_MIN}, {"x", 77}, {"", 77},
  };
  for (const auto& c : counts) {
    std::int32_t value = 77;
    ReadCount(c.text, value);
    EXPECT_EQ(value, c.expected) << c.text;
  }
}

// A later job parses the same line again and sees only its first token, with no value,
// whether the shell or the tokenizer split it.
TEST(ParseCommandLine, LaterParseSeesTheFirstTokenAlone) {
  std::string text = "-angle 20 -in a.png -quiet -endangle 90 -frames 3";
  std::vector<std::string> words = {"-angle", "20", "-in", "a.png", "-quiet", "-endangle", "90", "-frames", "3"};
  std::vector<char*> arguments;
  for (std::string& word : words) arguments.push_back(word.data());
  CommandLine fromText;
  fromText.text = text.data();
  CommandLine fromArguments;
  fromArguments.arguments = arguments.data();
  fromArguments.argumentCount = static_cast<int>(arguments.size());

  for (CommandLine* line : {&fromText, &fromArguments}) {
    RunParameters run;
    GivenValues given;
    ASSERT_TRUE(ParseCommandLine(*line, run, given, {}));
    EXPECT_EQ(run.angle, 20.0);
    EXPECT_EQ(run.endAngle, 90.0);
    EXPECT_EQ(run.frameCount, 3);
    EXPECT_STREQ(run.inputName, "a.png");
    EXPECT_TRUE(given.quiet);  // and it took no value
    EXPECT_FALSE(NeedsParameterDialog(given));

    run.angle = 25.0;  // as the user left it
    run.inputName[0] = '\0';
    GivenValues later;
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(ParseCommandLine(*line, run, later, {}));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "the missing value is no user's";
    EXPECT_EQ(run.angle, 25.0);
    EXPECT_EQ(run.endAngle, 25.0);
    EXPECT_TRUE(later.angle);
    EXPECT_FALSE(later.endAngle || later.frames);
    EXPECT_STREQ(run.inputName, "");
    EXPECT_FALSE(NeedsParameterDialog(later));
  }
}

TEST(ParameterForm, TextsRoundTripAndEnableTheEndFields) {
  RunParameters run;
  run.angle = 45.0;
  run.endAngle = 1e308;
  run.endScale = -2.25;
  run.frameCount = 1;
  ParameterTexts texts = FormatParameters(run);
  EXPECT_STREQ(texts.field[kAngleField], "45.000000");

  std::strcpy(texts.field[kAngleField], "");
  std::strcpy(texts.field[kFramesField], "4 frames");
  run.angle = 12.0;
  StoreParameters(texts, run);
  EXPECT_EQ(run.angle, 12.0);
  EXPECT_EQ(run.endAngle, 1e308);
  EXPECT_EQ(run.endScale, -2.25);
  EXPECT_EQ(run.frameCount, 4);

  for (const char* off : {"1", "0", "x", "", "-5"}) EXPECT_FALSE(EndFieldsEnabled(off)) << off;
  for (const char* on : {"2", "10", " 3abc"}) EXPECT_TRUE(EndFieldsEnabled(on)) << on;
}

}  // namespace
}  // namespace quillet
