#include "host/loader.h"

#include <cstdarg>
#include <cstring>
#include <functional>

#include "host/common.h"
#include "host/game_image.h"
#include "z9sdk/apply.h"

namespace host {
namespace {

std::vector<write_record> writes;
std::vector<std::string> messages;
int fail_at = 0;

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
  if (!game_memory_protect((u32)at, len, true)) {
    writes.push_back(std::move(rec));
    return 0;
  }
  memcpy((void *)(uintptr_t)at, bytes, len);
  // Back to what the game's code always is (on Windows with a flush of the
  // instruction cache, as a loader there does).
  game_memory_protect((u32)at, len, false);
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

// The number of bytes a hex pattern describes: a lone final token is half
// a byte and still counts as one.
u32 pattern_bytes(const char *p) {
  u32 tokens = 0;
  for (; *p; ++p)
    if (*p == '?' || z9_hexv_(*p) >= 0) ++tokens;
  return (tokens + 1) / 2;
}

}  // namespace

bool module_exports(const std::string &path, const std::function<void *(const char *)> &symbol, z9_module &m,
                    std::string *error) {
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

u32 apply_module(const z9_ctx &ctx, const z9_module &m, std::string *report) {
  std::string error;
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

void report_writes(const z9_module &m, std::string *report) {
  if (m.high && !module_in_reach(m)) {
    char line[240];
    snprintf(line, sizeof line,
             "sim: the module's hook stubs lie beyond 0x%X, out of rel32 reach of the game's code "
             "at 0x400000: the patch walk would refuse every definition, so nothing was applied\n",
             rel32_reach_end);
    *report += line;
  }
  for (const write_record &w : writes) {
    *report += "loader: " + std::string(w.written ? "patched " : "refused ") + (w.name ? w.name : "?") + " at " +
               hex(image_base + w.rva) + ":";
    char b[4];
    for (u8 x : w.bytes) snprintf(b, sizeof b, " %02x", x), *report += b;
    *report += w.bytes.empty() ? " \n" : "\n";
  }
}

}  // namespace host
