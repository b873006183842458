#include "host/pe_module.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>

#include "host/common.h"
#include "host/module_imports.h"
#include "platform/win32.h"

namespace host {
namespace {

// Offsets into the PE32 headers (the optional header's magic is 0x10b).
constexpr u32 coff_machine = 0, coff_sections = 2, coff_opt_size = 16, coff_flags = 18;
constexpr u32 opt_entry = 16, opt_image_base = 28, opt_image_size = 56, opt_header_size = 60;
constexpr u32 opt_dir_count = 92, opt_dirs = 96;
constexpr u32 dir_export = 0, dir_import = 1, dir_reloc = 5, dir_tls = 9, dirs_max = 16;
constexpr u32 section_header_size = 40;
constexpr u32 scn_exec = 0x20000000, scn_write = 0x80000000;
// Limits of the format (ordinals are 16-bit; Windows maps at most 96
// sections) and of what a loader walks before it calls a table damaged.
constexpr u32 sections_max = 96, exports_max = 65536, import_dlls_max = 4096;
constexpr u32 imports_per_dll_max = 65536;

template <class T>
T get(const u8 *p, u64 off) {
  T v;
  memcpy(&v, p + off, sizeof v);
  return v;
}

// The headers of a PE32 file, each field checked against the file.
struct section {
  std::string name;
  u32 va, vsize, raw, raw_size, flags;
  u32 copied() const { return raw_size < vsize || vsize == 0 ? raw_size : vsize; }
  u32 span() const { return vsize ? vsize : raw_size; }
};

struct headers {
  u16 machine = 0, flags = 0;
  u32 image_base = 0, image_size = 0, header_size = 0, entry = 0;
  u32 dir_rva[dirs_max] = {}, dir_size[dirs_max] = {};
  std::vector<section> sections;
};

bool fail(std::string &error, const std::string &why) {
  error = why;
  return false;
}

bool read_headers(const u8 *f, size_t n, headers &h, std::string &error) {
  if (n < 0x40 || f[0] != 'M' || f[1] != 'Z') return fail(error, "no MZ header");
  const u64 pe = get<u32>(f, 0x3c);
  if (pe + 24 > n || memcmp(f + pe, "PE\0\0", 4) != 0)
    return fail(error, "no PE signature at the offset the MZ header gives (" + hex(pe) + ")");
  const u8 *coff = f + pe + 4;
  const u64 opt_at = pe + 24;
  const u16 opt_size = get<u16>(coff, coff_opt_size);
  if (opt_size < opt_dirs || opt_at + opt_size > n || get<u16>(f, opt_at) != 0x10b)
    return fail(error, "not a PE32 optional header");
  const u8 *opt = f + opt_at;
  h.machine = get<u16>(coff, coff_machine);
  h.flags = get<u16>(coff, coff_flags);
  h.image_base = get<u32>(opt, opt_image_base);
  h.image_size = get<u32>(opt, opt_image_size);
  h.header_size = get<u32>(opt, opt_header_size);
  h.entry = get<u32>(opt, opt_entry);
  if (h.image_size == 0 || h.image_size > pe_max_bytes)
    return fail(error, "image size " + hex(h.image_size) + " is 0 or beyond the host's limit of " +
                           hex(pe_max_bytes));
  if (h.header_size > n || h.header_size > h.image_size)
    return fail(error, "header size " + hex(h.header_size) + " exceeds the file or the image");
  // The directory count may claim more than the optional header holds.
  u32 dirs = get<u32>(opt, opt_dir_count);
  dirs = std::min({dirs, dirs_max, (u32)((opt_size - opt_dirs) / 8)});
  for (u32 i = 0; i < dirs; ++i) {
    h.dir_rva[i] = get<u32>(opt, opt_dirs + 8 * i);
    h.dir_size[i] = get<u32>(opt, opt_dirs + 8 * i + 4);
  }
  const u32 count = get<u16>(coff, coff_sections);
  if (count > sections_max) return fail(error, std::to_string(count) + " sections, more than the 96 Windows maps");
  const u64 table = opt_at + opt_size;
  if (table + (u64)count * section_header_size > n)
    return fail(error, "section table beyond the end of the file");
  for (u32 i = 0; i < count; ++i) {
    const u8 *s = f + table + i * section_header_size;
    section sec{std::string((const char *)s, strnlen((const char *)s, 8)), get<u32>(s, 12),
                get<u32>(s, 8),  get<u32>(s, 20), get<u32>(s, 16), get<u32>(s, 36)};
    const std::string which = "section " + std::to_string(i + 1) + " (" + sec.name + ")";
    if ((u64)sec.va + sec.span() > h.image_size)
      return fail(error, which + " at RVA " + hex(sec.va) + " runs past the image size " + hex(h.image_size));
    if (sec.copied() && (u64)sec.raw + sec.copied() > n)
      return fail(error, which + ": its data at file offset " + hex(sec.raw) + " runs past the end of the file");
    h.sections.push_back(sec);
  }
  return true;
}

// The file's headers and sections laid out at their RVAs in image (image_size
// bytes, zeroed).
void lay_out(const headers &h, const u8 *f, u8 *image) {
  memcpy(image, f, h.header_size);
  for (const section &s : h.sections)
    if (s.copied()) memcpy(image + s.va, f + s.raw, s.copied());
}

// A laid-out image: every read is checked to lie inside it.
struct image {
  const u8 *p;
  u32 size;
  bool has(u64 rva, u64 len) const { return rva <= size && len <= size - rva; }
  u32 word(u32 rva) const { return get<u32>(p, rva); }
  // A NUL-terminated name that ends inside the image.
  bool name(u32 rva, std::string &out) const {
    if (rva >= size) return false;
    const void *end = memchr(p + rva, 0, size - rva);
    if (!end) return false;
    out.assign((const char *)p + rva, (const char *)end);
    return true;
  }
};

bool read_exports(const image &im, const headers &h, std::vector<pe_export> &out, std::string &error) {
  const u32 dir = h.dir_rva[dir_export];
  if (!dir) return true;
  if (!im.has(dir, 40)) return fail(error, "export directory at RVA " + hex(dir) + " lies outside the image");
  const u32 nfunctions = im.word(dir + 20), nnames = im.word(dir + 24);
  const u32 functions = im.word(dir + 28), names = im.word(dir + 32), ordinals = im.word(dir + 36);
  if (nfunctions > exports_max || nnames > exports_max)
    return fail(error, "export table claims " + std::to_string(nfunctions) + " functions and " +
                           std::to_string(nnames) + " names, more than 16-bit ordinals reach");
  if (!im.has(functions, 4ull * nfunctions) || !im.has(names, 4ull * nnames) || !im.has(ordinals, 2ull * nnames))
    return fail(error, "export address, name or ordinal table runs outside the image");
  for (u32 i = 0; i < nnames; ++i) {
    pe_export e;
    if (!im.name(im.word(names + 4 * i), e.name))
      return fail(error, "export name " + std::to_string(i) + " lies outside the image or is not terminated");
    const u16 ordinal = get<u16>(im.p, ordinals + 2ull * i);
    if (ordinal >= nfunctions)
      return fail(error, "export " + e.name + " has ordinal index " + std::to_string(ordinal) + " past the " +
                             std::to_string(nfunctions) + " functions");
    e.rva = im.word(functions + 4 * ordinal);
    if (e.rva == 0 || e.rva >= im.size)
      return fail(error, "export " + e.name + " points outside the image (RVA " + hex(e.rva) + ")");
    if (e.rva >= dir && e.rva - dir < h.dir_size[dir_export])
      return fail(error, "export " + e.name + " is forwarded to another DLL, which the host does not do");
    out.push_back(std::move(e));
  }
  return true;
}

struct import_slot {
  pe_import name;
  u32 slot;  // RVA of its import address table entry
};

bool read_imports(const image &im, const headers &h, std::vector<import_slot> &out, std::string &error) {
  const u32 dir = h.dir_rva[dir_import];
  if (!dir) return true;
  for (u32 k = 0;; ++k) {
    const u64 d = (u64)dir + 20ull * k;
    if (!im.has(d, 20)) return fail(error, "import descriptor " + std::to_string(k) + " lies outside the image");
    const u32 name_rva = im.word((u32)d + 12), first_thunk = im.word((u32)d + 16);
    if (name_rva == 0) return true;  // the table's closing entry
    if (k >= import_dlls_max) return fail(error, "import table lists more than 4096 DLLs without a closing entry");
    std::string dll;
    if (!im.name(name_rva, dll))
      return fail(error, "import descriptor " + std::to_string(k) + ": DLL name outside the image or not terminated");
    const u32 lookup = im.word((u32)d) ? im.word((u32)d) : first_thunk;
    if (!first_thunk) return fail(error, "imports from " + dll + " have no address table");
    for (u32 i = 0;; ++i) {
      const u64 entry = (u64)lookup + 4ull * i, slot = (u64)first_thunk + 4ull * i;
      if (!im.has(entry, 4)) return fail(error, "lookup table of the imports from " + dll + " runs outside the image");
      const u32 t = im.word((u32)entry);
      if (t == 0) break;
      if (i >= imports_per_dll_max) return fail(error, "more than 65536 imports from " + dll);
      if (!im.has(slot, 4)) return fail(error, "address table of the imports from " + dll + " runs outside the image");
      import_slot s{{dll, ""}, (u32)slot};
      if (t & 0x80000000u)
        s.name.function = "#" + std::to_string(t & 0xffff);
      else if (!im.name(t + 2, s.name.function))  // t < 2^31: no wrap
        return fail(error, "import " + std::to_string(i) + " from " + dll + ": name outside the image or not terminated");
      out.push_back(std::move(s));
    }
  }
}

// Applies the base relocations for a move by delta (also 0: the table is
// checked all the same); counts the HIGHLOW entries.
bool relocate(u8 *base, const headers &h, u32 delta, u32 &fixups, std::string &error) {
  const image im{base, h.image_size};
  const u32 dir = h.dir_rva[dir_reloc], size = h.dir_size[dir_reloc];
  fixups = 0;
  if (!dir || !size) return true;
  if (!im.has(dir, size)) return fail(error, "relocation table at RVA " + hex(dir) + " runs outside the image");
  const u64 end = (u64)dir + size;
  for (u64 at = dir; at + 8 <= end;) {
    const u32 page = im.word((u32)at), block = im.word((u32)at + 4);
    if (block < 8 || block > end - at)
      return fail(error, "relocation block at RVA " + hex(at) + " has a size of " + hex(block));
    for (u64 e = at + 8; e + 2 <= at + block; e += 2) {
      const u16 entry = get<u16>(base, e);
      const u32 type = entry >> 12;
      if (type == 0) continue;  // padding
      if (type != 3)            // IMAGE_REL_BASED_HIGHLOW
        return fail(error, "unsupported relocation type " + std::to_string(type) + " at RVA " + hex(e));
      const u64 target = (u64)page + (entry & 0xfff);
      if (!im.has(target, 4)) return fail(error, "relocation of RVA " + hex(target) + " outside the image");
      // Relocated words need not be aligned.
      u32 w;
      memcpy(&w, base + target, 4);
      w += delta;
      memcpy(base + target, &w, 4);
      ++fixups;
    }
    at += block;
  }
  return true;
}

const section *section_of(const headers &h, u32 rva) {
  for (const section &s : h.sections)
    if (rva >= s.va && rva - s.va < s.span()) return &s;
  return nullptr;
}

u32 page_up(u32 n) { return (u32)(((u64)n + 0xfff) & ~0xfffull); }

// The whole file, with its name before what is wrong with it.
bool read_file(const std::string &path, std::vector<u8> &file, std::string &error) {
  std::string why;
  if (read_bounded(path, pe_max_bytes, file, &why)) return true;
  return fail(error, path + ": " + why);
}

}  // namespace

bool pe_read_info(const std::string &path, pe_info &info, std::string &error) {
  std::vector<u8> file;
  headers h;
  if (!read_file(path, file, error) || !read_headers(file.data(), file.size(), h, error)) return false;
  std::vector<u8> laid(h.image_size);
  lay_out(h, file.data(), laid.data());
  const image im{laid.data(), h.image_size};
  std::vector<pe_export> exports;
  std::vector<import_slot> imports;
  if (!read_exports(im, h, exports, error) || !read_imports(im, h, imports, error)) return false;
  info = pe_info{};
  info.i386 = h.machine == 0x14c;
  info.dll = (h.flags & 0x2000) != 0;
  info.image_base = h.image_base;
  info.size_of_image = h.image_size;
  info.entry_rva = h.entry;
  info.has_tls = h.dir_rva[dir_tls] != 0;
  for (const section &s : h.sections) info.sections.push_back(s.name);
  for (const pe_export &e : exports) info.exports.push_back(e.name);
  for (const import_slot &s : imports) info.imports.push_back(s.name);
  return true;
}

void *pe_module::symbol(const char *name) const {
  if (!base || !name) return nullptr;
  for (const pe_export &e : exports)
    if (e.name == name) return base + e.rva;
  return nullptr;
}

bool pe_map(const u8 *bytes, size_t n, pe_module &module, std::string &error) {
  headers h;
  if (!read_headers(bytes, n, h, error)) return false;
  if (h.machine != 0x14c) return fail(error, "not an i386 image (machine " + hex(h.machine) + ")");
  if (h.entry) {
    const section *s = section_of(h, h.entry);
    if (!s || !(s->flags & scn_exec))
      return fail(error, "entry point at RVA " + hex(h.entry) + " lies in no executable section");
  }

  // At the preferred base when it is a proper one (64 KiB aligned, the image
  // below 4 GiB) and free; anywhere otherwise.
  const u32 size = page_up(h.image_size);
  void *p = MAP_FAILED;
  if (h.image_base && (h.image_base & 0xffff) == 0 && (u64)h.image_base + size <= 0x100000000ull)
    p = mmap((void *)(uintptr_t)h.image_base, size, PROT_READ | PROT_WRITE,
             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  if (p == MAP_FAILED) p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return fail(error, "cannot map an image of " + hex(size) + " bytes");
  u8 *base = (u8 *)p;
  auto refuse = [&](const std::string &why) {
    munmap(base, size);
    return fail(error, why);
  };
  lay_out(h, bytes, base);

  pe_module m;
  m.base = base;
  m.size = size;
  m.preferred = h.image_base;
  if (!relocate(base, h, (u32)(uintptr_t)base - h.image_base, m.fixups, error)) return refuse(error);
  if (base != (u8 *)(uintptr_t)h.image_base && m.fixups == 0 && (h.flags & 1))
    return refuse("the image cannot move from its base " + hex(h.image_base) + ", which is taken, and has no relocations");

  const image im{base, h.image_size};
  std::vector<import_slot> imports;
  if (!read_imports(im, h, imports, error) || !read_exports(im, h, m.exports, error)) return refuse(error);
  for (const import_slot &s : imports) {
    void *fp = host_function(s.name.dll, s.name.function);
    if (!fp) return refuse("import not provided by the host: " + s.name.dll + "!" + s.name.function);
    const u32 address = (u32)(uintptr_t)fp;
    memcpy(base + s.slot, &address, 4);
    m.imports.push_back(s.name);
  }

  // Section protections as the Windows loader sets them.
  mprotect(base, page_up(h.header_size), PROT_READ);
  for (const section &s : h.sections) {
    int prot = PROT_READ | (s.flags & scn_exec ? PROT_EXEC : 0) | (s.flags & scn_write ? PROT_WRITE : 0);
    u32 start = s.va & ~0xfffu, end = page_up(s.va + s.span());
    if (end > start) mprotect(base + start, end - start, prot);
  }
  module = std::move(m);
  return true;
}

bool pe_load(const std::string &path, pe_module &module, std::string &error) {
  std::vector<u8> file;
  if (!read_file(path, file, error) || !pe_map(file.data(), file.size(), module, error)) return false;
  headers h;
  read_headers(file.data(), file.size(), h, error);  // checked by pe_map
  if (h.entry) {
    typedef BOOL(WINAPI * dll_main)(void *, DWORD, void *);
    if (!((dll_main)(module.base + h.entry))(module.base, 1 /* DLL_PROCESS_ATTACH */, nullptr)) {
      pe_unload(module);
      return fail(error, "the DLL's entry point refused to attach");
    }
  }
  return true;
}

void pe_unload(pe_module &module) {
  if (module.base) munmap(module.base, module.size);
  module = pe_module{};
}

}  // namespace host
