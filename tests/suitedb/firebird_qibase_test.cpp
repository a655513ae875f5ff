// The Firebird database as the screen reads it: through Qt's QIBASE driver, embedded.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDate>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "suitedb/firebird.h"
#include "support/temp_dir.h"

namespace rqc::suitedb {
namespace {

class FirebirdQibase : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "firebird_qibase_test";
        static char* argv[] = {name, nullptr};
        if (QCoreApplication::instance() == nullptr)
            new QCoreApplication(argc, argv);
    }
    static void TearDownTestSuite() { EXPECT_TRUE(shutdownFirebirdEngine()); }
    void SetUp() override {
        m_path = m_dir.file("suite.fdb");
        MasterData data = demoMasterData(parseIsoDate("2024-03-15"));
        createFirebirdDatabase(m_path, &data);
        m_db = QSqlDatabase::addDatabase("QIBASE", "fb");
        m_db.setDatabaseName(QString::fromStdString(m_path));
        m_db.setUserName("SYSDBA");
        m_db.setPassword("embedded");
        ASSERT_TRUE(m_db.open()) << m_db.lastError().text().toStdString();
    }
    void TearDown() override {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase("fb");
    }

    rqc::test::TempDir m_dir;
    std::string m_path;
    QSqlDatabase m_db;
};

TEST_F(FirebirdQibase, CentralPurchasingLookUpFindsTheCentralOfEachBranch) {
    QSqlQuery q(m_db);
    ASSERT_TRUE(q.prepare(
        "SELECT\n  CAST(NVLSTR(FILIAL.CDFILCENTCMP, FILIAL.CDFILIAL) AS VARCHAR(4)) AS "
        "CDFILCENTCMP,\n  FILCENT.NMFILIAL AS NMFILIAL_CENTRAL\nFROM\n  FILIAL FILCENT,\n  "
        "FILIAL\nWHERE\n  FILIAL.CDFILIAL = :P_CDFILIAL AND\n  NVLSTR(FILIAL.CDFILCENTCMP, "
        "FILIAL.CDFILIAL) = FILCENT.CDFILIAL"))
        << q.lastError().text().toStdString();
    struct Case {
        const char* branch;
        const char* central;
        const char* name;  // "" when no row
    };
    const Case cases[] = {
        {"0013", "0011", "Central Compras Curitiba"},
        {"0001", "0001", "Central Compras São Paulo"},
        {"0007", "0001", "Central Compras São Paulo"},
        {"0019", "", ""},  // its central 0099 is missing
    };
    for (const auto& c : cases) {
        q.bindValue(":P_CDFILIAL", c.branch);
        ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
        if (*c.name == '\0') {
            EXPECT_FALSE(q.next()) << c.branch;
            continue;
        }
        ASSERT_TRUE(q.next()) << c.branch;
        EXPECT_EQ(q.value(0).toString().toStdString(), c.central);
        EXPECT_EQ(q.value(1).toString().toStdString(), c.name);
    }
}

TEST_F(FirebirdQibase, HoldsTheDemoRowsOfTheFourTables) {
    const std::pair<const char*, int> tables[] = {
        {"FILIAL", 20}, {"OPERADOR", 56}, {"COMPRADOR", 50}, {"PRODUTO", 2000}};
    for (const auto& [table, rows] : tables) {
        QSqlQuery q(QString("SELECT COUNT(*) FROM ") + table, m_db);
        ASSERT_TRUE(q.next()) << table;
        EXPECT_EQ(q.value(0).toInt(), rows) << table;
    }
    QSqlQuery p(
        "SELECT CDARVPROD, NMPRODUTO, CDCOMPRADOR FROM PRODUTO WHERE CDPRODUTO = "
        "'0000000001'",
        m_db);
    ASSERT_TRUE(p.next());
    EXPECT_EQ(p.value(0).toString().toStdString(), "01.01.001.0001");
    EXPECT_EQ(p.value(2).toString().toStdString(), "COMP001");
    QSqlQuery d("SELECT DTPROCESSAMENTO FROM FILIAL WHERE CDFILIAL = '0003'", m_db);
    ASSERT_TRUE(d.next());
    EXPECT_EQ(d.value(0).toDate().toString(Qt::ISODate).toStdString(), "2024-03-14");
}

}  // namespace
}  // namespace rqc::suitedb
