// The plug-in as the loader meets it: zephal.so loaded with dlopen, seen only
// through its four exports, applied to the stand-in game with the loader's
// context. The settings file is watched with inotify, so that "the settings
// were read" is something the test observes rather than assumes.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "host/game.h"
#include "host/loader.h"
#include "host/win32.h"

namespace {

struct expected_def {
  const char *name;
  u32 kind, rva, len;
  const char *expect;
};
const expected_def table[7] = {
    {"zephal.freecam.case7", 1, 0x415b9, 5, "e8 02 dd ff ff"},
    {"zephal.freecam.case30", 1, 0x4143c, 5, "e8 7f de ff ff"},
    {"zephal.ui.arm1", 1, 0x1112dc, 5, "e8 5f ff ff ff"},
    {"zephal.ui.arm2", 1, 0x112310, 5, "e8 2b ef ff ff"},
    {"zephal.ui.arm3", 1, 0x1124dd, 5, "e8 5e ed ff ff"},
    {"zephal.snapshot", 2, 0x11bbe0, 8, "53 51 52 56 57 55 89 e5"},
    {"zephal.frame", 1, 0x111328, 5, "e8 33 90 00 00"},
};
const std::vector<u8> original_case7 = {0xe8, 0x02, 0xdd, 0xff, 0xff};

u32 branch_target(const std::vector<u8> &b, u32 site) {
  u32 disp;
  memcpy(&disp, b.data() + 1, 4);
  return site + 5 + disp;
}

// Files opened in one folder, as inotify reports them.
class open_watch {
 public:
  explicit open_watch(const std::string &dir) : fd_(inotify_init1(IN_NONBLOCK)) {
    inotify_add_watch(fd_, dir.c_str(), IN_OPEN);
  }
  ~open_watch() { close(fd_); }
  // Names opened since the last call.
  std::vector<std::string> opened() {
    std::vector<std::string> names;
    alignas(inotify_event) char buf[4096];
    ssize_t n;
    while ((n = read(fd_, buf, sizeof buf)) > 0)
      for (char *p = buf; p < buf + n;) {
        auto *e = (inotify_event *)p;
        if (e->len) names.push_back(e->name);
        p += sizeof(inotify_event) + e->len;
      }
    return names;
  }
  bool saw(const std::string &name) {
    for (const std::string &s : opened())
      if (s == name) return true;
    return false;
  }

 private:
  int fd_;
};

class Module : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    loaded = host::load_module(ZEPHAL_SO_PATH, module, &error);
    load_error = error;
    char tmpl[] = "/tmp/zephal-loader-XXXXXX";
    dir = mkdtemp(tmpl);
    std::ofstream(dir + "/zephal.ini") << "[Zephal]\r\nEnabled=1\r\n";
    host::set_module_path(host::windows_path(dir) + "\\game.exe");
  }
  static void TearDownTestSuite() {
    std::remove((dir + "/zephal.ini").c_str());
    rmdir(dir.c_str());
  }
  void SetUp() override {
    ASSERT_TRUE(loaded) << load_error;
    ASSERT_TRUE(host::game_reset());
    host::loader_reset();
    ctx = host::loader_context();
  }
  const std::vector<host::write_record> &writes() { return host::loader_writes(); }
  const std::vector<std::string> &log() { return host::loader_messages(); }

  static inline host::z9_module module;
  static inline bool loaded = false;
  static inline std::string load_error, dir;
  z9_ctx ctx{};
};

