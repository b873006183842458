// The PE loader on damaged copies of the real zephal.z9p: each damage to
// what a loader parses is refused with a message naming it, nothing is left
// mapped, and none of the module's code runs. The places are found with a
// reader of the test's own, so a mistake in the loader's reading shows.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cstring>
#include <functional>
#include <sstream>

#include "host/pe_module.h"
#include "tests/support.h"

namespace {

using bytes = std::vector<u8>;

bytes dll() {
  const std::string file = kit::read_text(ZEPHAL_Z9P_PATH);
  return bytes(file.begin(), file.end());
}

u32 rd(const bytes &b, u64 off) { return b[off] | b[off + 1] << 8 | b[off + 2] << 16 | (u32)b[off + 3] << 24; }
void wr(bytes &b, u64 off, u32 v) { memcpy(b.data() + off, &v, 4); }
void wr16(bytes &b, u64 off, u16 v) { memcpy(b.data() + off, &v, 2); }

// File offsets of the structures, from the section table.
struct layout {
  u32 pe, opt, sections, nsections;
  explicit layout(const bytes &b) {
    pe = rd(b, 0x3c);
    opt = pe + 24;
    nsections = rd(b, pe + 6) & 0xffff;
    sections = opt + (rd(b, pe + 20) & 0xffff);
  }
  u32 file(const bytes &b, u32 rva) const {
    for (u32 i = 0; i < nsections; ++i) {
      u32 s = sections + 40 * i, va = rd(b, s + 12), raw = rd(b, s + 20);
      if (rva >= va && rva < va + rd(b, s + 16)) return raw + rva - va;
    }
    ADD_FAILURE() << "RVA outside every section";
    return 0;
  }
  u32 dir(const bytes &b, int i) const { return file(b, rd(b, opt + 96 + 8 * i)); }
};

// Whether nothing is mapped at the module's preferred base, where a load maps it.
bool base_is_free(const bytes &b) {
  void *at = (void *)(uintptr_t)rd(b, rd(b, 0x3c) + 24 + 28);
  void *p = mmap(at, 0x1000, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  if (p != MAP_FAILED) munmap(p, 0x1000);
  return p == at;
}

TEST(PeFaults, EachDamageToWhatTheLoaderParsesIsRefusedByName) {
  const bytes good = dll();
  ASSERT_GT(good.size(), 0x400u);
  const layout L(good);
  struct damage {
    const char *what;
    std::function<void(bytes &)> apply;
    const char *message;
  } table[] = {
      {"no MZ", [&](bytes &b) { b[0] = 'X'; }, "no MZ header"},
      {"PE offset past the file", [&](bytes &b) { wr(b, 0x3c, 0xfffffff0); }, "no PE signature"},
      {"not PE32", [&](bytes &b) { wr16(b, L.opt, 0x20b); }, "not a PE32 optional header"},
      {"optional header past the file", [&](bytes &b) { wr16(b, L.pe + 20, 0xffff); }, "not a PE32 optional header"},
      {"65535 sections", [&](bytes &b) { wr16(b, L.pe + 6, 0xffff); }, "more than the 96"},
      {"2 GiB image", [&](bytes &b) { wr(b, L.opt + 56, 0x7fffffff); }, "beyond the host's limit"},
      {"headers larger than the image", [&](bytes &b) { wr(b, L.opt + 60, 0x100000); }, "header size"},
      {"section data past the file", [&](bytes &b) { wr(b, L.sections + 20, 0xffffff00); }, "runs past the end of the file"},
      {"section past the image", [&](bytes &b) { wr(b, L.sections + 12, 0xfffff000); }, "runs past the image size"},
      {"entry point in data", [&](bytes &b) { wr(b, L.opt + 16, rd(b, L.opt + 56) - 4); }, "entry point"},
      {"export directory outside", [&](bytes &b) { wr(b, L.opt + 96, 0xfffffff0); }, "export directory"},
      {"huge export count", [&](bytes &b) { wr(b, L.dir(b, 0) + 24, 0x7fffffff); }, "more than 16-bit ordinals"},
      {"export names outside", [&](bytes &b) { wr(b, L.dir(b, 0) + 32, 0xfffffff0); }, "runs outside the image"},
      {"export name outside", [&](bytes &b) { wr(b, L.file(b, rd(b, L.dir(b, 0) + 32)), 0x7ffffff0); }, "export name 0"},
      {"export ordinal too large", [&](bytes &b) { wr16(b, L.file(b, rd(b, L.dir(b, 0) + 36)), 9); }, "ordinal index 9"},
      {"export outside", [&](bytes &b) { wr(b, L.file(b, rd(b, L.dir(b, 0) + 28)), 0x7fffffff); }, "points outside the image"},
      {"forwarded export", [&](bytes &b) { wr(b, L.file(b, rd(b, L.dir(b, 0) + 28)), rd(b, L.opt + 96) + 1); }, "forwarded"},
      {"import descriptors outside", [&](bytes &b) { wr(b, L.opt + 104, 0xfffffff0); }, "import descriptor 0 lies outside"},
      {"DLL name outside", [&](bytes &b) { wr(b, L.dir(b, 1) + 12, 0xfffffff0); }, "DLL name outside"},
      {"import slots outside", [&](bytes &b) { wr(b, L.dir(b, 1) + 16, 0xfffffff0); }, "address table of the imports from KERNEL32.dll"},
      {"lookup table outside", [&](bytes &b) { wr(b, L.dir(b, 1), 0xfffffff0); }, "lookup table of the imports"},
      {"import name outside", [&](bytes &b) { wr(b, L.file(b, rd(b, L.dir(b, 1))), 0x7ffffff0); }, "import 0 from KERNEL32.dll: name"},
      {"unknown import", [&](bytes &b) { b[L.file(b, rd(b, L.file(b, rd(b, L.dir(b, 1)))) + 2) + 3] = 'X'; },
       "import not provided by the host: KERNEL32.dll!GetXoduleFileNameA"},
      {"relocations outside", [&](bytes &b) { wr(b, L.opt + 96 + 40, 0xfffffff0); }, "relocation table"},
      {"relocation block too large", [&](bytes &b) { wr(b, L.dir(b, 5) + 4, 0x7ffffff8); }, "has a size of 0x7FFFFFF8"},
      {"relocation block too small", [&](bytes &b) { wr(b, L.dir(b, 5) + 4, 4); }, "has a size of 0x4"},
      {"relocated word outside", [&](bytes &b) { wr(b, L.dir(b, 5), 0x7ffff000); }, "relocation of RVA 0x7FFFF"},
      {"relocation type 10", [&](bytes &b) { b[L.dir(b, 5) + 9] = 0xa0; }, "unsupported relocation type 10"},
  };
  ASSERT_TRUE(base_is_free(good));
  for (const damage &d : table) {
    bytes b = good;
    d.apply(b);
    host::pe_module m;
    std::string error;
    EXPECT_FALSE(host::pe_map(b.data(), b.size(), m, error)) << d.what;
    EXPECT_NE(error.find(d.message), std::string::npos) << d.what << ": " << error;
    EXPECT_EQ(m.base, nullptr) << d.what;
  }
  EXPECT_TRUE(base_is_free(good));  // every refusal unmapped what it had mapped
  // Any cut of the file is refused or loads; never read past its end.
  for (size_t n = 0; n < good.size(); n += 97) {
    bytes cut(good.begin(), good.begin() + (long)n);
    host::pe_module m;
    std::string error;
    if (host::pe_map(cut.data(), cut.size(), m, error)) host::pe_unload(m);
  }
}

TEST(PeFaults, AnUnalignedWordIsRelocatedLikeAnyOther) {
  bytes b = dll();
  const layout L(b);
  // Point the first HIGHLOW entry one byte further on.
  const u32 block = L.dir(b, 5), page = rd(b, block);
  u16 entry;
  memcpy(&entry, b.data() + block + 8, 2);
  ASSERT_EQ(entry >> 12, 3);
  wr16(b, block + 8, (u16)(entry + 1));
  const u32 rva = page + (entry & 0xfff) + 1, before = rd(b, L.file(b, rva));
  // Hold the preferred base so that the module has to move.
  const u32 base = rd(b, L.opt + 28);
  void *blocker = mmap((void *)(uintptr_t)base, 0x1000, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  host::pe_module m;
  std::string error;
  ASSERT_TRUE(host::pe_map(b.data(), b.size(), m, error)) << error;
  if (blocker != MAP_FAILED) munmap(blocker, 0x1000);
  ASSERT_NE((u32)(uintptr_t)m.base, base);
  u32 after;
  memcpy(&after, m.base + rva, 4);
  EXPECT_EQ(after, before + ((u32)(uintptr_t)m.base - base));
  host::pe_unload(m);
}

TEST(PeFaults, CheckModuleReportsTheFourExportsOrWhatIsWrong) {
  std::ostringstream out;
  EXPECT_EQ(host::check_module(ZEPHAL_Z9P_PATH, out), 0);
  for (const char *line : {"all provided by the host", "Z9_Apply (RVA", "manifest: zephal.freecam 0.7.4, abi 1",
                           "definitions: 7", "zephal.frame: call at game RVA 0x111328", "none of its code was run"})
    EXPECT_NE(out.str().find(line), std::string::npos) << line << "\n" << out.str();

  test::temp_dir dir;
  mkfifo((dir / "fifo").c_str(), 0600);
  bytes b = dll();
  const layout L(b);
  b[L.file(b, rd(b, L.file(b, rd(b, L.dir(b, 0) + 32))))] = 'x';  // Z9_Apply exported as x9_Apply
  kit::write_text(dir / "renamed.z9p", std::string(b.begin(), b.end()));
  const std::pair<std::string, const char *> refused[] = {
      {dir / "none.z9p", "cannot open it"}, {dir.path, "not a regular file"}, {dir / "fifo", "not a regular file"},
      {ZEPHAL_SO_PATH, "cannot be loaded: no MZ header"}, {dir / "renamed.z9p", "does not export Z9_Apply"}};
  for (const auto &[path, message] : refused) {
    std::ostringstream o;
    EXPECT_EQ(host::check_module(path, o), 2) << path;
    EXPECT_NE(o.str().find(message), std::string::npos) << o.str();
  }
}

}  // namespace
