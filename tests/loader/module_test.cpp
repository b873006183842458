// The plug-in as the loader meets it: zephal.so through its four exports, on
// the stand-in game; inotify tells when the settings file was read.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <set>

#include "host/loader.h"
#include "tests/support.h"

namespace {

struct expected_def {
  const char *name;
  u32 kind, rva, len;
  const char *expect;
} const table[7] = {
    {"zephal.freecam.case7", 1, 0x415b9, 5, "e8 02 dd ff ff"},  {"zephal.freecam.case30", 1, 0x4143c, 5, "e8 7f de ff ff"},
    {"zephal.ui.arm1", 1, 0x1112dc, 5, "e8 5f ff ff ff"},       {"zephal.ui.arm2", 1, 0x112310, 5, "e8 2b ef ff ff"},
    {"zephal.ui.arm3", 1, 0x1124dd, 5, "e8 5e ed ff ff"},       {"zephal.snapshot", 2, 0x11bbe0, 8, "53 51 52 56 57 55 89 e5"},
    {"zephal.frame", 1, 0x111328, 5, "e8 33 90 00 00"},
};
std::vector<u8> site_bytes(int i) { return host::bytes_at(0x400000 + table[i].rva, table[i].len); }

// Whether the settings file was opened since the last look.
struct ini_watch {
  int fd = inotify_init1(IN_NONBLOCK);
  explicit ini_watch(const std::string &path) { inotify_add_watch(fd, path.c_str(), IN_OPEN); }
  ~ini_watch() { close(fd); }
  bool opened() {
    alignas(inotify_event) char events[4096];
    bool seen = false;
    while (read(fd, events, sizeof events) > 0) seen = true;
    return seen;
  }
};

struct Module : ::testing::Test {
  static void SetUpTestSuite() {
    loaded = host::load_module(ZEPHAL_SO_PATH, module, &load_error);
    test::write_text(dir / "zephal.ini", "[Zephal]\r\nEnabled=1\r\n");
    host::set_module_path(host::windows_path(dir.path) + "\\game.exe");
  }
  void SetUp() override {
    ASSERT_TRUE(loaded) << load_error;
    ASSERT_TRUE(host::game_reset());
    host::loader_reset();
  }
  const std::vector<host::write_record> &writes() { return host::loader_writes(); }
  const std::vector<std::string> &log() { return host::loader_messages(); }

  static inline host::z9_module module;
  static inline bool loaded = false;
  static inline std::string load_error;
  static inline test::temp_dir dir;
  z9_ctx ctx = host::loader_context();
  ini_watch watch{dir / "zephal.ini"};
};

// The settings are in before the loader is asked for the first patch.
ini_watch *first_write_watch;
bool read_before_first_write;
i32 watching_write(u32 rva, const u8 *bytes, u32 len, const char *name) {
  if (host::loader_writes().empty()) read_before_first_write = first_write_watch->opened();
  return host::loader_write(rva, bytes, len, name);
}

TEST_F(Module, AppliesAllSevenSitesInTableOrderAfterReadingTheSettings) {
  first_write_watch = &watch;
  ctx.write = &watching_write;
  ASSERT_EQ(module.apply(&ctx), 1u) << host::loader_log_text();
  EXPECT_TRUE(read_before_first_write);
  EXPECT_TRUE(log().empty());
  ASSERT_EQ(module.def_count, 7u);
  ASSERT_EQ(writes().size(), 7u);
  const z9_def *d = module.defs;
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(table[i].name);
    EXPECT_EQ(std::make_tuple(std::string(d[i].name), d[i].kind, d[i].rva, d[i].len, std::string(d[i].expect)),
              std::make_tuple(table[i].name, table[i].kind, table[i].rva, table[i].len, table[i].expect));
    // A call or jump to one of the module's own stubs, NOPs after it.
    const std::vector<u8> want = test::branch_bytes(table[i].kind == 1 ? 0xe8 : 0xe9, 0x400000 + table[i].rva, d[i].target, table[i].len);
    EXPECT_TRUE(d[i].target >= module.low && d[i].target < module.high);
    const host::write_record &w = writes()[i];
    EXPECT_EQ(std::make_tuple(w.rva, w.name, w.written, w.bytes), std::make_tuple(table[i].rva, d[i].name, true, want));
    EXPECT_EQ(site_bytes(i), want);
  }
  // Four stubs: both camera cases share one, so do the three interface sites.
  EXPECT_EQ((std::vector<u32>{d[1].target, d[3].target, d[4].target}), (std::vector<u32>{d[0].target, d[2].target, d[2].target}));
  EXPECT_EQ(std::set<u32>({d[0].target, d[2].target, d[5].target, d[6].target}).size(), 4u);
}

