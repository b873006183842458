#include "host/loader.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>
#include <map>

#include "host/common.h"
#include "host/call_log.h"
#include "host/game_image.h"
#include "host/pe_module.h"
#include "platform/win32.h"
#include "z9sdk/apply.h"

namespace host {
namespace {

std::vector<write_record> writes;
std::vector<std::string> messages;
int fail_at = 0;

// What a plug-in module imports from the process, as the Windows loader
// binds a DLL's imports. Naming them here also makes sure the host's Win32
// layer is linked into every program that loads a module.
__attribute__((used)) const void *const module_imports[] = {
    (const void *)&GetModuleFileNameA,  (const void *)&GetPrivateProfileIntA,
    (const void *)&GetPrivateProfileStringA, (const void *)&WritePrivateProfileStringA,
    (const void *)&GetTickCount,        (const void *)&VirtualAlloc,
    (const void *)&VirtualFree,         (const void *)&GetAsyncKeyState,
};

u32 page_size() { return (u32)sysconf(_SC_PAGESIZE); }

std::string text(const char *s) { return s ? s : "(null)"; }

}  // namespace

z9_ctx loader_context(u32 pool) {
  return z9_ctx{1, image_base, pool, &loader_write, &loader_log};
}

i32 loader_write(u32 rva, const u8 *bytes, u32 len, const char *name) {
  write_record rec{rva, std::vector<u8>(bytes, bytes + len), name, false};
  int call = (int)writes.size() + 1;
  u64 at = (u64)image_base + rva;
  bool in_code = at >= image_base && at + len <= code_end;
  if (call == fail_at || !in_code) {
    writes.push_back(std::move(rec));
    return 0;
  }
  u32 first = (u32)at & ~(page_size() - 1);
  u32 span = (u32)at + len - first;
  void *pages = (void *)(uintptr_t)first;
  if (mprotect(pages, span, PROT_READ | PROT_WRITE) != 0) {
    writes.push_back(std::move(rec));
    return 0;
  }
  memcpy((void *)(uintptr_t)at, bytes, len);
  // Back to what the game's code always is. On x86 the processor sees the
  // new bytes without a flush; a Windows loader would still call
  // FlushInstructionCache here.
  mprotect(pages, span, PROT_READ | PROT_EXEC);
  rec.written = true;
  writes.push_back(std::move(rec));
  return 1;
}

void loader_log(const char *format, ...) {
  va_list ap, again;
  va_start(ap, format);
  va_copy(again, ap);
  int n = vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  std::string text(n > 0 ? (size_t)n : 0, '\0');
  if (n > 0) vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  messages.push_back(std::move(text));
}

void loader_reset() {
  writes.clear();
  messages.clear();
  fail_at = 0;
}

void loader_fail_write_at(int n) { fail_at = n; }

const std::vector<write_record> &loader_writes() { return writes; }
const std::vector<std::string> &loader_messages() { return messages; }

std::string loader_log_text() {
  std::string all;
  for (const std::string &m : messages) all += m + "\n";
  return all;
}

void loader_print_log(FILE *out) { fputs(loader_log_text().c_str(), out); }

// --- modules ------------------------------------------------------------

namespace {

struct extent_query {
  uintptr_t inside;
  u32 low, high;
  bool found;
};

int find_extent(dl_phdr_info *info, size_t, void *data) {
  auto *q = (extent_query *)data;
  u32 low = ~0u, high = 0;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr) &ph = info->dlpi_phdr[i];
    if (ph.p_type != PT_LOAD) continue;
    u32 a = (u32)(info->dlpi_addr + ph.p_vaddr);
    if (a < low) low = a;
    if (a + ph.p_memsz > high) high = a + ph.p_memsz;
  }
  if (q->inside < low || q->inside >= high) return 0;
  q->low = low;
  q->high = high;
  q->found = true;
  return 1;
}

// The number of bytes a hex pattern describes: a lone final token is half
// a byte and still counts as one.
u32 pattern_bytes(const char *p) {
  u32 tokens = 0;
  for (; *p; ++p)
    if (*p == '?' || z9_hexv_(*p) >= 0) ++tokens;
  return (tokens + 1) / 2;
}

}  // namespace

