// The host's INI reader and writer against a model. An input is a list of
// edits and the file they start from:
//   byte 0        number of edits (low four bits)
//   2 bytes each  an edit: bits 0-1 what (0 and 3: set a key, 1: delete the
//                 key, 2: delete the section), bits 2-3 the section S0..S3,
//                 bits 4-5 the key k0..k3; then the seed of the value
//   the rest      the file as it is before the edits
// After the edits, every key an edit touched reads back as the model says,
// and every line outside the sections of the names the edits touched is
// still there, byte for byte and in order.
#include <unistd.h>

#include <deque>
#include <map>
#include <optional>

#include "fuzz/check.h"
#include "fuzz/ini_model.h"
#include "host/win32.h"

namespace {

std::string value_from(uint8_t seed) {
  static const char alphabet[] = "abcXYZ019._-=;[] ";
  std::string v;
  uint32_t x = seed * 2654435761u + 1;
  for (int n = seed % 13; n > 0; --n) {
    x = x * 1103515245u + 12345u;
    v += alphabet[(x >> 16) % (sizeof alphabet - 1)];
  }
  return std::string(model::trim(v));  // values keep no blanks at their ends
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const size_t edits = data[0] & 15;
  if (size < 1 + 2 * edits) return 0;
  const std::string before((const char *)data + 1 + 2 * edits, size - 1 - 2 * edits);
  const std::string path = fuzz::folder() / "fuzz.ini", win = host::windows_path(path);
  kit::write_text(path, before);

  // The model: what each touched key holds now (nullopt: absent), and which
  // sections were touched. A key may stand in its section more than once:
  // a read gives the first line, a write changes the first line, a delete
  // removes the first line and so uncovers the next (in `lines`, the values
  // still in the file in order; unknown after the section gave way).
  // A deleted section gives way to the next of the same name, if the file
  // has one: its keys are then unknown to the model rather than absent.
  std::map<std::pair<int, int>, std::optional<std::string>> keys;
  std::optional<std::deque<std::string>> lines[4][4];
  bool touched[4] = {};
  int headers[4] = {}, deleted[4] = {};
  for (std::string_view l : model::lines(before)) {
    std::string_view name;
    for (int s = 0; s < 4; ++s) headers[s] += model::header(l, name) && model::same(name, "S" + std::to_string(s));
  }
  for (int s = 0; s < 4; ++s)
    for (int k = 0; k < 4; ++k) {
      const std::vector<std::string> v = model::values(before, "S" + std::to_string(s), "k" + std::to_string(k));
      lines[s][k].emplace(v.begin(), v.end());
    }
  for (size_t i = 0; i < edits; ++i) {
    const uint8_t op = data[1 + 2 * i], seed = data[2 + 2 * i];
    const int what = op & 3, s = (op >> 2) & 3, k = (op >> 4) & 3;
    const std::string section = "S" + std::to_string(s), key = "k" + std::to_string(k), value = value_from(seed);
    touched[s] = true;
    BOOL ok;
    if (what == 2) {
      ok = WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, win.c_str());
      const bool last = ++deleted[s] >= headers[s];
      for (int j = 0; j < 4; ++j) {
        if (last) {
          keys[{s, j}] = std::nullopt;
          lines[s][j].emplace();
        } else {
          keys.erase({s, j});
          lines[s][j].reset();
        }
      }
    } else if (what == 1) {
      ok = WritePrivateProfileStringA(section.c_str(), key.c_str(), nullptr, win.c_str());
      std::optional<std::deque<std::string>> &left = lines[s][k];
      if (left && !left->empty()) left->pop_front();
      if (!left)
        keys.erase({s, k});
      else if (left->empty())
        keys[{s, k}] = std::nullopt;
      else
        keys[{s, k}] = left->front();
    } else {
      ok = WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), win.c_str());
      // The first line takes the value, or a line is added for it.
      if (std::optional<std::deque<std::string>> &all = lines[s][k]; all && all->empty())
        all->push_back(value);
      else if (all)
        all->front() = value;
      keys[{s, k}] = value;
    }
    FUZZ_CHECK(ok, "edit %zu written", i);
  }

  for (const auto &[at, want] : keys) {
    const std::string section = "s" + std::to_string(at.first), key = "K" + std::to_string(at.second);
    char buf[64];
    const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "<none>", buf, sizeof buf, win.c_str());
    const std::string got(buf, n), expected = want ? model::as_read(want, sizeof buf) : "<none>";
    FUZZ_CHECK(got == expected, "[%s] %s reads back \"%s\", the model holds \"%s\"", section.c_str(), key.c_str(),
               got.c_str(), expected.c_str());
  }

  // Lines outside the first section of each touched name survive. A UTF-16LE
  // file is held in another encoding: only its reads count.
  const std::string after = kit::read_text(path);
  if (before.rfind("\xff\xfe", 0) == 0) return 0;
  std::vector<std::string_view> kept;
  bool inside = false;
  for (std::string_view l : model::lines(before)) {
    std::string_view name;
    if (model::header(l, name)) {
      inside = false;
      for (int s = 0; s < 4; ++s) inside |= touched[s] && model::same(name, "S" + std::to_string(s));
    }
    if (!inside) kept.push_back(l);
  }
  const std::vector<std::string_view> now = model::lines(after);
  size_t j = 0;
  for (std::string_view l : now)
    if (j < kept.size() && l == kept[j]) ++j;
  FUZZ_CHECK(j == kept.size(), "line %zu of the lines outside the edited sections survives", j);
  return 0;
}