TEST_F(Module, ManifestAndTableAreWhatTheLoaderExpects) {
  const z9_manifest &m = *module.manifest;
  EXPECT_EQ(m.abi, 1u);
  EXPECT_STREQ(m.id, "zephal.freecam");
  EXPECT_STREQ(m.description, "Zephal: manual free camera (type 7) with car bind");
  EXPECT_STREQ(m.version, "0.7.4");
  EXPECT_EQ(m.loader_param, 90u);
  EXPECT_STREQ(m.check_hex, "e8 02 dd ff ff");
  EXPECT_EQ(m.check_rva, 0x415b9u);
  for (u32 s : m.spare) EXPECT_EQ(s, 0u);

  ASSERT_EQ(module.def_count, 7u);
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(table[i].name);
    const z9_def &d = module.defs[i];
    EXPECT_STREQ(d.name, table[i].name);
    EXPECT_EQ(d.kind, table[i].kind);
    EXPECT_EQ(d.rva, table[i].rva);
    EXPECT_EQ(d.len, table[i].len);
    EXPECT_STREQ(d.expect, table[i].expect);
    EXPECT_EQ(d.bytes, nullptr);
    EXPECT_EQ(d.spare, 0u);
    // Every target is one of the module's own stubs.
    EXPECT_GE(d.target, module.low);
    EXPECT_LT(d.target, module.high);
  }
  // Four stubs: both camera cases share one, so do the three interface sites.
  const z9_def *d = module.defs;
  EXPECT_EQ(d[0].target, d[1].target);
  EXPECT_EQ(d[2].target, d[3].target);
  EXPECT_EQ(d[3].target, d[4].target);
  std::vector<u32> stubs = {d[0].target, d[2].target, d[5].target, d[6].target};
  for (size_t i = 0; i < stubs.size(); ++i)
    for (size_t j = i + 1; j < stubs.size(); ++j) EXPECT_NE(stubs[i], stubs[j]);
  // The module lies within rel32 reach of the game: every stub below 0x80400000.
  EXPECT_TRUE(host::module_in_reach(module));
  for (u32 stub : stubs) EXPECT_LT(stub, 0x80400000u);
}

TEST_F(Module, AppliesAllSevenSitesInTableOrder) {
  ASSERT_EQ(module.apply(&ctx), 1u) << host::loader_log_text();
  EXPECT_TRUE(log().empty());
  ASSERT_EQ(writes().size(), 7u);
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(table[i].name);
    const host::write_record &w = writes()[i];
    const z9_def &d = module.defs[i];
    const u32 site = 0x400000 + table[i].rva;
    EXPECT_EQ(w.rva, table[i].rva);
    EXPECT_EQ(w.name, d.name);  // the table's own pointer
    EXPECT_TRUE(w.written);
    ASSERT_EQ(w.bytes.size(), table[i].len);
    EXPECT_EQ(w.bytes[0], table[i].kind == 1 ? 0xe8 : 0xe9);
    EXPECT_EQ(branch_target(w.bytes, site), d.target);
    for (u32 k = 5; k < table[i].len; ++k) EXPECT_EQ(w.bytes[k], 0x90);
    EXPECT_EQ(host::bytes_at(site, table[i].len), w.bytes);
  }
  // The stubs always let the frame and tick routines run.
  host::frame_pass();
  host::replay_ticks(2);
  EXPECT_EQ(host::entry_of(host::routine::frame).calls, 1u);
  EXPECT_EQ(host::entry_of(host::routine::tick).calls, 2u);
}

TEST_F(Module, RefusedContextsWriteAndLogNothing) {
  open_watch watch(dir);
  z9_ctx v2 = ctx, moved = ctx;
  v2.version = 2;
  moved.image_base = 0x500000;
  EXPECT_EQ(module.apply(nullptr), 0u);
  EXPECT_EQ(module.apply(&v2), 0u);
  EXPECT_EQ(module.apply(&moved), 0u);
  EXPECT_TRUE(writes().empty());
  EXPECT_TRUE(log().empty());
  EXPECT_FALSE(watch.saw("zephal.ini"));  // not even the settings were read
  EXPECT_EQ(host::bytes_at(host::site_case7, 5), original_case7);
}

TEST_F(Module, ChangedGameBuildFailsAtTheFirstSiteAfterTheSettings) {
  const u8 changed[1] = {0x02 ^ 0x40};
  ASSERT_EQ(host::loader_write(0x415ba, changed, 1, "test"), 1);
  host::loader_reset();
  std::string error;
  EXPECT_FALSE(host::module_fits_game(module, &error));
  EXPECT_EQ(error, "loader: game build mismatch: RVA 0x415B9 does not hold \"e8 02 dd ff ff\"");

  open_watch watch(dir);
  EXPECT_EQ(module.apply(&ctx), 0u);
  EXPECT_EQ(log(), std::vector<std::string>{"def zephal.freecam.case7: expected mismatch @ RVA 0x415B9"});
  EXPECT_TRUE(writes().empty());
  EXPECT_TRUE(watch.saw("zephal.ini"));
}

