// The Win32 call log: one line for each Win32 or msvcrt function the plug-in
// calls through the host, in call order, with its arguments as the plug-in
// passed them and what the call gave back. It is how a modder sees what the
// plug-in asks of Windows, and how two builds of the plug-in are shown to
// behave alike: the same scenario gives the same log.
//
// A line reads NAME(ARG, ...) = RESULT. Strings are quoted (with \\, \" and
// \xNN for bytes outside printable ASCII), numbers are in hex. Pointers are
// named so that two runs compare: a game address as it is, a block of
// VirtualAlloc's as vmN+OFFSET (N counting the blocks from 1), a place in a
// PE module as module+OFFSET, and any other (the plug-in's stack or data) as
// "buffer". What a call writes into a buffer follows its result.
#pragma once

#include <cstdio>
#include <string>

#include "host/common.h"
#include "platform/types.h"

namespace host {

// Starts the log into path (created anew); false with a message when it
// cannot be written. call_log_stop() flushes and closes it.
bool call_log_start(const std::string &path, std::string *error);
bool call_log_stop(std::string *error);
// Whether a log is being written (the functions skip all formatting else).
bool call_log_on();

// Where a loaded PE module lies, for naming pointers into it (0, 0: none).
void call_log_module(u32 low, u32 high);

// The pieces of a line (numbers: host::hex).
std::string log_string(const char *s);                 // quoted, or 0 for a null pointer
std::string log_bytes(const void *p, size_t n);        // quoted, n bytes
std::string log_pointer(const void *p);

// Writes one line: name(args) = result.
void call_log_line(const char *name, const std::string &args, const std::string &result);

// VirtualAlloc's blocks are numbered as they are handed out.
void call_log_block(const void *base, u32 size);
void call_log_block_gone(const void *base);

}  // namespace host
