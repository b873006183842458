#include "tools/zephal-check/game_check.h"

#include "z9sdk/apply.h"
#include "z9sdk/z9.h"

namespace tools {
namespace {

site_check check_site(const pe_file &game, const std::string &what, u32 rva, u32 len, const std::string &pattern) {
  site_check s;
  s.what = what;
  s.rva = rva;
  s.expected = pattern;
  u32 off = 0;
  switch (game.locate(rva, len, off)) {
    case pe_file::where::in_file:
      s.found.assign(game.bytes.begin() + off, game.bytes.begin() + off + len);
      s.verdict = z9sdk_hex_match(s.found.data(), len, pattern.c_str()) ? site_check::fits : site_check::differs;
      break;
    case pe_file::where::past_end:
      s.verdict = site_check::missing;
      s.note = "the file ends before this place: it is cut short";
      break;
    case pe_file::where::not_in_image:
      s.verdict = site_check::missing;
      s.note = "no code of the program lies there";
      break;
  }
  return s;
}

}  // namespace

bool game_check::all_fit() const {
  if (!base_fits) return false;
  for (const site_check &s : sites)
    if (s.verdict == site_check::differs || s.verdict == site_check::missing) return false;
  return true;
}

game_check check_game(const pe_file &game, const plugin_tables &plugin) {
  game_check c;
  c.base_fits = game.image_base == game_image_base;
  c.sites.push_back(check_site(game, "build check", plugin.check_rva, pattern_bytes(plugin.check_hex),
                               plugin.check_hex));
  for (const plugin_def &d : plugin.defs) {
    // The walk passes over a skip, writes a definition without a pattern
    // without looking, and refuses a branch of a length it cannot build.
    const bool branch = d.kind != z9_kind_raw && d.kind != z9_kind_skip;
    if (d.kind == z9_kind_skip || !d.has_expect || (branch && (d.len < 5 || d.len > 64))) {
      site_check s;
      s.what = d.name;
      s.rva = d.rva;
      s.expected = d.has_expect ? d.expect : "-";
      s.verdict = d.kind == z9_kind_skip || !d.has_expect ? site_check::not_checked : site_check::differs;
      s.note = d.kind == z9_kind_skip ? "skipped by the plug-in"
               : !d.has_expect        ? "written without a check"
                                      : "the plug-in cannot patch this many bytes";
      c.sites.push_back(s);
      continue;
    }
    c.sites.push_back(check_site(game, d.name, d.rva, d.len, d.expect));
  }
  return c;
}

}  // namespace tools
