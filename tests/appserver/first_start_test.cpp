// A server's first start, as an operator meets it: readiness told to systemd, a database nobody
// can log in to, the demo password off loopback, a TLS key others can read (real processes).

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <asio.hpp>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "server_process.h"
#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"
#include "temp_dir.h"

namespace {

using namespace std::chrono_literals;
namespace sdb = rqc::suitedb;

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// rqc-appserver with `args` (and --port-file), its output in `log`; `notifySocket` becomes its
// NOTIFY_SOCKET. Stopped by its pid.
class Started {
  public:
    Started(const rqc::test::TempDir& dir, std::vector<std::string> args,
            const std::string& notifySocket = "")
        : m_portFile(dir.file("port")), m_log(dir.file("server.log")) {
        std::filesystem::remove(m_portFile);
        args.insert(args.begin(), rqc::test::ServerProcess::binary("rqc-appserver"));
        args.insert(args.end(), {"--port-file", m_portFile});
        m_pid = ::fork();
        if (m_pid == 0) {
            if (!notifySocket.empty())
                ::setenv("NOTIFY_SOCKET", notifySocket.c_str(), 1);
            std::freopen(m_log.c_str(), "w", stderr);
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~Started() { stop(); }

    // Until the server listens (true) or exits (false, exitCode() set), at most 20 s.
    bool waitListening() {
        for (int i = 0; i < 1000; ++i) {
            if (!readFile(m_portFile).empty())
                return true;
            if (::waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
                m_pid = -1;
                return false;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
    std::uint16_t port() const {
        return static_cast<std::uint16_t>(std::stoi(readFile(m_portFile)));
    }
    int exitCode() const { return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1; }
    std::string log() const { return readFile(m_log); }
    void terminate() const { ::kill(m_pid, SIGTERM); }
    int stop() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, &m_status, 0);
            m_pid = -1;
        }
        return exitCode();
    }

  private:
    std::string m_portFile, m_log;
    pid_t m_pid = -1;
    int m_status = -1;
};

std::string schemaOnly(const rqc::test::TempDir& dir) {
    auto c = sdb::Connection::open(dir.file("empty.db"));
    sdb::applySchema(*c);
    return dir.file("empty.db");
}

std::string demo(const rqc::test::TempDir& dir) {
    auto c = sdb::Connection::open(dir.file("demo.db"));
    sdb::createDemoDatabase(*c, sdb::parseIsoDate("2024-03-15"));
    return dir.file("demo.db");
}

}  // namespace

TEST(FirstStart, ReadinessIsToldOnceListeningAndStoppingOnSigterm) {
    rqc::test::TempDir dir;
    const std::string db = demo(dir);
    const std::string path = dir.file("notify");
    const int sock = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    timeval tv{20, 0};
    ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    auto next = [&] {
        char buf[256] = {};
        const ssize_t n = ::recv(sock, buf, sizeof buf - 1, 0);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string("(nothing)");
    };

    Started server(dir, {"--db", db, "--listen", "127.0.0.1:0"}, path);
    EXPECT_EQ(next(), "READY=1");
    // Told ready: the port is known and a connection is accepted.
    ASSERT_TRUE(server.waitListening()) << server.log();
    asio::io_context io;
    asio::ip::tcp::socket probe(io);
    asio::error_code ec;
    probe.connect({asio::ip::make_address("127.0.0.1"), server.port()}, ec);
    EXPECT_FALSE(ec) << ec.message();
    probe.close();
    server.terminate();
    EXPECT_EQ(next(), "STOPPING=1");
    EXPECT_EQ(server.stop(), 0) << server.log();
    ::close(sock);
}

TEST(FirstStart, EmptyOrUnsafeSetupsAreToldOrRefused) {
    rqc::test::TempDir dir;
    ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost "
                           "-keyout " +
                           dir.file("key.pem") + " -out " + dir.file("cert.pem") + " 2>/dev/null")
                              .c_str()),
              0);
    ::chmod(dir.file("key.pem").c_str(), 0600);
    std::filesystem::copy_file(dir.file("key.pem"), dir.file("open.pem"));
    ::chmod(dir.file("open.pem").c_str(), 0644);
    const std::vector<std::string> tls = {"--tls-cert", dir.file("cert.pem"), "--tls-key",
                                          dir.file("key.pem")};
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exitCode;  // -1: it runs
        std::string message;
    };
    const std::string empty = schemaOnly(dir), demoDb = demo(dir);
    std::vector<Case> cases = {
        {"nobody can log in",
         {"--db", empty, "--listen", "127.0.0.1:0"},
         -1,
         "Nenhum operador pode fazer login em " + empty},
        {"demo password on loopback",
         {"--db", demoDb, "--listen", "127.0.0.1:0"},
         -1,
         "listening on 127.0.0.1"},
        {"demo password on every address",
         {"--db", demoDb, "--listen", "0.0.0.0:0"},
         1,
         "ainda tem(têm) a senha de demonstração"},
        {"a key others can read",
         {"--db", empty, "--listen", "127.0.0.1:0", "--tls-cert", dir.file("cert.pem"), "--tls-key",
          dir.file("open.pem")},
         2,
         "chmod 600 " + dir.file("open.pem")},
        {"the default database missing",
         {"--listen", "127.0.0.1:0"},
         1,
         "rqc-suitedb init --db var/rqc.db"},
    };
    cases[2].args.insert(cases[2].args.end(), tls.begin(), tls.end());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto cwd = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());  // no var/rqc.db here
        Started server(dir, c.args);
        const bool listening = server.waitListening();
        std::filesystem::current_path(cwd);
        EXPECT_EQ(listening, c.exitCode == -1);
        if (!listening) {
            EXPECT_EQ(server.exitCode(), c.exitCode);
        }
        server.stop();
        EXPECT_NE(server.log().find(c.message), std::string::npos) << server.log();
    }
}
