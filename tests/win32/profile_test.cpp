// The private-profile calls on real files in a temporary folder, checked
// against what Windows returns and writes, byte for byte.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <tuple>

#include "host/win32.h"

namespace {

namespace fs = std::filesystem;
using std::string;

struct profile : testing::Test {
  string dir;
  void SetUp() override {
    char tmpl[] = "/tmp/zephal-profile-XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    dir = tmpl;
  }
  void TearDown() override {
    system(("chattr -R -i " + dir + " 2>/dev/null").c_str());
    fs::remove_all(dir);
  }
  string win(const string &name) { return host::windows_path(dir + "/" + name); }
  string put(const string &name, const string &bytes) {
    std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
    return win(name);
  }
  string slurp(const string &name) {
    std::ifstream in(dir + "/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::set<string> entries() {
    std::set<string> names;
    for (auto &e : fs::directory_iterator(dir)) names.insert(e.path().filename());
    return names;
  }
};

// "ret,text": the return value and the buffer as a C string, or as its
// first ret + extra bytes when extra is given (lists, untouched buffers).
string gpps(const char *app, const char *key, const char *def, DWORD n, const string &f, int extra = -1) {
  char buf[300];
  memset(buf, 0x0c, sizeof buf);
  DWORD r = GetPrivateProfileStringA(app, key, def, buf, n, f.c_str());
  return std::to_string(r) + "," + (extra < 0 ? string(buf) : string(buf, r + extra));
}
string gpps(const char *app, const char *key, const string &f) { return gpps(app, key, "default", 100, f); }

TEST_F(profile, ValuesAreFoundAsWindowsFindsThem) {
  struct row { string file; const char *app, *key, *want; } rows[] = {
      {"[section1]\r\nname1=val1\r\n", "section1", "NaMe1", "4,val1"},
      {"[section1]\r\nname1=val1\r\n", "SECTION1", "name1", "4,val1"},
      {"[ s1 ]\r\nk=v\r\n", "s1", "k", "1,v"},
      {"[s]\r\n  key  =  value  \r\n", "  s ", "  key ", "5,value"},
      {"[s]\r\nk=\"val2\"\r\n", "s", "k", "4,val2"},
      {"[s]\r\nk='val'\r\n", "s", "k", "3,val"},
      {"[s]\r\nk = ' x'\r\n", "s", "k", "2, x"},
      {"[s]\r\nk=''x''\r\n", "s", "k", "3,'x'"},
      {"[s]\r\nk=\"abc'\r\n", "s", "k", "5,\"abc'"},
      {"[s]\r\nk=\"\r\n", "s", "k", "1,\""},
      {"[s]\r\n;k=1\r\nk=2\r\n", "s", "k", "1,2"},
      {"[s]\r\n  ;k=1\r\n", "s", ";k", "7,default"},
      {"[s]\r\nname3\r\n", "s", "name3", "7,default"},
      {"[s]\r\nname2=\r\n", "s", "name2", "0,"},
      {"[s]\r\nk=1\r\nk=2\r\n", "s", "k", "1,1"},
      {"[s]\r\na=1\r\n[s]\r\nb=2\r\n", "s", "b", "7,default"},
      {"[s]\r\nk=a=b\r\n", "s", "k", "3,a=b"},
      {"k=outside\r\n[s]\r\n", "s", "k", "7,default"},
      {"[s] trailing\r\nk=1\r\n[t]\r\nk=2\r\n", "t", "k", "1,2"},
      {"[s]\nk=lf\n[t]\nk=2\n", "s", "k", "2,lf"},
      {"[s]\rk=cr\r[t]\rk=2\r", "t", "k", "1,2"},
      {"[s]\r\nk=last", "s", "k", "4,last"},
      {"[section1]\r\nname1=val1\r\n", "section1", "", "7,default"},
      {"[section1]\r\nname1=val1\r\n", "", "name1", "7,default"},
      {"[section1]\r\nname1=val1\r\n", "nosection", "name1", "7,default"},
      {"[section1]\r\nname1=val1\r\n", "section1", "nokey", "7,default"},
  };
  for (const row &r : rows) EXPECT_EQ(gpps(r.app, r.key, put("a.ini", r.file)), r.want) << r.file;
}

TEST_F(profile, DefaultsAndTruncation) {
  string f = put("a.ini", "[section1]\r\nname1=val1\r\nname4=a\r\n");
  EXPECT_EQ(gpps("section1", "x", nullptr, 100, f), "0,");
  EXPECT_EQ(gpps("section1", "x", "default  ", 100, f), "7,default");
  EXPECT_EQ(gpps("section1", "x", "one two  ", 100, f), "7,one two");
  EXPECT_EQ(gpps("section1", "name1", "d", 4, f), "3,val");
  EXPECT_EQ(gpps("section1", "name1", "d", 5, f), "4,val1");
  EXPECT_EQ(gpps("section1", "name4", "d", 1, f), "0,");
  EXPECT_EQ(gpps("section1", "name1", "d", 0, f, 1), "0,\x0c");  // buffer untouched
  EXPECT_EQ(gpps("section1", "x", "default", 4, f), "3,def");
  // No file, a missing folder, no name, a folder in place of the file.
  for (string missing : {win("none.ini"), win("nodir/a.ini"), string(), win("")})
    EXPECT_EQ(gpps("section1", "name1", missing), "7,default") << missing;
  char buf[16];
  EXPECT_EQ(GetPrivateProfileStringA("section1", "name1", "default", buf, 16, nullptr), 7u);
}

TEST_F(profile, ListsOfKeysAndSections) {
  string f = put("a.ini", "[section1]\r\nname1=val1\r\nname2=\"val2\"\r\nname3\r\nname4=a\r\n"
                          "=nameless\r\n[section2]\r\n");
  using namespace std::string_literals;
  EXPECT_EQ(gpps("section1", nullptr, "", 100, f, 1), "18,name1\0name2\0name4\0\0"s);
  EXPECT_EQ(gpps("section1", nullptr, "default", 16, f, 2), "14,name1\0name2\0na\0\0"s);
  EXPECT_EQ(gpps(nullptr, "name1", "default", 100, f, 1), "18,section1\0section2\0\0"s);
  EXPECT_EQ(gpps(nullptr, "name1", "default", 16, f, 2), "14,section1\0secti\0\0"s);
  // Exactly fitting is reported as cut, with the names whole.
  EXPECT_EQ(gpps(nullptr, nullptr, "", 28, put("b.ini", "[section1]\r\n[section2]\r\n[section3]\r\n"), 2),
            "26,section1\0section2\0section3\0\0"s);
  EXPECT_EQ(gpps(nullptr, nullptr, "", 29, win("b.ini"), 1), "27,section1\0section2\0section3\0\0"s);
  EXPECT_EQ(gpps("section2", nullptr, "default", 100, f), "7,default");
  EXPECT_EQ(gpps("nosection", nullptr, "", 100, f), "0,");
}

TEST_F(profile, IntegersAsWindowsConvertsThem) {
  struct row { const char *value; int def; u32 want; } rows[] = {
      {"1", -1, 1},  {"+1", -1, 1},  {"-1", 1, 0xffffffff},
      {"4294967296", -1, 0}, {"4294967297", -1, 1}, {"-4294967297", 1, 0xffffffff},
      {"42A94967297", -1, 42}, {"B4294967297", -1, 0}, {"   42", -1, 42},
      {"\"7\"", -1, 7}, {"- 5", -1, 0}, {"", 7, 7}, {"\"\"", 7, 7},
      {"0x1A", -1, 26}, {"0X1A", -1, 0}, {"-2147483648", 0, 0x80000000},
  };
  for (const row &r : rows) {
    string f = put("a.ini", string("[Test]\r\nProfileInt=") + r.value + "\r\n");
    EXPECT_EQ(GetPrivateProfileIntA("test", "PROFILEINT", r.def, f.c_str()), r.want) << r.value;
  }
  string f = win("a.ini");
  EXPECT_EQ(GetPrivateProfileIntA("Test", "other", -1, f.c_str()), 0xffffffffu);
  EXPECT_EQ(GetPrivateProfileIntA("Other", "ProfileInt", 1, f.c_str()), 1u);
  EXPECT_EQ(GetPrivateProfileIntA("Test", "ProfileInt", 5, win("none.ini").c_str()), 5u);
}

TEST_F(profile, EveryReadSeesTheFileAsItIsNow) {
  string f = put("a.ini", "[Test]\nProfileInt=123\n");
  EXPECT_EQ(GetPrivateProfileIntA("Test", "ProfileInt", 0, f.c_str()), 123u);
  put("a.ini", "[Test]\nProfileInt=124\n");
  EXPECT_EQ(GetPrivateProfileIntA("Test", "ProfileInt", 0, f.c_str()), 124u);
  fs::remove(dir + "/a.ini");
  EXPECT_EQ(GetPrivateProfileIntA("Test", "ProfileInt", 421, f.c_str()), 421u);
}

TEST_F(profile, WritesBuildAndShrinkAFileAsWindowsDoes) {
  string f = win("a.ini");
  auto wp = [&](const char *a, const char *k, const char *v) {
    return WritePrivateProfileStringA(a, k, v, f.c_str());
  };
  EXPECT_TRUE(wp("App", "key", ""));
  EXPECT_EQ(slurp("a.ini"), "[App]\r\nkey=\r\n");
  fs::remove(dir + "/a.ini");
  for (auto [a, k, v] : {std::tuple{"App1", "key1", "string1"}, {"App1", "key2", "string2"},
                         {"App1", "key3", "string3"}, {"App2", "key4", "string4"}, {"App3", "key5", "string5"}})
    EXPECT_TRUE(wp(a, k, v));
  EXPECT_EQ(slurp("a.ini"), "[App1]\r\nkey1=string1\r\nkey2=string2\r\nkey3=string3\r\n"
                            "[App2]\r\nkey4=string4\r\n[App3]\r\nkey5=string5\r\n");
  EXPECT_TRUE(wp("App1", "key2", nullptr));
  EXPECT_TRUE(wp("app1", "KEY2", nullptr));
  EXPECT_EQ(slurp("a.ini"), "[App1]\r\nkey1=string1\r\nkey3=string3\r\n"
                            "[App2]\r\nkey4=string4\r\n[App3]\r\nkey5=string5\r\n");
  EXPECT_TRUE(wp("App1", nullptr, "string1"));
  EXPECT_TRUE(wp("App2", nullptr, nullptr));
  EXPECT_TRUE(wp("App3", "key5", nullptr));
  EXPECT_EQ(slurp("a.ini"), "[App3]\r\n");
  EXPECT_FALSE(wp(nullptr, "key", "string"));
  EXPECT_EQ(slurp("a.ini"), "[App3]\r\n");
  // Deleting from a file that is not there leaves an empty file.
  EXPECT_TRUE(WritePrivateProfileStringA("App", "key", nullptr, win("b.ini").c_str()));
  EXPECT_TRUE(WritePrivateProfileStringA("App", nullptr, nullptr, win("c.ini").c_str()));
  EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "key", "v", win("d.ini").c_str()));
  EXPECT_FALSE(WritePrivateProfileStringA("App", "key", "v", ""));
  EXPECT_EQ(entries(), (std::set<string>{"a.ini", "b.ini", "c.ini"}));
  EXPECT_EQ(fs::file_size(dir + "/b.ini") + fs::file_size(dir + "/c.ini"), 0u);
}

