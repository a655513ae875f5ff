#pragma once
// Benchmark support: an rqc-appserver process on an ephemeral loopback port (stopped by its
// pid), and timing figures.

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/operators.h"
#include "suitedb/schema.h"

namespace rqc::bench {

// Clients of this process log in as the demo operator (RQC_OPERATOR, RQC_PASSWORD); a
// database without its password (a generated set) gets it, with the consolidation object.
inline void ensureBenchLogin(const std::string& db) {
    namespace sdb = rqc::suitedb;
    ::setenv("RQC_OPERATOR", sdb::kDemoOperator, 1);
    ::setenv("RQC_PASSWORD", sdb::kDemoPassword, 1);
    auto c = sdb::Connection::open(db);
    if (sdb::schemaVersion(*c) != sdb::kSchemaVersion ||
        c->query("SELECT 1 FROM OPERADORSENHA WHERE CDOPERADOR = ?",
                 {std::string(sdb::kDemoOperator)})
            ->next())
        return;
    sdb::addOperator(*c, sdb::kDemoOperator, "Operador de teste", sdb::kDemoPassword);
    sdb::grantObject(*c, sdb::kDemoOperator, sdb::kDemoObject);
}

// build/bin, from RQC_BIN_DIR or next to this program's build/bench folder.
inline std::string binDir() {
    if (const char* dir = std::getenv("RQC_BIN_DIR"))
        return dir;
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin")
        .string();
}

class AppServer {
  public:
    AppServer(const std::string& db, const std::filesystem::path& workDir,
              std::vector<std::string> extra = {}) {
        const std::string bin = binDir() + "/rqc-appserver";
        const std::string portFile = (workDir / "appserver.port").string();
        const std::string logFile = (workDir / "appserver.log").string();
        std::filesystem::remove(portFile);
        ensureBenchLogin(db);
        std::vector<std::string> args = {bin,           "--db",        db,      "--listen",
                                         "127.0.0.1:0", "--port-file", portFile};
        args.insert(args.end(), extra.begin(), extra.end());
        m_pid = ::fork();
        if (m_pid < 0)
            throw std::runtime_error("fork failed");
        if (m_pid == 0) {
            if (!std::freopen(logFile.c_str(), "w", stderr))
                ::_exit(126);
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        for (int i = 0; i < 3000 && m_port == 0; ++i) {
            std::ifstream in(portFile);
            int p = 0;
            if (in >> p)
                m_port = static_cast<std::uint16_t>(p);
            int status = 0;
            if (m_port == 0 && ::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                throw std::runtime_error("rqc-appserver exited at start; see " + logFile);
            }
            if (m_port == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (m_port == 0) {
            stop();
            throw std::runtime_error("rqc-appserver did not report its port; see " + logFile);
        }
    }
    ~AppServer() { stop(); }
    AppServer(const AppServer&) = delete;
    AppServer& operator=(const AppServer&) = delete;

    std::uint16_t port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    void stop() {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }

  private:
    pid_t m_pid = -1;
    std::uint16_t m_port = 0;
};

// Median and 99th percentile of durations in microseconds.
struct Spread {
    double median = 0, p99 = 0, min = 0;
};

inline Spread spread(std::vector<double> us) {
    if (us.empty())
        return {};
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)], us.front()};
}

// CPU time (user + system) a process has used so far, in milliseconds (10 ms resolution).
inline double processCpuMs(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    std::size_t pos = line.rfind(')');
    if (pos == std::string::npos)
        return 0;
    std::istringstream fields(line.substr(pos + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i)
        fields >> skip;
    double utime = 0, stime = 0;
    fields >> utime >> stime;
    return (utime + stime) * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

inline double threadCpuMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

template <class F>
double microseconds(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace rqc::bench
