// The host's Win32 stand-ins: the private-profile calls on real files, checked against
// what Windows returns and writes byte for byte; the keyboard, the clock, the
// executable's path, virtual memory, and Windows paths on Linux files.
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>

#include "tests/win32/profile.h"

namespace {

namespace fs = std::filesystem;
using std::string;

using PrivateProfile = test::profile_dir;
using test::gpps, test::wpps;

TEST_F(PrivateProfile, ValuesDefaultsAndTruncationAsWindowsGivesThem) {
  struct row { string file; const char *app, *key, *want, *def = "default"; DWORD n = 100; } rows[] = {
      {"[section1]\r\nname1=val1\r\n", "SECTION1", "NaMe1", "4,val1"}, {"[ s1 ]\r\nk=v\r\n", "s1", "k", "1,v"},
      {"[s]\r\n  key  =  value  \r\n", "  s ", "  key ", "5,value"}, {"[s]\r\nk=\"val2\"\r\n", "s", "k", "4,val2"},
      {"[s]\r\nk = ' x'\r\n", "s", "k", "2, x"}, {"[s]\r\nk=''x''\r\n", "s", "k", "3,'x'"},
      {"[s]\r\nk=\"abc'\r\n", "s", "k", "5,\"abc'"}, {"[s]\r\nk=\"\r\n", "s", "k", "1,\""},
      {"[s]\r\n;k=1\r\nk=2\r\n", "s", "k", "1,2"}, {"[s]\r\n  ;k=1\r\n", "s", ";k", "7,default"},
      {"[s]\r\nname3\r\n", "s", "name3", "7,default"}, {"[s]\r\nname2=\r\n", "s", "name2", "0,"},
      {"[s]\r\nk=1\r\nk=2\r\n", "s", "k", "1,1"}, {"[s]\r\na=1\r\n[s]\r\nb=2\r\n", "s", "b", "7,default"},
      {"[s]\r\nk=a=b\r\n", "s", "k", "3,a=b"}, {"k=outside\r\n[s]\r\n", "s", "k", "7,default"},
      {"[s] trailing\r\nk=1\r\n[t]\r\nk=2\r\n", "t", "k", "1,2"}, {"[s]\nk=lf\n[t]\nk=2\n", "s", "k", "2,lf"},
      {"[s]\rk=cr\r[t]\rk=2\r", "t", "k", "1,2"}, {"[s]\r\nk=last", "s", "k", "4,last"},
      {"[s]\r\nk=1\r\n", "s", "", "7,default"}, {"[s]\r\nk=1\r\n", "", "k", "7,default"},
      {"[s]\r\nk=1\r\n", "t", "k", "7,default"}, {"[s]\r\n", "s", "x", "0,", nullptr},
      {"[s]\r\n", "s", "x", "7,one two", "one two  "}, {"[s]\r\n", "s", "x", "3,def", "default", 4},
      {"[s]\r\nk=val1\r\n", "s", "k", "3,val", "d", 4}, {"[s]\r\nk=val1\r\n", "s", "k", "4,val1", "d", 5},
      {"[s]\r\nk=a\r\n", "s", "k", "0,", "d", 1}, {"[s]\r\nk=a\r\n", "s", "k", "0,\x0c", "d", 0},
  };
  for (const row &r : rows) EXPECT_EQ(gpps(r.app, r.key, put("a.ini", r.file), r.def, r.n), r.want) << r.file;
  // No file, a missing folder, no name, a folder in place of the file.
  for (string missing : {win("none.ini"), win("nodir/a.ini"), string(), win("")})
    EXPECT_EQ(gpps("s", "k", missing), "7,default") << missing;
  char buf[16];
  EXPECT_EQ(GetPrivateProfileStringA("s", "k", "default", buf, 16, nullptr), 7u);
}

TEST_F(PrivateProfile, IntegersAsWindowsConvertsThemFromTheFileAsItIsNow) {
  struct row { const char *value; int def; u32 want; } rows[] = {
      {"1", -1, 1}, {"+1", -1, 1}, {"-1", 1, 0xffffffff}, {"4294967296", -1, 0}, {"4294967297", -1, 1},
      {"-4294967297", 1, 0xffffffff}, {"42A94967297", -1, 42}, {"B4294967297", -1, 0}, {"   42", -1, 42},
      {"\"7\"", -1, 7}, {"- 5", -1, 0}, {"", 7, 7}, {"\"\"", 7, 7}, {"0x1A", -1, 26}, {"0X1A", -1, 0},
      {"-2147483648", 0, 0x80000000}, {"1111111111111111111111111111111", -1, 1729917383},  // 29 digits read
  };
  string f;  // every row rewrites the file: a cached copy would fail the next
  for (const row &r : rows) {
    f = put("a.ini", string("[Test]\r\nProfileInt=") + r.value + "\r\n");
    EXPECT_EQ(GetPrivateProfileIntA("test", "PROFILEINT", r.def, f.c_str()), r.want) << r.value;
  }
  EXPECT_EQ(GetPrivateProfileIntA("Test", "other", -1, f.c_str()), 0xffffffffu);
  EXPECT_EQ(GetPrivateProfileIntA("Test", "ProfileInt", 5, win("none.ini").c_str()), 5u);
}

TEST_F(PrivateProfile, WritesBuildAFileAsWindowsDoes) {
  const string f = win("a.ini");  // not there yet
  for (auto [a, k, v] : {std::tuple{"App1", "key1", ""}, {"App1", "key2", "string2"}, {"App2", "key4", "string4"},
                         {"app1", "KEY2", "again"}, {"App1", "key3", "string3"}, {"App3", "key5", "string5"}})
    EXPECT_TRUE(wpps(a, k, v, f));
  EXPECT_FALSE(wpps(nullptr, "key", "string", f));
  EXPECT_FALSE(wpps("App", "key", "v", ""));
  EXPECT_EQ(slurp("a.ini"), "[App1]\r\nkey1=\r\nkey2=again\r\nkey3=string3\r\n"
                            "[App2]\r\nkey4=string4\r\n[App3]\r\nkey5=string5\r\n");
  EXPECT_EQ(names().size(), 1u);
}

TEST_F(PrivateProfile, WritesChangeOnlyTheirOwnLine) {
  const string rest = "[other]\rk=v\r\n\r\n";
  string f = put("a.ini", "; settings\r\n\r\n[Sec]\n  Key = 1 ; old\n\n;tail comment\r\n" + rest);
  EXPECT_TRUE(wpps("SEC", "KEY", "  2", f));
  EXPECT_EQ(slurp("a.ini"), "; settings\r\n\r\n[Sec]\nKey=2\n\n;tail comment\r\n" + rest);
  EXPECT_TRUE(wpps("Sec", "new", "3", f));
  EXPECT_EQ(slurp("a.ini"), "; settings\r\n\r\n[Sec]\nKey=2\nnew=3\r\n\n;tail comment\r\n" + rest);
  // A section without keys takes the key under its header; a file that does
  // not end in a line end gets one before a new section.
  EXPECT_TRUE(wpps("s", "k", "1", put("b.ini", "[s]\r\n; only a comment\r\n")));
  EXPECT_EQ(slurp("b.ini"), "[s]\r\nk=1\r\n; only a comment\r\n");
  EXPECT_TRUE(wpps("t", "k", "2", put("c.ini", "k=1")));
  EXPECT_EQ(slurp("c.ini"), "k=1\r\n[t]\r\nk=2\r\n");
  EXPECT_EQ(names().size(), 3u);  // no temporary left
}

TEST_F(PrivateProfile, FailedWritesLeaveTheOriginalIntact) {
  const string before = "[s]\r\nk=1\r\n";
  EXPECT_FALSE(wpps("s", "k", "2", win("nodir/a.ini")));
  // Windows' read-only attribute: no write permission at all.
  put("ro.ini", before);
  chmod((dir / "ro.ini").c_str(), 0444);
  EXPECT_FALSE(wpps("s", "k", "2", win("ro.ini")));
  EXPECT_EQ(slurp("ro.ini"), before);
  // A write cut short (here by a file size limit, which binds root as well).
  const string big = before + string(4000, ';') + "\r\n";
  put("big.ini", big);
  rlimit old_limit, limit{2048, 2048};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &limit);
  const BOOL ok = wpps("s", "k", "2", win("big.ini"));
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(ok);
  EXPECT_EQ(slurp("big.ini"), big);
  EXPECT_EQ(names().size(), 2u);  // no temporary left
}

