// The registry of temporaries when every slot is held: a write that cannot register the file
// it would make beside its target makes none and says why, and works again once slots free.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pixeltools/output_file.h"
#include "pixeltools/temporaries.h"

namespace fs = std::filesystem;

namespace pixeltools {
namespace {

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Temporaries, AWriteThatCannotRegisterItsFileMakesNoneAndSaysWhy) {
  std::string pattern = (fs::temp_directory_path() / "temporaries_test.XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path folder = pattern;
  const fs::path target = folder / "out.png";
  std::ofstream(target, std::ios::binary) << "old";

  std::vector<int> held;
  for (int slot; (slot = RegisterTemporary((folder / "held").string().c_str(), false)) >= 0;) held.push_back(slot);
  EXPECT_EQ(held.size(), static_cast<std::size_t>(kTemporarySlots));

  WriteFailure failure;
  EXPECT_FALSE(WriteOutputFile(target.string().c_str(), "new", 3, &failure));
  EXPECT_STREQ(failure.reason, "too many temporary files at once");
  EXPECT_EQ(Contents(target), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

  const std::string tooLong(kRegisteredPathChars, 'a');
  EXPECT_EQ(RegisterTemporary(tooLong.c_str(), false), -1);
  EXPECT_STREQ(RegistrationRefusal(tooLong.c_str()), "the path of a temporary file is too long");

  ReleaseTemporary(held.back());
  held.pop_back();
  EXPECT_TRUE(WriteOutputFile(target.string().c_str(), "new", 3, &failure)) << failure.reason;
  EXPECT_EQ(Contents(target), "new");
  for (const int slot : held) ReleaseTemporary(slot);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace pixeltools
