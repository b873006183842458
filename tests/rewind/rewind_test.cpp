// Snapshot ring, rewind and seek on the host's game image with real car objects and
// mark-section records, and the replay keys through the frame handler and host clock.
#include "patches/hooks.h"
#include "rewind/seek.h"
#include "tests/support.h"

namespace {

using host::word;
using bytes = std::vector<u8>;
using list = std::vector<std::string>;
constexpr u32 data_begin = host::code_end, data_end = host::image_end;

// What a slot copies besides cars and marks, in slot order: region 0x7c3c04
// (ahead of the cars), the seven regions, then the three effects regions.
constexpr struct span { u32 addr, len; } regions[] = {
    {0x7c3c04, 6308}, {0x829078, 40}, {0x8290b4, 4}, {0x8290cc, 1312}, {0x853b18, 104}, {0x5bf268, 12},
    {0x8b1bac, 36}, {0x5c3a68, 24}, {0x87f76c, 109536}, {0x5cd0bc, 6144}, {0x64f3c8, 1536}};

u8 pattern(u32 addr, u32 seed) {  // differs with address and seed
  u32 x = addr * 0x9e3779b1u + seed * 0x85ebca6bu;
  return (u8)(((x ^ x >> 13) * 0xc2b2ae35u) >> 24);
}
bytes mem(u32 addr, u32 len) { return bytes((u8 *)(uintptr_t)addr, (u8 *)(uintptr_t)addr + len); }
bytes image() { return mem(data_begin, data_end - data_begin); }
u32 &word_in(bytes &img, u32 addr) { return *(u32 *)(void *)&img[addr - data_begin]; }
// The first addresses where the game's data differs from want, or "".
std::string diff(const bytes &want) {
  std::string out;
  for (u32 a = data_begin, shown = 0; a < data_end && shown < 6; ++a)
    if (host::byte(a) != want[a - data_begin]) out += std::to_string(a) + " ", ++shown;
  return out;
}

struct Rewind : test::plugin {
  bytes marks;  // mark-section records
  std::vector<u32> car_objs;

