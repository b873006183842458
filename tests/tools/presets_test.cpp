// zephal-presets on preset files the plug-in itself saved, and on damaged and
// hand-edited ones; what the plug-in recalls afterwards is the measure.
#include <sys/stat.h>

#include "presets/presets.h"
#include "tests/support.h"

namespace {

using std::string;

// Where the n-th of the 27 values a preset keeps lies in a record: the float
// patterns x, y, z, m0-m8, r0-r8, o0-o2, then bind_pos, bind_rot and car.
size_t value_at(int n) {
  const size_t tail[] = {offsetof(freecam_record, bind_pos), offsetof(freecam_record, bind_rot), offsetof(freecam_record, car)};
  return n < 12 ? offsetof(freecam_record, x) + 4 * n : n < 24 ? offsetof(freecam_record, r) + 4 * (n - 12) : tail[n - 24];
}
std::vector<u32> pose(const freecam_record &r) {
  std::vector<u32> p(27);
  for (int n = 0; n < 27; ++n) memcpy(&p[n], (const u8 *)&r + value_at(n), 4);
  return p;
}

struct Presets : test::on_track {
  // The plug-in's own save of a pose under Ctrl+n.
  void save(int n, const std::vector<u32> &p) {
    for (int k = 0; k < 27; ++k) memcpy((u8 *)&zp[0] + value_at(k), &p[k], 4);
    zp[0].active = 1, zp[0].cam = cam;
    zp_preset_save(n);
  }
  // What pressing digit n recalls, with the presets of `from`, into an empty record.
  std::vector<u32> recall(const string &from, int n) {
    if (from != ini) std::filesystem::copy_file(from, ini, std::filesystem::copy_options::overwrite_existing);
    zp[0] = freecam_record{};
    zp[0].active = 1, zp[0].cam = cam;
    zp_preset_apply(n);
    return pose(zp[0]);
  }
  test::ran tool(const std::vector<string> &args) { return kit::run(ZEPHAL_RUNNER, ZEPHAL_PRESETS, args); }
};

// Patterns with -0.0, infinities, NaN payloads and denormals, then binds and car.
const std::vector<u32> odd = {
    0x80000000, 0x7F800000, 0xFF800000, 0x7FC12345, 0x00000000, 0x7F800001, 0x40490FDB, 0xFFA00001,
    0x007FFFFF, 0x3F800000, 0x41200000, 0x00000001, 0xC1200000, 0xC2C80000, 0x3DCCCCCD, 0x3F000000,
    0x7F7FFFFF, 0x12345678, 0x80000001, 0xBF800000, 0x42F60000, 0x3E800000, 0xC0400000, 0x44FA0000, 1, 0, 3};
// At (10.5, 2, -3), looking along +x: yaw 90, level; bound by position to car 4.
const std::vector<u32> plain = {0x41280000, 0x40000000, 0xC0400000, 0, 0, 0xBF800000, 0, 0x3F800000, 0,
                                0x3F800000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 4};

TEST_F(Presets, ListShowsEveryPresetAndWhatIsWrongWithDamagedOnes) {
  save(1, odd), save(4, plain);
  std::ofstream(ini, std::ios::app) << "[Pos7]\r\nused=1\r\nx=1.5\r\ncar=abc\r\n[Pos8]\r\nused=yes\r\nx=0\r\n";
  const test::ran r = tool({"list", ini});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  for (const char *row : {
           "  4    used     10.50, 2.00, -3.00               90.0, 0.0, 0.0           position           4\n",
           "  7    DAMAGED  ", "missing y, z, m0-m8, r0-r8, o0-o2: a recall keeps the camera's current values",
           "missing bind_pos, bind_rot: a recall takes these as 0",
           "x=1.5 is not in the plug-in's form (8 hexadecimal digits): it reads it as 00000001",
           "car=abc is not in the plug-in's form (a whole number): it reads it as 0",
           "  8    empty\n         used=yes is not a whole number; the plug-in reads it as 0, so the preset counts as empty",
           "  9    empty\n", "1 damaged preset"})
    EXPECT_TRUE(r.has(row)) << row << "\n" << r.out;
  // What the list says of the damaged preset is what a recall does.
  const std::vector<u32> before = pose(freecam_record{});
  std::vector<u32> want = before;
  want[0] = 1;
  EXPECT_EQ(recall(ini, 7), want);

  chmod(ini.c_str(), 0444);
  EXPECT_TRUE(tool({"list", ini}).has("The plug-in cannot save presets here: " + ini + " is not writable"));
}

TEST_F(Presets, ExportThenImportIsBitForBitAndKeepsEveryOtherLine) {
  test::write_text(ini, "; my presets\r\n[Other]\r\nkeep=me\r\n");
  save(1, odd), save(4, plain);
  std::ofstream(ini, std::ios::app) << "[Pos7]\r\nused=1\r\nx=1.5\r\n";
  const string saved = test::read_text(ini), text = dir / "presets.txt";
  const test::ran exported = tool({"export", ini});
  ASSERT_EQ(exported.status, 0) << exported.err;
  for (const char *part : {"position = -0 bits:7F800000 bits:FF800000", "look = 90.00 0.00 0.00", "[Pos4]\nused = 1",
                           "# damaged: missing y, z", "x = 1e-45", "# [Pos9] is empty"})
    EXPECT_TRUE(exported.has(part)) << part << "\n" << exported.out;
  test::write_text(text, exported.out);

  const test::ran same = tool({"import", text, ini});
  EXPECT_EQ(same.status, 0) << same.err;
  EXPECT_TRUE(same.has("0 values written")) << same.out;
  EXPECT_EQ(test::read_text(ini), saved);

  // Into another file: its own lines stay, and every preset recalls as from the original.
  const string other = dir / "other.ini";
  test::write_text(other, "; notes\r\n[Other]\r\nkeep=me\r\n");
  EXPECT_EQ(tool({"import", text, other}).status, 0);
  EXPECT_EQ(test::read_text(other).rfind("; notes\r\n[Other]\r\nkeep=me\r\n[Pos1]\r\nused=1\r\nx=80000000\r\n", 0), 0u);
  test::write_text(dir / "saved.ini", saved);
  for (int n : {1, 4, 7}) EXPECT_EQ(recall(other, n), recall(dir / "saved.ini", n)) << n;
}

// The export's text with one line replaced.
string edited(const string &text, const string &from, const string &to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, string::npos) << from;
  return at == string::npos ? text : text.substr(0, at) + to + text.substr(at + from.size());
}

