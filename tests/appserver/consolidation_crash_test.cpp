// A real rqc-appserver killed with SIGKILL at random points of large consolidations: each
// consolidation is found whole or not at all, and the numbering has no gap.

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "consolidation_test_support.h"
#include "protocol/client.h"
#include "server_process.h"
#include "suitedb/demo_data.h"

namespace rqc::test {
namespace {

using protocol::Argument;
using Clock = std::chrono::steady_clock;

constexpr std::int64_t kLines = 40'000;
constexpr int kKills = 5;

const suitedb::Date kToday = suitedb::parseIsoDate("2024-06-01");

// Every line of central 0001, taken again at each run, so that every run is equally large.
std::vector<Argument> everyLineOfCentral1() {
    std::vector<Argument> a = baselineArguments();
    arg(a, 6).text = "";
    arg(a, 8) = date(2024, 1, 1);
    arg(a, 9) = date(2024, 12, 31);
    arg(a, 11).text = "T";
    return a;
}

protocol::CallRequest consSoliCall() {
    protocol::CallRequest call;
    call.object = "Rqc04100.rdmConsolidaSolicita";
    call.user = "crash";
    call.args = everyLineOfCentral1();
    call.descriptor = protocol::CallDescriptor::forArguments("GetConsSoli", call.args);
    return call;
}

struct RunOutcome {
    bool answered = false;
    std::string number;
    std::string failure;
};

// Starts a server, calls GetConsSoli and, when killAfter is set, kills the server that long
// after the call went out.
RunOutcome runAndMaybeKill(const ConsolidationDb& db, const TempDir& dir,
                           std::optional<std::chrono::milliseconds> killAfter,
                           std::chrono::milliseconds* took = nullptr) {
    ServerProcess::Options options;
    options.db = db.target();
    options.workDir = dir.path().string();
    ServerProcess server(options);
    server.start();

    RunOutcome out;
    test::TestClient client;
    client.connect("127.0.0.1", server.port());
    auto started = Clock::now();
    std::thread caller([&] {
        try {
            protocol::CallResult r = client.call(consSoliCall());
            out.answered = true;
            if (r.kind == protocol::CallResult::Kind::Text) {
                out.number = r.text;
            } else {
                out.failure = r.text;
            }
        } catch (const protocol::TransportError& e) {
            out.failure = e.what();
        }
    });
    if (killAfter) {
        std::this_thread::sleep_for(*killAfter);
        server.kill();
    }
    caller.join();
    if (took)
        *took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
    if (!killAfter)
        server.terminate();
    return out;
}

class ConsolidationCrash : public ::testing::TestWithParam<DbKind> {};

TEST_P(ConsolidationCrash, KilledServerLeavesEachConsolidationWholeOrAbsent) {
    if (std::getenv("RQC_BIN_DIR") == nullptr ||
        !std::filesystem::exists(ServerProcess::binary("rqc-appserver"))) {
        GTEST_SKIP() << "rqc-appserver is not built";
    }
    ConsolidationDb db(GetParam());
    if (!db.available())
        GTEST_SKIP() << "RQC_TEST_PG_URL not set";
    {
        auto conn = db.connect();
        suitedb::generateLarge(*conn, kLines, kToday);
    }
    TempDir dir;

    // One undisturbed run gives the size of a consolidation and how long it takes.
    std::chrono::milliseconds full{0};
    RunOutcome first = runAndMaybeKill(db, dir, std::nullopt, &full);
    ASSERT_TRUE(first.answered) << first.failure;
    ASSERT_EQ(first.number.size(), 10u) << first.failure;
    auto conn = db.connect();
    const std::int64_t linesPerRun =
        scalar(*conn, "SELECT COUNT(*) FROM ITCONSSOLIORIG WHERE NRCONSSOLI = ?", {first.number});
    ASSERT_GT(linesPerRun, 5'000);

    std::mt19937 rng(std::random_device{}());
    int killedMidway = 0;
    for (int i = 0; i < kKills; ++i) {
        auto delay = std::chrono::milliseconds(
            std::uniform_int_distribution<long>(full.count() / 20, full.count())(rng));
        RunOutcome r = runAndMaybeKill(db, dir, delay);
        if (!r.answered)
            ++killedMidway;
    }
    RunOutcome last = runAndMaybeKill(db, dir, std::nullopt);
    ASSERT_TRUE(last.answered) << last.failure;
    ASSERT_EQ(last.number.size(), 10u) << last.failure;

    conn = db.connect();
    EXPECT_EQ(consistencyFaults(*conn), "");
    // Every consolidation that exists is whole: all its lines linked, product lines present.
    EXPECT_EQ(unwholeConsolidations(*conn, linesPerRun), 0);
    // Numbers 1..n without gaps, the last one being the last run's.
    std::int64_t headers = scalar(*conn, "SELECT COUNT(*) FROM CONSSOLI");
    EXPECT_EQ(scalar(*conn, "SELECT NRULTIMO FROM NUMERACAO WHERE CDSEQUENCIA = 'CONSSOLI'"),
              headers);
    EXPECT_EQ(std::stoll(last.number), headers);
    EXPECT_EQ(scalar(*conn, "SELECT COUNT(*) FROM ITSOLICMP WHERE NRCONSSOLI = ?", {last.number}),
              linesPerRun);
    RecordProperty("killed_midway", killedMidway);
    EXPECT_GT(killedMidway, 0) << "no kill landed during a consolidation";
}

INSTANTIATE_TEST_SUITE_P(Engines, ConsolidationCrash,
                         ::testing::Values(DbKind::Sqlite, DbKind::Postgres), engineCaseName);

}  // namespace
}  // namespace rqc::test
