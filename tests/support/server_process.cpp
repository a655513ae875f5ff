#include "server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "names/names.h"
#include "protocol/protocol.h"
#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/operators.h"
#include "suitedb/schema.h"

namespace rqc::test {

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

void ensureTestLogin(const std::string& db) {
    namespace sdb = rqc::suitedb;
    ::setenv("RQC_OPERATOR", sdb::kDemoOperator, 1);
    ::setenv(rqc::names::kPasswordVariable, sdb::kDemoPassword, 1);
    if (!sdb::Connection::isPostgresTarget(db) && !std::filesystem::exists(db))
        return;
    try {
        auto c = sdb::Connection::open(db);
        if (sdb::schemaVersion(*c) != sdb::kSchemaVersion)
            return;
        if (c->query("SELECT 1 FROM OPERADORSENHA WHERE CDOPERADOR = ?",
                     {std::string(sdb::kDemoOperator)})
                ->next())
            return;
        sdb::addOperator(*c, sdb::kDemoOperator, "Operador de teste", sdb::kDemoPassword);
        sdb::grantObject(*c, sdb::kDemoOperator, sdb::kDemoObject);
    } catch (const std::exception&) {
        // The server reports what is wrong with the database.
    }
}

TestClient::TestClient() {
    setLogin(rqc::suitedb::kDemoOperator, rqc::suitedb::kDemoPassword);
}

std::vector<std::byte> testLoginFrame() {
    const auto body =
        rqc::protocol::encodeLogin({rqc::suitedb::kDemoOperator, rqc::suitedb::kDemoPassword});
    std::vector<std::byte> frame;
    rqc::protocol::appendFrameHeader(frame, static_cast<std::uint32_t>(body.size()));
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

std::string ServerProcess::binary(const std::string& name) {
    const char* dir = std::getenv("RQC_BIN_DIR");
    if (dir == nullptr)
        throw std::runtime_error("RQC_BIN_DIR is not set");
    return std::string(dir) + "/" + name;
}

ServerProcess::ServerProcess(Options options) : m_opt(std::move(options)) {
    m_logPath = m_opt.workDir + "/appserver.log";
    m_portFile = m_opt.workDir + "/appserver.port";
}

ServerProcess::~ServerProcess() {
    if (m_pid > 0)
        terminate(std::chrono::seconds(10));
}

std::string ServerProcess::log() const {
    return readFile(m_logPath);
}

void ServerProcess::start() {
    if (m_opt.testLogin)
        ensureTestLogin(m_opt.db);
    ::unlink(m_portFile.c_str());
    std::vector<std::string> args = {
        binary("rqc-appserver"), "--db",    m_opt.db, "--listen", m_opt.listen,
        "--port-file",           m_portFile};
    args.insert(args.end(), m_opt.extraArgs.begin(), m_opt.extraArgs.end());
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        int fd = ::open(m_logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            ::close(fd);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    m_pid = pid;

    auto deadline = std::chrono::steady_clock::now() + m_opt.startTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error("rqc-appserver exited at start:\n" + log());
        }
        std::string text = readFile(m_portFile);
        if (!text.empty() && text.back() == '\n') {
            m_port = static_cast<std::uint16_t>(std::stoi(text));
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill();
    throw std::runtime_error("rqc-appserver did not report its port in time:\n" + log());
}

int ServerProcess::terminate(std::chrono::milliseconds grace) {
    if (m_pid <= 0)
        return -1;
    ::kill(m_pid, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + grace;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill();
    return -1;
}

void ServerProcess::kill() {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

}  // namespace rqc::test
