// The profile calls against files that are not what they should be: a FIFO
// or a folder in the profile's place, a huge file, files with a byte-order
// mark, and writes killed half way. Each gets Windows' answer for a file it
// cannot open, or the Unicode handling Windows has, and no file is left
// behind or lost.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <regex>

#include "tests/win32/profile.h"

namespace {

namespace fs = std::filesystem;
using std::string;

struct profile_faults : test::profile_dir {
  // A profile call that does not come back is a failure, not a stuck suite.
  void SetUp() override { alarm(60); }
  void TearDown() override { alarm(0); }
};
using test::gpps, test::wpps;

TEST_F(profile_faults, WhatCannotBeOpenedReadsAsMissingAndIsNeverWritten) {
  mkfifo((dir / "fifo.ini").c_str(), 0644);
  fs::create_directory(dir / "folder.ini");
  // A sparse 1.5 GB file, and one just past the bound with the key at its top.
  const int fd = open((dir / "huge.ini").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(write(fd, "[s]\r\nk=1\r\n", 10), 10);
  ASSERT_EQ(ftruncate(fd, 1536ll << 20), 0);
  close(fd);
  test::write_text(dir / "big.ini", "[s]\r\nk=1\r\n" + string((1 << 20) - 9, ';'));
  test::write_text(dir / "fits.ini", "[s]\r\nk=1\r\n" + string((1 << 20) - 10, ';'));
  const auto start = std::chrono::steady_clock::now();
  for (const char *name : {"fifo.ini", "folder.ini", "huge.ini", "big.ini"}) {
    SCOPED_TRACE(name);
    const string f = win(name);
    EXPECT_EQ(gpps("s", "k", f), "7,default");
    EXPECT_EQ(gpps(nullptr, nullptr, f), "7,default");
    EXPECT_EQ(GetPrivateProfileIntA("s", "k", 7, f.c_str()), 7u);
    EXPECT_FALSE(wpps("s", "k", "2", f));
  }
  EXPECT_EQ(gpps("s", "k", win("fits.ini")), "1,1");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));  // no 1.5 GB read
  EXPECT_TRUE(fs::is_fifo(dir / "fifo.ini"));
  EXPECT_TRUE(fs::is_empty(dir / "folder.ini"));
  EXPECT_EQ(fs::file_size(dir / "huge.ini"), 1536ull << 20);
  EXPECT_EQ(fs::file_size(dir / "big.ini"), (1u << 20) + 1);
  EXPECT_EQ(names(), (std::vector<string>{"big.ini", "fifo.ini", "fits.ini", "folder.ini", "huge.ini"}));
}

TEST_F(profile_faults, AUtf16LeFileIsReadAndWrittenInItsEncodingAndOtherMarksAreAnsiBytes) {
  // é is 0xE9 in code page 1252, Ǆ is not in it.
  using test::utf16;
  const string text = "[Sec]\r\nk=v\xc3\xa9l\r\n; \xc7\x84\r\n[\xc7\x84]\r\nx=1\r\n";
  const string more = "[Sec]\r\nk=v\xc3\xa9l\r\nn=\xc3\xa9\xe2\x82\xac\r\n; \xc7\x84\r\n[\xc7\x84]\r\nx=1\r\n";
  const string f = put("a.ini", utf16(text, true));
  EXPECT_EQ(gpps("sec", "K", f), "3,v\xe9l");  // as code page 1252 shows it
  char list[64];
  EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", list, sizeof list, f.c_str()), 6u);
  EXPECT_EQ(string(list, 6), string("Sec\0?\0", 6));
  EXPECT_TRUE(wpps("Sec", "n", "\xe9\x80", f));  // é€ in code page 1252
  EXPECT_EQ(slurp("a.ini"), utf16(more, true));
  // Windows knows no other mark: a UTF-8 mark hides the header on its line,
  // a UTF-16BE file has no section; a write adds one at the end, in ANSI.
  for (const string &other : {"\xef\xbb\xbf" + text, utf16(text, false)}) {
    EXPECT_EQ(gpps("sec", "k", put("b.ini", other)), "7,default");
    EXPECT_TRUE(wpps("Sec", "n", "1", win("b.ini")));
    EXPECT_EQ(slurp("b.ini"), other + "[Sec]\r\nn=1\r\n");
  }
  // A file of just the UTF-16LE mark becomes a Unicode profile; a file
  // written anew is ANSI, without a mark.
  EXPECT_TRUE(wpps("s", "k", "1", put("u.ini", "\xff\xfe")));
  EXPECT_EQ(slurp("u.ini"), utf16("[s]\r\nk=1\r\n", true));
  EXPECT_TRUE(wpps("s", "k", "\xe9", win("new.ini")));
  EXPECT_EQ(slurp("new.ini"), "[s]\r\nk=\xe9\r\n");
  // Halves of UTF-16 pairs alone and an odd last byte survive an edit elsewhere.
  const string odd = utf16("[s]\r\nk=1\r\n", true) + string("\x00\xd8\x41\x00\x0d\x00\x0a\x00\x7a", 9);
  EXPECT_TRUE(wpps("s", "k", "2", put("odd.ini", odd)));
  string want = odd;
  want[16] = '2';
  EXPECT_EQ(slurp("odd.ini"), want);
}

TEST_F(profile_faults, AWriteKilledHalfWayLeavesTheOldOrNewFileAndTheNextWriteCleansUp) {
  const string f = win("freecam.ini");
  // Every state the writes go through is whole: the header, then lines of
  // a key and eight hex digits, each with its line end (or nothing yet).
  const std::regex complete("(\\[Pos1\\]\r\n(\\w+=[0-9A-F]{8}\r\n)*)?");
  std::mt19937 rng(7);
  int interrupted = 0;
  for (int kill_no = 0; kill_no < 30; ++kill_no) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      char v[16];
      for (u32 i = 0;; ++i) {
        snprintf(v, sizeof v, "%08X", i);
        wpps("Pos1", "first", v, f);
        for (int k = 0; k < 20; ++k)
          wpps("Pos1", ("m" + std::to_string(k)).c_str(), v, f);
        wpps("Pos1", "last", v, f);
      }
    }
    usleep(std::uniform_int_distribution<int>(2000, 40000)(rng));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(std::regex_match(slurp("freecam.ini"), complete)) << kill_no;
    interrupted += fs::exists(dir / ".freecam.ini.zephal-new");
    // The next write takes the leftover over.
    EXPECT_TRUE(wpps("Pos1", "used", "00000001", f));
    EXPECT_EQ(names(), std::vector<string>{"freecam.ini"}) << kill_no;
  }
  RecordProperty("writes_interrupted", interrupted);
}

TEST_F(profile_faults, TheTemporaryNameIsNeverWrittenThroughALinkOrAFolder) {
  test::write_text(dir / "a.ini", "[s]\r\nk=1\r\n");
  test::write_text(dir / "victim", "mine");
  fs::create_symlink(dir / "victim", dir / ".a.ini.zephal-new");
  EXPECT_FALSE(wpps("s", "k", "2", win("a.ini")));
  fs::remove(dir / ".a.ini.zephal-new");
  fs::create_directory(dir / ".a.ini.zephal-new");
  EXPECT_FALSE(wpps("s", "k", "2", win("a.ini")));
  EXPECT_EQ(slurp("victim"), "mine");
  EXPECT_EQ(slurp("a.ini"), "[s]\r\nk=1\r\n");
}

}  // namespace
