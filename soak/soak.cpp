// The soak: the real plug-in (its sources as the tests link them), applied
// by the stand-in loader to the host's game image and driven through the
// game's patched code for a long replay of random play: keys and mouse,
// seek taps with and without Shift and Ctrl, pause, preset saves and
// recalls, car-count and mark-section changes, mode changes and replay
// camera switches, in sessions of their own settings. Throughout it checks
//   - every rewind restores exactly the bytes captured at that tick (a
//     digest of the snapshot layout, taken when the game's tick routine
//     runs, right after the capture),
//   - every seek lands where the rules put it, from the soak's own record of
//     which ticks the ring holds: the exact tick, the oldest snapshot, a
//     forward run that pauses at its target, or "no snapshot",
//   - a preset recall brings back what the last save of that preset wrote,
//   - memory stays flat: one ring block at most, and the resident size.
//   soak [TICKS [SEED]]      (default 200000 replay ticks, seed 1)
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/game_memory.h"
#include "base/log.h"
#include "base/settings.h"
#include "freecam/record.h"
#include "host/game_image.h"
#include "host/loader.h"
#include "host/win32.h"
#include "presets/presets.h"
#include "rewind/ring.h"
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

// FNV-1a over 32-bit words: the digest of one snapshot's worth of game state.
struct digest {
  u64 h = 1469598103934665603ull;
  void add(const u8 *p, u32 n) {  // p null: n zeros
    for (u32 i = 0; i < n; ++i) h = (h ^ (p ? p[i] : 0)) * 1099511628211ull;
  }
};

// The game state a snapshot of the ring keeps, read afresh from the game:
// the regions, each car of the ring's count through the car table (zeros for
// an empty entry), the mark records through their array. Cars apart, since
// a rewind skips an entry that is empty by then.
struct snap {
  u64 regions = 0, marks = 0;
  std::vector<u64> cars;
  bool operator==(const snap &) const = default;
};

