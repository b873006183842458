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

  // The model: the values each key has in the file, in order, as a read
  // finds them one after the other: a read gives the first line, a write
  // changes the first line (or adds one), a delete removes the first line
  // and so uncovers the next. A deleted section gives way to the next of the
  // same name, if the file has one: what its keys hold is then unknown to
  // the model (an unknown entry stands for every line from there on).
  using entry = std::optional<std::string>;
  std::deque<entry> lines[4][4];
  bool asked[4][4] = {}, touched[4] = {};
  int headers[4] = {}, deleted[4] = {};
  for (std::string_view l : model::lines(before)) {
    std::string_view name;
    for (int s = 0; s < 4; ++s) headers[s] += model::header(l, name) && model::same(name, "S" + std::to_string(s));
  }
  for (int s = 0; s < 4; ++s)
    for (int k = 0; k < 4; ++k)
      for (const std::string &v : model::values(before, "S" + std::to_string(s), "k" + std::to_string(k)))
        lines[s][k].push_back(v);
  for (size_t i = 0; i < edits; ++i) {
    const uint8_t op = data[1 + 2 * i], seed = data[2 + 2 * i];
    const int what = op & 3, s = (op >> 2) & 3, k = (op >> 4) & 3;
    const std::string section = "S" + std::to_string(s), key = "k" + std::to_string(k), value = value_from(seed);
    std::deque<entry> &left = lines[s][k];
    touched[s] = asked[s][k] = true;
    BOOL ok;
    if (what == 2) {
      ok = WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, win.c_str());
      const bool last = ++deleted[s] >= headers[s];
      for (int j = 0; j < 4; ++j) {
        lines[s][j] = last ? std::deque<entry>{} : std::deque<entry>{std::nullopt};
        asked[s][j] = true;
      }
    } else if (what == 1) {
      ok = WritePrivateProfileStringA(section.c_str(), key.c_str(), nullptr, win.c_str());
      if (!left.empty() && left.front()) left.pop_front();
    } else {
      ok = WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), win.c_str());
      if (left.empty() || !left.front())
        left.push_front(value);
      else
        left.front() = value;
    }
    FUZZ_CHECK(ok, "edit %zu written", i);
  }

  for (int s = 0; s < 4; ++s)
    for (int k = 0; k < 4; ++k) {
      const std::deque<entry> &left = lines[s][k];
      if (!asked[s][k] || (!left.empty() && !left.front())) continue;
      const std::string section = "s" + std::to_string(s), key = "K" + std::to_string(k);
      char buf[64];
      const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "<none>", buf, sizeof buf, win.c_str());
      const std::string got(buf, n), expected = left.empty() ? "<none>" : model::as_read(left.front(), sizeof buf);
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
