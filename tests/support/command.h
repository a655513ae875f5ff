#pragma once

#include <string>

namespace rqc::test {

struct CommandOutcome {
    int exit = -1;       // the exit status; -1 when the command did not exit by itself
    std::string output;  // stdout and stderr
};

// Runs `command` through the shell with standard input from /dev/null, to its end.
CommandOutcome runCommand(const std::string& command);

}  // namespace rqc::test
