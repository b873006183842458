// The plug-in's log lines as events: each line the recorder makes sense of
// is known by its fixed wording (its numbers aside).
#pragma once

#include <string>

#include "sim/trace.h"

namespace sim {

// A log line read: ok when it is one of the lines below, with its kind and
// numbers as event carries them.
struct log_event {
  bool ok = false;
  event_kind kind{};
  i32 a = 0, b = 0;
};

// One of the plug-in's log lines: binds, car changes, teleports, the camera
// key, rewinds and seeks that found no snapshot, presets saved, empty or
// refused, the snapshot ring.
log_event parse_line(const std::string &line);

// The free camera's commands in the order one camera update runs them (-1
// for the frame handler's lines): two lines of a frame with the order not
// rising come from two cameras.
int command_order(event_kind k);

}  // namespace sim
