#include "suitedb/demo_data.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "engine_fixture.h"
#include "suitedb/schema.h"

namespace rqc::suitedb {
namespace {

using testing::EngineTest;

const Date kToday = parseIsoDate("2024-03-15");

class DemoDataTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        if (IsSkipped())
            return;
        applySchema(db());
        m_summary = loadDemo(db(), kToday);
    }
    LoadSummary m_summary;
};

TEST_P(DemoDataTest, SpecialBranchesAreAsDescribed) {
    struct Case {
        const char* code;
        const char* rescinded;
        const char* region;
        const char* function;
        const char* central;
        bool parameters;
    };
    const Case cases[] = {
        {"0001", "N", "001", "C", "(null)", true},  // central purchasing
        {"0011", "N", "002", "C", "(null)", true},  // central purchasing
        {"0002", "N", "001", "L", "0001", true},    // served by 0001
        {"0012", "N", "002", "L", "0011", true},    // served by 0011
        {"0018", "N", "002", "L", "0011", true},
        {"0005", "N", "001", "O", "0001", true},     // OL branch
        {"0009", "S", "001", "L", "0001", true},     // rescinded
        {"0010", "N", "(null)", "L", "0001", true},  // no region
        {"0019", "N", "003", "L", "0099", true},     // central missing
        {"0020", "N", "003", "L", "0011", false},    // no purchase parameters
    };
    for (const auto& c : cases) {
        const std::vector<Param> key = {std::string(c.code)};
        EXPECT_EQ(text("SELECT IDCNTRRESC FROM FILIAL WHERE CDFILIAL = ?", key), c.rescinded)
            << c.code;
        EXPECT_EQ(text("SELECT CDREGIAO FROM FILIAL WHERE CDFILIAL = ?", key), c.region) << c.code;
        EXPECT_EQ(text("SELECT IDFUNCAOFILI FROM FILIAL WHERE CDFILIAL = ?", key), c.function)
            << c.code;
        EXPECT_EQ(text("SELECT CDFILCENTCMP FROM FILIAL WHERE CDFILIAL = ?", key), c.central)
            << c.code;
        EXPECT_EQ(count("SELECT COUNT(*) FROM PARCMPSUP WHERE CDFILIAL = ?", key),
                  c.parameters ? 1 : 0)
            << c.code;
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM FILIAL WHERE CDFILIAL = '0099'"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM FILIAL WHERE CDFILCENTCMP = '0001'"), 9);
    EXPECT_EQ(count("SELECT COUNT(*) FROM FILIAL WHERE CDFILCENTCMP = '0011'"), 8);
    EXPECT_EQ(count("SELECT COUNT(*) FROM PARAMOL WHERE CDFILIAL = '0005'"),
              m_summary.rows("PARAMOL"));
    EXPECT_GT(m_summary.rows("PARAMOL"), 1000);
}

TEST_P(DemoDataTest, BranchesHaveProcessingDatesOfTodayOrTheDayBefore) {
    EXPECT_EQ(count("SELECT COUNT(*) FROM FILIAL"), 20);
    EXPECT_EQ(count("SELECT COUNT(*) FROM FILIAL WHERE DTPROCESSAMENTO = ?", {isoDate(kToday)}),
              17);
    EXPECT_EQ(count("SELECT COUNT(*) FROM FILIAL WHERE DTPROCESSAMENTO = '2024-03-14'"), 3);
}

TEST_P(DemoDataTest, OperatorsBuyersAndProductsAreConsistent) {
    EXPECT_EQ(count("SELECT COUNT(*) FROM COMPRADOR"), 50);
    EXPECT_EQ(count("SELECT COUNT(*) FROM COMPRADOR WHERE CDOPERADOR LIKE 'COMP___'"), 50);
    EXPECT_GT(count("SELECT COUNT(*) FROM OPERADOR WHERE CDOPERADOR NOT IN "
                    "(SELECT CDOPERADOR FROM COMPRADOR)"),
              0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM PRODUTO"), 2000);
    EXPECT_EQ(count("SELECT COUNT(*) FROM PRODUTO WHERE CDCOMPRADOR IS NULL"), 0);
    EXPECT_EQ(count("SELECT COUNT(DISTINCT CDCOMPRADOR) FROM PRODUTO"), 50);
    std::int64_t withOrigin = count("SELECT COUNT(*) FROM PRODUTO WHERE CDPRODORIG IS NOT NULL");
    EXPECT_GT(withOrigin, 120);
    EXPECT_LT(withOrigin, 280);
    // An origin product is a root: chains are one step long.
    EXPECT_EQ(count("SELECT COUNT(*) FROM PRODUTO P JOIN PRODUTO O ON O.CDPRODUTO = P.CDPRODORIG "
                    "WHERE O.CDPRODORIG IS NOT NULL"),
              0);
    const std::regex code("[0-9]{10}");
    const std::regex tree("[0-9]{2}\\.[0-9]{2}\\.[0-9]{3}\\.[0-9]{4}");
    auto c = db().query("SELECT CDPRODUTO, CDARVPROD FROM PRODUTO");
    int rows = 0;
    while (c->next()) {
        ++rows;
        ASSERT_TRUE(std::regex_match(std::string(c->text(0)), code)) << c->text(0);
        ASSERT_TRUE(std::regex_match(std::string(c->text(1)), tree)) << c->text(1);
    }
    EXPECT_EQ(rows, 2000);
    EXPECT_EQ(count("SELECT COUNT(DISTINCT SUBSTR(CDARVPROD, 1, 2)) FROM PRODUTO"), 10);
}

TEST_P(DemoDataTest, RequestsHaveOneToEightLinesWithinThirtyDaysOfToday) {
    EXPECT_EQ(count("SELECT COUNT(*) FROM SOLICMP"), 2000);
    EXPECT_EQ(count("SELECT COUNT(*) FROM SOLICMP WHERE DTENTREGA < '2024-02-14' OR "
                    "DTENTREGA > '2024-04-14' OR DTSOLICITACAO >= DTENTREGA"),
              0);
    EXPECT_EQ(count("SELECT MIN(N) FROM (SELECT COUNT(*) AS N FROM ITSOLICMP "
                    "GROUP BY CDFILSOLI, CDFILLANCA, NRSOLICMP) X"),
              1);
    EXPECT_EQ(count("SELECT MAX(N) FROM (SELECT COUNT(*) AS N FROM ITSOLICMP "
                    "GROUP BY CDFILSOLI, CDFILLANCA, NRSOLICMP) X"),
              8);
    EXPECT_EQ(count("SELECT COUNT(*) FROM (SELECT 1 FROM ITSOLICMP "
                    "GROUP BY CDFILSOLI, CDFILLANCA, NRSOLICMP) X"),
              2000);
    EXPECT_EQ(count("SELECT COUNT(*) FROM ITSOLICMP I LEFT JOIN PRODUTO P ON "
                    "P.CDPRODUTO = I.CDPRODUTO WHERE P.CDPRODUTO IS NULL"),
              0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM ITSOLICMP WHERE NRCONSSOLI IS NOT NULL OR "
                    "QTSOLICITADA <= 0"),
              0);
    EXPECT_EQ(count("SELECT COUNT(DISTINCT CDFILSOLI) FROM SOLICMP"), 20);
    EXPECT_GT(count("SELECT COUNT(*) FROM SOLICMP WHERE CDFILLANCA <> CDFILSOLI"), 0);
}

