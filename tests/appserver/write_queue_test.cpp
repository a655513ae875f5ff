// Writers of one SQLite file wait their turn in the server instead of failing on the
// database's busy timeout: first come, first served, and refused only when the queue is full.

#include "appserver/write_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "appserver/rdm_consolida_solicita.h"
#include "consolidation_test_support.h"
#include "protocol/client.h"
#include "server_process.h"
#include "suitedb/demo_data.h"

namespace rqc::test {
namespace {

using namespace std::chrono_literals;
using protocol::Argument;
using protocol::CallResult;

// Central 0001 serving 0002..0009; every request delivered in March 2024.
void loadManyLines(suitedb::Connection& db, int requests, int itemsPerRequest) {
    suitedb::Transaction tx(db);
    db.exec(
        "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, DTPROCESSAMENTO) VALUES ('0001', 'Central', "
        "'2024-03-01')");
    for (int b = 2; b <= 9; ++b) {
        db.execute(
            "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDFILCENTCMP, DTPROCESSAMENTO) VALUES "
            "(?, ?, '0001', '2024-03-01')",
            {"000" + std::to_string(b), "Loja " + std::to_string(b)});
    }
    for (int p = 0; p < itemsPerRequest; ++p) {
        const std::string code = "P" + std::to_string(100 + p);
        db.execute("INSERT INTO PRODUTO (CDPRODUTO, CDARVPROD, NMPRODUTO) VALUES (?, ?, ?)",
                   {code, "T" + code, code});
    }
    for (int r = 1; r <= requests; ++r) {
        const std::string branch = "000" + std::to_string(2 + r % 8);
        char number[16];
        std::snprintf(number, sizeof number, "%010d", r);
        db.execute(
            "INSERT INTO SOLICMP (CDFILSOLI, CDFILLANCA, NRSOLICMP, DTENTREGA) VALUES (?, "
            "?, ?, '2024-03-10')",
            {branch, branch, std::string(number)});
        for (int i = 0; i < itemsPerRequest; ++i) {
            db.execute(
                "INSERT INTO ITSOLICMP (CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM, "
                "CDPRODUTO, QTSOLICITADA) VALUES (?, ?, ?, ?, ?, 1)",
                {branch, branch, std::string(number), std::int64_t{i + 1},
                 "P" + std::to_string(100 + i)});
        }
    }
    tx.commit();
}

}  // namespace

TEST(WriteQueue, ServesInArrivalOrderAndRefusesWhenFull) {
    appserver::WriteQueue queue(3);
    std::vector<std::string> events;
    auto ask = [&](const std::string& who) {
        queue.asyncAcquire([&events, who] { events.push_back(who); },
                           [&events, who](auto) { events.push_back(who + " refused"); });
    };
    for (const char* who : {"first", "a", "b", "c", "d"})
        ask(who);
    EXPECT_EQ(queue.waiting(), 3u);
    for (int turn = 0; turn < 4; ++turn)
        queue.release();
    EXPECT_EQ(events, (std::vector<std::string>{"first", "d refused", "a", "b", "c"}));
    EXPECT_EQ(queue.waiting(), 0u);
    ask("again");  // free again
    EXPECT_EQ(events.back(), "again");
    queue.release();
}

// Sixteen large runs at once on one SQLite file, through one server, each from its own client:
// every run waits its turn and none fails on the database's busy timeout.
TEST(WriteQueue, SixteenConcurrentSqliteConsolidationsAllComplete) {
    if (std::getenv("RQC_BIN_DIR") == nullptr)
        GTEST_SKIP() << "RQC_BIN_DIR is not set";
    ConsolidationDb db(DbKind::Sqlite);
    loadManyLines(*db.connect(), 500, 10);
    TempDir dir;
    ServerProcess server({db.target(), dir.path().string(), {"--threads", "16"}});
    server.start();

    std::vector<Argument> args = baselineArguments();
    arg(args, 6).text = "";
    arg(args, 11).text = "T";  // every run takes every line again
    protocol::CallRequest call;
    call.object = std::string(appserver::kRdmConsolidaSolicita);
    call.user = "tester";
    call.descriptor = protocol::CallDescriptor::forArguments("GetConsSoli", args);
    call.args = args;

    constexpr int kRuns = 16;
    std::mutex mutex;
    std::vector<std::string> numbers, errors;
    std::vector<std::thread> threads;
    for (int i = 0; i < kRuns; ++i) {
        threads.emplace_back([&] {
            protocol::Client client;
            client.connect("127.0.0.1", server.port());
            client.login(suitedb::kDemoOperator, suitedb::kDemoPassword);
            CallResult r = client.call(call);
            std::lock_guard lock(mutex);
            (r.kind == CallResult::Kind::Text ? numbers : errors).push_back(r.text);
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_TRUE(errors.empty()) << errors.size() << " failed, e.g. " << errors.front();
    EXPECT_EQ(std::set<std::string>(numbers.begin(), numbers.end()).size(),
              static_cast<std::size_t>(kRuns));
    auto conn = db.connect();
    EXPECT_EQ(scalar(*conn, "SELECT COUNT(*) FROM CONSSOLI"), kRuns);
    EXPECT_EQ(consistencyFaults(*conn), "");
}

// Waiting callers are handlers, not threads: the full queue and a wait expected past the bound
// are answered at once, and a waiter past its bound is refused when it expires.
TEST(WriteQueue, WaitersAreHandlersRefusedAtOnceWhenFullOrTooLong) {
    using Refusal = appserver::WriteQueue::Refusal;
    appserver::WriteQueue queue(2, 250ms);
    std::vector<std::string> events;
    auto ask = [&](const std::string& who) {
        return queue.asyncAcquire(
            [&events, who] { events.push_back(who + " granted"); },
            [&events, who](Refusal r) {
                events.push_back(who + (r == Refusal::Full ? " full" : " too long"));
            });
    };
    EXPECT_EQ(ask("a"), 0u);
    const auto b = ask("b");
    const auto c = ask("c");
    EXPECT_NE(b, 0u);
    EXPECT_NE(c, 0u);
    EXPECT_EQ(ask("d"), 0u);
    std::this_thread::sleep_for(400ms);
    queue.release();  // a held the turn 400 ms; b's begins
    EXPECT_FALSE(queue.expire(b)) << "b holds the turn, it no longer waits";
    EXPECT_TRUE(queue.expire(c));
    EXPECT_EQ(ask("e"), 0u) << "behind a run like a's, e would wait past the bound";
    queue.release();
    EXPECT_EQ(ask("f"), 0u);
    EXPECT_EQ(events, (std::vector<std::string>{"a granted", "d full", "b granted", "c too long",
                                                "e too long", "f granted"}));
    queue.release();
    EXPECT_EQ(queue.waiting(), 0u);
}

// On SQLite, while one large run holds the file's write turn and three more wait for it, quick
// calls from 32 clients of the same server go on being answered at once.
TEST(WriteQueue, QuickCallsAreAnsweredWhileRunsWaitForTheWriteTurn) {
    if (std::getenv("RQC_BIN_DIR") == nullptr)
        GTEST_SKIP() << "RQC_BIN_DIR is not set";
    ConsolidationDb db(DbKind::Sqlite);
    suitedb::generateLarge(*db.connect(), 400'000, suitedb::parseIsoDate("2024-06-01"));
    TempDir dir;
    ServerProcess server({db.target(), dir.path().string(), {"--threads", "4"}});
    server.start();

    std::vector<Argument> everything = baselineArguments();
    arg(everything, 6).text = "";
    arg(everything, 8) = Argument::ofDate(protocol::dateFromYmd(2024, 1, 1));
    arg(everything, 9) = Argument::ofDate(protocol::dateFromYmd(2024, 12, 31));
    arg(everything, 11).text = "T";
    protocol::CallRequest run;
    run.object = std::string(appserver::kRdmConsolidaSolicita);
    run.user = "tester";
    run.descriptor = protocol::CallDescriptor::forArguments("GetConsSoli", everything);
    run.args = everything;
    protocol::CallRequest quick;
    quick.object = run.object;
    quick.user = "tester";
    quick.args = {Argument::byRef("0001")};
    quick.descriptor = protocol::CallDescriptor::forArguments("GetParaCmpSup", quick.args);

    constexpr int kClients = 32;
    std::vector<std::unique_ptr<protocol::Client>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<protocol::Client>());
        clients.back()->connect("127.0.0.1", server.port());
        clients.back()->login(suitedb::kDemoOperator, suitedb::kDemoPassword);
    }
    std::atomic<int> runsDone{0};
    std::vector<std::string> runResults(4);
    std::vector<std::thread> runs;
    for (int i = 0; i < 4; ++i) {
        runs.emplace_back([&, i] {
            protocol::Client c;
            c.connect("127.0.0.1", server.port());
            c.login(suitedb::kDemoOperator, suitedb::kDemoPassword);
            runResults[i] = c.call(run).text;
            ++runsDone;
        });
        std::this_thread::sleep_for(50ms);
    }
    std::this_thread::sleep_for(300ms);  // the first run holds the turn, three wait
    std::mutex mutex;
    std::vector<double> ms;
    std::vector<std::thread> quickOnes;
    for (auto& c : clients) {
        quickOnes.emplace_back([&, client = c.get()] {
            while (runsDone == 0) {
                const auto t0 = std::chrono::steady_clock::now();
                const CallResult r = client->call(quick);
                const double took =
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                        .count();
                std::lock_guard lock(mutex);
                ms.push_back(r.kind == CallResult::Kind::Packet ? took : 1e9);
            }
        });
    }
    for (auto& t : quickOnes)
        t.join();
    for (auto& t : runs)
        t.join();
    ASSERT_GT(ms.size(), 100u) << server.log();
    std::sort(ms.begin(), ms.end());
    const double p99 = ms[ms.size() * 99 / 100];
    EXPECT_LT(p99, 50.0) << ms.size() << " calls, p50 " << ms[ms.size() / 2] << " ms";
    for (const auto& r : runResults)
        EXPECT_EQ(r.size(), 10u) << "every run consolidates: " << r;
}

}  // namespace rqc::test
