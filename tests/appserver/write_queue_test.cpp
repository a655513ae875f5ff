// Writers of one SQLite file wait their turn in the server instead of failing on the
// database's busy timeout: first come, first served, and refused only when the queue is full.

#include "appserver/write_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "appserver/dispatcher.h"
#include "appserver/object_registry.h"
#include "appserver/rdm_consolida_solicita.h"
#include "appserver/worker_connection.h"
#include "consolidation_test_support.h"

namespace rqc::test {
namespace {

using namespace std::chrono_literals;
using protocol::Argument;
using protocol::CallResult;

bool waitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 500 && !done(); ++i)
        std::this_thread::sleep_for(10ms);
    return done();
}

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
    queue.acquire();
    std::mutex mutex;
    std::vector<int> served;
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&, i] {
            appserver::WriteTurn turn(queue);
            std::lock_guard lock(mutex);
            served.push_back(i);
        });
        ASSERT_TRUE(waitFor([&] { return queue.waiting() == static_cast<std::size_t>(i + 1); }));
    }
    EXPECT_THROW(appserver::WriteTurn{queue}, appserver::ServerBusyError);
    EXPECT_EQ(queue.waiting(), 3u);
    queue.release();
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(served, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(queue.waiting(), 0u);
    appserver::WriteTurn again(queue);  // free again
}

// Sixteen large runs at once on one SQLite file, each on its own worker connection. A short
// busy timeout scales the ten seconds of production down to these runs' length.
TEST(WriteQueue, SixteenConcurrentSqliteConsolidationsAllComplete) {
    ConsolidationDb db(DbKind::Sqlite);
    loadManyLines(*db.connect(), 500, 10);

    appserver::ObjectRegistry registry;
    appserver::registerRdmConsolidaSolicita(registry);
    appserver::Dispatcher dispatcher(registry);
    std::vector<Argument> args = baselineArguments();
    arg(args, 6).text = "";
    arg(args, 11).text = "T";  // every run takes every line again

    constexpr int kRuns = 16;
    std::mutex mutex;
    std::vector<std::string> numbers, errors;
    std::vector<std::thread> threads;
    for (int i = 0; i < kRuns; ++i) {
        threads.emplace_back([&] {
            appserver::WorkerConnection worker(db.target());
            worker.get().exec("PRAGMA busy_timeout = 20");
            protocol::CallRequest call;
            call.object = std::string(appserver::kRdmConsolidaSolicita);
            call.user = "tester";
            call.descriptor = protocol::CallDescriptor::forArguments("GetConsSoli", args);
            call.args = args;
            const appserver::ConnectionState state{
                "127.0.0.1:1", "tester", {std::string(appserver::kRdmConsolidaSolicita)}};
            CallResult r = dispatcher.dispatch(call, worker, state);
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

}  // namespace rqc::test
