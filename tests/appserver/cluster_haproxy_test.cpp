// Three real rqc-appserver processes on one PostgreSQL database behind haproxy (TCP mode,
// health-checked by TCP connect): overlapping consolidations through the balancer never take a
// line twice, and a server killed in the middle of a run loses only that run, is taken out by
// the health check, and the other two go on serving.

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include "consolidation_test_support.h"
#include "haproxy_process.h"
#include "protocol/client.h"
#include "server_process.h"
#include "suitedb/demo_data.h"

namespace rqc::test {
namespace {

using protocol::Argument;
using Clock = std::chrono::steady_clock;

constexpr int kServers = 3;
constexpr std::int64_t kLines = 16'000;  // 4,000 of them under central 0001
const suitedb::Date kToday = suitedb::parseIsoDate("2024-06-01");

protocol::CallRequest consSoli(std::vector<Argument> args) {
    protocol::CallRequest call;
    call.object = "Rqc04100.rdmConsolidaSolicita";
    call.user = "cluster";
    call.args = std::move(args);
    call.descriptor = protocol::CallDescriptor::forArguments("GetConsSoli", call.args);
    return call;
}

// Central 0001, every product and branch, delivery dates in [first, last] of 2024.
std::vector<Argument> window(int firstDay, int lastDay, const std::string& which) {
    std::vector<Argument> a = baselineArguments();
    arg(a, 6).text = "";
    auto day = [](int n) {  // day n of 2024, 1-based
        return Argument::ofDate(protocol::dateFromYmd(2024, 1, 1) + (n - 1));
    };
    arg(a, 8) = day(firstDay);
    arg(a, 9) = day(lastDay);
    arg(a, 11).text = which;
    return a;
}

struct Outcome {
    bool answered = false;
    std::string number;  // the consolidated number; "" when nothing was taken
    std::string failure;
};

Outcome callThrough(std::uint16_t port, const protocol::CallRequest& call) {
    Outcome out;
    try {
        protocol::Client client;
        client.connect("127.0.0.1", port);
        protocol::CallResult r = client.call(call);
        out.answered = r.kind == protocol::CallResult::Kind::Text;
        (out.answered ? out.number : out.failure) = r.text;
    } catch (const std::exception& e) {
        out.failure = e.what();
    }
    return out;
}

class ClusterHaproxy : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("RQC_BIN_DIR") == nullptr)
            GTEST_SKIP() << "RQC_BIN_DIR is not set";
        if (!HaproxyProcess::installed())
            GTEST_SKIP() << "haproxy is not installed";
        m_db = std::make_unique<ConsolidationDb>(DbKind::Postgres);
        if (!m_db->available())
            GTEST_SKIP() << "RQC_TEST_PG_URL not set";
        suitedb::generateLarge(*m_db->connect(), kLines, kToday);
        std::vector<std::uint16_t> ports;
        for (int i = 0; i < kServers; ++i) {
            const auto dir = m_dir.path() / ("s" + std::to_string(i + 1));
            std::filesystem::create_directories(dir);
            m_servers.push_back(std::make_unique<ServerProcess>(
                ServerProcess::Options{m_db->target(), dir.string(), {"--threads", "4"}}));
            m_servers.back()->start();
            ports.push_back(m_servers.back()->port());
        }
        m_haproxy = std::make_unique<HaproxyProcess>(m_dir.path(), ports);
        m_haproxy->start();
        waitForStatus("UP", kServers);
    }

    // Waits (bounded) until `count` servers report a status starting with `status`.
    void waitForStatus(const std::string& status, int count) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        int n = 0;
        while (Clock::now() < deadline) {
            n = 0;
            for (const auto& [name, s] : m_haproxy->servers())
                n += s.status.rfind(status, 0) == 0;
            if (n == count)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        FAIL() << n << " servers " << status << " instead of " << count << "\n"
               << m_haproxy->config();
    }

    TempDir m_dir;
    std::unique_ptr<ConsolidationDb> m_db;
    std::vector<std::unique_ptr<ServerProcess>> m_servers;
    std::unique_ptr<HaproxyProcess> m_haproxy;
};

