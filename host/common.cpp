#include "host/common.h"

#include <cstdio>

namespace host {

std::string hex(u64 v) {
  char b[24];
  snprintf(b, sizeof b, "0x%llX", (unsigned long long)v);
  return b;
}

}  // namespace host
