// The game's memory on Windows. By the time main runs, the process heap and
// the code-page tables lie across 0x400000..0x8b2000, so no allocation can
// take the range afterwards; the game holds it because its executable is
// the main image, linked at 0x400000. So is this program (sim/CMakeLists.txt
// links it there, its own code above the game's range): its section .game,
// uninitialised, starts at 0x401000, right after its headers, and reaches
// image_end. The pages are made what the game's are here: its code part read
// and execute (game_lay_code), its data part read and write.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>

#include "host/game_image.h"

// The game's range past the headers' page; the link places it at 0x401000.
__asm__(".section .game,\"bw\"\n"
        ".globl _host_game_area\n"
        "_host_game_area:\n"
        ".space 0x4b1000\n"
        ".text\n");
extern "C" unsigned char host_game_area[];

namespace host {

static_assert(image_end - image_base - 0x1000 == 0x4b1000, "the section .game covers the game's range");

u32 game_memory_place() {
  const u32 first = image_base + 0x1000;
  if ((uintptr_t)GetModuleHandleA(nullptr) != image_base || (uintptr_t)host_game_area != first) {
    fprintf(stderr, "host: this program is not linked where the game is: its image at %p, the game's range at %p\n",
            (void *)GetModuleHandleA(nullptr), (void *)host_game_area);
    return 0;
  }
  DWORD was;
  if (!VirtualProtect((void *)(uintptr_t)code_end, image_end - code_end, PAGE_READWRITE, &was)) {
    fprintf(stderr, "host: cannot make the game's data part writable (error %lu)\n", GetLastError());
    return 0;
  }
  return first;
}

bool game_memory_protect(u32 at, u32 len, bool writable) {
  const u32 first = at & ~0xfffu;
  DWORD was;
  if (!VirtualProtect((void *)(uintptr_t)first, at + len - first, writable ? PAGE_READWRITE : PAGE_EXECUTE_READ,
                      &was))
    return false;
  if (!writable) FlushInstructionCache(GetCurrentProcess(), (void *)(uintptr_t)first, at + len - first);
  return true;
}

std::string protection(u32 addr) {
  MEMORY_BASIC_INFORMATION m;
  if (!VirtualQuery((void *)(uintptr_t)addr, &m, sizeof m) || m.State != MEM_COMMIT) return "unmapped";
  switch (m.Protect & 0xff) {
    case PAGE_READONLY: return "r--";
    case PAGE_READWRITE: case PAGE_WRITECOPY: return "rw-";
    case PAGE_EXECUTE: return "--x";
    case PAGE_EXECUTE_READ: return "r-x";
    case PAGE_EXECUTE_READWRITE: case PAGE_EXECUTE_WRITECOPY: return "rwx";
    default: return "---";
  }
}

}  // namespace host