  void SetUp() override {  // small slots unless a test wants more: one car, no marks, no effects
    test::plugin::SetUp();
    word(0x655b9c) = ~0u, cfg_rewind_effects = 0;
    cars(1);
  }
  void cars(u32 n) {
    car_objs.clear();
    for (u32 i = 0; i < n; ++i) car_objs.push_back(host::make_car(i, (f32)i, 0, 0));
    word(0x661a60) = n;
  }
  void mark_sections(u32 m) {
    marks.assign(m * 13844 + 1, 0);
    word(0x867504) = (u32)(uintptr_t)marks.data();
    word(0x655b9c) = m - 1;
  }
  void capture(u32 first, u32 last) {
    for (u32 t = first; t - first <= last - first; ++t) {
      word(0x7c3c04) = t * 7;  // tells the slots apart
      word(0x853b5c) = t;
      z9_zp_capture();
    }
  }
  // Patterns the game's data and the mark records, keeping the game mode, the
  // words that locate the marks and the car count and table.
  void fill(u32 seed) {
    bytes keep = mem(0x661a60, 0x128);
    u32 kept[] = {word(0x8290a0), word(0x655b9c), word(0x867504)};
    for (u32 a = data_begin; a < data_end; ++a) host::byte(a) = pattern(a, seed);
    for (u32 i = 0; i < marks.size(); ++i) marks[i] = pattern(i, seed + 77);
    memcpy((void *)(uintptr_t)0x661a60, keep.data(), keep.size());
    word(0x8290a0) = kept[0], word(0x655b9c) = kept[1], word(0x867504) = kept[2];
  }
};

TEST_F(Rewind, SlotHoldsHeaderRegionsCarsEffectsAndMarksInOrder) {
  for (auto [n, fx, m] : std::vector<std::array<u32, 3>>{{3, 1, 2}, {1, 0, 2}, {16, 0, 0}, {2, 1, 0}}) {
    SCOPED_TRACE(testing::Message() << n << " cars, effects " << fx << ", marks " << m);
    zp_ring_reset();
    cfg_rewind_ticks = 128, cfg_rewind_effects = fx;
    cars(n), mark_sections(m), fill(n);
    word(0x853b5c) = 300;
    z9_zp_capture();
    ASSERT_EQ(zp_slot_size, fx ? 2772 * n + 125072 + 8 * m : 2772 * n + 7856);
    const u8 *s = zp_ring + 300 % 128 * zp_slot_size;
    u32 off = 0;
    auto expect = [&](bytes want) {
      EXPECT_EQ(bytes(s + off, s + off + want.size()), want) << "at slot offset " << off;
      off += want.size();
    };
    u32 header[4] = {300, word(0x853b34), n, 0};
    expect(bytes((u8 *)header, (u8 *)(header + 4)));
    for (u32 i = 0; i < (fx ? 11 : 8); ++i) {
      expect(mem(regions[i].addr, regions[i].len));
      for (u32 k = 0; i == 0 && k < n; ++k) expect(mem(car_objs[k], 2772));
    }
    for (u32 i = 0; fx && i < m; ++i) expect(bytes(&marks[i * 13844 + 12], &marks[i * 13844 + 20]));
    EXPECT_EQ(off, zp_slot_size);
  }
}

// Captured at tick 500, scrambled, rewound from tick 503 with replay camera 3
// showing; then the captured bytes scrambled again and the slot restored again.
TEST_F(Rewind, RestoresEveryCapturedByteOnlyAndTheSameStateEachTime) {
  cfg_rewind_ticks = 128, cfg_rewind_effects = 1;
  cars(3), mark_sections(3), fill(1);
  word(0x853b5c) = 500;
  bytes captured = image(), captured_marks = marks;
  z9_zp_capture();
  fill(2);
  word(0x853b5c) = 503, word(0x8290b8) = 3;
  word(0x8290a0) = 0x51ed;  // the rewind neither looks at the mode nor keeps it
  bytes want = image();
  zp_rewind(-3);
  auto each_part = [&](auto f) {
    for (span r : regions) f(r.addr, r.len);
    for (u32 car : car_objs) f(car, 2772);  // the rest of each car object stays
  };
  each_part([&](u32 a, u32 n) { memcpy(&want[a - data_begin], &captured[a - data_begin], n); });
  word_in(want, 0x8290ac) = 1, word_in(want, 0x8290bc) = 5, word_in(want, 0x8290c4) = 3, word_in(want, 0x8290c0) = 1;
  word_in(want, 0x5bf268) = word_in(captured, 0x853b34) >> 1;
  EXPECT_EQ(diff(want), "");
  for (u32 b = 0; b < 3 * 13844; ++b)
    ASSERT_EQ(marks[b], b % 13844 - 12 < 8 ? captured_marks[b] : pattern(b, 2 + 77)) << b;
  EXPECT_EQ(test::log.back(), "zephal: rewound to tick 500 (-3)");

  const bytes restored_marks = marks;
  each_part([](u32 a, u32 n) { memset((void *)(uintptr_t)a, 0x5a, n); });
  for (u32 i = 0; i < 3; ++i) memset(&marks[i * 13844 + 12], 0x5a, 8);
  word(0x853b5c) = 503, zp_rewind(-3);
  EXPECT_EQ(diff(want), "");
  EXPECT_TRUE(marks == restored_marks);
}

TEST_F(Rewind, CarEntriesAndTheMarkArrayAreReadWhenCopying) {
  cfg_rewind_effects = 1;
  cars(3), mark_sections(2), fill(1);
  word(0x661a88 + 4) = word(0x867504) = 0;  // car 1 and the mark array missing at capture
  capture(40, 40);
  word(0x661a88 + 4) = car_objs[1], word(0x661a88 + 8) = 0;  // car 1 back, car 2 gone at restore
  word(0x867504) = (u32)(uintptr_t)marks.data();
  bytes car2 = mem(car_objs[2], 0xc00);
  word(0x853b5c) = 41, zp_rewind(-1);
  EXPECT_EQ(mem(car_objs[1], 2772), bytes(2772, 0));
  EXPECT_EQ(mem(car_objs[2], 0xc00), car2);
  for (u32 b : {12u, 19u, 13844u + 12, 13844u + 19}) EXPECT_EQ(marks[b], 0) << b;
  word(0x867504) = 0;  // no mark array at restore: no record is written
  for (u8 &b : marks) b = 0xee;
  word(0x853b5c) = 41, zp_rewind(-1);
  EXPECT_EQ(marks, bytes(marks.size(), 0xee));
}

TEST_F(Rewind, RingIsBuiltAtACaptureAndRebuiltEmptyWhenTheRaceChanges) {
  cfg_rewind_effects = 1, cfg_rewind_ticks = 100;  // fewer than 128 slots are not built
  cars(8), mark_sections(6);
  word(0x655b9c) = 4, word(0x8290a0) = 1;
  capture(8, 8);  // outside the replay nothing is filed
  word(0x8290a0) = 2, host::fail_virtual_alloc(1);
  capture(9, 9);  // no ring and no message; retried at the next capture
  EXPECT_EQ(zp_ring, nullptr);
  EXPECT_EQ(zp_ring_count + zp_snapshot_exists(9), 0u);
  capture(10, 10);
  host::make_car(8, 0, 0, 0), word(0x661a60) = 9, capture(11, 11);
  EXPECT_EQ(zp_snapshot_exists(10) * 2 + zp_snapshot_exists(11), 1) << "earlier snapshots are gone";
  EXPECT_EQ(host::virtual_blocks_live(), 1u) << "the old block is released";
  word(0x655b9c) = 5, capture(12, 12);
  word(0x655b9c) = 5000, capture(13, 14);  // not believed: no entries, and no rebuild at every tick
  for (u32 n : {0u, 17u, 0xffffffffu}) word(0x661a60) = n, capture(15, 15);  // no race to file: the ring stays
  EXPECT_EQ(zp_snapshot_exists(13) + zp_snapshot_exists(14) + zp_snapshot_exists(15), 2);
  zp_ring_reset();
  EXPECT_EQ(host::virtual_blocks_live(), 0u);
  cfg_rewind_effects = 0;  // without effects the mark count never rebuilds
  word(0x661a60) = 2, capture(1, 1);
  word(0x655b9c) = 9, capture(2, 2);
  EXPECT_EQ(zp_snapshot_exists(1) + zp_snapshot_exists(2), 2);
  EXPECT_EQ(test::log, (list{"zephal: snapshot ring 128 x 147288 bytes", "zephal: snapshot ring 128 x 150060 bytes",
                             "zephal: snapshot ring 128 x 150068 bytes", "zephal: snapshot ring 128 x 150020 bytes",
                             "zephal: snapshot ring 128 x 13400 bytes"}));
}

// Seeks (s) and rewinds (r) by delta from tick now, with ticks first to last
// filed and replay camera cam showing: the message, and where it lands, the
// state of that tick, paused, with cameras 1 to 8 asked for again.
TEST_F(Rewind, LandsOnTheExactSlotTheOldestOrTickZeroElseLeavesTheGameAlone) {
  bytes before = image();
  zp_seek(-1), zp_seek(+1), zp_rewind(-1);  // no ring: nothing to do or say
  EXPECT_TRUE(test::log.empty());
  EXPECT_EQ(diff(before), "");
  struct { u32 first, last, now; char op; i32 delta; u32 cam; const char *msg; } cases[] = {
      {232, 999, 999, 's', -64, 8, "zephal: rewound to tick 935 (-64)"},
      {232, 999, 935, 's', +64, 1, "zephal: rewound to tick 999 (+64)"},  // slots ahead: a jump, not a run
      {232, 999, 999, 's', -900, 0, "zephal: rewound to tick 232 (-767)"},  // the oldest slot
      {100, 130, 100, 's', -1, 3, "zephal: seek -1: no snapshot"},  // nothing older, unwritten slots aside
      {0, 30, 30, 's', -64, 9, "zephal: rewound to tick 0 (-30)"},
      {0, 30, 0, 's', -1, 3, "zephal: rewound to tick 0 (+0)"},
      {0, 30, 0, 'r', -1, 3, ""},  // a rewind does not clamp
      {1, 30, 0, 's', -1, 3, "zephal: seek -1: no snapshot"},  // an unwritten slot holds no tick 0
      {0x7ffffff0, 0x80000005, 0x80000005, 's', -10, 3, "zephal: rewound to tick 2147483643 (-10)"},
      {0xfffffff0, 20, 0xfffffff0, 'r', 32, 3, "zephal: rewind 32: no snapshot at tick 16"},  // 2^32 + 16
      {0, 1000, 1000, 'r', -900, 3, "zephal: rewind -900: no snapshot at tick 100"},  // its slot holds 868
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.msg);
    zp_ring_reset(), capture(c.first, c.last), test::log.clear();
    word(0x853b5c) = c.now, word(0x8290b8) = c.cam, word(0x8290ac) = 0, word(0x8290c4) = word(0x8290c0) = 0xaa;
    before = image();
    c.op == 's' ? zp_seek(c.delta) : zp_rewind(c.delta);
    EXPECT_EQ(test::log.empty() ? "" : test::log.back(), c.msg);
    u32 t;
    if (sscanf(c.msg, "zephal: rewound to tick %u", &t) != 1) {
      EXPECT_EQ(diff(before), "");
      continue;
    }
    EXPECT_EQ(std::tuple(word(0x7c3c04), word(0x853b5c), word(0x8290ac), word(0x8290bc)), std::tuple(t * 7, t, 1u, 5u));
    EXPECT_EQ(std::pair(word(0x8290c4), word(0x8290c0)),
              c.cam >= 1 && c.cam <= 8 ? std::pair(c.cam, 1u) : std::pair(0xaau, 0xaau));
  }
}

