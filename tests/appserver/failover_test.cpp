// rqc-appserver on a PostgreSQL primary with a synchronous standby (libpq's multi-host target),
// promoted by hand or by pg_auto_failover's monitor, on a restarted PostgreSQL, and behind
// haproxy checking each server's health answer.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "consolidation_test_support.h"
#include "haproxy_process.h"
#include "pg_cluster_process.h"
#include "server_process.h"
#include "suitedb/demo_data.h"
#include "suitedb/operators.h"
#include "suitedb/schema.h"

namespace rqc::test {
namespace {

using protocol::Argument;
using Clock = std::chrono::steady_clock;

// The message of a call whose transaction the loss of the database cut.
constexpr std::string_view kNothingWritten = "nada desta operação foi gravado";

protocol::CallRequest consSoli(int firstDay, int lastDay) {
    std::vector<Argument> a = baselineArguments();
    arg(a, 6).text = "";
    arg(a, 8) = Argument::ofDate(protocol::dateFromYmd(2024, 1, 1) + (firstDay - 1));
    arg(a, 9) = Argument::ofDate(protocol::dateFromYmd(2024, 1, 1) + (lastDay - 1));
    protocol::CallRequest call;
    call.object = "Rqc04100.rdmConsolidaSolicita";
    call.args = std::move(a);
    call.descriptor = protocol::CallDescriptor::forArguments("GetConsSoli", call.args);
    return call;
}

protocol::CallResult callOn(TestClient& client, std::uint16_t port,
                            const protocol::CallRequest& call) {
    if (!client.isOpen())
        client.connect("127.0.0.1", port);
    return client.call(call);
}

// One consolidation per result, each from its own thread and client, alternating between the
// servers, of 20 days starting at a day drawn from `seed`. The set's delivery dates run from
// day 93 to 212; days after 170 stay for later.
std::vector<std::thread> overlappingRuns(const std::vector<std::unique_ptr<ServerProcess>>& servers,
                                         unsigned seed,
                                         std::vector<protocol::CallResult>& results) {
    std::vector<std::thread> runs;
    for (std::size_t i = 0; i < results.size(); ++i) {
        runs.emplace_back([&servers, &results, seed, i] {
            std::mt19937 rng(seed + static_cast<unsigned>(i));
            const int first = 93 + static_cast<int>(rng() % 58);
            try {
                TestClient client;
                results[i] = callOn(client, servers[i % 2]->port(), consSoli(first, first + 20));
            } catch (const std::exception& e) {
                results[i] = protocol::CallResult::error(e.what());
            }
        });
    }
    return runs;
}

class Failover : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("RQC_BIN_DIR") == nullptr || !PgClusterProcess::installed())
            GTEST_SKIP() << "RQC_BIN_DIR is not set or PostgreSQL 15 is not installed";
    }

    std::unique_ptr<ServerProcess> server(const std::string& db, const std::string& name,
                                          std::vector<std::string> args) {
        const auto dir = m_dir.path() / name;
        std::filesystem::create_directories(dir);
        auto s = std::make_unique<ServerProcess>(
            ServerProcess::Options{db, dir.string(), std::move(args)});
        s->start();
        return s;
    }

    TempDir m_dir;
};

