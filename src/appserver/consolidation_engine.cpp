#include "consolidation_engine.h"

#include <chrono>
#include <cstdio>

#include "dates/dates.h"
#include "method_arguments.h"
#include "metrics.h"
#include "protocol/utf8.h"
#include "suitedb/dialect.h"

namespace rqc::appserver {

namespace {

using suitedb::Dialect;
using suitedb::Param;

constexpr int kNumberDigits = 10;
constexpr std::int64_t kLastNumber = 9999999999;
constexpr std::size_t kUserNameLength = 40;

// SQL text and its bound values, built in the order the placeholders appear.
struct Statement {
    std::string sql;
    std::vector<Param> params;

    Statement& operator<<(std::string_view fragment) {
        sql += fragment;
        return *this;
    }
    Statement& bind(Param p) {
        params.push_back(std::move(p));
        return *this;
    }
};

// The parts of a request key: CDFILSOLI, CDFILLANCA, NRSOLICMP.
constexpr int kRequestKeyParts[] = {kBranchCodeLength, kBranchCodeLength, kRequestNumberLength};

const char* const kNet = "(QTSOLICITADA + QTLIMITESEG - QTESTOQUE - QTAF - QTCONSABERTA)";

void clearWorkTables(suitedb::Connection& db, const Dialect& d) {
    db.exec("DELETE FROM " + d.tempTable("RQC_CONS_SEL") + "; DELETE FROM " +
            d.tempTable("RQC_CONS_AGG") + "; DELETE FROM " + d.tempTable("RQC_CONS_PROD"));
}

// Work tables of one run. RQC_CONS_SEL keeps each line's physical address (SQLite rowid,
// PostgreSQL ctid; stable while the run holds the line) so that the marking needs no key
// lookups. On SQLite, RQC_CONS_PROD holds the products in range with the product they are
// consolidated under (a small keyed table beats a PRODUTO lookup per line).
void createWorkTables(suitedb::Connection& db, const Dialect& d) {
    std::string q = d.quantityType();
    std::string sel = "RQC_CONS_SEL (RID " + d.rowAddressType() + " NOT NULL, " +
                      "CDFILSOLI VARCHAR(4) NOT NULL, CDFILLANCA VARCHAR(4) NOT NULL, "
                      "NRSOLICMP VARCHAR(10) NOT NULL, NRITEM INTEGER NOT NULL, "
                      "CDPRODUTO VARCHAR(10) NOT NULL, QTSOLICITADA " +
                      q + " NOT NULL)";
    std::string agg = "RQC_CONS_AGG (CDPRODUTO VARCHAR(10) PRIMARY KEY, QTSOLICITADA " + q +
                      ", QTLIMITESEG " + q + ", QTESTOQUE " + q + ", QTAF " + q +
                      ", QTCONSABERTA " + q + ", QTARREDONDA " + q + ")";
    std::string script = d.createWorkTable(sel) + "; " + d.createWorkTable(agg);
    if (!d.hashJoins()) {
        script += "; " + d.createWorkTable(
                             "RQC_CONS_PROD (CDPRODUTO TEXT PRIMARY KEY, CDCONS TEXT NOT NULL)"
                             " WITHOUT ROWID");
    }
    db.exec(script);
    if (d.keepsWorkTables())
        clearWorkTables(db, d);
}

// The products a line may have: tree code in range and buyer listed.
void productFilter(Statement& s, const ConsSoliArguments& a, const Dialect& d) {
    s << "p.CDARVPROD >= ? AND p.CDARVPROD <= ?";
    s.bind(a.cdArvProdIni).bind(a.cdArvProdFin);
    if (!a.compradores.empty()) {
        s << " AND p.CDCOMPRADOR IN (" << d.listSource() << ")";
        s.bind(d.listParam(a.compradores));
    }
}

const char* consolidatedProduct(const ConsSoliArguments& a) {
    return a.prodOrig ? "COALESCE(p.CDPRODORIG, p.CDPRODUTO)" : "p.CDPRODUTO";
}

Statement selectProducts(const ConsSoliArguments& a, const Dialect& d) {
    Statement s;
    s << "INSERT INTO RQC_CONS_PROD (CDPRODUTO, CDCONS) SELECT p.CDPRODUTO, "
      << consolidatedProduct(a) << " FROM PRODUTO p WHERE ";
    productFilter(s, a, d);
    return s;
}

Statement selectLines(const ConsSoliArguments& a, const Dialect& d, bool lockLines) {
    Statement s;
    s << "INSERT INTO RQC_CONS_SEL (RID, CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM, CDPRODUTO,"
         " QTSOLICITADA) SELECT "
      << d.rowAddress("it") << ", it.CDFILSOLI, it.CDFILLANCA, it.NRSOLICMP, it.NRITEM, "
      << (d.hashJoins() ? consolidatedProduct(a) : "p.CDCONS")
      << ", it.QTSOLICITADA FROM ITSOLICMP it"
         " JOIN SOLICMP s ON s.CDFILSOLI = it.CDFILSOLI AND s.CDFILLANCA = it.CDFILLANCA"
         " AND s.NRSOLICMP = it.NRSOLICMP"
         " JOIN FILIAL f ON f.CDFILIAL = it.CDFILSOLI"
      << (d.hashJoins() ? " JOIN PRODUTO p" : " JOIN " + d.tempTable("RQC_CONS_PROD") + " p")
      << " ON p.CDPRODUTO = it.CDPRODUTO WHERE (f.CDFILCENTCMP = ?"
         " OR (f.CDFILCENTCMP IS NULL AND f.CDFILIAL = ?))";
    s.bind(a.cdFilCentCmp).bind(a.cdFilCentCmp);
    s << " AND s.DTENTREGA >= ? AND s.DTENTREGA <= ?";
    s.bind(a.dtEntregaIni).bind(a.dtEntregaFin);
    if (d.hashJoins()) {
        s << " AND ";
        productFilter(s, a, d);
    }
    if (a.onlyNeverTaken())
        s << " AND it.NRCONSSOLI IS NULL";
    if (!a.filiais.empty()) {
        s << " AND it.CDFILSOLI IN (" << d.listSource() << ")";
        s.bind(d.listParam(a.filiais));
    }
    if (!a.todasSolicitacoes) {
        s << " AND (it.CDFILSOLI, it.CDFILLANCA, it.NRSOLICMP) IN ("
          << d.keyPartsSource(kRequestKeyParts) << ")";
        s.bind(d.listParam(a.solicitacoes));
    }
    if (lockLines)
        s << d.forUpdate("it", a.onlyNeverTaken());
    return s;
}

Statement aggregate(const ConsSoliArguments& a) {
    Statement s;
    s << "INSERT INTO RQC_CONS_AGG (CDPRODUTO, QTSOLICITADA, QTLIMITESEG, QTESTOQUE, QTAF, "
         "QTCONSABERTA, QTARREDONDA) SELECT g.CDPRODUTO, g.QT, ";
    if (a.limiteSeg) {
        s << "COALESCE((SELECT l.QTLIMITESEG FROM LIMSEGFIL l WHERE l.CDFILIAL = ?"
             " AND l.CDPRODUTO = g.CDPRODUTO), 0), ";
        s.bind(a.cdFilCentCmp);
    } else {
        s << "0, ";
    }
    if (a.consEstoque) {
        s << "COALESCE((SELECT e.QTESTOQUE FROM ESTOQUE e WHERE e.CDFILIAL = ?"
             " AND e.CDPRODUTO = g.CDPRODUTO AND e.DTESTOQUE <= ?"
             " ORDER BY e.DTESTOQUE DESC LIMIT 1), 0), ";
        s.bind(a.cdFilEst).bind(a.dtProcEstoque);
    } else {
        s << "0, ";
    }
    s << (a.consAf ? "COALESCE(af.QT, 0), " : "0, ");
    s << (a.consSoliAberta ? "COALESCE(ca.QT, 0), " : "0, ");
    s << "0 FROM (SELECT CDPRODUTO, SUM(QTSOLICITADA) AS QT FROM RQC_CONS_SEL"
         " GROUP BY CDPRODUTO) g";
    if (a.consAf) {
        s << " LEFT JOIN (SELECT x.CDPRODUTO, SUM(CASE WHEN x.QTAUTORIZADA - "
             "COALESCE(x.QTRECEBIDA, 0) > 0 THEN x.QTAUTORIZADA - COALESCE(x.QTRECEBIDA, 0)"
             " ELSE 0 END) AS QT FROM AUTFORN x WHERE x.CDFILIAL = ? AND x.IDSITUACAO = 'A'"
             " GROUP BY x.CDPRODUTO) af ON af.CDPRODUTO = g.CDPRODUTO";
        s.bind(a.cdFilCentCmp);
    }
    if (a.consSoliAberta) {
        s << " LEFT JOIN (SELECT ic.CDPRODUTO, SUM(ic.QTCONSOLIDADA) AS QT FROM ITCONSSOLI ic"
             " JOIN CONSSOLI c ON c.NRCONSSOLI = ic.NRCONSSOLI WHERE c.CDFILCENTCMP = ?"
             " AND c.IDSITUACAO = 'A' GROUP BY ic.CDPRODUTO) ca ON ca.CDPRODUTO = g.CDPRODUTO";
        s.bind(a.cdFilCentCmp);
    }
    return s;
}

// Quantity up to the OL minimum, then up to the next multiple.
Statement roundToOl(const ConsSoliArguments& a, const Dialect& d) {
    const std::string net =
        "(RQC_CONS_AGG.QTSOLICITADA + RQC_CONS_AGG.QTLIMITESEG - RQC_CONS_AGG.QTESTOQUE"
        " - RQC_CONS_AGG.QTAF - RQC_CONS_AGG.QTCONSABERTA)";
    std::string base = "(CASE WHEN o.QTMINIMA IS NOT NULL AND o.QTMINIMA > " + net +
                       " THEN o.QTMINIMA ELSE " + net + " END)";
    std::string target = "(CASE WHEN o.QTMULTIPLO > 0 THEN " +
                         d.ceilPositive("ROUND(" + base + " / o.QTMULTIPLO, 6)") +
                         " * o.QTMULTIPLO ELSE " + base + " END)";
    Statement s;
    s << "UPDATE RQC_CONS_AGG SET QTARREDONDA = ROUND(" << target << " - " << net
      << ", 3) FROM PARAMOL o WHERE o.CDFILIAL = ? AND o.CDPRODUTO = RQC_CONS_AGG.CDPRODUTO";
    s.bind(a.olBranch());
    return s;
}

std::int64_t nextNumber(suitedb::Connection& db) {
    auto c = db.query(
        "INSERT INTO NUMERACAO (CDSEQUENCIA, NRULTIMO) VALUES ('CONSSOLI', 1)"
        " ON CONFLICT (CDSEQUENCIA) DO UPDATE SET NRULTIMO = NUMERACAO.NRULTIMO + 1"
        " RETURNING NRULTIMO");
    if (!c->next())
        throw suitedb::DbError("the numbering of consolidated requests returned no row");
    std::int64_t n = c->int64(0);
    if (n < 1 || n > kLastNumber) {
        throw suitedb::DbError("the numbering of consolidated requests ('CONSSOLI') reached " +
                               std::to_string(n) + ", beyond " + std::to_string(kNumberDigits) +
                               " digits");
    }
    return n;
}

std::string formatNumber(std::int64_t n) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%0*lld", kNumberDigits, static_cast<long long>(n));
    return buf;
}

}  // namespace

