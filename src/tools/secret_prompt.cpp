#include "secret_prompt.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace rqc::tools {

std::optional<std::string> readSecret(const std::string& prompt, const char* variable) {
    if (const char* value = variable != nullptr ? std::getenv(variable) : nullptr)
        return std::string(value);
    std::string line;
    if (!::isatty(STDIN_FILENO)) {
        if (!std::getline(std::cin, line))
            return std::nullopt;
    } else {
        termios saved{};
        const bool tty = ::tcgetattr(STDIN_FILENO, &saved) == 0;
        if (tty) {
            termios quiet = saved;
            quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        }
        std::cerr << prompt << std::flush;
        const bool got = static_cast<bool>(std::getline(std::cin, line));
        if (tty)
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cerr << '\n';
        if (!got)
            return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

}  // namespace rqc::tools