TEST_F(Failover, RunsAnsweredBeforeThePrimaryDiesAreOnThePromotedStandby) {
    PgClusterProcess primary(PgClusterProcess::Role::Primary);
    auto standby = PgClusterProcess::standbyOf(primary);
    {
        auto c = suitedb::Connection::open(primary.url());
        suitedb::applySchema(*c);
        suitedb::generateLarge(*c, 16'000, suitedb::parseIsoDate("2024-06-01"));
    }
    const std::string db = PgClusterProcess::failoverUrl(primary, *standby);
    // One worker each: at most one run per server is under way when the primary dies.
    std::vector<std::unique_ptr<ServerProcess>> servers;
    for (const char* name : {"s1", "s2"})
        servers.push_back(server(db, name, {"--threads", "1"}));

    constexpr int kRuns = 16;
    std::vector<protocol::CallResult> results(kRuns);
    std::vector<std::thread> runs = overlappingRuns(servers, 200, results);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    primary.run("kill");
    standby->run("promote");
    for (auto& t : runs)
        t.join();

    std::vector<std::string> numbers;
    int cut = 0;
    for (const auto& r : results) {
        if (r.kind == protocol::CallResult::Kind::Error) {
            ++cut;
            EXPECT_NE(r.text.find(kNothingWritten), std::string::npos) << r.text;
        } else if (!r.text.empty()) {
            numbers.push_back(r.text);
        }
    }
    EXPECT_LE(cut, 2) << "runs after the loss waited for the promoted standby";
    for (int i = 0; i < 2; ++i) {
        TestClient client;
        const auto next = callOn(client, servers[i]->port(), consSoli(171 + 21 * i, 191 + 21 * i));
        ASSERT_EQ(next.kind, protocol::CallResult::Kind::Text) << next.text;
        ASSERT_FALSE(next.text.empty());
        numbers.push_back(next.text);
    }
    std::sort(numbers.begin(), numbers.end());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        char expected[24];
        std::snprintf(expected, sizeof expected, "%010zu", i + 1);
        EXPECT_EQ(numbers[i], expected) << "numbers are not 1..n, distinct and gapless";
    }

    auto conn = suitedb::Connection::open(standby->url());
    EXPECT_EQ(scalar(*conn, "SELECT COUNT(*) FROM CONSSOLI"),
              static_cast<std::int64_t>(numbers.size()));
    EXPECT_EQ(scalar(*conn,
                     "SELECT COUNT(*) FROM CONSSOLI c WHERE NOT EXISTS (SELECT 1 FROM ITCONSSOLI i"
                     " WHERE i.NRCONSSOLI = c.NRCONSSOLI) OR NOT EXISTS (SELECT 1 FROM"
                     " ITCONSSOLIORIG o WHERE o.NRCONSSOLI = c.NRCONSSOLI)"),
              0);
    EXPECT_EQ(scalar(*conn,
                     "SELECT COUNT(*) FROM (SELECT 1 FROM ITCONSSOLIORIG GROUP BY CDFILSOLI,"
                     " CDFILLANCA, NRSOLICMP, NRITEM HAVING COUNT(*) > 1) twice"),
              0);
    EXPECT_EQ(consistencyFaults(*conn), "");
}

