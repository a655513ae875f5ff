#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/client.h"

namespace rqc::test {

// Makes the clients of this process and of its children log in as the demo operator
// (RQC_OPERATOR, RQC_PASSWORD), giving it a password and the consolidation object in `db`
// when the database is at the current schema without it. start() calls it.
void ensureTestLogin(const std::string& db);
// A client that logs in as that operator at every connect, as the programs log theirs in.
class TestClient : public rqc::protocol::Client {
  public:
    TestClient();
};

// A whole frame (header and body) logging in as that operator: what a raw-socket client sends
// first; the answer is a text result with the operator's code.
std::vector<std::byte> testLoginFrame();

// A real rqc-appserver process (from RQC_BIN_DIR) on an ephemeral loopback port.
// start() returns once the server has written its port; the destructor stops it by its pid
// (SIGTERM, then SIGKILL after a grace period) and reaps it.
class ServerProcess {
  public:
    struct Options {
        std::string db;                      // SQLite path or PostgreSQL URL
        std::string workDir;                 // port file and log go here
        std::vector<std::string> extraArgs;  // e.g. {"--threads", "8"}
        std::chrono::seconds startTimeout{30};
        std::string listen = "127.0.0.1:0";  // a fixed port brings a server back on the same one
        bool testLogin = true;               // false: the database's operators as they are
    };

    explicit ServerProcess(Options options);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    void start();  // throws std::runtime_error with the log's tail on failure
    std::uint16_t port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    bool running() const { return m_pid > 0; }
    const std::string& logPath() const { return m_logPath; }
    std::string log() const;  // the whole log so far

    // Sends SIGTERM and waits up to `grace` for the exit; returns the exit status as
    // waitpid reports it (or -1 when the process had to be killed).
    int terminate(std::chrono::milliseconds grace = std::chrono::seconds(20));
    void kill();  // SIGKILL and reap

    static std::string binary(const std::string& name);  // RQC_BIN_DIR/name

  private:
    Options m_opt;
    pid_t m_pid = -1;
    std::uint16_t m_port = 0;
    std::string m_logPath;
    std::string m_portFile;
};

}  // namespace rqc::test
