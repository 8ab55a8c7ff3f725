// quillet -outdir DIR -- INPUT...: a tree of inputs as a user has them, with the files that go
// wrong in it; what the batch writes is checked against single jobs run one at a time.
#include <lodepng.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "quillet_command.h"
#include "scratch_dir.h"

namespace fs = std::filesystem;

namespace quillet::testing {
namespace {

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Every entry below root (links not followed) with its bytes, or where a link points.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(entry.path(), root).string();
    if (entry.is_symlink()) entries[name] = "-> " + fs::read_symlink(entry.path()).string();
    else if (entry.is_regular_file()) entries[name] = Bytes(entry.path());
    else entries[name] = "folder";
  }
  return entries;
}

// The regular files below root, relative to it, with their bytes.
std::map<std::string, std::string> Files(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file()) files[fs::relative(entry.path(), root).string()] = Bytes(entry.path());
  return files;
}

class QuilletBatch : public ScratchDirTest {
 protected:
  ProcessResult Run(const std::vector<std::string>& args, const std::vector<std::string>& environment = {}) {
    Command command = QuilletCommand(args);
    command.environment = environment;
    return RunProcess(command);
  }

  // The art a user keeps: sprites in folders, a name with a space, a file that is not a
  // picture, a link that leads nowhere and a note the walk passes over.
  void MakeTree() {
    fs::create_directories("art/heroes");
    fs::create_directories("art/props");
    fs::copy_file(SAMPLES_DIR "/slime.png", "art/heroes/slime.png");
    fs::copy_file(SAMPLES_DIR "/sword.png", "art/props/old sword.PNG");
    fs::copy_file(SAMPLES_DIR "/potion.png", "art/props/potion.png");
    std::ofstream("art/props/broken.png") << "not a picture";
    std::ofstream("art/notes.txt") << "to do";
    fs::create_symlink("gone.png", "art/props/lost.png");
  }

  const std::vector<std::string> series_ = {"-format", "png", "-angle", "0", "-endangle", "90", "-frames", "3"};
};

TEST_F(QuilletBatch, TurnsATreeAsSingleJobsWouldLeavingTheUsersFilesAlone) {
  MakeTree();
  fs::create_directories("out/props");
  std::ofstream("out/props/potion_2.png") << "kept";  // one frame of a series counts as the series
  const auto before = Snapshot("art");

  std::vector<std::string> args = series_;
  args.insert(args.end(), {"-outdir", "out", "--", "art"});
  ProcessResult run = Run(args);
  EXPECT_EQ(run.status, 7) << run.err;
  EXPECT_EQ(run.err,
            "quillet: could not read \"art/props/broken.png\" as an image: not an image file that can be read: "
            "improper image header\n"
            "quillet: cannot read \"art/props/lost.png\": No such file or directory\n"
            "quillet: \"art/props/potion.png\": skipped: \"out/props/potion_2.png\" exists (-overwrite yes "
            "replaces it)\n"
            "2 written, 1 skipped, 2 failed\n");
  EXPECT_EQ(Snapshot("art"), before);
  EXPECT_EQ(Bytes("out/props/potion_2.png"), "kept");
  EXPECT_FALSE(Exists("out/props/potion_1.png"));

  // Each input's frames are those of its single job, named after it in the mirrored tree.
  const std::map<std::string, std::string> batch = Files("out");
  fs::create_directories("single");
  for (const auto& [input, stem] : std::vector<std::pair<std::string, std::string>>{
           {"art/heroes/slime.png", "single/heroes_slime"}, {"art/props/old sword.PNG", "single/old sword"}}) {
    args = series_;
    args.insert(args.end(), {"-in", input, "-out", stem, "-quiet"});
    ASSERT_EQ(Run(args).status, 0) << input;
  }
  for (int k = 1; k <= 3; ++k) {
    const std::string frame = "_" + std::to_string(k) + ".png";
    EXPECT_EQ(batch.at("heroes/slime" + frame), Bytes("single/heroes_slime" + frame)) << frame;
    EXPECT_EQ(batch.at("props/old sword" + frame), Bytes("single/old sword" + frame)) << frame;
  }
  EXPECT_EQ(batch.size(), 7u);  // six frames and the kept one

  // Again on one thread, then on two, replacing what is there: the same bytes; the input
  // that was skipped is now written.
  args = series_;
  args.insert(args.end(), {"-overwrite", "yes", "-outdir", "out", "--", "art"});
  for (const char* threads : {"QUILLET_THREADS=1", "QUILLET_THREADS=2"}) {
    run = Run(args, {threads});
    EXPECT_EQ(run.status, 7) << run.err;
    EXPECT_NE(run.err.find("\n3 written, 0 skipped, 2 failed\n"), std::string::npos) << run.err;
    std::map<std::string, std::string> again = Files("out");
    for (const auto& [name, bytes] : batch)
      if (name.rfind("props/potion", 0) != 0) {
        EXPECT_EQ(again.at(name), bytes) << threads << " " << name;
      }
    EXPECT_EQ(again.size(), 9u);
  }
  EXPECT_EQ(Snapshot("art"), before);
  EXPECT_TRUE(TempListing().empty()) << TempListing();
}

