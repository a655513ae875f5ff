#include "pg_cluster_process.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "command.h"
#include "haproxy_process.h"

namespace rqc::test {

namespace {

const std::string kScript = RQC_PG_CLUSTER_SCRIPT;
const std::string kAutoScript = RQC_PG_AUTOFAILOVER_SCRIPT;

}  // namespace

bool PgClusterProcess::installed() {
    return ::access("/usr/lib/postgresql/15/bin/pg_ctl", X_OK) == 0;
}

PgClusterProcess::PgClusterProcess(Role role) : m_port(freeLoopbackPort()) {
    script(std::string(role == Role::Primary ? "primary " : "start ") + m_dir.path().string() +
           " " + std::to_string(m_port));
    m_running = true;
}

PgClusterProcess::PgClusterProcess(Standby, const PgClusterProcess& primary)
    : m_port(freeLoopbackPort()) {
    script("standby " + m_dir.path().string() + " " + std::to_string(m_port) + " " +
           std::to_string(primary.m_port));
    m_running = true;
}

std::unique_ptr<PgClusterProcess> PgClusterProcess::standbyOf(const PgClusterProcess& primary) {
    return std::unique_ptr<PgClusterProcess>(new PgClusterProcess(Standby{}, primary));
}

PgClusterProcess::~PgClusterProcess() {
    try {
        if (m_running)
            script("stop " + m_dir.path().string());
    } catch (const std::exception&) {
        // Already gone.
    }
}

std::string PgClusterProcess::url() const {
    return "postgresql://postgres@127.0.0.1:" + std::to_string(m_port) + "/postgres";
}

std::string PgClusterProcess::failoverUrl(const PgClusterProcess& a, const PgClusterProcess& b) {
    return "postgresql://postgres@127.0.0.1:" + std::to_string(a.m_port) +
           ",127.0.0.1:" + std::to_string(b.m_port) + "/postgres?target_session_attrs=read-write";
}

void PgClusterProcess::run(const std::string& command) {
    const std::string dir = m_dir.path().string();
    script(command == "start" ? "start " + dir + " " + std::to_string(m_port)
                              : command + " " + dir);
    m_running = command != "stop" && command != "kill";
}

void PgClusterProcess::script(const std::string& args) const {
    const std::string line = "bash " + kScript + " " + args + " >/dev/null";
    if (std::system(line.c_str()) != 0)
        throw std::runtime_error("pg_cluster.sh " + args + " failed (logs in " +
                                 m_dir.path().string() + ")");
}

bool AutoFailoverFormation::installed() {
    return PgClusterProcess::installed() && ::access("/usr/bin/pg_autoctl", X_OK) == 0;
}

AutoFailoverFormation::AutoFailoverFormation() {
    // The postgres user reaches the three folders inside.
    std::filesystem::permissions(m_dir.path(), std::filesystem::perms::owner_all |
                                                   std::filesystem::perms::group_exec |
                                                   std::filesystem::perms::others_exec);
    for (auto& p : m_ports)
        p = freeLoopbackPort();
    std::string monitor = script("monitor " + dir("mon") + " " + std::to_string(m_ports[0]));
    monitor.erase(monitor.find_last_not_of("\n") + 1);
    for (int n = 1; n <= 2; ++n) {
        script("node " + dir("n" + std::to_string(n)) + " " + std::to_string(m_ports[n]) + " '" +
               monitor + "' node" + std::to_string(n));
    }
    waitFor(2, "secondary");
    waitFor(1, "primary");
    m_url = "postgresql://postgres@127.0.0.1:" + std::to_string(m_ports[1]) +
            ",127.0.0.1:" + std::to_string(m_ports[2]) + "/suite?target_session_attrs=read-write";
}

AutoFailoverFormation::~AutoFailoverFormation() {
    for (const char* name : {"n1", "n2", "mon"}) {
        try {
            script("stop " + dir(name));
        } catch (const std::exception&) {
            // Already gone.
        }
    }
}

std::string AutoFailoverFormation::nodeUrl(int n) const {
    return "postgresql://postgres@127.0.0.1:" + std::to_string(m_ports[n]) + "/suite";
}

void AutoFailoverFormation::node(int n, const std::string& command) {
    script(command + " " + dir("n" + std::to_string(n)));
}

void AutoFailoverFormation::waitFor(int n, const std::string& state) {
    script("wait " + dir("mon") + " node" + std::to_string(n) + " " + state);
}

std::string AutoFailoverFormation::dir(const std::string& name) const {
    return (m_dir.path() / name).string();
}

std::string AutoFailoverFormation::script(const std::string& args) const {
    const CommandOutcome r = runCommand("bash " + kAutoScript + " " + args + " 2>&1");
    if (r.exit != 0)
        throw std::runtime_error("pg_autofailover.sh " + args + " failed: " + r.output);
    return r.output;
}

}  // namespace rqc::test
