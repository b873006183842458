// zephal-sim given what a hostile or careless user might: bad paths and
// options get a message that names them and exit code 2, never a crash; a
// scenario line cannot ask for unbounded memory; and no file zephal-sim did
// not make is deleted or written over.
#include <sys/stat.h>

#include <filesystem>

#include "sim/scenario.h"
#include "tests/sim/sim_process.h"

namespace {

using simtest::has;
using simtest::quote;
using simtest::sim;

struct BadInput : ::testing::Test {
  test::temp_dir tmp;
  const std::string scn = tmp / "ok.scn", game = tmp / "game", out = tmp / "out";
  void SetUp() override { test::write_text(scn, "frames 30\ncars 1\n"); }
    std::string where() const { return " --game-dir " + quote(game) + " --out " + quote(out); }
};

TEST_F(BadInput, EachBadPathOrOptionIsNamedAndExitsWithTwo) {
  const std::string file = tmp / "a-file", dir = tmp / "a-folder", fifo = tmp / "a-fifo";
  test::write_text(file, "not a folder\n");
  std::filesystem::create_directory(dir);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  test::write_text(tmp / "long.scn", "track " + std::string(300, 'a') + "\n");
  test::write_text(tmp / "huge.scn", std::string(9 << 20, '#'));
  const std::string quiet = " --quiet --game-dir " + quote(game) + " --out " + quote(out);
  const std::pair<std::string, std::string> cases[] = {
      {quote(scn) + " --quiet --game-dir " + quote(file), "--game-dir " + file + ": is a file, not a folder"},
      {quote(scn) + " --quiet --game-dir " + quote(file + "/sub"), "--game-dir " + file + "/sub: cannot create the folder"},
      {quote(scn) + " --quiet --out " + quote(file) + " --game-dir " + quote(game), "--out " + file + ": is a file"},
      {quote(dir) + quiet, dir + ": is a folder, not a scenario file"},
      {quote(fifo) + quiet, fifo + ": is not a regular file"},
      {quote(tmp / "missing.scn") + quiet, tmp / "missing.scn" + ": cannot read the scenario"},
      {quote(tmp / "long.scn") + quiet, "long.scn:1: the track name is 300 characters long; a folder name holds at most 255"},
      {quote(tmp / "huge.scn") + quiet, "huge.scn: is 9 MB; a scenario holds at most 8 MB"},
      {quote(scn) + " --frobnicate", "unknown option '--frobnicate'"},
      {quote(scn) + " --out", "--out needs a folder after it"},
      {quote(scn) + " " + quote(scn), "one scenario at a time"},
      {"", "no scenario given"},
  };
  for (const auto &[args, message] : cases) {
    kit::ran r = sim(args);
    EXPECT_EQ(r.status, 2) << args << "\n" << r.err;
    EXPECT_TRUE(has(r.err, message)) << args << "\n" << r.err;
  }
  EXPECT_EQ(test::read_text(file), "not a folder\n");
}

TEST_F(BadInput, HelpPrintsTheUsageAndExitsWithZero) {
  kit::ran r = sim("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out.starts_with("usage: zephal-sim SCENARIO")) << r.out;
  EXPECT_TRUE(has(r.out, "--game-dir DIR")) << r.out;
}

TEST_F(BadInput, ScenarioLinesCannotAskForUnboundedMemory) {
  // Twenty mouse movements over a million frames each: twenty actions.
  std::string text = "frames 2000000\n";
  for (int i = 0; i < 20; ++i) text += "@" + std::to_string(i) + " mouse 1 1 1000000\n";
  sim::scenario s;
  std::string error;
  ASSERT_TRUE(sim::parse_scenario_text(text, "m.scn", s, &error)) << error;
  EXPECT_EQ(s.timeline.size(), 20u);
  EXPECT_EQ(s.timeline.back().frames, 1000000u);
}

TEST_F(BadInput, ScenarioWithAByteOrderMarkPlays) {
  test::write_text(scn, "\xEF\xBB\xBF" "frames 30  # saved by Notepad\ncars 1\n");
  kit::ran r = sim(quote(scn) + " --quiet" + where());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, "1 cars, 30 frames")) << r.out;
}

TEST_F(BadInput, AZephalIniOfSomeoneElsesIsNeverTouched) {
  std::filesystem::create_directories(game);
  const std::string ini = game + "/zephal.ini", mine = "[Zephal]\r\nMoveSpeed=3\r\n";
  test::write_text(ini, mine);
  // Setting lines would have to go in there: refused.
  test::write_text(tmp / "set.scn", "frames 30\nsetting MoveSpeed=20\n");
  kit::ran r = sim(quote(tmp / "set.scn") + " --quiet" + where());
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r.err, ini + " is not one zephal-sim wrote")) << r.err;
  // Without setting lines the run plays with it.
  r = sim(quote(scn) + " --quiet" + where());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has(r.out, "its own zephal.ini, kept as it is")) << r.out;
  EXPECT_EQ(test::read_text(ini), mine);
  // One zephal-sim wrote is its own: replaced, then removed for a run without settings.
  std::filesystem::remove(ini);
  ASSERT_EQ(sim(quote(tmp / "set.scn") + " --quiet" + where()).status, 0);
  EXPECT_TRUE(has(test::read_text(ini), "MoveSpeed=20"));
  ASSERT_EQ(sim(quote(scn) + " --quiet" + where()).status, 0);
  EXPECT_FALSE(std::filesystem::exists(ini));
}

TEST_F(BadInput, CleanDeletesPresetsOnlyInAGameDirectoryTheSimulatorMade) {
  const std::string presets = game + "/tracks/alpine/freecam.ini";
  std::filesystem::create_directories(game + "/tracks/alpine");
  test::write_text(presets, "[Pos1]\r\nused=1\r\n");
  kit::ran r = sim(quote(scn) + " --quiet --clean" + where());
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(has(r.err, "--clean would delete " + presets)) << r.err;
  EXPECT_EQ(test::read_text(presets), "[Pos1]\r\nused=1\r\n");
  // A folder it made is its own.
  const std::string fresh = tmp / "fresh";
  ASSERT_EQ(sim(quote(scn) + " --quiet --game-dir " + quote(fresh) + " --out " + quote(out)).status, 0);
  test::write_text(fresh + "/tracks/alpine/freecam.ini", "[Pos1]\r\nused=1\r\n");
  ASSERT_EQ(sim(quote(scn) + " --quiet --clean --game-dir " + quote(fresh) + " --out " + quote(out)).status, 0);
  EXPECT_FALSE(std::filesystem::exists(fresh + "/tracks/alpine/freecam.ini"));
}

TEST_F(BadInput, AFailedRunKeepsThePreviousOutputsAndOthersFilesStay) {
  std::filesystem::create_directories(out);
  test::write_text(out + "/README.txt", "my notes\n");
  ASSERT_EQ(sim(quote(scn) + " --quiet" + where()).status, 0);
  const std::string trace = test::read_text(out + "/ok.trace.csv");
  EXPECT_EQ(test::read_text(out + "/README.txt"), "my notes\n");
  // The module cannot be loaded: the run stops before the replay, and the
  // last run's trace is still whole.
  kit::ran r = sim(quote(scn) + " --quiet --module " + quote(tmp / "missing.so") + where());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(test::read_text(out + "/ok.trace.csv"), trace);
  EXPECT_FALSE(std::filesystem::exists(out + "/ok.trace.csv.part"));
}

}  // namespace
