// The hex patterns and the definition walk, on the stand-in game's code pages
// and through the stand-in loader's context, whose write mprotects as Windows does.
#include "host/loader.h"
#include "tests/support.h"
#include "z9sdk/apply.h"

namespace {

using bytes = std::vector<u8>;
using host::bytes_at, test::branch_bytes;


z9_def def(u32 kind, u32 rva, u32 len, const char *expect, u32 target, const char *name) {
  return z9_def{kind, rva, len, expect, target, nullptr, 0, name};
}

struct Walk : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(host::game_reset());
    host::loader_reset();
  }
  u32 walk(std::vector<z9_def> defs, u32 pool = 0) {
    z9_ctx ctx = host::loader_context(pool);
    return z9sdk_apply_defs(&ctx, defs.data(), (u32)defs.size());
  }
  const std::vector<std::string> &log() { return host::loader_messages(); }
  const std::vector<host::write_record> &writes() { return host::loader_writes(); }
};

TEST(HexPattern, DigitValuesOfEveryCharacter) {
  for (int c = -128; c < 128; ++c)
    EXPECT_EQ(z9_hexv_((char)c), c >= 0 && isxdigit(c) ? (int)strtol(std::string(1, (char)c).c_str(), nullptr, 16) : -1) << c;
}

TEST(HexPattern, SeparatorsCaseWildcardsAndLength) {
  ASSERT_TRUE(host::game_reset());
  const u8 *site = (const u8 *)(uintptr_t)host::site_case7, other[5] = {0x17, 0x02, 0xdd, 0xff, 0x00};
  const struct { const u8 *mem; const char *pattern; u32 len; i32 match; } cases[] = {
      {site, "e8 02 dd ff ff", 5, 1}, {site, "E8 02 DD FF FF", 5, 1},   {site, "e802ddffff", 5, 1},
      {site, "e8,02,dd,ff,ff", 5, 1}, {site, "e 8 0 2 d d f f f f", 5, 1}, {site, "e8 g02 zz-dd:ff\tfF", 5, 1},
      {site, "e9 02 dd ff ff", 5, 0}, {site, "e8 02 dd ff fe", 5, 0},   {site, "0xe8 02 dd ff ff", 5, 0},  // 0x: a token
      {site, "?? ?? ?? ?? ??", 5, 1}, {site, "? 8 02 dd ff ff", 5, 1},  {other, "?8 02 dd ff ff", 5, 0},
      {site, "?0 02 dd ff ff", 5, 1}, {site, "0? 02 dd ff ff", 5, 1},   // a ? makes the whole byte free
      {site, "?", 1, 1},              {site, "?", 2, 0},                // a lone ? is half a byte
      {site, "e8 02 dd ff f", 5, 1},  {site, "e8 02 dd ff 0", 5, 1},    {other, "?8 02 dd ff f", 5, 1},  // odd count
      {site, "e8 02 dd f", 5, 0},     {site, "e8 02 dd ff", 5, 0},      {site, "", 1, 0},
      {site, "e8 02 dd ff ff 12", 5, 1}, {site, "e8 02 dd ff ff zz ?", 5, 1}, {site, "e8 02 dd ff 00", 4, 1},
      {site, "zz", 0, 1},             {site, nullptr, 0, 1},            // len 0 never reads the pattern
  };
  for (auto &c : cases)
    EXPECT_EQ(z9sdk_hex_match(c.mem, c.len, c.pattern), c.match) << (c.pattern ? c.pattern : "null") << " / " << c.len;
}

TEST_F(Walk, EachKindWritesItsBytesThroughTheLoader) {
  const u32 stub = 0x10001230, pool = 0x20000000, far = 0x441205 + 0x7fffffffu;
  u8 raw[100];
  for (u32 i = 0; i < sizeof raw; ++i) raw[i] = (u8)(i * 7 + 1);
  const struct { z9_def d; bytes want; } rows[] = {
      {def(1, 0x415b9, 5, "e8 02 dd ff ff", stub, "call"), branch_bytes(0xe8, 0x4415b9, stub, 5)},
      {def(1, 0x4143c, 9, "e8 7f de ff ff c3 cc cc cc", stub, "call9"), branch_bytes(0xe8, 0x44143c, stub, 9)},
      {def(2, 0x11bbe0, 8, "53 51 52 56 57 55 89 e5", stub, "jmp"), branch_bytes(0xe9, 0x51bbe0, stub, 8)},
      {def(0, 0x1112dc, 5, nullptr, stub + 1, "zero"), branch_bytes(0xe9, 0x5112dc, stub + 1, 5)},
      {def(7, 0x112310, 5, nullptr, stub + 2, "seven"), branch_bytes(0xe9, 0x512310, stub + 2, 5)},
      {def(5, 0x1124dd, 5, "e8 5e ed ff ff", 0x1234, "callpool"), branch_bytes(0xe8, 0x5124dd, pool + 0x1234, 5)},
      {def(6, 0x111328, 6, "e8 33 90 00 00 c3", 0x10, "jmppool"), branch_bytes(0xe9, 0x511328, pool + 0x10, 6)},
      {def(2, 0x11a360, 64, nullptr, stub, "len64"), branch_bytes(0xe9, 0x51a360, stub, 64)},
      {def(1, 0x41200, 5, nullptr, far, "farthest"), branch_bytes(0xe8, 0x441200, far, 5)},  // reach's edge
      {z9_def{3, 0x13f2c0, sizeof raw, nullptr, 0, raw, 0, "raw"}, bytes(raw, raw + sizeof raw)},
      {z9_def{3, 0x41000, 2, "cc cc", 0, raw, 0, "raw2"}, bytes(raw, raw + 2)},
      {z9_def{4, 0x41100, 0, "00", 0, nullptr, 0, "skip"}, {}},  // nothing checked or written
  };
  std::vector<z9_def> defs;
  for (auto &r : rows) defs.push_back(r.d);
  ASSERT_EQ(walk(defs, pool), 1u) << host::loader_log_text();
  EXPECT_TRUE(log().empty());
  ASSERT_EQ(writes().size(), std::size(rows) - 1);
  for (size_t i = 0; i + 1 < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].d.name);
    const host::write_record &w = writes()[i];
    EXPECT_EQ(std::tie(w.rva, w.name, w.bytes), std::tie(rows[i].d.rva, rows[i].d.name, rows[i].want));  // name: its pointer
    EXPECT_EQ(bytes_at(0x400000 + w.rva, (u32)w.bytes.size()), rows[i].want);
    EXPECT_EQ(host::protection(0x400000 + w.rva), "r-x");  // given back as the game's code always is
  }

  // A null pattern writes over whatever the site holds, even our own branch.
  ASSERT_EQ(walk({def(2, 0x415b9, 5, nullptr, 0x10000100, "again")}), 1u);
  EXPECT_EQ(bytes_at(host::site_case7, 5), branch_bytes(0xe9, 0x4415b9, 0x10000100, 5));
}