std::string recordedUser(const std::string& user) {
    return std::string(protocol::wire::utf8Prefix(user, kUserNameLength));
}

namespace {

// The letter an option is stored as, as the client sent it.
Param letter(OptionLetters letters, bool value) {
    return std::string(letters.letter(value));
}

Param textOrNull(const std::string& s) {
    if (s.empty())
        return nullptr;
    return s;
}

void insertHeader(suitedb::Connection& db, const ConsSoliArguments& a, const std::string& number,
                  const std::string& user) {
    std::string requests;
    for (const auto& k : a.solicitacoes) {
        if (!requests.empty())
            requests += ',';
        requests += k;
    }
    db.execute(
        "INSERT INTO CONSSOLI (NRCONSSOLI, CDFILIAL, CDFILCENTCMP, CDFILEST, CDARVPRODINI,"
        " CDARVPRODFIN, DTENTREGAINI, DTENTREGAFIN, DTPROCESTOQUE, LSTCOMPRADOR, LSTFILIAL,"
        " LSTSOLICIT, IDCONSESTOQUE, IDCONSSOLI, IDPRODORIG, IDTODASSOLI, IDCONSSOLIABERTA,"
        " IDCONSAF, IDLIMITESEG, IDPARAMOL, IDSITUACAO, DTGERACAO, NMUSUARIO)"
        " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 'A', ?, ?)",
        {number,
         a.cdFilial,
         a.cdFilCentCmp,
         textOrNull(a.cdFilEst),
         a.cdArvProdIni,
         a.cdArvProdFin,
         a.dtEntregaIni,
         a.dtEntregaFin,
         a.dtProcEstoque,
         joinCodeList(a.compradores),
         joinCodeList(a.filiais),
         requests,
         letter(kSimNao, a.consEstoque),
         letter(kTodasNao, a.todasLinhas),
         letter(kSimNao, a.prodOrig),
         letter(kTodasOuVazio, a.todasSolicitacoes),
         letter(kSimNao, a.consSoliAberta),
         letter(kSimNao, a.consAf),
         letter(kSimNao, a.limiteSeg),
         letter(kSimNao, a.paramOl),
         dates::localTimestamp(),
         recordedUser(user)});
}

// SQLite: the main page cache of a run, sized for its writes (the table and index pages the
// links, lines and marks touch stay cached until commit instead of being read again).
constexpr std::int64_t kRunCacheBytes = std::int64_t{64} << 20;

// PostgreSQL: memory of one run's sorts and hashes (the links are sorted, the lines summed),
// and of the connection's temporary tables, so that the work tables of a large run stay in
// memory. temp_buffers can only change before the connection first uses a temporary table;
// on a connection that did so with another size the setting stays as it is.
constexpr std::string_view kRunWorkMem = "64MB";
constexpr std::string_view kRunTempBuffers = "64MB";

std::string consolidate(suitedb::Connection& db, const ConsSoliArguments& a,
                        const std::string& user) {
    const auto start = std::chrono::steady_clock::now();
    const Dialect d(db);
    suitedb::WorkSettings settings(db, kRunCacheBytes);
    d.sizeTempBuffers(db, kRunTempBuffers);
    suitedb::Transaction tx(db);
    d.sizeSortMemory(db, kRunWorkMem);
    // "T" runs of one central branch take their turns ("N" runs skip each other's lines).
    if (!a.onlyNeverTaken())
        d.lockKey(db, kBranchLockClass, a.cdFilCentCmp);
    if (stageConsolidation(db, a, true) != Staged::Products)
        return "";

    std::string number = formatNumber(nextNumber(db));
    insertHeader(db, a, number, user);
    const std::int64_t products = db.execute(
        "INSERT INTO ITCONSSOLI (NRCONSSOLI, CDPRODUTO, QTSOLICITADA, QTLIMITESEG,"
        " QTESTOQUE, QTAF, QTCONSABERTA, QTARREDONDA, QTCONSOLIDADA)"
        " SELECT CAST(? AS VARCHAR(10)), CDPRODUTO, " +
            storedTerms() + " FROM RQC_CONS_AGG",
        {number});
    std::int64_t linked = db.execute(
        "INSERT INTO ITCONSSOLIORIG (NRCONSSOLI, CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM,"
        " CDPRODUTO, QTSOLICITADA) SELECT CAST(? AS VARCHAR(10)), CDFILSOLI, CDFILLANCA,"
        " NRSOLICMP, NRITEM, CDPRODUTO, QTSOLICITADA FROM RQC_CONS_SEL"
        " ORDER BY CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM",
        {number});
    std::int64_t marked =
        db.execute("UPDATE ITSOLICMP SET NRCONSSOLI = ? WHERE " +
                       d.rowAddressIn("SELECT RID FROM " + d.tempTable("RQC_CONS_SEL")),
                   {number});
    if (marked != linked) {
        throw suitedb::DbError("consolidation " + number + " linked " + std::to_string(linked) +
                               " request lines but marked " + std::to_string(marked));
    }
    if (d.keepsWorkTables())
        clearWorkTables(db, d);
    tx.commit();
    if (auto* m = metrics())
        m->consolidation(linked, products, std::chrono::steady_clock::now() - start);
    return number;
}

}  // namespace

