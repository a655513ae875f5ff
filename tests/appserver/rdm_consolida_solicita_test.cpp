#include "appserver/rdm_consolida_solicita.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "appserver/argument_error.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"
#include "support/pg_database.h"
#include "support/temp_dir.h"

namespace {

using namespace rqc;
using appserver::ArgumentError;
using protocol::Argument;
using protocol::DataPacket;

enum class Engine { Sqlite, Postgres };

std::string engineName(const ::testing::TestParamInfo<Engine>& info) {
    return info.param == Engine::Sqlite ? "Sqlite" : "Postgres";
}

double day(int y, int m, int d, double fraction = 0) {
    return protocol::dateFromYmd(y, m, d) + fraction;
}

std::vector<Argument> solicitacaoArgs(double d1, double d2, std::string list, std::string all) {
    return {Argument::ofDate(d1), Argument::ofDate(d2), Argument::byRef(std::move(list)),
            Argument::byRef(std::move(all))};
}

std::vector<std::string> column(const DataPacket& p, const char* field) {
    const int col = p.fieldIndex(field);
    EXPECT_GE(col, 0) << field;
    std::vector<std::string> out;
    for (std::size_t r = 0; r < p.rowCount(); ++r)
        out.push_back(p.cell(r, col).value_or("<null>"));
    return out;
}

class RdmConsolidaSolicita : public ::testing::TestWithParam<Engine> {
  protected:
    void SetUp() override {
        if (GetParam() == Engine::Postgres) {
            m_pg = std::make_unique<test::PgDatabase>();
            RQC_SKIP_WITHOUT_PG(*m_pg);
            m_target = m_pg->url();
        } else {
            m_target = m_dir.file("suite.db");
        }
        m_db = suitedb::Connection::open(m_target);
        suitedb::applySchema(*m_db);
    }

    // Requests on both sides of 2024-03-10..12, with codes shorter than their widths.
    void insertRequests() {
        const char* rows[][4] = {
            {"0003", "0003", "0000000005", "2024-03-13"},
            {"7", "0001", "42", "2024-03-11"},
            {"0002", "0001", "0000000003", "2024-03-12"},
            {"0001", "0002", "0000000002", "2024-03-11"},
            {"10", "1", "9", "2024-03-10"},
            {"0001", "0001", "0000000001", "2024-03-10"},
            {"0003", "0003", "0000000004", "2024-03-09"},
        };
        for (const auto& r : rows) {
            m_db->execute(
                "INSERT INTO SOLICMP (CDFILSOLI, CDFILLANCA, NRSOLICMP, DTENTREGA) "
                "VALUES (?, ?, ?, " +
                    std::string(GetParam() == Engine::Postgres ? "CAST(? AS DATE)" : "?") + ")",
                {std::string(r[0]), std::string(r[1]), std::string(r[2]), std::string(r[3])});
        }
        m_db->execute("INSERT INTO PARCMPSUP (CDFILIAL, IDUTPRODPREF) VALUES (?, ?)",
                      {std::string("0001"), std::string("S")});
        m_db->execute("INSERT INTO PARCMPSUP (CDFILIAL, IDUTPRODPREF) VALUES (?, ?)",
                      {std::string("7"), std::string("N")});
    }

    std::int64_t count(const std::string& table) {
        auto c = m_db->query("SELECT COUNT(*) FROM " + table);
        c->next();
        return c->int64(0);
    }

    test::TempDir m_dir;
    std::unique_ptr<test::PgDatabase> m_pg;
    std::string m_target;
    std::unique_ptr<suitedb::Connection> m_db;
};

const char* const k1 = "000100010000000001";
const char* const k2 = "000100020000000002";
const char* const k3 = "000200010000000003";
const char* const k9 = "10  1   9         ";
const char* const k42 = "7   000142        ";

}  // namespace

