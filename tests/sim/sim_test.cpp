// The simulator as a user runs it: a scenario file in, a separate zephal-sim
// process (through the runner), and then its log, its trace, its car paths
// and the preset files it left in the game directory.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support.h"

namespace fs = std::filesystem;

namespace {

std::string quote(const std::string &s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string read(const fs::path &p) { return test::read_text(p.string()); }

bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// A CSV file with a header line; cells by column name.
struct csv {
  std::vector<std::string> head;
  std::vector<std::vector<std::string>> rows;

  static csv load(const fs::path &p) {
    csv c;
    std::istringstream in(read(p));
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
      std::vector<std::string> cells;
      std::stringstream ls(line);
      for (std::string cell; std::getline(ls, cell, ',');) cells.push_back(cell);
      if (!line.empty() && line.back() == ',') cells.push_back("");
      if (first) c.head = cells, first = false;
      else c.rows.push_back(cells);
    }
    return c;
  }
  size_t col(const std::string &name) const {
    for (size_t i = 0; i < head.size(); ++i)
      if (head[i] == name) return i;
    ADD_FAILURE() << "no column " << name;
    return 0;
  }
  long num(size_t row, const std::string &name) const { return atol(rows.at(row).at(col(name)).c_str()); }
  float flt(size_t row, const std::string &name) const { return strtof(rows.at(row).at(col(name)).c_str(), nullptr); }
};

struct pose {
  float x, y, z;
  bool operator==(const pose &o) const { return x == o.x && y == o.y && z == o.z; }
};
std::ostream &operator<<(std::ostream &o, const pose &p) { return o << p.x << "," << p.y << "," << p.z; }

// Keys of one section of a preset file, in file order.
std::vector<std::pair<std::string, std::string>> section(const std::string &text, const std::string &name) {
  std::istringstream in(text);
  std::string line;
  std::vector<std::pair<std::string, std::string>> keys;
  bool on = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.starts_with("[")) on = line == "[" + name + "]";
    else if (on && line.find('=') != std::string::npos)
      keys.emplace_back(line.substr(0, line.find('=')), line.substr(line.find('=') + 1));
  }
  return keys;
}

float from_bits(const std::string &hex) {
  unsigned bits = (unsigned)strtoul(hex.c_str(), nullptr, 16);
  float f;
  memcpy(&f, &bits, 4);
  return f;
}

struct result {
  int status = -1;
  std::string out, err, log;
  csv trace, cars;
};

class Sim : public ::testing::Test {
 protected:
  test::temp_dir tmp;
  fs::path dir = tmp.path, game_dir = dir / "game";

  // Plays a scenario with its own output folder and the fixture's game
  // directory; extra arguments go to the simulator.
  result play(const std::string &name, const std::string &text, std::vector<std::string> extra = {}) {
    fs::path file = dir / name, out = dir / ("out-" + name);
    test::write_text(file.string(), text);
    std::string cmd = std::string(ZEPHAL_RUNNER) + " " + quote(ZEPHAL_SIM) + " " + quote(file.string()) +
                      " --quiet --game-dir " + quote(game_dir.string()) + " --out " + quote(out.string());
    for (const std::string &a : extra) cmd += " " + quote(a);
    cmd += " 2>" + quote((dir / "stderr").string());
    result r;
    FILE *p = popen(cmd.c_str(), "r");
    char buf[4096];
    for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    int st = p ? pclose(p) : -1;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.err = read(dir / "stderr");
    std::string stem = fs::path(name).stem().string();
    if (fs::exists(out / (stem + ".trace.csv"))) {
      r.log = read(out / (stem + ".log"));
      r.trace = csv::load(out / (stem + ".trace.csv"));
      r.cars = csv::load(out / (stem + ".cars.csv"));
    }
    return r;
  }

