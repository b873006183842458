// The host's stand-ins for the keyboard, the clock, the executable's path,
// virtual memory and the mapping of Windows paths onto Linux files.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "host/win32.h"

namespace {

namespace fs = std::filesystem;
using std::string;

u16 keystate(int vk) { return (u16)GetAsyncKeyState(vk); }

TEST(host_keyboard, DownBitWhileHeldPressedBitOncePerQuery) {
  host::release_all_keys();
  EXPECT_EQ(keystate('A'), 0);
  host::set_key('A', true);
  EXPECT_EQ(keystate('A'), 0x8001);
  EXPECT_EQ(keystate('A'), 0x8000);
  host::set_key('A', true);  // still held: no new press
  EXPECT_EQ(keystate('A'), 0x8000);
  host::set_key('A', false);
  EXPECT_EQ(keystate('A'), 0);
  // A tap between two queries is remembered as a press though the key is up.
  host::set_key(VK_SHIFT, true);
  host::set_key(VK_SHIFT, false);
  EXPECT_EQ(keystate(VK_SHIFT), 0x0001);
  EXPECT_EQ(keystate(VK_SHIFT), 0);
  // Codes outside 0..255 are never down and do not alias real keys.
  host::set_key(256 + 'B', true);
  host::set_key(-1, true);
  EXPECT_FALSE(key_down('B'));
  EXPECT_EQ(keystate(256 + 'B') | keystate(-1) | keystate(0x7fffffff), 0);
  host::set_key('B', true);
  EXPECT_TRUE(key_down('B') && host::key_is_down('B'));
  host::release_all_keys();
  EXPECT_EQ(keystate('B'), 0);
}

TEST(host_clock, TickCountWrapsAt32Bits) {
  host::set_tick(0xfffffff0u);
  EXPECT_EQ(GetTickCount(), 0xfffffff0u);
  host::advance_tick(0x20);
  EXPECT_EQ(GetTickCount(), 0x10u);
}

TEST(host_module, FileNameIsCutToTheBufferAndReportsItsSize) {
  host::set_module_path("Z:\\zephal\\game.exe");  // 18 characters
  char buf[32];
  EXPECT_EQ(GetModuleFileNameA(nullptr, buf, sizeof buf), 18u);
  EXPECT_STREQ(buf, "Z:\\zephal\\game.exe");
  EXPECT_EQ(GetModuleFileNameA(nullptr, buf, 19), 18u);
  EXPECT_EQ(GetModuleFileNameA(nullptr, buf, 18), 18u);
  EXPECT_STREQ(buf, "Z:\\zephal\\game.ex");
  memset(buf, 'x', sizeof buf);
  EXPECT_EQ(GetModuleFileNameA(nullptr, buf, 0), 0u);
  EXPECT_EQ(buf[0], 'x');
  EXPECT_EQ(GetModuleFileNameA((HMODULE)0x10000000, buf, sizeof buf), 0u);
}

TEST(host_paths, WindowsPathsFindLinuxFilesWithoutRegardToCase) {
  char tmpl[] = "/tmp/zephal-paths-XXXXXX";
  ASSERT_TRUE(mkdtemp(tmpl));
  const string dir = tmpl;
  fs::create_directories(dir + "/Game/Tracks");
  std::ofstream(dir + "/Game/Tracks/Data.INI") << "x";

  EXPECT_EQ(host::linux_path("Z:"), "/");
  EXPECT_EQ(host::linux_path("z:\\tmp"), "/tmp");
  const string w = host::windows_path(dir);
  EXPECT_EQ(w, "Z:\\tmp\\" + dir.substr(5));
  EXPECT_EQ(host::linux_path((w + "\\game\\TRACKS\\data.ini").c_str()), dir + "/Game/Tracks/Data.INI");
  EXPECT_EQ(host::linux_path((w + "/GAME\\\\tracks\\new.ini").c_str()), dir + "/Game/Tracks/new.ini");
  EXPECT_EQ(host::linux_path((w + "\\Game\\").c_str()), dir + "/Game/");

  host::set_drive_root('c', dir + "/Game");
  EXPECT_EQ(host::linux_path("C:\\tracks\\DATA.ini"), dir + "/Game/Tracks/Data.INI");
  EXPECT_EQ(host::linux_path("c:tracks"), dir + "/Game/Tracks");
  EXPECT_NE(host::linux_path("Q:\\tmp").substr(0, 4), "/tmp");  // no root: no file

  // A relative path is taken from the current folder, both ways.
  char cwd[4096];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  ASSERT_EQ(chdir(dir.c_str()), 0);
  EXPECT_EQ(host::linux_path("game\\tracks"), "Game/Tracks");
  EXPECT_EQ(host::windows_path("Game"), w + "\\Game");
  ASSERT_EQ(chdir(cwd), 0);
  fs::remove_all(dir);
}

TEST(host_memory, VirtualAllocGivesZeroedBlocksAndCanBeMadeToFail) {
  const u32 blocks = host::virtual_blocks_live();
  const u64 bytes = host::virtual_bytes_live();
  const SIZE_T size = 1 << 20;
  auto alloc = [&] { return (u8 *)VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE); };

  u8 *p = alloc();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(host::virtual_blocks_live(), blocks + 1);
  EXPECT_EQ(host::virtual_bytes_live(), bytes + size);
  EXPECT_EQ(std::count(p, p + size, 0), (ptrdiff_t)size);
  memset(p, 0xab, size);
  EXPECT_FALSE(VirtualFree(p, size, MEM_RELEASE));  // a release names no size
  EXPECT_TRUE(VirtualFree(p, 0, MEM_RELEASE));
  EXPECT_FALSE(VirtualFree(p, 0, MEM_RELEASE));
  EXPECT_EQ(host::virtual_blocks_live(), blocks);

  host::fail_virtual_alloc(2);
  EXPECT_EQ(alloc(), nullptr);
  EXPECT_EQ(alloc(), nullptr);
  p = alloc();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::count(p, p + size, 0), (ptrdiff_t)size);
  EXPECT_TRUE(VirtualFree(p, 0, MEM_RELEASE));
  EXPECT_EQ(host::virtual_bytes_live(), bytes);
}

}  // namespace
