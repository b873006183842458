// What the players' tools share around their own work: the program's name
// on its error lines, --help and --version, a wrong command line, and the
// end of main, which keeps a console window of its own open on Windows.
#pragma once

#include <string>

namespace tools {

struct program {
  const char *name;   // "zephal-check": the first word of every error line
  const char *usage;  // the --help text, also shown for a command line that names nothing to do
  int (*run)(int argc, char **argv);  // the tool's work: its exit status
};

// Runs the tool and returns its exit status; main returns it.
int run_program(const program &p, int argc, char **argv);

// "NAME: message" on stderr, for a file that cannot be read or a command
// line that is wrong: returns 2, the tools' status for both.
int fail(const std::string &message);

// Answers --help (also -h and /?) and --version: true, with the status to
// exit with, when arg was one of them.
bool help_or_version(const std::string &arg, int &status);

// The usage on stderr, for a command line that names nothing to do: 2.
int usage_error();

}  // namespace tools