// Under pg_auto_failover nobody promotes: the monitor does, the servers follow on its URL, and
// the old primary, its keeper started again, comes back as the secondary.
TEST_F(Failover, TheMonitorPromotesTheStandbyWithinSecondsAndTheOldPrimaryRejoins) {
    if (!AutoFailoverFormation::installed())
        GTEST_SKIP() << "pg_auto_failover is not installed";
    AutoFailoverFormation formation;
    {
        auto c = suitedb::Connection::open(formation.url());
        suitedb::applySchema(*c);
        suitedb::generateLarge(*c, 16'000, suitedb::parseIsoDate("2024-06-01"));
    }
    std::vector<std::unique_ptr<ServerProcess>> servers;
    for (const char* name : {"s1", "s2"})
        servers.push_back(server(formation.url(), name, {"--threads", "1"}));

    constexpr int kRuns = 16;
    std::vector<protocol::CallResult> results(kRuns);
    std::vector<std::thread> runs = overlappingRuns(servers, 300, results);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const auto killed = Clock::now();
    formation.node(1, "kill");
    // New consolidations from the moment of the kill, until the first one goes through.
    std::string probed;
    Clock::duration firstSuccess{};
    while (probed.empty() && Clock::now() - killed < std::chrono::seconds(60)) {
        try {
            TestClient client;
            const auto r = callOn(client, servers[0]->port(), consSoli(171, 191));
            if (r.kind == protocol::CallResult::Kind::Text && !r.text.empty()) {
                probed = r.text;
                firstSuccess = Clock::now() - killed;
            }
        } catch (const std::exception&) {
            // not yet
        }
        if (probed.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (auto& t : runs)
        t.join();
    const double seconds = std::chrono::duration<double>(firstSuccess).count();
    std::printf("first consolidation %.1f s after the primary was killed\n", seconds);
    ASSERT_FALSE(probed.empty()) << "no consolidation within 60 s of the kill";
    EXPECT_LE(seconds, 15.0);

    std::vector<std::string> numbers = {probed};
    int cut = 0;
    for (const auto& r : results) {
        if (r.kind == protocol::CallResult::Kind::Error) {
            ++cut;
            EXPECT_NE(r.text.find(kNothingWritten), std::string::npos) << r.text;
        } else if (!r.text.empty()) {
            numbers.push_back(r.text);
        }
    }
    EXPECT_LE(cut, 2) << "at most the run under way on each server is cut";
    std::sort(numbers.begin(), numbers.end());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        char expected[24];
        std::snprintf(expected, sizeof expected, "%010zu", i + 1);
        EXPECT_EQ(numbers[i], expected) << "numbers are not 1..n, distinct and gapless";
    }
    auto conn = suitedb::Connection::open(formation.nodeUrl(2));
    EXPECT_EQ(scalar(*conn, "SELECT COUNT(*) FROM CONSSOLI"),
              static_cast<std::int64_t>(numbers.size()));
    EXPECT_EQ(consistencyFaults(*conn), "");

    formation.node(1, "run");
    formation.waitFor(1, "secondary");
}

TEST_F(Failover, ACallAfterAPostgresRestartSucceeds) {
    PgClusterProcess pg;
    suitedb::applySchema(*suitedb::Connection::open(pg.url()));
    auto s = server(pg.url(), "s", {"--threads", "1"});
    TestClient client;
    for (int call = 0; call < 2; ++call) {
        if (call == 1)
            pg.run("restart");
        const auto r = callOn(client, s->port(), consSoli(1, 2));
        EXPECT_NE(r.kind, protocol::CallResult::Kind::Error) << "call " << call << ": " << r.text;
    }
}

TEST_F(Failover, AServerWithoutItsDatabaseLeavesTheRotationAndComesBack) {
    if (!HaproxyProcess::installed())
        GTEST_SKIP() << "haproxy is not installed";
    ConsolidationDb shared(DbKind::Postgres);
    if (!shared.available())
        GTEST_SKIP() << "RQC_TEST_PG_URL not set";
    PgClusterProcess own;
    suitedb::applySchema(*suitedb::Connection::open(own.url()));
    const std::uint16_t health[] = {freeLoopbackPort(), freeLoopbackPort()};
    auto s1 =
        server(own.url(), "s1", {"--health-listen", "127.0.0.1:" + std::to_string(health[0])});
    auto s2 = server(shared.target(), "s2",
                     {"--health-listen", "127.0.0.1:" + std::to_string(health[1])});
    HaproxyProcess haproxy(m_dir.path(), {s1->port(), s2->port()}, {health[0], health[1]});
    haproxy.start();
    // s1's status once it is `status`, or after 2 s.
    auto until = [&](const std::string& status) {
        const auto start = Clock::now();
        while (Clock::now() - start < std::chrono::seconds(2) &&
               haproxy.servers().at("s1").status != status)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return haproxy.servers().at("s1").status;
    };
    ASSERT_EQ(until("UP"), "UP");
    own.run("stop");
    EXPECT_EQ(until("DOWN"), "DOWN") << haproxy.config();
    EXPECT_EQ(haproxy.servers().at("s2").status, "UP");
    for (int i = 0; i < 4; ++i) {
        TestClient client;
        const auto r = callOn(client, haproxy.port(), consSoli(1, 2));
        EXPECT_EQ(r.kind, protocol::CallResult::Kind::Text) << r.text;
    }
    own.run("start");
    EXPECT_EQ(until("UP"), "UP");
}

// While no database answers, a client that connects through the balancer is told so in
// Portuguese by a server reached as a fallback, not cut off.
TEST_F(Failover, WithoutADatabaseTheBalancerStillLetsAServerSayWhy) {
    if (!HaproxyProcess::installed())
        GTEST_SKIP() << "haproxy is not installed";
    PgClusterProcess pg;
    suitedb::applySchema(*suitedb::Connection::open(pg.url()));
    suitedb::addOperator(*suitedb::Connection::open(pg.url()), suitedb::kDemoOperator, "Demo",
                         suitedb::kDemoPassword);
    const std::uint16_t health = freeLoopbackPort();
    auto s1 = server(pg.url(), "s1", {"--health-listen", "127.0.0.1:" + std::to_string(health)});
    HaproxyProcess haproxy(m_dir.path(), {s1->port()}, {health});
    haproxy.setFallback(true);
    haproxy.start();
    pg.run("stop");
    const auto start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(3) &&
           haproxy.servers().at("s1").status.rfind("DOWN", 0) != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(haproxy.servers().at("s1").status.rfind("DOWN", 0), 0u) << haproxy.config();
    try {
        TestClient client;
        callOn(client, haproxy.port(), consSoli(1, 2));
        ADD_FAILURE() << "a call without a database succeeded";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("o banco de dados não respondeu"), std::string::npos)
            << e.what();
    }
}

}  // namespace
}  // namespace rqc::test
