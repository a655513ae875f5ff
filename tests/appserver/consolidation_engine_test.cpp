// runGetConsSoli on the hand-made data set of consolidation_test_support.cpp, on a SQLite file
// and on a PostgreSQL database: what each argument does, what is written, and what is refused.

#include <gtest/gtest.h>

#include <functional>

#include "appserver/consolidation_engine.h"
#include "consolidation_test_support.h"

namespace rqc::test {
namespace {

using appserver::ArgumentError;
using appserver::runGetConsSoli;
using protocol::Argument;
using Args = std::vector<Argument>;
using Quantities = std::map<std::string, double>;

class ConsolidationEngine : public SmallDataSetTest {
  protected:
    suitedb::Connection& db() { return *m_conn; }
    std::string run(const Args& args) { return runGetConsSoli(db(), args, "tester"); }
};

const Quantities kBaseline = {{"P1", 17}, {"P2", 5}, {"P3", 4}, {"P4", 4}};

struct ArgumentCase {
    const char* name;
    std::function<void(Args&)> change;
    Quantities expected;  // empty: nothing is consolidated
    const char* termColumn = nullptr;
    Quantities termValues = {};
};

TEST_P(ConsolidationEngine, EachArgumentChangesTheOutcome) {
    const ArgumentCase cases[] = {
        {"baseline", [](Args&) {}, kBaseline},
        {"1 processing branch is the OL branch without stock",
         [](Args& a) {
             arg(a, 1).text = "0002";
             arg(a, 19).text = "S";
         },
         {{"P1", 20}, {"P2", 5}, {"P3", 4}, {"P4", 4}},
         "QTARREDONDA",
         {{"P1", 3}, {"P2", 0}}},
        {"2 buyer list", [](Args& a) { arg(a, 2).text = "COMP2"; }, {{"P2", 5}}},
        {"2 buyer list of two",
         [](Args& a) { arg(a, 2).text = " COMP1 , COMP2 "; },
         {{"P1", 17}, {"P2", 5}, {"P3", 4}}},
        {"3 central branch", [](Args& a) { arg(a, 3).text = "0009"; }, {{"P1", 1000}}},
        {"4 requesting-branch list",
         [](Args& a) { arg(a, 4).text = "0003"; },
         {{"P1", 7}, {"P4", 4}}},
        {"5 stock branch",
         [](Args& a) {
             arg(a, 10).text = "S";
             arg(a, 5).text = "0002";
         },
         {{"P1", 12}, {"P2", 5}, {"P3", 4}, {"P4", 4}},
         "QTESTOQUE",
         {{"P1", 5}, {"P2", 0}}},
        {"6 first product code",
         [](Args& a) { arg(a, 6).text = "0102"; },
         {{"P2", 5}, {"P3", 4}, {"P4", 4}}},
        {"7 last product code",
         [](Args& a) { arg(a, 7).text = "0102ZZZZZZZZZZZZZZZZ"; },
         {{"P1", 17}, {"P2", 5}}},
        {"8 first delivery date",
         [](Args& a) { arg(a, 8) = date(2024, 3, 12); },
         {{"P1", 7}, {"P4", 4}}},
        {"9 last delivery date",
         [](Args& a) { arg(a, 9) = date(2024, 4, 30); },
         {{"P1", 117}, {"P2", 5}, {"P3", 4}, {"P4", 4}}},
        {"10 consider stock drops a product",
         [](Args& a) { arg(a, 10).text = "S"; },
         {{"P1", 15}, {"P3", 4}, {"P4", 4}},
         "QTESTOQUE",
         {{"P1", 2}}},
        {"11 every line, consolidated or not",
         [](Args& a) { arg(a, 11).text = "T"; },
         {{"P1", 23}, {"P2", 7}, {"P3", 4}, {"P4", 4}}},
        {"12 origin product",
         [](Args& a) { arg(a, 12).text = "S"; },
         {{"P1", 21}, {"P2", 5}, {"P4", 4}}},
        {"13 processing date picks the stock row",
         [](Args& a) {
             arg(a, 10).text = "S";
             arg(a, 13) = date(2024, 3, 6);
         },
         {{"P1", 8}, {"P3", 4}, {"P4", 4}},
         "QTESTOQUE",
         {{"P1", 9}}},
        {"14 empty with an empty list matches nothing", [](Args& a) { arg(a, 14).text = ""; }, {}},
        {"14 and 15 request list",
         [](Args& a) {
             arg(a, 14).text = "";
             arg(a, 15).text = "000200020000000001";
         },
         {{"P1", 10}, {"P2", 5}, {"P3", 4}}},
        {"15 request key with a padded number",
         [](Args& a) {
             arg(a, 14).text = "";
             arg(a, 15).text = "000300037         ,000300030000000002";
         },
         {{"P1", 7}, {"P4", 4}}},
        {"15 ignored when 14 is T", [](Args& a) { arg(a, 15).text = "000300037"; }, kBaseline},
        {"16 open consolidated requests",
         [](Args& a) { arg(a, 16).text = "S"; },
         {{"P1", 11}, {"P2", 3}, {"P3", 4}, {"P4", 4}},
         "QTCONSABERTA",
         {{"P1", 6}, {"P2", 2}}},
        {"17 open AF",
         [](Args& a) { arg(a, 17).text = "S"; },
         {{"P1", 11}, {"P2", 5}, {"P3", 4}, {"P4", 4}},
         "QTAF",
         {{"P1", 6}, {"P2", 0}}},
        {"18 safety limit",
         [](Args& a) { arg(a, 18).text = "S"; },
         {{"P1", 17}, {"P2", 5}, {"P3", 4}, {"P4", 6.5}},
         "QTLIMITESEG",
         {{"P4", 2.5}}},
        {"19 OL rounding",
         [](Args& a) { arg(a, 19).text = "S"; },
         {{"P1", 18}, {"P2", 5}, {"P3", 4}, {"P4", 5}},
         "QTARREDONDA",
         {{"P1", 1}, {"P2", 0}, {"P4", 1}}},
        {"19 OL branch is the stock branch with stock",
         [](Args& a) {
             arg(a, 10).text = "S";
             arg(a, 5).text = "0002";
             arg(a, 19).text = "S";
         },
         {{"P1", 15}, {"P2", 5}, {"P3", 4}, {"P4", 4}},
         "QTARREDONDA",
         {{"P1", 3}}},
    };
    const std::string before = snapshot(db());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Args args = baselineArguments();
        c.change(args);
        std::string number = run(args);
        if (c.expected.empty()) {
            EXPECT_EQ(number, "");
        } else {
            ASSERT_EQ(number.size(), 10u);
            EXPECT_EQ(consolidatedQuantities(db(), number), c.expected);
            if (c.termColumn != nullptr) {
                Quantities terms = term(db(), number, c.termColumn);
                for (const auto& [product, value] : c.termValues) {
                    EXPECT_DOUBLE_EQ(terms[product], value) << c.termColumn << " of " << product;
                }
            }
            EXPECT_EQ(consistencyFaults(db()), "");
        }
        // Each case starts again from the hand-made set.
        db().exec(
            "DELETE FROM ITCONSSOLIORIG WHERE NRCONSSOLI > '0000000100';"
            " DELETE FROM ITCONSSOLI WHERE NRCONSSOLI > '0000000100';"
            " DELETE FROM CONSSOLI WHERE NRCONSSOLI > '0000000100';"
            " UPDATE ITSOLICMP SET NRCONSSOLI = NULL WHERE NRCONSSOLI > '0000000100';"
            " UPDATE ITSOLICMP SET NRCONSSOLI = '0000000077' WHERE NRSOLICMP = '0000000002'"
            " AND NRITEM IN (3, 4);"
            " UPDATE NUMERACAO SET NRULTIMO = 100;");
        ASSERT_EQ(snapshot(db()), before);
    }
}

TEST_P(ConsolidationEngine, WritesHeaderProductLinesLinksAndMarks) {
    Args args = baselineArguments();
    arg(args, 2).text = "COMP1,COMP2";
    arg(args, 18).text = "S";
    std::string number = run(args);
    ASSERT_EQ(number, "0000000101");

    auto h = db().query(
        "SELECT CDFILIAL, CDFILCENTCMP, CDFILEST, CDARVPRODINI, CDARVPRODFIN, DTENTREGAINI,"
        " DTENTREGAFIN, DTPROCESTOQUE, LSTCOMPRADOR, LSTFILIAL, LSTSOLICIT, IDCONSESTOQUE,"
        " IDCONSSOLI, IDPRODORIG, IDTODASSOLI, IDCONSSOLIABERTA, IDCONSAF, IDLIMITESEG,"
        " IDPARAMOL, IDSITUACAO, NMUSUARIO, DTGERACAO FROM CONSSOLI WHERE NRCONSSOLI = ?",
        {number});
    ASSERT_TRUE(h->next());
    const char* expected[] = {
        "0001",       "0001",       "0001",       "0000",        "ZZZZZZZZZZZZZZZZZZZZ",
        "2024-03-01", "2024-03-31", "2024-03-05", "COMP1,COMP2", "",
        "",           "N",          "N",          "N",           "T",
        "N",          "N",          "S",          "N",           "A",
        "tester"};
    for (int i = 0; i < 21; ++i)
        EXPECT_EQ(h->text(i), expected[i]) << "column " << i;
    EXPECT_FALSE(h->isNull(21));

    // R1 items 1..3 and R2 item 1; P4 has no buyer, so a buyer list leaves its lines out.
    EXPECT_EQ(scalar(db(), "SELECT COUNT(*) FROM ITCONSSOLIORIG WHERE NRCONSSOLI = ?", {number}),
              4);
    EXPECT_EQ(scalar(db(), "SELECT COUNT(*) FROM ITSOLICMP WHERE NRCONSSOLI = ?", {number}), 4);
    EXPECT_EQ(consolidatedQuantities(db(), number), (Quantities{{"P1", 17}, {"P2", 5}, {"P3", 4}}));
    EXPECT_EQ(scalar(db(), "SELECT NRULTIMO FROM NUMERACAO WHERE CDSEQUENCIA = 'CONSSOLI'"), 101);
    EXPECT_EQ(consistencyFaults(db()), "");
}

TEST_P(ConsolidationEngine, EmptyResultWritesNothing) {
    const std::pair<const char*, std::function<void(Args&)>> cases[] = {
        {"no line in the date range", [](Args& a) { arg(a, 8) = date(2030, 1, 1); }},
        {"reversed product range",
         [](Args& a) {
             arg(a, 6).text = "0301";
             arg(a, 7).text = "0101";
         }},
        {"every product drops below zero",
         [](Args& a) {
             arg(a, 4).text = "0002";
             arg(a, 2).text = "COMP2";
             arg(a, 10).text = "S";
         }},
        {"no line left after the first run takes them", [](Args&) {}},
    };
    ASSERT_NE(run(baselineArguments()), "");
    const std::string before = snapshot(db());
    for (const auto& [name, change] : cases) {
        SCOPED_TRACE(name);
        Args args = baselineArguments();
        change(args);
        EXPECT_EQ(run(args), "");
        EXPECT_EQ(snapshot(db()), before);
    }
}

TEST_P(ConsolidationEngine, NumbersFollowOneSequence) {
    Args all = baselineArguments();
    arg(all, 11).text = "T";
    Args none = baselineArguments();
    arg(none, 8) = date(2030, 1, 1);
    EXPECT_EQ(run(all), "0000000101");
    EXPECT_EQ(run(none), "");
    EXPECT_EQ(run(all), "0000000102");
    db().exec("DELETE FROM NUMERACAO");
    EXPECT_EQ(run(all), "0000000001");

    db().exec("UPDATE NUMERACAO SET NRULTIMO = 9999999999");
    const std::string before = snapshot(db());
    EXPECT_THROW(run(all), suitedb::DbError);
    EXPECT_EQ(snapshot(db()), before);
}

TEST_P(ConsolidationEngine, LineTakenAgainKeepsEveryLinkAndTheMarkNamesTheLatest) {
    std::string first = run(baselineArguments());
    Args again = baselineArguments();
    arg(again, 11).text = "T";
    std::string second = run(again);
    ASSERT_EQ(first, "0000000101");
    ASSERT_EQ(second, "0000000102");
    // R1 item 1 was taken by both runs; R2 item 3 by 77 and the second run.
    const std::vector<suitedb::Param> r1 = {"0002", "0002", "0000000001", std::int64_t{1}};
    EXPECT_EQ(scalar(db(),
                     "SELECT COUNT(*) FROM ITCONSSOLIORIG WHERE CDFILSOLI = ? AND CDFILLANCA = ?"
                     " AND NRSOLICMP = ? AND NRITEM = ?",
                     r1),
              2);
    EXPECT_EQ(scalar(db(), "SELECT COUNT(*) FROM ITSOLICMP WHERE NRCONSSOLI = '0000000102'"), 8);
    EXPECT_EQ(scalar(db(), "SELECT COUNT(*) FROM ITCONSSOLIORIG WHERE NRCONSSOLI = '0000000077'"),
              2);
    EXPECT_EQ(consolidatedQuantities(db(), second),
              (Quantities{{"P1", 23}, {"P2", 7}, {"P3", 4}, {"P4", 4}}));
    EXPECT_EQ(consistencyFaults(db()), "");
}

TEST_P(ConsolidationEngine, BadArgumentsAreRefusedBeforeAnyWrite) {
    const std::tuple<const char*, std::function<void(Args&)>, const char*> cases[] = {
        {"too few arguments", [](Args& a) { a.pop_back(); }, "recebe 19 argumentos"},
        {"date where a text belongs", [](Args& a) { arg(a, 2) = date(2024, 1, 1); },
         "Argumento 2 (compradores): deve ser um texto."},
        {"text where a date belongs", [](Args& a) { arg(a, 8) = Argument::byRef("2024-03-01"); },
         "Argumento 8 (data de entrega inicial): deve ser uma data."},
        {"buyer list with a quote", [](Args& a) { arg(a, 2).text = "COMP1'"; },
         "Argumento 2 (compradores): o item 1, \"COMP1'\", contém o caractere \"'\""},
        {"buyer list with SQL", [](Args& a) { arg(a, 2).text = "COMP1) OR 1=1 --"; },
         "Argumento 2 (compradores): o item 1, \"COMP1) OR 1=1 --\", contém o caractere \")\""},
        {"buyer list with a semicolon",
         [](Args& a) { arg(a, 2).text = "COMP1;DELETE FROM ITSOLICMP"; },
         "contém o caractere \";\""},
        {"buyer code over 12", [](Args& a) { arg(a, 2).text = "COMP1,ABCDEFGHIJKLM"; },
         "Argumento 2 (compradores): o código \"ABCDEFGHIJKLM\" tem mais de 12 caracteres."},
        {"empty branch item", [](Args& a) { arg(a, 4).text = "0002,,0003"; },
         "Argumento 4 (filiais solicitantes): o item 2 está vazio."},
        {"trailing comma", [](Args& a) { arg(a, 4).text = "0002,"; }, "o item 2 está vazio"},
        {"branch code over 4 in the list", [](Args& a) { arg(a, 4).text = "00021"; },
         "Argumento 4 (filiais solicitantes): o código \"00021\" tem mais de 4 caracteres."},
        {"request key of 19", [](Args& a) { arg(a, 15).text = "0002000200000000011"; },
         "Argumento 15 (solicitações): o item 1 \"0002000200000000011\" tem mais de 18 "
         "caracteres"},
        {"request key without a number", [](Args& a) { arg(a, 15).text = "00020002"; },
         "o item 1 \"00020002\" não tem o número da solicitação"},
        {"request key with a blank inside a part",
         [](Args& a) { arg(a, 15).text = "0 020002000000001"; },
         "tem um branco no meio da filial solicitante"},
        {"request key with a quote", [](Args& a) { arg(a, 15).text = "00020002'00000001"; },
         "contém o caractere \"'\""},
        {"processing branch over 4", [](Args& a) { arg(a, 1).text = "00011"; },
         "Argumento 1 (filial de processamento): o código \"00011\" tem mais de 4 caracteres."},
        {"processing branch empty", [](Args& a) { arg(a, 1).text = "  "; },
         "Argumento 1 (filial de processamento): o código não foi informado."},
        {"central branch empty", [](Args& a) { arg(a, 3).text = ""; },
         "Argumento 3 (filial centralizadora de compras): o código não foi informado."},
        {"stock branch over 4", [](Args& a) { arg(a, 5).text = "ABCDE"; },
         "Argumento 5 (filial de estoque): o código \"ABCDE\" tem mais de 4"},
        {"stock branch missing with stock on",
         [](Args& a) {
             arg(a, 5).text = "";
             arg(a, 10).text = "S";
         },
         "Argumento 5 (filial de estoque): não foi informada, mas a opção Considera Estoque"},
        {"product code over 20", [](Args& a) { arg(a, 7).text = std::string(21, 'Z'); },
         "Argumento 7 (produto final): o código \"ZZZZZZZZZZZZZZZZZZZZZ\" tem mais de 20"},
        {"control character in a code", [](Args& a) { arg(a, 6).text = std::string("01\n02"); },
         "Argumento 6 (produto inicial): o código \"01\\x0A02\" contém um caractere de controle"},
        {"date before 1900", [](Args& a) { arg(a, 8) = date(1899, 12, 31); },
         "Argumento 8 (data de entrega inicial): a data está fora dos anos 1900 a 2999."},
        {"date after 2999", [](Args& a) { arg(a, 9) = date(3000, 1, 1); },
         "Argumento 9 (data de entrega final): a data"},
        {"processing date out of range", [](Args& a) { arg(a, 13) = Argument::ofDate(-1e9); },
         "Argumento 13 (data de processamento da filial de estoque)"},
        {"lower-case option", [](Args& a) { arg(a, 10).text = "s"; },
         "Argumento 10 (opção Considera Estoque da Filial): \"s\" não é um valor válido; o "
         "esperado é \"S\" ou \"N\"."},
        {"S for which-requests", [](Args& a) { arg(a, 11).text = "S"; },
         "Argumento 11 (opção Consolida Solicitações): \"S\" não é um valor válido; o "
         "esperado é \"T\" ou \"N\"."},
        {"N for all-requests", [](Args& a) { arg(a, 14).text = "N"; },
         "o esperado é \"T\" ou vazio"},
        {"blank option", [](Args& a) { arg(a, 19).text = " "; },
         "Argumento 19 (opção Considera Parametrização OL)"},
        {"empty option", [](Args& a) { arg(a, 16).text = ""; },
         "Argumento 16 (opção Considerar Solicitação)"},
        {"option with SQL", [](Args& a) { arg(a, 17).text = "S' OR 'x'='x"; },
         "Argumento 17 (opção Considerar AF)"},
        {"AF option two letters", [](Args& a) { arg(a, 18).text = "SS"; },
         "Argumento 18 (opção Considera limite de segurança)"},
        {"origin option", [](Args& a) { arg(a, 12).text = "T"; },
         "Argumento 12 (opção Considera Produto Origem"},
        {"request list refused even when 14 is T", [](Args& a) { arg(a, 15).text = ";"; },
         "Argumento 15 (solicitações)"},
    };
    const std::string before = snapshot(db());
    for (const auto& [name, change, message] : cases) {
        SCOPED_TRACE(name);
        Args args = baselineArguments();
        change(args);
        try {
            run(args);
            ADD_FAILURE() << "accepted";
        } catch (const ArgumentError& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(snapshot(db()), before);
}

TEST_P(ConsolidationEngine, RunsOnAConnectionKeepingTemporaryDataInMemoryAndLeavesItSo) {
    if (GetParam() != DbKind::Sqlite)
        GTEST_SKIP() << "a SQLite setting";
    db().exec("PRAGMA temp_store = MEMORY; PRAGMA cache_size = -2000");
    EXPECT_EQ(consolidatedQuantities(db(), run(baselineArguments())), kBaseline);
    EXPECT_EQ(scalar(db(), "PRAGMA temp_store"), 2);
    EXPECT_EQ(scalar(db(), "PRAGMA cache_size"), -2000);
    Args again = baselineArguments();
    arg(again, 11).text = "T";
    EXPECT_EQ(run(again), "0000000102");
    EXPECT_EQ(scalar(db(), "PRAGMA temp_store"), 2);
    EXPECT_EQ(scalar(db(), "PRAGMA cache_size"), -2000);
    EXPECT_EQ(consistencyFaults(db()), "");
}

// Links are written in key order (so they append to their indexes): the order in which they
// were stored (SQLite rowid, PostgreSQL physical address) is the key order.
TEST_P(ConsolidationEngine, LinksAreStoredInKeyOrder) {
    // A request stored last whose key sorts first.
    db().exec(
        "INSERT INTO SOLICMP (CDFILSOLI, CDFILLANCA, NRSOLICMP, DTENTREGA) VALUES ('0002',"
        " '0000', '0000000009', '2024-03-10'); INSERT INTO ITSOLICMP (CDFILSOLI, CDFILLANCA,"
        " NRSOLICMP, NRITEM, CDPRODUTO, QTSOLICITADA) VALUES ('0002', '0000', '0000000009', 1,"
        " 'P1', 1)");
    Args all = baselineArguments();
    arg(all, 8) = date(2024, 1, 1);
    arg(all, 9) = date(2024, 12, 31);
    const std::string number = run(all);
    ASSERT_FALSE(number.empty());
    const std::string key =
        "CDFILSOLI || '/' || CDFILLANCA || '/' || NRSOLICMP || '/' || "
        "CAST(NRITEM AS VARCHAR(10))";
    const bool pg = GetParam() == DbKind::Postgres;
    auto keys = [&](const std::string& order) {
        const std::string sql =
            pg ? "SELECT string_agg(" + key + ", ',' ORDER BY " + order +
                     ") FROM ITCONSSOLIORIG WHERE NRCONSSOLI = ?"
               : "SELECT group_concat(k, ',') FROM (SELECT " + key +
                     " AS k FROM ITCONSSOLIORIG WHERE NRCONSSOLI = ? ORDER BY " + order + ")";
        auto c = db().query(sql, {number});
        return c->next() ? std::string(c->text(0)) : std::string();
    };
    EXPECT_EQ(keys(pg ? "ctid" : "rowid"), keys("CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM"));
}

INSTANTIATE_TEST_SUITE_P(Engines, ConsolidationEngine,
                         ::testing::Values(DbKind::Sqlite, DbKind::Postgres), engineCaseName);

}  // namespace
}  // namespace rqc::test
