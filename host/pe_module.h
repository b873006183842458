// A small loader for PE32 DLLs, so that the product itself, zephal.z9p, runs
// in our Linux host: it maps the sections, applies the HIGHLOW base
// relocations, binds the imports by name to the host's stdcall Win32
// functions and to C runtime functions with msvcrt's behaviour, calls the
// DLL's entry point and looks up exports by name. It also reads the export
// and import tables without loading, for checks of the artefact.
//
// Every offset, count and name the file gives is checked against the file
// and the image before it is used: a damaged or hostile file is refused with
// a message naming what is wrong, never followed outside the image.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/types.h"

namespace host {

struct pe_import {
  std::string dll;       // as named in the import directory, e.g. "KERNEL32.dll"
  std::string function;  // imported by name; "#n" for an import by ordinal
};

struct pe_export {
  std::string name;
  u32 rva;
};

struct pe_info {
  u32 image_base = 0, size_of_image = 0, entry_rva = 0;
  bool dll = false, i386 = false;
  bool has_tls = false;
  std::vector<std::string> sections;
  std::vector<std::string> exports;  // by name, in the table's (sorted) order
  std::vector<pe_import> imports;
};

// The largest file and image the host takes: far beyond any plug-in, and
// small enough that a damaged size field cannot make it reserve gigabytes.
constexpr u32 pe_max_bytes = 64u << 20;

// Reads a PE32 file's headers, exports and imports. On failure returns false
// and says why in error.
bool pe_read_info(const std::string &path, pe_info &info, std::string &error);

struct pe_module {
  u8 *base = nullptr;
  u32 size = 0;                    // bytes mapped (the image size, whole pages)
  u32 preferred = 0;               // the image base the file asks for
  u32 fixups = 0;                  // HIGHLOW relocations applied (also when not moved)
  std::vector<pe_export> exports;  // by name, as the export table lists them
  std::vector<pe_import> imports;  // every import bound, in table order
  void *symbol(const char *name) const;  // an export by name, or null
};

// Maps, relocates and binds the image in bytes without running any of its
// code: what a load does before the entry point. On failure nothing stays
// mapped and error names what is wrong.
bool pe_map(const u8 *bytes, size_t size, pe_module &module, std::string &error);

// Loads the DLL at path, as Windows would: at its preferred base when that is
// free, relocated elsewhere otherwise, then calls its entry point. Fails,
// naming the first import the host does not provide, or what else is wrong.
bool pe_load(const std::string &path, pe_module &module, std::string &error);

// Unmaps a module that pe_map or pe_load mapped; it must not be used after.
void pe_unload(pe_module &module);

// Loads a plug-in module as a run would (map, relocate, bind its imports,
// find the loader's four exports and read the manifest and the definition
// table they lead to) without running its code, and prints what it found.
// Returns 0 for a module a run can use, 2 for one it cannot, after a line
// saying what is wrong.
int check_module(const std::string &path, std::ostream &out);
int check_module_bytes(const std::string &name, const u8 *bytes, size_t size, std::ostream &out);

}  // namespace host
