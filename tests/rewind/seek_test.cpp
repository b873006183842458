// Rewind and seek: which slot a seek lands on, the forward seek that runs the
// replay until the capture handler pauses it, and what is left alone when
// there is nothing to restore.
#include "fixture.h"

namespace rw {
namespace {

struct Seek : Rewind {
  void SetUp() override {
    Rewind::SetUp();
    cfg_rewind_effects = 0;  // one car without effects keeps 768 slots small
    cars(1);
  }
};

TEST_F(Seek, LandsOnTheExactSlotOrFallsBackToTheOldest) {
  capture_range(232, 999);
  zp_seek(-64);
  EXPECT_EQ(last(), "zephal: rewound to tick 935 (-64)");
  EXPECT_EQ(word(0x7c3c04), 935u * 7) << "the state of tick 935";
  EXPECT_EQ(word(0x8290ac), 1u);
  word(0x8290ac) = 0;
  zp_seek(+64);  // slots ahead stay in the ring: a jump, not a run
  EXPECT_EQ(last(), "zephal: rewound to tick 999 (+64)");
  EXPECT_EQ(word(0x8290ac), 1u);
  EXPECT_EQ(zp_seek_target, 0u);
  zp_seek(-900);
  EXPECT_EQ(last(), "zephal: rewound to tick 232 (-767)");
  EXPECT_EQ(word(0x7c3c04), 232u * 7);
  bytes before = image();
  zp_seek(-1);
  EXPECT_EQ(last(), "zephal: seek -1: no snapshot");
  EXPECT_EQ(diff(before), "");
}

TEST_F(Seek, TargetsBeforeTickZeroAreClampedToIt) {
  capture_range(0, 30);
  zp_seek(-64);
  EXPECT_EQ(last(), "zephal: rewound to tick 0 (-30)");
  zp_seek(-1);
  EXPECT_EQ(last(), "zephal: rewound to tick 0 (+0)");
  lines.clear();
  zp_rewind(-1);  // a rewind does not clamp
  EXPECT_TRUE(lines.empty());
  zp_ring_reset();
  capture_range(1, 30);
  word(0x853b5c) = 0;
  zp_seek(-1);
  EXPECT_EQ(last(), "zephal: seek -1: no snapshot");
}

TEST_F(Seek, TicksAreUnsignedAndTargetsDoNotWrap) {
  capture_range(0x7ffffff0, 0x80000005);
  zp_seek(-10);
  EXPECT_EQ(last(), "zephal: rewound to tick 2147483643 (-10)");
  capture_range(0, 20);
  capture_range(0xfffffff0, 0xfffffff0);
  zp_rewind(+32);
  EXPECT_EQ(last(), "zephal: rewind 32: no snapshot at tick 16");
  EXPECT_EQ(word(0x853b5c), 0xfffffff0u);
}

TEST_F(Seek, ForwardBeyondTheRingRunsTheReplayUntilTheTarget) {
  capture_range(0, 100);
  word(0x8290ac) = 1;
  zp_seek(+64);
  EXPECT_EQ(word(0x8290ac), 0u);
  EXPECT_EQ(word(0x8290bc), 5u);
  EXPECT_EQ(zp_seek_target, 164u);
  EXPECT_EQ(word(0x5bf268), 82u);
  EXPECT_EQ(lines.size(), 1u) << "no message for a forward seek";
  capture_range(101, 163);
  EXPECT_EQ(word(0x8290ac), 0u);
  capture_range(164, 164);
  EXPECT_EQ(word(0x8290ac), 1u);
  EXPECT_EQ(zp_seek_target, 0u);
  zp_seek(+10);  // another seek while one runs starts from the tick reached
  capture_range(165, 170);
  zp_seek(+10);
  EXPECT_EQ(zp_seek_target, 180u);
  capture_range(185, 185);  // a tick past the target stops it too
  EXPECT_EQ(word(0x8290ac), 1u);
  zp_seek(+10);
  word(0x8290a0) = 3;  // leaving the replay cancels it
  capture_range(186, 186);
  EXPECT_EQ(zp_seek_target, 0u);
}

TEST_F(Seek, MissingOrOverwrittenSlotsLeaveTheGameUntouched) {
  bytes before = image();
  zp_seek(-1);
  zp_seek(+1);
  zp_rewind(-1);
  EXPECT_TRUE(lines.empty()) << "no ring: nothing to say";
  EXPECT_EQ(diff(before), "");
  cfg_rewind_ticks = 128;
  capture_range(0, 200);
  before = image();
  zp_rewind(-150);  // the slot of tick 50 now holds 178
  EXPECT_EQ(last(), "zephal: rewind -150: no snapshot at tick 50");
  EXPECT_EQ(diff(before), "");
  host::make_car(1, 0, 0, 0);  // a new car count starts an empty ring
  word(0x661a60) = 2;
  capture_range(201, 201);
  zp_seek(-1);
  EXPECT_EQ(last(), "zephal: seek -1: no snapshot");
}

TEST_F(Seek, OnlyReplayCamerasOneToEightAreRequestedAgain) {
  capture_range(0, 10);
  for (u32 cam : {0u, 9u, 8u, 1u}) {
    word(0x8290b8) = cam;
    word(0x8290c4) = word(0x8290c0) = 0xaa;
    zp_seek(-1);
    bool asked = cam >= 1 && cam <= 8;
    EXPECT_EQ(word(0x8290c4), asked ? cam : 0xaa) << cam;
    EXPECT_EQ(word(0x8290c0), asked ? 1u : 0xaa) << cam;
  }
}

}  // namespace
}  // namespace rw