TEST_P(RdmConsolidaSolicita, SolicitacaoSelectsByWholeDaysAndBranchesOrderedByChave) {
    insertRequests();
    struct Case {
        const char* name;
        std::vector<Argument> args;
        std::vector<std::string> keys;
    };
    const Case cases[] = {
        {"all branches, edges inclusive",
         solicitacaoArgs(day(2024, 3, 10), day(2024, 3, 12), "", "T"),
         {k1, k2, k3, k9, k42}},
        {"times of day are ignored",
         solicitacaoArgs(day(2024, 3, 10, 0.99), day(2024, 3, 12, 0.01), "", "T"),
         {k1, k2, k3, k9, k42}},
        {"one day", solicitacaoArgs(day(2024, 3, 10), day(2024, 3, 10), "", "T"), {k1, k9}},
        {"last day only",
         solicitacaoArgs(day(2024, 3, 13), day(2024, 3, 20), "", "T"),
         {"000300030000000005"}},
        {"listed branches",
         solicitacaoArgs(day(2024, 3, 10), day(2024, 3, 12), "0002, 7", ""),
         {k3, k42}},
        {"one branch, blank flag",
         solicitacaoArgs(day(2024, 3, 1), day(2024, 3, 31), "0001", " "),
         {k1, k2}},
        {"\"T\" takes every branch whatever the list",
         solicitacaoArgs(day(2024, 3, 11), day(2024, 3, 11), "0002", "T"),
         {k2, k42}},
        {"empty list without \"T\"",
         solicitacaoArgs(day(2024, 3, 1), day(2024, 3, 31), "", ""),
         {}},
        {"blank list without \"T\"",
         solicitacaoArgs(day(2024, 3, 1), day(2024, 3, 31), "  ", ""),
         {}},
        {"branch without requests",
         solicitacaoArgs(day(2024, 3, 1), day(2024, 3, 31), "0009", ""),
         {}},
        {"initial date after final date",
         solicitacaoArgs(day(2024, 3, 12), day(2024, 3, 10), "", "T"),
         {}},
    };
    for (const auto& k : cases) {
        DataPacket p = appserver::getSolicitacao(*m_db, k.args);
        EXPECT_EQ(column(p, "CHAVE"), k.keys) << k.name;
    }
}

TEST_P(RdmConsolidaSolicita, SolicitacaoPacketHasTheFiveTextFields) {
    insertRequests();
    DataPacket p = appserver::getSolicitacao(
        *m_db, solicitacaoArgs(day(2024, 3, 11), day(2024, 3, 11), "7", ""));
    ASSERT_EQ(p.fields.size(), 5u);
    const std::pair<const char*, std::uint32_t> expected[] = {
        {"IDMARCADO", 1}, {"CHAVE", 18}, {"CDFILSOLI", 4}, {"CDFILLANCA", 4}, {"NRSOLICMP", 10}};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(p.fields[i].name, expected[i].first);
        EXPECT_EQ(p.fields[i].type, protocol::FieldType::Text);
        EXPECT_EQ(p.fields[i].width, expected[i].second);
    }
    ASSERT_EQ(p.rowCount(), 1u);
    EXPECT_EQ(p.cell(0, 0), "N");
    EXPECT_EQ(p.cell(0, 1), k42);
    EXPECT_EQ(p.cell(0, 2), "7");
    EXPECT_EQ(p.cell(0, 3), "0001");
    EXPECT_EQ(p.cell(0, 4), "42");
}

