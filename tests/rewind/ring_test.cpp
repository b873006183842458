// The snapshot ring: slot layout, capture and restore of every byte, and the
// rules that rebuild, keep or refuse a ring.
#include "fixture.h"

namespace rw {
namespace {

struct span {
  u32 addr, len;
};
constexpr span head = {0x7c3c04, 6308};
constexpr span tail[] = {{0x829078, 40}, {0x8290b4, 4},  {0x8290cc, 1312}, {0x853b18, 104},
                         {0x5bf268, 12}, {0x8b1bac, 36}, {0x5c3a68, 24}};
constexpr span effects[] = {{0x87f76c, 109536}, {0x5cd0bc, 6144}, {0x64f3c8, 1536}};

using Ring = Rewind;

TEST_F(Ring, SlotHoldsHeaderRegionsCarsEffectsAndMarksInOrder) {
  struct config { u32 cars, fx, marks; };
  for (config c : {config{3, 1, 2}, config{1, 0, 2}, config{16, 0, 0}, config{2, 1, 0}}) {
    SCOPED_TRACE(testing::Message() << c.cars << " cars, effects " << c.fx << ", marks " << c.marks);
    zp_ring_reset();
    cfg_rewind_ticks = 128;
    cfg_rewind_effects = c.fx;
    cars(c.cars);
    mark_sections(c.marks);
    fill(c.cars);
    word(0x853b5c) = 300;
    z9_zp_capture();
    ASSERT_EQ(zp_slot_size, c.fx ? 2772 * c.cars + 125072 + 8 * c.marks : 2772 * c.cars + 7856);
    const u8 *s = zp_ring + 300 % 128 * zp_slot_size;
    u32 off = 0;
    auto expect = [&](bytes want) {
      EXPECT_EQ(bytes(s + off, s + off + want.size()), want) << "at slot offset " << off;
      off += want.size();
    };
    u32 header[4] = {300, word(0x853b34), c.cars, 0};
    expect(bytes((u8 *)header, (u8 *)(header + 4)));
    expect(mem(head.addr, head.len));
    EXPECT_EQ(off, 6324u);
    for (u32 car : car_objs) expect(mem(car, 2772));
    for (span r : tail) expect(mem(r.addr, r.len));
    for (u32 i = 0; c.fx && i < 3; ++i) expect(mem(effects[i].addr, effects[i].len));
    for (u32 i = 0; c.fx && i < c.marks; ++i) expect(bytes(&marks[i * 13844 + 12], &marks[i * 13844 + 20]));
    EXPECT_EQ(off, zp_slot_size);
  }
}

// A full slot captured at tick 500, then the game scrambled and rewound to
// it from tick 503, with replay camera 3 showing.
struct RoundTrip : Rewind {
  bytes captured, captured_marks, scrambled;
  void SetUp() override {
    Rewind::SetUp();
    cfg_rewind_ticks = 128;
    cars(3);
    mark_sections(3);
    fill(1);
    word(0x853b5c) = 500;
    captured = image();
    captured_marks = marks;
    z9_zp_capture();
    fill(2);
    word(0x853b5c) = 503;
    word(0x8290b8) = 3;
    word(0x8290a0) = 0x51ed;  // the rewind neither looks at the mode nor keeps it
    scrambled = image();
    zp_rewind(-3);
  }
};

TEST_F(RoundTrip, RewindRestoresEveryCapturedByteAndLeavesTheRestAlone) {
  bytes want = scrambled;
  auto take = [&](u32 addr, u32 len) { memcpy(&want[addr - data_begin], &captured[addr - data_begin], len); };
  take(head.addr, head.len);
  for (span r : tail) take(r.addr, r.len);
  for (span r : effects) take(r.addr, r.len);
  for (u32 car : car_objs) take(car, 2772);  // the rest of each car object stays
  at(want, 0x8290ac) = 1;
  at(want, 0x8290bc) = 5;
  at(want, 0x8290c4) = 3;
  at(want, 0x8290c0) = 1;
  at(want, 0x5bf268) = at(captured, 0x853b34) >> 1;
  EXPECT_EQ(diff(want), "");
  EXPECT_EQ(word(0x853b5c), 500u);
  for (u32 b = 0; b < 3 * 13844; ++b)
    ASSERT_EQ(marks[b], b % 13844 - 12 < 8 ? captured_marks[b] : pattern(b, 2 + 77)) << b;
  EXPECT_EQ(last(), "zephal: rewound to tick 500 (-3)");
}

TEST_F(RoundTrip, RestoringTheSameSlotTwiceGivesTheSameState) {
  bytes first = image(), first_marks = marks;
  auto scribble = [](u32 addr, u32 len) {
    for (u32 a = addr; a < addr + len; ++a) host::byte(a) = pattern(a, 3);
  };
  scribble(head.addr, head.len);
  for (span r : tail) scribble(r.addr, r.len);
  for (span r : effects) scribble(r.addr, r.len);
  for (u32 car : car_objs) scribble(car, 2772);
  for (u32 i = 0; i < 3; ++i) scribble((u32)(uintptr_t)&marks[i * 13844 + 12], 8);
  word(0x853b5c) = 503;
  zp_rewind(-3);
  EXPECT_EQ(diff(first), "");
  EXPECT_TRUE(marks == first_marks);
}

TEST_F(Ring, CarEntriesAndTheMarkArrayAreReadWhenCopying) {
  cars(3);
  mark_sections(2);
  fill(1);
  word(0x661a88 + 4) = 0;  // car 1 has no object at capture, nor is there a mark array
  word(0x867504) = 0;
  capture_range(40, 40);
  word(0x661a88 + 4) = car_objs[1];  // at restore car 1 is back, car 2 gone, the marks back
  word(0x661a88 + 8) = 0;
  word(0x867504) = (u32)(uintptr_t)marks.data();
  bytes car2 = mem(car_objs[2], 0xc00);
  word(0x853b5c) = 41;
  zp_rewind(-1);
  EXPECT_EQ(mem(car_objs[1], 2772), bytes(2772, 0));
  EXPECT_EQ(mem(car_objs[2], 0xc00), car2);
  for (u32 b : {12u, 19u, 13844u + 12, 13844u + 19}) EXPECT_EQ(marks[b], 0) << b;

  word(0x867504) = 0;  // no mark array at restore: no record is written
  for (u8 &b : marks) b = 0xee;
  word(0x853b5c) = 41;
  zp_rewind(-1);
  EXPECT_EQ(marks, bytes(marks.size(), 0xee));
}

TEST_F(Ring, RebuildsEmptyWhenTheCarOrMarkCountChanges) {
  cars(8);
  mark_sections(6);
  word(0x655b9c) = 4;
  capture_range(10, 10);
  host::make_car(8, 0, 0, 0);
  word(0x661a60) = 9;
  capture_range(11, 11);
  EXPECT_EQ(zp_snapshot_exists(10), 0) << "earlier snapshots are gone";
  EXPECT_EQ(zp_snapshot_exists(11), 1);
  EXPECT_EQ(host::virtual_blocks_live(), 1u) << "the old block is released";
  word(0x655b9c) = 5;
  capture_range(12, 12);
  word(0x655b9c) = 5000;  // not believed: no entries, and no rebuild at every tick
  capture_range(13, 14);
  EXPECT_EQ(lines, (list{"0 zephal: snapshot ring 768 x 147288 bytes", "0 zephal: snapshot ring 768 x 150060 bytes",
                         "0 zephal: snapshot ring 768 x 150068 bytes", "0 zephal: snapshot ring 768 x 150020 bytes"}));
  EXPECT_EQ(zp_snapshot_exists(13) + zp_snapshot_exists(14), 2);
}

TEST_F(Ring, MarksNeverRebuildWithEffectsOffOrWhileThereAreNone) {
  cars(2);
  capture_range(1, 2);  // index 0xffffffff: no sections
  zp_ring_reset();
  cfg_rewind_effects = 0;
  mark_sections(4);
  capture_range(1, 1);
  word(0x655b9c) = 9;
  capture_range(2, 2);
  EXPECT_EQ(lines, (list{"0 zephal: snapshot ring 768 x 130616 bytes", "0 zephal: snapshot ring 768 x 13400 bytes"}));
  EXPECT_EQ(zp_snapshot_exists(1) + zp_snapshot_exists(2), 2);
}

TEST_F(Ring, TicksOneRingApartShareASlotAndUnwrittenSlotsHoldNothing) {
  cars(1);
  capture_range(232, 232);
  EXPECT_EQ(zp_snapshot_exists(232), 1);
  EXPECT_EQ(zp_snapshot_exists(0) + zp_snapshot_exists(233), 0);
  capture_range(1000, 1000);
  EXPECT_EQ(zp_snapshot_exists(1000), 1);
  EXPECT_EQ(zp_snapshot_exists(232), 0);
  EXPECT_EQ(*(u32 *)(void *)(zp_ring + 232 * zp_slot_size), 1000u);
}

TEST_F(Ring, CarCountsOutsideOneToSixteenAreNotCaptured) {
  cars(2);
  capture_range(5, 5);
  for (u32 n : {0u, 17u, 0xffffffffu}) {
    word(0x661a60) = n;
    capture_range(6, 6);
    EXPECT_EQ(zp_snapshot_exists(5) * 2 + zp_snapshot_exists(6), 2) << n;
  }
  EXPECT_EQ(lines.size(), 1u);
}

TEST_F(Ring, FailedAllocationLeavesNoRingAndIsRetriedAtTheNextCapture) {
  cars(2);
  host::fail_virtual_alloc(1);
  capture_range(5, 5);
  EXPECT_EQ(zp_ring, nullptr);
  EXPECT_EQ(zp_ring_count, 0u);
  EXPECT_EQ(zp_snapshot_exists(5), 0);
  EXPECT_TRUE(lines.empty());
  capture_range(6, 6);
  EXPECT_EQ(zp_snapshot_exists(6), 1);
  EXPECT_EQ(lines.size(), 1u);
}

TEST_F(Ring, WithoutRewindOrOutsideReplayOnlyTheForwardSeekIsTended) {
  cars(2);
  cfg_rewind = 0;
  zp_seek_target = 50;
  capture_range(49, 49);
  EXPECT_EQ(word(0x8290ac), 0u);
  capture_range(50, 50);
  EXPECT_EQ(word(0x8290ac) * 10 + word(0x8290bc), 15u) << "paused, control word 5";
  EXPECT_EQ(zp_seek_target, 0u);
  cfg_rewind = 1;
  zp_seek_target = 70;
  word(0x8290a0) = 1;
  capture_range(80, 80);
  EXPECT_EQ(zp_seek_target, 0u);
  EXPECT_EQ(zp_ring, nullptr);
  word(0x8290a0) = 2;
  cfg_rewind_ticks = 100;
  capture_range(80, 80);
  EXPECT_EQ(lines, list{"0 zephal: snapshot ring 128 x 130616 bytes"});
}

}  // namespace
}  // namespace rw
