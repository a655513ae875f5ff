// Many runGetConsSoli calls at once, each thread on its own connection, over overlapping
// filters: no line is taken twice by "N" runs, and every consolidation stays whole.

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "appserver/consolidation_engine.h"
#include "consolidation_test_support.h"

namespace rqc::test {
namespace {

using protocol::Argument;

constexpr int kBranches = 8;
constexpr int kProducts = 40;
constexpr int kRequests = 300;
constexpr int kItemsPerRequest = 8;

// Central 0001 serving 0002..0009; requests spread over March 2024; quantities 1..9.
void loadLines(suitedb::Connection& db) {
    suitedb::Transaction tx(db);
    db.exec(
        "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, DTPROCESSAMENTO) VALUES ('0001', 'Central', "
        "'2024-03-01')");
    for (int b = 2; b <= kBranches + 1; ++b) {
        db.execute(
            "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDFILCENTCMP, DTPROCESSAMENTO) VALUES (?, "
            "?, '0001', '2024-03-01')",
            {"000" + std::to_string(b), "Loja " + std::to_string(b)});
    }
    for (int p = 1; p <= kProducts; ++p) {
        std::string code = "P" + std::to_string(100 + p);
        db.execute("INSERT INTO PRODUTO (CDPRODUTO, CDARVPROD, NMPRODUTO) VALUES (?, ?, ?)",
                   {code, "T" + code, "Produto " + code});
    }
    std::mt19937 rng(7);
    for (int r = 1; r <= kRequests; ++r) {
        std::string branch = "000" + std::to_string(2 + r % kBranches);
        char number[16];
        std::snprintf(number, sizeof number, "%010d", r);
        char day[16];
        std::snprintf(day, sizeof day, "2024-03-%02d", 1 + r % 31);
        db.execute(
            "INSERT INTO SOLICMP (CDFILSOLI, CDFILLANCA, NRSOLICMP, DTENTREGA) VALUES (?, ?, ?, ?)",
            {branch, branch, std::string(number), std::string(day)});
        for (int i = 1; i <= kItemsPerRequest; ++i) {
            std::string product = "P" + std::to_string(101 + static_cast<int>(rng() % kProducts));
            db.execute(
                "INSERT INTO ITSOLICMP (CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM, CDPRODUTO,"
                " QTSOLICITADA) VALUES (?, ?, ?, ?, ?, ?)",
                {branch, branch, std::string(number), std::int64_t{i}, product,
                 std::int64_t{1 + static_cast<int>(rng() % 9)}});
        }
    }
    tx.commit();
}

std::vector<Argument> windowArguments(int firstDay, int days, const std::string& which,
                                      const std::string& branches) {
    std::vector<Argument> a = baselineArguments();
    arg(a, 4).text = branches;
    arg(a, 6).text = "";
    arg(a, 8) = date(2024, 3, firstDay);
    arg(a, 9) = date(2024, 3, std::min(31, firstDay + days - 1));
    arg(a, 11).text = which;
    return a;
}

struct RunLog {
    std::mutex mutex;
    std::vector<std::string> numbers;
    std::vector<std::string> errors;
};

// Each thread runs `runs` consolidations over random overlapping windows of the month.
void runThreads(const ConsolidationDb& db, int threads, int runs, bool mixTakeAgain, RunLog& log) {
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            try {
                auto conn = db.connect();
                std::mt19937 rng(1000 + t);
                for (int i = 0; i < runs; ++i) {
                    int first = 1 + static_cast<int>(rng() % 28);
                    int days = 3 + static_cast<int>(rng() % 10);
                    std::string which = mixTakeAgain && rng() % 3 == 0 ? "T" : "N";
                    std::string branches = rng() % 2 == 0 ? "" : "0002,0003,0004,0005";
                    std::string n = appserver::runGetConsSoli(
                        *conn, windowArguments(first, days, which, branches),
                        "t" + std::to_string(t));
                    if (!n.empty()) {
                        std::lock_guard lock(log.mutex);
                        log.numbers.push_back(n);
                    }
                }
            } catch (const std::exception& e) {
                std::lock_guard lock(log.mutex);
                log.errors.push_back(e.what());
            }
        });
    }
    for (auto& th : pool)
        th.join();
}

