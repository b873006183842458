// The soak: the real plug-in (its sources as the tests link them), applied
// by the stand-in loader to the host's game image, and the simulator's game
// (sim/replay_model) played through the patched places for a long replay of
// random play: keys and mouse, seek taps with and without Shift and Ctrl,
// pause, preset saves and recalls, car-count and mark-section changes, mode
// changes and replay camera switches, in sessions of their own settings.
// Throughout it checks
//   - every rewind restores exactly the bytes captured at that tick (a
//     digest of the snapshot layout, taken when the game's tick routine
//     runs, right after the capture),
//   - every seek lands where the rules put it, from the soak's own record of
//     which ticks the ring holds: the exact tick, the oldest snapshot, a
//     forward run that pauses at its target, or "no snapshot",
//   - a preset recall brings back what the last save of that preset wrote,
//   - memory stays flat: one ring block at most, and the resident size.
//   soak [TICKS [SEED]]      (default 200000 replay ticks, seed 1)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/settings.h"
#include "freecam/record.h"
#include "host/game_image.h"
#include "host/loader.h"
#include "host/win32.h"
#include "rewind/ring.h"
#include "sim/replay_model.h"
#include "tests/game_words.h"
#include "tests/kit/kit.h"
#include "z9sdk/z9.h"

extern "C" u32 Z9_Apply(const z9_ctx *ctx);

namespace {

using host::word;

int failures = 0;
#define SOAK_CHECK(cond, ...)                                                                          \
  do {                                                                                                 \
    if (!(cond) && ++failures <= 20)                                                                   \
      fprintf(stderr, "soak: tick %u: ", word(at::ga_tick)), fprintf(stderr, __VA_ARGS__), fputc('\n', stderr); \
  } while (0)

// FNV-1a: h carried on over n bytes at game address a (zeros for address 0).
u64 fnv(u64 h, u32 a, u32 n) {
  for (u32 i = 0; i < n; ++i) h = (h ^ (a ? *(const u8 *)(uintptr_t)(a + i) : 0)) * 1099511628211ull;
  return h;
}

// The game state a snapshot of the ring keeps, read afresh from the game, as
// digests: [0] the regions, [1] the mark records through their array, then
// one for each car of the ring's count through the car table (zeros for an
// empty entry). Cars and marks apart, since a rewind skips an entry that is
// empty by then, and marks without an array.
using snap = std::vector<u64>;
snap layout_digest(bool fx, u32 cars, u32 marks) {
  snap out(2 + cars, 1469598103934665603ull);
  for (const zp_part &p : zp_layout) {
    if (p.fx && !fx) break;
    // The half-tick word is the one a rewind sets itself (from the tick
    // word in the slot header), whatever a forward seek had put there.
    const u32 skip = p.addr == at::ga_half_tick ? 4 : 0, array = word(at::ga_mark_array);
    if (p.kind == zp_part_region) out[0] = fnv(out[0], p.addr + skip, p.len - skip);
    for (u32 i = 0; p.kind == zp_part_cars && i < cars; ++i)
      out[2 + i] = fnv(out[2 + i], word(at::ga_car_table + 4 * i), p.len);
    for (u32 i = 0; p.kind == zp_part_marks && i < marks; ++i)
      out[1] = fnv(out[1], array ? array + i * at::mark_record_size + p.addr : 0, p.len);
  }
  return out;
}

u32 clamped_marks() {
  const u32 m = word(at::ga_mark_index) + 1;
  return m > mark_sections_max ? 0 : m;
}

long resident_kib() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The floats a preset keeps, as bytes: the position with the orientation after it, and r.
std::string pose(const freecam_record &r) {
  return std::string((const char *)&r.x, 48) + std::string((const char *)r.r, 36);
}

class soak {
 public:
  soak(u32 seed, const std::string &dir) : rng_(seed), dir_(dir) {}

  // One session: a fresh game and plug-in, a zephal.ini of its own, ticks
  // replay ticks of play.
  void session(u32 ticks) {
    const u32 rings[] = {128, 200, 640, 1024}, steps[] = {1, 3, 7, 20};
    ring_ = rings[rng_() % 4], step_ = steps[rng_() % 4], fx_ = rng_() % 5 == 0;
    kit::write_text(dir_ + "/zephal.ini", "[Zephal]\r\nRewindTicks=" + std::to_string(ring_) + "\r\nRewindStep=" +
                                              std::to_string(step_) + "\r\nRewindEffects=" + (fx_ ? "1" : "0") + "\r\n");
    start_game();
    for (const u32 end = game_.ticks + ticks; game_.ticks < end;) frame();
    zp_ring_reset();  // as a module unloaded with the game: the ring goes back
  }