TEST_F(Walk, EachFailureRowHasItsMessageAndEndsTheWalkKeepingEarlierWrites) {
  u8 raw[5] = {};
  // Each row between two good ones: its message (null: it fails without a
  // word), and whether the loader refuses its write.
  const struct { z9_def d; u32 pool; const char *message; int fail_write = 0; } rows[] = {
      {def(1, 0x415b9, 5, "e8 7f de ff ff", 0x10000000, "case7"), 0, "def case7: expected mismatch @ RVA 0x415B9"},
      {z9_def{3, 0x1124dd, 5, "e8 5e ed ff fe", 0, raw, 0, "arm3"}, 0, "def arm3: expected mismatch @ RVA 0x1124DD"},
      {def(1, 0x415b9, 5, "00", 0x10000000, nullptr), 0, "def ?: expected mismatch @ RVA 0x415B9"},
      // Pool kinds without a pool, though their pattern matched.
      {def(5, 0x415b9, 5, "e8 02 dd ff ff", 0x10, "pooled"), 0, "def pooled: pool target, но пул не выдан"},
      {def(6, 0x415b9, 5, "e8 02 dd ff ff", 0x10, nullptr), 0, "def ?: pool target, но пул не выдан"},
      // One byte beyond +2^31-1 (wrapping would take it for -2^31), and 2^31 + 1 back.
      {def(1, 0x415b9, 5, nullptr, 0x4415be + 0x80000000u, "far"), 0, "def far: rel32 недостижим"},
      {def(1, 0x415b9, 5, nullptr, 0xffffffffu, nullptr), 0, "def ?: rel32 недостижим"},
      {def(5, 0x415b9, 5, nullptr, 0x80000000u, "farpool"), 0x4415be, "def farpool: rel32 недостижим"},
      {def(1, 0x80000000, 5, nullptr, 0x400004, "back"), 0, "def back: rel32 недостижим"},
      // Branch lengths outside 5..64 fail before the pattern is looked at.
      {def(1, 0x415b9, 4, "00", 0x10000000, "len4"), 0, nullptr},
      {def(2, 0x415b9, 65, "00", 0x10000000, "len65"), 0, nullptr},
      {def(1, 0x415b9, 0, "00", 0x10000000, "len0"), 0, nullptr},
      {def(1, 0x415b9, 5, nullptr, 0x10000000, "refused"), 0, nullptr, 1},
      {z9_def{3, 0x415b9, 5, nullptr, 0, raw, 0, "raw refused"}, 0, nullptr, 1},
      {def(1, 0x80000000, 5, nullptr, 0x400005, nullptr), 0, nullptr, 1},  // must stay last
  };
  const z9_def before = def(1, 0x4143c, 5, nullptr, 0x10000010, "before");
  const z9_def after = def(1, 0x112310, 5, nullptr, 0x10000020, "after");
  for (auto &r : rows) {
    SCOPED_TRACE(r.message ? r.message : r.d.name);
    host::loader_reset();
    host::loader_fail_write_at(r.fail_write ? 2 : 0);
    EXPECT_EQ(walk({before, r.d, after}, r.pool), 0u);
    EXPECT_EQ(log(), r.message ? std::vector<std::string>{r.message} : std::vector<std::string>{});
    ASSERT_EQ(writes().size(), 1u + r.fail_write);  // the walk stopped there
    EXPECT_EQ(bytes_at(host::site_case30, 5), branch_bytes(0xe8, 0x44143c, 0x10000010, 5));  // and kept this
  }
  // Exactly 2^31 back is within reach (the loader then refuses a site outside the game).
  EXPECT_EQ(writes()[1].bytes, branch_bytes(0xe8, 0x80400000, 0x400005, 5));
  EXPECT_EQ(writes()[1].name, nullptr);

  z9_ctx v2 = host::loader_context();  // a context of another version is refused
  v2.version = 2;
  EXPECT_EQ(z9sdk_apply_defs(nullptr, &before, 1) + z9sdk_apply_defs(&v2, &before, 1), 0u);
  EXPECT_EQ(writes().size(), 2u);  // still those of the last row
}

}  // namespace
