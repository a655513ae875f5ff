#pragma once
// A fresh database per test on each engine: a SQLite file in a temp folder, or a new
// PostgreSQL database on RQC_TEST_PG_URL (skipped when none is configured).

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "suitedb/connection.h"
#include "support/pg_database.h"
#include "support/temp_dir.h"

namespace rqc::suitedb::testing {

class EngineTest : public ::testing::TestWithParam<Engine> {
  protected:
    void SetUp() override {
        if (GetParam() == Engine::Postgres) {
            m_pg.emplace();
            if (!m_pg->available())
                GTEST_SKIP() << "RQC_TEST_PG_URL not set";
            m_target = m_pg->url();
        } else {
            m_target = m_dir.file("suite.db");
        }
        m_db = Connection::open(m_target);
    }

    Connection& db() { return *m_db; }
    const std::string& target() const { return m_target; }

    std::int64_t count(const std::string& sql, const std::vector<Param>& params = {}) {
        auto c = m_db->query(sql, params);
        EXPECT_TRUE(c->next()) << sql;
        return c->int64(0);
    }
    std::string text(const std::string& sql, const std::vector<Param>& params = {}) {
        auto c = m_db->query(sql, params);
        EXPECT_TRUE(c->next()) << sql;
        return c->isNull(0) ? "(null)" : std::string(c->text(0));
    }

    rqc::test::TempDir m_dir;
    std::optional<rqc::test::PgDatabase> m_pg;
    std::string m_target;
    std::unique_ptr<Connection> m_db;
};

inline std::string engineName(const ::testing::TestParamInfo<Engine>& info) {
    return info.param == Engine::Sqlite ? "Sqlite" : "Postgres";
}

}  // namespace rqc::suitedb::testing

#define RQC_ON_BOTH_ENGINES(Suite)                                                           \
    INSTANTIATE_TEST_SUITE_P(                                                                \
        Engines, Suite,                                                                      \
        ::testing::Values(::rqc::suitedb::Engine::Sqlite, ::rqc::suitedb::Engine::Postgres), \
        ::rqc::suitedb::testing::engineName)