TEST_F(Presets, AnEditedPositionOrViewChangesOnlyThoseKeys) {
  save(4, plain), save(5, plain);
  const string saved = test::read_text(ini), text = dir / "presets.txt";
  string t = edited(tool({"export", ini}).out, "position = 10.5 2 -3", "position = 1 2 -7");
  t = edited(t, "[Pos5]\nused = 1\nposition = 10.5 2 -3\nlook = 90.00 0.00 0.00", "[Pos5]\nused = 1\nlook = 45 -20 10");
  test::write_text(text, t);
  const test::ran r = tool({"import", text, ini});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.has("Pos4: wrote x, z\nPos5: wrote m0, m1, m2, m3, m4, m5, m6, m7, m8\n11 values written")) << r.out;
  std::vector<u32> want = plain;
  want[0] = 0x3F800000, want[2] = 0xC0E00000;  // x 1, z -7
  EXPECT_EQ(recall(ini, 4), want);
  EXPECT_TRUE(tool({"list", ini}).has("  5    used     10.50, 2.00, -3.00               45.0, -20.0, 10.0 "));
  // Every line but the edited ones is as the plug-in wrote it.
  const string now = test::read_text(ini);
  EXPECT_EQ(now.size(), saved.size());
  EXPECT_NE(now.find("[Pos4]\r\nused=1\r\nx=3F800000\r\ny=40000000\r\nz=C0E00000\r\nm0=00000000\r\n"), string::npos);
}

