// The per-call log of a real rqc-appserver: every line logged before SIGTERM reaches the log,
// and a line reaches it within about a second while the server is idle.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "protocol/client.h"
#include "server_process.h"
#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"
#include "temp_dir.h"

namespace rqc::test {
namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

int callLines(const std::string& log) {
    int n = 0;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.find(" info call ") != std::string::npos &&
            line.find("method=GetParaCmpSup") != std::string::npos)
            ++n;
    }
    return n;
}

protocol::CallRequest paraCmpSup() {
    protocol::CallRequest call;
    call.object = "Rqc04100.rdmConsolidaSolicita";
    call.user = "log";
    call.args = {protocol::Argument::byRef("0001")};
    call.descriptor = protocol::CallDescriptor::forArguments("GetParaCmpSup", call.args);
    return call;
}

class ServerLog : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (std::getenv("RQC_BIN_DIR") == nullptr)
            GTEST_SKIP() << "RQC_BIN_DIR is not set";
        m_db = (m_dir.path() / "suite.db").string();
        auto c = suitedb::Connection::open(m_db);
        suitedb::applySchema(*c);
        suitedb::loadDemo(*c, suitedb::localToday());
    }

    // The server logs to its own --log-file when `toFile`, otherwise to stderr.
    ServerProcess::Options options(bool toFile) const {
        ServerProcess::Options o;
        o.db = m_db;
        o.workDir = m_dir.path().string();
        if (toFile)
            o.extraArgs = {"--log-file", logFile().string()};
        return o;
    }
    std::filesystem::path logFile() const { return m_dir.path() / "calls.log"; }

    TempDir m_dir;
    std::string m_db;
};

TEST_P(ServerLog, EveryCallBeforeSigtermIsInTheLog) {
    const bool toFile = GetParam();
    ServerProcess server(options(toFile));
    server.start();
    constexpr int kClients = 4, kCallsEach = 500;
    std::vector<std::thread> clients;
    std::atomic<int> answered{0};
    for (int t = 0; t < kClients; ++t) {
        clients.emplace_back([&] {
            test::TestClient client;
            client.connect("127.0.0.1", server.port());
            for (int i = 0; i < kCallsEach; ++i) {
                if (client.call(paraCmpSup()).kind == protocol::CallResult::Kind::Packet)
                    ++answered;
            }
        });
    }
    for (auto& c : clients)
        c.join();
    ASSERT_EQ(answered, kClients * kCallsEach);
    const int status = server.terminate();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << server.log();
    const std::string log = toFile ? readFile(logFile()) : server.log();
    EXPECT_EQ(callLines(log), kClients * kCallsEach);
    EXPECT_NE(log.find(" stopped"), std::string::npos) << log;
}

TEST_P(ServerLog, LineReachesTheLogWhileTheServerIsIdle) {
    const bool toFile = GetParam();
    ServerProcess server(options(toFile));
    server.start();
    test::TestClient client;
    client.connect("127.0.0.1", server.port());
    ASSERT_EQ(client.call(paraCmpSup()).kind, protocol::CallResult::Kind::Packet);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int seen = 0;
    while (seen == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        seen = callLines(toFile ? readFile(logFile()) : server.log());
    }
    EXPECT_EQ(seen, 1);
}

INSTANTIATE_TEST_SUITE_P(Sinks, ServerLog, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "LogFile" : "Stderr"; });

TEST(ServerLogFile, UnwritableLogFileStopsTheServerAtStart) {
    if (std::getenv("RQC_BIN_DIR") == nullptr)
        GTEST_SKIP() << "RQC_BIN_DIR is not set";
    TempDir dir;
    ServerProcess::Options o;
    o.db = (dir.path() / "missing.db").string();
    o.workDir = dir.path().string();
    o.extraArgs = {"--log-file", (dir.path() / "no-such-folder" / "x.log").string()};
    ServerProcess server(o);
    try {
        server.start();
        FAIL() << "the server started";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("cannot open log file"), std::string::npos)
            << e.what();
    }
}

}  // namespace
}  // namespace rqc::test
