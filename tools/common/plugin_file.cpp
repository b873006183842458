#include "tools/common/plugin_file.h"

#include <cstddef>

#include "tools/common/pe_file.h"
#include "z9sdk/apply.h"
#include "z9sdk/z9.h"

namespace tools {
namespace {

u32 word(const std::vector<u8> &b, size_t at) {
  return (u32)b[at] | (u32)b[at + 1] << 8 | (u32)b[at + 2] << 16 | (u32)b[at + 3] << 24;
}

}  // namespace

u32 pattern_bytes(const std::string &pattern) {
  u32 tokens = 0;
  for (char c : pattern)
    if (c == '?' || z9_hexv_(c) >= 0) ++tokens;
  return (tokens + 1) / 2;
}

bool read_plugin(const std::string &path, plugin_tables &t, std::string &error) {
  t = plugin_tables{};
  t.path = path;
  pe_file pe;
  if (!read_pe(path, pe, error)) return false;
  const std::string broken = path + " is not a Zephal plug-in, or it is damaged: ";
  u32 manifest_rva = 0, count_rva = 0, table_rva = 0;
  if (!pe.find_export("z9_manifest_data", manifest_rva) || !pe.find_export("z9_def_count", count_rva) ||
      !pe.find_export("z9_def_table", table_rva)) {
    error = broken + "it lacks the exports a Z9 plug-in has";
    return false;
  }
  std::vector<u8> m;
  u32 count = 0, table_va = 0;
  if (!pe.read(manifest_rva, sizeof(z9_manifest), m) || !pe.read_u32(count_rva, count) ||
      !pe.read_u32(table_rva, table_va)) {
    error = broken + "its manifest or definition table lies outside the file";
    return false;
  }
  t.abi = word(m, offsetof(z9_manifest, abi));
  t.check_rva = word(m, offsetof(z9_manifest, check_rva));
  if (!pe.read_string_at_va(word(m, offsetof(z9_manifest, id)), t.id) ||
      !pe.read_string_at_va(word(m, offsetof(z9_manifest, description)), t.description) ||
      !pe.read_string_at_va(word(m, offsetof(z9_manifest, version)), t.version) ||
      !pe.read_string_at_va(word(m, offsetof(z9_manifest, check_hex)), t.check_hex)) {
    error = broken + "its manifest names text that is not in the file";
    return false;
  }
  // The plug-in has seven; a loader has no use for thousands.
  std::vector<u8> defs;
  if (count == 0 || count > 256 || table_va < pe.image_base ||
      !pe.read(table_va - pe.image_base, count * (u32)sizeof(z9_def), defs)) {
    error = broken + "its definition table (" + std::to_string(count) + " entries) is not in the file";
    return false;
  }
  for (u32 i = 0; i < count; ++i) {
    const size_t at = i * sizeof(z9_def);
    plugin_def d;
    d.kind = word(defs, at + offsetof(z9_def, kind));
    d.rva = word(defs, at + offsetof(z9_def, rva));
    d.len = word(defs, at + offsetof(z9_def, len));
    const u32 expect = word(defs, at + offsetof(z9_def, expect)), name = word(defs, at + offsetof(z9_def, name));
    d.has_expect = expect != 0;
    d.name = "?";
    if ((d.has_expect && !pe.read_string_at_va(expect, d.expect)) ||
        (name && !pe.read_string_at_va(name, d.name))) {
      error = broken + "definition " + std::to_string(i + 1) + " names text that is not in the file";
      return false;
    }
    t.defs.push_back(d);
  }
  return true;
}

}  // namespace tools
