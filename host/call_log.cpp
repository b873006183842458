#include "host/call_log.h"

#include <cerrno>
#include <cstring>
#include <map>

#include "host/common.h"
#include "host/game_image.h"

namespace host {
namespace {

FILE *out = nullptr;
std::string out_path;
u32 module_low = 0, module_high = 0;

struct block {
  u32 size, number;
};
std::map<uintptr_t, block> blocks;
u32 blocks_made = 0;

}  // namespace

bool call_log_start(const std::string &path, std::string *error) {
  std::string ignored;
  call_log_stop(&ignored);
  out = fopen(path.c_str(), "wb");
  if (!out) return *error = "cannot write " + path + ": " + strerror(errno), false;
  setvbuf(out, nullptr, _IOFBF, 1 << 16);
  out_path = path;
  blocks.clear();
  blocks_made = 0;
  return true;
}

bool call_log_stop(std::string *error) {
  if (!out) return true;
  const bool ok = !ferror(out) && fclose(out) == 0;
  out = nullptr;
  if (!ok) *error = "cannot write " + out_path + ": " + strerror(errno);
  return ok;
}

bool call_log_on() { return out != nullptr; }

void call_log_module(u32 low, u32 high) { module_low = low, module_high = high; }


std::string log_bytes(const void *p, size_t n) {
  std::string s = "\"";
  const u8 *b = (const u8 *)p;
  for (size_t i = 0; i < n; ++i) {
    if (b[i] == '\\' || b[i] == '"') {
      s += '\\';
      s += (char)b[i];
    } else if (b[i] >= 0x20 && b[i] < 0x7f) {
      s += (char)b[i];
    } else {
      char x[8];
      snprintf(x, sizeof x, "\\x%02X", b[i]);
      s += x;
    }
  }
  return s + "\"";
}

std::string log_string(const char *s) { return s ? log_bytes(s, strlen(s)) : "0"; }

std::string log_pointer(const void *p) {
  const uintptr_t a = (uintptr_t)p;
  if (!a) return "0";
  if (a >= image_base && a < image_end) return hex(a);
  if (a >= module_low && a < module_high) return "module+" + hex(a - module_low);
  auto b = blocks.upper_bound(a);
  if (b != blocks.begin() && a - (--b)->first < b->second.size)
    return "vm" + std::to_string(b->second.number) + "+" + hex(a - b->first);
  return "buffer";
}

void call_log_line(const char *name, const std::string &args, const std::string &result) {
  if (!out) return;
  fprintf(out, "%s(%s) = %s\n", name, args.c_str(), result.c_str());
}

void call_log_block(const void *base, u32 size) { blocks[(uintptr_t)base] = {size, ++blocks_made}; }
void call_log_block_gone(const void *base) { blocks.erase((uintptr_t)base); }

}  // namespace host
