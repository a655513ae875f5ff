// EstornaConsSoli: marks go back one consolidation at a time, refusals change nothing, a run
// holding the branch makes it give up in bounded time, and concurrent runs and reversals
// leave every mark naming the latest consolidation of its line that is not reversed.

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <random>
#include <thread>

#include "appserver/argument_error.h"
#include "appserver/consolidation_engine.h"
#include "appserver/consultation.h"
#include "appserver/reversal.h"
#include "consolidation_test_support.h"

namespace rqc::test {
namespace {

using appserver::runEstornaConsSoli;
using appserver::runGetConsSoli;
using protocol::Argument;

std::string table(suitedb::Connection& db, const std::string& sql) {
    std::string out;
    auto c = db.query(sql);
    while (c->next()) {
        for (int i = 0; i < c->columnCount(); ++i)
            out += (c->isNull(i) ? std::string("<null>") : std::string(c->text(i))) + "|";
        out += "\n";
    }
    return out;
}

std::string marks(suitedb::Connection& db) {
    return table(db,
                 "SELECT CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM, NRCONSSOLI FROM ITSOLICMP"
                 " ORDER BY CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM");
}

std::string links(suitedb::Connection& db, const std::string& nr) {
    return table(db,
                 "SELECT CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM, CDPRODUTO FROM ITCONSSOLIORIG"
                 " WHERE NRCONSSOLI = '" +
                     nr + "' ORDER BY CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM");
}

// Lines whose mark is not the latest consolidation linking them that is not reversed, and
// product lines whose links do not add up.
std::int64_t markFaults(suitedb::Connection& db) {
    return scalar(db,
                  "SELECT COUNT(*) FROM ITSOLICMP it WHERE COALESCE(it.NRCONSSOLI, '') <>"
                  " COALESCE((SELECT MAX(o.NRCONSSOLI) FROM ITCONSSOLIORIG o JOIN CONSSOLI c"
                  " ON c.NRCONSSOLI = o.NRCONSSOLI WHERE c.IDSITUACAO <> 'E' AND"
                  " o.CDFILSOLI = it.CDFILSOLI AND o.CDFILLANCA = it.CDFILLANCA AND"
                  " o.NRSOLICMP = it.NRSOLICMP AND o.NRITEM = it.NRITEM), '')") +
           scalar(db,
                  "SELECT COUNT(*) FROM ITCONSSOLI ic WHERE ABS(ic.QTSOLICITADA - COALESCE((SELECT"
                  " SUM(o.QTSOLICITADA) FROM ITCONSSOLIORIG o WHERE o.NRCONSSOLI = ic.NRCONSSOLI"
                  " AND o.CDPRODUTO = ic.CDPRODUTO), 0)) > 0.0005");
}

std::string refusal(suitedb::Connection& db, const std::string& nr) {
    try {
        runEstornaConsSoli(db, nr, "carla");
    } catch (const appserver::ArgumentError& e) {
        return e.what();
    }
    return "";
}

std::vector<Argument> takeAgain() {
    std::vector<Argument> a = baselineArguments();
    arg(a, 11).text = "T";
    return a;
}

using Reversal = SmallDataSetTest;

TEST_P(Reversal, ReversedLinesAreTakenAgainByTheNextRun) {
    suitedb::Connection& db = *m_conn;
    const std::string before = marks(db);
    ASSERT_EQ(runGetConsSoli(db, baselineArguments(), "ana"), "0000000101");
    EXPECT_EQ(runEstornaConsSoli(db, "101", "carla"), "6");
    EXPECT_EQ(marks(db), before);
    EXPECT_EQ(table(db,
                    "SELECT IDSITUACAO, NMUSUESTORNO, CASE WHEN DTESTORNO IS NULL THEN 0 ELSE 1 "
                    "END FROM CONSSOLI WHERE"
                    " NRCONSSOLI = '0000000101'"),
              "E|carla|1|\n");
    ASSERT_EQ(runGetConsSoli(db, baselineArguments(), "ana"), "0000000102");
    EXPECT_EQ(links(db, "0000000102"), links(db, "0000000101"));
    EXPECT_EQ(links(db, "0000000101").size() > 0, true);
    EXPECT_EQ(markFaults(db), 0);
}

TEST_P(Reversal, LinesTakenTwiceGoBackOneConsolidationAtATime) {
    suitedb::Connection& db = *m_conn;
    const std::string original = marks(db);  // two lines of the set carry the open 0000000077
    ASSERT_EQ(runGetConsSoli(db, takeAgain(), "ana"), "0000000101");
    const std::string afterFirst = marks(db);
    ASSERT_EQ(runGetConsSoli(db, takeAgain(), "ana"), "0000000102");
    EXPECT_EQ(runEstornaConsSoli(db, "0000000102", "carla"), "8");
    EXPECT_EQ(marks(db), afterFirst);
    EXPECT_EQ(runEstornaConsSoli(db, "0000000101", "carla"), "8");
    EXPECT_EQ(marks(db), original);
    // The other order: the first one's lines all carry the second's mark, and a reversed
    // consolidation is never given back.
    ASSERT_EQ(runGetConsSoli(db, takeAgain(), "ana"), "0000000103");
    ASSERT_EQ(runGetConsSoli(db, takeAgain(), "ana"), "0000000104");
    EXPECT_EQ(runEstornaConsSoli(db, "103", "carla"), "0");
    EXPECT_EQ(runEstornaConsSoli(db, "104", "carla"), "8");
    EXPECT_EQ(marks(db), original);
    EXPECT_EQ(markFaults(db), 0);
}

TEST_P(Reversal, RefusalsNameTheReasonAndChangeNothing) {
    suitedb::Connection& db = *m_conn;
    ASSERT_EQ(runGetConsSoli(db, baselineArguments(), "ana"), "0000000101");
    ASSERT_EQ(runEstornaConsSoli(db, "101", "carla"), "6");
    const std::string before = snapshot(db);
    const std::pair<const char*, const char*> cases[] = {
        {"", "de 1 a 10 algarismos"},
        {"12345678901", "de 1 a 10 algarismos"},
        {"10 1", "de 1 a 10 algarismos"},
        {"-101", "de 1 a 10 algarismos"},
        {"555", "A consolidação 0000000555 não existe."},
        {"78", "A consolidação 0000000078 não está aberta (situação Fechada)"},
        {"101", "A consolidação 0000000101 já foi estornada."},
    };
    for (const auto& [number, expected] : cases) {
        EXPECT_NE(refusal(db, number).find(expected), std::string::npos)
            << "'" << number << "': " << refusal(db, number);
    }
    EXPECT_EQ(snapshot(db), before);
}

TEST_P(Reversal, AReversedConsolidationNoLongerCountsAsOpen) {
    suitedb::Connection& db = *m_conn;
    std::vector<Argument> a = takeAgain();
    arg(a, 16).text = "S";
    std::vector<Argument> firstRequest = takeAgain();
    arg(firstRequest, 14).text = "";
    arg(firstRequest, 15).text = "000200020000000001";
    ASSERT_EQ(runGetConsSoli(db, firstRequest, "ana"), "0000000101");  // P1 10, P2 5, P3 4
    auto openP1 = [&] {
        protocol::DataPacket p = appserver::getConsSoliPrevia(db, a);
        for (std::size_t r = 0; r < p.rowCount(); ++r) {
            if (p.cell(r, 0) == "P1")
                return *p.cell(r, p.fieldIndex("QTCONSABERTA"));
        }
        return std::string("P1 dropped out");
    };
    EXPECT_EQ(openP1(), "16");  // 0000000077's 6 and 0000000101's 10
    ASSERT_EQ(runEstornaConsSoli(db, "101", "carla"), "3");
    EXPECT_EQ(openP1(), "6");
}

TEST_P(Reversal, GivesUpInBoundedTimeWhileARunHoldsTheBranch) {
    suitedb::Connection& db = *m_conn;
    ASSERT_EQ(runGetConsSoli(db, baselineArguments(), "ana"), "0000000101");
    const std::string before = snapshot(db);
    {
        auto other = m_db->connect();
        suitedb::Transaction held(*other);
        if (GetParam() == DbKind::Postgres) {
            other
                ->query("SELECT pg_advisory_xact_lock(?, hashtext('0001'))",
                        {std::int64_t{appserver::kBranchLockClass}})
                ->next();
        }
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(refusal(db, "101"),
                  "Há uma consolidação da filial central 0001 em andamento; tente o estorno "
                  "novamente em instantes.");
        EXPECT_LT(std::chrono::steady_clock::now() - start,
                  std::chrono::milliseconds(appserver::kReversalLockWaitMs + 3000));
    }
    EXPECT_EQ(snapshot(db), before);
    EXPECT_EQ(runEstornaConsSoli(db, "101", "carla"), "6");
}

// Threads on their own connections run "N" and "T" consolidations over overlapping windows
// and reverse random earlier ones; refusals for a reversed or busy consolidation are fine.
TEST_P(Reversal, ConcurrentRunsAndReversalsKeepMarksAndLinksConsistent) {
    suitedb::Connection& db = *m_conn;
    {
        suitedb::Transaction tx(db);
        for (int r = 1; r <= 120; ++r) {
            char nr[16], day[16];
            std::snprintf(nr, sizeof nr, "%010d", 1000 + r);
            std::snprintf(day, sizeof day, "2024-03-%02d", 1 + r % 28);
            std::string branch = r % 2 ? "0002" : "0003";
            db.execute(
                "INSERT INTO SOLICMP (CDFILSOLI, CDFILLANCA, NRSOLICMP, DTENTREGA) VALUES"
                " (?, ?, ?, ?)",
                {branch, branch, std::string(nr), std::string(day)});
            for (int i = 1; i <= 5; ++i) {
                db.execute(
                    "INSERT INTO ITSOLICMP (CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM,"
                    " CDPRODUTO, QTSOLICITADA) VALUES (?, ?, ?, ?, ?, ?)",
                    {branch, branch, std::string(nr), std::int64_t{i},
                     std::string("P") + std::to_string(1 + (r + i) % 4),
                     std::int64_t{1 + (r * i) % 7}});
            }
        }
        tx.commit();
    }
    std::mutex mutex;
    std::vector<std::string> numbers, errors;
    int reversed = 0;
    std::vector<std::thread> pool;
    for (int t = 0; t < 6; ++t) {
        pool.emplace_back([&, t] {
            try {
                auto conn = m_db->connect();
                std::mt19937 rng(50 + t);
                for (int i = 0; i < 10; ++i) {
                    std::string victim;
                    {
                        std::lock_guard lock(mutex);
                        if (!numbers.empty() && rng() % 2 == 0)
                            victim = numbers[rng() % numbers.size()];
                    }
                    if (!victim.empty()) {
                        std::string why = refusal(*conn, victim);
                        std::lock_guard lock(mutex);
                        if (why.empty())
                            ++reversed;
                        else if (why.find("já foi estornada") == std::string::npos &&
                                 why.find("em andamento") == std::string::npos)
                            errors.push_back(why);
                        continue;
                    }
                    std::vector<Argument> a = baselineArguments();
                    int first = 1 + static_cast<int>(rng() % 25);
                    arg(a, 8) = date(2024, 3, first);
                    arg(a, 9) = date(2024, 3, first + 2 + static_cast<int>(rng() % 5));
                    arg(a, 11).text = rng() % 3 == 0 ? "T" : "N";
                    std::string n = runGetConsSoli(*conn, a, "t" + std::to_string(t));
                    std::lock_guard lock(mutex);
                    if (!n.empty())
                        numbers.push_back(n);
                }
            } catch (const std::exception& e) {
                std::lock_guard lock(mutex);
                errors.push_back(e.what());
            }
        });
    }
    for (auto& th : pool)
        th.join();
    EXPECT_EQ(errors, std::vector<std::string>{});
    EXPECT_GT(reversed, 0);
    EXPECT_EQ(scalar(db, "SELECT COUNT(*) FROM CONSSOLI WHERE IDSITUACAO = 'E'"), reversed);
    EXPECT_EQ(markFaults(db), 0);
    // A last "N" run over the month takes every line whose consolidations are all reversed.
    std::int64_t free = scalar(db,
                               "SELECT COUNT(*) FROM ITSOLICMP it JOIN SOLICMP s ON s.CDFILSOLI ="
                               " it.CDFILSOLI AND s.CDFILLANCA = it.CDFILLANCA AND s.NRSOLICMP ="
                               " it.NRSOLICMP WHERE it.NRCONSSOLI IS NULL AND it.CDFILSOLI <>"
                               " '0010' AND s.DTENTREGA <= '2024-03-31'");
    std::string last = runGetConsSoli(db, baselineArguments(), "last");
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(scalar(db, "SELECT COUNT(*) FROM ITCONSSOLIORIG WHERE NRCONSSOLI = '" + last + "'"),
              free);
    EXPECT_EQ(markFaults(db), 0);
}

INSTANTIATE_TEST_SUITE_P(Engines, Reversal, ::testing::Values(DbKind::Sqlite, DbKind::Postgres),
                         engineCaseName);

}  // namespace
}  // namespace rqc::test