  static pose camera(const result &r, size_t frame) {
    return {r.trace.flt(frame, "x"), r.trace.flt(frame, "y"), r.trace.flt(frame, "z")};
  }
  // Car positions by (tick, car) over a range of frames.
  static std::map<std::pair<long, long>, pose> cars(const result &r, long from, long to) {
    std::map<std::pair<long, long>, pose> m;
    for (size_t i = 0; i < r.cars.rows.size(); ++i) {
      long f = r.cars.num(i, "frame");
      if (f >= from && f < to)
        m[{r.cars.num(i, "tick"), r.cars.num(i, "car")}] = {r.cars.flt(i, "x"), r.cars.flt(i, "y"),
                                                           r.cars.flt(i, "z")};
    }
    return m;
  }
};

#define ASSERT_RAN(r) ASSERT_EQ((r).status, 0) << (r).err << (r).out

// --- rewind ------------------------------------------------------------------

TEST_F(Sim, RewindPutsTheCarsBackAndTheyDriveOnFromThere) {
  result r = play("rewind.scn",
                  "cars 5\nframes 330\n"
                  "@200 press SHIFT+COMMA   # 64 ticks back\n"
                  "+30  press SPACE         # and play on\n");
  ASSERT_RAN(r);
  const long before = r.trace.num(199, "tick"), target = before - 64;
  EXPECT_TRUE(has(r.log, "zephal: rewound to tick " + std::to_string(target) + " (-64)\n")) << r.log;
  EXPECT_EQ(r.trace.num(200, "tick"), target);
  EXPECT_EQ(r.trace.num(200, "paused"), 1);

  auto first = cars(r, 0, 200), again = cars(r, 200, 330);
  // Restored: every car where it was at that tick the first time, not where
  // it had got to.
  for (long c = 0; c < 5; ++c) {
    const std::pair<long, long> then{target, c}, later{before, c};
    ASSERT_TRUE(first.count(then) && again.count(then) && first.count(later));
    EXPECT_EQ(again[then], first[then]) << "car " << c;
    EXPECT_FALSE(first[later] == first[then]) << "car " << c << " never moved";
  }
  // Paused: the replay stands still until the pause key.
  for (size_t f = 200; f < 230; ++f) EXPECT_EQ(r.trace.num(f, "tick"), target) << "frame " << f;
  // Played on: the same ticks again, every car exactly as the first time.
  int replayed = 0;
  for (auto &[key, p] : again)
    if (key.first > target && first.count(key)) {
      EXPECT_EQ(p, first[key]) << "tick " << key.first << " car " << key.second;
      ++replayed;
    }
  EXPECT_EQ(replayed, 64 * 5);
  EXPECT_EQ(r.trace.num(329, "tick"), target + 100);
}

TEST_F(Sim, ForwardSeekPastTheNewestSnapshotRunsOnAndStopsAtItsTick) {
  result r = play("forward.scn",
                  "cars 3\nframes 200\n"
                  "@100 press SPACE\n"
                  "+10  press SHIFT+PERIOD\n");
  ASSERT_RAN(r);
  const long paused_at = r.trace.num(100, "tick");
  EXPECT_EQ(r.trace.num(109, "paused"), 1);
  EXPECT_EQ(r.trace.num(110, "paused"), 0);  // no snapshot ahead: the replay runs
  EXPECT_FALSE(has(r.log, "rewound")) << r.log;
  long highest = 0;
  for (size_t f = 0; f < r.trace.rows.size(); ++f) highest = std::max(highest, r.trace.num(f, "tick"));
  EXPECT_EQ(highest, paused_at + 64);
  EXPECT_EQ(r.trace.num(199, "tick"), paused_at + 64);
  EXPECT_EQ(r.trace.num(199, "paused"), 1);
}

// --- presets -----------------------------------------------------------------

