// Upgrading real version-1 databases: by applySchema, by `rqc-suitedb migrate`, and the
// server's refusal of a database older than it needs.

#include <gtest/gtest.h>

#include <string>

#include "engine_fixture.h"
#include "suitedb/dates.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"
#include "support/command.h"
#include "support/server_process.h"

namespace rqc::suitedb {
namespace {

using testing::EngineTest;

using Outcome = test::CommandOutcome;

Outcome run(const std::string& program, const std::string& args) {
    return test::runCommand("'" + test::ServerProcess::binary(program) + "' " + args);
}

class SchemaMigration : public EngineTest {
  protected:
    // A version-1 database with generated data and some lines already marked.
    void SetUp() override {
        EngineTest::SetUp();
        if (IsSkipped())
            return;
        applySchemaUpTo(db(), 1);
        generateLarge(db(), 4000, parseIsoDate("2024-03-15"));
        db().exec("UPDATE ITSOLICMP SET NRCONSSOLI = '0000000007' WHERE NRITEM = 1");
    }
    bool pg() const { return GetParam() == Engine::Postgres; }
    std::int64_t markIndexes() {
        return count(pg() ? "SELECT COUNT(*) FROM pg_indexes WHERE indexname = "
                            "'ix_itsolicmp_nrconssoli'"
                          : "SELECT COUNT(*) FROM sqlite_master WHERE name = "
                            "'IX_ITSOLICMP_NRCONSSOLI'");
    }
    // Everything the upgrade must keep, as one text.
    std::string fingerprint() {
        return text(
            "SELECT CAST(COUNT(*) AS VARCHAR(20)) || '/' || CAST(COUNT(NRCONSSOLI) AS "
            "VARCHAR(20)) || '/' || CAST(CAST(SUM(QTSOLICITADA) * 1000 AS BIGINT) AS "
            "VARCHAR(30)) || '/' || CAST((SELECT COUNT(*) FROM SOLICMP) AS VARCHAR(20)) || '/' || "
            "CAST((SELECT COUNT(*) FROM PRODUTO) AS VARCHAR(20)) FROM ITSOLICMP");
    }
};

TEST_P(SchemaMigration, UpgradesVersionOneInPlaceKeepingEveryRow) {
    ASSERT_EQ(schemaVersion(db()), 1);
    ASSERT_EQ(markIndexes(), 1);
    const std::string before = fingerprint();

    EXPECT_EQ(applySchema(db()), 1);
    EXPECT_EQ(schemaVersion(db()), kSchemaVersion);
    EXPECT_EQ(markIndexes(), 0);
    EXPECT_EQ(fingerprint(), before);

    EXPECT_EQ(applySchema(db()), kSchemaVersion);
    EXPECT_EQ(count("SELECT COUNT(*) FROM SCHEMA_VERSION"), kSchemaVersion);
    EXPECT_EQ(fingerprint(), before);
}

// Version 6: '' becomes null where null is the meaning; what cannot be decided refuses the
// whole upgrade, naming the rows, and a corrected database then upgrades.
TEST_P(SchemaMigration, VersionSixMendsEmptyCodesAndRefusesWhatItCannotDecide) {
    applySchemaUpTo(db(), 5);
    const std::string before = fingerprint();
    const std::int64_t centrals = count("SELECT COUNT(*) FROM FILIAL WHERE CDFILCENTCMP IS NULL");
    db().exec("UPDATE FILIAL SET CDFILCENTCMP = '' WHERE CDFILCENTCMP IS NULL");
    db().exec("UPDATE ITSOLICMP SET NRCONSSOLI = '' WHERE NRCONSSOLI IS NULL");
    db().exec(
        "UPDATE ESTOQUE SET QTESTOQUE = -1 WHERE CDPRODUTO = (SELECT MIN(CDPRODUTO)"
        " FROM ESTOQUE)");
    try {
        applySchema(db());
        ADD_FAILURE() << "a negative stock was upgraded";
    } catch (const DbError& e) {
        EXPECT_NE(std::string(e.what()).find("ESTOQUE.QTESTOQUE = '-1"), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(schemaVersion(db()), 5);
    EXPECT_EQ(count("SELECT COUNT(*) FROM FILIAL WHERE CDFILCENTCMP = ''"), centrals);

    db().exec("UPDATE ESTOQUE SET QTESTOQUE = 0 WHERE QTESTOQUE < 0");
    EXPECT_EQ(applySchema(db()), 5);
    EXPECT_EQ(count("SELECT COUNT(*) FROM FILIAL WHERE CDFILCENTCMP IS NULL"), centrals);
    EXPECT_EQ(count("SELECT COUNT(*) FROM ITSOLICMP WHERE NRCONSSOLI = ''"), 0);
    EXPECT_EQ(fingerprint(), before);
    EXPECT_THROW(db().exec("UPDATE ITSOLICMP SET NRCONSSOLI = '' WHERE NRITEM = 2"), DbError);
}

TEST_P(SchemaMigration, BulkLoadBuildsTheIndexesOfTheDatabasesOwnVersion) {
    struct Case {
        int version;
        std::int64_t markIndexes;
    };
    for (Case k : {Case{1, 1}, Case{kSchemaVersion, 0}}) {
        applySchemaUpTo(db(), k.version);
        clearData(db());
        generateLarge(db(), 500, parseIsoDate("2024-03-15"));
        EXPECT_EQ(markIndexes(), k.markIndexes) << "version " << k.version;
    }
}

TEST_P(SchemaMigration, ToolUpgradesOnceAndRefusesANewerDatabase) {
    Outcome r = run("rqc-suitedb", "migrate --db '" + target() + "'");
    EXPECT_EQ(r.exit, 0) << r.output;
    EXPECT_NE(r.output.find("from version 1 to " + std::to_string(kSchemaVersion)),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("rqc-suitedb operator add --db"), std::string::npos) << r.output;
    EXPECT_EQ(markIndexes(), 0);

    r = run("rqc-suitedb", "migrate --db '" + target() + "'");
    EXPECT_EQ(r.exit, 0) << r.output;
    EXPECT_NE(r.output.find("already at version " + std::to_string(kSchemaVersion)),
              std::string::npos)
        << r.output;

    db().execute("INSERT INTO SCHEMA_VERSION (VERSAO) VALUES (?)",
                 {std::int64_t{kSchemaVersion + 1}});
    const std::string before = fingerprint();
    r = run("rqc-suitedb", "migrate --db '" + target() + "'");
    EXPECT_EQ(r.exit, 1) << r.output;
    EXPECT_NE(r.output.find("newer than version"), std::string::npos) << r.output;
    EXPECT_EQ(schemaVersion(db()), kSchemaVersion + 1);
    EXPECT_EQ(fingerprint(), before);
}

TEST_P(SchemaMigration, ServerRefusesAnOlderSchemaAndNamesTheUpgradeCommand) {
    Outcome r = run("rqc-appserver", "--db '" + target() + "' --listen 127.0.0.1:0");
    EXPECT_EQ(r.exit, 2) << "a schema to migrate, not a failure to restart on: " << r.output;
    EXPECT_NE(r.output.find("schema version 1"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("rqc-suitedb migrate --db"), std::string::npos) << r.output;
    EXPECT_EQ(schemaVersion(db()), 1);
}

RQC_ON_BOTH_ENGINES(SchemaMigration);

// After the upgrade every stored line has room on its own page, so marking half of them is
// done in place (no new index entries); before it, or without the rewrite, it is not.
TEST(PostgresSchemaMigration, MarksOfUpgradedLinesAreUpdatesInPlace) {
    rqc::test::PgDatabase pg;
    RQC_SKIP_WITHOUT_PG(pg);
    auto c = Connection::open(pg.url());
    applySchemaUpTo(*c, 1);
    generateLarge(*c, 4000, parseIsoDate("2024-03-15"));
    applySchema(*c);

    Transaction tx(*c);
    std::int64_t marked =
        c->execute("UPDATE ITSOLICMP SET NRCONSSOLI = '0000000001' WHERE NRITEM % 2 = 0");
    auto hot =
        c->query("SELECT pg_stat_get_xact_tuples_hot_updated(CAST('itsolicmp' AS regclass))");
    ASSERT_TRUE(hot->next());
    EXPECT_GT(marked, 1000);
    EXPECT_EQ(hot->int64(0), marked);
}

}  // namespace
}  // namespace rqc::suitedb