TEST_F(Rewind, ForwardBeyondTheRingRunsTheReplayUntilTheTarget) {
  capture(0, 100);
  word(0x8290ac) = 1, test::log.clear();
  zp_seek(+64);  // silently
  EXPECT_EQ(std::tuple(word(0x8290ac), word(0x8290bc), zp_seek_target, word(0x5bf268)), std::tuple(0u, 5u, 164u, 82u));
  EXPECT_TRUE(test::log.empty());
  cfg_rewind = 0;  // the capture handler tends the seek even when it files nothing
  capture(101, 163);
  EXPECT_EQ(word(0x8290ac), 0u);
  capture(164, 164);
  EXPECT_EQ(std::tuple(word(0x8290ac), zp_seek_target, zp_snapshot_exists(164)), std::tuple(1u, 0u, 0));
  cfg_rewind = 1;
  zp_seek(+10);  // another seek while one runs starts from the tick reached
  capture(165, 170), zp_seek(+10);
  EXPECT_EQ(zp_seek_target, 180u);
  capture(185, 185);  // a tick past the target stops it too
  EXPECT_EQ(word(0x8290ac), 1u);
  zp_seek(+10), word(0x8290a0) = 3, capture(186, 186);  // leaving the replay cancels it
  EXPECT_EQ(zp_seek_target, 0u);
}

