#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/game_image.h"

namespace host {
namespace {

u32 first_laid = 0;  // from game_memory_place(), once
u32 heap_top = heap_base;

}  // namespace

// Filled in by the game's code (game_code.cpp): lays the original routines
// into the code part from `first` on and seals it read and execute.
void game_lay_code(u32 first);

bool game_reset() {
  if (!first_laid && !(first_laid = game_memory_place())) return false;
  memset((void *)(uintptr_t)code_end, 0, image_end - code_end);
  heap_top = heap_base;
  game_lay_code(first_laid);
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

std::vector<u8> game_exe() {
  using namespace game_exe_layout;
  if (!game_reset()) return {};
  std::vector<u8> f(text_file + text_size + 0x200);
  auto put16 = [&](u32 at, u16 v) { memcpy(&f[at], &v, 2); };
  auto put32 = [&](u32 at, u32 v) { memcpy(&f[at], &v, 4); };
  f[0] = 'M', f[1] = 'Z';
  put32(0x3c, 0x80);
  memcpy(&f[0x80], "PE\0\0", 4);
  put16(coff, 0x14c), put16(coff + 2, 2), put16(coff + 16, 224), put16(coff + 18, 0x0103);
  put16(opt, 0x10b), put32(opt + 28, image_base), put32(opt + 32, 0x1000);
  put32(opt + 36, 0x200), put32(opt + 56, code_end - image_base + 0x1000);
  put32(opt + 60, text_file), put16(opt + 68, 2), put32(opt + 92, 16);
  auto section = [&](u32 i, const char *name, u32 rva, u32 size, u32 at) {
    memcpy(&f[sections + 40 * i], name, strlen(name));
    put32(sections + 40 * i + 8, size), put32(sections + 40 * i + 12, rva);
    put32(sections + 40 * i + 16, size), put32(sections + 40 * i + 20, at);
  };
  section(0, ".text", text_rva, text_size, text_file);
  section(1, ".data", text_rva + text_size, 0x200, text_file + text_size);
  memcpy(&f[text_file], (const void *)(uintptr_t)(image_base + text_rva), text_size);
  return f;
}

}  // namespace host