TEST_F(Sim, PresetSavedInOneRunIsRecalledInTheNext) {
  result saved = play("save.scn",
                      "frames 100\n"
                      "@20 camera 7\n"
                      "+10 hold W 30\n"
                      "+0  mouse 8 -3 30\n"
                      "+40 press CTRL+4\n");
  ASSERT_RAN(saved);
  std::string windows = "Z:" + game_dir.string();
  for (char &c : windows) c = c == '/' ? '\\' : c;
  EXPECT_TRUE(has(saved.log, "zephal: preset 4 saved (" + windows + "\\tracks\\alpine\\freecam.ini)\n"))
      << saved.log;

  auto keys = section(read(game_dir / "tracks" / "alpine" / "freecam.ini"), "Pos4");
  std::vector<std::string> names{"used", "x", "y", "z"}, got;
  for (int k = 0; k < 9; ++k) names.push_back("m" + std::to_string(k)), names.push_back("r" + std::to_string(k));
  for (int k = 0; k < 3; ++k) names.push_back("o" + std::to_string(k));
  names.insert(names.end(), {"bind_pos", "bind_rot", "car"});
  for (auto &kv : keys) got.push_back(kv.first);
  ASSERT_EQ(got, names);
  EXPECT_EQ(keys[0].second, "1");
  // The pose the free camera had written into the camera object by the
  // frame before the save.
  pose file{from_bits(keys[1].second), from_bits(keys[2].second), from_bits(keys[3].second)};
  EXPECT_EQ(file, camera(saved, 69));
  EXPECT_FALSE(file == camera(saved, 19)) << "the camera never flew";

  result recalled = play("recall.scn",
                         "frames 60\n"
                         "@10 press 5   # never saved\n"
                         "@30 press 4\n");
  ASSERT_RAN(recalled);
  EXPECT_TRUE(has(recalled.log, "zephal: preset 5 empty\n")) << recalled.log;
  EXPECT_EQ(recalled.trace.num(11, "cam_type"), 0);
  // Off at the key press: the game is asked for the free camera, which takes
  // the preset at its first update.
  EXPECT_EQ(recalled.trace.num(30, "cam_type"), 0);
  EXPECT_EQ(recalled.trace.num(31, "cam_type"), 7);
  EXPECT_EQ(recalled.trace.num(31, "free"), 1);
  EXPECT_EQ(camera(recalled, 31), file);
  EXPECT_TRUE(has(recalled.out, "1 recalled (1 while the free camera was off)")) << recalled.out;
}

// --- the free camera and the game --------------------------------------------

TEST_F(Sim, FreeCameraSkipsTheGamesCameraRoutineAndReplayInterface) {
  const char *text =
      "frames 120\n"
      "@30 camera 7\n"
      "@90 camera 0\n";
  result r = play("skip.scn", text);
  ASSERT_RAN(r);
  for (size_t f = 0; f < 120; ++f)
    EXPECT_EQ(r.trace.num(f, "free"), f >= 30 && f < 90 ? 1 : 0) << "frame " << f;
  // The chase camera moves with its car every frame; the free camera, left
  // alone, does not, so the game's routine did not run under it.
  EXPECT_FALSE(camera(r, 28) == camera(r, 29));
  for (size_t f = 31; f < 90; ++f) EXPECT_EQ(camera(r, f), camera(r, 30)) << "frame " << f;
  EXPECT_TRUE(has(r.out, "camera routine    120 calls, 60 runs, 60 skipped")) << r.out;
  // Three replay-interface calls a frame; the free camera takes over at the
  // camera update, after the interface of frame 30 has run.
  EXPECT_TRUE(has(r.out, "replay interface  360 calls, 183 runs, 177 skipped")) << r.out;

  result off = play("skip-off.scn", std::string(text) + "setting FreeCam=0\n");
  ASSERT_RAN(off);
  EXPECT_TRUE(has(off.out, "camera routine    120 calls, 120 runs, 0 skipped")) << off.out;
  EXPECT_TRUE(has(off.out, "replay interface  360 calls, 360 runs, 0 skipped")) << off.out;
}

