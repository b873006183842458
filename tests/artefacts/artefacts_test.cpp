#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "host/pe_module.h"
#include "tests/kit/kit.h"
#include "z9sdk/z9.h"

namespace {

const std::set<std::string> loader_exports = {"Z9_Apply", "z9_def_count", "z9_def_table",
                                              "z9_manifest_data"};
const std::set<std::string> win32_imports = {
    "GetModuleFileNameA", "GetPrivateProfileIntA", "GetPrivateProfileStringA",
    "WritePrivateProfileStringA", "GetTickCount", "VirtualAlloc", "VirtualFree",
    "GetAsyncKeyState"};
// C runtime functions the plug-in may take from msvcrt.dll or libc: string
// and memory primitives, number parsing and the formatter. Nothing that
// allocates, starts threads or needs start-up code.
const std::set<std::string> crt_imports = {"_vsnprintf", "vsnprintf", "memcpy", "memmove", "memset",
                                           "memcmp", "strlen", "strcpy", "strrchr", "strtoul"};

std::string upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), ::toupper);
  return s;
}

// The shared object as binutils' readelf shows it: the file header and the
// program headers as text, the section names, and the dynamic symbols,
// defined (not local) and undefined, without their version.
struct elf_info {
  std::string headers;
  std::set<std::string> defined, undefined, sections;
};
elf_info read_elf(const char *path) {
  elf_info info;
  const kit::ran r = kit::run("readelf -hlSW --dyn-syms " + kit::quote(path));
  EXPECT_EQ(r.status, 0) << r.err;
  const std::regex section(R"(^ +\[ *\d+\] (\S+))"), symbol(R"(^ +\d+: \w+ +\d+ \w+ +(\w+) +\w+ +(\w+) ([^@ ]+))");
  std::istringstream lines(r.out);
  std::smatch m;
  for (std::string l; std::getline(lines, l); info.headers += l + "\n")
    if (std::regex_search(l, m, section)) info.sections.insert(m[1]);
    else if (std::regex_search(l, m, symbol) && (m[2] == "UND" || m[1] != "LOCAL"))
      (m[2] == "UND" ? info.undefined : info.defined).insert(m[3]);
  return info;
}

TEST(SharedObject, ExportsTheFourLoaderNamesAndLeavesWin32ToTheProcess) {
  const elf_info elf = read_elf(ZEPHAL_SO_PATH);
  EXPECT_NE(elf.headers.find("DYN (Shared object file)"), std::string::npos) << elf.headers;
  EXPECT_NE(elf.headers.find("Intel 80386"), std::string::npos);
  EXPECT_EQ(elf.defined, loader_exports);
  std::set<std::string> win32_used;
  for (const std::string &name : elf.undefined) {
    if (win32_imports.count(name))
      win32_used.insert(name);
    else
      EXPECT_TRUE(crt_imports.count(name)) << "unexpected undefined symbol " << name;
  }
  EXPECT_EQ(win32_used, win32_imports);  // every one from the loading process, none from libc
  // A base within rel32 reach of the game, and no start-up or thread-local code.
  EXPECT_TRUE(std::regex_search(elf.headers, std::regex("\n  LOAD +0x0+ 0x10000000 "))) << elf.headers;
  EXPECT_TRUE(elf.sections.count(".dynsym")) << elf.headers;
  for (const char *s : {".init_array", ".ctors", ".init", ".tbss", ".tdata"})
    EXPECT_FALSE(elf.sections.count(s)) << s;
}

TEST(Dll, ExportsTheFourLoaderNamesAndImportsOnlyKernel32User32AndMsvcrt) {
  host::pe_info pe;
  std::string error;
  ASSERT_TRUE(host::pe_read_info(ZEPHAL_Z9P_PATH, pe, error)) << error;
  EXPECT_TRUE(pe.i386 && pe.dll);
  EXPECT_EQ(pe.exports.size(), 4u);
  EXPECT_EQ(std::set<std::string>(pe.exports.begin(), pe.exports.end()), loader_exports);
  std::set<std::string> win32_used;
  for (const host::pe_import &imp : pe.imports) {
    std::string dll = upper(imp.dll);
    if (dll == "KERNEL32.DLL" || dll == "USER32.DLL") {
      EXPECT_TRUE(win32_imports.count(imp.function)) << imp.dll << "!" << imp.function;
      EXPECT_EQ(dll == "USER32.DLL", imp.function == "GetAsyncKeyState") << imp.function;
      win32_used.insert(imp.function);
    } else {
      EXPECT_EQ(dll, "MSVCRT.DLL") << imp.function;
      EXPECT_TRUE(crt_imports.count(imp.function)) << imp.dll << "!" << imp.function;
    }
  }
  EXPECT_EQ(win32_used, win32_imports);
  // Our own entry point, which only agrees to attach: no CRT start-up, TLS
  // or constructors.
  EXPECT_NE(pe.entry_rva, 0u);
  EXPECT_FALSE(pe.has_tls);
  for (const std::string &s : pe.sections) EXPECT_TRUE(s != ".tls" && s != ".CRT" && s != ".ctors") << s;
}

