// What the simulator needs of the system it runs on, and nothing else: the
// game's memory at its linked addresses, the loading of the plug-in as the
// Z9 loader does it, the world the plug-in sees through Windows (the
// keyboard, the clock and the game executable's path) and the Win32 call
// log. The scenario, the game model, the trace, the picture and the report
// are the same on every system; each system has its own file behind this
// one (platform_linux.cpp: the Linux host of host/; platform_windows.cpp:
// Windows' own loader and functions, the game in the program's own image).
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

namespace sim::platform {

// The game's memory at its linked addresses, as freshly loaded (the game's
// code without any patch). False, with a message on stderr, when the range
// is taken.
bool reset_game();

// The plug-in module loaded, its build check made against the game and its
// definitions applied, as the loader does at game start. *report gets the
// loader's report, a line each, with every write it made to the game's code.
// Returns Z9_Apply's result: 0 when the plug-in was not applied.
u32 load_plugin(const std::string &path, std::string *report);
// The lines the plug-in logged since the last forget_plugin_log().
const std::vector<std::string> &plugin_log();
void forget_plugin_log();

// The world: keys held down, the clock behind GetTickCount in milliseconds,
// and the game executable's path as GetModuleFileNameA reports it.
void set_key(int vk, bool down);
bool key_is_down(int vk);
void set_clock(u32 ms);
void set_game_path(const std::string &windows_path);
// The Windows name of a folder or file of this system.
std::string windows_path(const std::string &path);

// The Win32 call log (see the usage text) into path, from now until
// stop_call_log.
bool start_call_log(const std::string &path, std::string *error);
bool stop_call_log(std::string *error);

// zephal-sim --check-module: the exit status, after what it printed.
int check_module(const std::string &path);

// zephal-sim --write-game-exe: the stand-in game as the file of a Windows
// executable, with its code where the game's build has it (the players'
// check tool's input).
std::vector<u8> game_executable();

// Where a run finds the plug-in, and makes its game directory (sim-game)
// and outputs (sim), unless told otherwise.
std::string default_module();
std::string default_out_dir();

// A program found on the PATH, run with the arguments (argv[0] its name)
// until it ends: its exit status, 127 when it is not there, -1 when it
// did not end normally.
int run_program(const std::vector<std::string> &argv);

}  // namespace sim::platform
