#include "server_config.h"

#include <CLI/CLI.hpp>
#include <asio/ip/address.hpp>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <map>
#include <thread>

namespace rqc::appserver {

namespace {

constexpr unsigned kMaxThreads = 256;
constexpr std::uint64_t kMinFrame = 1024;
constexpr std::uint64_t kMaxFrame = 1024ull * 1024 * 1024;
// Every key, as a file key and as a --option, with its help text.
const std::pair<const char*, const char*> kSettings[] = {
    {"db", "SQLite file or PostgreSQL URL (default var/rqc.db; rqc-suitedb init creates it)"},
    {"listen", "HOST:PORT to listen on (default 127.0.0.1:4100; port 0: ephemeral)"},
    {"threads", "worker threads, each with its own database connection"},
    {"max-frame", "largest request accepted and answer sent, in bytes (default 64M)"},
    {"log-level", "trace, debug, info, warn, error, critical or off (default info)"},
    {"log-file", "file the log is appended to (default stderr)"},
    {"port-file", "file that receives the bound port once the server listens"},
    {"max-connections", "open connections at once; the next is refused (default 1000)"},
    {"max-per-peer", "open connections from one client address (default 64)"},
    {"idle-timeout", "closes a connection idle this long (default 10m; N, Ns, Nms, Nm)"},
    {"read-timeout", "closes a started request when no byte arrives for this long (default 30s)"},
    {"write-timeout",
     "closes a connection that takes no byte of its answer for this long (default 30s)"},
    {"stop-timeout", "SIGTERM waits this long for calls under way (default 30s)"},
    {"tls-cert", "PEM certificate chain of the server; connections run over TLS"},
    {"tls-key", "PEM private key of tls-cert"},
    {"trusted-proxies",
     "balancer addresses or networks (10.0.0.0/24, 127.0.0.1) whose connections start with "
     "a PROXY v2 header naming the client"},
    {"login-timeout", "a connection must log in within this of its accept (default 10s)"},
    {"max-unauthenticated",
     "connections not logged in yet, at once (default a quarter of max-connections)"},
    {"max-unauthenticated-per-peer",
     "connections not logged in yet from one client address (default 32)"},
    {"write-wait",
     "longest wait for the SQLite write turn; a longer one is refused at once (default 2m)"},
    {"health-listen",
     "HOST:PORT answering GET /live, GET /ready, and a connection that asks nothing 'ok' or "
     "'database unreachable' (default: none)"},
    {"metrics-listen", "HOST:PORT answering GET /metrics in Prometheus's format (default: off)"},
    {"log-format", "text or json (one JSON object per line) (default text)"},
};
const char* const kLevels[] = {"trace", "debug", "info", "warn", "error", "critical", "off"};

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool parseUnsigned(std::string_view s, std::uint64_t& out) {
    if (s.empty())
        return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
}

void setListen(std::string_view key, std::string_view value, std::string& outHost,
               std::uint16_t& outPort) {
    const std::string shown(value);
    auto colon = value.rfind(':');
    if (colon == std::string_view::npos) {
        throw ConfigError(std::string(key) + " must be HOST:PORT, not '" + shown + "'");
    }
    std::string host(value.substr(0, colon));
    std::string_view portText = value.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    if (host == "localhost")
        host = "127.0.0.1";
    asio::error_code ec;
    asio::ip::make_address(host, ec);
    if (host.empty() || ec) {
        throw ConfigError(std::string(key) + " address '" + host + "' in '" + shown +
                          "' is not an IP address");
    }
    std::uint64_t port = 0;
    if (!parseUnsigned(portText, port) || port > 65535) {
        throw ConfigError(std::string(key) + " port '" + std::string(portText) + "' in '" + shown +
                          "' is not a number from 0 to 65535");
    }
    outHost = host;
    outPort = static_cast<std::uint16_t>(port);
}

void setMaxFrame(ServerConfig& config, std::string_view value) {
    std::string_view digits = value;
    std::uint64_t unit = 1;
    if (!digits.empty() && (digits.back() == 'K' || digits.back() == 'M')) {
        unit = digits.back() == 'K' ? 1024 : 1024 * 1024;
        digits.remove_suffix(1);
    }
    std::uint64_t n = 0;
    if (!parseUnsigned(digits, n) || n > kMaxFrame || n * unit < kMinFrame ||
        n * unit > kMaxFrame) {
        throw ConfigError(
            "max-frame must be a byte count from 1024 to 1073741824 (suffix K or "
            "M allowed), not '" +
            std::string(value) + "'");
    }
    config.maxFrame = static_cast<std::uint32_t>(n * unit);
}

// "N" seconds, "Ns", "Nms" or "Nm"; at least 1 ms, at most a day.
std::chrono::milliseconds parseDuration(std::string_view key, std::string_view value) {
    std::string_view digits = value;
    std::uint64_t unit = 1000;
    if (digits.ends_with("ms")) {
        unit = 1;
        digits.remove_suffix(2);
    } else if (digits.ends_with("s")) {
        digits.remove_suffix(1);
    } else if (digits.ends_with("m")) {
        unit = 60'000;
        digits.remove_suffix(1);
    }
    std::uint64_t n = 0;
    constexpr std::uint64_t kDay = 86'400'000;
    if (!parseUnsigned(digits, n) || (digits.size() > 1 && digits.front() == '0') || n == 0 ||
        n > kDay / unit) {
        throw ConfigError(std::string(key) +
                          " must be a duration from 1ms to 24 hours: N (seconds), Ns, Nms or "
                          "Nm, not '" +
                          std::string(value) + "'");
    }
    return std::chrono::milliseconds(n * unit);
}

unsigned parseCount(std::string_view key, std::string_view value) {
    std::uint64_t n = 0;
    if (!parseUnsigned(value, n) || n < 1 || n > 1'000'000) {
        throw ConfigError(std::string(key) + " must be a whole number from 1 to 1000000, not '" +
                          std::string(value) + "'");
    }
    return static_cast<unsigned>(n);
}

}  // namespace

void validateConfig(const ServerConfig& config) {
    if (config.tlsCert.empty() != config.tlsKey.empty()) {
        throw ConfigError("tls-cert and tls-key go together: set both or neither");
    }
    asio::error_code ec;
    const auto address = asio::ip::make_address(config.host, ec);
    if (!config.usesTls() && (ec || !address.is_loopback())) {
        throw ConfigError("refusing to listen on " + config.host +
                          " without TLS: plain TCP is only for a loopback address (127.0.0.1, "
                          "::1); set tls-cert and tls-key");
    }
}

unsigned ServerConfig::unauthenticatedCap() const {
    if (maxUnauthenticated != 0)
        return std::min(maxUnauthenticated, maxConnections);
    return std::min(maxConnections, std::max(8u, maxConnections / 4));
}

unsigned ServerConfig::defaultThreads() {
    return std::max(4u, std::thread::hardware_concurrency());
}

void applySetting(ServerConfig& config, std::string_view key, std::string_view value) {
    if (key == "db") {
        if (value.empty())
            throw ConfigError("db must name a SQLite file or a PostgreSQL URL");
        config.db = std::string(value);
    } else if (key == "listen") {
        setListen(key, value, config.host, config.port);
    } else if (key == "health-listen") {
        setListen(key, value, config.healthHost, config.healthPort);
    } else if (key == "metrics-listen") {
        setListen(key, value, config.metricsHost, config.metricsPort);
    } else if (key == "log-format") {
        if (value != "text" && value != "json")
            throw ConfigError("log-format must be text or json, not '" + std::string(value) + "'");
        config.logFormat = std::string(value);
    } else if (key == "threads") {
        std::uint64_t n = 0;
        if (!parseUnsigned(value, n) || n < 1 || n > kMaxThreads) {
            throw ConfigError("threads must be a whole number from 1 to " +
                              std::to_string(kMaxThreads) + ", not '" + std::string(value) + "'");
        }
        config.threads = static_cast<unsigned>(n);
    } else if (key == "max-frame") {
        setMaxFrame(config, value);
    } else if (key == "log-level") {
        if (std::find(std::begin(kLevels), std::end(kLevels), value) == std::end(kLevels)) {
            throw ConfigError(
                "log-level must be one of trace, debug, info, warn, error, "
                "critical, off, not '" +
                std::string(value) + "'");
        }
        config.logLevel = std::string(value);
    } else if (key == "log-file") {
        if (value.empty())
            throw ConfigError("log-file must name a file");
        config.logFile = std::string(value);
    } else if (key == "port-file") {
        if (value.empty())
            throw ConfigError("port-file must name a file");
        config.portFile = std::string(value);
    } else if (key == "max-connections") {
        config.maxConnections = parseCount(key, value);
    } else if (key == "max-per-peer") {
        config.maxPerPeer = parseCount(key, value);
    } else if (key == "max-unauthenticated") {
        config.maxUnauthenticated = parseCount(key, value);
    } else if (key == "max-unauthenticated-per-peer") {
        config.maxUnauthenticatedPerPeer = parseCount(key, value);
    } else if (key == "login-timeout") {
        config.loginTimeout = parseDuration(key, value);
    } else if (key == "write-wait") {
        config.writeWait = parseDuration(key, value);
    } else if (key == "trusted-proxies") {
        try {
            config.trustedProxies = TrustedProxies::parse(value);
        } catch (const std::invalid_argument& e) {
            throw ConfigError(
                "trusted-proxies must list balancer addresses or networks separated by commas "
                "(e.g. 10.0.0.0/24, 127.0.0.1): " +
                std::string(e.what()));
        }
    } else if (key == "idle-timeout") {
        config.idleTimeout = parseDuration(key, value);
    } else if (key == "read-timeout") {
        config.readTimeout = parseDuration(key, value);
    } else if (key == "write-timeout") {
        config.writeTimeout = parseDuration(key, value);
    } else if (key == "stop-timeout") {
        config.stopTimeout = parseDuration(key, value);
    } else if (key == "tls-cert" || key == "tls-key") {
        if (value.empty())
            throw ConfigError(std::string(key) + " must name a PEM file");
        (key == "tls-cert" ? config.tlsCert : config.tlsKey) = std::string(value);
    } else {
        std::string known;
        for (const auto& setting : kSettings)
            known += (known.empty() ? "" : ", ") + std::string(setting.first);
        throw ConfigError("unknown key '" + std::string(key) + "' (known: " + known + ")");
    }
}

void applyConfigFile(ServerConfig& config, const std::string& path) {
    std::ifstream in(path);
    if (!in)
        throw ConfigError("cannot read configuration file '" + path + "'");
    std::map<std::string, int> seen;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        std::string_view text = trim(line);
        if (text.empty() || text.front() == '#')
            continue;
        auto eq = text.find('=');
        if (eq == std::string_view::npos) {
            throw ConfigError(where + "expected 'key = value', got '" + std::string(text) + "'");
        }
        std::string key(trim(text.substr(0, eq)));
        std::string_view value = trim(text.substr(eq + 1));
        if (auto [it, fresh] = seen.emplace(key, number); !fresh) {
            throw ConfigError(where + "key '" + key + "' already set at line " +
                              std::to_string(it->second));
        }
        try {
            applySetting(config, key, value);
        } catch (const ConfigError& e) {
            throw ConfigError(where + e.what());
        }
    }
    if (in.bad())
        throw ConfigError("error while reading configuration file '" + path + "'");
}

bool parseCommandLine(const std::vector<std::string>& args, ServerConfig& config,
                      std::string& help) {
    CLI::App app{"rqc-appserver: application server hosting Rqc04100.rdmConsolidaSolicita"};
    app.name("rqc-appserver");
    std::string configPath;
    std::map<std::string, std::string> values;
    std::vector<std::pair<std::string, CLI::Option*>> options;
    auto* configOption =
        app.add_option("--config", configPath, "configuration file of 'key = value' lines");
    for (const auto& [key, text] : kSettings) {
        options.emplace_back(key, app.add_option(std::string("--") + key, values[key], text));
    }
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        help = app.help();
        return false;
    } catch (const CLI::ParseError& e) {
        throw ConfigError(std::string("command line: ") + e.what());
    }
    if (configOption->count() > 0)
        applyConfigFile(config, configPath);
    for (const auto& [key, option] : options) {
        if (option->count() == 0)
            continue;
        try {
            applySetting(config, key, values[key]);
        } catch (const ConfigError& e) {
            throw ConfigError("option --" + key + ": " + e.what());
        }
    }
    validateConfig(config);
    return true;
}

}  // namespace rqc::appserver
