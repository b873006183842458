// zephal-sim --check-module: a plug-in DLL taken as far as a run takes it
// before the game starts (mapped, relocated, imports bound, the loader's four
// exports found, the manifest and the definition table read), and no further:
// none of its code runs, so a damaged file can be looked at safely.

#include <cstdio>
#include <cstring>
#include <map>

#include "host/common.h"
#include "host/pe_module.h"
#include "z9sdk/z9.h"

namespace host {
namespace {

// Pointers inside the mapped module, as the loader follows them; each read
// is checked to lie inside the image first.
struct mapped {
  const pe_module &m;
  bool has(u32 address, u32 len) const {
    const u64 at = (u64)address - (u64)(uintptr_t)m.base;
    return address >= (u32)(uintptr_t)m.base && at <= m.size && len <= m.size - at;
  }
  // A string the module points to; false when it does not end inside it.
  bool text(u32 address, std::string &out) const {
    if (!has(address, 1)) return false;
    const u8 *p = (const u8 *)(uintptr_t)address;
    const void *end = memchr(p, 0, m.size - (address - (u32)(uintptr_t)m.base));
    if (!end) return false;
    out.assign((const char *)p, (const char *)end);
    return true;
  }
  u32 rva(u32 address) const { return address - (u32)(uintptr_t)m.base; }
};

const char *kind_name(u32 kind) {
  switch (kind) {
    case z9_kind_call_abs: return "call";
    case z9_kind_jmp_abs: return "jump";
    case z9_kind_raw: return "raw bytes";
    case z9_kind_skip: return "skip";
    case z9_kind_call_pool: return "call into the pool";
    case z9_kind_jmp_pool: return "jump into the pool";
    default: return "jump (unknown kind)";
  }
}

// The loader's limit on a definition table; far above the handful a plug-in has.
constexpr u32 defs_max = 4096;

// What the four exports lead to; false with the reason in error.
bool read_tables(const pe_module &m, std::ostream &out, std::string &error) {
  const mapped im{m};
  const char *names[] = {"Z9_Apply", "z9_def_count", "z9_def_table", "z9_manifest_data"};
  out << "  exports:";
  for (const pe_export &e : m.exports) out << " " << e.name << " (RVA " << hex(e.rva) << ")";
  out << "\n";
  for (const char *n : names)
    if (!m.symbol(n)) return error = "the module does not export " + std::string(n), false;

  const u32 manifest = (u32)(uintptr_t)m.symbol("z9_manifest_data");
  if (!im.has(manifest, sizeof(z9_manifest))) return error = "the manifest runs past the end of the image", false;
  z9_manifest man;
  memcpy(&man, (const void *)(uintptr_t)manifest, sizeof man);
  std::string id, version, description, check;
  const std::pair<const char *, std::string *> strings[] = {
      {"id", &id}, {"version", &version}, {"description", &description}, {"build check", &check}};
  const u32 pointers[] = {(u32)(uintptr_t)man.id, (u32)(uintptr_t)man.version, (u32)(uintptr_t)man.description,
                          (u32)(uintptr_t)man.check_hex};
  for (int i = 0; i < 4; ++i)
    if (!im.text(pointers[i], *strings[i].second))
      return error = std::string("the manifest's ") + strings[i].first + " points outside the module (" +
                     hex(pointers[i]) + ")",
             false;
  out << "  manifest: " << id << " " << version << ", abi " << man.abi << ", \"" << description << "\"\n";
  out << "  build check: \"" << check << "\" at game RVA " << hex(man.check_rva) << "\n";
  if (man.abi != 1) return error = "the manifest's abi is " + std::to_string(man.abi) + ", not 1", false;

  const u32 count_at = (u32)(uintptr_t)m.symbol("z9_def_count");
  const u32 table_at = (u32)(uintptr_t)m.symbol("z9_def_table");
  if (!im.has(count_at, 4) || !im.has(table_at, 4)) return error = "the definition count or table runs past the image", false;
  u32 count, table;
  memcpy(&count, (const void *)(uintptr_t)count_at, 4);
  memcpy(&table, (const void *)(uintptr_t)table_at, 4);
  if (count > defs_max) return error = "the module claims " + std::to_string(count) + " definitions", false;
  if (!im.has(table, count * (u32)sizeof(z9_def)))
    return error = "the definition table at " + hex(table) + " does not lie inside the module", false;
  out << "  definitions: " << count << " at module RVA " << hex(im.rva(table)) << "\n";
  for (u32 i = 0; i < count; ++i) {
    z9_def d;
    memcpy(&d, (const void *)(uintptr_t)(table + i * sizeof(z9_def)), sizeof d);
    std::string name = "?", expect;
    const u32 name_at = (u32)(uintptr_t)d.name, expect_at = (u32)(uintptr_t)d.expect;
    if (name_at && !im.text(name_at, name))
      return error = "definition " + std::to_string(i + 1) + ": its name points outside the module", false;
    if (expect_at && !im.text(expect_at, expect))
      return error = "definition " + std::to_string(i + 1) + " (" + name + "): its pattern points outside the module", false;
    if (d.kind == z9_kind_raw && d.len && !im.has((u32)(uintptr_t)d.bytes, d.len))
      return error = "definition " + std::to_string(i + 1) + " (" + name + "): its bytes lie outside the module", false;
    out << "    " << name << ": " << kind_name(d.kind) << " at game RVA " << hex(d.rva) << ", " << d.len << " bytes";
    if (expect_at) out << ", expects \"" << expect << "\"";
    if (d.kind == z9_kind_call_abs || d.kind == z9_kind_jmp_abs)
      out << ", target " << (im.has(d.target, 1) ? "module RVA " + hex(im.rva(d.target)) : hex(d.target) + " outside the module");
    out << "\n";
  }
  return true;
}

}  // namespace

int check_module_bytes(const std::string &name, const u8 *bytes, size_t size, std::ostream &out) {
  out << "check-module: " << name << " (" << size << " bytes)\n";
  pe_module m;
  std::string error;
  bool ok = pe_map(bytes, size, m, error);
  if (ok) {
    const bool moved = (u32)(uintptr_t)m.base != m.preferred;
    out << "  mapped at " << hex((uintptr_t)m.base) << ", " << hex(m.size) << " bytes"
        << (moved ? ", moved from its base " + hex(m.preferred) + "; " : " (its own base); ") << m.fixups
        << (moved ? " relocations applied\n" : " relocations checked, none needed\n");
    std::map<std::string, u32> per_dll;
    for (const pe_import &i : m.imports) ++per_dll[i.dll];
    out << "  imports: " << m.imports.size() << ", all provided by the host:";
    for (auto &[dll, n] : per_dll) out << " " << dll << " (" << n << ")";
    out << "\n";
    ok = read_tables(m, out, error);
    pe_unload(m);
  }
  if (!ok) {
    out << "check-module: " << name << " cannot be loaded: " << error << "\n";
    return 2;
  }
  out << "check-module: " << name << " loads as a run would load it (none of its code was run)\n";
  return 0;
}

int check_module(const std::string &path, std::ostream &out) {
  std::vector<u8> bytes;
  std::string why;
  if (!read_bounded(path, pe_max_bytes, bytes, &why)) return out << "check-module: " << path << ": " << why << "\n", 2;
  return check_module_bytes(path, bytes.data(), bytes.size(), out);
}

}  // namespace host
