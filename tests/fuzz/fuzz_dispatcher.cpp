// The server's frame handler on arbitrary bodies, against a real SQLite demo database: the
// first byte chooses whether the connection has logged in already. Every body must get an
// answer that decodes as a result; nothing may crash or throw.

#include <spdlog/spdlog.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "appserver/dispatcher.h"
#include "appserver/object_registry.h"
#include "appserver/rdm_consolida_solicita.h"
#include "appserver/worker_connection.h"
#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"

namespace {

using namespace rqc;

struct World {
    std::string dir;
    appserver::ObjectRegistry registry;
    std::unique_ptr<appserver::Dispatcher> dispatcher;
    std::unique_ptr<appserver::WorkerConnection> db;
};

World* world = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    spdlog::set_level(spdlog::level::off);
    world = new World;
    std::string pattern = (std::filesystem::temp_directory_path() / "rqc-fuzz-XXXXXX").string();
    world->dir = ::mkdtemp(pattern.data());
    const std::string path = world->dir + "/rqc.db";
    {
        auto c = suitedb::Connection::open(path);
        suitedb::applySchema(*c);
        suitedb::loadDemo(*c, suitedb::parseIsoDate("2024-03-15"));
    }
    appserver::registerRdmConsolidaSolicita(world->registry);
    appserver::LoginPolicy policy;
    policy.firstWait = std::chrono::milliseconds(0);
    policy.maxWait = std::chrono::milliseconds(0);
    world->dispatcher = std::make_unique<appserver::Dispatcher>(world->registry, policy);
    world->db = std::make_unique<appserver::WorkerConnection>(path);
    std::atexit([] { std::filesystem::remove_all(world->dir); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    appserver::ConnectionState state;
    state.peer = appserver::ClientAddress("127.0.0.1", 1);
    if (data[0] & 1) {
        state.operatorCode = suitedb::kDemoOperator;
        state.objects = {suitedb::kDemoObject};
    }
    const std::span<const std::byte> body(reinterpret_cast<const std::byte*>(data + 1), size - 1);
    const auto answer = world->dispatcher->handleFrame(body, *world->db, state);
    // A peer of another version is answered in its own version; any other answer must be a
    // well-formed result of this one.
    const bool ownVersion =
        answer.size() < 3 || static_cast<std::uint8_t>(answer[2]) == protocol::kProtocolVersion;
    try {
        (void)protocol::decodeResult(answer);
    } catch (const protocol::DecodeError&) {
        if (ownVersion)
            std::abort();
    }
    return 0;
}
