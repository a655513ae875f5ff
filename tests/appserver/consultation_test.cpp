// GetConsSoliPrevia against the run it foretells, and the list, product lines and source
// lines of consolidations on the small hand-made data set.

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "appserver/argument_error.h"
#include "appserver/consolidation_engine.h"
#include "appserver/consultation.h"
#include "appserver/reversal.h"
#include "consolidation_test_support.h"

namespace rqc::test {
namespace {

using protocol::Argument;
using protocol::DataPacket;
using Rows = std::vector<std::vector<std::string>>;

// The first `columns` cells of every row ("<null>" for null; all columns when 0).
Rows rows(const DataPacket& p, std::size_t columns = 0) {
    if (columns == 0)
        columns = p.fields.size();
    Rows out(p.rowCount());
    for (std::size_t r = 0; r < p.rowCount(); ++r) {
        for (std::size_t c = 0; c < columns; ++c)
            out[r].push_back(p.cell(r, c).value_or("<null>"));
    }
    return out;
}

Argument text(const std::string& s) {
    return Argument::byValue(s);
}

std::string requestKey(const std::string& soli, const std::string& lanca, const std::string& nr) {
    std::string k =
        soli + std::string(4 - soli.size(), ' ') + lanca + std::string(4 - lanca.size(), ' ') + nr;
    return k + std::string(18 - k.size(), ' ');
}

struct FilterCase {
    const char* name;
    std::vector<std::pair<int, std::string>> texts;  // argument number, text
    std::vector<std::pair<int, Argument>> dates;
};

// Applied one after the other on one database, so later "N" cases meet lines taken by earlier
// ones and "T" cases take lines again.
const std::vector<FilterCase>& filterCases() {
    static const std::vector<FilterCase> cases = {
        {"every option on", {{10, "S"}, {16, "S"}, {17, "S"}, {18, "S"}, {19, "S"}}, {}},
        {"take again by origin", {{11, "T"}, {12, "S"}, {18, "S"}}, {}},
        {"buyers and branches", {{2, "COMP1"}, {4, "0002,0003"}, {11, "T"}, {17, "S"}}, {}},
        {"product range", {{6, "0101"}, {7, "0102"}, {11, "T"}, {16, "S"}}, {}},
        {"request list",
         {{11, "T"},
          {14, ""},
          {15, requestKey("0002", "0002", "0000000001") + "," + requestKey("0003", "0003", "7")}},
         {}},
        {"empty request list", {{11, "T"}, {14, ""}}, {}},
        {"reversed dates", {{11, "T"}}, {{8, date(2024, 3, 20)}, {9, date(2024, 3, 10)}}},
        {"nothing left untaken", {}, {}},
        {"other central with AF", {{3, "0009"}, {11, "T"}, {17, "S"}}, {}},
        {"stock and OL of a branch",
         {{5, "0002"}, {10, "S"}, {11, "T"}, {19, "S"}},
         {{13, date(2024, 3, 2)}}},
        {"April", {{11, "T"}}, {{8, date(2024, 4, 1)}, {9, date(2024, 4, 30)}}},
    };
    return cases;
}

class Consultation : public ::testing::TestWithParam<DbKind> {};

TEST_P(Consultation, PreviaShowsWhatTheRunThenWritesAndChangesNothing) {
    ConsolidationDb db(GetParam());
    if (!db.available())
        GTEST_SKIP() << "RQC_TEST_PG_URL not set";
    auto conn = db.connect();
    loadSmallDataSet(*conn);
    int written = 0;
    for (const FilterCase& c : filterCases()) {
        SCOPED_TRACE(c.name);
        std::vector<Argument> a = baselineArguments();
        for (const auto& [n, t] : c.texts)
            arg(a, n).text = t;
        for (const auto& [n, d] : c.dates)
            arg(a, n) = d;
        const std::string before = snapshot(*conn);
        DataPacket previa = appserver::getConsSoliPrevia(*conn, a);
        ASSERT_EQ(snapshot(*conn), before);

        std::string number = appserver::runGetConsSoli(*conn, a, "ana");
        // Nothing written: no line matched, or every product netted to zero (and is listed).
        bool allNetZero = true;
        for (std::size_t r = 0; r < previa.rowCount(); ++r)
            allNetZero = allNetZero && std::stod(*previa.cell(r, 9)) <= 0;
        ASSERT_EQ(number.empty(), allNetZero);
        if (number.empty())
            continue;
        ++written;
        DataPacket itens = appserver::getConsSoliItens(*conn, {text(number)});
        EXPECT_EQ(rows(previa, itens.fields.size()), rows(itens));
        // NRLINHASCONS: lines of the product that an earlier consolidation had taken.
        for (std::size_t r = 0; r < previa.rowCount(); ++r) {
            EXPECT_EQ(std::stoll(*previa.cell(r, 11)),
                      scalar(*conn,
                             "SELECT COUNT(*) FROM ITCONSSOLIORIG o WHERE o.NRCONSSOLI = ? AND"
                             " o.CDPRODUTO = ? AND EXISTS (SELECT 1 FROM ITCONSSOLIORIG e WHERE"
                             " e.NRCONSSOLI < o.NRCONSSOLI AND e.CDFILSOLI = o.CDFILSOLI AND"
                             " e.CDFILLANCA = o.CDFILLANCA AND e.NRSOLICMP = o.NRSOLICMP AND"
                             " e.NRITEM = o.NRITEM)",
                             {number, *previa.cell(r, 0)}))
                << "product " << *previa.cell(r, 0);
        }
    }
    EXPECT_GE(written, 7);
}

TEST_P(Consultation, ListItemsAndSourceLinesOfKnownConsolidations) {
    ConsolidationDb db(GetParam());
    if (!db.available())
        GTEST_SKIP() << "RQC_TEST_PG_URL not set";
    auto conn = db.connect();
    loadSmallDataSet(*conn);
    ASSERT_EQ(appserver::runGetConsSoli(*conn, baselineArguments(), "ana"), "0000000101");
    std::vector<Argument> a = baselineArguments();
    for (auto [n, t] : std::vector<std::pair<int, const char*>>{
             {2, "COMP1"}, {4, "0003,0002"}, {10, "S"}, {11, "T"}, {17, "S"}, {19, "S"}})
        arg(a, n).text = t;
    ASSERT_EQ(appserver::runGetConsSoli(*conn, a, "bruno"), "0000000102");

    EXPECT_EQ(
        rows(appserver::getConsSoliItens(*conn, {text("101")})),
        (Rows{{"P1", "0101", "Produto 1", "17", "0", "0", "0", "0", "0", "17", "2"},
              {"P2", "0102", "Produto 2", "5", "0", "0", "0", "0", "0", "5", "1"},
              {"P3", "0201", "Produto 3 (origem P1)", "4", "0", "0", "0", "0", "0", "4", "1"},
              {"P4", "0301", "Produto 4 sem comprador", "4", "0", "0", "0", "0", "0", "4", "2"}}));
    EXPECT_EQ(rows(appserver::getConsSoliOrigem(*conn, {text(" 0000000101 "), text("")})),
              (Rows{{"P1", "0002", "0002", "0000000001", "1", "10", "2024-03-10"},
                    {"P1", "0003", "0003", "0000000002", "1", "7", "2024-03-15"},
                    {"P2", "0002", "0002", "0000000001", "2", "5", "2024-03-10"},
                    {"P3", "0002", "0002", "0000000001", "3", "4", "2024-03-10"},
                    {"P4", "0003", "0003", "0000000002", "2", "3", "2024-03-15"},
                    {"P4", "0003", "0003", "7", "1", "1", "2024-03-20"}}));
    EXPECT_EQ(rows(appserver::getConsSoliOrigem(*conn, {text("101"), text("P4 ")})),
              (Rows{{"P4", "0003", "0003", "0000000002", "2", "3", "2024-03-15"},
                    {"P4", "0003", "0003", "7", "1", "1", "2024-03-20"}}));
    EXPECT_EQ(appserver::getConsSoliItens(*conn, {text("555")}).rowCount(), 0u);
    EXPECT_EQ(rows(appserver::getConsSoliCabec(*conn, {text("102")}), 1), (Rows{{"0000000102"}}));
    EXPECT_EQ(appserver::getConsSoliCabec(*conn, {text("555")}).rowCount(), 0u);
    EXPECT_THROW(appserver::getConsSoliOrigem(*conn, {text("10a"), text("")}),
                 appserver::ArgumentError);
    EXPECT_THROW(appserver::getConsSoliOrigem(*conn, {text("101"), text("P123456789X")}),
                 appserver::ArgumentError);

    // 0000000102 took three of its lines again; they keep their mark.
    ASSERT_EQ(appserver::runEstornaConsSoli(*conn, "101", "carla"), "3");
    auto lista = [&](const std::string& central, const char* onlyOpen, int daysBack) {
        std::time_t t = std::time(nullptr) - daysBack * 86400;
        std::tm tm{};
        localtime_r(&t, &tm);
        Argument day = date(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
        return appserver::getConsSoliLista(*conn, {text(central), day, day, text(onlyOpen)});
    };
    DataPacket all = lista("0001", "", 0);
    ASSERT_EQ(all.rowCount(), 2u);
    Rows got = rows(all);
    for (auto& r : got) {
        EXPECT_EQ(r[1].size(), 19u) << r[1];  // generation time, "YYYY-MM-DD HH:MM:SS"
        EXPECT_EQ(r[11].size(), r[0] == "0000000101" ? 19u : 6u) << r[11];
        r[1] = r[11] = "-";
    }
    EXPECT_EQ(got,
              (Rows{{"0000000102", "-", "bruno", "0001", "0001", "0001",
                     "Entrega 01/03/2024 a 31/03/2024; produtos de 0000 em diante; compradores "
                     "COMP1; filiais 0003, 0002; inclusive já consolidadas; estoque da filial "
                     "0001 em 05/03/2024; menos AF abertas; arredondamento OL",
                     "2", "4", "A", "Aberta", "-", "<null>", "<null>", "<null>"},
                    {"0000000101", "-", "ana", "0001", "0001", "0001",
                     "Entrega 01/03/2024 a 31/03/2024; produtos de 0000 em diante; todas as "
                     "filiais; não consolidadas",
                     "4", "6", "E", "Estornada", "-", "carla", "<null>", "<null>"}}));
    EXPECT_EQ(rows(lista("0001", "T", 0), 1), (Rows{{"0000000102"}}));
    appserver::ConsSoliFilter padded;
    padded.dtEntregaIni = "2024-03-01";
    padded.dtEntregaFin = "2024-03-31";
    padded.cdArvProdIni = "0001";
    padded.cdArvProdFin = "0010ZZZZZZ";
    padded.idConsSoli = "N";
    padded.idTodasSoli = "T";
    EXPECT_EQ(appserver::describeFilter(padded),
              "Entrega 01/03/2024 a 31/03/2024; produtos 0001 a 0010 (e os códigos que começam "
              "com 0010); todas as filiais; não consolidadas");
    EXPECT_EQ(lista("0001", "", 1).rowCount(), 0u);
    EXPECT_EQ(lista("0009", "", 0).rowCount(), 0u);
    EXPECT_THROW(lista("00011", "", 0), appserver::ArgumentError);
    EXPECT_THROW(lista("0001", "S", 0), appserver::ArgumentError);
}

// On SQLite the previa reads while another connection holds the write lock.
TEST(Consultation, PreviaDoesNotWaitForTheSqliteWriteLock) {
    ConsolidationDb db(DbKind::Sqlite);
    auto conn = db.connect();
    loadSmallDataSet(*conn);
    auto writer = db.connect();
    suitedb::Transaction held(*writer);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(appserver::getConsSoliPrevia(*conn, baselineArguments()).rowCount(), 4u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

INSTANTIATE_TEST_SUITE_P(Engines, Consultation, ::testing::Values(DbKind::Sqlite, DbKind::Postgres),
                         engineCaseName);

}  // namespace
}  // namespace rqc::test
