// rqc-appserver: serves Rqc04100.rdmConsolidaSolicita over TCP.

#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "dispatcher.h"
#include "object_registry.h"
#include "rdm_consolida_solicita.h"
#include "server.h"
#include "server_config.h"
#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"

namespace {

using namespace rqc::appserver;
namespace fs = std::filesystem;

// The database target as logged: a password in a PostgreSQL URL is hidden.
std::string shownTarget(const std::string& target) {
    if (!rqc::suitedb::Connection::isPostgresTarget(target))
        return target;
    auto scheme = target.find("://");
    auto at = target.find('@');
    if (scheme == std::string::npos || at == std::string::npos || at < scheme)
        return target;
    auto colon = target.find(':', scheme + 3);
    if (colon == std::string::npos || colon > at)
        return target;
    return target.substr(0, colon + 1) + "***" + target.substr(at);
}

// Opens the database once so that a bad target fails at start. The default SQLite file is
// created with schema and demo data when missing; another missing file is an error.
void prepareDatabase(const ServerConfig& config) {
    using rqc::suitedb::Connection;
    if (!Connection::isPostgresTarget(config.db) && !fs::exists(config.db)) {
        if (!config.usesDefaultDatabase()) {
            throw std::runtime_error("database file '" + config.db +
                                     "' does not exist (create it with rqc-suitedb init)");
        }
        fs::create_directories(fs::path(config.db).parent_path());
        try {
            auto db = Connection::open(config.db);
            rqc::suitedb::applySchema(*db);
            rqc::suitedb::loadDemo(*db, rqc::suitedb::localToday());
        } catch (...) {
            for (const char* suffix : {"", "-wal", "-shm"}) {
                std::error_code ec;
                fs::remove(config.db + suffix, ec);
            }
            throw;
        }
        spdlog::info("created {} with the schema and the demo data", config.db);
    }
    auto db = Connection::open(config.db);
    const int version = rqc::suitedb::schemaVersion(*db);
    if (version != rqc::suitedb::kSchemaVersion) {
        throw std::runtime_error("the database has schema version " + std::to_string(version) +
                                 ", this server needs version " +
                                 std::to_string(rqc::suitedb::kSchemaVersion));
    }
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

    auto logger = spdlog::stderr_logger_mt("rqc-appserver");
    spdlog::set_default_logger(logger);
    spdlog::set_pattern("%Y-%m-%d %H:%M:%S.%e %^%l%$ %v");
    spdlog::set_level(spdlog::level::from_str(config.logLevel));
    std::signal(SIGPIPE, SIG_IGN);

    try {
        prepareDatabase(config);
    } catch (const std::exception& e) {
        spdlog::critical("cannot use database {}: {}", shownTarget(config.db), e.what());
        return 1;
    }

    ObjectRegistry registry;
    registerRdmConsolidaSolicita(registry);
    Dispatcher dispatcher(registry);
    try {
        Server server(config, dispatcher);
        spdlog::info("listening on {}:{} ({} threads, database {})", config.host, server.port(),
                     config.threads, shownTarget(config.db));
        if (!config.portFile.empty())
            writePortFile(config.portFile, server.port());
        server.run();
    } catch (const std::exception& e) {
        spdlog::critical("{}", e.what());
        return 1;
    }
    spdlog::info("stopped");
    return 0;
}
