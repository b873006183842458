// The corpus replay: runs every file of the folders (or the files) named on
// the command line through one fuzz driver, built with the normal compiler.
// A folder that does not exist counts as empty (a driver may have no crash
// inputs yet); running nothing at all is a failure.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "tests/kit/kit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
  namespace fs = std::filesystem;
  size_t inputs = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<fs::path> files;
    std::error_code ec;
    if (fs::is_directory(argv[i], ec)) {
      for (const auto &e : fs::directory_iterator(argv[i]))
        if (e.is_regular_file()) files.push_back(e.path());
    } else if (fs::exists(argv[i], ec)) {
      files.push_back(argv[i]);
    }
    std::sort(files.begin(), files.end());
    for (const fs::path &f : files) {
      const std::string bytes = kit::read_text(f);
      fprintf(stderr, "%s\n", f.c_str());  // the input being run, should it fail
      LLVMFuzzerTestOneInput((const uint8_t *)bytes.data(), bytes.size());
      ++inputs;
    }
  }
  printf("fuzz replay: %zu inputs, all held\n", inputs);
  return inputs ? 0 : 1;
}