TEST_F(Sim, ReplayOnlyLetsTheFreeCameraGoWhenTheGameLeavesReplay) {
  const char *text =
      "cars 4\nframes 160\n"
      "@20  camera 7\n"
      "@40  press Z      # bind the next car\n"
      "@80  mode menu\n"
      "@120 mode replay\n";
  result r = play("menu.scn", text);
  ASSERT_RAN(r);
  EXPECT_EQ(r.trace.num(79, "free"), 1);
  EXPECT_EQ(r.trace.num(79, "car"), 1);
  for (size_t f = 80; f < 120; ++f) {
    EXPECT_EQ(r.trace.num(f, "free"), 0) << "frame " << f;
    EXPECT_EQ(r.trace.num(f, "cam_type"), 7) << "frame " << f;
  }
  EXPECT_EQ(r.trace.num(80, "car"), 0) << "the camera's own target car comes back";
  EXPECT_EQ(r.trace.num(120, "free"), 1);
  EXPECT_TRUE(has(r.out, "2 take-overs, 1 let go")) << r.out;

  result kept = play("menu-kept.scn", std::string(text) + "setting ReplayOnly=0\n");
  ASSERT_RAN(kept);
  for (size_t f = 21; f < 160; ++f) EXPECT_EQ(kept.trace.num(f, "free"), 1) << "frame " << f;
  EXPECT_EQ(kept.trace.num(100, "car"), 1);
}

// --- scenarios it refuses --------------------------------------------------------

TEST_F(Sim, BadScenarioLineStopsTheRunNamingTheLine) {
  const std::tuple<const char *, int, const char *> cases[] = {
      {"track alpine\nframes 50\n\n@10 press FOO\n", 4, "unknown key 'FOO'"},
      {"@10 hold W\n", 1, "expected: @N hold KEYS FRAMES"},
      {"frames 100\n@20 press W\n@150 press W\n", 3, "frame 150 is past the end of the run"},
      {"cars 3\n@5 cars 17\n", 2, "number of cars 17 is out of range"},
      {"# a comment\npress W\n", 2, "'press' needs a frame in front of it"},
      {"@1x press W\n", 1, "'@1x' is not a frame"},
      {"@5 jump\n", 1, "unknown command 'jump'"},
  };
  int n = 0;
  for (auto &[text, line, why] : cases) {
    std::string name = "bad" + std::to_string(++n) + ".scn";
    result r = play(name, text);
    EXPECT_EQ(r.status, 2) << text;
    EXPECT_TRUE(has(r.err, (dir / name).string() + ":" + std::to_string(line) + ": " + why)) << r.err;
    EXPECT_FALSE(has(r.out, "summary")) << r.out;
    EXPECT_TRUE(r.trace.rows.empty());
  }
}

// --- the product ------------------------------------------------------------------

TEST_F(Sim, TheDllPlaysTheSameReplayAsTheSharedObject) {
  if (!fs::exists(ZEPHAL_Z9P_PATH)) GTEST_SKIP() << ZEPHAL_Z9P_PATH << " was not built";
  const std::string text =
      "cars 6\nframes 300\n"
      "@20  camera 7\n"
      "+5   hold SHIFT+W 40\n"
      "+0   mouse 5 2 40\n"
      "+0   hold Q 20\n"
      "+45  press V\n"
      "+5   press C\n"
      "+10  press Z\n"
      "+10  press B\n"
      "+10  hold D 30\n"
      "+40  press CTRL+COMMA\n"
      "+20  press SPACE\n";
  result so = play("so.scn", text, {"--clean"});
  result dll = play("dll.scn", text, {"--clean", "--module", ZEPHAL_Z9P_PATH});
  ASSERT_RAN(so);
  ASSERT_RAN(dll);
  EXPECT_TRUE(has(dll.log, "zephal.z9p at 0x")) << dll.log;
  EXPECT_TRUE(has(dll.log, "within rel32 reach")) << dll.log;
  EXPECT_TRUE(has(so.log, "zephal: rewound to tick")) << so.log;
  ASSERT_EQ(so.trace.rows.size(), 300u);
  EXPECT_EQ(so.trace.rows, dll.trace.rows);
  EXPECT_EQ(so.cars.rows, dll.cars.rows);
}

}  // namespace