// Committed numbers are 1..n without gaps or repeats.
void expectGaplessNumbers(std::vector<std::string> numbers) {
    std::sort(numbers.begin(), numbers.end());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        char expected[24];
        std::snprintf(expected, sizeof expected, "%010zu", i + 1);
        ASSERT_EQ(numbers[i], expected);
    }
}

// The loaded lines on the engine of the case; run() has its threads consolidate them.
class ConsolidationConcurrency : public ::testing::TestWithParam<std::tuple<DbKind, int>> {
  protected:
    void SetUp() override {
        if (!m_db.available())
            GTEST_SKIP() << "RQC_TEST_PG_URL not set";
        conn = m_db.connect();
        loadLines(*conn);
    }
    // About `total` runs over the case's threads, which end without errors and number their
    // consolidations without gaps.
    void run(int total, bool mixTakeAgain, RunLog& log) {
        runThreads(m_db, threads, total / threads + 2, mixTakeAgain, log);
        ASSERT_EQ(log.errors, std::vector<std::string>{});
        expectGaplessNumbers(log.numbers);
    }

    const int threads = std::get<1>(GetParam());
    std::unique_ptr<suitedb::Connection> conn;

  private:
    ConsolidationDb m_db{std::get<0>(GetParam())};
};

TEST_P(ConsolidationConcurrency, TwoRunsNeverTakeTheSameLine) {
    RunLog log;
    ASSERT_NO_FATAL_FAILURE(run(96, false, log));
    ASSERT_FALSE(log.numbers.empty());

    EXPECT_EQ(scalar(*conn,
                     "SELECT COUNT(*) FROM (SELECT CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM FROM"
                     " ITCONSSOLIORIG GROUP BY CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM"
                     " HAVING COUNT(*) > 1) twice"),
              0);
    EXPECT_EQ(consistencyFaults(*conn), "");

    // A last run over the whole month takes exactly the lines nobody took.
    std::int64_t untaken = scalar(*conn, "SELECT COUNT(*) FROM ITSOLICMP WHERE NRCONSSOLI IS NULL");
    std::string last = appserver::runGetConsSoli(*conn, windowArguments(1, 31, "N", ""), "last");
    EXPECT_EQ(last.empty(), untaken == 0);
    EXPECT_EQ(scalar(*conn, "SELECT COUNT(*) FROM ITSOLICMP WHERE NRCONSSOLI IS NULL"), 0);
    EXPECT_EQ(scalar(*conn, "SELECT COUNT(*) FROM ITCONSSOLIORIG"), kRequests * kItemsPerRequest);
    EXPECT_EQ(scalar(*conn,
                     "SELECT CAST(ROUND((SELECT SUM(QTSOLICITADA) FROM ITCONSSOLI)"
                     " - (SELECT SUM(QTSOLICITADA) FROM ITSOLICMP), 3) * 1000 AS INTEGER)"),
              0);
    EXPECT_EQ(consistencyFaults(*conn), "");
}

TEST_P(ConsolidationConcurrency, RunsTakingLinesAgainKeepTheLatestMark) {
    RunLog log;
    ASSERT_NO_FATAL_FAILURE(run(48, true, log));
    EXPECT_EQ(consistencyFaults(*conn), "");
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<DbKind, int>>& info) {
    return kindName(std::get<0>(info.param)) + std::to_string(std::get<1>(info.param)) + "Threads";
}

INSTANTIATE_TEST_SUITE_P(Engines, ConsolidationConcurrency,
                         ::testing::Combine(::testing::Values(DbKind::Sqlite, DbKind::Postgres),
                                            ::testing::Values(2, 8, 32)),
                         caseName);

}  // namespace
}  // namespace rqc::test
