#include "tools/common/pe_file.h"

#include <cstdio>
#include <cstring>

#include "tools/common/paths.h"

namespace tools {
namespace {

// Far more than any game executable or plug-in; a bigger file is not one of
// them, and reading it whole would only cost the player memory.
constexpr size_t max_file_size = 256u << 20;

u16 le16(const std::vector<u8> &b, size_t at) { return (u16)(b[at] | b[at + 1] << 8); }
u32 le32(const std::vector<u8> &b, size_t at) {
  return (u32)b[at] | (u32)b[at + 1] << 8 | (u32)b[at + 2] << 16 | (u32)b[at + 3] << 24;
}
bool fits(const std::vector<u8> &b, u64 at, u64 len) { return at <= b.size() && len <= b.size() - at; }

}  // namespace

std::string hex(u32 v) {
  char s[16];
  snprintf(s, sizeof s, "0x%X", v);
  return s;
}

bool read_pe(const std::string &path, pe_file &pe, std::string &error) {
  pe = pe_file{};
  pe.path = path;
  std::string whole;
  const read_result r = read_file(path, max_file_size, whole, error);
  if (r == read_too_big)
    error = path + " is larger than " + std::to_string(max_file_size >> 20) +
            " MB: that is no game executable or plug-in";
  if (r != read_ok) return false;
  pe.bytes.assign(whole.begin(), whole.end());
  const std::vector<u8> &b = pe.bytes;
  if (b.empty()) {
    error = path + " is empty";
    return false;
  }
  if (b.size() < 0x40 || b[0] != 'M' || b[1] != 'Z') {
    error = path + " is not a Windows program: it does not start with \"MZ\"";
    return false;
  }
  const u32 nt = le32(b, 0x3c);
  if (!fits(b, nt, 24)) {
    error = path + " is cut short or damaged: its header points past the end of the file";
    return false;
  }
  if (memcmp(&b[nt], "PE\0\0", 4) != 0) {
    error = path + " is not a Windows PE program (an old DOS program, or damaged)";
    return false;
  }
  const u16 machine = le16(b, nt + 4), nsections = le16(b, nt + 6), opt_size = le16(b, nt + 20);
  const u16 characteristics = le16(b, nt + 22);
  if (machine != 0x14c) {
    error = path + " is a program for another processor (machine " + hex(machine) +
            (machine == 0x8664 ? ", 64-bit x64" : "") + "), not for 32-bit x86";
    return false;
  }
  const u32 opt = nt + 24;
  if (!fits(b, opt, opt_size < 96 ? 96 : opt_size)) {
    error = path + " is cut short or damaged: its headers run past the end of the file";
    return false;
  }
  if (opt_size < 96 || le16(b, opt) != 0x10b) {
    error = path + " is not a 32-bit PE32 program (" + (le16(b, opt) == 0x20b ? "it is 64-bit" : "damaged header") + ")";
    return false;
  }
  pe.dll = (characteristics & 0x2000) != 0;
  pe.image_base = le32(b, opt + 28);
  pe.size_of_image = le32(b, opt + 56);
  const u32 ndirs = le32(b, opt + 92);
  if (ndirs >= 1 && opt_size >= 104) {
    pe.export_rva = le32(b, opt + 96);
    pe.export_size = le32(b, opt + 100);
  }
  // Windows itself refuses more than 96 sections.
  const u32 table = opt + opt_size;
  if (nsections == 0 || nsections > 96 || !fits(b, table, (u64)nsections * 40)) {
    error = path + " is damaged: its section table (" + std::to_string(nsections) +
            " sections) is missing or cut short";
    return false;
  }
  for (u32 i = 0; i < nsections; ++i) {
    const u32 at = table + i * 40;
    pe_section s;
    s.name.assign((const char *)&b[at], strnlen((const char *)&b[at], 8));
    s.virtual_size = le32(b, at + 8);
    s.rva = le32(b, at + 12);
    s.file_size = le32(b, at + 16);
    s.file_offset = le32(b, at + 20);
    if (s.virtual_size == 0) s.virtual_size = s.file_size;
    pe.sections.push_back(s);
  }
  return true;
}

pe_file::where pe_file::locate(u32 rva, u32 len, u32 &off) const {
  for (const pe_section &s : sections) {
    const u64 start = s.rva, end = (u64)s.rva + s.virtual_size;
    if (rva < start || (u64)rva + len > end) continue;
    const u64 in_section = rva - start;
    // Bytes beyond the section's raw data are zeros in memory that the file
    // does not hold: no code of the game lies there.
    if (in_section + len > s.file_size) return where::not_in_image;
    const u64 at = (u64)s.file_offset + in_section;
    if (at + len > bytes.size()) return where::past_end;
    off = (u32)at;
    return where::in_file;
  }
  return where::not_in_image;
}

bool pe_file::read(u32 rva, u32 len, std::vector<u8> &out) const {
  u32 off = 0;
  if (locate(rva, len, off) != where::in_file) return false;
  out.assign(bytes.begin() + off, bytes.begin() + off + len);
  return true;
}

bool pe_file::read_u32(u32 rva, u32 &out) const {
  std::vector<u8> b;
  if (!read(rva, 4, b)) return false;
  out = le32(b, 0);
  return true;
}

bool pe_file::read_string_at_va(u32 va, std::string &out, u32 max) const {
  return va >= image_base && read_string(va - image_base, out, max);
}

bool pe_file::read_string(u32 rva, std::string &out, u32 max) const {
  out.clear();
  for (u32 i = 0; i <= max; ++i) {
    std::vector<u8> c;
    if ((u64)rva + i > 0xffffffffu) return false;
    if (!read((u32)(rva + i), 1, c)) return false;
    if (c[0] == 0) return true;
    out += (char)c[0];
  }
  return false;
}

bool pe_file::find_export(const std::string &name, u32 &rva) const {
  u32 count = 0, functions = 0, names = 0, ordinals = 0, nfunctions = 0;
  if (!export_rva || !read_u32(export_rva + 20, nfunctions) || !read_u32(export_rva + 24, count) ||
      !read_u32(export_rva + 28, functions) || !read_u32(export_rva + 32, names) ||
      !read_u32(export_rva + 36, ordinals))
    return false;
  for (u32 i = 0; i < count && i < 65536; ++i) {
    u32 name_rva = 0;
    std::vector<u8> ord;
    if (!read_u32(names + 4 * i, name_rva) || !read(ordinals + 2 * i, 2, ord)) return false;
    std::string s;
    if (!read_string(name_rva, s)) return false;
    if (s != name) continue;
    const u32 index = le16(ord, 0);
    return index < nfunctions && read_u32(functions + 4 * index, rva);
  }
  return false;
}

}  // namespace tools