// The settings are in before the loader is asked for the first patch.
std::vector<std::string> opened_at_first_write;
open_watch *first_write_watch = nullptr;
i32 watching_write(u32 rva, const u8 *bytes, u32 len, const char *name) {
  if (host::loader_writes().empty()) opened_at_first_write = first_write_watch->opened();
  return host::loader_write(rva, bytes, len, name);
}

TEST_F(Module, SettingsAreReadBeforeTheFirstPatch) {
  open_watch watch(dir);
  first_write_watch = &watch;
  opened_at_first_write.clear();
  z9_ctx c = ctx;
  c.write = &watching_write;
  ASSERT_EQ(module.apply(&c), 1u);
  EXPECT_NE(std::find(opened_at_first_write.begin(), opened_at_first_write.end(), "zephal.ini"),
            opened_at_first_write.end());
  first_write_watch = nullptr;
}

TEST_F(Module, SecondApplyFailsAtTheFirstDefinition) {
  ASSERT_EQ(module.apply(&ctx), 1u);
  std::vector<u8> patched = host::bytes_at(host::site_case7, 5);
  EXPECT_EQ(module.apply(&ctx), 0u);
  EXPECT_EQ(log(), std::vector<std::string>{"def zephal.freecam.case7: expected mismatch @ RVA 0x415B9"});
  EXPECT_EQ(writes().size(), 7u);
  EXPECT_EQ(host::bytes_at(host::site_case7, 5), patched);
}

TEST_F(Module, FailingFifthWriteKeepsFourPatchesQuietly) {
  host::loader_fail_write_at(5);
  EXPECT_EQ(module.apply(&ctx), 0u);
  EXPECT_TRUE(log().empty());
  ASSERT_EQ(writes().size(), 5u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(writes()[i].written);
    EXPECT_EQ(host::bytes_at(0x400000 + table[i].rva, 5), writes()[i].bytes) << table[i].name;
  }
  EXPECT_FALSE(writes()[4].written);
  EXPECT_EQ(host::bytes_at(host::site_arm3, 5), (std::vector<u8>{0xe8, 0x5e, 0xed, 0xff, 0xff}));
  EXPECT_EQ(host::bytes_at(host::tick_routine, 8), (std::vector<u8>{0x53, 0x51, 0x52, 0x56, 0x57, 0x55, 0x89, 0xe5}));
  EXPECT_EQ(host::bytes_at(host::site_frame, 5), (std::vector<u8>{0xe8, 0x33, 0x90, 0x00, 0x00}));
}

TEST_F(Module, LoaderReportsEachStepAndPlainErrors) {
  host::z9_module m;
  std::string report;
  EXPECT_EQ(host::load_and_apply(ZEPHAL_SO_PATH, ctx, m, &report), 1u);
  EXPECT_EQ(report, host::module_placement(module) + "\nloader: zephal.freecam 0.7.4, 7 definitions\n"
                    "loader: Z9_Apply returned 1\n");
  EXPECT_NE(report.find(": within rel32 reach of the game at 0x400000"), std::string::npos) << report;
  EXPECT_EQ(m.apply, module.apply);  // the same module, not a second copy

  // The game now holds the patches, so the build check refuses it.
  EXPECT_EQ(host::load_and_apply(ZEPHAL_SO_PATH, ctx, m, &report), 0u);
  EXPECT_NE(report.find("loader: game build mismatch"), std::string::npos) << report;
  EXPECT_EQ(report.find("Z9_Apply"), std::string::npos) << report;

  std::string error;
  EXPECT_FALSE(host::load_module("/nonexistent/zephal.so", m, &error));
  EXPECT_EQ(error.rfind("loader: cannot load /nonexistent/zephal.so: ", 0), 0u) << error;
  EXPECT_FALSE(host::load_module("libm.so.6", m, &error));
  EXPECT_EQ(error, "loader: libm.so.6 does not export z9_manifest_data");
}

}  // namespace
