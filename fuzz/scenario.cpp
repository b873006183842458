// The scenario parser on any text: it answers with a scenario or with a
// message that says where the trouble is, and a scenario it accepts keeps
// within the limits the format sets.
#include "fuzz/check.h"
#include "sim/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  sim::scenario sc;
  std::string error;
  if (!sim::parse_scenario_text(std::string((const char *)data, size), "fuzz.scenario", sc, &error)) {
    FUZZ_CHECK(error.rfind("fuzz.scenario", 0) == 0, "the message names the file: %s", error.c_str());
    return 0;
  }
  FUZZ_CHECK(sc.cars <= sim::max_cars && sc.marks <= sim::max_marks && sc.camera <= 8, "set-up within limits");
  u32 frame = 0;
  for (const sim::action &a : sc.timeline) {
    FUZZ_CHECK(a.frame < sc.frames && a.frame >= frame, "line %d: frame %u in order and below %u", a.line, a.frame,
               sc.frames);
    frame = a.frame;
  }
  return 0;
}
