// A small loader for PE32 DLLs, so that the product itself, zephal.z9p, runs
// in our Linux host: it maps the sections, applies the HIGHLOW base
// relocations, binds the imports by name to the host's stdcall Win32
// functions and to C runtime functions with msvcrt's behaviour, calls the
// DLL's entry point and looks up exports by name. It also reads the export
// and import tables without loading, for checks of the artefact.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

namespace host {

struct pe_import {
  std::string dll;       // as named in the import directory, e.g. "KERNEL32.dll"
  std::string function;  // imported by name; "#n" for an import by ordinal
};

struct pe_info {
  u32 image_base = 0, size_of_image = 0, entry_rva = 0;
  bool dll = false, i386 = false;
  bool has_tls = false;
  std::vector<std::string> sections;
  std::vector<std::string> exports;  // by name, in the table's (sorted) order
  std::vector<pe_import> imports;
};

// Reads a PE32 file's headers, exports and imports. On failure returns false
// and says why in error.
bool pe_read_info(const std::string &path, pe_info &info, std::string &error);

struct pe_module {
  u8 *base = nullptr;
  u32 size = 0;
  void *symbol(const char *name) const;  // an export by name, or null
};

// Loads the DLL at path, as Windows would: at its preferred base when that is
// free, relocated elsewhere otherwise. Fails, naming the first import the
// host does not provide, or what else is wrong.
bool pe_load(const std::string &path, pe_module &module, std::string &error);

}  // namespace host
