// The stand-in for the Z9 loader: its half of the host context (the write
// function that patches the game's code and the log it keeps) and the
// loading of a plug-in module: the four exports, the manifest's build check
// against the game, where the module landed, and the call of Z9_Apply. The
// loading itself is the system's part (loader_linux.cpp: dlopen or the
// host's PE loader; on Windows the system's LoadLibraryA, in the simulator's
// platform file); the rest is the same on every system.
//
// The context's functions are plain C functions, as the plug-in calls them,
// so the loader's state is one per process: records and log are kept here
// until loader_reset().
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/types.h"
#include "z9sdk/z9.h"

namespace host {

// One call of the context's write, as the plug-in made it.
struct write_record {
  u32 rva;
  std::vector<u8> bytes;  // the len bytes passed (a copy: the walk's buffer dies with the call)
  const char *name;       // the name pointer as passed, possibly null
  bool written;           // false: write returned 0 and the game was left alone
};

// A context as the loader hands it to Z9_Apply: version 1, the game at
// 0x400000, the given pool (0: none issued), and the two functions below.
z9_ctx loader_context(u32 pool = 0);

// The context's write: patches len bytes at 0x400000 + rva the way a loader
// on Windows does with VirtualProtect. The game's code pages are read and
// execute only; the pages of the site are made writable, written, and put
// back to read and execute. Refuses (0) a site outside the game's code part
// and the call armed by loader_fail_write_at. Every call is recorded.
i32 loader_write(u32 rva, const u8 *bytes, u32 len, const char *name);
// The context's log: one formatted message per call, kept in order.
void loader_log(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Forgets records and log and disarms any failure; calls are counted anew.
void loader_reset();
// The n-th call of write from the last reset (1-based) fails; 0: none.
void loader_fail_write_at(int n);

const std::vector<write_record> &loader_writes();
const std::vector<std::string> &loader_messages();
// The log as the loader's log file would hold it: one message a line.
std::string loader_log_text();
void loader_print_log(FILE *out);

// A loaded plug-in module and what its exports say.
struct z9_module {
  std::string path;
  void *handle = nullptr;
  z9_manifest *manifest = nullptr;
  u32 def_count = 0;
  const z9_def *defs = nullptr;
  u32 (*apply)(const z9_ctx *) = nullptr;
  u32 low = 0, high = 0;  // the address range its segments occupy
};

// The farthest a module may lie and still be reached by a rel32 branch from
// every place of the game's code (the first next-instruction address of the
// game is 0x400005; a little is given away for simplicity).
constexpr u32 rel32_reach_end = 0x80400000;

// The four exports of a loaded module, found by the given lookup, into m;
// false with a plain message in *error ("loader: ...") when one is missing
// or the manifest's abi is not 1.
bool module_exports(const std::string &path, const std::function<void *(const char *)> &symbol, z9_module &m,
                    std::string *error);

// On Linux: a shared object by dlopen (RTLD_NOW), a PE DLL (.z9p or .dll)
// by the host's PE loader, and the four exports; false with a plain message
// in *error ("loader: ...") when the file does not load, an export is
// missing, or the manifest's abi is not 1. Loading the same path again
// yields the same module, with the state it has.
bool load_module(const std::string &path, z9_module &m, std::string *error);
// Where the module landed, in one line, and whether that is within reach.
std::string module_placement(const z9_module &m);
bool module_in_reach(const z9_module &m);
// The manifest's build check: check_hex at 0x400000 + check_rva, over the
// bytes the pattern describes. False with a message when the game differs.
bool module_fits_game(const z9_module &m, std::string *error);

// All of it, as the loader does at game start: load, report the placement,
// refuse a module out of reach or one the game build does not fit, call
// Z9_Apply with ctx. Returns Z9_Apply's result (0 also for any refusal);
// *report gets one line for each step.
u32 load_and_apply(const std::string &path, const z9_ctx &ctx, z9_module &m, std::string *report);
// The same for a module already loaded: from the placement on.
u32 apply_module(const z9_ctx &ctx, const z9_module &m, std::string *report);
// After apply_module: a line for a module out of reach, then one for each
// call of write, the bytes it was given and whether they were written.
void report_writes(const z9_module &m, std::string *report);

}  // namespace host
