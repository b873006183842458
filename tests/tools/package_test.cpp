// The release package as tools/package.sh builds it from the artefacts in
// out/: what the archive holds, its checksums, and the Windows tools in it.
#include <algorithm>
#include <set>

#include "base/settings_table.h"
#include "host/pe_module.h"
#include "tests/support.h"
#include "z9sdk/z9.h"

namespace {

using std::string;

using kit::run;

// The manifest's version, as the loader reads it from the DLL.
string dll_version() {
  host::pe_module dll;
  string error;
  EXPECT_TRUE(host::pe_load(ZEPHAL_OUT_DIR "/zephal.z9p", dll, error)) << error;
  auto m = (const z9_manifest *)dll.symbol("z9_manifest_data");
  return m ? m->version : "";
}

struct Package : ::testing::Test {
  test::temp_dir dir;
  const string name = "zephal-" + dll_version();
  string archive() { return dir / (name + ".zip"); }
  test::ran build() {
    return run("cd " + test::quote(ZEPHAL_SOURCE) + " && ZEPHAL_OUT=" + test::quote(ZEPHAL_OUT_DIR) + " bash tools/package.sh --no-build --out " +
                 test::quote(dir.path));
  }
};

TEST_F(Package, TheArchiveHoldsThePlugInToolsSettingsGuideAndTheirSums) {
  const test::ran made = build();
  ASSERT_EQ(made.status, 0) << made.out << made.err;
  EXPECT_TRUE(made.has("package: " + archive())) << made.out;

  const test::ran listing = run("unzip -Z1 " + test::quote(archive()));
  std::set<string> names;
  std::istringstream lines(listing.out);
  for (string line; std::getline(lines, line);) names.insert(line);
  const std::set<string> want = {name + "/", name + "/zephal.z9p", name + "/zephal-check.exe",
                                 name + "/zephal-presets.exe", name + "/zephal.ini", name + "/PLAYING.md",
                                 name + "/CHANGES.txt", name + "/LICENSE.txt", name + "/SHA256SUMS"};
  EXPECT_EQ(names, want);

  ASSERT_EQ(run("cd " + test::quote(dir.path) + " && unzip -q " + test::quote(archive())).status, 0);
  const string in = dir / name;
  const test::ran sums = run("cd " + test::quote(in) + " && sha256sum -c SHA256SUMS");
  EXPECT_EQ(sums.status, 0) << sums.out << sums.err;
  EXPECT_EQ(std::count(sums.out.begin(), sums.out.end(), '\n'), 7) << sums.out;
  EXPECT_EQ(sums.out.find("FAILED"), string::npos);
  for (const char *f : {"zephal.z9p", "zephal-check.exe", "zephal-presets.exe", "zephal.ini"})
    EXPECT_EQ(test::read_text(in + "/" + f), test::read_text(string(ZEPHAL_OUT_DIR) + "/" + f)) << f;
  EXPECT_EQ(test::read_text(in + "/PLAYING.md"), test::read_text(ZEPHAL_SOURCE "/docs/PLAYING.md"));
  EXPECT_EQ(test::read_text(in + "/LICENSE.txt"), test::read_text(ZEPHAL_SOURCE "/LICENSE"));

  // The same artefacts give the same archive, byte for byte.
  const string first = test::read_text(archive());
  ASSERT_EQ(build().status, 0);
  EXPECT_EQ(test::read_text(archive()), first);
}

TEST_F(Package, TheWindowsToolsImportOnlyKernel32AndMsvcrt) {
  for (const char *tool : {"zephal-check.exe", "zephal-presets.exe"}) {
    host::pe_info pe;
    string error;
    ASSERT_TRUE(host::pe_read_info(string(ZEPHAL_OUT_DIR) + "/" + tool, pe, error)) << error;
    EXPECT_TRUE(pe.i386 && !pe.dll) << tool;
    std::set<string> dlls, kernel32;
    for (const host::pe_import &imp : pe.imports) {
      string dll = imp.dll;
      std::transform(dll.begin(), dll.end(), dll.begin(), ::toupper);
      dlls.insert(dll);
      if (dll == "KERNEL32.DLL") kernel32.insert(imp.function);
    }
    EXPECT_EQ(dlls, (std::set<string>{"KERNEL32.DLL", "MSVCRT.DLL"})) << tool;
    // The same profile function the plug-in reads its settings with.
    EXPECT_TRUE(kernel32.count("GetPrivateProfileIntA")) << tool;
  }
}

TEST_F(Package, TheGuideDocumentsEverySettingWithItsDefault) {
  const string guide = test::read_text(ZEPHAL_SOURCE "/docs/PLAYING.md");
  for (const zp_setting &s : zp_settings)
    EXPECT_NE(guide.find("| `" + string(s.key) + "` | " + std::to_string(s.def) + " | "), string::npos) << s.key;
  for (const char *line : {"def NAME: expected mismatch @ RVA 0x", "но пул не выдан", "rel32 недостижим",
                           "zephal: preset N saved (PATH)", "zephal: seek D: no snapshot"})
    EXPECT_NE(guide.find(line), string::npos) << line;
}

}  // namespace
