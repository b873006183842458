// zephal-sim given what a hostile or careless user might: bad paths and
// options get a message that names them and exit code 2, never a crash; and
// no file zephal-sim did not make is deleted or written over.
#include <sys/stat.h>

#include <filesystem>

#include "tests/sim/sim_process.h"

namespace {

using simtest::has;
using simtest::sim;

struct BadInput : ::testing::Test {
  test::temp_dir tmp;
  const std::string scn = tmp / "ok.scn", game = tmp / "game", out = tmp / "out";
  void SetUp() override { test::write_text(scn, "frames 30\ncars 1\n"); }
  // A quiet run of the scenario in the fixture's folders, and its arguments.
  std::vector<std::string> quiet(const std::string &file, const std::vector<std::string> &more = {}) {
    return simtest::quiet(file, game, out, more);
  }
  kit::ran play(const std::string &file, const std::vector<std::string> &more = {}) { return sim(quiet(file, more)); }
};

TEST_F(BadInput, EachBadPathOptionOrScenarioIsNamedAndExitsWithTwo) {
  const std::string file = tmp / "a-file", dir = tmp / "a-folder", fifo = tmp / "a-fifo";
  test::write_text(file, "not a folder\n");
  std::filesystem::create_directory(dir);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  test::write_text(tmp / "long.scn", "track " + std::string(300, 'a') + "\n");
  test::write_text(tmp / "huge.scn", std::string(9 << 20, '#'));
  test::write_text(tmp / "bad.scn", "track alpine\nframes 50\n\n@10 press FOO\n");
  test::write_text(tmp / "bom.scn", "\xEF\xBB\xBF" "frames 30  # saved by Notepad\ncars 1\n");
  test::expect_runs(sim,
                    {{{scn, "--quiet", "--game-dir", file}, 2, "--game-dir " + file + ": is a file, not a folder"},
                     {{scn, "--quiet", "--game-dir", file + "/sub"}, 2, "--game-dir " + file + "/sub: cannot create the folder"},
                     {{scn, "--quiet", "--out", file, "--game-dir", game}, 2, "--out " + file + ": is a file"},
                     {{scn, "--frobnicate"}, 2, "unknown option '--frobnicate'"},
                     {{scn, "--out"}, 2, "--out needs a folder after it"},
                     {{scn, scn}, 2, "one scenario at a time"},
                     {{}, 2, "no scenario given"},
                     {{"--help"}, 0, "usage: zephal-sim SCENARIO"},
                     {quiet(dir), 2, dir + ": is a folder, not a scenario file"},
                     {quiet(fifo), 2, fifo + ": is not a regular file"},
                     {quiet(tmp / "missing.scn"), 2, tmp / "missing.scn" + ": cannot read the scenario"},
                     {quiet(tmp / "long.scn"), 2, "long.scn:1: the track name is 300 characters long; a folder name holds at most 255"},
                     {quiet(tmp / "huge.scn"), 2, "huge.scn: is 9 MB; a scenario holds at most 8 MB"},
                     {quiet(tmp / "bad.scn"), 2, tmp / "bad.scn" + ":4: unknown key 'FOO'"},
                     {quiet(tmp / "bom.scn"), 0, "1 cars, 30 frames"}});  // a byte-order mark is no part of line 1
  EXPECT_EQ(test::read_text(file), "not a folder\n");
}

TEST_F(BadInput, AZephalIniOfSomeoneElsesIsNeverTouched) {
  std::filesystem::create_directories(game);
  const std::string ini = game + "/zephal.ini", mine = "[Zephal]\r\nMoveSpeed=3\r\n";
  test::write_text(ini, mine);
  // Setting lines would have to go in there: refused.
  test::write_text(tmp / "set.scn", "frames 30\nsetting MoveSpeed=20\n");
  kit::ran r = play(tmp / "set.scn");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r.err, ini + " is not one zephal-sim wrote")) << r.err;
  // Without setting lines the run plays with it.
  r = play(scn);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, "its own zephal.ini, kept as it is")) << r.out;
  EXPECT_EQ(test::read_text(ini), mine);
  // One zephal-sim wrote is its own: replaced, then removed for a run without settings.
  std::filesystem::remove(ini);
  ASSERT_EQ(play(tmp / "set.scn").status, 0);
  EXPECT_TRUE(has(test::read_text(ini), "MoveSpeed=20"));
  ASSERT_EQ(play(scn).status, 0);
  EXPECT_FALSE(std::filesystem::exists(ini));
}

TEST_F(BadInput, CleanDeletesPresetsOnlyInAGameDirectoryTheSimulatorMade) {
  const std::string presets = game + "/tracks/alpine/freecam.ini";
  std::filesystem::create_directories(game + "/tracks/alpine");
  test::write_text(presets, "[Pos1]\r\nused=1\r\n");
  kit::ran r = play(scn, {"--clean"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r.err, "--clean would delete " + presets)) << r.err;
  EXPECT_EQ(test::read_text(presets), "[Pos1]\r\nused=1\r\n");
  // A folder it made is its own.
  const std::string fresh = tmp / "fresh";
  ASSERT_EQ(sim(simtest::quiet(scn, fresh, out)).status, 0);
  test::write_text(fresh + "/tracks/alpine/freecam.ini", "[Pos1]\r\nused=1\r\n");
  ASSERT_EQ(sim(simtest::quiet(scn, fresh, out, {"--clean"})).status, 0);
  EXPECT_FALSE(std::filesystem::exists(fresh + "/tracks/alpine/freecam.ini"));
}

TEST_F(BadInput, AFailedRunKeepsThePreviousOutputsAndOthersFilesStay) {
  std::filesystem::create_directories(out);
  test::write_text(out + "/README.txt", "my notes\n");
  ASSERT_EQ(play(scn).status, 0);
  const std::string trace = test::read_text(out + "/ok.trace.csv");
  EXPECT_EQ(test::read_text(out + "/README.txt"), "my notes\n");
  // The module cannot be loaded: the run stops before the replay, and the
  // last run's trace is still whole.
  kit::ran r = play(scn, {"--module", tmp / "missing.so"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(test::read_text(out + "/ok.trace.csv"), trace);
  EXPECT_FALSE(std::filesystem::exists(out + "/ok.trace.csv.part"));
}

}  // namespace
