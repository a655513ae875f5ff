#include "suitedb/schema.h"

#include <gtest/gtest.h>

#include "engine_fixture.h"

namespace rqc::suitedb {
namespace {

using testing::EngineTest;

class SchemaTest : public EngineTest {};

TEST_P(SchemaTest, FreshDatabaseHasVersionZeroAndGetsTheCurrentVersion) {
    EXPECT_EQ(schemaVersion(db()), 0);
    EXPECT_EQ(applySchema(db()), 0);
    EXPECT_EQ(schemaVersion(db()), kSchemaVersion);
    EXPECT_EQ(count("SELECT COUNT(*) FROM SCHEMA_VERSION"), kSchemaVersion);
}

TEST_P(SchemaTest, EveryTableHasItsDocumentedColumns) {
    applySchema(db());
    const char* tables[][2] = {
        {"FILIAL",
         "CDFILIAL, NMFILIAL, IDCNTRRESC, CDREGIAO, IDFUNCAOFILI, CDFILCENTCMP, DTPROCESSAMENTO"},
        {"OPERADOR", "CDOPERADOR, NMOPERADOR"},
        {"COMPRADOR", "CDOPERADOR"},
        {"PRODUTO", "CDPRODUTO, CDARVPROD, NMPRODUTO, CDCOMPRADOR, CDPRODORIG"},
        {"PARCMPSUP", "CDFILIAL, IDUTPRODPREF, QTDIASCOBERTURA"},
        {"SOLICMP", "CDFILSOLI, CDFILLANCA, NRSOLICMP, DTSOLICITACAO, DTENTREGA, CDOPERADOR"},
        {"ITSOLICMP",
         "CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM, CDPRODUTO, QTSOLICITADA, "
         "NRCONSSOLI"},
        {"ESTOQUE", "CDFILIAL, CDPRODUTO, DTESTOQUE, QTESTOQUE"},
        {"AUTFORN", "NRAUTFORN, CDPRODUTO, CDFILIAL, QTAUTORIZADA, QTRECEBIDA, IDSITUACAO"},
        {"LIMSEGFIL", "CDFILIAL, CDPRODUTO, QTLIMITESEG"},
        {"PARAMOL", "CDFILIAL, CDPRODUTO, QTMULTIPLO, QTMINIMA"},
        {"CONSSOLI",
         "NRCONSSOLI, CDFILIAL, CDFILCENTCMP, CDFILEST, CDARVPRODINI, CDARVPRODFIN, "
         "DTENTREGAINI, DTENTREGAFIN, DTPROCESTOQUE, LSTCOMPRADOR, LSTFILIAL, LSTSOLICIT, "
         "IDCONSESTOQUE, IDCONSSOLI, IDPRODORIG, IDTODASSOLI, IDCONSSOLIABERTA, IDCONSAF, "
         "IDLIMITESEG, IDPARAMOL, IDSITUACAO, DTGERACAO, NMUSUARIO"},
        {"ITCONSSOLI",
         "NRCONSSOLI, CDPRODUTO, QTSOLICITADA, QTLIMITESEG, QTESTOQUE, QTAF, "
         "QTCONSABERTA, QTARREDONDA, QTCONSOLIDADA"},
        {"ITCONSSOLIORIG",
         "NRCONSSOLI, CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM, CDPRODUTO, QTSOLICITADA"},
        {"NUMERACAO", "CDSEQUENCIA, NRULTIMO"},
        {"SCHEMA_VERSION", "VERSAO, DTAPLICACAO"},
    };
    for (const auto& t : tables) {
        auto c = db().query(std::string("SELECT ") + t[1] + " FROM " + t[0] + " WHERE 1 = 0");
        EXPECT_FALSE(c->next()) << t[0];
    }
    EXPECT_EQ(count("SELECT NRULTIMO FROM NUMERACAO WHERE CDSEQUENCIA = 'CONSSOLI'"), 0);
}

TEST_P(SchemaTest, ApplyingTwiceChangesNothing) {
    applySchema(db());
    db().execute("INSERT INTO FILIAL (CDFILIAL, NMFILIAL, DTPROCESSAMENTO) VALUES (?, ?, ?)",
                 {std::string("0001"), std::string("Central"), std::string("2024-03-15")});
    EXPECT_EQ(applySchema(db()), kSchemaVersion);
    EXPECT_EQ(count("SELECT COUNT(*) FROM FILIAL"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM SCHEMA_VERSION"), kSchemaVersion);
}

TEST_P(SchemaTest, NewerDatabaseIsRefusedAndLeftAlone) {
    applySchema(db());
    db().execute("INSERT INTO SCHEMA_VERSION (VERSAO, DTAPLICACAO) VALUES (?, CURRENT_TIMESTAMP)",
                 {std::int64_t{kSchemaVersion + 1}});
    try {
        applySchema(db());
        FAIL() << "a newer schema was accepted";
    } catch (const DbError& e) {
        const std::string expected = "schema version " + std::to_string(kSchemaVersion + 1) +
                                     ", newer than version " + std::to_string(kSchemaVersion);
        EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
    }
    EXPECT_EQ(schemaVersion(db()), kSchemaVersion + 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM SCHEMA_VERSION"), kSchemaVersion + 1);
}

TEST_P(SchemaTest, ForeignKeysOfTheSchemaHold) {
    applySchema(db());
    EXPECT_THROW(db().execute("INSERT INTO COMPRADOR (CDOPERADOR) VALUES ('NOBODY')"), DbError);
    db().execute("INSERT INTO OPERADOR (CDOPERADOR, NMOPERADOR) VALUES ('COMP001', 'Ana')");
    db().execute("INSERT INTO COMPRADOR (CDOPERADOR) VALUES ('COMP001')");
    EXPECT_THROW(db().execute("INSERT INTO PRODUTO (CDPRODUTO, CDARVPROD, CDCOMPRADOR) "
                              "VALUES ('0000000001', '01', 'OPER999')"),
                 DbError);
    EXPECT_THROW(db().execute("INSERT INTO PRODUTO (CDPRODUTO, CDARVPROD, CDPRODORIG) "
                              "VALUES ('0000000001', '01', '0000000099')"),
                 DbError);
    db().execute("INSERT INTO PRODUTO (CDPRODUTO, CDARVPROD) VALUES ('0000000001', '01')");
    EXPECT_THROW(db().execute("INSERT INTO PRODUTO (CDPRODUTO, CDARVPROD) "
                              "VALUES ('0000000002', '01')"),
                 DbError)
        << "CDARVPROD must be unique";
}

TEST_P(SchemaTest, NvlstrGivesTheFirstNonNullText) {
    applySchema(db());
    struct Case {
        Param a, b;
        const char* expected;
    };
    const Case cases[] = {
        {std::string("0001"), std::string("0002"), "0001"},
        {nullptr, std::string("0002"), "0002"},
        {std::string(""), std::string("0002"), ""},
        {nullptr, nullptr, "(null)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text("SELECT CAST(NVLSTR(CAST(? AS VARCHAR(4)), CAST(? AS VARCHAR(4))) AS "
                       "VARCHAR(4))",
                       {c.a, c.b}),
                  c.expected);
    }
    db().execute(
        "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDFILCENTCMP, DTPROCESSAMENTO) VALUES "
        "('0001', 'Central', NULL, '2024-03-15'), ('0002', 'Loja', '0001', '2024-03-15')");
    // The central-purchasing look-up as the screen runs it.
    auto cur = db().query(
        "SELECT\n  CAST(NVLSTR(FILIAL.CDFILCENTCMP, FILIAL.CDFILIAL) AS VARCHAR(4)) AS "
        "CDFILCENTCMP,\n  FILCENT.NMFILIAL AS NMFILIAL_CENTRAL\nFROM \n  FILIAL FILCENT,\n  "
        "FILIAL \nWHERE\n  FILIAL.CDFILIAL = ? AND\n  NVLSTR(FILIAL.CDFILCENTCMP, "
        "FILIAL.CDFILIAL) = FILCENT.CDFILIAL",
        {std::string("0002")});
    ASSERT_TRUE(cur->next());
    EXPECT_EQ(cur->columnName(0), "CDFILCENTCMP");
    EXPECT_EQ(cur->text(0), "0001");
    EXPECT_EQ(cur->text(1), "Central");
}

TEST_P(SchemaTest, ClearDataEmptiesTablesAndResetsNumbering) {
    applySchema(db());
    EXPECT_FALSE(hasData(db()));
    db().execute("INSERT INTO OPERADOR (CDOPERADOR, NMOPERADOR) VALUES ('OPER001', 'x')");
    db().execute("UPDATE NUMERACAO SET NRULTIMO = 7");
    EXPECT_TRUE(hasData(db()));
    clearData(db());
    EXPECT_FALSE(hasData(db()));
    EXPECT_EQ(count("SELECT NRULTIMO FROM NUMERACAO WHERE CDSEQUENCIA = 'CONSSOLI'"), 0);
    EXPECT_EQ(schemaVersion(db()), kSchemaVersion);
}

TEST_P(SchemaTest, RequestIndexesExistAndCanBeRebuilt) {
    applySchema(db());
    const std::string sql =
        GetParam() == Engine::Sqlite
            ? "SELECT COUNT(*) FROM sqlite_master WHERE type = 'index' AND name IN "
              "('IX_SOLICMP_DTENTREGA', 'IX_ITSOLICMP_CDPRODUTO', 'IX_ITCONSSOLIORIG_ITEM')"
            : "SELECT COUNT(*) FROM pg_indexes WHERE indexname IN ('ix_solicmp_dtentrega', "
              "'ix_itsolicmp_cdproduto', 'ix_itconssoliorig_item')";
    EXPECT_EQ(count(sql), 3);
    dropRequestIndexes(db());
    EXPECT_EQ(count(sql), 0);
    createRequestIndexes(db());
    EXPECT_EQ(count(sql), 3);
}

TEST(PostgresSchema, RequestLinesLeaveRoomForUpdatesInPlace) {
    rqc::test::PgDatabase pg;
    RQC_SKIP_WITHOUT_PG(pg);
    auto c = Connection::open(pg.url());
    applySchema(*c);
    auto cur = c->query(
        "SELECT array_to_string(reloptions, ',') FROM pg_class "
        "WHERE relname = 'itsolicmp'");
    ASSERT_TRUE(cur->next());
    EXPECT_EQ(cur->text(0), "fillfactor=50");
}

RQC_ON_BOTH_ENGINES(SchemaTest);

}  // namespace
}  // namespace rqc::suitedb
