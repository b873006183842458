// Small things the host's parts share: numbers in hex for their messages,
// and the whole of a file read with a bound on its size.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

namespace host {

// "0x" and the number in upper-case hex digits, as the messages show
// addresses and offsets.
std::string hex(u64 v);

// The whole of the file at path, refused without opening it when it is no
// regular file (a FIFO would block the open) and without reading it when it
// has more than max bytes. False with why in *why, worded to follow the
// file's name: "cannot open it: ...", "it is not a regular file", "it is N
// bytes, more than the ... a module may have".
bool read_bounded(const std::string &path, u64 max, std::vector<u8> &out, std::string *why);

}  // namespace host