  sim::game game_;
  u32 frames_ = 0, rewinds_ = 0, runs_ = 0, runs_landed_ = 0, none_ = 0, saves_ = 0, recalls_ = 0, rings_ = 0;

 private:
  // The plug-in as a freshly loaded module, the game freshly started, the
  // soak's own view of the tick routine put in front of the game's.
  void start_game() {
    kit::fresh_module();
    host::release_all_keys();
    host::loader_reset();
    if (!host::game_reset()) exit(1);
    host::set_module_path(host::windows_path(dir_) + "\\game.exe");
    game_.start(sim::scenario{}, dir_);
    game_.set_marks(2);
    host::game_services &svc = host::services();
    svc.tick = [this, play = svc.tick] { tick(play); };
    const z9_ctx ctx = host::loader_context();
    if (Z9_Apply(&ctx) != 1) {
      fprintf(stderr, "soak: the plug-in was not applied:\n%s", host::loader_log_text().c_str());
      exit(1);
    }
    slots_.clear();
    pending_ = 0;
    seen_ = host::loader_messages().size();
  }

  // The game's tick routine, entered right after the plug-in's capture: the
  // state it filed is the state here, before the tick changes anything.
  void tick(const std::function<void()> &play) {
    note_log();
    const u32 t = word(at::ga_tick), n = word(at::ga_car_count);
    if (word(at::ga_mode) == at::mode_replay && n >= 1 && n <= ring_cars_max && !slots_.empty())
      slots_[t % ring_] = {t, layout_digest(fx_, ring_cars_, fx_marks_)};
    // A forward run stops at the first tick routine at or past its target.
    if (pending_ && t >= pending_) {
      SOAK_CHECK(t == pending_ && (word(at::ga_pause) & 1), "a forward run to %u reached tick %u %s", pending_, t,
                 word(at::ga_pause) & 1 ? "paused" : "still running");
      runs_landed_ += t == pending_;
      pending_ = 0;
    }
    play();
    if (word(at::ga_tick) == t) return;
    // Besides the cars' driving, words of the replay state, of every car and
    // of the effects part change as the dice say. (The track number lives
    // among them; the game keeps it valid, and so does the soak.)
    for (int k = 0; k < 8; ++k) {
      const u32 at = at::filed_word + 4 * (rng_() % 1577);
      if (at != at::ga_track_number) word(at) = rng_();
    }
    word(0x8290cc + 4 * (rng_() % 328)) = t;
    word(0x8b1bac + 4 * (rng_() % 9)) = rng_();
    word(0x87f76c + 4 * (rng_() % 27384)) = rng_();
    for (u32 i = 0; i < sim::max_cars; ++i)  // past the driving state, up to the end of the filed block
      if (const u32 car = game_.car(i)) word(car + 0x240 + 4 * (rng_() % 549)) = rng_();
    if (word(at::ga_mark_array) && clamped_marks())
      word(word(at::ga_mark_array) + (t % clamped_marks()) * at::mark_record_size + 12) = t;
  }

  // New log lines: a new ring (only a capture builds one, and the tick
  // routine follows it) empties the soak's record of it.
  void note_log() {
    for (const std::vector<std::string> &log = host::loader_messages(); seen_ < log.size(); ++seen_)
      if (log[seen_].rfind("zephal: snapshot ring", 0) == 0) {
        slots_.assign(ring_, {});
        ring_cars_ = word(at::ga_car_count);
        fx_marks_ = fx_ ? clamped_marks() : 0;
        ++rings_;
      }
  }

  // Where the rules put a seek of delta from now, in the words of check():
  // the snapshot of the tick itself, else forward a run to it, else back the
  // oldest snapshot filed before now, else none.
  std::string landing(u32 now, i32 delta) {
    const u32 target = (u32)std::clamp<i64>((i64)now + delta, 0, 0xffffffffll);
    u64 oldest = ~0ull;
    for (const filed &f : slots_) oldest = std::min(oldest, f.tick);
    const u64 to = slots_[target % ring_].tick == target ? target : delta < 0 && oldest < now ? oldest : ~0ull;
    if (to != ~0ull) {
      pending_ = 0;  // a rewind abandons a forward run
      return "the snapshot of " + std::to_string(to);
    }
    if (delta < 0) return ++none_, "no snapshot";
    pending_ = target;
    ++runs_;
    return "a run";
  }

