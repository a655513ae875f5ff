#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "temp_dir.h"

namespace rqc::test {

// A PostgreSQL cluster of its own (tests/pg_cluster.sh) in a temporary folder on a free
// loopback port: plain, or a primary waiting for a synchronous standby made by standbyOf().
// The destructor stops it by its pid.
class PgClusterProcess {
  public:
    enum class Role { Plain, Primary };

    explicit PgClusterProcess(Role role = Role::Plain);  // throws std::runtime_error
    ~PgClusterProcess();
    PgClusterProcess(const PgClusterProcess&) = delete;
    PgClusterProcess& operator=(const PgClusterProcess&) = delete;

    // Returns once the standby replicates from `primary` synchronously.
    static std::unique_ptr<PgClusterProcess> standbyOf(const PgClusterProcess& primary);
    static bool installed();

    std::uint16_t port() const { return m_port; }
    std::string url() const;  // the maintenance database as superuser
    // libpq's multi-host form naming both, the primary first, finding the one that writes.
    static std::string failoverUrl(const PgClusterProcess& a, const PgClusterProcess& b);

    // One of pg_cluster.sh's commands on this cluster: "kill", "promote", "restart", "stop";
    // "start" starts it again. Throws std::runtime_error when the command fails.
    void run(const std::string& command);

  private:
    struct Standby {};
    PgClusterProcess(Standby, const PgClusterProcess& primary);
    void script(const std::string& args) const;

    TempDir m_dir;
    std::uint16_t m_port = 0;
    bool m_running = false;
};

// A pg_auto_failover formation (tests/pg_autofailover.sh) in a temporary folder: a monitor and
// two nodes on free loopback ports, node1 the primary. The destructor stops all three.
class AutoFailoverFormation {
  public:
    AutoFailoverFormation();  // throws std::runtime_error
    ~AutoFailoverFormation();
    AutoFailoverFormation(const AutoFailoverFormation&) = delete;
    AutoFailoverFormation& operator=(const AutoFailoverFormation&) = delete;

    static bool installed();
    // The monitor's multi-host URL of the formation, as superuser.
    const std::string& url() const { return m_url; }
    // The URL of node `n` (1 or 2) alone.
    std::string nodeUrl(int n) const;
    // "kill" (the node's machine lost) or "run" (its keeper started again) on node `n`.
    void node(int n, const std::string& command);
    // Returns once node `n` reports `state` ("primary", "secondary"); throws after a minute.
    void waitFor(int n, const std::string& state);

  private:
    std::string script(const std::string& args) const;
    std::string dir(const std::string& name) const;

    TempDir m_dir;
    std::uint16_t m_ports[3] = {};  // monitor, node1, node2
    std::string m_url;
};

}  // namespace rqc::test
