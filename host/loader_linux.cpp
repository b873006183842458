// The loader's loading of a module on Linux: a shared object by dlopen, a
// PE DLL by the host's PE loader (host/pe_module.h).
#include <dlfcn.h>
#include <link.h>

#include <map>

#include "host/call_log.h"
#include "host/loader.h"
#include "host/pe_module.h"
#include "platform/win32.h"

namespace host {
namespace {

// What a plug-in module imports from the process, as the Windows loader
// binds a DLL's imports. Naming them here also makes sure the host's Win32
// layer is linked into every program that loads a module.
__attribute__((used)) const void *const module_imports[] = {
    (const void *)&GetModuleFileNameA,  (const void *)&GetPrivateProfileIntA,
    (const void *)&GetPrivateProfileStringA, (const void *)&WritePrivateProfileStringA,
    (const void *)&GetTickCount,        (const void *)&VirtualAlloc,
    (const void *)&VirtualFree,         (const void *)&GetAsyncKeyState,
};

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

bool is_pe(const std::string &path) { return path.ends_with(".z9p") || path.ends_with(".dll"); }

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
  return module_exports(path, [&](const char *name) { return pe.symbol(name); }, m, error);
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
  if (!module_exports(path, [&](const char *name) { return dlsym(m.handle, name); }, m, error)) return false;
  extent_query q{(uintptr_t)m.apply, 0, 0, false};
  dl_iterate_phdr(find_extent, &q);
  m.low = q.low;
  m.high = q.high;
  return true;
}

u32 load_and_apply(const std::string &path, const z9_ctx &ctx, z9_module &m, std::string *report) {
  std::string error;
  report->clear();
  if (!load_module(path, m, &error)) {
    *report += error + "\n";
    return 0;
  }
  return apply_module(ctx, m, report);
}

}  // namespace host
