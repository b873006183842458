// Paths as the players' tools need them. The profile functions want a full
// Windows path: on Windows a bare name would be looked for in the Windows
// folder, not the current one, and on Linux the host's profile functions
// take Windows paths and map them onto the disk.
#pragma once

#include <string>

namespace tools {

// The path to hand to GetPrivateProfile*/WritePrivateProfileString for a
// file the player named on the command line.
std::string profile_path(const std::string &path);

// The folder the running tool lies in, with a trailing separator, or "".
std::string program_dir();

// Reads a whole file the player named into out, if it holds at most most
// bytes: read_ok; read_too_big (what is left in out is no use) when it
// holds more; read_failed with error naming the file and the reason when it
// cannot be opened or read.
enum read_result { read_ok, read_failed, read_too_big };
read_result read_file(const std::string &path, size_t most, std::string &out, std::string &error);

// Reads a small text file the player named (a settings file, a preset
// text) into out, at most a megabyte: false with error naming the file and
// the reason; what is a megabyte or more is refused as "no WHAT".
bool read_small_file(const std::string &path, const char *what, std::string &out, std::string &error);

// Whether a file or folder exists at path.
bool exists(const std::string &path);

// "" when path can be written (or created, when it does not exist yet), else
// why not, in words.
std::string why_not_writable(const std::string &path);

}  // namespace tools