// The replay keys: a frame-handler pass every 10 ms on a clock about to wrap,
// with ticks 0 to 767 filed; each seek is seen through its rewind's message.
constexpr int comma = 188, period = 190, space = 32, shift = 0x10, ctrl = 0x11;

struct Keys : Rewind {
  list seeks;  // "<ms> <delta>"
  void SetUp() override {
    Rewind::SetUp();
    capture(0, 767), test::log.clear();
  }
  void pass(u32 ms, const std::vector<int> &keys = {}) {  // keys down (+vk) or up (-vk) first
    for (int k : keys) host::set_key(abs(k), k > 0);
    size_t seen = test::log.size();
    host::set_tick(0xffffff00 + ms), z9_zp_frame();
    for (int delta; seen < test::log.size(); ++seen)
      if (sscanf(test::log[seen].c_str(), "zephal: rewound to tick %*u (%d)", &delta) == 1)
        seeks.push_back(test::format("%u %+d", ms, delta));
  }
};

TEST_F(Keys, SeekKeysFireAtThePressAfterTheDelayAndThenEveryRepeat) {
  // Keys set down (+vk) or up (-vk) at the given ms; passes up to end; the seeks wanted.
  struct run { const char *what; i32 delay; std::vector<std::pair<u32, std::vector<int>>> keys; u32 end; list want; };
  for (const run &r : {
           run{"held", 1000, {{0, {comma}}, {1260, {-comma}}}, 1400, {"0 -1", "1000 -1", "1100 -1", "1200 -1"}},
           run{"a tap, half a second, again within the delay", 1000,
               {{0, {period}}, {10, {-period}}, {610, {comma}}, {1120, {-comma}}, {1210, {comma}}, {1520, {-comma}},
                {1540, {comma}}}, 2540, {"0 +1", "610 -1", "1210 -1", "1540 -1", "2540 -1"}},
           run{"both held: own timers, back first", 1000, {{0, {comma, period}}, {50, {-period}}, {100, {period}}},
               1210, {"0 -1", "0 +1", "100 +1", "1000 -1", "1100 -1", "1100 +1", "1200 -1", "1200 +1"}},
           run{"modifiers changed while held, Ctrl over Shift", 1000,
               {{0, {comma}}, {500, {shift}}, {1060, {-shift}}, {1150, {ctrl, shift}}}, 1250,
               {"0 -1", "1000 -64", "1100 -1", "1200 -640"}},
           run{"no delay: repeats from the next pass", 0, {{0, {period}}}, 230, {"0 +1", "10 +1", "110 +1", "210 +1"}},
       }) {
    SCOPED_TRACE(r.what);
    zp_keys_reset(), host::release_all_keys(), seeks.clear();
    word(0x853b5c) = 760, cfg_rewind_delay = r.delay;
    for (u32 ms = 0, e = 0; ms <= r.end; ms += 10)
      pass(ms, e < r.keys.size() && r.keys[e].first == ms ? r.keys[e++].second : std::vector<int>{});
    EXPECT_EQ(seeks, r.want);
  }
}

