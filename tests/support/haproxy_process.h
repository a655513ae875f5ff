#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace rqc::test {

// Debian's haproxy in TCP mode on a loopback port in front of the given loopback backends,
// each health-checked by a plain TCP connect every 100 ms (down after 2 failures). The
// configuration, log and runtime socket live in `workDir`; the destructor stops it by its pid.
class HaproxyProcess {
  public:
    struct ServerState {
        std::string status;  // UP, DOWN, ... as haproxy reports it
        long current = 0;    // sessions open now
        long total = 0;      // sessions since start
    };

    HaproxyProcess(std::filesystem::path workDir, std::vector<std::uint16_t> backendPorts);
    ~HaproxyProcess();
    HaproxyProcess(const HaproxyProcess&) = delete;
    HaproxyProcess& operator=(const HaproxyProcess&) = delete;

    static bool installed();
    void start();  // throws std::runtime_error with haproxy's output when it does not come up
    void stop();
    std::uint16_t port() const { return m_port; }

    // Backend servers by name ("s1" for the first port given, "s2", ...), from the runtime API.
    std::map<std::string, ServerState> servers() const;
    std::string config() const;

  private:
    std::filesystem::path m_dir;
    std::vector<std::uint16_t> m_backends;
    std::uint16_t m_port = 0;
    pid_t m_pid = -1;
};

}  // namespace rqc::test
