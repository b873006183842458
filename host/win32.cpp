// Large-file interfaces even in this 32-bit build: ext4 hands out 64-bit
// directory offsets, which the 32-bit readdir cannot report under qemu-i386.
#define _FILE_OFFSET_BITS 64

#include "host/win32.h"

#include <dirent.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>

namespace host {
namespace {

std::map<char, std::string> drive_roots = {{'Z', "/"}};
int vm_failures = 0;
std::map<void *, size_t> vm_blocks;

bool exists(const std::string &p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

// The entry of dir whose name equals name without regard to case, or name.
std::string match_case(const std::string &dir, const std::string &name) {
  if (exists(dir + name)) return name;
  DIR *d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return name;
  std::string found = name;
  while (dirent *e = readdir(d)) {
    if (strcasecmp(e->d_name, name.c_str()) == 0) {
      found = e->d_name;
      break;
    }
  }
  closedir(d);
  return found;
}

}  // namespace

void set_drive_root(char drive, const std::string &dir) {
  std::string d = dir;
  if (d.empty() || d.back() != '/') d += '/';
  drive_roots[(char)toupper(drive)] = d;
}

std::string linux_path(const char *wp) {
  std::string p = wp ? wp : "";
  std::string out;
  size_t i = 0;
  if (p.size() >= 2 && p[1] == ':' && isalpha((unsigned char)p[0])) {
    auto root = drive_roots.find((char)toupper(p[0]));
    out = root != drive_roots.end() ? root->second : "/nonexistent-drive/";
    i = 2;
    while (i < p.size() && (p[i] == '\\' || p[i] == '/')) ++i;
  } else if (!p.empty() && (p[0] == '\\' || p[0] == '/')) {
    out = "/";
    i = 1;
  }
  // Walk the components, matching each against the disk without case.
  while (i <= p.size()) {
    size_t j = p.find_first_of("\\/", i);
    if (j == std::string::npos) j = p.size();
    std::string name = p.substr(i, j - i);
    if (!name.empty()) {
      out += match_case(out, name);
      if (j < p.size()) out += '/';
    }
    i = j + 1;
  }
  return out;
}

std::string windows_path(const std::string &lp) {
  std::string out = "Z:";
  std::string abs = lp;
  if (abs.empty() || abs[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof(cwd))) abs = std::string(cwd) + "/" + abs;
  }
  for (char c : abs) out += c == '/' ? '\\' : c;
  return out;
}

void fail_virtual_alloc(int n) { vm_failures = n; }
u32 virtual_blocks_live() { return (u32)vm_blocks.size(); }
u64 virtual_bytes_live() {
  u64 n = 0;
  for (auto &b : vm_blocks) n += b.second;
  return n;
}

}  // namespace host

namespace host::win32 {

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) {
  if (address || size == 0 || (type & (MEM_COMMIT | MEM_RESERVE)) != (MEM_COMMIT | MEM_RESERVE) ||
      protect != PAGE_READWRITE)
    return nullptr;  // only what the plug-in asks for is stood in for
  if (vm_failures > 0) {
    --vm_failures;
    return nullptr;
  }
  void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  vm_blocks[p] = size;  // anonymous pages arrive zero-filled, as committed pages do
  return p;
}

BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD type) {
  auto b = vm_blocks.find(address);
  if (b == vm_blocks.end() || size != 0 || type != MEM_RELEASE) return 0;
  munmap(b->first, b->second);
  vm_blocks.erase(b);
  return 1;
}

}  // namespace host::win32
