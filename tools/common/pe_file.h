// A PE32 file read from disk as bytes, never loaded or run: the headers, the
// section table, and the bytes behind a relative virtual address (RVA). The
// players' tools read two such files: the game's executable, to look at the
// code the plug-in will patch, and zephal.z9p, for the manifest and the patch
// definitions it exports. Both may be anything a player points the tool at,
// so every offset and size is checked against the file before it is used.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

namespace tools {

struct pe_section {
  std::string name;
  u32 rva = 0, virtual_size = 0;
  u32 file_offset = 0, file_size = 0;  // the raw data actually present in the file
};

struct pe_file {
  std::string path;
  std::vector<u8> bytes;
  u32 image_base = 0, size_of_image = 0;
  bool dll = false;
  std::vector<pe_section> sections;
  u32 export_rva = 0, export_size = 0;

  // Where an RVA lies: the file offset of its byte, if the file holds it.
  enum class where { in_file, past_end, not_in_image };
  // Looks up [rva, rva + len): in_file when all of it is in one section's raw
  // data and the file is long enough; past_end when a section claims it but
  // the file stops short (a truncated copy); not_in_image when no section
  // covers it. off gets the file offset of the first byte.
  where locate(u32 rva, u32 len, u32 &off) const;

  // len bytes at rva into out; false unless locate() says in_file.
  bool read(u32 rva, u32 len, std::vector<u8> &out) const;
  bool read_u32(u32 rva, u32 &out) const;
  // A NUL-terminated string at an absolute address of the image (as pointers
  // in the file's data hold them), at most max characters; false when it does
  // not lie in the file or does not end in time.
  bool read_string_at_va(u32 va, std::string &out, u32 max = 256) const;
  bool read_string(u32 rva, std::string &out, u32 max = 256) const;
  // The RVA of an export by name, or false.
  bool find_export(const std::string &name, u32 &rva) const;
};

// A number as the tools print addresses and sizes: 0x1A2B.
std::string hex(u32 v);

// Reads and checks the headers of a PE32 file for x86. On failure returns
// false with a message for the player: what is wrong with the file, in words.
bool read_pe(const std::string &path, pe_file &pe, std::string &error);

}  // namespace tools
