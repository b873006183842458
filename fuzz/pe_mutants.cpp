// Mutated copies of zephal.z9p through the loader's check, as zephal-sim
// --check-module makes it, in this one process: each copy changed in what a
// loader parses (the MZ header's PE offset, the PE and optional headers and
// the section table, and the export, import and relocation data), then
// mapped, relocated, bound and read, or refused with a reason. A crash, a
// refusal without a reason or a copy that takes more than five seconds stops
// the run and writes the copy to pe-mutant.z9p in the current folder, so that
// `zephal-sim --check-module pe-mutant.z9p` replays it.
//   pe_mutants [COUNT [SEED [DLL]]]         (default 10000, seed 1, out/zephal.z9p)
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "host/pe_module.h"

namespace {

using bytes = std::vector<u8>;

u32 rd(const bytes &b, size_t off) {
  u32 v = 0;
  if (off + 4 <= b.size()) memcpy(&v, b.data() + off, 4);
  return v;
}

struct range {
  u32 begin, end;
};

// Where in the file a loader reads: the PE offset, the headers with the
// section table, and the raw data of the sections holding the export,
// import and relocation directories.
std::vector<range> parsed_ranges(const bytes &b) {
  const u32 pe = rd(b, 0x3c), opt = pe + 24, nsec = rd(b, pe + 6) & 0xffff, table = opt + (rd(b, pe + 20) & 0xffff);
  std::vector<range> out = {{0x3c, 0x40}, {pe, table}, {table, table + 40 * nsec}};
  for (int d : {0, 1, 5}) {  // export, import, relocation
    const u32 rva = rd(b, opt + 96 + 8 * d);
    for (u32 i = 0; i < nsec; ++i) {
      const u32 s = table + 40 * i, va = rd(b, s + 12), raw_size = rd(b, s + 16), raw = rd(b, s + 20);
      if (rva >= va && rva < va + raw_size) out.push_back({raw, raw + raw_size});
    }
  }
  return out;
}

// Copy n: one to four changes inside the parsed ranges, chosen from seed + n.
bytes mutant(const bytes &good, const std::vector<range> &ranges, u32 seed, u32 n) {
  std::mt19937 rng(seed * 1000003u + n);
  bytes b = good;
  const u32 interesting[] = {0, 1, 0x7fffffff, 0x80000000, 0xffffffff, 0xfffffff0, 0x10000, 0x1000,
                             (u32)good.size(), rd(good, rd(good, 0x3c) + 24 + 56)};
  for (int k = 1 + rng() % 4; k > 0; --k) {
    const range &r = ranges[rng() % ranges.size()];
    u32 at = r.begin + rng() % (r.end - r.begin);
    switch (rng() % 4) {
      case 0: b[at] = (u8)rng(); break;
      case 1: b[at] ^= (u8)(1u << (rng() % 8)); break;
      case 2: {
        const u32 v = rng() % 2 ? interesting[rng() % 10] : (u32)rng();
        memcpy(b.data() + std::min<size_t>(at & ~3u, b.size() - 4), &v, 4);
        break;
      }
      default: {
        const u16 v = rng() % 2 ? (u16)(rng() % 3 == 0 ? 0xffff : rng() % 2 ? 0x8000 : 0) : (u16)rng();
        memcpy(b.data() + std::min<size_t>(at & ~1u, b.size() - 2), &v, 2);
      }
    }
  }
  return b;
}

volatile sig_atomic_t current = -1;
const bytes *copy = nullptr;  // the copy being checked

// Writes the copy being checked to pe-mutant.z9p (only calls a signal handler may make).
void keep_copy() {
  const int fd = open("pe-mutant.z9p", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  (void)!write(fd, copy->data(), copy->size());
  close(fd);
}

void on_fault(int sig) {
  keep_copy();
  char text[96];
  const int n = snprintf(text, sizeof text, "\npe mutants: copy %d %s; written to pe-mutant.z9p\n", (int)current,
                         sig == SIGALRM ? "took more than 5 s" : "crashed the loader");
  (void)!write(2, text, (size_t)n);
  _exit(sig == SIGALRM ? 3 : 4);
}

}  // namespace

int main(int argc, char **argv) {
  const u32 count = argc > 1 ? (u32)atoi(argv[1]) : 10000, seed = argc > 2 ? (u32)atoi(argv[2]) : 1;
  const std::string path = argc > 3 ? argv[3] : ZEPHAL_Z9P_PATH;
  std::ifstream in(path, std::ios::binary);
  const bytes good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (good.size() < 0x400) {
    fprintf(stderr, "pe mutants: %s is not the DLL to mutate (build it first)\n", path.c_str());
    return 2;
  }
  const std::vector<range> ranges = parsed_ranges(good);

  for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGALRM}) signal(sig, on_fault);
  const auto start = std::chrono::steady_clock::now();
  u32 loaded = 0;
  for (u32 n = 0; n < count; ++n) {
    const bytes b = mutant(good, ranges, seed, n);
    current = (int)n;
    copy = &b;
    alarm(5);
    std::ostringstream report;
    const int status = host::check_module_bytes("copy", b.data(), b.size(), report);
    alarm(0);
    if (status != 0 && (status != 2 || report.str().find("cannot be loaded: ") == std::string::npos)) {
      keep_copy();
      fprintf(stderr, "pe mutants: copy %u: status %d without a reason (written to pe-mutant.z9p):\n%s", n, status,
              report.str().c_str());
      return 1;
    }
    loaded += status == 0;
    if ((n + 1) % 1000 == 0) fprintf(stderr, "pe mutants: %u of %u\n", n + 1, count);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  printf("pe mutants: %u copies of %s (seed %u), changed in the PE offset, headers, section table,\n"
         "export, import and relocation data: %u load, %u refused with a reason, 0 crashes, 0 hangs, %.1f s\n",
         count, path.c_str(), seed, loaded, count - loaded, seconds);
  return 0;
}
