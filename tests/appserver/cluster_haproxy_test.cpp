// Three real rqc-appserver processes on one PostgreSQL database behind haproxy (TCP mode,
// PROXY protocol v2, health-checked by TCP connect): overlapping consolidations through the
// balancer never take a line twice; a server killed in the middle of a run loses only that run,
// is taken out by the health check, and the other two go on serving; every server sees each
// client as itself, so one address's failures and idle sockets cost no other address anything.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include "appserver/dispatcher.h"
#include "consolidation_test_support.h"
#include "haproxy_process.h"
#include "protocol/client.h"
#include "server_process.h"
#include "suitedb/demo_data.h"
#include "suitedb/operators.h"

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
        test::TestClient client;
        client.connect("127.0.0.1", port);
        protocol::CallResult r = client.call(call);
        out.answered = r.kind == protocol::CallResult::Kind::Text;
        (out.answered ? out.number : out.failure) = r.text;
    } catch (const std::exception& e) {
        out.failure = e.what();
    }
    return out;
}

// A connection from loopback address `from` (127.x.y.z); -1 when it cannot connect.
int connectFrom(const char* from, std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval t{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &a.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool readAll(int fd, std::byte* p, std::size_t n) {
    while (n > 0) {
        const ssize_t got = ::recv(fd, p, n, 0);
        if (got <= 0)
            return false;
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

// Logs in as `code` from `from`: the server's answer text ("" when none came).
std::string loginFrom(const char* from, std::uint16_t port, const std::string& code,
                      const std::string& password) {
    const int fd = connectFrom(from, port);
    if (fd < 0)
        return "";
    const auto body = protocol::encodeLogin({code, password});
    std::vector<std::byte> frame;
    protocol::appendFrameHeader(frame, static_cast<std::uint32_t>(body.size()));
    frame.insert(frame.end(), body.begin(), body.end());
    ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
    std::string text;
    std::byte head[4];
    if (readAll(fd, head, 4)) {
        std::vector<std::byte> answer(
            protocol::frameLength(std::span<const std::byte, 4>(head, 4)));
        if (readAll(fd, answer.data(), answer.size()))
            text = protocol::decodeResult(answer).text;
    }
    ::close(fd);
    return text;
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
                ServerProcess::Options{m_db->target(),
                                       dir.string(),
                                       {"--threads", "4", "--trusted-proxies", "127.0.0.1"}}));
            m_servers.back()->start();
            ports.push_back(m_servers.back()->port());
        }
        m_haproxy = std::make_unique<HaproxyProcess>(m_dir.path(), ports);
        m_haproxy->setProxyProtocol(true);
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
    EXPECT_EQ(unwholeConsolidations(*conn, linesPerRun), 0);
    EXPECT_EQ(consistencyFaults(*conn), "");
}

TEST_F(ClusterHaproxy, EveryServerSeesEachClientAsItselfAndCountsItsFailuresOnce) {
    const std::uint16_t port = m_haproxy->port();
    const std::string right = suitedb::kDemoPassword;
    EXPECT_EQ(loginFrom("127.0.0.2", port, "COMP001", right), "COMP001");

    // Parallel wrong logins spread over the three servers: the one budget of (operator,
    // address) holds, as with one server.
    std::vector<std::string> answers(12);
    std::vector<std::thread> wrong;
    for (std::size_t i = 0; i < answers.size(); ++i) {
        wrong.emplace_back(
            [&, i] { answers[i] = loginFrom("127.0.0.3", port, "COMP002", "errada-123"); });
    }
    for (auto& t : wrong)
        t.join();
    const auto checked = std::count(answers.begin(), answers.end(), appserver::kLoginRefused);
    EXPECT_EQ(checked, appserver::LoginPolicy{}.freeAttempts);
    for (const auto& a : answers) {
        EXPECT_TRUE(a == appserver::kLoginRefused || a.find("Muitas tentativas") == 0) << a;
    }

    // 60 failures from one address leave another address's right password untouched.
    for (int i = 0; i < 60; ++i)
        loginFrom("127.0.0.4", port, "COMP001", "errada-456");
    for (int i = 0; i < kServers; ++i)
        EXPECT_EQ(loginFrom("127.0.0.5", port, "COMP001", right), "COMP001") << "server " << i;

    // 200 sockets of one address that never log in keep no other client out.
    std::vector<int> idle;
    for (int i = 0; i < 200; ++i)
        idle.push_back(connectFrom("127.0.0.6", port));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<std::unique_ptr<protocol::Client>> clients;
    for (int i = 0; i < 32; ++i) {
        clients.push_back(std::make_unique<protocol::Client>());
        ASSERT_NO_THROW(clients.back()->connect("127.0.0.1", port)) << "client " << i;
        ASSERT_NO_THROW(clients.back()->login(suitedb::kDemoOperator, suitedb::kDemoPassword));
    }
    protocol::CallRequest quick;
    quick.object = suitedb::kDemoObject;
    quick.user = "cluster";
    quick.args = {Argument::byRef("0001")};
    quick.descriptor = protocol::CallDescriptor::forArguments("GetParaCmpSup", quick.args);
    std::atomic<int> served{0};
    std::vector<std::thread> calls;
    for (auto& c : clients) {
        calls.emplace_back([&, client = c.get()] {
            served += client->call(quick).kind == protocol::CallResult::Kind::Packet;
        });
    }
    for (auto& t : calls)
        t.join();
    EXPECT_EQ(served, 32);
    for (int fd : idle)
        ::close(fd);

    // A PROXY header from an address that is not a trusted balancer is refused.
    const int direct = connectFrom("127.0.0.8", m_servers[0]->port());
    const unsigned char proxy[] = {0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D, 0x0A, 0x51, 0x55, 0x49,
                                   0x54, 0x0A, 0x21, 0x11, 0x00, 0x0C, 10,   1,    2,    3,
                                   127,  0,    0,    1,    0x30, 0x39, 0x10, 0x04};
    ::send(direct, proxy, sizeof proxy, MSG_NOSIGNAL);
    char c;
    EXPECT_EQ(::recv(direct, &c, 1, 0), 0) << "closed without an answer";
    ::close(direct);

    std::string logs;
    for (auto& server : m_servers)
        logs += server->log();
    for (const char* address : {"peer=127.0.0.2:", "peer=127.0.0.5:", "peer=127.0.0.3:"})
        EXPECT_NE(logs.find(address), std::string::npos) << address << "\n" << logs;
    EXPECT_EQ(logs.find("peer=10.1.2.3"), std::string::npos);
    EXPECT_NE(logs.find("127.0.0.8"), std::string::npos);
    EXPECT_NE(logs.find("not among the trusted proxies"), std::string::npos) << logs;
}

}  // namespace
}  // namespace rqc::test
