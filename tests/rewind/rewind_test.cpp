// Snapshot ring, rewind and seek on the host's game image with real car objects and
// mark-section records, and the replay keys through the frame handler and host clock.
#include <algorithm>
#include <functional>

#include "tests/rewind/race.h"

namespace {

using namespace race;
using list = std::vector<std::string>;

// What a slot copies besides cars and marks, in slot order: the first region
// (ahead of the cars), the seven regions, then the three effects regions.
constexpr struct span { u32 addr, len; } regions[] = {
    {0x7c3c04, 6308}, {0x829078, 40}, {0x8290b4, 4}, {0x8290cc, 1312}, {0x853b18, 104}, {0x5bf268, 12},
    {0x8b1bac, 36}, {0x5c3a68, 24}, {0x87f76c, 109536}, {0x5cd0bc, 6144}, {0x64f3c8, 1536}};

bytes image() { return host::bytes_at(data_begin, data_end - data_begin); }
u32 &word_in(bytes &img, u32 addr) { return *(u32 *)(void *)&img[addr - data_begin]; }
// The first address where the game's data differs from want, or "".
std::string diff(const bytes &want) {
  const bytes now = image();
  const auto at = std::mismatch(now.begin(), now.end(), want.begin()).first;
  return at == now.end() ? "" : std::to_string(data_begin + (at - now.begin()));
}
std::string ring_line(u32 slot_bytes) { return test::format("zephal: snapshot ring 128 x %u bytes", slot_bytes); }

// --- what a slot holds and what a rewind puts back ---------------------------------

using Slot = Race;

// Captured at tick 300, then scrambled and rewound from tick 303 with replay
// camera 3 showing: every captured byte comes back and nothing else.
TEST_F(Slot, HoldsHeaderRegionsCarsEffectsAndMarksInOrderARewindRestoresThemAndNothingElse) {
  const struct { u32 cars, effects, marks; } cases[] = {{3, 1, 2}, {1, 0, 2}, {16, 0, 0}, {2, 1, 0}};
  for (auto [n, fx, m] : cases) {
    SCOPED_TRACE(testing::Message() << n << " cars, effects " << fx << ", marks " << m);
    SetUp();
    cfg_rewind_ticks = 128;
    cfg_rewind_effects = fx;
    cars(n);
    mark_sections(m);
    fill(n);
    word(at::ga_tick) = 300;
    bytes captured = image(), captured_marks = marks;
    z9_zp_capture();
    ASSERT_EQ(zp_slot_size, fx ? 2772 * n + 125072 + 8 * m : 2772 * n + 7856);
    const u8 *s = zp_slot(300);
    u32 off = 0;
    auto expect = [&](bytes want) {
      EXPECT_EQ(bytes(s + off, s + off + want.size()), want) << "at slot offset " << off;
      off += want.size();
    };
    u32 header[4] = {300, word(at::ga_tick_alt), n, 0};
    expect(bytes((u8 *)header, (u8 *)(header + 4)));
    for (u32 i = 0; i < (fx ? 11 : 8); ++i) {
      expect(host::bytes_at(regions[i].addr, regions[i].len));
      for (u32 k = 0; i == 0 && k < n; ++k) expect(host::bytes_at(car_objs[k], at::car_block_size));
    }
    for (u32 i = 0; fx && i < m; ++i) expect(bytes(mark(i), mark(i) + mark_kept));
    EXPECT_EQ(off, zp_slot_size);
    fill(n + 1);
    word(at::ga_cam_current) = 3;
    word(at::ga_mode) = 0x51ed;  // the rewind neither looks at the mode nor keeps it
    bytes want = image();
    rewind_from(303, -3);
    for (u32 i = 0; i < (fx ? 11 : 8); ++i)
      memcpy(&want[regions[i].addr - data_begin], &captured[regions[i].addr - data_begin], regions[i].len);
    for (u32 car : car_objs) memcpy(&want[car - data_begin], &captured[car - data_begin], at::car_block_size);
    word_in(want, at::ga_pause) = 1;
    word_in(want, at::ga_control) = 5;
    word_in(want, at::ga_cam_request) = 3;
    word_in(want, at::ga_cam_request_flag) = 1;
    word_in(want, at::ga_half_tick) = word_in(captured, at::ga_tick_alt) >> 1;
    EXPECT_EQ(diff(want), "");
    for (u32 b = 0; b < m * at::mark_record_size; ++b)
      ASSERT_EQ(marks[1 + b], fx && b % at::mark_record_size - mark_at < 8 ? captured_marks[1 + b] : pattern(1 + b, n + 1 + 77)) << b;
    EXPECT_EQ(test::log.back(), "zephal: rewound to tick 300 (-3)");
  }
}

// Car 1 and the marks away as tick 40's slot is taken again at tick 808: they
// come back as zeros. Car 2 and the marks away at the restore: left alone.
TEST_F(Slot, ACarOrMarkArrayMissingAtCaptureComesBackAsZerosAtRestoreIsLeftAlone) {
  cfg_rewind_effects = 1;
  cars(3);
  mark_sections(2);
  fill(1);
  capture(40, 40);
  word(at::ga_car_table + 4) = word(at::ga_mark_array) = 0;
  capture(808, 808);
  test::set_words({{at::ga_car_table + 4, car_objs[1]}, {at::ga_mark_array, mark_array()}});
  rewind_from(809, -1);
  EXPECT_EQ(host::bytes_at(car_objs[1], at::car_block_size), bytes(at::car_block_size, 0));
  for (u32 i = 0; i < 2; ++i) EXPECT_EQ(bytes(mark(i), mark(i) + mark_kept), bytes(8, 0)) << "mark " << i;
  fill(2);
  word(at::ga_car_table + 8) = word(at::ga_mark_array) = 0;
  const bytes car2 = host::bytes_at(car_objs[2], host::car_object_size), marks_before = marks;
  rewind_from(809, -1);
  EXPECT_EQ(host::bytes_at(car_objs[2], host::car_object_size), car2);
  EXPECT_EQ(marks, marks_before);
}

using Building = Race;

// The first capture in a replay builds the ring, of 128 slots at least, and a
// failed allocation is retried; a race of 1 to 16 cars is filed, and another
// car count keeps the ring as it is.
TEST_F(Building, TheFirstCaptureInAReplayBuildsItANewCarCountUpTo16StartsAnEmptyOne) {
  cfg_rewind_ticks = 100;
  cars(16);
  word(at::ga_mode) = at::mode_menu;
  capture(8, 8);
  word(at::ga_mode) = at::mode_replay;
  host::fail_virtual_alloc(1);
  capture(9, 9);
  EXPECT_EQ(zp_snapshot_exists(9), 0);
  for (u32 n : {0u, 17u, 0xffffffffu, 16u}) {
    word(at::ga_car_count) = 1;
    capture(10, 10);
    word(at::ga_car_count) = n;
    capture(11, 11);
    EXPECT_EQ(zp_snapshot_exists(10), n == 16 ? 0 : 1) << n << " cars";
  }
  EXPECT_EQ(test::log, (list{ring_line(2772 + 7856), ring_line(16 * 2772 + 7856)}));
  EXPECT_EQ(host::virtual_blocks_live(), 1u);  // the old ring released
  zp_ring_reset();
  EXPECT_EQ(host::virtual_blocks_live(), 0u);
}

// A count past 4096 is none at all, so going from one such count to another
// rebuilds nothing; without the effects the count never matters.
TEST_F(Building, MarkSectionsUpTo4096AreFiledAChangedCountRebuildsARingWithEffects) {
  cfg_rewind_ticks = 128;
  // the last mark-section index, the entries a slot holds, whether one index more rebuilds
  const struct { u32 index, entries, rebuilt; } cases[] = {{~0u, 0, 1}, {0, 1, 1}, {4095, 4096, 1}, {4096, 0, 0}, {5000, 0, 0}};
  mark_sections(4097);
  for (u32 fx : {1u, 0u})
    for (auto c : cases) {
      SCOPED_TRACE(testing::Message() << "effects " << fx << ", index " << c.index);
      zp_ring_reset();
      test::log.clear();
      cfg_rewind_effects = fx;
      word(at::ga_mark_index) = c.index;
      capture(10, 11);
      EXPECT_EQ(test::log, list{ring_line(fx ? 2772 + 125072 + 8 * c.entries : 2772 + 7856)});
      word(at::ga_mark_index) = c.index + 1;
      capture(12, 12);
      EXPECT_EQ(zp_snapshot_exists(11), fx && c.rebuilt ? 0 : 1);
    }
}

using Seek = Race;

// Seeks (s) and rewinds (r) by delta from tick now, with ticks first to last
// filed and replay camera cam showing: the message, and where it lands, the
// state of that tick, paused, with cameras 1 to 8 asked for again. Without a
// ring nothing is done or said.
TEST_F(Seek, LandsOnTheExactSlotTheOldestOrTickZeroElseLeavesTheGameAlone) {
  const bytes empty = image();
  zp_seek(-1), zp_seek(+1), zp_rewind(-1);
  EXPECT_EQ(std::pair(test::log, diff(empty)), std::pair(list{}, std::string()));
  struct { u32 first, last, now; char op; i32 delta; u32 cam; const char *msg; } cases[] = {
      {232, 999, 999, 's', -64, 8, "zephal: rewound to tick 935 (-64)"},
      {232, 999, 935, 's', +64, 1, "zephal: rewound to tick 999 (+64)"},  // slots ahead: a jump, not a run
      {232, 999, 999, 's', -900, 0, "zephal: rewound to tick 232 (-767)"},  // the oldest slot
      {767, 1534, 1534, 's', -900, 3, "zephal: rewound to tick 767 (-767)"},  // the oldest in the last slot
      {100, 130, 100, 's', -1, 3, "zephal: seek -1: no snapshot"},  // nothing older, unwritten slots aside
      {0, 30, 30, 's', -64, 9, "zephal: rewound to tick 0 (-30)"},
      {0, 30, 0, 's', -1, 3, "zephal: rewound to tick 0 (+0)"},
      {0, 30, 0, 'r', -1, 3, ""},  // a rewind does not clamp
      {1, 30, 0, 's', -1, 3, "zephal: seek -1: no snapshot"},  // an unwritten slot holds no tick 0
      {0x7ffffff0, 0x80000005, 0x80000005, 's', -10, 3, "zephal: rewound to tick 2147483643 (-10)"},
      {0xfffffff0, 20, 0xfffffff0, 'r', 32, 3, "zephal: rewind 32: no snapshot at tick 16"},  // 2^32 + 16
      {0xffffff80, 0xffffffff, 0xfffffff0, 's', +20, 3, "zephal: rewound to tick 4294967295 (+15)"},  // held at the last tick
      {0xffffff80, 0xffffffff, 0xfffffff0, 'r', +15, 3, "zephal: rewound to tick 4294967295 (+15)"},
      {0, 1000, 1000, 'r', -900, 3, "zephal: rewind -900: no snapshot at tick 100"},  // its slot holds 868
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.msg);
    zp_ring_reset();
    capture(c.first, c.last);
    test::log.clear();
    word(at::ga_tick) = c.now;
    word(at::ga_cam_current) = c.cam;
    word(at::ga_pause) = 0;
    word(at::ga_cam_request) = word(at::ga_cam_request_flag) = 0xaa;
    const bytes before = image();
    c.op == 's' ? zp_seek(c.delta) : zp_rewind(c.delta);
    EXPECT_EQ(test::log.empty() ? "" : test::log.back(), c.msg);
    u32 t;
    if (sscanf(c.msg, "zephal: rewound to tick %u", &t) != 1) {
      EXPECT_EQ(diff(before), "");
      continue;
    }
    EXPECT_EQ((std::array{word(at::filed_word), word(at::ga_tick), word(at::ga_pause), word(at::ga_control)}),
              (std::array{t * 7, t, 1u, 5u}));
    const bool asked = c.cam >= 1 && c.cam <= 8;
    EXPECT_EQ((std::array{word(at::ga_cam_request), word(at::ga_cam_request_flag)}),
              (std::array{asked ? c.cam : 0xaau, asked ? 1u : 0xaau}));
  }
}

