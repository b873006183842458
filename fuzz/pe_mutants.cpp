// Mutated copies of zephal.z9p through the loader's check, as zephal-sim
// --check-module makes it, in this one process: each copy changed in what a
// loader parses (the MZ header's PE offset, the PE and optional headers and
// the section table, and the export, import and relocation data), then
// mapped, relocated, bound and read, or refused with a reason. A crash, a
// refusal without a reason or a copy that takes more than five seconds stops
// the run and names the copy;
//   pe_mutants [COUNT [SEED [DLL]]]         (default 10000, seed 1, out/zephal.z9p)
//   pe_mutants --write N DIR [SEED [DLL]]   writes copy N as DIR/mutant-N.z9p
// so that `zephal-sim --check-module DIR/mutant-N.z9p` replays it.
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
  const char *what;
};

// Where in the file a loader reads: the PE offset, the headers with the
// section table, and the raw data of the sections holding the export,
// import and relocation directories.
std::vector<range> parsed_ranges(const bytes &b) {
  std::vector<range> out = {{0x3c, 0x40, "PE offset"}};
  const u32 pe = rd(b, 0x3c), opt = pe + 24, nsec = rd(b, pe + 6) & 0xffff, table = opt + (rd(b, pe + 20) & 0xffff);
  out.push_back({pe, table, "PE and optional headers"});
  out.push_back({table, table + 40 * nsec, "section table"});
  const char *dirs[] = {"export data", "import data", nullptr, nullptr, nullptr, "relocation data"};
  for (int d : {0, 1, 5}) {
    const u32 rva = rd(b, opt + 96 + 8 * d);
    for (u32 i = 0; i < nsec; ++i) {
      const u32 s = table + 40 * i, va = rd(b, s + 12), raw_size = rd(b, s + 16), raw = rd(b, s + 20);
      if (rva >= va && rva < va + raw_size) out.push_back({raw, raw + raw_size, dirs[d]});
    }
  }
  return out;
}

// Copy n: one to four changes inside the parsed ranges, chosen from seed + n.
bytes mutant(const bytes &good, const std::vector<range> &ranges, u32 seed, u32 n, std::string *where) {
  std::mt19937 rng(seed * 1000003u + n);
  bytes b = good;
  const u32 interesting[] = {0, 1, 0x7fffffff, 0x80000000, 0xffffffff, 0xfffffff0, 0x10000, 0x1000,
                             (u32)good.size(), rd(good, rd(good, 0x3c) + 24 + 56)};
  for (int k = 1 + rng() % 4; k > 0; --k) {
    const range &r = ranges[rng() % ranges.size()];
    u32 at = r.begin + rng() % (r.end - r.begin);
    if (where) *where += std::string(where->empty() ? "" : ", ") + r.what;
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

void on_fault(int sig) {
  char text[96];
  const int n = snprintf(text, sizeof text, "\npe mutants: copy %d %s; rerun with --write %d DIR\n", (int)current,
                         sig == SIGALRM ? "took more than 5 s" : "crashed the loader", (int)current);
  (void)!write(2, text, (size_t)n);
  _exit(sig == SIGALRM ? 3 : 4);
}

}  // namespace

int main(int argc, char **argv) {
  const bool write_one = argc > 1 && strcmp(argv[1], "--write") == 0;
  const int first = write_one ? 4 : 2;
  const u32 count = !write_one && argc > 1 ? (u32)atoi(argv[1]) : 10000;
  const u32 seed = argc > first - 1 + 1 ? (u32)atoi(argv[first]) : 1;
  const std::string path = argc > first + 1 ? argv[first + 1] : ZEPHAL_Z9P_PATH;
  std::ifstream in(path, std::ios::binary);
  const bytes good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (good.size() < 0x400) {
    fprintf(stderr, "pe mutants: %s is not the DLL to mutate (build it first)\n", path.c_str());
    return 2;
  }
  const std::vector<range> ranges = parsed_ranges(good);
  if (write_one) {
    if (argc < 4) return fprintf(stderr, "usage: pe_mutants --write N DIR [SEED [DLL]]\n"), 2;
    std::string where;
    const bytes b = mutant(good, ranges, seed, (u32)atoi(argv[2]), &where);
    const std::string out = std::string(argv[3]) + "/mutant-" + argv[2] + ".z9p";
    std::ofstream(out, std::ios::binary).write((const char *)b.data(), (long)b.size());
    printf("%s (changed: %s)\n", out.c_str(), where.c_str());
    return 0;
  }

  for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGALRM}) signal(sig, on_fault);
  const auto start = std::chrono::steady_clock::now();
  u32 loaded = 0;
  for (u32 n = 0; n < count; ++n) {
    const bytes b = mutant(good, ranges, seed, n, nullptr);
    current = (int)n;
    alarm(5);
    std::ostringstream report;
    const int status = host::check_module_bytes("copy", b.data(), b.size(), report);
    alarm(0);
    if (status != 0 && (status != 2 || report.str().find("cannot be loaded: ") == std::string::npos)) {
      fprintf(stderr, "pe mutants: copy %u: status %d without a reason:\n%s", n, status, report.str().c_str());
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
