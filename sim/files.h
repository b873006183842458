// The simulator's folders and the files it writes in them. Its rule: it
// replaces or deletes only what it made. A zephal.ini is its own when it
// starts with the line zephal-sim writes; a game directory is its own when
// zephal-sim created it (a note file in it says so) or it is the default one
// under out/; the outputs in --out are named after the scenario and their
// column guide is README.txt, replaced only when zephal-sim wrote it.
#pragma once

#include <string>

#include "sim/scenario.h"

namespace sim {

// A folder to work in: created when missing, else it must be a folder and
// writable. False with a message naming the option ("--out DIR: ...").
// *made says the folder was created now.
bool prepare_folder(const std::string &option, const std::string &dir, bool *made, std::string *error);

// The game directory's own note: whether zephal-sim made the folder, and
// marking one it made.
bool game_dir_is_ours(const std::string &dir);
void mark_game_dir(const std::string &dir);

// zephal.ini from the scenario's setting lines. A zephal.ini zephal-sim did
// not write is never touched: a scenario without setting lines plays with it
// (*using_players says so), one with setting lines is refused. False with a
// message for the refusal or a failed write.
bool write_settings(const scenario &s, const std::string &game_dir, bool *using_players, std::string *error);

// README.txt in the output folder: what each file and column is. Not written
// over a README.txt of someone else's (false with a message; the run goes on).
bool write_readme(const std::string &out_dir, const std::string &scenario_name, std::string *error);

// The picture as PNG beside the SVG, by rsvg-convert when it is installed.
// "" when it was made, else why not (for the console).
std::string convert_to_png(const std::string &svg, const std::string &png);

}  // namespace sim
