// rqc-appserver: serves Rqc04100.rdmConsolidaSolicita over TCP.

#include <fcntl.h>
#include <grp.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/sink.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <asio/ip/address.hpp>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "appserver/dispatcher.h"
#include "appserver/health_listener.h"
#include "appserver/log_event.h"
#include "appserver/metrics.h"
#include "appserver/object_registry.h"
#include "appserver/rdm_consolida_solicita.h"
#include "appserver/server.h"
#include "appserver/server_config.h"
#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/operators.h"
#include "suitedb/redact.h"
#include "suitedb/schema.h"

namespace {

using namespace rqc::appserver;
namespace fs = std::filesystem;

// The database target as logged: every password hidden.
std::string shownTarget(const std::string& target) {
    return rqc::suitedb::redactTarget(target);
}

// Opens the database once so that a bad target fails at start; a missing file is an error (the
// server never creates a database, nor operators).
std::unique_ptr<rqc::suitedb::Connection> prepareDatabase(const ServerConfig& config) {
    using rqc::suitedb::Connection;
    if (!Connection::isPostgresTarget(config.db) && !fs::exists(config.db)) {
        throw std::runtime_error("database file '" + config.db +
                                 "' does not exist; create it with rqc-suitedb init --db " +
                                 config.db + " --empty (or --demo for the demo data)");
    }
    auto db = Connection::open(config.db);
    const int version = rqc::suitedb::schemaVersion(*db);
    const std::string needs = std::to_string(rqc::suitedb::kSchemaVersion);
    if (version == 0) {
        throw ConfigError(
            "the database has no suite schema (create it with rqc-suitedb "
            "init --db " +
            shownTarget(config.db) + ")");
    }
    if (version < rqc::suitedb::kSchemaVersion) {
        throw ConfigError("the database has schema version " + std::to_string(version) +
                          ", older than version " + needs +
                          " this server needs; upgrade it with rqc-suitedb migrate --db " +
                          shownTarget(config.db));
    }
    if (version > rqc::suitedb::kSchemaVersion) {
        throw ConfigError("the database has schema version " + std::to_string(version) +
                          ", newer than version " + needs +
                          " this server knows; use a "
                          "newer server");
    }
    return db;
}

// Who can log in: a warning when nobody can; refused (false) when the listener is reachable from
// other machines while an operator still has the published demo password.
bool checkOperators(const ServerConfig& config, rqc::suitedb::Connection& db) {
    namespace sdb = rqc::suitedb;
    if (sdb::listOperators(db).empty()) {
        spdlog::warn("{}", sdb::firstOperatorHint(shownTarget(config.db)));
        return true;
    }
    std::error_code ec;
    if (asio::ip::make_address(config.host, ec).is_loopback() && !ec)
        return true;
    const std::vector<std::string> demo = sdb::operatorsWithPassword(db, sdb::kDemoPassword);
    if (demo.empty())
        return true;
    std::string codes, commands;
    for (const auto& code : demo) {
        codes += (codes.empty() ? "" : ", ") + code;
        commands += "\n  rqc-suitedb operator passwd --db " +
                    sdb::shellWord(shownTarget(config.db)) + " " + code;
    }
    spdlog::critical(
        "recusado escutar em {}: o(s) operador(es) {} ainda tem(têm) a senha de demonstração, "
        "publicada; troque-a antes de abrir o servidor a outras máquinas:{}",
        config.host, codes, commands);
    return false;
}

// A TLS key anyone on the machine can read is no secret: refused with the command that fixes it.
void checkKeyFile(const ServerConfig& config) {
    struct stat st {};
    if (config.tlsKey.empty() || ::stat(config.tlsKey.c_str(), &st) != 0)
        return;  // loading the key reports a missing file
    if ((st.st_mode & (S_IROTH | S_IWOTH)) != 0) {
        // The documented ownership: root writes the key, the server's group only reads it.
        const group* g = ::getgrgid(::getegid());
        const std::string serverGroup = g != nullptr ? g->gr_name : std::to_string(::getegid());
        throw std::runtime_error("a chave TLS '" + config.tlsKey +
                                 "' pode ser lida por outros usuários desta máquina; corrija com: "
                                 "chown root:" +
                                 serverGroup + " " + config.tlsKey + " && chmod 640 " +
                                 config.tlsKey);
    }
}

// Log lines formatted by the calling thread, outside any lock, then appended to one shared
// in-memory buffer, written to a file descriptor in large writes: when the buffer fills (the
// caller that fills it writes it), at every flush (periodic, on warnings, at stop) and on
// destruction. No thread is woken per line.
class BufferedFdSink final : public spdlog::sinks::sink {
  public:
    BufferedFdSink(int fd, bool owned)
        : m_fd(fd), m_owned(owned), m_formatter(std::make_unique<spdlog::pattern_formatter>()) {
        m_buffer.reserve(kCapacity + 4096);
    }
    ~BufferedFdSink() override {
        writeOut();
        if (m_owned)
            ::close(m_fd);
    }