  void frame() {
    ++frames_;
    const bool replay = word(at::ga_mode) == at::mode_replay;
    // The player: flight keys and the mouse, now and then a modifier.
    static const int flight[] = {'W', 'S', 'A', 'D', 'Q', 'E', 'C', 'V', 'Z', 'X', 'R', 'F', 'L', 'B', VK_SHIFT, VK_CONTROL};
    if (rng_() % 5 == 0) {
      const int vk = flight[rng_() % 16];
      host::set_key(vk, !host::key_is_down(vk));
    }
    if (rng_() % 10 < 3) game_.move_mouse((i32)(rng_() % 41) - 20, (i32)(rng_() % 41) - 20);
    const bool ctrl = host::key_is_down(VK_CONTROL), shift = host::key_is_down(VK_SHIFT);
    // Seek, preset and pause keys only as taps on even frames (down for one
    // frame, up the frame before), so that each fires once now.
    std::vector<int> taps;
    auto tap = [&](bool want, int vk) {
      if (!want || frames_ % 2) return 0;
      taps.push_back(vk);
      return vk;
    };
    const int seek = tap(replay && rng_() % 13 == 0, rng_() % 2 ? k_prev : k_next);
    const int digit_key = tap(rng_() % 63 == 0, '0' + (int)(rng_() % 10)), digit = digit_key ? digit_key - '0' : -1;
    paused_frames_ = (word(at::ga_pause) & 1) ? paused_frames_ + 1 : 0;
    if (tap(rng_() % 80 == 0 || paused_frames_ > 20, at::space)) pending_ = 0;  // the player takes the replay in hand

    // The game: cars (17 is more than a ring takes), marks, mode and replay camera now and then.
    const u32 c = rng_() % 1000;
    if (c < 2) {
      const u32 cars[] = {0, 1, 2, 5, 8, 12, 16, 17}, n = cars[rng_() % 8];
      game_.set_cars(n);
      word(at::ga_car_count) = n;
    } else if (c < 4) {
      const u32 marks[] = {0, 1, 3, 64, 5000};
      game_.set_marks(marks[rng_() % 5]);
    } else if (c < 5 || (!replay && c < 40)) {  // the menu is a short visit
      game_.set_mode(replay ? at::mode_menu : at::mode_replay);
      pending_ = 0;
    } else if (c < 25) {
      game_.request_camera(rng_() % 2 ? at::cam_type_free : rng_() % 9);
    }

    const i32 delta = !seek ? 0 : (seek == k_prev ? -1 : 1) * (i32)(ctrl ? 640 : shift ? 64 : step_);
    const u32 now = word(at::ga_tick);
    const bool was_active = zp[0].active;
    const size_t before = host::loader_messages().size();
    for (int vk : taps) host::set_key(vk, true);
    host::set_tick(1000000u + (u32)((u64)frames_ * 1000 / 60));
    host::frame_pass();
    check({host::loader_messages().begin() + (long)before, host::loader_messages().end()}, now, delta, digit, ctrl,
          was_active);
    // The rest of the game's frame, as the simulator plays it.
    if (word(at::ga_mode) == at::mode_replay && !(word(at::ga_pause) & 1)) host::replay_ticks(1);
    for (int n = 1; n <= 3 && word(at::ga_mode) == at::mode_replay; ++n) host::arm_call(n);
    host::camera_case7(game_.camera(0));
    for (int vk : taps) host::set_key(vk, false);
    SOAK_CHECK(host::virtual_blocks_live() <= 1, "%u ring blocks live", host::virtual_blocks_live());
  }