TEST(Win32StandIns, KeyboardClockAndExecutablePath) {
  host::release_all_keys();
  // {key, then down (1), up (0), tapped (2) or left (-1), what the query says}
  const int steps[][3] = {{'A', -1, 0},     {'A', 1, 0x8001}, {'A', -1, 0x8000},     {'A', 1, 0x8000},
                          {'A', 0, 0},      {VK_SHIFT, 2, 1}, {VK_SHIFT, -1, 0},     {256 + 'B', 1, 0},
                          {-1, 1, 0},       {'B', -1, 0},     {0x7fffffff, 1, 0}};
  for (auto [vk, set, want] : steps) {
    if (set == 2) host::set_key(vk, true);
    if (set >= 0) host::set_key(vk, set == 1);
    EXPECT_EQ((u16)GetAsyncKeyState(vk), want) << vk;
  }
  host::set_key('B', true);
  EXPECT_TRUE(key_down('B') && host::key_is_down('B'));
  host::release_all_keys();
  EXPECT_FALSE(key_down('B'));

  host::set_tick(0xfffffff0u);
  host::advance_tick(0x20);
  EXPECT_EQ(GetTickCount(), 0x10u);

  host::set_module_path("Z:\\zephal\\game.exe");  // 18 characters
  char buf[20] = "x";
  EXPECT_EQ(GetModuleFileNameA(nullptr, buf, 0) + GetModuleFileNameA((HMODULE)0x10000000, buf, 20), 0u);
  EXPECT_STREQ(buf, "x");  // a size of 0, another module: nothing written
  EXPECT_EQ(GetModuleFileNameA(nullptr, buf, 19), 18u);
  EXPECT_STREQ(buf, "Z:\\zephal\\game.exe");
  EXPECT_EQ(GetModuleFileNameA(nullptr, buf, 18), 18u);  // cut to the buffer, NUL included
  EXPECT_STREQ(buf, "Z:\\zephal\\game.ex");
}