// --- seeking forward past the ring: the replay runs to the target --------------------

struct ForwardSeek : Race {
  void SetUp() override {
    Race::SetUp();
    capture(0, 100);
    word(at::ga_pause) = 1;
    test::log.clear();
  }
  // The tick at which a capture paused the replay with control word 5; 1 for
  // a pause without it; 0 for none.
  u32 paused_at(u32 first, u32 last) {
    word(at::ga_control) = 0;
    for (u32 t = first;; ++t) {
      capture(t, t);
      if (word(at::ga_pause)) return word(at::ga_control) == 5 ? t : 1;
      if (t == last) return 0;
    }
  }
};

// A seek of +64 from tick 100 runs the replay quietly: what happens next, then
// the tick at which the captures from first to last pause the replay.
TEST_F(ForwardSeek, ItStopsAtTheTargetUnlessARewindOrLeavingTheReplayAbandonsIt) {
  const struct { const char *what; std::function<void(ForwardSeek &)> then; u32 first, last, paused; } cases[] = {
      {"a tick past the target", [](auto &) {}, 170, 170, 170},
      {"nothing filed", [](auto &) { cfg_rewind = 0; }, 101, 200, 164},
      {"a second seek counts from the tick reached", [](auto &f) { f.capture(101, 120), zp_seek(+10); }, 121, 200, 130},
      {"a rewind", [](auto &f) { f.capture(101, 110), zp_seek(-5), word(at::ga_pause) = 0; }, 106, 200, 0},
      {"a frame pass outside the replay",
       [](auto &) { word(at::ga_mode) = at::mode_menu, z9_zp_frame(), word(at::ga_mode) = at::mode_replay; }, 102, 200, 0},
      {"a capture outside the replay",
       [](auto &f) { word(at::ga_mode) = at::mode_menu, f.capture(101, 101), word(at::ga_mode) = at::mode_replay; },
       102, 200, 0},
  };
  for (auto &c : cases) {
    SetUp();
    zp_seek(+64);
    EXPECT_EQ((std::array{word(at::ga_pause), word(at::ga_control), word(at::ga_half_tick)}), (std::array{0u, 5u, 82u}));
    EXPECT_EQ(test::log, list{});
    c.then(*this);
    EXPECT_EQ(paused_at(c.first, c.last), c.paused) << c.what;
    if (c.paused == 164) EXPECT_EQ(zp_snapshot_exists(164), 0) << c.what;
  }
}