TEST_F(Presets, ABadTextIsRefusedWithItsLineAndNothingIsWritten) {
  save(4, plain);
  const string saved = test::read_text(ini), text = dir / "presets.txt";
  const struct {
    const char *text, *says;
  } rows[] = {
      {"[Pos4]\nused = 1\n[Pos12]\n", "presets.txt:3: [Pos12] is not a preset: presets are [Pos0] to [Pos9]"},
      {"[Pos4]\nposition = 1 2\n", "presets.txt:2: position takes 3 numbers, found 2"},
      {"[Pos4]\nx = abc\n", "presets.txt:2: \"abc\" is not a decimal number (or bits:XXXXXXXX) for x"},
      {"[Pos4]\ncar = 1.5\n", "presets.txt:2: \"1.5\" is not a whole number for car"},
      {"[Pos4]\ncam = 1\n", "presets.txt:2: \"cam\" is not a preset value"},
      {"x = 1\n[Pos4]\n", "presets.txt:1: \"x = 1\" stands before the first [PosN] line"},
      {"[Pos4]\nx = 1\nposition = 1 2 3\n", "presets.txt:3: x is given twice in [Pos4]"},
      {"[Pos4]\n[pos4]\n", "presets.txt:2: [Pos4] again (first on line 1)"},
  };
  for (const auto &row : rows) {
    test::write_text(text, row.text);
    const test::ran r = tool({"import", text, ini});
    EXPECT_EQ(r.status, 2) << row.text;
    EXPECT_TRUE(r.has(row.says)) << row.says << "\n" << r.err;
    EXPECT_TRUE(r.has("nothing was written")) << r.err;
  }
  test::write_text(text, "[Pos4]\nx = 1\n");
  chmod(ini.c_str(), 0444);
  EXPECT_TRUE(tool({"import", text, ini}).has("cannot write " + ini + ": it is read-only; nothing was written"));
  EXPECT_EQ(test::read_text(ini), saved);
}

TEST_F(Presets, CopyGoesToAnotherNumberOrTrackButNeverOverAPresetUnasked) {
  save(1, odd), save(4, plain);
  std::ofstream(ini, std::ios::app) << "[Pos7]\r\nused=1\r\n";
  const string other = dir / "tracks/harbour/freecam.ini";
  std::filesystem::create_directories(dir / "tracks/harbour");
  const string before = test::read_text(ini);
  test::expect_runs([&](auto &args) { return tool(args); },
                    {{{"copy", ini, "1", "4"}, 2, "slot 4 of " + ini + " holds a preset already; add --force to replace it"},
                     {{"copy", ini, "3", "5"}, 2, "preset 3 of " + ini + " is empty: nothing to copy"},
                     {{"copy", ini, "7", "5"}, 2, "preset 7 of " + ini + " is damaged"},
                     {{"copy", ini, "1", "1"}, 2, "preset 1 onto itself"},
                     {{"copy", ini, "1", "10"}, 2, "slots are 0 to 9"}});
  EXPECT_EQ(test::read_text(ini), before);
  EXPECT_EQ(tool({"copy", ini, "1", other, "2"}).status, 0);
  EXPECT_EQ(tool({"copy", ini, "Pos1", "4", "--force"}).status, 0);
  const std::vector<u32> first = recall(ini, 1);
  EXPECT_EQ(recall(ini, 4), first);
  EXPECT_EQ(recall(other, 2), first);
}

TEST_F(Presets, TheCommandLineExplainsItselfAndNamesMistakes) {
  test::expect_runs([&](auto &args) { return tool(args); },
                    {{{"--help"}, 0, "zephal-presets import presets.txt FILE"},
                     {{}, 2, "usage:"},
                     {{"show", ini}, 2, "unknown command show (list, export, import or copy"},
                     {{"list"}, 2, "usage: zephal-presets list FILE"},
                     {{"list", ini, "--force"}, 2, "--force goes with copy"},
                     {{"list", dir / "none.ini"}, 2, "cannot find " + dir / "none.ini" + " (the plug-in makes a track's freecam.ini"}});
}

}  // namespace
