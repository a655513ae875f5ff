#pragma once
// Settings of rqc-appserver from its command line and an optional configuration file of
// `key = value` lines (keys as the long options without dashes; `#` starts a comment line).
// Options given on the command line override the file.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

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
    std::string portFile;  // written with the bound port once listening; empty: none

    bool usesDefaultDatabase() const { return db == kDefaultDatabase; }
    static unsigned defaultThreads();
};

// Validates one setting and stores it; throws ConfigError (without location) when the key
// is unknown or the value is unusable.
void applySetting(ServerConfig& config, std::string_view key, std::string_view value);

// Reads a configuration file into config; throws ConfigError naming the file and line.
void applyConfigFile(ServerConfig& config, const std::string& path);

// Parses the program's arguments (without the program name). Returns false after writing
// the help text to `help` when --help was asked; throws ConfigError otherwise on a fault.
bool parseCommandLine(const std::vector<std::string>& args, ServerConfig& config,
                      std::string& help);

}  // namespace rqc::appserver
