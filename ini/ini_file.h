// A Windows private-profile (INI) file held as its lines, for the host's
// GetPrivateProfile*/WritePrivateProfileString. Each line keeps its own bytes
// and its own line end, so that an edit rewrites only the line it concerns
// and every comment, blank line and odd byte elsewhere goes back unchanged.
//
// Reading follows Windows: section and key names are compared without case
// and with surrounding white space trimmed; ';' starts a comment line; a line
// without '=' is no key; of two keys or two sections with the same name only
// the first counts; lines before the first section belong to none.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace ini {

constexpr size_t none = (size_t)-1;

struct line {
  enum kind_t : u8 { other, section, key };
  std::string text;  // the line's bytes, without its line end
  std::string eol;   // "\r\n", "\n", "\r", or "" on a last line without one
  kind_t kind = other;
  std::string name;   // section or key name, trimmed
  std::string value;  // a key's value, trimmed, quotes still on
};

// White space as the profile functions skip it (Ctrl-Z included, a leftover
// end-of-file mark in old files).
std::string_view trim(std::string_view s);

// A value with one pair of matching quotes ('' or "") around it loses them.
std::string_view unquote(std::string_view value);

// The integer a profile value stands for: optional sign, then decimal digits
// (or digits after a lower-case 0x, 0o or 0b prefix), up to the first other
// character; wraps modulo 2^32. No digits at all gives 0.
u32 parse_int(std::string_view value);

// The value of key in the first section called section, found without
// splitting the whole file into lines: what one read of one key needs.
// Equal to find_section, then find_key, of the parsed file.
bool find_value(std::string_view bytes, std::string_view section, std::string_view key, std::string_view &value);

// Encodings. Windows knows one Unicode profile: a file that starts with the
// UTF-16LE byte-order mark (FF FE). Its text is held in UTF-8 while it is
// read and edited and goes back in UTF-16LE, mark included; the A calls see
// it in the ANSI code page (1252 here), with '?' for what that page cannot
// show. Any other file is ANSI, whatever it starts with: its bytes are the
// text as they are. A UTF-8 mark (EF BB BF) is then three bytes of the first
// line, which hide a section header there, and a UTF-16BE file (FE FF) is
// bytes with a NUL before each character, in which no line is a section.
enum class encoding : u8 { ansi, utf16le };

struct text {
  encoding enc = encoding::ansi;
  std::string body;  // ANSI bytes, or UTF-8 after the mark (lone UTF-16 halves kept as 3-byte sequences)
  std::string tail;  // an odd last byte of a UTF-16 file, kept as it was
};
text decode(std::string &&bytes);
std::string encode(const text &t);
// Between the ANSI code page 1252 and UTF-8; what 1252 lacks becomes '?'.
std::string ansi_to_utf8(std::string_view ansi);
std::string utf8_to_ansi(std::string_view utf8);

struct file {
  std::vector<line> lines;

  static file parse(std::string_view bytes);
  std::string bytes() const;

  // Index of the header of the first section called name, or none.
  size_t find_section(std::string_view name) const;
  // Index one past the last line of the section whose header is at header.
  size_t section_end(size_t header) const;
  // Index of the first line of that section holding key name, or none.
  size_t find_key(size_t header, std::string_view name) const;

  std::vector<std::string> section_names() const;
  std::vector<std::string> key_names(size_t header) const;

  // Edits; each reports whether the file changed. New lines end in CRLF.
  bool set(std::string_view section, std::string_view key, std::string_view value);
  bool remove_key(std::string_view section, std::string_view key);
  bool remove_section(std::string_view section);

 private:
  void insert(size_t at, std::string text);
};

}  // namespace ini
