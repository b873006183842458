#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/game_image.h"

namespace host {
namespace {

bool mapped = false;
u32 heap_top = heap_base;

}  // namespace

// Filled in by the game's code (game_code.cpp): lays the original routines
// into the code part and seals it read and execute.
void game_lay_code();

bool game_reset() {
  if (!mapped) {
    void *p = mmap((void *)(uintptr_t)image_base, image_end - image_base, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (p != (void *)(uintptr_t)image_base) {
      fprintf(stderr, "host: cannot map the game image at 0x%x\n", image_base);
      if (p != MAP_FAILED) munmap(p, image_end - image_base);
      return false;
    }
    mapped = true;
  }
  memset((void *)(uintptr_t)code_end, 0, image_end - code_end);
  heap_top = heap_base;
  game_lay_code();
  return true;
}

u32 game_alloc(u32 size) {
  u32 at = (heap_top + 15) & ~15u;
  if (at + size > heap_end) {
    fprintf(stderr, "host: game heap exhausted\n");
    abort();
  }
  heap_top = at + size;
  memset((void *)(uintptr_t)at, 0, size);
  return at;
}

std::vector<u8> bytes_at(u32 addr, u32 n) {
  const u8 *p = (const u8 *)(uintptr_t)addr;
  return std::vector<u8>(p, p + n);
}

std::string protection(u32 addr) {
  FILE *maps = fopen("/proc/self/maps", "r");
  char line[512], perms[8];
  unsigned long lo, hi;
  std::string found = "unmapped";
  while (maps && fgets(line, sizeof line, maps))
    if (sscanf(line, "%lx-%lx %4s", &lo, &hi, perms) == 3 && addr >= lo && addr < hi) {
      found.assign(perms, 3);
      break;
    }
  if (maps) fclose(maps);
  return found;
}

u32 make_car(u32 entry, f32 x, f32 y, f32 z) {
  u32 car = game_alloc(car_object_size);
  fword(car + 0x08) = x;
  fword(car + 0x0c) = y;
  fword(car + 0x10) = z;
  for (u32 i = 0; i < 3; ++i) fword(car + 0x34 + 4 * (4 * i)) = 1.0f;  // basis diagonal
  word(0x661a88 + 4 * entry) = car;
  return car;
}

u32 make_camera(u32 type, u32 view) {
  u32 cam = game_alloc(camera_object_size);
  word(cam + 0x00) = type;
  word(cam + 0x0c) = view;
  for (u32 i = 0; i < 3; ++i) fword(cam + 0x2c + 4 * (4 * i)) = 1.0f;  // orientation identity
  return cam;
}

}  // namespace host
