// What a run says to the person who ran it: the summary, one line per
// feature of the plug-in in a player's words with the numbers that show it
// worked, and notes to log lines whose wording needs one.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "sim/replay_model.h"
#include "sim/scenario.h"
#include "sim/trace.h"

namespace sim {

// (feature, what happened), in the order a player meets them.
std::vector<std::pair<std::string, std::string>> summary(const scenario &s, const game &g, const recorder &rec);

// A note to print after one of the plug-in's log lines, or "".
std::string log_note(const std::string &line);

}  // namespace sim