    // Each thread formats its lines with its own copy of the formatter, outside the lock;
    // the lock covers only appending the finished line.
    void log(const spdlog::details::log_msg& msg) override {
        struct Local {
            const BufferedFdSink* sink = nullptr;
            std::uint64_t generation = 0;
            std::unique_ptr<spdlog::formatter> formatter;
            spdlog::memory_buf_t line;
        };
        thread_local Local local;
        if (local.sink != this || local.generation != m_generation.load()) {
            std::lock_guard lock(m_mutex);
            local.formatter = m_formatter->clone();
            local.sink = this;
            local.generation = m_generation.load();
        }
        local.line.clear();
        local.formatter->format(msg, local.line);
        std::lock_guard lock(m_mutex);
        m_buffer.append(local.line.data(), local.line.data() + local.line.size());
        if (m_buffer.size() >= kCapacity)
            writeOut();
    }
    void flush() override {
        std::lock_guard lock(m_mutex);
        writeOut();
    }
    void set_pattern(const std::string& pattern) override {
        set_formatter(std::make_unique<spdlog::pattern_formatter>(pattern));
    }
    void set_formatter(std::unique_ptr<spdlog::formatter> formatter) override {
        std::lock_guard lock(m_mutex);
        m_formatter = std::move(formatter);
        ++m_generation;
    }

  private:
    static constexpr std::size_t kCapacity = 64 * 1024;

    void writeOut() {
        std::size_t done = 0;
        while (done < m_buffer.size()) {
            ssize_t n = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;  // nowhere to write: the lines are dropped rather than block the server
            done += static_cast<std::size_t>(n);
        }
        m_buffer.clear();
    }

    int m_fd;
    bool m_owned;
    std::mutex m_mutex;
    std::unique_ptr<spdlog::formatter> m_formatter;
    std::atomic<std::uint64_t> m_generation{1};
    spdlog::memory_buf_t m_buffer;
};

// Sets up the default logger on the buffered sink, flushed every second and at once for
// warnings and errors. The returned guard writes everything out on exit.
struct LogGuard {
    LogGuard() = default;
    LogGuard(const LogGuard&) = delete;
    LogGuard& operator=(const LogGuard&) = delete;
    ~LogGuard() {
        if (auto logger = spdlog::default_logger())
            logger->flush();
        spdlog::shutdown();
    }
};

std::unique_ptr<LogGuard> setUpLogging(const ServerConfig& config) {
    int fd = STDERR_FILENO;
    if (!config.logFile.empty()) {
        fd = ::open(config.logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
        if (fd < 0) {
            throw ConfigError("cannot open log file '" + config.logFile +
                              "': " + std::strerror(errno));
        }
    }
    auto sink = std::make_shared<BufferedFdSink>(fd, fd != STDERR_FILENO);
    auto logger = std::make_shared<spdlog::logger>("rqc-appserver", std::move(sink));
    auto guard = std::make_unique<LogGuard>();
    spdlog::set_default_logger(logger);
    if (config.logFormat == "json")
        spdlog::set_formatter(rqc::appserver::makeJsonFormatter());
    else
        spdlog::set_pattern("%Y-%m-%d %H:%M:%S.%e %l %v");
    spdlog::set_level(spdlog::level::from_str(config.logLevel));
    spdlog::flush_on(spdlog::level::warn);
    spdlog::flush_every(std::chrono::seconds(1));
    return guard;
}

void writePortFile(const std::string& path, std::uint16_t port) {
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << port << '\n';
        if (!out.flush())
            throw std::runtime_error("cannot write port file '" + temp + "'");
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec)
        throw std::runtime_error("cannot write port file '" + path + "': " + ec.message());
}

}  // namespace

