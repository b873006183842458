// The game's memory on Linux: an anonymous mapping made at 0x400000, which
// nothing else in a non-PIE program takes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

#include "host/game_image.h"

namespace host {

u32 game_memory_place() {
  void *p = mmap((void *)(uintptr_t)image_base, image_end - image_base, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  if (p != (void *)(uintptr_t)image_base) {
    fprintf(stderr, "host: cannot map the game image at 0x%x\n", image_base);
    if (p != MAP_FAILED) munmap(p, image_end - image_base);
    return 0;
  }
  return image_base;
}

bool game_memory_protect(u32 at, u32 len, bool writable) {
  const u32 page = (u32)sysconf(_SC_PAGESIZE);
  const u32 first = at & ~(page - 1);
  return mprotect((void *)(uintptr_t)first, at + len - first,
                  writable ? PROT_READ | PROT_WRITE : PROT_READ | PROT_EXEC) == 0;
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

}  // namespace host