TEST_F(Module, RefusedContextsWriteAndLogNothing) {
  const z9_ctx v2 = {2, ctx.image_base, 0, ctx.write, ctx.log}, moved = {1, 0x500000, 0, ctx.write, ctx.log};
  for (const z9_ctx *c : std::vector<const z9_ctx *>{nullptr, &v2, &moved}) EXPECT_EQ(module.apply(c), 0u);
  EXPECT_TRUE(writes().empty());
  EXPECT_TRUE(log().empty());
  EXPECT_FALSE(watch.opened());  // not even the settings were read
}

TEST_F(Module, DifferentBytesAtTheFirstSiteFailItAfterTheSettingsWereRead) {
  for (bool second_apply : {false, true}) {  // a changed game build; a game already patched
    ASSERT_TRUE(host::game_reset());
    const u8 changed[1] = {0x02 ^ 0x40};
    ASSERT_EQ(second_apply ? module.apply(&ctx) : host::loader_write(0x415ba, changed, 1, "test"), 1u);
    const std::vector<u8> site = site_bytes(0);
    host::loader_reset();
    watch.opened();
    EXPECT_EQ(module.apply(&ctx), 0u);
    EXPECT_EQ(log(), std::vector<std::string>{"def zephal.freecam.case7: expected mismatch @ RVA 0x415B9"});
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(site_bytes(0), site);
    EXPECT_TRUE(watch.opened());
  }
  std::string error;  // which the loader's own build check sees too
  EXPECT_FALSE(host::module_fits_game(module, &error));
  EXPECT_EQ(error, "loader: game build mismatch: RVA 0x415B9 does not hold \"e8 02 dd ff ff\"");
}

TEST_F(Module, FailingFifthWriteKeepsFourPatchesQuietly) {
  std::vector<u8> original[7];
  for (int i = 0; i < 7; ++i) original[i] = site_bytes(i);
  host::loader_fail_write_at(5);
  EXPECT_EQ(module.apply(&ctx), 0u);
  EXPECT_TRUE(log().empty());
  ASSERT_EQ(writes().size(), 5u);
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(writes()[std::min(i, 4)].written, i < 4) << table[i].name;
    EXPECT_EQ(site_bytes(i), i < 4 ? writes()[i].bytes : original[i]) << table[i].name;
  }
}

TEST_F(Module, LoaderReportsEachStepAndPlainErrors) {
  host::z9_module m;
  std::string report, error;
  EXPECT_EQ(host::load_and_apply(ZEPHAL_SO_PATH, ctx, m, &report), 1u);
  EXPECT_EQ(report, host::module_placement(module) + "\nloader: zephal.freecam 0.7.4, 7 definitions\nloader: Z9_Apply returned 1\n");
  EXPECT_FALSE(host::load_module("/nonexistent/zephal.so", m, &error));
  EXPECT_EQ(error.rfind("loader: cannot load /nonexistent/zephal.so: ", 0), 0u) << error;
  EXPECT_FALSE(host::load_module("libm.so.6", m, &error));
  EXPECT_EQ(error, "loader: libm.so.6 does not export z9_manifest_data");
}

}  // namespace
