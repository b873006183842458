// The loader SDK's hex pattern matcher against a model of its own. An input
// is a length byte (0..63), that many bytes of memory, then the pattern text.
// The model: the pattern's hex digits and '?' in order, everything else
// skipped; byte i takes tokens 2i and 2i+1. A byte with no token left fails
// the match, a byte with only half a token matches anything, as does a pair
// with a '?'; any other pair must equal the byte.
#include <string>
#include <vector>

#include "fuzz/check.h"
#include "z9sdk/apply.h"

namespace {

int digit(char c) {
  const std::string hex = "0123456789abcdef";
  const size_t at = hex.find((char)(c >= 'A' && c <= 'F' ? c + 32 : c));
  return at == std::string::npos ? -1 : (int)at;
}

bool model_match(const uint8_t *mem, uint32_t len, const std::string &pattern) {
  std::vector<char> tokens;
  for (char c : pattern) {
    if (c == 0) break;
    if (c == '?' || digit(c) >= 0) tokens.push_back(c);
  }
  for (uint32_t i = 0; i < len; ++i) {
    if (2 * i >= tokens.size()) return false;
    if (2 * i + 1 >= tokens.size()) continue;
    const char hi = tokens[2 * i], lo = tokens[2 * i + 1];
    if (hi == '?' || lo == '?') continue;
    if (mem[i] != digit(hi) * 16 + digit(lo)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint32_t len = data[0] & 63;
  if (size < 1 + len) return 0;
  // Exactly len bytes of memory and the pattern in buffers of their own
  // size, so that a read past either is caught.
  const std::vector<uint8_t> mem(data + 1, data + 1 + len);
  const std::string pattern((const char *)data + 1 + len, size - 1 - len);
  const bool got = z9sdk_hex_match(mem.data(), len, pattern.c_str()) != 0;
  FUZZ_CHECK(got == model_match(mem.data(), len, pattern), "match of %u bytes against \"%s\" gives %d", len,
             pattern.c_str(), got);
  return 0;
}
