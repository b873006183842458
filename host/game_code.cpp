// The stand-in game's code: the original instructions at the places the
// plug-in patches, the four game routines behind them, and the small callers
// through which the host runs the game's own paths. Everything here is real
// x86 code executed by the processor, laid byte by byte; each sequence says
// which instruction it is.
//
// Host page 0x5b0000 (data part, outside every game word the plug-in knows):
//   0x5b0000  service words: camera, replay interface, frame, tick
//   0x5b0100  routine_entry of the camera routine      (0x80 apart)
//   0x5b0180  ... of the replay-interface routine
//   0x5b0200  ... of the frame routine
//   0x5b0280  ... of the tick routine
//   0x5b0400  FXSAVE image at entry of each, in the same order (0x200 apart)
#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "host/game_image.h"

namespace host {
namespace {

constexpr u32 svc_freecam_word = host_page + 0x00;
constexpr u32 svc_arm_word = host_page + 0x04;
constexpr u32 svc_aux_word = host_page + 0x08;
constexpr u32 svc_tick_word = host_page + 0x0c;
constexpr u32 entries_at = host_page + 0x100;
constexpr u32 fx_at = host_page + 0x400;

constexpr u32 entry_addr(routine r) { return entries_at + 0x80 * (u32)r; }
constexpr u32 fx_addr(routine r) { return fx_at + 0x200 * (u32)r; }
static_assert(fx_addr(routine::tick) + 512 <= host_page + 0x1000);

// Entries of the callers (host-callable, cdecl). A camera case starts 4
// bytes before its call site, with the load of the camera into EAX.
constexpr u32 case7_entry = site_case7 - 4;
constexpr u32 case30_entry = site_case30 - 4;
constexpr u32 ticks_entry = 0x51bb00;

// The bytes of a 32-bit little-endian immediate or address.
#define LE(x) (u8)((x) & 0xff), (u8)(((x) >> 8) & 0xff), (u8)(((x) >> 16) & 0xff), (u8)(((u32)(x) >> 24) & 0xff)

// One piece of code being assembled at its game address. Pieces laid in the
// same pass must not overlap; laying aborts when they do, since a routine
// running into a patch site would corrupt the game silently.
struct laid_range {
  u32 at, end;
  const char *what;
};
laid_range laid[32];
int laid_count = 0;

class code {
 public:
  code(u32 at, const char *what) : at_(at), what_(what) {}
  ~code() {
    for (int i = 0; i < laid_count; ++i)
      if (at_ < laid[i].end && laid[i].at < at_ + n_) {
        fprintf(stderr, "host: game code %s at 0x%x overlaps %s\n", what_, at_, laid[i].what);
        abort();
      }
    laid[laid_count++] = {at_, at_ + n_, what_};
    memcpy((void *)(uintptr_t)at_, buf_, n_);
  }
  code &operator()(std::initializer_list<u8> bytes) {
    for (u8 b : bytes) buf_[n_++] = b;
    return *this;
  }
  code &operator()(const u8 *bytes, u32 n) {
    for (u32 i = 0; i < n; ++i) buf_[n_++] = bytes[i];
    return *this;
  }

