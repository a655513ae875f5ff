#pragma once
// Reads a password for the command-line tools: from an environment variable when it is set,
// else from the terminal with echo off, else one line of standard input. Never from the
// command line.

#include <optional>
#include <string>

#include "names/names.h"

namespace rqc::tools {

// The password, without its line end; nullopt when there is none to read (end of input).
// `prompt` goes to stderr, and only when reading from a terminal.
std::optional<std::string> readSecret(const std::string& prompt,
                                      const char* variable = names::kPasswordVariable);

}  // namespace rqc::tools
