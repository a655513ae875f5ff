#include "haproxy_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace rqc::test {

namespace {

// haproxy from PATH, or from the system folders Debian installs it to (not always on PATH).
std::string binary() {
    std::string dirs = std::getenv("PATH") ? std::getenv("PATH") : "";
    dirs += ":/usr/sbin:/sbin";
    std::stringstream ss(dirs);
    for (std::string dir; std::getline(ss, dir, ':');) {
        const std::string candidate = dir + "/haproxy";
        if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

std::uint16_t freeLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error("no free loopback port");
    }
    ::close(fd);
    return ntohs(a.sin_port);
}

std::string httpGet(std::uint16_t port, const std::string& path) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string out;
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const std::string request = "GET " + path + " HTTP/1.0\r\n\r\n";
        if (::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
            char buf[4096];
            for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
                out.append(buf, static_cast<std::size_t>(n));
        }
    }
    if (fd >= 0)
        ::close(fd);
    return out;
}

namespace {

bool accepts(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

std::string runtimeCommand(const std::filesystem::path& socketPath, const std::string& command) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, socketPath.c_str(), sizeof a.sun_path - 1);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error("cannot reach haproxy's runtime socket " + socketPath.string());
    }
    const std::string line = command + "\n";
    if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        ::close(fd);
        throw std::runtime_error("cannot write to haproxy's runtime socket");
    }
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return out;
}

std::vector<std::string> splitCsv(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream ss(line);
    for (std::string f; std::getline(ss, f, ',');)
        fields.push_back(f);
    return fields;
}

}  // namespace

HaproxyProcess::HaproxyProcess(std::filesystem::path workDir, std::vector<std::uint16_t> backends)
    : m_dir(std::move(workDir)), m_backends(std::move(backends)) {}

HaproxyProcess::HaproxyProcess(std::filesystem::path workDir, std::vector<std::uint16_t> backends,
                               std::vector<std::uint16_t> healthPorts)
    : m_dir(std::move(workDir)),
      m_backends(std::move(backends)),
      m_health(std::move(healthPorts)) {}

HaproxyProcess::~HaproxyProcess() {
    stop();
}

bool HaproxyProcess::installed() {
    return !binary().empty();
}

std::string HaproxyProcess::config() const {
    std::ostringstream c;
    c << "global\n"
      << "    maxconn 4000\n"
      << "    stats socket " << (m_dir / "haproxy.sock").string() << " mode 600 level admin\n"
      << "defaults\n"
      << "    mode tcp\n"
      << "    timeout connect 2s\n"
      << "    timeout client 10m\n"
      << "    timeout server 10m\n"
      << "    timeout check 1s\n"
      << "    retries 3\n"
      << "    option redispatch\n"
      << "frontend rqc\n"
      << "    bind 127.0.0.1:" << m_port << "\n"
      << "    default_backend appservers\n"
      << "backend appservers\n"
      << "    balance roundrobin\n"
      << "    default-server check inter 100ms fall 2 rise 1\n";
    if (!m_health.empty())
        c << "    option httpchk GET /ready\n    http-check expect status 200\n";
    for (std::size_t i = 0; i < m_backends.size(); ++i) {
        c << "    server s" << i + 1 << " 127.0.0.1:" << m_backends[i];
        if (i < m_health.size())
            c << " port " << m_health[i];
        if (m_proxyProtocol)
            c << (i < m_health.size() ? " send-proxy-v2" : " send-proxy-v2 check-send-proxy");
        c << "\n";
    }
    if (m_fallback) {
        c << "    option allbackups\n";
        for (std::size_t i = 0; i < m_backends.size(); ++i) {
            c << "    server s" << i + 1 << "-fallback 127.0.0.1:" << m_backends[i]
              << " backup no-check" << (m_proxyProtocol ? " send-proxy-v2" : "") << "\n";
        }
    }
    return c.str();
}

void HaproxyProcess::start() {
    const auto configPath = m_dir / "haproxy.cfg";
    const auto logPath = m_dir / "haproxy.log";
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = freeLoopbackPort();
        std::ofstream(configPath, std::ios::trunc) << config();
        std::filesystem::remove(m_dir / "haproxy.sock");
        const std::string cfg = configPath.string(), program = binary();
        pid_t pid = ::fork();
        if (pid < 0)
            throw std::runtime_error("fork failed");
        if (pid == 0) {
            int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                ::dup2(fd, 1);
                ::dup2(fd, 2);
                ::close(fd);
            }
            ::execl(program.c_str(), program.c_str(), "-f", cfg.c_str(), "-db",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        m_pid = pid;
        for (int i = 0; i < 500; ++i) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                break;  // most likely the port was taken meanwhile: try another
            }
            if (std::filesystem::exists(m_dir / "haproxy.sock") && accepts(m_port))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        stop();
    }
    throw std::runtime_error("haproxy did not start:\n" + readFile(logPath));
}

void HaproxyProcess::stop() {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    for (int i = 0; i < 500; ++i) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

std::map<std::string, HaproxyProcess::ServerState> HaproxyProcess::servers() const {
    std::istringstream lines(runtimeCommand(m_dir / "haproxy.sock", "show stat"));
    std::string line;
    std::getline(lines, line);
    if (line.rfind("# ", 0) != 0)
        throw std::runtime_error("unexpected answer to 'show stat': " + line);
    const auto header = splitCsv(line.substr(2));
    auto column = [&](const std::string& name) {
        for (std::size_t i = 0; i < header.size(); ++i)
            if (header[i] == name)
                return i;
        throw std::runtime_error("'show stat' has no column " + name);
    };
    const std::size_t px = column("pxname"), sv = column("svname"), scur = column("scur"),
                      stot = column("stot"), status = column("status");
    std::map<std::string, ServerState> out;
    while (std::getline(lines, line)) {
        auto f = splitCsv(line);
        if (f.size() <= std::max({px, sv, scur, stot, status}) || f[px] != "appservers" ||
            f[sv] == "BACKEND")
            continue;
        out[f[sv]] = {f[status], std::stol(f[scur]), std::stol(f[stot])};
    }
    return out;
}

}  // namespace rqc::test