TEST(Win32StandIns, WindowsPathsFindLinuxFilesWithoutRegardToCase) {
  test::temp_dir t;
  const string dir = t.path, w = host::windows_path(dir);
  std::filesystem::create_directories(dir + "/Game/Tracks");
  test::write_text(dir + "/Game/Tracks/Data.INI", "x");
  EXPECT_EQ(w, "Z:\\tmp\\" + dir.substr(5));
  const std::pair<string, string> cases[] = {
      {"Z:", "/"}, {"z:\\tmp", "/tmp"}, {w + "\\game\\TRACKS\\data.ini", dir + "/Game/Tracks/Data.INI"},
      {w + "/GAME\\\\tracks\\new.ini", dir + "/Game/Tracks/new.ini"}, {w + "\\Game\\", dir + "/Game/"},
      {"C:\\tracks\\DATA.ini", dir + "/Game/Tracks/Data.INI"}, {"c:tracks", dir + "/Game/Tracks"}};
  host::set_drive_root('c', dir + "/Game");
  for (auto &[win, lin] : cases) EXPECT_EQ(host::linux_path(win.c_str()), lin);
  EXPECT_NE(host::linux_path("Q:\\tmp").substr(0, 4), "/tmp");  // no root: no file
}

TEST(Win32StandIns, VirtualAllocGivesZeroedBlocksAndCanBeMadeToFail) {
  const u32 blocks = host::virtual_blocks_live();
  const SIZE_T size = 1 << 20;
  auto alloc = [&] { return (u8 *)VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE); };
  host::fail_virtual_alloc(2);
  EXPECT_TRUE(!alloc() && !alloc());
  for (int i = 0; i < 2; ++i) {  // the second block may reuse the first, dirtied, memory
    u8 *p = alloc();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::count(p, p + size, 0), (ptrdiff_t)size);
    memset(p, 0xab, size);
    EXPECT_FALSE(VirtualFree(p, size, MEM_RELEASE));  // a release names no size
    EXPECT_TRUE(VirtualFree(p, 0, MEM_RELEASE));
    EXPECT_FALSE(VirtualFree(p, 0, MEM_RELEASE));
  }
  EXPECT_EQ(host::virtual_blocks_live(), blocks);
}

}  // namespace
