// What the fuzz drivers share: a failed expectation prints what was expected
// and stops the process, which libFuzzer keeps as a crash input and the
// corpus replay turns into a failed test; the files of the drivers that go
// through the profile functions live in one folder for the process.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "tests/kit/kit.h"

#define FUZZ_CHECK(cond, ...)                                          \
  do {                                                                 \
    if (!(cond)) {                                                     \
      fprintf(stderr, "%s:%d: expected %s: ", __FILE__, __LINE__, #cond); \
      fprintf(stderr, __VA_ARGS__);                                    \
      fputc('\n', stderr);                                             \
      abort();                                                         \
    }                                                                  \
  } while (0)

namespace fuzz {
inline const kit::temp_dir &folder() {
  static const kit::temp_dir dir("zephal-fuzz");
  return dir;
}
}  // namespace fuzz