TEST_P(RdmConsolidaSolicita, SolicitacaoRefusesHostileArgumentsAndChangesNothing) {
    insertRequests();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        std::vector<Argument> args;
        const char* message;
    };
    const double d = day(2024, 3, 10);
    const Case cases[] = {
        {solicitacaoArgs(d, d, "0001'); DELETE FROM SOLICMP; --", ""),
         "Argumento 3 (filiais solicitantes)"},
        {solicitacaoArgs(d, d, "0001' OR '1'='1", ""), "Argumento 3"},
        {solicitacaoArgs(d, d, "0001,,0002", ""), "o item 2 está vazio."},
        {solicitacaoArgs(d, d, "'0001'", ""), "contém o caractere \"'\""},
        {solicitacaoArgs(d, d, "0001;0002", ""), "contém o caractere \";\""},
        {solicitacaoArgs(d, d, "00001", ""), "o código \"00001\" tem mais de 4 caracteres."},
        {solicitacaoArgs(d, d, "\"]),0001", ""), "Argumento 3"},
        {solicitacaoArgs(d, d, "", "X"),
         "Argumento 4 (todas as filiais): \"X\" não é um valor válido; o esperado é \"T\" ou "
         "vazio."},
        {solicitacaoArgs(d, d, "", "TT"), "Argumento 4"},
        {solicitacaoArgs(d, d, "", "t"), "Argumento 4"},
        {solicitacaoArgs(nan, d, "", "T"), "Argumento 1 (data de entrega inicial)"},
        {solicitacaoArgs(d, inf, "", "T"), "Argumento 2 (data de entrega final)"},
        {solicitacaoArgs(day(1899, 12, 31), d, "", "T"), "fora dos anos 1900 a 2999"},
        {solicitacaoArgs(d, day(3000, 1, 1), "", "T"), "fora dos anos 1900 a 2999"},
        {solicitacaoArgs(-1e12, d, "", "T"), "Argumento 1"},
    };
    for (const auto& k : cases) {
        try {
            appserver::getSolicitacao(*m_db, k.args);
            ADD_FAILURE() << "accepted: " << k.message;
        } catch (const ArgumentError& e) {
            EXPECT_NE(std::string(e.what()).find(k.message), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(count("SOLICMP"), 7);
    EXPECT_EQ(appserver::getSolicitacao(
                  *m_db, solicitacaoArgs(day(1900, 1, 1), day(2999, 12, 31), "", "T"))
                  .rowCount(),
              7u);
}

TEST_P(RdmConsolidaSolicita, ParaCmpSupHasOneRowWhenTheBranchHasParameters) {
    insertRequests();
    struct Case {
        const char* branch;
        std::vector<std::string> values;
    };
    const Case cases[] = {
        {"0001", {"S"}}, {" 0001 ", {"S"}}, {"7", {"N"}}, {"0002", {}}, {"0007", {}},
    };
    for (const auto& k : cases) {
        DataPacket p = appserver::getParaCmpSup(*m_db, {Argument::byRef(k.branch)});
        ASSERT_EQ(p.fields.size(), 1u);
        EXPECT_EQ(p.fields[0].name, "IDUTPRODPREF");
        EXPECT_EQ(p.fields[0].width, 1u);
        EXPECT_EQ(p.fields[0].origin, "PARCMPSUP.IDUTPRODPREF");
        EXPECT_EQ(column(p, "IDUTPRODPREF"), k.values) << k.branch;
    }
    for (const char* bad : {"", "   ", "00001", "0001,0002", "0'1", "01;--"}) {
        EXPECT_THROW(appserver::getParaCmpSup(*m_db, {Argument::byRef(bad)}), ArgumentError) << bad;
    }
}

TEST_P(RdmConsolidaSolicita, DemoDataAnswersForEveryBranchKind) {
    const auto today = suitedb::parseIsoDate("2024-03-15");
    suitedb::loadDemo(*m_db, today);
    EXPECT_EQ(appserver::getParaCmpSup(*m_db, {Argument::byRef("0001")}).rowCount(), 1u);
    EXPECT_EQ(appserver::getParaCmpSup(*m_db, {Argument::byRef("0020")}).rowCount(), 0u);

    const double d1 = day(2024, 2, 14), d2 = day(2024, 4, 15);  // today -30 .. today +31
    DataPacket all = appserver::getSolicitacao(*m_db, solicitacaoArgs(d1, d2, "", "T"));
    EXPECT_EQ(static_cast<std::int64_t>(all.rowCount()), count("SOLICMP"));
    std::vector<std::string> keys = column(all, "CHAVE");
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()).size(), keys.size());
    for (const auto& k : keys)
        EXPECT_EQ(k.size(), 18u) << k;

    DataPacket some = appserver::getSolicitacao(*m_db, solicitacaoArgs(d1, d2, "0002,0012", ""));
    auto c = m_db->query("SELECT COUNT(*) FROM SOLICMP WHERE CDFILSOLI IN ('0002', '0012')");
    c->next();
    EXPECT_EQ(static_cast<std::int64_t>(some.rowCount()), c->int64(0));
    EXPECT_GT(some.rowCount(), 0u);
    for (const auto& b : column(some, "CDFILSOLI"))
        EXPECT_TRUE(b == "0002" || b == "0012") << b;

    DataPacket week = appserver::getSolicitacao(
        *m_db, solicitacaoArgs(day(2024, 3, 15), day(2024, 3, 21), "", "T"));
    c = m_db->query(GetParam() == Engine::Postgres
                        ? "SELECT COUNT(*) FROM SOLICMP WHERE DTENTREGA BETWEEN DATE '2024-03-15' "
                          "AND DATE '2024-03-21'"
                        : "SELECT COUNT(*) FROM SOLICMP WHERE DTENTREGA BETWEEN '2024-03-15' AND "
                          "'2024-03-21'");
    c->next();
    EXPECT_EQ(static_cast<std::int64_t>(week.rowCount()), c->int64(0));
    EXPECT_GT(week.rowCount(), 0u);
    EXPECT_LT(week.rowCount(), all.rowCount());
}

INSTANTIATE_TEST_SUITE_P(Engines, RdmConsolidaSolicita,
                         ::testing::Values(Engine::Sqlite, Engine::Postgres), engineName);