TEST_F(ClusterHaproxy, OverlappingRunsThroughTheBalancerNeverTakeALineTwice) {
    constexpr int kRuns = 32;
    std::vector<Outcome> outcomes(kRuns);
    std::vector<std::thread> runs;
    std::atomic<int> ready{0};
    for (int i = 0; i < kRuns; ++i) {
        runs.emplace_back([&, i] {
            std::mt19937 rng(100 + i);
            // Delivery dates of the set run from day 93 to day 212 of 2024.
            const int first = 93 + static_cast<int>(rng() % 100);
            const int last = std::min(212, first + 5 + static_cast<int>(rng() % 30));
            const auto call = consSoli(window(first, last, "N"));
            ++ready;
            while (ready < kRuns)
                std::this_thread::yield();
            outcomes[i] = callThrough(m_haproxy->port(), call);
        });
    }
    for (auto& t : runs)
        t.join();

    std::vector<std::string> numbers;
    for (const auto& o : outcomes) {
        ASSERT_TRUE(o.answered) << o.failure;
        if (!o.number.empty())
            numbers.push_back(o.number);
    }
    ASSERT_GT(numbers.size(), 1u);
    std::sort(numbers.begin(), numbers.end());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        char expected[24];
        std::snprintf(expected, sizeof expected, "%010zu", i + 1);
        EXPECT_EQ(numbers[i], expected) << "numbers are not 1..n, distinct and gapless";
    }
    for (const auto& [name, s] : m_haproxy->servers())
        EXPECT_GT(s.total, 0) << name << " served nothing";

    auto conn = m_db->connect();
    EXPECT_EQ(scalar(*conn, "SELECT COUNT(*) FROM CONSSOLI"),
              static_cast<std::int64_t>(numbers.size()));
    EXPECT_EQ(scalar(*conn,
                     "SELECT COUNT(*) FROM (SELECT 1 FROM ITCONSSOLIORIG GROUP BY CDFILSOLI,"
                     " CDFILLANCA, NRSOLICMP, NRITEM HAVING COUNT(*) > 1) twice"),
              0);
    EXPECT_EQ(consistencyFaults(*conn), "");
}

TEST_F(ClusterHaproxy, KilledServerLosesOnlyItsRunAndIsTakenOut) {
    const auto everything = consSoli(window(1, 366, "T"));
    const auto started = Clock::now();
    const Outcome first = callThrough(m_haproxy->port(), everything);
    const auto full = Clock::now() - started;
    ASSERT_TRUE(first.answered) << first.failure;
    auto conn = m_db->connect();
    const std::int64_t linesPerRun =
        scalar(*conn, "SELECT COUNT(*) FROM ITCONSSOLIORIG WHERE NRCONSSOLI = ?", {first.number});
    ASSERT_GT(linesPerRun, 2'000);

    // The server haproxy hands the next run to is the one with an open session.
    Outcome killed;
    std::thread caller([&] { killed = callThrough(m_haproxy->port(), everything); });
    std::string busy;
    for (int i = 0; i < 2000 && busy.empty(); ++i) {
        for (const auto& [name, s] : m_haproxy->servers()) {
            if (s.current > 0)
                busy = name;
        }
        if (busy.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_FALSE(busy.empty());
    const auto before = m_haproxy->servers();
    std::this_thread::sleep_for(full / 3);
    const std::size_t index = std::stoul(busy.substr(1)) - 1;
    m_servers.at(index)->kill();
    caller.join();
    EXPECT_FALSE(killed.answered) << "the run ended before the kill: " << killed.number;
    EXPECT_FALSE(killed.failure.empty());

    // The health check takes the dead server out; the other two go on serving.
    waitForStatus("DOWN", 1);
    EXPECT_EQ(m_haproxy->servers().at(busy).status.rfind("DOWN", 0), 0u);
    const Outcome last = callThrough(m_haproxy->port(), everything);
    ASSERT_TRUE(last.answered) << last.failure;
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(callThrough(m_haproxy->port(), consSoli(window(1, 2, "N"))).answered);
    for (const auto& [name, s] : m_haproxy->servers()) {
        if (name != busy) {
            EXPECT_GT(s.total, before.at(name).total) << name << " stopped serving";
        }
    }

    // The killed run is whole or absent; numbers stay gapless.
    conn = m_db->connect();
    const std::int64_t headers = scalar(*conn, "SELECT COUNT(*) FROM CONSSOLI");
    EXPECT_TRUE(headers == 2 || headers == 3) << headers;
    EXPECT_EQ(std::stoll(last.number), headers);
    EXPECT_EQ(scalar(*conn, "SELECT NRULTIMO FROM NUMERACAO WHERE CDSEQUENCIA = 'CONSSOLI'"),
              headers);
    EXPECT_EQ(scalar(*conn,
                     "SELECT COUNT(*) FROM CONSSOLI c WHERE (SELECT COUNT(*) FROM ITCONSSOLIORIG"
                     " o WHERE o.NRCONSSOLI = c.NRCONSSOLI) <> ? OR NOT EXISTS (SELECT 1 FROM"
                     " ITCONSSOLI ic WHERE ic.NRCONSSOLI = c.NRCONSSOLI)",
                     {linesPerRun}),
              0);
    EXPECT_EQ(consistencyFaults(*conn), "");
}

}  // namespace
}  // namespace rqc::test
