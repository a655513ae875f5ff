#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace rqc::test {

// A loopback port that was free a moment ago (for servers that cannot report an ephemeral one).
std::uint16_t freeLoopbackPort();
// The whole answer (status line, headers, body) to "GET path HTTP/1.0" on a loopback port;
// empty when nothing listens there.
std::string httpGet(std::uint16_t port, const std::string& path);

// Debian's haproxy in TCP mode on a loopback port in front of the given loopback backends,
// each health-checked every 100 ms (down after 2 failures) by a plain TCP connect, or by the
// server's health answer. The
// configuration, log and runtime socket live in `workDir`; the destructor stops it by its pid.
class HaproxyProcess {
  public:
    struct ServerState {
        std::string status;  // UP, DOWN, ... as haproxy reports it
        long current = 0;    // sessions open now
        long total = 0;      // sessions since start
    };

    HaproxyProcess(std::filesystem::path workDir, std::vector<std::uint16_t> backendPorts);
    // Checked instead by reading "ok" from each backend's health port (same order).
    HaproxyProcess(std::filesystem::path workDir, std::vector<std::uint16_t> backendPorts,
                   std::vector<std::uint16_t> healthPorts);
    ~HaproxyProcess();
    HaproxyProcess(const HaproxyProcess&) = delete;
    HaproxyProcess& operator=(const HaproxyProcess&) = delete;

    // Servers get each connection's client address in a PROXY v2 header (send-proxy-v2); their
    // TCP checks send a LOCAL header. Before start().
    void setProxyProtocol(bool on) { m_proxyProtocol = on; }
    // Every server also as an unchecked backup, as docs/deployment.md sets it: when every check
    // fails (no database), clients still reach a server that says why.
    void setFallback(bool on) { m_fallback = on; }
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
    bool m_fallback = false;
    std::vector<std::uint16_t> m_health;
    std::uint16_t m_port = 0;
    pid_t m_pid = -1;
    bool m_proxyProtocol = false;
};

}  // namespace rqc::test