// The same sources give the same two files whichever folder they are built
// in: the DLL asks for the base the build names, not one derived from the
// path it was linked at, and neither file carries the source folder's path.
TEST(BothBuilds, HoldNothingOfTheFolderTheyWereBuiltIn) {
  host::pe_info pe;
  std::string error;
  ASSERT_TRUE(host::pe_read_info(ZEPHAL_Z9P_PATH, pe, error)) << error;
  EXPECT_EQ(pe.image_base, (u32)ZEPHAL_PE_IMAGE_BASE);
  const std::string folder = ZEPHAL_SOURCE_DIR;
  for (const char *path : {ZEPHAL_Z9P_PATH, ZEPHAL_SO_PATH}) {
    const std::string f = kit::read_text(path);
    EXPECT_EQ(std::search(f.begin(), f.end(), folder.begin(), folder.end()), f.end()) << path << " names " << folder;
  }
}

// The loader's view of a module: the manifest and the definition table.
void expect_tables(const z9_manifest *m, const z9_def *defs, const z9_def *other_build) {
  EXPECT_EQ(m->abi, 1u);
  EXPECT_STREQ(m->id, "zephal.freecam");
  EXPECT_STREQ(m->description, "Zephal: manual free camera (type 7) with car bind");
  EXPECT_STREQ(m->version, "0.7.4");
  EXPECT_EQ(m->loader_param, 90u);
  EXPECT_STREQ(m->check_hex, "e8 02 dd ff ff");
  EXPECT_EQ(m->check_rva, 0x415b9u);
  for (u32 w : m->spare) EXPECT_EQ(w, 0u);
  for (int i = 0; i < 7; ++i) {  // all but the target, which is each build's own stub
    const z9_def &a = defs[i], &b = other_build[i];
    EXPECT_EQ(std::tuple(a.kind, a.rva, a.len, std::string(a.expect), std::string(a.name), a.bytes, a.spare),
              std::tuple(b.kind, b.rva, b.len, std::string(b.expect), std::string(b.name), (const u8 *)nullptr, 0u)) << i;
  }
}

TEST(Dll, LoadsRelocatedAndCarriesTheSameTablesAsTheSharedObject) {
  // Occupy the DLL's preferred base so that it must be relocated: every
  // pointer in its tables then goes through the base relocations.
  host::pe_info pe;
  std::string error;
  ASSERT_TRUE(host::pe_read_info(ZEPHAL_Z9P_PATH, pe, error)) << error;
  void *blocker = mmap((void *)(uintptr_t)pe.image_base, 0x1000, PROT_NONE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  host::pe_module dll;
  ASSERT_TRUE(host::pe_load(ZEPHAL_Z9P_PATH, dll, error)) << error;
  if (blocker != MAP_FAILED) EXPECT_NE((uintptr_t)dll.base, pe.image_base);

  void *so = dlopen(ZEPHAL_SO_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(so, nullptr) << dlerror();

  auto pe_manifest = (const z9_manifest *)dll.symbol("z9_manifest_data");
  auto so_manifest = (const z9_manifest *)dlsym(so, "z9_manifest_data");
  ASSERT_NE(pe_manifest, nullptr);
  ASSERT_NE(so_manifest, nullptr);
  EXPECT_EQ(*(const u32 *)dll.symbol("z9_def_count"), 7u);
  EXPECT_EQ(*(const u32 *)dlsym(so, "z9_def_count"), 7u);
  auto pe_defs = *(const z9_def *const *)dll.symbol("z9_def_table");
  auto so_defs = *(const z9_def *const *)dlsym(so, "z9_def_table");
  expect_tables(pe_manifest, pe_defs, so_defs);
  expect_tables(so_manifest, so_defs, pe_defs);

  // Each definition's target is a stub inside its own module.
  for (int i = 0; i < 7; ++i) {
    EXPECT_GE(pe_defs[i].target, (u32)(uintptr_t)dll.base);
    EXPECT_LT(pe_defs[i].target, (u32)(uintptr_t)dll.base + dll.size);
  }
  EXPECT_NE(dll.symbol("Z9_Apply"), nullptr);
  EXPECT_EQ(dll.symbol("z9_zp_freecam_tick"), nullptr);  // handlers stay inside
}

}  // namespace
