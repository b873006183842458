// The fast paths of the ring against the plain ones they replace: a capture
// streamed past the cache writes the bytes a plain capture writes and not one
// byte beside its slot; the index of slot ticks finds the oldest snapshot the
// slot headers name.
#include "rewind/stream.h"
#include "tests/rewind/race.h"

namespace {

using namespace race;

// Parts as a capture hands them to the writer: lengths, with 0 marking a
// run of zeros (a missing car or mark array) of the next length.
bytes write_parts(u32 start, u32 stream, const std::vector<u32> &parts, const bytes &src) {
  alignas(64) static u8 buf[16384];  // room for the longest run below
  memset(buf, 0xcc, sizeof buf);
  zp_slot_writer w;
  w.begin(buf + 128 + start, stream);
  u32 from = 0;
  bool zeros = false;
  for (u32 len : parts) {
    if (!len) {
      zeros = true;
      continue;
    }
    w.put(zeros ? nullptr : &src[from], len);
    from += len + 3, zeros = false;  // the next part starts elsewhere in the game
  }
  w.end();
  return bytes(buf, buf + sizeof buf);
}

TEST(SlotWriter, StreamingWritesWhatPlainCopiesWriteAtEveryLineOffsetAndNothingBeside) {
  bytes src(16384);
  for (u32 i = 0; i < src.size(); ++i) src[i] = (u8)(i * 7 + (i >> 8) + 1);
  const std::vector<std::vector<u32>> runs = {
      {6308, 2772, 0, 2772, 40, 4, 1312, 104, 12, 36, 24},  // a slot's parts, one car missing
      {1, 2, 61, 64, 0, 64, 65, 127, 128, 0, 3, 8, 8, 8, 8, 8, 8, 8, 8, 200, 63},
      {0, 40},  // within one line at most offsets
      {3},
  };
  for (u32 r = 0; r < runs.size(); ++r)
    for (u32 start = 0; start < 64; ++start) {
      SCOPED_TRACE(testing::Message() << "run " << r << ", slot at line offset " << start);
      const bytes plain = write_parts(start, 0, runs[r], src), streamed = write_parts(start, 1, runs[r], src);
      ASSERT_EQ(plain, streamed);
    }
}

struct Capture : Race {
  void setup(u32 cars, u32 fx, u32 m, u32 slots) {
    zp_ring_reset();
    cfg_rewind_ticks = slots;
    race(cars, m, fx);
  }
  // Slots k - 1 to k + 1 around tick t's slot k, as they stand.
  bytes around(u32 t) const {
    u32 k = t % zp_ring_count, lo = k ? k - 1 : 0, hi = k + 2 < zp_ring_count ? k + 2 : zp_ring_count;
    return bytes(zp_ring + lo * zp_slot_size, zp_ring + hi * zp_slot_size);
  }
  // The same, with tick t's slot as a plain capture of the game now writes it.
  bytes plain_capture(bytes near, u32 t) const {
    bytes slot(zp_slot_size);
    u32 head[4] = {t, word(at::ga_tick_alt), word(at::ga_car_count), 0};
    memcpy(slot.data(), head, sizeof head);
    zp_walk_slot(slot.data(), word(at::ga_car_count), zp_to_slot, 0);
    u32 k = t % zp_ring_count;
    std::copy(slot.begin(), slot.end(), near.begin() + (k ? zp_slot_size : 0));
    return near;
  }
};

// Slot sizes are not multiples of 64: slots in a row start at every line
// offset their size allows, and parts start and end inside lines throughout.
TEST_F(Capture, EveryLapWritesTheBytesOfAPlainCaptureAndLeavesTheNeighboursAlone) {
  struct { u32 cars, fx, marks; } cases[] = {{8, 1, 1}, {16, 1, 0}, {3, 1, 7}, {1, 0, 0}, {5, 0, 2}};
  for (auto c : cases) {
    SCOPED_TRACE(testing::Message() << c.cars << " cars, effects " << c.fx << ", " << c.marks << " marks");
    setup(c.cars, c.fx, c.marks, 128);
    capture(0, 0);  // the ring is built
    for (u32 lap = 0; lap < 3; ++lap) {  // the first lap plain, the later ones streamed
      fill(lap * 100 + c.cars);
      for (u32 t = lap * 128 + 60; t < lap * 128 + 77; ++t) {
        SCOPED_TRACE(testing::Message() << "tick " << t);
        for (u32 i = 0; i < c.cars; ++i) word(at::ga_car_table + 4 * i) = t % 5 == i ? 0 : car_objs[i];  // a car missing
        word(at::ga_mark_array) = t % 7 ? mark_array() : 0;  // now and then the mark array
        const bytes before = around(t);
        word(at::ga_tick) = t;
        z9_zp_capture();
        ASSERT_TRUE(around(t) == plain_capture(before, t));
      }
    }
  }
}

TEST_F(Capture, ARebuiltRingStartsItsFirstLapAgainWithTheSameBytes) {
  setup(2, 1, 3, 128);
  capture(0, 300);
  cars(3);  // another car count: a new ring
  fill(9);
  word(at::ga_tick) = 301;
  z9_zp_capture();
  EXPECT_TRUE(around(301) == plain_capture(bytes(3 * zp_slot_size), 301));
  fill(10);
  const bytes before = around(301 + 128);
  capture(301 + 128, 301 + 128);
  EXPECT_TRUE(around(301 + 128) == plain_capture(before, 301 + 128));
}

TEST_F(Capture, TheIndexFindsTheOldestSnapshotTheHeadersName) {
  struct step { u32 cars, first, last; };
  struct { const char *what; u32 slots; std::vector<step> steps; } cases[] = {
      {"no ring", 768, {}},
      {"tick 0 in the ring", 768, {{1, 0, 30}}},
      {"two laps", 768, {{1, 232, 999}}},
      {"ticks wrapping past 2^32", 128, {{1, 0xfffffff0, 20}}},
      {"a rebuild for another car count", 128, {{2, 0, 300}, {3, 301, 310}}},
      {"back to the first car count", 128, {{2, 0, 300}, {3, 301, 310}, {2, 40, 41}}},
      {"a full ring of 4096 slots", 4096, {{1, 100, 4300}}},
      {"more slots than the index holds", 4100, {{1, 7, 4110}}},
      {"the oldest in the last slot, past the index", 4100, {{1, 4099, 8198}}},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.what);
    setup(1, 0, 0, c.slots);
    for (const step &s : c.steps) cars(s.cars), capture(s.first, s.last);
    u32 want = 0xdeadbeef, got = 0xfeedface;
    const bool found = kit::oldest_by_headers(&want);
    ASSERT_EQ(zp_oldest_snapshot(&got), (int)found);
    if (found) EXPECT_EQ(got, want);
    for (u32 k = 0; k < zp_ring_count && k < ring_slots_max; ++k) {
      const u8 *slot = zp_ring + k * zp_slot_size;
      ASSERT_EQ(std::pair(zp_ring_index[k].tick, zp_ring_index[k].cars),
                std::pair(zp_slot_word(slot, slot_off_tick), zp_slot_word(slot, slot_off_cars)))
          << "slot " << k;
    }
  }
  // The seek lands there: at tick 310 of the 3-car ring, back beyond the ring.
  setup(2, 0, 0, 128), capture(0, 300);
  cars(3), capture(301, 310);
  test::log.clear(), zp_seek(-1000);
  EXPECT_EQ(test::log.back(), "zephal: rewound to tick 301 (-9)");
}

}  // namespace
