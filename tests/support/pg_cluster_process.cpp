#include "pg_cluster_process.h"

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "haproxy_process.h"

namespace rqc::test {

namespace {

const std::string kScript = RQC_PG_CLUSTER_SCRIPT;

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

}  // namespace rqc::test
