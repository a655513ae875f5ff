#pragma once
// Settings of rqc-appserver from its command line and an optional configuration file of
// `key = value` lines (keys as the long options without dashes; `#` starts a comment line).
// Options given on the command line override the file.

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "proxy_header.h"

namespace rqc::appserver {

// A setting that cannot be used; the message names the option or the file and line.
class ConfigError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* kDefaultDatabase = "var/rqc.db";

struct ServerConfig {
    std::string db = kDefaultDatabase;  // SQLite path or PostgreSQL URL
    std::string host = "127.0.0.1";
    std::uint16_t port = 4100;  // 0: an ephemeral port
    unsigned threads = defaultThreads();
    std::uint32_t maxFrame = 64u * 1024u * 1024u;
    std::string logLevel = "info";
    std::string logFile;   // appended to; empty: stderr
    std::string portFile;  // written with the bound port once listening; empty: none
    // A central purchasing branch has a few hundred buyers, each with a screen or two open:
    // 1000 connections hold all of them with room to spare; 64 from one address fit a terminal
    // server shared by some thirty buyers. A quarter of the connections may be waiting for a
    // login at once: a whole floor logging in at nine o'clock.
    unsigned maxConnections = 1000;  // open connections at once; the next one is refused
    unsigned maxPerPeer = 64;        // open connections from one client address
    // Connections not logged in yet, at once: 0 is a quarter of maxConnections (at least 8).
    unsigned maxUnauthenticated = 0;
    unsigned maxUnauthenticatedPerPeer = 32;  // the same, from one client address
    std::chrono::milliseconds loginTimeout = std::chrono::seconds(10);  // accept to login
    // The longest a call waits for the SQLite file's write turn; one expected to wait longer
    // is refused at once.
    std::chrono::milliseconds writeWait = std::chrono::minutes(2);
    TrustedProxies trustedProxies;  // balancers whose connections start with a PROXY v2 header
    std::chrono::milliseconds idleTimeout = std::chrono::minutes(10);   // between calls
    std::chrono::milliseconds readTimeout = std::chrono::seconds(30);   // no byte of a request
    std::chrono::milliseconds writeTimeout = std::chrono::seconds(30);  // no byte of an answer
    std::chrono::milliseconds stopTimeout = std::chrono::seconds(30);   // SIGTERM to exit
    std::string tlsCert;  // PEM certificate chain; with tlsKey, connections run over TLS
    std::string tlsKey;   // PEM private key of tlsCert
    // Health listener: liveness (GET /live), readiness (GET /ready, and the line a connection
    // that asks nothing gets: "ok" or "database unreachable"); empty: none.
    std::string healthHost;
    std::uint16_t healthPort = 0;
    // Prometheus metrics (GET /metrics); empty: off, and nothing is counted.
    std::string metricsHost;
    std::uint16_t metricsPort = 0;
    std::string logFormat = "text";  // or "json": one object per line

    bool usesTls() const { return !tlsCert.empty(); }

    unsigned unauthenticatedCap() const;
    bool usesDefaultDatabase() const { return db == kDefaultDatabase; }
    static unsigned defaultThreads();
};

// Validates one setting and stores it; throws ConfigError (without location) when the key
// is unknown or the value is unusable.
void applySetting(ServerConfig& config, std::string_view key, std::string_view value);

// Checks the settings together: the TLS certificate and key come as a pair, and plain TCP is
// allowed only on a loopback address. Throws ConfigError saying what to change.
void validateConfig(const ServerConfig& config);

// Reads a configuration file into config; throws ConfigError naming the file and line.
void applyConfigFile(ServerConfig& config, const std::string& path);

// Parses the program's arguments (without the program name). Returns false after writing
// the help text to `help` when --help was asked; throws ConfigError otherwise on a fault.
bool parseCommandLine(const std::vector<std::string>& args, ServerConfig& config,
                      std::string& help);

}  // namespace rqc::appserver
