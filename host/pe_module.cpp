#include "host/pe_module.h"

#include <strings.h>
#include <sys/mman.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/win32.h"

namespace host {
namespace {

// Offsets into the PE32 headers (the optional header's magic is 0x10b).
constexpr u32 coff_machine = 0, coff_sections = 2, coff_opt_size = 16, coff_flags = 18;
constexpr u32 opt_entry = 16, opt_image_base = 28, opt_image_size = 56, opt_header_size = 60;
constexpr u32 opt_dir_count = 92, opt_dirs = 96;
constexpr u32 dir_export = 0, dir_import = 1, dir_reloc = 5, dir_tls = 9;
constexpr u32 section_header_size = 40;
constexpr u32 scn_exec = 0x20000000, scn_write = 0x80000000;

template <class T>
T get(const u8 *p, u32 off) {
  T v;
  memcpy(&v, p + off, sizeof v);
  return v;
}

// A PE image as laid out in memory (mapped) or its file bytes with a section
// table to translate RVAs (unmapped).
struct view {
  const u8 *bytes;
  size_t size;
  bool mapped;
  const u8 *coff = nullptr, *opt = nullptr, *sections = nullptr;
  u16 nsections = 0;

  bool parse(std::string &error) {
    if (size < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') return fail(error, "no MZ header");
    u32 pe = get<u32>(bytes, 0x3c);
    if (pe > size - 24 || memcmp(bytes + pe, "PE\0\0", 4) != 0) return fail(error, "no PE signature");
    coff = bytes + pe + 4;
    opt = coff + 20;
    u16 opt_size = get<u16>(coff, coff_opt_size);
    if (opt + opt_size > bytes + size || opt_size < opt_dirs || get<u16>(opt, 0) != 0x10b)
      return fail(error, "not a PE32 optional header");
    nsections = get<u16>(coff, coff_sections);
    sections = opt + opt_size;
    if (sections + nsections * section_header_size > bytes + size)
      return fail(error, "section table beyond the end of the file");
    return true;
  }

  static bool fail(std::string &error, const char *why) {
    error = why;
    return false;
  }

  u32 dir_rva(u32 i) const {
    return i < get<u32>(opt, opt_dir_count) ? get<u32>(opt, opt_dirs + 8 * i) : 0;
  }
  u32 dir_size(u32 i) const {
    return i < get<u32>(opt, opt_dir_count) ? get<u32>(opt, opt_dirs + 8 * i + 4) : 0;
  }

  // Pointer to the byte at rva, or null when it lies outside the image.
  const u8 *at(u32 rva) const {
    if (mapped) return rva < size ? bytes + rva : nullptr;
    for (u16 i = 0; i < nsections; ++i) {
      const u8 *s = sections + i * section_header_size;
      u32 va = get<u32>(s, 12), raw_size = get<u32>(s, 16), raw = get<u32>(s, 20);
      if (rva >= va && rva < va + raw_size && raw + (rva - va) < size) return bytes + raw + (rva - va);
    }
    return nullptr;
  }
  const char *str(u32 rva) const { return (const char *)at(rva); }
};

void read_exports(const view &v, std::vector<std::string> &names) {
  const u8 *dir = v.dir_rva(dir_export) ? v.at(v.dir_rva(dir_export)) : nullptr;
  if (!dir) return;
  u32 count = get<u32>(dir, 24), name_table = get<u32>(dir, 32);
  for (u32 i = 0; i < count; ++i) {
    const u8 *entry = v.at(name_table + 4 * i);
    const char *name = entry ? v.str(get<u32>(entry, 0)) : nullptr;
    if (name) names.push_back(name);
  }
}

// Walks the import descriptors; f(dll, function, address of the IAT slot).
template <class F>
void for_each_import(const view &v, F f) {
  u32 rva = v.dir_rva(dir_import);
  for (const u8 *d = rva ? v.at(rva) : nullptr; d && get<u32>(d, 12); d += 20) {
    const char *dll = v.str(get<u32>(d, 12));
    u32 lookup = get<u32>(d, 0) ? get<u32>(d, 0) : get<u32>(d, 16);
    u32 iat = get<u32>(d, 16);
    for (u32 i = 0;; ++i) {
      const u8 *thunk = v.at(lookup + 4 * i);
      if (!thunk || get<u32>(thunk, 0) == 0) break;
      u32 t = get<u32>(thunk, 0);
      std::string fn = (t & 0x80000000u) ? "#" + std::to_string(t & 0xffff) : v.str(t + 2);
      f(std::string(dll ? dll : "?"), fn, iat + 4 * i);
    }
  }
}

// msvcrt's _vsnprintf: on overflow it fills the buffer, leaves it without a
// terminating NUL and returns -1. The plug-in must cope with exactly that.
int msvcrt_vsnprintf(char *buf, size_t count, const char *format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int len = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (len < 0) return -1;
  std::string text((size_t)len + 1, '\0');
  vsnprintf(text.data(), text.size(), format, args);
  if ((size_t)len < count) {
    memcpy(buf, text.c_str(), (size_t)len + 1);
    return len;
  }
  memcpy(buf, text.data(), count);
  return len == (int)count ? len : -1;
}

struct provided {
  const char *dll;
  const char *name;
  void *address;
};

// What the host offers a DLL: the Win32 functions of host/win32*.cpp and the
// C runtime functions whose i386 cdecl behaviour matches msvcrt's.
const provided host_exports[] = {
    {"kernel32.dll", "GetModuleFileNameA", (void *)&GetModuleFileNameA},
    {"kernel32.dll", "GetPrivateProfileIntA", (void *)&GetPrivateProfileIntA},
    {"kernel32.dll", "GetPrivateProfileStringA", (void *)&GetPrivateProfileStringA},
    {"kernel32.dll", "WritePrivateProfileStringA", (void *)&WritePrivateProfileStringA},
    {"kernel32.dll", "GetTickCount", (void *)&GetTickCount},
    {"kernel32.dll", "VirtualAlloc", (void *)&VirtualAlloc},
    {"kernel32.dll", "VirtualFree", (void *)&VirtualFree},
    {"user32.dll", "GetAsyncKeyState", (void *)&GetAsyncKeyState},
    {"msvcrt.dll", "_vsnprintf", (void *)&msvcrt_vsnprintf},
    {"msvcrt.dll", "memcpy", (void *)&memcpy},
    {"msvcrt.dll", "memmove", (void *)&memmove},
    {"msvcrt.dll", "memset", (void *)&memset},
    {"msvcrt.dll", "memcmp", (void *)&memcmp},
    {"msvcrt.dll", "strlen", (void *)&strlen},
    {"msvcrt.dll", "strcpy", (void *)&strcpy},
    {"msvcrt.dll", "strrchr", (void *)static_cast<const char *(*)(const char *, int)>(&strrchr)},
    {"msvcrt.dll", "strtoul", (void *)&strtoul},
};

void *host_function(const std::string &dll, const std::string &name) {
  for (const provided &p : host_exports)
    if (strcasecmp(dll.c_str(), p.dll) == 0 && name == p.name) return p.address;
  return nullptr;
}

bool read_file(const std::string &path, std::vector<u8> &file, std::string &error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace

bool pe_read_info(const std::string &path, pe_info &info, std::string &error) {
  std::vector<u8> file;
  if (!read_file(path, file, error)) return false;
  view v{file.data(), file.size(), false};
  if (!v.parse(error)) return false;
  info = pe_info{};
  info.i386 = get<u16>(v.coff, coff_machine) == 0x14c;
  info.dll = (get<u16>(v.coff, coff_flags) & 0x2000) != 0;
  info.image_base = get<u32>(v.opt, opt_image_base);
  info.size_of_image = get<u32>(v.opt, opt_image_size);
  info.entry_rva = get<u32>(v.opt, opt_entry);
  info.has_tls = v.dir_rva(dir_tls) != 0;
  for (u16 i = 0; i < v.nsections; ++i)
    info.sections.emplace_back((const char *)v.sections + i * section_header_size,
                               strnlen((const char *)v.sections + i * section_header_size, 8));
  read_exports(v, info.exports);
  for_each_import(v, [&](const std::string &dll, const std::string &fn, u32) {
    info.imports.push_back({dll, fn});
  });
  return true;
}

void *pe_module::symbol(const char *name) const {
  view v{base, size, true};
  std::string error;
  if (!base || !v.parse(error)) return nullptr;
  const u8 *dir = v.dir_rva(dir_export) ? v.at(v.dir_rva(dir_export)) : nullptr;
  if (!dir) return nullptr;
  u32 count = get<u32>(dir, 24), functions = get<u32>(dir, 28);
  u32 names = get<u32>(dir, 32), ordinals = get<u32>(dir, 36);
  for (u32 i = 0; i < count; ++i) {
    if (strcmp(v.str(get<u32>(v.at(names + 4 * i), 0)), name) != 0) continue;
    u16 ordinal = get<u16>(v.at(ordinals + 2 * i), 0);
    return base + get<u32>(v.at(functions + 4 * ordinal), 0);
  }
  return nullptr;
}

bool pe_load(const std::string &path, pe_module &module, std::string &error) {
  std::vector<u8> file;
  if (!read_file(path, file, error)) return false;
  view f{file.data(), file.size(), false};
  if (!f.parse(error)) return false;
  if (get<u16>(f.coff, coff_machine) != 0x14c) {
    error = "not an i386 image";
    return false;
  }
  u32 preferred = get<u32>(f.opt, opt_image_base);
  u32 size = get<u32>(f.opt, opt_image_size);
  u32 header_size = get<u32>(f.opt, opt_header_size);
  if (size == 0 || header_size > file.size() || header_size > size) {
    error = "bad image or header size";
    return false;
  }

  void *p = mmap((void *)(uintptr_t)preferred, size, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  if (p == MAP_FAILED)
    p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    error = "cannot map the image";
    return false;
  }
  u8 *base = (u8 *)p;
  memcpy(base, file.data(), header_size);
  for (u16 i = 0; i < f.nsections; ++i) {
    const u8 *s = f.sections + i * section_header_size;
    u32 va = get<u32>(s, 12), raw_size = get<u32>(s, 16), raw = get<u32>(s, 20);
    u32 vsize = get<u32>(s, 8);
    u32 n = raw_size < vsize || vsize == 0 ? raw_size : vsize;
    if ((u64)va + n > size || (u64)raw + n > file.size()) {
      munmap(base, size);
      error = "section beyond the image";
      return false;
    }
    memcpy(base + va, file.data() + raw, n);
  }

  view m{base, size, true};
  m.parse(error);

  // Base relocations: blocks of 16-bit entries, type in the top four bits.
  u32 delta = (u32)(uintptr_t)base - preferred;
  u32 reloc = m.dir_rva(dir_reloc), reloc_end = reloc + m.dir_size(dir_reloc);
  for (u32 at = reloc; delta && reloc && at + 8 <= reloc_end;) {
    u32 page = get<u32>(base, at), block = get<u32>(base, at + 4);
    if (block < 8) break;
    for (u32 e = at + 8; e + 2 <= at + block; e += 2) {
      u16 entry = get<u16>(base, e);
      if (entry >> 12 == 3) {  // IMAGE_REL_BASED_HIGHLOW
        u32 *w = (u32 *)(base + page + (entry & 0xfff));
        *w += delta;
      } else if (entry >> 12 != 0) {
        munmap(base, size);
        error = "unsupported relocation type " + std::to_string(entry >> 12);
        return false;
      }
    }
    at += block;
  }

  std::string missing;
  for_each_import(m, [&](const std::string &dll, const std::string &fn, u32 slot) {
    void *fp = host_function(dll, fn);
    if (!fp && missing.empty()) missing = dll + "!" + fn;
    *(u32 *)(base + slot) = (u32)(uintptr_t)fp;
  });
  if (!missing.empty()) {
    munmap(base, size);
    error = "import not provided by the host: " + missing;
    return false;
  }

  // Section protections as the Windows loader sets them.
  mprotect(base, header_size, PROT_READ);
  for (u16 i = 0; i < m.nsections; ++i) {
    const u8 *s = m.sections + i * section_header_size;
    u32 va = get<u32>(s, 12), vsize = get<u32>(s, 8), flags = get<u32>(s, 36);
    int prot = PROT_READ | (flags & scn_exec ? PROT_EXEC : 0) | (flags & scn_write ? PROT_WRITE : 0);
    u32 start = va & ~0xfffu, end = (va + vsize + 0xfff) & ~0xfffu;
    if (end > start) mprotect(base + start, end - start, prot);
  }

  module.base = base;
  module.size = size;
  u32 entry = get<u32>(m.opt, opt_entry);
  if (entry) {
    typedef BOOL(WINAPI * dll_main)(void *, DWORD, void *);
    if (!((dll_main)(base + entry))(base, 1 /* DLL_PROCESS_ATTACH */, nullptr)) {
      error = "the DLL's entry point refused to attach";
      return false;
    }
  }
  return true;
}

}  // namespace host
