// The settings check: a "zephal.ini" read as the plug-in will read it, each
// key's effective value, and warnings about what a player probably did not
// mean: a misspelt key that the plug-in ignores without a word, a value that
// is not a number (and so reads as 0), a value that will be clamped, a key
// given twice, two actions on one key. zephal-check --ini prints the whole
// report; zephal-sim prints the warnings for a scenario's setting lines.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "base/settings_table.h"
#include "platform/types.h"

namespace tools {

struct setting_value {
  const zp_setting *row = nullptr;
  int line = 0;      // where the plug-in finds the key, 0 when it takes the default
  std::string text;  // the value as written there
  i32 read = 0;      // what GetPrivateProfileIntA gives the plug-in
  i32 used = 0;      // after the clamp: the value the plug-in works with
};

struct settings_warning {
  int line = 0;     // 0: about the file as a whole, or between two lines
  std::string key;  // the key the warning is about, if any
  std::string text;
};

struct settings_report {
  std::vector<setting_value> values;  // in table order
  std::vector<settings_warning> warnings;  // by line
};

// Checks the file at path. Values come from the platform's own
// GetPrivateProfileIntA, the function the plug-in calls; warnings from the
// file's lines. False, with a message, when the file cannot be read.
bool check_settings(const std::string &path, settings_report &report, std::string &error);

// What a value means to a player: "W", "on", "3.0x speed", "about 113 MB with 8 cars".
std::string meaning(const settings_report &report, const setting_value &v);

// Prints the warnings, one a line, each starting with prefix and, unless
// with_lines is false, the file's line number.
void print_settings_warnings(const settings_report &report, const std::string &prefix, FILE *out,
                             bool with_lines = true);

// The shipped zephal.ini: every key with its default and a comment line.
std::string default_settings_file(const char *version);

}  // namespace tools