 private:
  u32 at_;
  const char *what_;
  u8 buf_[128];
  u32 n_ = 0;
};

// Entry record of a routine: ESP, then PUSHFD/PUSHAD and a copy of those nine
// words and the eight stack words above them, then the FPU state, then the
// call count. EFLAGS and the registers are back as they came at popfd/popad.
void record_entry(code &c, routine r) {
  const u32 e = entry_addr(r);
  c({0x89, 0x25, LE(e + 4)});           // mov [entry.esp], esp
  c({0x9c});                            // pushfd
  c({0x60});                            // pushad
  c({0x0f, 0xae, 0x05, LE(fx_addr(r))});  // fxsave [fx]
  c({0x89, 0xe6});                      // mov esi, esp
  c({0xbf, LE(e + 8)});                 // mov edi, entry.edi
  c({0xb9, LE(17)});                    // mov ecx, 17: PUSHAD, EFLAGS, eight stack words
  c({0xfc});                            // cld: the copy, and C++ services, need DF clear
  c({0xf3, 0xa5});                      // rep movsd
  c({0xff, 0x05, LE(e)});               // inc dword ptr [entry.calls]
}

// EAX as the routine's result: written into the PUSHAD slot of EAX, so that
// POPAD hands it back while every other register returns as it came.
void return_eax(code &c) {
  c({0x89, 0x44, 0x24, 0x1c});  // mov [esp+28], eax
  c({0x61});                    // popad
  c({0x9d});                    // popfd
}

// --- services: the C++ behind the routines -------------------------------
// Called from game code, whose stack has only 4-byte alignment: realign.

game_services the_services;

#define SERVICE extern "C" __attribute__((force_align_arg_pointer, used))

SERVICE void host_svc_freecam(u32 cam) {
  if (the_services.freecam) the_services.freecam(cam);
}
SERVICE void host_svc_arm() {
  if (the_services.arm) the_services.arm();
}
SERVICE u32 host_svc_aux() {
  return the_services.aux ? the_services.aux() : entry_of(routine::aux).calls;
}
SERVICE void host_svc_tick() {
  if (the_services.tick) the_services.tick();
}

// The six calls of the game at the places the plug-in patches, with the
// bytes the game has there (the plug-in checks them before patching). The
// camera cases hand the camera object over in EAX.
struct game_call {
  u32 site;
  u8 bytes[5];      // e8 and the call's rel32, as the game has them
  u32 callee;
  bool camera_arg;  // the caller takes (u32 cam) and loads it into EAX first
  const char *what;
};
constexpr game_call game_calls[] = {
    // call 0x43f2c0, the camera routine
    {site_case7, {0xe8, 0x02, 0xdd, 0xff, 0xff}, freecam_routine, true, "camera case 7"},
    {site_case30, {0xe8, 0x7f, 0xde, 0xff, 0xff}, freecam_routine, true, "camera case 30"},
    // call 0x511240, the replay-interface routine
    {site_arm1, {0xe8, 0x5f, 0xff, 0xff, 0xff}, arm_routine, false, "replay interface 1"},
    {site_arm2, {0xe8, 0x2b, 0xef, 0xff, 0xff}, arm_routine, false, "replay interface 2"},
    {site_arm3, {0xe8, 0x5e, 0xed, 0xff, 0xff}, arm_routine, false, "replay interface 3"},
    // call 0x51a360, the frame routine
    {site_frame, {0xe8, 0x33, 0x90, 0x00, 0x00}, aux_routine, false, "frame pass"},
};

// A literal displacement lands on the routine meant.
constexpr bool reaches(const game_call &c) {
  u32 disp = c.bytes[1] | c.bytes[2] << 8 | c.bytes[3] << 16 | (u32)c.bytes[4] << 24;
  return c.bytes[0] == 0xe8 && c.site + 5 + disp == c.callee;
}
static_assert([] {
  for (const game_call &c : game_calls)
    if (!reaches(c)) return false;
  return true;
}());

// The same check for a call laid in memory.
void check_call(u32 site, u32 callee) {
  u32 disp;
  memcpy(&disp, (const void *)(uintptr_t)(site + 1), 4);
  if (byte(site) != 0xe8 || site + 5 + disp != callee) {
    fprintf(stderr, "host: game call at 0x%x does not reach 0x%x\n", site, callee);
    abort();
  }
}

void lay_routines() {
  // Camera routine 0x43f2c0: updates the camera object in EAX.
  {
    code c(freecam_routine, "camera routine");
    record_entry(c, routine::freecam);
    c({0xff, 0x74, 0x24, 0x1c});                  // push dword ptr [esp+28]: the camera (saved EAX)
    c({0xff, 0x15, LE(svc_freecam_word)});         // call dword ptr [service.camera]
    c({0x83, 0xc4, 0x04});                        // add esp, 4
    c({0xa1, LE(entry_addr(routine::freecam))});   // mov eax, [entry.calls]
    return_eax(c);
    c({0xc3});                                    // ret
  }
  // Replay-interface routine 0x511240.
  {
    code c(arm_routine, "replay-interface routine");
    record_entry(c, routine::arm);
    c({0xff, 0x15, LE(svc_arm_word)});        // call dword ptr [service.replay_ui]
    c({0xa1, LE(entry_addr(routine::arm))});  // mov eax, [entry.calls]
    return_eax(c);
    c({0xc3});                                      // ret
  }
  // Frame routine 0x51a360: its result comes back in EAX.
  {
    code c(aux_routine, "frame routine");
    record_entry(c, routine::aux);
    c({0xff, 0x15, LE(svc_aux_word)});  // call dword ptr [service.frame]
    return_eax(c);
    c({0xc3});                            // ret
  }
  // Replay tick routine 0x51bbe0: the prologue the plug-in displaces, then
  // the body from 0x51bbe8, which sees its saved registers below EBP = ESP.
  {
    code c(tick_routine, "replay tick routine");
    c({0x53});                                   // push ebx
    c({0x51});                                   // push ecx
    c({0x52});                                   // push edx
    c({0x56});                                   // push esi
    c({0x57});                                   // push edi
    c({0x55});                                   // push ebp
    c({0x89, 0xe5});                             // mov ebp, esp
    record_entry(c, routine::tick);              // 0x51bbe8
    c({0xff, 0x15, LE(svc_tick_word)});          // call dword ptr [service.tick]
    c({0xa1, LE(entry_addr(routine::tick))});    // mov eax, [entry.calls]
    return_eax(c);
    c({0x5d});                                   // pop ebp
    c({0x5f});                                   // pop edi
    c({0x5e});                                   // pop esi
    c({0x5a});                                   // pop edx
    c({0x59});                                   // pop ecx
    c({0x5b});                                   // pop ebx
    c({0xc3});                                   // ret
  }
}

void lay_callers() {
  // Each call with a RET behind it, so that the site itself is callable; a
  // camera case is a cdecl (u32 cam) that hands the camera on in EAX.
  for (const game_call &g : game_calls) {
    code c(g.camera_arg ? g.site - 4 : g.site, g.what);
    if (g.camera_arg) c({0x8b, 0x44, 0x24, 0x04});  // mov eax, [esp+4]
    c(g.bytes, sizeof g.bytes);                     // call <callee>
    c({0xc3});                                      // ret
  }
  // Replay ticks: cdecl (u32 n), one call of 0x51bbe0 per tick.
  {
    code c(ticks_entry, "replay ticks");
    c({0x56});                        // 0x51bb00: push esi
    c({0x8b, 0x74, 0x24, 0x08});      // 0x51bb01: mov esi, [esp+8]
    c({0x85, 0xf6});                  // 0x51bb05: test esi, esi
    c({0x74, 0x08});                  // 0x51bb07: jz 0x51bb11
    c({0xe8, 0xd2, 0x00, 0x00, 0x00});  // 0x51bb09: call 0x51bbe0
    c({0x4e});                        // 0x51bb0e: dec esi
    c({0x75, 0xf8});                  // 0x51bb0f: jnz 0x51bb09
    c({0x5e});                        // 0x51bb11: pop esi
    c({0xc3});                        // 0x51bb12: ret
  }
  check_call(0x51bb09, tick_routine);
}

void protect_code(int prot) {
  if (mprotect((void *)(uintptr_t)image_base, code_end - image_base, prot) != 0) {
    perror("host: mprotect of the game's code");
    abort();
  }
}

}  // namespace

// Called by game_reset() with the data part already zeroed.
void game_lay_code() {
  protect_code(PROT_READ | PROT_WRITE);
  memset((void *)(uintptr_t)image_base, 0xcc, code_end - image_base);  // int3 wherever nothing is laid
  laid_count = 0;
  lay_routines();
  lay_callers();
  protect_code(PROT_READ | PROT_EXEC);

  the_services = game_services{};
  word(svc_freecam_word) = (u32)(uintptr_t)&host_svc_freecam;
  word(svc_arm_word) = (u32)(uintptr_t)&host_svc_arm;
  word(svc_aux_word) = (u32)(uintptr_t)&host_svc_aux;
  word(svc_tick_word) = (u32)(uintptr_t)&host_svc_tick;
}

game_services &services() { return the_services; }

routine_entry &entry_of(routine r) { return *(routine_entry *)(uintptr_t)entry_addr(r); }
const fx_image &fx_of(routine r) { return *(const fx_image *)(uintptr_t)fx_addr(r); }

void camera_case7(u32 cam) { ((void (*)(u32))(uintptr_t)case7_entry)(cam); }
void camera_case30(u32 cam) { ((void (*)(u32))(uintptr_t)case30_entry)(cam); }

void arm_call(int n) {
  static constexpr u32 sites[3] = {site_arm1, site_arm2, site_arm3};
  if (n < 1 || n > 3) {
    fprintf(stderr, "host: there is no replay-interface place %d\n", n);
    abort();
  }
  ((void (*)())(uintptr_t)sites[n - 1])();
}

void frame_pass() { ((void (*)())(uintptr_t)site_frame)(); }
void replay_ticks(u32 n) { ((void (*)(u32))(uintptr_t)ticks_entry)(n); }

}  // namespace host