// --- the replay keys: a frame-handler pass every 10 ms on a clock about to wrap,
// with ticks 0 to 767 filed; each seek is seen through its rewind's message ----------

struct ReplayKeys : Race {
  list seeks;  // "<ms> <delta>"
  void SetUp() override {
    Race::SetUp();
    capture(0, 767);
    test::log.clear();
  }
  void pass(u32 ms, const std::vector<int> &keys = {}) {  // keys down (+vk) or up (-vk) first
    for (int k : keys) host::set_key(abs(k), k > 0);
    size_t seen = test::log.size();
    host::set_tick(0xffffff00 + ms);
    z9_zp_frame();
    for (int delta; seen < test::log.size(); ++seen)
      if (sscanf(test::log[seen].c_str(), "zephal: rewound to tick %*u (%d)", &delta) == 1)
        seeks.push_back(test::format("%u %+d", ms, delta));
  }
};

TEST_F(ReplayKeys, SeekKeysFireAtThePressAfterTheDelayAndThenEveryRepeat) {
  using at::comma, at::period, at::shift, at::ctrl;
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
    zp_keys_reset();
    host::release_all_keys();
    seeks.clear();
    word(at::ga_tick) = 760;
    cfg_rewind_delay = r.delay;
    for (u32 ms = 0, e = 0; ms <= r.end; ms += 10)
      pass(ms, e < r.keys.size() && r.keys[e].first == ms ? r.keys[e++].second : std::vector<int>{});
    EXPECT_EQ(seeks, r.want);
  }
}

