// qryCentComp finds the same central purchasing branch on each engine the suite runs on:
// SQLite and PostgreSQL with the generic text, Firebird with SQL_IB.

#include <gtest/gtest.h>

#include <QUrl>

#include "pg_database.h"
#include "screen/components.h"
#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/firebird.h"
#include "suitedb/schema.h"
#include "support/qt_fixture.h"
#include "temp_dir.h"

using namespace rqc04100;

namespace {

struct Expected {
    const char* branch;
    const char* central;  // "" when the query yields no row
    const char* why;
};

const Expected kCases[] = {
    {"0002", "0001", "served by central 0001"},
    {"0013", "0011", "served by central 0011"},
    {"0001", "0001", "empty CDFILCENTCMP: its own central"},
    {"0011", "0011", "empty CDFILCENTCMP: its own central"},
    {"0019", "", "its central 0099 is not in FILIAL"},
    {"9999", "", "not in FILIAL"},
};

std::string centralName(const rqc::suitedb::MasterData& demo, const std::string& code) {
    for (const auto& b : demo.branches) {
        if (b.code == code)
            return b.name;
    }
    return {};
}

// Runs qryCentComp as the screen declares it for every case on the open data module.
void expectCentralBranches(TdtmDBGeral& module, const rqc::suitedb::MasterData& demo,
                           const QString& expectedText) {
    const QueryDefinition& def = qryCentCompDefinition();
    TADOIBQuery q;
    q.Connection = &module;
    q.SQL = def.sql;
    q.SQL_ORACLE = def.sqlOracle;
    q.SQL_MSSQL = def.sqlMssql;
    q.SQL_IB = def.sqlIb;
    for (const FieldDefinition& f : def.fields)
        q.AddField(f.name, f.size);
    EXPECT_EQ(q.ActiveText(), expectedText);
    for (const Expected& c : kCases) {
        q.Close();
        q.ParamByName("P_CDFILIAL")->SetAsString(c.branch);
        q.Open();
        if (*c.central == '\0') {
            EXPECT_TRUE(q.IsEmpty()) << c.branch << ": " << c.why;
            continue;
        }
        ASSERT_EQ(q.RecordCount(), 1) << c.branch << ": " << c.why;
        EXPECT_EQ(q.FieldByName("CDFILCENTCMP")->AsString().trimmed(), c.central) << c.why;
        EXPECT_EQ(q.FieldByName("NMFILIAL_CENTRAL")->AsString().toStdString(),
                  centralName(demo, c.central));
    }
}

class CentralBranch : public ::testing::Test {
  protected:
    void SetUp() override { rqc::test::application(); }
    rqc::suitedb::Date today = rqc::suitedb::localToday();
    rqc::suitedb::MasterData demo = rqc::suitedb::demoMasterData(today);
};

TEST_F(CentralBranch, FoundOnSqlite) {
    rqc::test::TempDir dir;
    {
        auto db = rqc::suitedb::Connection::open(dir.file("suite.db"));
        rqc::suitedb::applySchema(*db);
        rqc::suitedb::loadDemo(*db, today);
    }
    vlm::HostConfig config;
    config.dbPath = QString::fromStdString(dir.file("suite.db"));
    TdtmDBGeral module;
    module.Open(config);
    expectCentralBranches(module, demo, qryCentCompDefinition().sql.join('\n'));
}

TEST_F(CentralBranch, FoundOnPostgres) {
    rqc::test::PgDatabase pg;
    RQC_SKIP_WITHOUT_PG(pg);
    {
        auto db = rqc::suitedb::Connection::open(pg.url());
        rqc::suitedb::applySchema(*db);
        rqc::suitedb::loadDemo(*db, today);
    }
    const QUrl url(QString::fromStdString(pg.url()));
    vlm::HostConfig config;
    config.engine = vlm::DbEngine::Postgres;
    config.dbHost = url.host();
    config.dbPort = url.port(5432);
    config.dbName = url.path().mid(1);
    config.dbUser = url.userName().isEmpty() ? QStringLiteral("postgres") : url.userName();
    config.dbPassword = url.password();
    TdtmDBGeral module;
    module.Open(config);
    expectCentralBranches(module, demo, qryCentCompDefinition().sql.join('\n'));
}

TEST_F(CentralBranch, FoundOnFirebirdWithTheInterBaseText) {
    rqc::test::TempDir dir;
    const std::string file = dir.file("suite.fdb");
    rqc::suitedb::createFirebirdDatabase(file, &demo);
    vlm::HostConfig config;
    config.engine = vlm::DbEngine::Firebird;
    config.dbPath = QString::fromStdString(file);
    config.dbUser = QStringLiteral("SYSDBA");
    config.dbPassword = QStringLiteral("masterkey");
    TdtmDBGeral module;
    module.Open(config);
    expectCentralBranches(module, demo, qryCentCompDefinition().sqlIb.join('\n'));
}

}  // namespace
