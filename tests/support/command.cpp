#include "command.h"

#include <sys/wait.h>

#include <cstdio>

namespace rqc::test {

CommandOutcome runCommand(const std::string& command) {
    CommandOutcome r;
    FILE* p = ::popen((command + " 2>&1 </dev/null").c_str(), "r");
    if (p == nullptr)
        return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.output.append(buf, n);
    const int status = ::pclose(p);
    r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace rqc::test