int main(int argc, char** argv) {
    ServerConfig config;
    try {
        std::string help;
        if (!parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), config, help)) {
            std::cout << help;
            return 0;
        }
    } catch (const ConfigError& e) {
        std::cerr << "rqc-appserver: " << e.what() << '\n';
        return 2;
    }

    std::unique_ptr<LogGuard> logGuard;
    try {
        logGuard = setUpLogging(config);
    } catch (const ConfigError& e) {
        std::cerr << "rqc-appserver: " << e.what() << '\n';
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);

    try {
        auto db = prepareDatabase(config);
        if (!checkOperators(config, *db))
            return 2;  // a configuration to change: restarting would not help
    } catch (const ConfigError& e) {
        // A schema this server cannot serve: only a migration (or another server) helps.
        spdlog::critical("cannot use database {}: {}", shownTarget(config.db), e.what());
        return 2;
    } catch (const std::exception& e) {
        spdlog::critical("cannot use database {}: {}", shownTarget(config.db), e.what());
        return 1;
    }
    try {
        checkKeyFile(config);
    } catch (const std::exception& e) {
        spdlog::critical("{}", e.what());
        return 2;
    }

    ObjectRegistry registry;
    registerRdmConsolidaSolicita(registry);
    Dispatcher dispatcher(registry);
    // Counted only when someone may read them: until metrics-listen is set, nothing is.
    std::unique_ptr<Metrics> metricsOn;
    if (!config.metricsHost.empty()) {
        std::vector<std::string> methods = registry.methodNames();
        methods.push_back(std::string(kSessionObject) + "." + kChangePassword);
        metricsOn = std::make_unique<Metrics>(methods, RQC_VERSION);
        metricsOn->schemaVersion(rqc::suitedb::kSchemaVersion);
        installMetrics(metricsOn.get());
    }
    try {
        Server server(config, dispatcher);
        spdlog::info("listening on {}:{} ({}, {} threads, database {})", config.host, server.port(),
                     config.usesTls() ? "TLS" : "plain TCP", config.threads,
                     shownTarget(config.db));
        // After the server, so that they stop before it goes: liveness and the samplers of
        // the metrics ask it.
        std::unique_ptr<HealthListener> health;
        if (!config.healthHost.empty()) {
            health = std::make_unique<HealthListener>(
                config.healthHost, config.healthPort,
                HealthListener::Routes{
                    .db = config.db,
                    .alive = [&server] { return server.responsive(std::chrono::seconds(1)); },
                    .metrics = {}});
            health->start();
            spdlog::info("health checks on {}:{} (GET /live, GET /ready)", config.healthHost,
                         health->port());
        }
        std::unique_ptr<HealthListener> metricsListener;
        if (metricsOn) {
            metricsListener = std::make_unique<HealthListener>(
                config.metricsHost, config.metricsPort,
                HealthListener::Routes{.db = {}, .alive = {}, .metrics = [&metricsOn] {
                                           return metricsOn->scrape();
                                       }});
            metricsListener->start();
            spdlog::info("metrics on http://{}:{}/metrics", config.metricsHost,
                         metricsListener->port());
        }
        if (!config.portFile.empty())
            writePortFile(config.portFile, server.port());
        // systemd (Type=notify): ready once listening with the database reachable and a
        // SIGTERM handled as a stop.
        server.onStarted([] { sd_notify(0, "READY=1"); });
        server.onStopping([] { sd_notify(0, "STOPPING=1"); });
        if (!server.run()) {
            // A worker is stuck in a call: leave without destroying what it uses.
            spdlog::critical("stopped with a call still running");
            logGuard.reset();
            std::_Exit(1);
        }
    } catch (const std::exception& e) {
        spdlog::critical("{}", e.what());
        return 1;
    }
    spdlog::info("stopped");
    return 0;
}