  // The frame pass's log lines against what it had to do.
  void check(const std::vector<std::string> &fresh, u32 now, i32 delta, int digit, bool ctrl, bool was_active) {
    u32 rewound = ~0u;
    bool none = false;
    for (const std::string &l : fresh) {
      sscanf(l.c_str(), "zephal: rewound to tick %u", &rewound);
      none |= l == "zephal: seek " + std::to_string(delta) + ": no snapshot";
    }
    if (rewound != ~0u) {
      ++rewinds_;
      const filed &f = slots_.empty() ? filed{} : slots_[rewound % ring_];
      SOAK_CHECK(f.tick == rewound, "rewound to tick %u, which the ring does not hold", rewound);
      if (f.tick == rewound) {
        snap now_state = layout_digest(fx_, ring_cars_, fx_marks_);
        for (u32 i = 0; i < ring_cars_; ++i)  // an entry empty now was left alone
          if (!word(at::ga_car_table + 4 * i)) now_state[2 + i] = f.state[2 + i];
        if (!word(at::ga_mark_array)) now_state[1] = f.state[1];  // as were marks with no array
        SOAK_CHECK(word(at::ga_half_tick) == word(at::ga_tick_alt) >> 1, "the rewind to tick %u left the half tick at %u",
                   rewound, word(at::ga_half_tick));
        const long differs = std::mismatch(now_state.begin(), now_state.end(), f.state.begin()).first - now_state.begin();
        SOAK_CHECK(now_state == f.state, "the rewind to tick %u restored other bytes (digest %ld: 0 regions, 1 marks, 2.. cars)",
                   rewound, differs);
      }
    }
    const std::string got = rewound != ~0u                 ? "the snapshot of " + std::to_string(rewound)
                            : none                         ? "no snapshot"
                            : !(word(at::ga_pause) & 1)    ? "a run"
                                                           : "nothing";
    const std::string want = delta && word(at::ga_mode) == at::mode_replay && !slots_.empty() ? landing(now, delta) : got;
    SOAK_CHECK(got == want, "seek %+d from %u: expected %s, got %s", delta, now, want.c_str(), got.c_str());
    // Presets: a save records what the record held; an immediate recall
    // must bring back what the last save of that preset wrote.
    if (digit < 0 || word(at::ga_mode) != at::mode_replay) return;
    const std::string saved = "zephal: preset " + std::to_string(digit) + " saved";
    bool did_save = false;
    for (const std::string &l : fresh) did_save |= l.rfind(saved, 0) == 0;
    if (ctrl && did_save) {
      ++saves_;
      presets_[digit] = pose(zp[0]);
    } else if (!ctrl && was_active && presets_.count(digit)) {
      ++recalls_;
      SOAK_CHECK(pose(zp[0]) == presets_[digit], "preset %d came back other than it was saved", digit);
    }
  }

  std::mt19937 rng_;
  std::string dir_;
  u32 ring_ = 0, step_ = 0;
  bool fx_ = false;
  struct filed {
    u64 tick = ~0ull;  // ~0: none
    snap state;
  };
  std::vector<filed> slots_;        // by slot: the tick the ring holds there and its digest; none without a ring
  u32 ring_cars_ = 0, fx_marks_ = 0;
  u32 pending_ = 0;                 // a forward run's target, 0 for none
  u32 paused_frames_ = 0;
  size_t seen_ = 0;
  std::map<int, std::string> presets_;
};

}  // namespace

int main(int argc, char **argv) {
  const u32 ticks = argc > 1 ? (u32)atol(argv[1]) : 200000, seed = argc > 2 ? (u32)atol(argv[2]) : 1;
  kit::temp_dir dir("zephal-soak");
  soak s(seed, dir.path);
  logger = host::loader_log;
  const auto start = std::chrono::steady_clock::now();
  long first_rss = 0, peak_rss = 0;
  while (s.game_.ticks < ticks) {
    s.session(std::min(std::max(ticks / 8, 1000u), ticks - s.game_.ticks));
    const long rss = resident_kib();  // between sessions: no ring
    SOAK_CHECK(host::virtual_blocks_live() == 0, "%u ring blocks outlive their session", host::virtual_blocks_live());
    first_rss = first_rss ? first_rss : rss;
    peak_rss = std::max(peak_rss, rss);
    printf("soak: %u of %u ticks, %u frames, resident %ld KiB\n", s.game_.ticks, ticks, s.frames_, rss);
    fflush(stdout);
  }
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  printf("soak: %u replay ticks in %u frames, %.0f s (seed %u): %u rewinds (each restored the bytes filed at its tick),\n"
         "  %u forward runs (%u stopped at their target), %u seeks with no snapshot, %u rings built,\n"
         "  presets %u saved and %u recalled as saved; resident %ld KiB after the first session, at most %ld KiB\n",
         s.game_.ticks, s.frames_, secs, seed, s.rewinds_, s.runs_, s.runs_landed_, s.none_, s.rings_, s.saves_,
         s.recalls_, first_rss, peak_rss);
#if defined(__SANITIZE_ADDRESS__)
  const long allowed = 256 * 1024;  // the sanitizer's quarantine and shadow grow as they please
#else
  const long allowed = 16 * 1024;
#endif
  SOAK_CHECK(peak_rss - first_rss <= allowed, "the resident size grew by %ld KiB", peak_rss - first_rss);
  printf("%d passed, %d failed\n", failures ? 0 : 1, failures ? 1 : 0);
  return failures ? 1 : 0;
}
