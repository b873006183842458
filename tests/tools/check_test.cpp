// zephal-check on game executables made here from the stand-in game's code,
// and on settings files with every kind of slip, its verdicts compared with
// what the plug-in itself does with the same bytes.
#include <functional>
#include <map>
#include <random>

#include "host/loader.h"
#include "patches/hooks.h"
#include "tests/kit/settings.h"
#include "tests/support.h"
#include "z9sdk/apply.h"

namespace {

using bytes = std::vector<u8>;
using std::string;

void put16(bytes &b, u32 at, u16 v) { memcpy(&b[at], &v, 2); }
void put32(bytes &b, u32 at, u32 v) { memcpy(&b[at], &v, 4); }

using namespace host::game_exe_layout;
using host::game_exe;

struct Check : ::testing::Test {
  test::temp_dir dir;
  test::ran check(const std::vector<string> &args) { return kit::run(ZEPHAL_RUNNER, ZEPHAL_CHECK, args); }
  test::ran check_game(const bytes &exe, const std::vector<string> &more = {}) {
    test::write_text(dir / "game.exe", string(exe.begin(), exe.end()));
    std::vector<string> args = {dir / "game.exe"};
    args.insert(args.end(), more.begin(), more.end());
    return check(args);
  }
};

// The table row of a place: its verdict word.
string verdict(const test::ran &r, const string &place) {
  size_t at = r.out.find("\n  " + place + " ");
  if (at == string::npos) return "(no row)";
  string row = r.out.substr(at + 1, r.out.find('\n', at + 1) - at - 1);
  for (const char *v : {"fits", "DIFFERS", "MISSING"})
    if (row.find(v) != string::npos) return v;
  return row;
}

TEST_F(Check, AFittingBuildFitsAtEveryPlace) {
  const test::ran r = check_game(game_exe());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  for (const char *place : {"image base", "build check"}) EXPECT_EQ(verdict(r, place), "fits") << place;
  for (const z9_def &d : defs) EXPECT_EQ(verdict(r, d.name), "fits") << d.name;
  EXPECT_TRUE(r.has("This game build fits Zephal 0.7.4")) << r.out;
}

TEST_F(Check, AChangedByteAtAnyPlaceIsNamedAsTheLoaderAndThePlugInReportIt) {
  const bytes good = game_exe();
  for (const z9_def &d : defs) {
    bytes exe = good;
    exe[file_offset(d.rva + d.len - 1)] ^= 0x01;
    const test::ran r = check_game(exe);
    EXPECT_EQ(r.status, 1) << d.name;
    for (const z9_def &other : defs)
      EXPECT_EQ(verdict(r, other.name), &other == &d ? "DIFFERS" : "fits") << d.name << ": " << other.name;

    // The same byte changed in the running game: what the plug-in logs.
    ASSERT_TRUE(host::game_reset());
    const u8 changed = exe[file_offset(d.rva + d.len - 1)];
    host::loader_write(d.rva + d.len - 1, &changed, 1, "test");
    host::loader_reset();
    const z9_ctx ctx = host::loader_context();
    EXPECT_EQ(z9sdk_apply_defs(&ctx, defs, zp_def_count), 0u);
    ASSERT_FALSE(host::loader_messages().empty());
    if (d.rva == 0x415b9) {  // the manifest's build check names this place: the loader refuses
      EXPECT_EQ(verdict(r, "build check"), "DIFFERS");
      EXPECT_TRUE(r.has("does not fit Zephal 0.7.4: the loader's build check at RVA 0x415B9 fails")) << r.out;
    } else {
      EXPECT_EQ(verdict(r, "build check"), "fits");
      EXPECT_TRUE(r.has("  " + host::loader_messages().back() + "\n")) << r.out;
    }
  }
}

TEST_F(Check, DamagedForeignOrMissingFilesGetAClearErrorAndNoCrash) {
  const bytes good = game_exe();
  const u32 cut_at = file_offset(0x1112dc);  // in the middle of the code, before the replay interface places
  struct row {
    const char *what;
    std::function<void(bytes &)> change;
    int status;
    const char *says;
  } rows[] = {
      {"empty", [](bytes &b) { b.clear(); }, 2, "is empty"},
      {"text", [](bytes &b) { b.assign({'h', 'i', '\n'}); }, 2, "is not a Windows program"},
      {"headers cut", [](bytes &b) { b.resize(0x100); }, 2, "cut short or damaged"},
      {"header far away", [](bytes &b) { put32(b, 0x3c, 0xfffffff0); }, 2, "cut short or damaged"},
      {"no PE signature", [](bytes &b) { b[0x81] = 'X'; }, 2, "not a Windows PE program"},
      {"x64", [](bytes &b) { put16(b, coff, 0x8664); }, 2, "another processor (machine 0x8664, 64-bit x64)"},
      {"65535 sections", [](bytes &b) { put16(b, coff + 2, 0xffff); }, 2, "section table (65535 sections)"},
      {"a DLL", [](bytes &b) { put16(b, coff + 18, 0x2102); }, 2, "is a DLL, not the game's executable"},
      {"code cut", [&](bytes &b) { b.resize(cut_at); }, 1, "MISSING: the file ends before this place"},
      {"code beyond its raw data", [](bytes &b) { put32(b, sections + 16, 0x1000); }, 1, "MISSING: no code"},
      {"linked elsewhere", [](bytes &b) { put32(b, opt + 28, 0x500000); }, 1, "linked at 0x500000"},
  };
  for (const row &c : rows) {
    bytes exe = good;
    c.change(exe);
    const test::ran r = check_game(exe);
    EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.out << r.err;
    EXPECT_TRUE(r.has(c.says)) << c.what << "\n" << r.out << r.err;
  }
  EXPECT_EQ(verdict(check_game([&] { bytes b = good; b.resize(cut_at); return b; }()), "zephal.freecam.case7"), "fits");
  const test::ran not_plugin = check_game(good, {"--plugin", dir / "game.exe"});
  EXPECT_EQ(not_plugin.status, 2);
  EXPECT_TRUE(not_plugin.has("is not a Zephal plug-in")) << not_plugin.err;

  // Random damage to the headers and the section table: a verdict or an error, never a crash.
  std::mt19937 random(13);
  bytes small(good.begin(), good.begin() + text_file + 0x200);
  for (int i = 0; i < 25; ++i) {
    bytes exe = small;
    for (int k = 0; k < 4; ++k) exe[random() % text_file] = (u8)random();
    const int status = check_game(exe).status;
    EXPECT_TRUE(status == 1 || status == 2) << "run " << i << " ended with " << status;
  }
}

// The values the plug-in takes from a file.
std::map<string, f64> plug_in_reads(const string &dir, const string &text) {
  test::write_text(dir + "/zephal.ini", text);
  kit::load_settings(dir);
  std::map<string, f64> v;
  for (const zp_setting &s : zp_settings) v[s.key] = kit::setting_value(s);
  return v;
}

// The "used" column of zephal-check --ini, converted as the plug-in should.
std::map<string, f64> tool_reads(const test::ran &r) {
  std::map<string, f64> v;
  for (const zp_setting &s : zp_settings) {
    const size_t at = r.out.find("\n  " + string(s.key) + " ");
    if (at == string::npos) continue;
    char in_file[64];
    int used = 0;
    if (sscanf(r.out.c_str() + at, " %*s %63s %d", in_file, &used) == 2)
      v[s.key] = kit::converted(s, used);
  }
  return v;
}

TEST_F(Check, TheShippedSettingsFileIsTheTableAtItsDefaults) {
  const string shipped = test::read_text(ZEPHAL_INI);
  EXPECT_EQ(check({"--defaults"}).out, shipped);
  for (const zp_setting &s : zp_settings) {
    const string line = "\r\n" + string(s.key) + "=" + std::to_string(s.def) + "\r\n";
    const size_t at = shipped.find(line);
    ASSERT_NE(at, string::npos) << s.key;
    EXPECT_EQ(shipped.find(line, at + 1), string::npos) << s.key;
    const size_t comment = shipped.rfind("\r\n; ", at);
    EXPECT_EQ(shipped.find("\r\n", comment + 2), at) << s.key << ": one comment line right above";
  }
  EXPECT_NE(shipped.find("; comma (,): step the replay back"), string::npos);
  EXPECT_EQ(plug_in_reads(dir.path, shipped), plug_in_reads(dir.path, ""));
  const test::ran r = check({"--ini", ZEPHAL_INI});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(r.has("No warnings"));
  EXPECT_EQ(tool_reads(r), plug_in_reads(dir.path, shipped));
}

// Windows reads a UTF-16LE profile (its mark FF FE) as text; any other file
// is ANSI bytes, in which a UTF-8 mark hides the header on its line and a
// UTF-16BE file holds no section at all.
TEST_F(Check, EachSlipInASettingsFileIsWarnedOnItsLineWithWhatThePlugInMakesOfIt) {
  const auto mine = [](const string &lines) { return "; mine\r\n[Zephal]\r\n" + lines + "\r\n"; };  // slips on line 3
  const string text = "[Zephal]\r\nMoveSpeed=30\r\nKyeW=1\r\n";
  const std::pair<string, const char *> rows[] = {
      {mine("MovSpeed=20"), "line 3: \"MovSpeed\" is not a setting of the plug-in, so the line is ignored: did you mean MoveSpeed?"},
      {mine("MoveSpeed=fast"), "line 3: MoveSpeed=fast is not a whole number: the plug-in reads it as 0"},
      {mine("MoveSpeed=fast"), "line 3: MoveSpeed is 0: the free camera cannot move"},
      {mine("Boost=1.5"), "line 3: Boost=1.5 is not a whole number: the plug-in reads it as 1 (Boost counts tenths"},
      {mine("Boost=1.5"), "line 3: Boost=1 is below 10, the least the plug-in accepts: it uses 10"},
      {mine("RewindTicks=5000"), "line 3: RewindTicks=5000 is above 4096, the most the plug-in accepts: it uses 4096"},
      {mine("KeyW=99999999999"), "line 3: KeyW=99999999999 is out of range: the plug-in reads it as 1215752191"},
      {mine("KeyB="), "line 3: KeyB has no value: the default, 66, is used"},
      {mine("KeyW=65\r\nkeyw=87"), "line 4: KeyW is set again: only the first one (line 3) counts, so this line is ignored"},
      {mine("KeyW=65"), "line 3: KeyW and KeyA are both 65 (A): that key does \"move forward\" and \"move left\" at once"},
      {mine("KeyL=50"), "line 3: KeyL=50 is 2, which the plug-in also uses: in a replay the digit 2 recalls preset 2"},
      {mine("KeyA=162"), "line 3: KeyA=162 is left Ctrl, which the plug-in also uses"},
      {mine("KeyE=0"), "line 3: KeyE=0 is no key: \"roll the other way\" cannot be used"},
      {mine("#KeyB=1"), "line 3: \"#KeyB\" is not a setting of the plug-in, so the line is ignored (to turn a line off"},
      {mine("KeyB 20"), "line 3: \"KeyB 20\" is not a setting (KEY=VALUE), a [section] or a comment (;)"},
      {mine("[Zephal]\r\nKeyB=1"), "line 3: a second [Zephal] section: the plug-in reads only the first one (line 2)"},
      {mine("[Zepahl]"), "line 3: section [Zepahl] is not read: did you mean [Zephal]?"},
      {"KeyW=65\r\n[Zephal ]\r\n", "line 1: KeyW stands above the [Zephal] line, so the plug-in never reads it"},
      {test::utf16(text, true), "line 3: \"KyeW\" is not a setting of the plug-in, so the line is ignored: did you mean KeyW?"},
      {"\xef\xbb\xbf" + text, "line 1: the file starts with an invisible UTF-8 byte-order mark"},
      {test::utf16(text, false), "the file is saved as UTF-16 big-endian (Unicode), which Windows does not read"},
  };
  for (const auto &[bytes, warning] : rows) {
    test::write_text(dir / "zephal.ini", bytes);
    const test::ran r = check({"--ini", dir / "zephal.ini"});
    EXPECT_EQ(r.status, 1) << warning;
    EXPECT_TRUE(r.has("  " + string(warning))) << warning << "\n" << r.out;
    EXPECT_EQ(tool_reads(r), plug_in_reads(dir.path, bytes)) << warning;
  }
}

TEST_F(Check, TheSimulatorWarnsAboutItsScenariosSettingLinesBeforeTheRun) {
  test::write_text(dir / "s.scn", "frames 2\nsetting MovSpeed=20\nsetting KeyW = 83\n");
  const test::ran r = kit::run(ZEPHAL_RUNNER, ZEPHAL_SIM, {dir / "s.scn", "--quiet", "--game-dir", dir / "game", "--out", dir / "out"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("zephal-sim: warning: \"MovSpeed\" is not a setting of the plug-in, so the line is ignored: "
                        "did you mean MoveSpeed?\nzephal-sim: warning: KeyW and KeyS are both 83 (S)", 0), 0u) << r.out;
}

TEST_F(Check, TheCommandLineExplainsItselfAndNamesMistakes) {
  test::expect_runs([&](auto &args) { return check(args); },
                    {{{"--help"}, 0, "zephal-check --ini zephal.ini"},
                     {{"--version"}, 0, "zephal-check 0.7.4"},
                     {{}, 2, "usage:"},
                     {{"--frob"}, 2, "unknown option --frob"},
                     {{"--ini"}, 2, "--ini needs a file name after it"},
                     {{"a.exe", "b.exe"}, 2, "one game at a time"},
                     {{dir / "nothing.exe"}, 2, "cannot open"},
                     {{"--ini", dir / "none.ini"}, 2, "none.ini. Without a zephal.ini"}});
}

}  // namespace