TEST_F(profile, WritesChangeOnlyTheirOwnLine) {
  using namespace std::string_literals;
  const string head = "; settings\r\n\r\n[Sec]\n  Key = 1 ; old\n\n;tail comment\r\n";
  const string rest = "[other]\rk=v\r\n\r\n";
  string f = put("a.ini", head + rest);
  EXPECT_TRUE(WritePrivateProfileStringA("SEC", "KEY", "  2", f.c_str()));
  EXPECT_EQ(slurp("a.ini"), "; settings\r\n\r\n[Sec]\nKey=2\n\n;tail comment\r\n" + rest);
  EXPECT_TRUE(WritePrivateProfileStringA("Sec", "new", "3", f.c_str()));
  EXPECT_EQ(slurp("a.ini"), "; settings\r\n\r\n[Sec]\nKey=2\nnew=3\r\n\n;tail comment\r\n" + rest);
  EXPECT_TRUE(WritePrivateProfileStringA("Sec", nullptr, nullptr, f.c_str()));
  EXPECT_EQ(slurp("a.ini"), "; settings\r\n\r\n" + rest);
  // A section without keys takes the key under its header; a file that does
  // not end in a line end gets one before a new section.
  f = put("b.ini", "[s]\r\n; only a comment\r\n");
  EXPECT_TRUE(WritePrivateProfileStringA("s", "k", "1", f.c_str()));
  EXPECT_EQ(slurp("b.ini"), "[s]\r\nk=1\r\n; only a comment\r\n");
  const string odd = "Data \0 before \0 first \0 section"s;
  put("c.ini", odd);
  f = win("C.INI");  // the file on disk, whatever the case of its name
  EXPECT_TRUE(WritePrivateProfileStringA("section1", "key1", "string1", f.c_str()));
  EXPECT_EQ(slurp("c.ini"), odd + "\r\n[section1]\r\nkey1=string1\r\n");
  EXPECT_EQ(gpps("section1", "key1", f), "7,string1");
  EXPECT_EQ(entries(), (std::set<string>{"a.ini", "b.ini", "c.ini"}));  // no temporary left
}