TEST_F(QuilletBatch, NoInputIsWrittenNorAnyOutputTwice) {
  fs::create_directories("in/a");
  fs::copy_file(SAMPLES_DIR "/slime.png", "in/a/walk.png");
  fs::copy_file(SAMPLES_DIR "/potion.png", "in/a/walk.gif.png");
  fs::copy_file(SAMPLES_DIR "/slime.png", "walk.png");
  const std::string input = Bytes("in/a/walk.png");
  // BMP frames beside the inputs of the folder walked: the walk is over before anything is
  // written, so they are not taken for inputs.
  ProcessResult run = Run({"-angle", "30", "-outdir", "in", "--", "in"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "2 written, 0 skipped, 0 failed\n");
  EXPECT_TRUE(Exists("in/a/walk.bmp") && Exists("in/a/walk.gif.bmp"));
  // Two inputs that would write one name: the second fails.
  run = Run({"-format", "png", "-angle", "30", "-outdir", "o", "--", "in/a/walk.png", "walk.png"});
  EXPECT_EQ(run.status, 7) << run.err;
  EXPECT_EQ(run.err,
            "quillet: \"walk.png\": not done: \"o/walk.png\" is also the output of \"in/a/walk.png\"\n"
            "1 written, 0 skipped, 1 failed\n");
  // Frames of -cells are named once the picture is read, and held against the other inputs'
  // as the plan's names are: the earlier input keeps the name, on any number of workers.
  fs::copy_file(SAMPLES_DIR "/sheet.png", "sheet.png");  // four cells of 14 x 16
  ASSERT_EQ(lodepng::encode("sheet_3.png", std::vector<unsigned char>(14 * 16 * 4, 200), 14, 16), 0u);
  run = Run({"-format", "png", "-cells", "14x16", "-angle", "30", "-outdir", "c", "--", "sheet.png", "sheet_3.png"},
            {"QUILLET_THREADS=2"});
  EXPECT_EQ(run.status, 7) << run.err;
  EXPECT_EQ(run.err,
            "quillet: \"sheet_3.png\": not done: \"c/sheet_3.png\" is also the output of \"sheet.png\"\n"
            "1 written, 0 skipped, 1 failed\n");
  EXPECT_EQ(Files("c").size(), 4u);
  // An output that is an input of the batch is never written, even with -overwrite yes.
  run = Run({"-format", "png", "-angle", "30", "-overwrite", "yes", "-outdir", "in/a", "--", "in/a/walk.png"});
  EXPECT_EQ(run.status, 7) << run.err;
  EXPECT_NE(run.err.find("its output \"in/a/walk.png\" is an input of the batch"), std::string::npos) << run.err;
  EXPECT_EQ(Bytes("in/a/walk.png"), input);
  // A file that cannot be read, for a user other than root (the tree above has a link that
  // leads nowhere for root).
  if (geteuid() != 0) {
    fs::copy_file("walk.png", "locked.png");
    fs::permissions("locked.png", fs::perms::none);
    run = Run({"-angle", "30", "-outdir", "out", "--", "locked.png", "walk.png"});
    EXPECT_EQ(run.status, 7) << run.err;
    EXPECT_NE(run.err.find("cannot read \"locked.png\": Permission denied\n1 written"), std::string::npos) << run.err;
  }
}

// Whatever the options, the batch on one thread writes the files of the single job on every
// core, and the names its job writes are those checked before it writes any: a second run
// skips the input and leaves every byte as it was, and so does any one of its files left
// alone in the folder. -cells 14x16 cuts the 56 x 16 sheet into four cells.
TEST_F(QuilletBatch, NoOutputIsReplacedWithoutOverwrite) {
  fs::copy_file(SAMPLES_DIR "/sheet.png", "sheet.png");
  const std::vector<std::pair<std::vector<std::string>, std::size_t>> table = {
      {{"-angle", "30"}, 1},
      {{"-angle", "0", "-endangle", "90", "-frames", "3"}, 3},
      {{"-background", "#203040", "-angle", "0", "-endangle", "90", "-frames", "3"}, 3},
      {{"-format", "png", "-angle", "0", "-endangle", "330", "-frames", "12", "-data", "json"}, 13},
      {{"-format", "png", "-directions", "4", "-angle", "0", "-data", "godot"}, 5},
      {{"-format", "png", "-sheet", "2", "-angle", "0", "-endangle", "90", "-frames", "3", "-data", "json"}, 2},
      {{"-format", "png", "-cells", "14x16", "-angle", "30"}, 4},
      {{"-format", "png", "-cells", "14x16", "-directions", "3", "-angle", "0", "-data", "json"}, 13},
      {{"-format", "png", "-cells", "14x16", "-angle", "0", "-endangle", "90", "-frames", "2", "-data", "godot"}, 9},
      {{"-format", "png", "-cells", "14x16", "-sheet", "3", "-directions", "2", "-angle", "0", "-data", "json"}, 2},
  };
  int row = 0;
  for (const auto& [options, count] : table) {
    const std::string out = "o" + std::to_string(++row);
    std::vector<std::string> args = options;
    args.insert(args.end(), {"-outdir", out, "--", "sheet.png"});
    ProcessResult run = Run(args, {"QUILLET_THREADS=1"});
    ASSERT_EQ(run.status, 0) << row << run.err;
    const std::map<std::string, std::string> written = Files(out);
    EXPECT_EQ(written.size(), count) << row;
    std::vector<std::string> single = options;
    single.insert(single.end(), {"-in", "sheet.png", "-out", "single" + out + "/sheet", "-quiet"});
    fs::create_directories("single" + out);
    ASSERT_EQ(Run(single).status, 0) << row;
    EXPECT_EQ(Files("single" + out), written) << row;
    run = Run(args);
    EXPECT_EQ(run.status, 6) << row << run.err;
    EXPECT_NE(run.err.find("\"sheet.png\": skipped: \"" + out), std::string::npos) << row << run.err;
    EXPECT_EQ(Files(out), written) << row;
    for (const auto& [name, bytes] : written) {
      fs::remove_all(out);
      fs::create_directories(out);
      std::ofstream(out + "/" + name) << "kept";
      run = Run(args);
      EXPECT_EQ(run.status, 6) << row << " " << name << run.err;
      EXPECT_EQ(Snapshot(out), (std::map<std::string, std::string>{{name, "kept"}})) << row << " " << name;
    }
  }
  EXPECT_TRUE(TempListing().empty()) << TempListing();
}

// On a terminal the count of files done is redrawn in place, and cleared before each line;
// -quiet shows none of it.
TEST_F(QuilletBatch, TerminalShowsTheFilesDoneInPlace) {
  fs::create_directories("art");
  fs::copy_file(SAMPLES_DIR "/slime.png", "art/slime.png");
  fs::copy_file(SAMPLES_DIR "/potion.png", "art/potion.png");
  std::ofstream("art/broken.png") << "not a picture";
  for (const bool quiet : {false, true}) {
    std::vector<std::string> args = {"-angle", "30", "-outdir", quiet ? "q" : "o", "--", "art"};
    if (quiet) args.insert(args.begin(), "-quiet");
    const ProcessResult run = pixeltools::testing::RunOnTerminal(QuilletCommand(args), [](const std::string&, int) {});
    EXPECT_EQ(run.status, 7) << run.out;
    EXPECT_EQ(run.out.find("\r0 of 3 files done") == 0, !quiet) << run.out;
    EXPECT_EQ(run.out.find("\r1 of 3 files done, about ") != std::string::npos, !quiet) << run.out;
    EXPECT_NE(run.out.find("quillet: could not read \"art/broken.png\""), std::string::npos) << run.out;
    const std::string last = "2 written, 0 skipped, 1 failed\r\n";
    ASSERT_GE(run.out.size(), last.size());
    EXPECT_EQ(run.out.substr(run.out.size() - last.size()), last) << run.out;
  }
}

TEST_F(QuilletBatch, RefusesLinesThatMakeNoBatch) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"-overwrite", "maybe", "-outdir", "o", "--", "a.png"}, "-overwrite takes yes or no, not \"maybe\""},
      {{"-outdir", "o", "a.png"}, "-outdir \"o\" needs -- and the files and folders to turn after it"},
      {{"-outdir", "o", "--"}, "-outdir \"o\" needs at least one file or folder after --"},
      {{"--", "a.png"}, "the names after -- are the inputs of a batch, which needs -outdir DIR"},
      {{"-in", "a.png", "-outdir", "o", "--", "a.png"}, "it takes no -in or -out"},
      {{"-outdir", "o", "-bogus", "--", "a.png"}, "\"-bogus\" is not an option"},
  };
  for (const auto& [args, message] : refused) {
    std::vector<std::string> line = {"-angle", "10"};
    line.insert(line.end(), args.begin(), args.end());
    const ProcessResult run = Run(line);
    EXPECT_EQ(run.status, 2) << message;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
  // Nothing asked: a batch without its parameters is refused, not shown a dialog.
  const ProcessResult run = Run({"-outdir", "o", "--", "a.png"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("a batch asks nothing"), std::string::npos) << run.err;
  EXPECT_EQ(Listing(), "");
}

}  // namespace
}  // namespace quillet::testing
