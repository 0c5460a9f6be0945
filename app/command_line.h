#pragma once

#include <optional>

// The program has no options of its own but --help (-h) and --version; every option of the toolkit
// passes through to it. Runs before the toolkit starts, which without a display could not even
// print the help. Yields the exit status when the program is to end at once (help, version, or a
// command line that is wrong, which it explains on stderr), nothing when the window is to open.
std::optional<int> CheckCommandLine(int argc, const char *const argv[]);
