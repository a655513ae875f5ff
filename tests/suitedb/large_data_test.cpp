#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"

namespace rqc::suitedb {
namespace {

using testing::EngineTest;

const Date kToday = parseIsoDate("2024-03-15");
constexpr std::int64_t kLines = 20'000;

class LargeDataTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        if (IsSkipped())
            return;
        applySchema(db());
        m_summary = generateLarge(db(), kLines, kToday);
    }
    // Lines of the requesting branches that central serves.
    std::int64_t linesOfCentral(const std::string& central) {
        return count(
            "SELECT COUNT(*) FROM ITSOLICMP I JOIN FILIAL F ON F.CDFILIAL = I.CDFILSOLI "
            "WHERE NVLSTR(F.CDFILCENTCMP, F.CDFILIAL) = ?",
            {central});
    }
    LoadSummary m_summary;
};

TEST_P(LargeDataTest, GeneratesExactlyTheLinesAskedFor) {
    EXPECT_EQ(m_summary.rows("ITSOLICMP"), kLines);
    EXPECT_EQ(count("SELECT COUNT(*) FROM ITSOLICMP"), kLines);
    EXPECT_EQ(count("SELECT COUNT(*) FROM SOLICMP"), m_summary.rows("SOLICMP"));
    EXPECT_EQ(count("SELECT MAX(N) FROM (SELECT COUNT(*) AS N FROM ITSOLICMP "
                    "GROUP BY CDFILSOLI, CDFILLANCA, NRSOLICMP) X"),
              20);
    EXPECT_EQ(count("SELECT COUNT(*) FROM SOLICMP S WHERE NOT EXISTS (SELECT 1 FROM ITSOLICMP I "
                    "WHERE I.CDFILSOLI = S.CDFILSOLI AND I.CDFILLANCA = S.CDFILLANCA AND "
                    "I.NRSOLICMP = S.NRSOLICMP)"),
              0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM ITSOLICMP I LEFT JOIN PRODUTO P ON "
                    "P.CDPRODUTO = I.CDPRODUTO WHERE P.CDPRODUTO IS NULL"),
              0);
}

TEST_P(LargeDataTest, FourCentralsEachServeAQuarterOfTheLines) {
    EXPECT_EQ(count("SELECT COUNT(*) FROM FILIAL"), 200);
    EXPECT_EQ(count("SELECT COUNT(*) FROM FILIAL WHERE CDFILCENTCMP IS NULL AND "
                    "IDFUNCAOFILI = 'C'"),
              4);
    for (const char* central : {"0001", "0002", "0003", "0004"}) {
        EXPECT_EQ(linesOfCentral(central), kLines / 4) << central;
    }
}

TEST_P(LargeDataTest, AQuarterOfTheDeliveryDatesSelectsAQuarterOfTheLines) {
    EXPECT_EQ(text("SELECT MIN(DTENTREGA) FROM SOLICMP"), "2024-01-15");
    EXPECT_EQ(text("SELECT MAX(DTENTREGA) FROM SOLICMP"), "2024-05-13");
    std::int64_t window = count(
        "SELECT COUNT(*) FROM ITSOLICMP I JOIN SOLICMP S ON S.CDFILSOLI = I.CDFILSOLI AND "
        "S.CDFILLANCA = I.CDFILLANCA AND S.NRSOLICMP = I.NRSOLICMP "
        "WHERE S.DTENTREGA BETWEEN '2024-02-14' AND '2024-03-14'");
    EXPECT_GT(window, kLines * 22 / 100);
    EXPECT_LT(window, kLines * 28 / 100);
}

TEST_P(LargeDataTest, SideTablesArePopulatedInProportion) {
    EXPECT_EQ(count("SELECT COUNT(*) FROM PRODUTO"), kLines / 20);
    EXPECT_EQ(count("SELECT COUNT(*) FROM ESTOQUE WHERE CDFILIAL = '0001'"), 2 * kLines / 20);
    EXPECT_GT(m_summary.rows("AUTFORN"), kLines / 50);
    EXPECT_GT(m_summary.rows("LIMSEGFIL"), 0);
    EXPECT_EQ(count("SELECT COUNT(DISTINCT CDFILIAL) FROM PARAMOL"), 4);
    EXPECT_EQ(count("SELECT COUNT(*) FROM FILIAL F JOIN PARAMOL P ON P.CDFILIAL = F.CDFILIAL "
                    "WHERE F.IDFUNCAOFILI <> 'O'"),
              0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM PARCMPSUP"), 200);
}

TEST_P(LargeDataTest, RequestIndexesAreBackAfterTheLoad) {
    const std::string sql =
        GetParam() == Engine::Sqlite
            ? "SELECT COUNT(*) FROM sqlite_master WHERE type = 'index' AND name LIKE 'IX_%'"
            : "SELECT COUNT(*) FROM pg_indexes WHERE indexname LIKE 'ix\\_%'";
    EXPECT_EQ(count(sql), 8);
}

RQC_ON_BOTH_ENGINES(LargeDataTest);

TEST(LargeData, RefusesZeroLines) {
    rqc::test::TempDir dir;
    auto c = Connection::open(dir.file("x.db"));
    applySchema(*c);
    EXPECT_THROW(generateLarge(*c, 0, kToday), DbError);
    EXPECT_FALSE(hasData(*c));
}

}  // namespace
}  // namespace rqc::suitedb