// Outside the replay nothing acts, and a key held across such passes is no
// new press when the replay comes back.
TEST_F(ReplayKeys, ThePauseKeyTogglesTheLowestBitOncePerPressOutsideReplayNothingActs) {
  for (u32 ms = 0; ms <= 500; ms += 10) pass(ms, {at::space});
  EXPECT_EQ((std::array{word(at::ga_pause), word(at::ga_control)}), (std::array{1u, 5u}));
  pass(510, {-at::space});
  pass(520, {at::space});
  EXPECT_EQ(word(at::ga_pause), 0u);
  word(at::ga_pause) = 2;  // bit 0 clear: paused next
  pass(530, {-at::space});
  pass(540, {at::space});
  EXPECT_EQ(word(at::ga_pause), 1u);
  for (u32 mode : {at::mode_menu, at::mode_replay + 1}) {  // modes below and above the replay's
    word(at::ga_mode) = mode;
    word(at::ga_pause) = 0;
    for (u32 ms = 550; ms <= 2000; ms += 10) pass(ms, {-at::space, at::comma, at::period, at::ctrl, at::digit(4)});
    EXPECT_EQ(test::log, list{});
  }
  word(at::ga_mode) = at::mode_replay;  // space still counts as held from the last replay pass
  pass(2010, {-at::comma, -at::period, -at::ctrl, -at::digit(4), at::space});
  EXPECT_EQ(word(at::ga_pause), 0u);
}

// Shift and Ctrl, then pause, back, forward, then the ten digits, which save
// with the Ctrl of the same pass (with no track loaded here).
TEST_F(ReplayKeys, APassAsksForTheModifiersThenTheReplayKeysThenTheDigits) {
  std::vector<int> asked, want = {VK_SHIFT, VK_CONTROL, at::space, at::comma, at::period};
  for (int n = 0; n < 10; ++n) want.push_back(at::digit(n));
  host::record_key_queries(&asked);
  word(at::ga_tick) = 700;
  pass(0, {at::ctrl, at::comma, at::digit(4)});
  host::record_key_queries(nullptr);
  EXPECT_EQ(asked, want);
  EXPECT_EQ(test::log, (list{"zephal: rewound to tick 60 (-640)", "zephal: preset: no track path"}));
}

}  // namespace
