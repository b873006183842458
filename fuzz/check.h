// What the fuzz drivers share: a failed expectation prints what was expected
// and stops the process, which libFuzzer keeps as a crash input and the
// corpus replay turns into a failed test.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond, ...)                                          \
  do {                                                                 \
    if (!(cond)) {                                                     \
      fprintf(stderr, "%s:%d: expected %s: ", __FILE__, __LINE__, #cond); \
      fprintf(stderr, __VA_ARGS__);                                    \
      fputc('\n', stderr);                                             \
      abort();                                                         \
    }                                                                  \
  } while (0)