Staged stageConsolidation(suitedb::Connection& db, const ConsSoliArguments& a, bool lockLines) {
    const Dialect d(db);
    createWorkTables(db, d);

    if (!d.hashJoins()) {
        Statement products = selectProducts(a, d);
        if (db.execute(products.sql, products.params) == 0)
            return Staged::NoLine;
    }
    Statement sel = selectLines(a, d, lockLines);
    if (db.execute(sel.sql, sel.params) == 0)
        return Staged::NoLine;

    Statement agg = aggregate(a);
    std::int64_t products = db.execute(agg.sql, agg.params);
    const std::string atOrBelowZero = std::string(" WHERE ROUND(") + kNet + ", 3) <= 0";
    auto counted = db.query("SELECT COUNT(*) FROM RQC_CONS_AGG" + atOrBelowZero);
    const std::int64_t dropped = counted->next() ? counted->int64(0) : 0;
    if (dropped == products)
        return Staged::AllNetZero;
    if (dropped > 0) {
        db.execute("DELETE FROM RQC_CONS_AGG" + atOrBelowZero);
        db.execute(
            "DELETE FROM RQC_CONS_SEL WHERE CDPRODUTO NOT IN (SELECT CDPRODUTO FROM RQC_CONS_AGG)");
    }
    if (a.paramOl) {
        Statement r = roundToOl(a, d);
        db.execute(r.sql, r.params);
    }
    return Staged::Products;
}

std::string storedTerms() {
    return std::string(
               "ROUND(QTSOLICITADA, 3), ROUND(QTLIMITESEG, 3), ROUND(QTESTOQUE, 3),"
               " ROUND(QTAF, 3), ROUND(QTCONSABERTA, 3), ROUND(QTARREDONDA, 3), ROUND(") +
           kNet + " + QTARREDONDA, 3)";
}

std::string runGetConsSoli(suitedb::Connection& db, const std::vector<protocol::Argument>& args,
                           const std::string& user) {
    return runGetConsSoli(db, parseConsSoliArguments(args), user);
}

std::string runGetConsSoli(suitedb::Connection& db, const ConsSoliArguments& a,
                           const std::string& user) {
    if (!a.todasSolicitacoes && a.solicitacoes.empty())
        return "";
    return consolidate(db, a, user);
}

}  // namespace rqc::appserver
