// The PE loader on any bytes, as zephal-sim --check-module takes a file: it
// maps, relocates, binds and reads the loader's tables, or refuses, without
// running any of the module's code. Seeded with the real zephal.z9p.
#include <sstream>

#include "fuzz/check.h"
#include "host/pe_module.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::ostringstream out;
  const int status = host::check_module_bytes("fuzz.z9p", data, size, out);
  FUZZ_CHECK(status == 0 || status == 2, "exit status 0 or 2, not %d", status);
  FUZZ_CHECK(status == 0 || out.str().find("cannot be loaded: ") != std::string::npos, "a reason: %s",
             out.str().c_str());
  return 0;
}
