#include "consolidation_test_support.h"

#include <algorithm>
#include <stdexcept>

#include "suitedb/schema.h"

namespace rqc::test {

using protocol::Argument;
using suitedb::Connection;

ConsolidationDb::ConsolidationDb(DbKind kind) {
    if (kind == DbKind::Postgres) {
        m_pg = std::make_unique<PgDatabase>();
        if (!m_pg->available())
            return;
        m_target = m_pg->url();
    } else {
        m_target = m_dir.file("suite.db");
    }
    suitedb::applySchema(*connect());
}

bool ConsolidationDb::available() const {
    return !m_target.empty();
}

std::unique_ptr<Connection> ConsolidationDb::connect() const {
    return Connection::open(m_target);
}

Argument date(int y, int m, int d) {
    return Argument::ofDate(protocol::dateFromYmd(y, m, d));
}

Argument& arg(std::vector<Argument>& args, int n) {
    return args.at(static_cast<std::size_t>(n - 1));
}

std::vector<Argument> baselineArguments() {
    return {
        Argument::byValue("0001"),                // 1 processing branch
        Argument::byRef(""),                      // 2 buyers: all
        Argument::byRef("0001"),                  // 3 central purchasing branch
        Argument::byRef(""),                      // 4 requesting branches: all
        Argument::byValue("0001"),                // 5 stock branch
        Argument::byValue("0000"),                // 6 first product tree code
        Argument::byValue(std::string(20, 'Z')),  // 7 last product tree code
        date(2024, 3, 1),                         // 8 first delivery date
        date(2024, 3, 31),                        // 9 last delivery date
        Argument::byRef("N"),                     // 10 consider stock
        Argument::byRef("N"),                     // 11 which requests
        Argument::byRef("N"),                     // 12 origin product
        date(2024, 3, 5),                         // 13 processing date
        Argument::byRef("T"),                     // 14 all requests
        Argument::byRef(""),                      // 15 request list
        Argument::byRef("N"),                     // 16 open consolidations
        Argument::byRef("N"),                     // 17 AF
        Argument::byRef("N"),                     // 18 safety limit
        Argument::byRef("N"),                     // 19 OL parametrisation
    };
}

void loadSmallDataSet(Connection& db) {
    suitedb::Transaction tx(db);
    db.exec(R"(
INSERT INTO FILIAL (CDFILIAL, NMFILIAL, IDCNTRRESC, CDREGIAO, IDFUNCAOFILI, CDFILCENTCMP, DTPROCESSAMENTO) VALUES
  ('0001', 'Central 1', 'N', '001', 'C', NULL, '2024-03-05'),
  ('0002', 'Loja 2', 'N', '001', 'L', '0001', '2024-03-05'),
  ('0003', 'OL 3', 'N', '001', 'O', '0001', '2024-03-05'),
  ('0009', 'Central 9', 'N', '002', 'C', NULL, '2024-03-05'),
  ('0010', 'Loja 10', 'N', '002', 'L', '0009', '2024-03-05');
INSERT INTO OPERADOR (CDOPERADOR, NMOPERADOR) VALUES ('COMP1', 'Ana'), ('COMP2', 'Bruno');
INSERT INTO COMPRADOR (CDOPERADOR) VALUES ('COMP1'), ('COMP2');
INSERT INTO PRODUTO (CDPRODUTO, CDARVPROD, NMPRODUTO, CDCOMPRADOR, CDPRODORIG) VALUES
  ('P1', '0101', 'Produto 1', 'COMP1', NULL),
  ('P2', '0102', 'Produto 2', 'COMP2', NULL),
  ('P3', '0201', 'Produto 3 (origem P1)', 'COMP1', 'P1'),
  ('P4', '0301', 'Produto 4 sem comprador', NULL, NULL);
INSERT INTO SOLICMP (CDFILSOLI, CDFILLANCA, NRSOLICMP, DTSOLICITACAO, DTENTREGA, CDOPERADOR) VALUES
  ('0002', '0002', '0000000001', '2024-03-01', '2024-03-10', 'COMP1'),
  ('0003', '0003', '0000000002', '2024-03-01', '2024-03-15', 'COMP1'),
  ('0002', '0001', '0000000003', '2024-03-01', '2024-04-20', 'COMP1'),
  ('0010', '0010', '0000000004', '2024-03-01', '2024-03-10', 'COMP2'),
  ('0003', '0003', '7', '2024-03-01', '2024-03-20', 'COMP2');
INSERT INTO ITSOLICMP (CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM, CDPRODUTO, QTSOLICITADA, NRCONSSOLI) VALUES
  ('0002', '0002', '0000000001', 1, 'P1', 10, NULL),
  ('0002', '0002', '0000000001', 2, 'P2', 5, NULL),
  ('0002', '0002', '0000000001', 3, 'P3', 4, NULL),
  ('0003', '0003', '0000000002', 1, 'P1', 7, NULL),
  ('0003', '0003', '0000000002', 2, 'P4', 3, NULL),
  ('0003', '0003', '0000000002', 3, 'P2', 2, '0000000077'),
  ('0003', '0003', '0000000002', 4, 'P1', 6, '0000000077'),
  ('0002', '0001', '0000000003', 1, 'P1', 100, NULL),
  ('0002', '0001', '0000000003', 2, 'P1', 50, '0000000078'),
  ('0010', '0010', '0000000004', 1, 'P1', 1000, NULL),
  ('0010', '0010', '0000000004', 2, 'P1', 30, '0000000079'),
  ('0003', '0003', '7', 1, 'P4', 1, NULL);
INSERT INTO CONSSOLI (NRCONSSOLI, CDFILIAL, CDFILCENTCMP, IDSITUACAO) VALUES
  ('0000000077', '0001', '0001', 'A'),
  ('0000000078', '0001', '0001', 'F'),
  ('0000000079', '0009', '0009', 'A');
INSERT INTO ITCONSSOLI (NRCONSSOLI, CDPRODUTO, QTSOLICITADA, QTLIMITESEG, QTESTOQUE, QTAF, QTCONSABERTA, QTARREDONDA, QTCONSOLIDADA) VALUES
  ('0000000077', 'P1', 6, 0, 0, 0, 0, 0, 6),
  ('0000000077', 'P2', 2, 0, 0, 0, 0, 0, 2),
  ('0000000078', 'P1', 50, 0, 0, 0, 0, 0, 50),
  ('0000000079', 'P1', 30, 0, 0, 0, 0, 0, 30);
INSERT INTO ITCONSSOLIORIG (NRCONSSOLI, CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM, CDPRODUTO, QTSOLICITADA) VALUES
  ('0000000077', '0003', '0003', '0000000002', 3, 'P2', 2),
  ('0000000077', '0003', '0003', '0000000002', 4, 'P1', 6),
  ('0000000078', '0002', '0001', '0000000003', 2, 'P1', 50),
  ('0000000079', '0010', '0010', '0000000004', 2, 'P1', 30);
INSERT INTO ESTOQUE (CDFILIAL, CDPRODUTO, DTESTOQUE, QTESTOQUE) VALUES
  ('0001', 'P1', '2024-03-01', 2),
  ('0001', 'P1', '2024-03-06', 9),
  ('0001', 'P2', '2024-03-01', 5),
  ('0002', 'P1', '2024-03-01', 5);
INSERT INTO AUTFORN (NRAUTFORN, CDPRODUTO, CDFILIAL, QTAUTORIZADA, QTRECEBIDA, IDSITUACAO) VALUES
  ('AF1', 'P1', '0001', 10, 4, 'A'),
  ('AF2', 'P1', '0001', 10, 0, 'F'),
  ('AF3', 'P2', '0001', 3, 5, 'A'),
  ('AF4', 'P1', '0009', 50, 0, 'A');
INSERT INTO LIMSEGFIL (CDFILIAL, CDPRODUTO, QTLIMITESEG) VALUES ('0001', 'P4', 2.5), ('0002', 'P1', 100);
INSERT INTO PARAMOL (CDFILIAL, CDPRODUTO, QTMULTIPLO, QTMINIMA) VALUES
  ('0001', 'P1', 6, NULL),
  ('0001', 'P4', 0, 5),
  ('0001', 'P2', 0.25, NULL),
  ('0002', 'P1', 5, NULL);
UPDATE NUMERACAO SET NRULTIMO = 100 WHERE CDSEQUENCIA = 'CONSSOLI';
)");
    tx.commit();
}

std::map<std::string, double> term(Connection& db, const std::string& number,
                                   const std::string& column) {
    std::map<std::string, double> out;
    auto c = db.query(
        "SELECT CDPRODUTO, " + column + " FROM ITCONSSOLI WHERE NRCONSSOLI = ? ORDER BY CDPRODUTO",
        {number});
    while (c->next())
        out[std::string(c->text(0))] = c->real(1);
    return out;
}

std::map<std::string, double> consolidatedQuantities(Connection& db, const std::string& number) {
    return term(db, number, "QTCONSOLIDADA");
}

std::string snapshot(Connection& db) {
    static const char* const kTables[] = {
        "FILIAL",  "OPERADOR",  "COMPRADOR",  "PRODUTO",        "PARCMPSUP",
        "SOLICMP", "ITSOLICMP", "ESTOQUE",    "AUTFORN",        "LIMSEGFIL",
        "PARAMOL", "CONSSOLI",  "ITCONSSOLI", "ITCONSSOLIORIG", "NUMERACAO",
    };
    std::string out;
    for (const char* t : kTables) {
        std::vector<std::string> rows;
        auto c = db.query(std::string("SELECT * FROM ") + t);
        while (c->next()) {
            std::string row;
            for (int i = 0; i < c->columnCount(); ++i) {
                row += c->isNull(i) ? std::string("<null>") : std::string(c->text(i));
                row += '|';
            }
            rows.push_back(std::move(row));
        }
        std::sort(rows.begin(), rows.end());
        out += std::string(t) + " (" + std::to_string(rows.size()) + ")\n";
        for (const auto& r : rows)
            out += "  " + r + "\n";
    }
    return out;
}

std::int64_t scalar(Connection& db, const std::string& sql,
                    const std::vector<suitedb::Param>& params) {
    auto c = db.query(sql, params);
    if (!c->next())
        throw std::runtime_error("no row from " + sql);
    return c->int64(0);
}

std::string consistencyFaults(Connection& db) {
    static const std::pair<const char*, const char*> kChecks[] = {
        {"links to lines that do not exist",
         "SELECT COUNT(*) FROM ITCONSSOLIORIG o WHERE NOT EXISTS (SELECT 1 FROM ITSOLICMP it"
         " WHERE it.CDFILSOLI = o.CDFILSOLI AND it.CDFILLANCA = o.CDFILLANCA"
         " AND it.NRSOLICMP = o.NRSOLICMP AND it.NRITEM = o.NRITEM)"},
        {"links whose quantity differs from the line's",
         "SELECT COUNT(*) FROM ITCONSSOLIORIG o JOIN ITSOLICMP it ON it.CDFILSOLI = o.CDFILSOLI"
         " AND it.CDFILLANCA = o.CDFILLANCA AND it.NRSOLICMP = o.NRSOLICMP"
         " AND it.NRITEM = o.NRITEM WHERE ABS(o.QTSOLICITADA - it.QTSOLICITADA) > 0.0005"},
        {"lines whose mark is not their latest link",
         "SELECT COUNT(*) FROM ITSOLICMP it WHERE it.NRCONSSOLI IS NOT NULL AND"
         " COALESCE((SELECT MAX(o.NRCONSSOLI) FROM ITCONSSOLIORIG o WHERE"
         " o.CDFILSOLI = it.CDFILSOLI AND o.CDFILLANCA = it.CDFILLANCA"
         " AND o.NRSOLICMP = it.NRSOLICMP AND o.NRITEM = it.NRITEM), '') <> it.NRCONSSOLI"},
        {"linked lines left unmarked",
         "SELECT COUNT(*) FROM ITCONSSOLIORIG o JOIN ITSOLICMP it ON it.CDFILSOLI = o.CDFILSOLI"
         " AND it.CDFILLANCA = o.CDFILLANCA AND it.NRSOLICMP = o.NRSOLICMP"
         " AND it.NRITEM = o.NRITEM WHERE it.NRCONSSOLI IS NULL"},
        {"product lines whose links do not add up to QTSOLICITADA",
         "SELECT COUNT(*) FROM ITCONSSOLI ic WHERE ABS(ic.QTSOLICITADA - COALESCE((SELECT"
         " SUM(o.QTSOLICITADA) FROM ITCONSSOLIORIG o WHERE o.NRCONSSOLI = ic.NRCONSSOLI"
         " AND o.CDPRODUTO = ic.CDPRODUTO), 0)) > 0.0005"},
        {"links without a product line",
         "SELECT COUNT(*) FROM ITCONSSOLIORIG o WHERE NOT EXISTS (SELECT 1 FROM ITCONSSOLI ic"
         " WHERE ic.NRCONSSOLI = o.NRCONSSOLI AND ic.CDPRODUTO = o.CDPRODUTO)"},
        {"product lines without a header",
         "SELECT COUNT(*) FROM ITCONSSOLI ic WHERE NOT EXISTS (SELECT 1 FROM CONSSOLI c"
         " WHERE c.NRCONSSOLI = ic.NRCONSSOLI)"},
        {"product lines whose terms do not add up or are not above zero",
         "SELECT COUNT(*) FROM ITCONSSOLI WHERE QTCONSOLIDADA <= 0 OR ABS(QTSOLICITADA"
         " + QTLIMITESEG - QTESTOQUE - QTAF - QTCONSABERTA + QTARREDONDA - QTCONSOLIDADA)"
         " > 0.0005"},
    };
    std::string faults;
    for (const auto& [what, sql] : kChecks) {
        std::int64_t n = scalar(db, sql);
        if (n != 0)
            faults += std::to_string(n) + " " + what + "; ";
    }
    return faults;
}

std::int64_t unwholeConsolidations(suitedb::Connection& db, std::int64_t linesPerRun) {
    return scalar(db,
                  "SELECT COUNT(*) FROM CONSSOLI c WHERE (SELECT COUNT(*) FROM ITCONSSOLIORIG"
                  " o WHERE o.NRCONSSOLI = c.NRCONSSOLI) <> ? OR NOT EXISTS (SELECT 1 FROM"
                  " ITCONSSOLI ic WHERE ic.NRCONSSOLI = c.NRCONSSOLI)",
                  {linesPerRun});
}

std::string kindName(DbKind kind) {
    return kind == DbKind::Sqlite ? "Sqlite" : "Postgres";
}

void SmallDataSetTest::SetUp() {
    m_db = std::make_unique<ConsolidationDb>(GetParam());
    if (!m_db->available())
        GTEST_SKIP() << "RQC_TEST_PG_URL not set";
    m_conn = m_db->connect();
    loadSmallDataSet(*m_conn);
}

}  // namespace rqc::test
