#pragma once
// Fixtures of the consolidation tests: a fresh suite database on either engine, a small
// hand-made data set with known answers, GetConsSoli arguments, and whole-database checks.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pg_database.h"
#include "protocol/protocol.h"
#include "suitedb/connection.h"
#include "temp_dir.h"

namespace rqc::test {

enum class DbKind { Sqlite, Postgres };

// A fresh database with the schema applied, on a SQLite file or a throwaway PostgreSQL
// database. available() is false when PostgreSQL is asked for but not configured.
class ConsolidationDb {
  public:
    explicit ConsolidationDb(DbKind kind);
    bool available() const;
    const std::string& target() const { return m_target; }
    std::unique_ptr<suitedb::Connection> connect() const;

  private:
    TempDir m_dir;
    std::unique_ptr<PgDatabase> m_pg;
    std::string m_target;
};

// A case's name of an engine: "Sqlite" or "Postgres".
std::string kindName(DbKind kind);
inline std::string engineCaseName(const ::testing::TestParamInfo<DbKind>& info) {
    return kindName(info.param);
}

// GetConsSoli arguments: the hand-made set's baseline (central branch 0001, March 2024,
// every product, every option off, "N" lines only, all requests).
std::vector<protocol::Argument> baselineArguments();
// Argument n (1-based) of a GetConsSoli argument vector.
protocol::Argument& arg(std::vector<protocol::Argument>& args, int n);
protocol::Argument date(int y, int m, int d);

// Branches 0001 (central), 0002, 0003 (served by 0001), 0009 (central) and 0010 (served by
// 0009); products P1..P4 (P3's origin is P1); requests R1..R5 with stock, AF, safety limits,
// OL parameters and earlier consolidations around them. See the .cpp for the figures.
void loadSmallDataSet(suitedb::Connection& db);

// The hand-made set on a fresh database of the case's engine; skipped where PostgreSQL is
// asked for but not configured.
class SmallDataSetTest : public ::testing::TestWithParam<DbKind> {
  protected:
    void SetUp() override;

    std::unique_ptr<ConsolidationDb> m_db;
    std::unique_ptr<suitedb::Connection> m_conn;
};

// Consolidated quantity per product of one consolidated request.
std::map<std::string, double> consolidatedQuantities(suitedb::Connection& db,
                                                     const std::string& number);
// One term ("QTESTOQUE", ...) per product.
std::map<std::string, double> term(suitedb::Connection& db, const std::string& number,
                                   const std::string& column);

// Every row of every table of the schema, as text: equal snapshots mean equal databases.
std::string snapshot(suitedb::Connection& db);

// Checks the consistency of every consolidation in the database and returns "" when it holds,
// otherwise what is broken: links point to existing lines, every line's mark names the
// latest consolidation that linked it, linked quantities add up to each product line's
// QTSOLICITADA, and each product line's sum of terms equals its QTCONSOLIDADA.
std::string consistencyFaults(suitedb::Connection& db);

// Consolidations not whole: without product lines, or linking other than `linesPerRun` lines.
std::int64_t unwholeConsolidations(suitedb::Connection& db, std::int64_t linesPerRun);

std::int64_t scalar(suitedb::Connection& db, const std::string& sql,
                    const std::vector<suitedb::Param>& params = {});

}  // namespace rqc::test