TEST_F(Keys, PauseKeyTogglesTheLowestBitOncePerPress) {
  for (u32 ms = 0; ms <= 500; ms += 10) pass(ms, {space});
  EXPECT_EQ(std::pair(word(0x8290ac), word(0x8290bc)), std::pair(1u, 5u)) << "paused once, control word 5";
  pass(510, {-space}), pass(520, {space});
  EXPECT_EQ(word(0x8290ac), 0u);
  word(0x8290ac) = 2;  // bit 0 clear: paused next
  pass(530, {-space}), pass(540, {space});
  EXPECT_EQ(word(0x8290ac), 1u);
}

TEST_F(Keys, OutsideReplayNothingActsAndAPendingSeekIsCancelled) {
  pass(0, {space});
  word(0x8290a0) = 1, zp_seek_target = 900, word(0x8290ac) = 0;
  for (u32 ms = 10; ms <= 1500; ms += 10) pass(ms, {-space, comma, period, ctrl, '4'});
  EXPECT_EQ(zp_seek_target, 0u) << "a pending seek is cancelled";
  EXPECT_TRUE(test::log.empty());
  word(0x8290a0) = 2;  // space still counts as held from the last replay pass
  pass(1510, {-comma, -period, -ctrl, -'4', space});
  EXPECT_EQ(word(0x8290ac), 0u);
}

TEST_F(Keys, DigitKeysComeLastAndSaveWithTheCtrlOfTheSamePass) {
  word(0x853b5c) = 700;
  pass(0, {ctrl, comma, '4'});  // a save of preset 4, with no track loaded here
  EXPECT_EQ(test::log, (list{"zephal: rewound to tick 60 (-640)", "zephal: preset: no track path"}));
}

}  // namespace
