// The replay keys, driven pass by pass through the frame handler with the
// host's keyboard and clock, a pass every 10 ms; each seek is seen through
// the message of its rewind, stamped with the pass time.
#include "fixture.h"

namespace rw {
namespace {

constexpr int comma = 188, period = 190, space = 32, shift = 0x10, ctrl = 0x11;

struct Keys : Rewind {
  u32 base = 0;
  void SetUp() override {
    Rewind::SetUp();
    cfg_rewind_effects = 0;
    cars(1);
    capture_range(0, 767);
    lines.clear();
    word(0x853b5c) = 700;
  }
  // Passes from base + from to base + to, with the given keys down (+vk) or
  // up (-vk) from the first of them.
  void passes(u32 from, u32 to, std::initializer_list<int> keys = {}) {
    for (int k : keys) host::set_key(k < 0 ? -k : k, k > 0);
    for (u32 t = from; t <= to; t += 10) {
      host::set_tick(base + t);
      z9_zp_frame();
    }
  }
  list seeks() {  // "<ms after base> <delta>"
    list out;
    for (const std::string &l : lines) {
      size_t open = l.find('(');
      out.push_back(std::to_string((u32)std::stoul(l) - base) + " " + l.substr(open + 1, l.size() - open - 2));
    }
    return out;
  }
};

TEST_F(Keys, HeldKeySeeksAtThePressAfterTheDelayAndThenEveryRepeat) {
  passes(0, 1250, {comma});
  passes(1260, 1400, {-comma});
  EXPECT_EQ(seeks(), (list{"0 -1", "1000 -1", "1100 -1", "1200 -1"}));
  lines.clear();
  base = 2000;
  passes(0, 0, {period});  // a tap
  passes(10, 600, {-period});
  passes(610, 1110, {comma});  // held for half a second
  passes(1120, 1200, {-comma});
  passes(1210, 1510, {comma});  // pressed again within the delay
  passes(1520, 1530, {-comma});
  passes(1540, 2540, {comma});
  EXPECT_EQ(seeks(), (list{"0 +1", "610 -1", "1210 -1", "1540 -1", "2540 -1"}));
}

TEST_F(Keys, ZeroDelayRepeatsFromTheNextPass) {
  cfg_rewind_delay = 0;
  passes(0, 230, {period});
  EXPECT_EQ(seeks(), (list{"0 +1", "10 +1", "110 +1", "210 +1"}));
}

TEST_F(Keys, RepeatTimingSurvivesTheClockWrapping) {
  base = 0xffffff00;
  passes(0, 1250, {comma});
  EXPECT_EQ(seeks(), (list{"0 -1", "1000 -1", "1100 -1", "1200 -1"}));
}

TEST_F(Keys, BothKeysKeepTheirOwnTimersAndBackGoesFirst) {
  passes(0, 40, {comma, period});
  passes(50, 90, {-period});
  passes(100, 1210, {period});
  EXPECT_EQ(seeks(), (list{"0 -1", "0 +1", "100 +1", "1000 -1", "1100 -1", "1100 +1", "1200 -1", "1200 +1"}));
}

TEST_F(Keys, StepFollowsTheModifiersOfEachPassCtrlOverShift) {
  word(0x853b5c) = 767;
  passes(0, 490, {comma});
  passes(500, 1050, {shift});
  passes(1060, 1140, {-shift});
  passes(1150, 1250, {ctrl, shift});
  EXPECT_EQ(seeks(), (list{"0 -1", "1000 -64", "1100 -1", "1200 -640"}));
}

TEST_F(Keys, PauseKeyTogglesTheLowestBitOncePerPress) {
  passes(0, 500, {space});
  EXPECT_EQ(word(0x8290ac) * 10 + word(0x8290bc), 15u) << "paused, control word 5";
  passes(510, 520, {-space});
  passes(530, 540, {space});
  EXPECT_EQ(word(0x8290ac), 0u);
  passes(550, 550, {-space});
  word(0x8290ac) = 2;
  passes(560, 560, {space});
  EXPECT_EQ(word(0x8290ac), 1u);
}

TEST_F(Keys, OutsideReplayNothingActsAndAPendingSeekIsCancelled) {
  passes(0, 0, {space});
  word(0x8290a0) = 1;
  zp_seek_target = 900;
  word(0x8290ac) = 0;
  passes(10, 1500, {-space, comma, period, ctrl, '4'});
  EXPECT_EQ(zp_seek_target, 0u);
  EXPECT_TRUE(lines.empty());
  word(0x8290a0) = 2;  // space still counts as held from the last replay pass
  passes(1510, 1510, {-comma, -period, -ctrl, -'4', space});
  EXPECT_EQ(word(0x8290ac), 0u);
}

TEST_F(Keys, WithoutRewindOnlyThePauseKeyWorks) {
  zp_ring_reset();
  cfg_rewind = 0;
  capture_range(700, 700);
  passes(0, 1500, {comma, period, space});
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(word(0x8290ac), 1u);
}

TEST_F(Keys, DigitKeysComeLastAndSaveWithTheCtrlOfTheSamePass) {
  passes(0, 0, {ctrl, comma, '4'});  // a save of preset 4, with no track loaded here
  EXPECT_EQ(lines, (list{"0 zephal: rewound to tick 60 (-640)", "0 zephal: preset: no track path"}));
  passes(10, 10, {-ctrl, -comma, -'4'});
  passes(20, 20, {shift, '4'});  // Shift does not save: a recall, silent without a track
  EXPECT_EQ(lines.size(), 2u) << testing::PrintToString(lines);
}

}  // namespace
}  // namespace rw