TEST_P(DemoDataTest, StockAfLimitsAndNumberingAreInPlace) {
    EXPECT_GT(count("SELECT COUNT(DISTINCT DTESTOQUE) FROM ESTOQUE WHERE CDFILIAL = '0001'"), 1);
    EXPECT_GT(count("SELECT COUNT(*) FROM ESTOQUE WHERE CDFILIAL NOT IN ('0001', '0011')"), 0);
    EXPECT_GT(count("SELECT COUNT(*) FROM AUTFORN WHERE IDSITUACAO = 'A'"), 0);
    EXPECT_GT(count("SELECT COUNT(*) FROM AUTFORN WHERE IDSITUACAO = 'F'"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM AUTFORN WHERE CDFILIAL NOT IN ('0001', '0011') OR "
                    "QTRECEBIDA > QTAUTORIZADA"),
              0);
    EXPECT_GT(count("SELECT COUNT(*) FROM LIMSEGFIL WHERE CDFILIAL = '0011'"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM CONSSOLI"), 0);
    EXPECT_EQ(count("SELECT NRULTIMO FROM NUMERACAO WHERE CDSEQUENCIA = 'CONSSOLI'"), 0);
}

TEST_P(DemoDataTest, LoadingTwiceIsRefusedAndWritesNothing) {
    std::int64_t before = count("SELECT COUNT(*) FROM ITSOLICMP");
    try {
        loadDemo(db(), kToday);
        FAIL() << "loaded twice";
    } catch (const DbError& e) {
        EXPECT_NE(std::string(e.what()).find("already holds data"), std::string::npos);
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM ITSOLICMP"), before);
}

RQC_ON_BOTH_ENGINES(DemoDataTest);

TEST(DemoData, IsTheSameOnEveryLoad) {
    rqc::test::TempDir dir;
    std::string fingerprint[2];
    for (int i = 0; i < 2; ++i) {
        auto c = Connection::open(dir.file("demo" + std::to_string(i) + ".db"));
        applySchema(*c);
        loadDemo(*c, kToday);
        auto cur = c->query(
            "SELECT (SELECT group_concat(CDPRODUTO || NRITEM || QTSOLICITADA, ',') FROM "
            "ITSOLICMP), "
            "(SELECT group_concat(CDPRODUTO || QTESTOQUE, ',') FROM ESTOQUE)");
        ASSERT_TRUE(cur->next());
        fingerprint[i] = std::string(cur->text(0)) + "|" + std::string(cur->text(1));
    }
    EXPECT_EQ(fingerprint[0], fingerprint[1]);
}

TEST(DemoData, CreateDemoDatabaseMakesOnlyNewFilesAndLeavesNothingOfAFailedOne) {
    namespace fs = std::filesystem;
    rqc::test::TempDir dir;
    const std::string made = dir.file("var/suite.db");
    EXPECT_GT(createDemoDatabase(made, kToday).rows("FILIAL"), 0);
    EXPECT_EQ(schemaVersion(*Connection::open(made)), kSchemaVersion);

    const auto size = fs::file_size(made);
    EXPECT_THROW(createDemoDatabase(made, kToday), DbError);
    EXPECT_EQ(fs::file_size(made), size);

    // SQLite cannot make its write-ahead log where a folder of that name stands.
    const std::string failed = dir.file("failed.db");
    fs::create_directories(failed + "-wal/keep");
    EXPECT_ANY_THROW(createDemoDatabase(failed, kToday));
    EXPECT_FALSE(fs::exists(failed));
}

TEST(DemoData, NeedsTheSchemaFirst) {
    rqc::test::TempDir dir;
    auto c = Connection::open(dir.file("bare.db"));
    EXPECT_THROW(loadDemo(*c, kToday), DbError);
}

}  // namespace
}  // namespace rqc::suitedb
