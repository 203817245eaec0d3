// One run of a command-line program, with what it printed.
#pragma once

#include <string>
#include <vector>

namespace qzhost {

struct CommandResult {
    int startError = 0;  // errno when the program could not be started (ENOENT: not on the PATH)
    int exitCode = -1;   // its exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs argv[0], looked up on the PATH, with stdin from /dev/null, and waits
// for it to end. Signals that arrive meanwhile do not cut the wait short.
CommandResult runCommand(const std::vector<std::string> &argv);

}  // namespace qzhost