TEST_F(profile, FailedWritesLeaveTheOriginalIntact) {
  const string before = "[s]\r\nk=1\r\n";
  EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "2", win("nodir/a.ini").c_str()));
  put("plain", "x");
  EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "2", win("plain/a.ini").c_str()));
  EXPECT_EQ(entries(), (std::set<string>{"plain"}));

  // Windows' read-only attribute: no write permission at all.
  string f = put("ro.ini", before);
  chmod((dir + "/ro.ini").c_str(), 0444);
  EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "2", f.c_str()));
  EXPECT_EQ(slurp("ro.ini"), before);
  // Permissions survive a rewrite.
  f = put("rw.ini", before);
  chmod((dir + "/rw.ini").c_str(), 0640);
  EXPECT_TRUE(WritePrivateProfileStringA("s", "k", "2", f.c_str()));
  EXPECT_EQ(fs::status(dir + "/rw.ini").permissions(), fs::perms(0640));

  // A write cut short (here by a file size limit, which binds root as well).
  f = put("big.ini", before + string(4000, ';') + "\r\n");
  const string big = slurp("big.ini");
  rlimit old_limit, limit{2048, 2048};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &limit);
  BOOL ok = WritePrivateProfileStringA("s", "k", "2", f.c_str());
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(ok);
  EXPECT_EQ(slurp("big.ini"), big);
  EXPECT_EQ(entries(), (std::set<string>{"plain", "ro.ini", "rw.ini", "big.ini"}));

  // A folder nobody may write into, not even root.
  fs::create_directory(dir + "/locked");
  f = put("locked/a.ini", before);
  if (system(("chattr +i " + dir + "/locked 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "chattr +i is not available here";
  EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "2", f.c_str()));
  EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "2", win("locked/new.ini").c_str()));
  EXPECT_EQ(slurp("locked/a.ini"), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/locked"), fs::directory_iterator()), 1);
}

}  // namespace