snap layout_digest(bool fx, u32 cars, u32 marks) {
  snap out;
  digest regions, mark_bytes;
  for (const zp_part &p : zp_layout) {
    if (p.fx && !fx) break;
    // The half-tick word is the one a rewind sets itself (from the tick
    // word in the slot header), whatever a forward seek had put there.
    if (p.kind == zp_part_region) {
      const u32 skip = p.addr == at::ga_half_tick ? 4 : 0;
      regions.add((const u8 *)(uintptr_t)(p.addr + skip), p.len - skip);
    }
    if (p.kind == zp_part_cars)
      for (u32 i = 0; i < cars; ++i) {
        digest d;
        const u32 car = word(at::ga_car_table + 4 * i);
        d.add(car ? (const u8 *)(uintptr_t)car : nullptr, p.len);
        out.cars.push_back(d.h);
      }
    for (u32 i = 0, array = word(at::ga_mark_array); p.kind == zp_part_marks && i < marks; ++i)
      mark_bytes.add(array ? (const u8 *)(uintptr_t)(array + i * at::mark_record_size + p.addr) : nullptr, p.len);
  }
  out.regions = regions.h;
  out.marks = mark_bytes.h;
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

class soak {
 public:
  soak(u32 seed, const std::string &dir) : rng_(seed), dir_(dir) {}

  // One session: a fresh game and plug-in, a zephal.ini of its own, ticks
  // replay ticks of play.
  void session(u32 ticks) {
    std::uniform_int_distribution<u32> pick(0, 3);
    const u32 rings[] = {128, 200, 640, 1024}, steps[] = {1, 3, 7, 20};
    s_ = {rings[pick(rng_)], steps[pick(rng_)], 64, 640, rng_() % 5 == 0};
    std::ofstream(dir_ + "/zephal.ini", std::ios::binary)
        << "[Zephal]\r\nRewindTicks=" << s_.ring << "\r\nRewindStep=" << s_.step
        << "\r\nRewindEffects=" << (s_.fx ? 1 : 0) << "\r\n";
    start_game();
    const u32 end = played_ + ticks;
    while (played_ < end) frame();
    zp_ring_reset();  // as a module unloaded with the game: the ring goes back
  }

  u32 played_ = 0, frames_ = 0;
  u32 rewinds_ = 0, oldest_ = 0, runs_ = 0, runs_landed_ = 0, none_ = 0, saves_ = 0, recalls_ = 0;
  u32 car_changes_ = 0, mark_changes_ = 0, mode_changes_ = 0, camera_switches_ = 0, rings_ = 0;

 private:
  void start_game() {
    // The plug-in as a freshly loaded module, the game freshly started.
    kit::fresh_module();
    host::release_all_keys();
    if (!host::game_reset()) exit(1);
    host::loader_reset();
    host::set_module_path(host::windows_path(dir_) + "\\game.exe");
    word(at::ga_track_dir) = kit::game_string("tracks\\");
    word(at::ga_track_names) = kit::game_string("soak");
    word(at::ga_track_number) = 0;
    std::filesystem::create_directories(dir_ + "/tracks/soak");
    word(at::ga_mouse_left + 8) = 640;
    word(at::ga_mouse_left + 12) = 480;
    for (u32 i = 0; i < ring_cars_max; ++i) cars_[i] = host::make_car(i, 10.0f * (f32)i, 0, 0);
    set_cars(8);
    set_marks(2);
    cam_ = host::make_camera(0, 0);
    word(cam_ + at::cam_off_target) = word(cam_ + at::cam_off_target2) = cars_[0];
    word(at::ga_view_cam_override) = word(at::ga_view_cam_base) = cam_;
    word(at::ga_mode) = at::mode_replay;
    host::game_services &svc = host::services();
    svc.tick = [this] { tick(); };
    svc.aux = [this] { return game_frame(), 0u; };
    svc.freecam = [this](u32 cam) { camera(cam); };
    const z9_ctx ctx = host::loader_context();
    if (Z9_Apply(&ctx) != 1) {
      fprintf(stderr, "soak: the plug-in was not applied:\n%s", host::loader_log_text().c_str());
      exit(1);
    }
    slots_.assign(s_.ring, ~0ull);
    captured_.clear();
    pending_ = 0;
    ring_exists_ = false;
    seen_ = host::loader_messages().size();
  }

  void set_cars(u32 n) {
    for (u32 i = 0; i < 64; ++i) word(at::ga_car_table + 4 * i) = i < n && i < ring_cars_max ? cars_[i] : 0;
    word(at::ga_car_count) = n;
  }
  // The records live outside the image, room for 64 of them whatever the
  // count says (a rewind writes as many as the ring was built for).
  void set_marks(u32 n) {
    marks_.assign(64 * at::mark_record_size, 0);
    word(at::ga_mark_array) = n ? (u32)(uintptr_t)marks_.data() : 0;
    word(at::ga_mark_index) = n - 1;
  }

  // The game's tick routine, entered right after the plug-in's capture: the
  // state it filed is the state here, before the tick changes anything.
  void tick() {
    note_log();
    const u32 t = word(at::ga_tick), n = word(at::ga_car_count);
    if (word(at::ga_mode) == at::mode_replay && n >= 1 && n <= ring_cars_max && ring_exists_) {
      slots_[t % s_.ring] = t;
      captured_[t] = layout_digest(s_.fx, ring_cars_, fx_marks_);
      if (captured_.size() > 2 * s_.ring) captured_.erase(captured_.begin());
    }
    // A forward run stops at the first tick routine at or past its target.
    if (pending_ && t >= pending_) {
      SOAK_CHECK(t == pending_ && (word(at::ga_pause) & 1), "a forward run to %u went on to %u", pending_, t);
      runs_landed_ += t == pending_;
      pending_ = 0;
    }
    if (word(at::ga_pause) & 1) return;
    const u32 next = t + 1;
    word(at::ga_tick) = next;
    word(at::ga_tick_alt) = 2 * next;
    word(at::ga_half_tick) = next;
    ++played_;
    // The replay moves on: words of the replay state and of every car
    // change as the tick and the dice say; the effects part too.
    std::uniform_int_distribution<u32> in(0, 6308 / 4 - 1);
    // (The track number lives there too; the game keeps it valid, and so does the soak.)
    for (int k = 0; k < 8; ++k) {
      const u32 at = 0x7c3c04 + 4 * in(rng_);
      if (at != at::ga_track_number) word(at) = rng_();
    }
    word(0x8290cc + 4 * (rng_() % 328)) = next;
    word(0x8b1bac + 4 * (rng_() % 9)) = rng_();
    word(0x87f76c + 4 * (rng_() % 27384)) = rng_();
    for (u32 i = 0; i < ring_cars_max; ++i) {
      host::fword(cars_[i] + at::car_off_pos) += 0.5f;
      word(cars_[i] + 0x100 + 4 * (rng_() % 600)) = rng_();
    }
    if (word(at::ga_mark_array) && clamped_marks())
      word(word(at::ga_mark_array) + (next % clamped_marks()) * at::mark_record_size + 12) = next;
  }

  // The game's aux routine: replay camera requests and the hand-over to camera 0.
  void game_frame() {
    if (word(at::ga_cam_request_flag)) {
      word(at::ga_cam_request_flag) = 0;
      const u32 n = word(at::ga_cam_request);
      if (n <= 8) word(at::ga_cam_current) = word(cam_ + at::cam_off_type) = n;
    }
    if (host::byte(at::ga_cam0_request) == 1 && host::byte(at::ga_cam0_state) != 0xff) {
      word(at::ga_cam_current) = word(cam_ + at::cam_off_type) = 0;
      host::byte(at::ga_cam0_state) = 0xff;
    }
  }

  // The game's camera routine: a chase camera behind car 0.
  void camera(u32 cam) {
    if (word(cam + at::cam_off_type) == at::cam_type_free) return;
    host::fword(cam + at::cam_off_pos) = host::fword(cars_[0] + at::car_off_pos) - 6;
  }

  // New log lines: a new ring empties the soak's record of it.
  void note_log() {
    const std::vector<std::string> &log = host::loader_messages();
    for (; seen_ < log.size(); ++seen_) {
      lines_.push_back(log[seen_]);
      if (log[seen_].rfind("zephal: snapshot ring", 0) == 0) {
        std::fill(slots_.begin(), slots_.end(), ~0ull);
        ring_exists_ = true;
        ring_cars_ = word(at::ga_car_count);
        fx_marks_ = s_.fx ? clamped_marks() : 0;
        ++rings_;
      }
    }
  }

  bool held(u32 t) const { return slots_[t % s_.ring] == t; }

  void frame() {
    ++frames_;
    std::uniform_int_distribution<u32> percent(0, 999);
    const bool replay = word(at::ga_mode) == at::mode_replay;
    // The player: flight keys and the mouse, now and then a modifier.
    static const int flight[] = {'W', 'S', 'A', 'D', 'Q', 'E', 'C', 'V', 'Z', 'X', 'R', 'F', 'L', 'B', VK_SHIFT, VK_CONTROL};
    if (percent(rng_) < 200) {
      const int vk = flight[rng_() % 16];
      host::set_key(vk, !host::key_is_down(vk));
    }
    if (percent(rng_) < 300) {
      word(at::ga_mouse_x) = 320 + rng_() % 40 - 20;
      word(at::ga_mouse_y) = 240 + rng_() % 40 - 20;
    }
    // Seek keys only as taps (down for one frame), so that each fires one seek now.
    auto tappable = [&](int vk) {
      if (frames_ - last_tap_[vk] < 2) return false;
      last_tap_[vk] = frames_;
      return true;
    };
    int seek = 0;
    const bool ctrl = host::key_is_down(VK_CONTROL), shift = host::key_is_down(VK_SHIFT);
    if (replay && percent(rng_) < 40) seek = rng_() % 2 ? k_prev : k_next;
    if (seek && !tappable(seek)) seek = 0;
    int digit = percent(rng_) < 8 ? (int)(rng_() % 10) : -1;
    if (digit >= 0 && !tappable('0' + digit)) digit = -1;
    // The player pauses now and then, and soon goes on.
    paused_frames_ = (word(at::ga_pause) & 1) ? paused_frames_ + 1 : 0;
    const bool pause_tap = (percent(rng_) < 6 || paused_frames_ > 20) && tappable(0x20);
    if (seek) host::set_key(seek, true);
    if (digit >= 0) host::set_key('0' + digit, true);
    if (pause_tap) host::set_key(0x20, true);

    // The game: cars, marks, mode and replay camera now and then.
    const u32 c = percent(rng_);
    if (c < 2) {
      const u32 cars[] = {0, 1, 2, 5, 8, 12, 16, 17};
      set_cars(cars[rng_() % 8]);
      ++car_changes_;
    } else if (c < 4) {
      const u32 marks[] = {0, 1, 3, 64, 5000};
      set_marks(marks[rng_() % 5]);
      ++mark_changes_;
    } else if (c < 5 || (!replay && c < 40)) {  // the menu is a short visit
      word(at::ga_mode) = replay ? 1 : at::mode_replay;
      pending_ = 0;
      ++mode_changes_;
    } else if (c < 25) {
      word(at::ga_cam_request) = rng_() % 2 ? at::cam_type_free : rng_() % 9;
      word(at::ga_cam_request_flag) = 1;
      ++camera_switches_;
    }

    const u32 now = word(at::ga_tick);
    const bool was_active = zp[0].active;
    const size_t before = lines_.size();
    host::set_tick(1000000u + (u32)((u64)frames_ * 1000 / 60));
    host::frame_pass();
    note_log();
    check_frame(now, before, seek ? (seek == k_prev ? -1 : 1) * (ctrl ? (i32)s_.ctrl : shift ? (i32)s_.shift : (i32)s_.step) : 0,
                digit, ctrl, was_active, pause_tap);

    if (word(at::ga_mode) == at::mode_replay && !(word(at::ga_pause) & 1)) host::replay_ticks(1);
    note_log();
    for (int n = 1; n <= 3 && word(at::ga_mode) == at::mode_replay; ++n) host::arm_call(n);
    host::camera_case7(cam_);
    note_log();

    if (seek) host::set_key(seek, false);
    if (digit >= 0) host::set_key('0' + digit, false);
    if (pause_tap) host::set_key(0x20, false);
    SOAK_CHECK(host::virtual_blocks_live() <= 1, "%u ring blocks live", host::virtual_blocks_live());
    if (lines_.size() > 64) lines_.erase(lines_.begin(), lines_.end() - 16);
  }

  void check_frame(u32 now, size_t before, i32 delta, int digit, bool ctrl, bool was_active, bool pause_tap) {
    std::vector<std::string> fresh(lines_.begin() + (long)before, lines_.end());
    u32 rewound = ~0u;
    for (const std::string &l : fresh) sscanf(l.c_str(), "zephal: rewound to tick %u", &rewound);
    if (rewound != ~0u) {
      ++rewinds_;
      auto it = captured_.find(rewound);
      SOAK_CHECK(it != captured_.end(), "rewound to tick %u, which the soak never saw filed", rewound);
      if (it != captured_.end()) {
        snap now_state = layout_digest(s_.fx, ring_cars_, fx_marks_);
        for (u32 i = 0; i < ring_cars_; ++i)  // an entry empty now was left alone
          if (!word(at::ga_car_table + 4 * i)) now_state.cars[i] = it->second.cars[i];
        if (!word(at::ga_mark_array)) now_state.marks = it->second.marks;  // as were marks with no array
        SOAK_CHECK(word(at::ga_half_tick) == word(at::ga_tick_alt) >> 1, "the rewind to tick %u left the half tick at %u",
                   rewound, word(at::ga_half_tick));
        SOAK_CHECK(now_state == it->second, "the rewind to tick %u restored other bytes (regions %d, cars %d, marks %d)",
                   rewound, now_state.regions == it->second.regions, now_state.cars == it->second.cars,
                   now_state.marks == it->second.marks);
      }
    }
    if (delta && word(at::ga_mode) == at::mode_replay && ring_exists_) {
      // Where the rules put this seek.
      const i64 target = std::clamp<i64>((i64)now + delta, 0, 0xffffffffll);
      if (held((u32)target)) {
        SOAK_CHECK(rewound == (u32)target, "seek %+d from %u: expected the snapshot of %lld, got %d", delta, now,
                   (long long)target, (int)rewound);
        pending_ = 0;
      } else if (delta > 0) {
        SOAK_CHECK(rewound == ~0u && !(word(at::ga_pause) & 1), "seek %+d from %u: expected a run to %lld", delta, now,
                   (long long)target);
        pending_ = (u32)target;
        ++runs_;
      } else {
        u64 oldest = ~0ull;
        for (u64 t : slots_)
          if (t != ~0ull) oldest = std::min(oldest, t);
        if (oldest != ~0ull && oldest < now) {
          SOAK_CHECK(rewound == oldest, "seek %+d from %u: expected the oldest snapshot %llu, got %d", delta, now,
                     (unsigned long long)oldest, (int)rewound);
          ++oldest_;
          pending_ = 0;
        } else {
          const std::string want = "zephal: seek " + std::to_string(delta) + ": no snapshot";
          SOAK_CHECK(std::find(fresh.begin(), fresh.end(), want) != fresh.end(), "seek %+d from %u: expected \"%s\"",
                     delta, now, want.c_str());
          ++none_;
        }
      }
    }
    if (pause_tap) pending_ = 0;  // the player took the replay in hand
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

  // The floats a preset keeps, as bit patterns.
  static std::vector<u32> pose(const freecam_record &r) {
    std::vector<u32> p(21);
    memcpy(p.data(), &r.x, 12), memcpy(p.data() + 3, r.m, 36), memcpy(p.data() + 12, r.r, 36);
    return p;
  }

  std::mt19937 rng_;
  std::string dir_;
  struct {
    u32 ring, step, shift, ctrl;
    bool fx;
  } s_{};
  u32 cars_[ring_cars_max] = {}, cam_ = 0;
  std::vector<u8> marks_;
  std::vector<u64> slots_;          // by slot: the tick the ring holds there, ~0 for none
  std::map<u32, snap> captured_;    // the digest of each tick filed, the latest 2 rings' worth
  bool ring_exists_ = false;
  u32 ring_cars_ = 0, fx_marks_ = 0;
  u32 last_tap_[256] = {};          // frame of each key's last tap: a tap needs a frame up before it
  u32 pending_ = 0;                 // a forward run's target, 0 for none
  u32 paused_frames_ = 0;
  size_t seen_ = 0;
  std::vector<std::string> lines_;
  std::map<int, std::vector<u32>> presets_;
};

}  // namespace

int main(int argc, char **argv) {
  const u32 ticks = argc > 1 ? (u32)atol(argv[1]) : 200000, seed = argc > 2 ? (u32)atol(argv[2]) : 1;
  char tmpl[] = "/tmp/zephal-soak-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  soak s(seed, dir);
  logger = host::loader_log;
  const auto start = std::chrono::steady_clock::now();
  long first_rss = 0, peak_rss = 0;
  const u32 per_session = std::max(ticks / 8, 1000u);
  while (s.played_ < ticks) {
    s.session(std::min(per_session, ticks - s.played_));
    const long rss = resident_kib();  // between sessions: no ring
    if (host::virtual_blocks_live() != 0) {
      printf("soak: %u ring blocks outlive their session\n", host::virtual_blocks_live());
      ++failures;
    }
    if (!first_rss) first_rss = rss;
    peak_rss = std::max(peak_rss, rss);
    printf("soak: %u of %u ticks, %u frames, resident %ld KiB\n", s.played_, ticks, s.frames_, rss);
    fflush(stdout);
  }
  std::filesystem::remove_all(dir);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  printf("soak: %u replay ticks in %u frames, %.0f s (seed %u)\n", s.played_, s.frames_, secs, seed);
  printf("  rewinds %u (every one restored the bytes filed at its tick), %u to the oldest snapshot,\n"
         "  %u forward runs (%u stopped at their target), %u seeks with no snapshot\n",
         s.rewinds_, s.oldest_, s.runs_, s.runs_landed_, s.none_);
  printf("  presets: %u saved, %u recalled as saved; rings built %u\n", s.saves_, s.recalls_, s.rings_);
  printf("  game changes: %u car counts, %u mark sections, %u modes, %u replay cameras\n", s.car_changes_,
         s.mark_changes_, s.mode_changes_, s.camera_switches_);
  printf("  memory between sessions (no ring): resident %ld KiB after the first, at most %ld KiB after any\n",
         first_rss, peak_rss);
#if defined(__SANITIZE_ADDRESS__)
  const long allowed = 256 * 1024;  // the sanitizer's quarantine and shadow grow as they please
#else
  const long allowed = 16 * 1024;
#endif
  if (peak_rss - first_rss > allowed) {
    printf("soak: the resident size grew by %ld KiB\n", peak_rss - first_rss);
    ++failures;
  }
  printf("%d passed, %d failed\n", failures ? 0 : 1, failures ? 1 : 0);
  return failures ? 1 : 0;
}
