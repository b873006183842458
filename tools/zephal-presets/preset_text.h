// Presets as text a player can read and edit: decimal numbers instead of bit
// patterns, the position on one line, the view as yaw, pitch and roll. Every
// number is written so that it reads back to the same bits, so an export
// imported unchanged writes nothing.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tools/zephal-presets/preset_file.h"

namespace tools {

// The shortest decimal that reads back to exactly these bits, or
// "bits:XXXXXXXX" for a value without one (infinities, NaNs).
std::string decimal(u32 bits);

// Reads a number of that form; false when the text is neither.
bool parse_float(const std::string &text, u32 &bits);

// yaw, pitch, roll as the text shows them.
std::string look_text(double yaw, double pitch, double roll);

std::string export_text(const std::vector<preset> &presets, const std::string &file, const char *version);

// One [PosN] block of an edited text.
struct text_preset {
  int number = 0, line = 0;
  bool has[preset_key_count] = {};
  u32 bits[preset_key_count] = {};  // float keys
  i32 ints[preset_key_count] = {};  // integer keys
  bool has_look = false;
  double look[3] = {};
};

// Parses a whole text; on the first error returns false with "NAME:LINE: what".
bool parse_text(const std::string &text, const std::string &name, std::vector<text_preset> &out,
                std::string &error);

// The keys an import must write into a preset that holds current, with the
// text to write: only what differs from what the plug-in would read there.
std::vector<std::pair<int, std::string>> changes(const text_preset &wanted, const preset &current);

}  // namespace tools
