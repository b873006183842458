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
      ASSERT_EQ(write_parts(start, 0, runs[r], src), write_parts(start, 1, runs[r], src));
    }
}

using Capture = Race;

TEST_F(Capture, TheIndexFindsTheOldestSnapshotTheHeadersName) {
  struct step { u32 cars, first, last; };
  struct { const char *what; u32 slots; std::vector<step> steps; } cases[] = {
      {"no ring", 768, {}},
      {"tick 0 in the ring", 768, {{1, 0, 30}}},
      {"two laps", 768, {{1, 232, 999}}},
      {"ticks wrapping past 2^32", 128, {{1, 0xfffffff0, 20}}},
      {"a rebuild for another car count", 128, {{2, 0, 300}, {3, 301, 310}}},
      {"back to the first car count", 128, {{2, 0, 300}, {3, 301, 310}, {2, 400, 401}}},
      {"a full ring of 4096 slots", 4096, {{1, 100, 4300}}},
      {"more slots than the index holds", 4100, {{1, 7, 4110}}},
      {"the oldest in the last slot, past the index", 4100, {{1, 4099, 8198}}},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.what);
    zp_ring_reset();
    cfg_rewind_ticks = c.slots;
    for (const step &s : c.steps) cars(s.cars), capture(s.first, s.last);
    u32 want = 0xdeadbeef, got = 0xfeedface;
    const bool found = kit::oldest_by_headers(&want);
    ASSERT_EQ(zp_oldest_snapshot(&got), (int)found);
    if (found) EXPECT_EQ(got, want);
  }
}

}  // namespace