namespace {

bool is_pe(const std::string &path) { return path.ends_with(".z9p") || path.ends_with(".dll"); }

// The four exports, found by the given lookup; the manifest's abi checked.
template <class Lookup>
bool take_exports(const std::string &path, Lookup symbol, z9_module &m, std::string *error) {
  void *manifest = symbol("z9_manifest_data");
  void *count = symbol("z9_def_count");
  void *table = symbol("z9_def_table");
  void *apply = symbol("Z9_Apply");
  const char *missing = !manifest ? "z9_manifest_data" : !count ? "z9_def_count"
                      : !table    ? "z9_def_table"     : !apply ? "Z9_Apply" : nullptr;
  if (missing) {
    *error = "loader: " + path + " does not export " + missing;
    return false;
  }
  m.manifest = (z9_manifest *)manifest;
  m.def_count = *(const u32 *)count;
  m.defs = *(const z9_def *const *)table;
  m.apply = (u32(*)(const z9_ctx *))apply;
  if (m.manifest->abi != 1) {
    *error = "loader: " + path + " has manifest abi " + std::to_string(m.manifest->abi) + ", not 1";
    return false;
  }
  return true;
}

// The DLL, the way a loader on Windows takes it: mapped and relocated by the
// host's PE loader, its entry point called. Each path is loaded once.
bool load_pe(const std::string &path, z9_module &m, std::string *error) {
  static std::map<std::string, pe_module> loaded;
  auto it = loaded.find(path);
  if (it == loaded.end()) {
    pe_module pe;
    std::string why;
    if (!pe_load(path, pe, why)) {
      *error = "loader: cannot load " + path + ": " + why;
      return false;
    }
    it = loaded.emplace(path, std::move(pe)).first;
  }
  const pe_module &pe = it->second;
  m.handle = pe.base;
  m.low = (u32)(uintptr_t)pe.base;
  m.high = m.low + pe.size;
  call_log_module(m.low, m.high);
  return take_exports(path, [&](const char *name) { return pe.symbol(name); }, m, error);
}

}  // namespace

bool load_module(const std::string &path, z9_module &m, std::string *error) {
  m = z9_module{};
  m.path = path;
  if (is_pe(path)) return load_pe(path, m, error);
  m.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!m.handle) {
    *error = "loader: cannot load " + path + ": " + dlerror();
    return false;
  }
  if (!take_exports(path, [&](const char *name) { return dlsym(m.handle, name); }, m, error)) return false;
  extent_query q{(uintptr_t)m.apply, 0, 0, false};
  dl_iterate_phdr(find_extent, &q);
  m.low = q.low;
  m.high = q.high;
  return true;
}

bool module_in_reach(const z9_module &m) { return m.high != 0 && m.high <= rel32_reach_end; }

std::string module_placement(const z9_module &m) {
  return "loader: " + m.path + " at " + hex(m.low) + ".." + hex(m.high) +
         (module_in_reach(m) ? ": within rel32 reach of the game at 0x400000"
                             : ": out of rel32 reach of the game at 0x400000, no patch can reach it");
}

bool module_fits_game(const z9_module &m, std::string *error) {
  const char *pattern = m.manifest->check_hex;
  u32 rva = m.manifest->check_rva;
  u32 len = pattern ? pattern_bytes(pattern) : 0;
  if (!pattern || (u64)image_base + rva + len > image_end) {
    *error = "loader: build check of " + m.path + " names no bytes of the game";
    return false;
  }
  if (!z9sdk_hex_match((const u8 *)(uintptr_t)(image_base + rva), len, pattern)) {
    *error = "loader: game build mismatch: RVA " + hex(rva) + " does not hold \"" + pattern + "\"";
    return false;
  }
  return true;
}

u32 load_and_apply(const std::string &path, const z9_ctx &ctx, z9_module &m, std::string *report) {
  std::string error;
  report->clear();
  if (!load_module(path, m, &error)) {
    *report += error + "\n";
    return 0;
  }
  *report += module_placement(m) + "\n";
  if (!module_in_reach(m)) return 0;
  if (!module_fits_game(m, &error)) {
    *report += error + "\n";
    return 0;
  }
  *report += "loader: " + text(m.manifest->id) + " " + text(m.manifest->version) + ", " +
             std::to_string(m.def_count) + " definitions\n";
  u32 ok = m.apply(&ctx);
  *report += std::string("loader: Z9_Apply returned ") + std::to_string(ok) + "\n";
  return ok;
}

}  // namespace host
