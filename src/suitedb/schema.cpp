#include "suitedb/schema.h"

#include "suitedb/dialect.h"

#include "suitedb/schema_steps.h"

#include <cctype>
#include <string_view>
#include <vector>

namespace rqc::suitedb {

namespace {

// Tokens replaced per engine: {QTY} quantity, {DATE} date, {TS} timestamp, {LINES} storage
// options of the request-line table.
// The master tables the suite's modules share; the Firebird script creates them too.
constexpr std::string_view kMasterTables = R"(
CREATE TABLE FILIAL (
    CDFILIAL VARCHAR(4) NOT NULL PRIMARY KEY,
    NMFILIAL VARCHAR(30) NOT NULL,
    IDCNTRRESC CHAR(1),
    CDREGIAO VARCHAR(3),
    IDFUNCAOFILI CHAR(1),
    CDFILCENTCMP VARCHAR(4),
    DTPROCESSAMENTO {DATE} NOT NULL
);
CREATE TABLE OPERADOR (
    CDOPERADOR VARCHAR(12) NOT NULL PRIMARY KEY,
    NMOPERADOR VARCHAR(40)
);
CREATE TABLE COMPRADOR (
    CDOPERADOR VARCHAR(12) NOT NULL PRIMARY KEY REFERENCES OPERADOR (CDOPERADOR)
);
CREATE TABLE PRODUTO (
    CDPRODUTO VARCHAR(10) NOT NULL PRIMARY KEY,
    CDARVPROD VARCHAR(20) NOT NULL UNIQUE,
    NMPRODUTO VARCHAR(50),
    CDCOMPRADOR VARCHAR(12) REFERENCES COMPRADOR (CDOPERADOR),
    CDPRODORIG VARCHAR(10) REFERENCES PRODUTO (CDPRODUTO)
);
CREATE INDEX IX_PRODUTO_CDCOMPRADOR ON PRODUTO (CDCOMPRADOR);
CREATE INDEX IX_FILIAL_CDFILCENTCMP ON FILIAL (CDFILCENTCMP);
)";
constexpr std::string_view kVersion1 = R"(
CREATE TABLE PARCMPSUP (
    CDFILIAL VARCHAR(4) NOT NULL PRIMARY KEY,
    IDUTPRODPREF CHAR(1) NOT NULL,
    QTDIASCOBERTURA INTEGER
);
CREATE TABLE SOLICMP (
    CDFILSOLI VARCHAR(4) NOT NULL,
    CDFILLANCA VARCHAR(4) NOT NULL,
    NRSOLICMP VARCHAR(10) NOT NULL,
    DTSOLICITACAO {DATE},
    DTENTREGA {DATE} NOT NULL,
    CDOPERADOR VARCHAR(12),
    PRIMARY KEY (CDFILSOLI, CDFILLANCA, NRSOLICMP)
);
CREATE TABLE ITSOLICMP (
    CDFILSOLI VARCHAR(4) NOT NULL,
    CDFILLANCA VARCHAR(4) NOT NULL,
    NRSOLICMP VARCHAR(10) NOT NULL,
    NRITEM INTEGER NOT NULL,
    CDPRODUTO VARCHAR(10) NOT NULL,
    QTSOLICITADA {QTY} NOT NULL,
    NRCONSSOLI VARCHAR(10),
    PRIMARY KEY (CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM)
){LINES};
CREATE TABLE ESTOQUE (
    CDFILIAL VARCHAR(4) NOT NULL,
    CDPRODUTO VARCHAR(10) NOT NULL,
    DTESTOQUE {DATE} NOT NULL,
    QTESTOQUE {QTY},
    PRIMARY KEY (CDFILIAL, CDPRODUTO, DTESTOQUE)
);
CREATE TABLE AUTFORN (
    NRAUTFORN VARCHAR(10) NOT NULL,
    CDPRODUTO VARCHAR(10) NOT NULL,
    CDFILIAL VARCHAR(4),
    QTAUTORIZADA {QTY},
    QTRECEBIDA {QTY},
    IDSITUACAO CHAR(1),
    PRIMARY KEY (NRAUTFORN, CDPRODUTO)
);
CREATE TABLE LIMSEGFIL (
    CDFILIAL VARCHAR(4) NOT NULL,
    CDPRODUTO VARCHAR(10) NOT NULL,
    QTLIMITESEG {QTY},
    PRIMARY KEY (CDFILIAL, CDPRODUTO)
);
CREATE TABLE PARAMOL (
    CDFILIAL VARCHAR(4) NOT NULL,
    CDPRODUTO VARCHAR(10) NOT NULL,
    QTMULTIPLO {QTY},
    QTMINIMA {QTY},
    PRIMARY KEY (CDFILIAL, CDPRODUTO)
);
CREATE TABLE CONSSOLI (
    NRCONSSOLI VARCHAR(10) NOT NULL PRIMARY KEY,
    CDFILIAL VARCHAR(4),
    CDFILCENTCMP VARCHAR(4),
    CDFILEST VARCHAR(4),
    CDARVPRODINI VARCHAR(20),
    CDARVPRODFIN VARCHAR(20),
    DTENTREGAINI {DATE},
    DTENTREGAFIN {DATE},
    DTPROCESTOQUE {DATE},
    LSTCOMPRADOR TEXT,
    LSTFILIAL TEXT,
    LSTSOLICIT TEXT,
    IDCONSESTOQUE CHAR(1),
    IDCONSSOLI CHAR(1),
    IDPRODORIG CHAR(1),
    IDTODASSOLI CHAR(1),
    IDCONSSOLIABERTA CHAR(1),
    IDCONSAF CHAR(1),
    IDLIMITESEG CHAR(1),
    IDPARAMOL CHAR(1),
    IDSITUACAO CHAR(1) DEFAULT 'A',
    DTGERACAO {TS},
    NMUSUARIO VARCHAR(40)
);
CREATE TABLE ITCONSSOLI (
    NRCONSSOLI VARCHAR(10) NOT NULL,
    CDPRODUTO VARCHAR(10) NOT NULL,
    QTSOLICITADA {QTY},
    QTLIMITESEG {QTY},
    QTESTOQUE {QTY},
    QTAF {QTY},
    QTCONSABERTA {QTY},
    QTARREDONDA {QTY},
    QTCONSOLIDADA {QTY},
    PRIMARY KEY (NRCONSSOLI, CDPRODUTO)
);
CREATE TABLE ITCONSSOLIORIG (
    NRCONSSOLI VARCHAR(10) NOT NULL,
    CDFILSOLI VARCHAR(4) NOT NULL,
    CDFILLANCA VARCHAR(4) NOT NULL,
    NRSOLICMP VARCHAR(10) NOT NULL,
    NRITEM INTEGER NOT NULL,
    CDPRODUTO VARCHAR(10),
    QTSOLICITADA {QTY},
    PRIMARY KEY (NRCONSSOLI, CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM)
);
CREATE TABLE NUMERACAO (
    CDSEQUENCIA VARCHAR(20) NOT NULL PRIMARY KEY,
    NRULTIMO BIGINT
);
CREATE INDEX IX_AUTFORN_CDFILIAL ON AUTFORN (CDFILIAL, CDPRODUTO);
CREATE INDEX IX_CONSSOLI_CDFILCENTCMP ON CONSSOLI (CDFILCENTCMP, IDSITUACAO);
INSERT INTO NUMERACAO (CDSEQUENCIA, NRULTIMO) VALUES ('CONSSOLI', 0);
)";

// Secondary indexes of the request tables; `until` is the last schema version that has the
// index (0: every version), so a bulk load rebuilds what the database's version defines.
struct RequestIndex {
    std::string_view name;
    std::string_view definition;
    int until;
};
constexpr RequestIndex kRequestIndexes[] = {
    {"IX_SOLICMP_DTENTREGA", "SOLICMP (DTENTREGA)", 0},
    {"IX_ITSOLICMP_NRCONSSOLI", "ITSOLICMP (NRCONSSOLI)", 1},
    {"IX_ITSOLICMP_CDPRODUTO", "ITSOLICMP (CDPRODUTO)", 0},
    {"IX_ITCONSSOLIORIG_ITEM", "ITCONSSOLIORIG (CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM)", 0},
};

// Children before parents, for emptying.
constexpr std::string_view kDataTables[] = {
    "ITCONSSOLIORIG", "ITCONSSOLI",    "CONSSOLI", "ITSOLICMP", "SOLICMP",    "PARAMOL",
    "LIMSEGFIL",      "AUTFORN",       "ESTOQUE",  "PARCMPSUP", "PRODUTO",    "COMPRADOR",
    "PERMISSAO",      "OPERADORSENHA", "OPERADOR", "FILIAL",    "LOGINFALHA",
};

std::string requestIndexesDdl(int version) {
    std::string s;
    for (const auto& ix : kRequestIndexes) {
        if (ix.until != 0 && version > ix.until)
            continue;
        s += "CREATE INDEX IF NOT EXISTS ";
        s += ix.name;
        s += " ON ";
        s += ix.definition;
        s += ";\n";
    }
    return s;
}

bool versionTableExists(Connection& c) {
    return Dialect(c).tableExists(c, "SCHEMA_VERSION");
}

// The data tables the database's own version has, children before parents.
std::vector<std::string_view> presentDataTables(Connection& c) {
    std::vector<std::string_view> tables;
    for (std::string_view t : kDataTables) {
        if (Dialect(c).tableExists(c, t))
            tables.push_back(t);
    }
    return tables;
}

int recordedVersion(Connection& c) {
    auto cur = c.query("SELECT MAX(VERSAO) FROM SCHEMA_VERSION");
    return cur->next() && !cur->isNull(0) ? static_cast<int>(cur->int64(0)) : 0;
}

void schemaStep1(Connection& c) {
    const Dialect d(c);
    c.exec(d.schemaDdl(kMasterTables));
    c.exec(d.schemaDdl(kVersion1));
    c.exec(requestIndexesDdl(1));
    d.createFunctions(c);
}

// Every version in ascending order; each step takes a database at the previous version to its
// own, inside applySchema's transaction.
struct SchemaStep {
    int version;
    void (*apply)(Connection&);
};
constexpr SchemaStep kSteps[] = {
    {1, schemaStep1}, {2, schemaStep2}, {3, schemaStep3},
    {4, schemaStep4}, {5, schemaStep5}, {6, schemaStep6},
};
static_assert(std::size(kSteps) == kSchemaVersion &&
              kSteps[kSchemaVersion - 1].version == kSchemaVersion);

}  // namespace

int schemaVersion(Connection& c) {
    return versionTableExists(c) ? recordedVersion(c) : 0;
}

int applySchema(Connection& c) {
    return applySchemaUpTo(c, kSchemaVersion);
}

int applySchemaUpTo(Connection& c, int version) {
    if (version < 1 || version > kSchemaVersion) {
        throw DbError("schema version " + std::to_string(version) + " does not exist (1 to " +
                      std::to_string(kSchemaVersion) + ")");
    }
    const Dialect d(c);
    Transaction tx(c);
    d.lockSchema(c);
    c.exec(d.schemaDdl(
        "CREATE TABLE IF NOT EXISTS SCHEMA_VERSION (VERSAO INTEGER NOT NULL PRIMARY KEY, "
        "DTAPLICACAO {TS})"));
    int before = recordedVersion(c);
    if (before > kSchemaVersion) {
        throw DbError("the database has schema version " + std::to_string(before) +
                      ", newer than version " + std::to_string(kSchemaVersion) +
                      " that this program knows; use a newer program");
    }
    for (const auto& step : kSteps) {
        if (before >= step.version || step.version > version)
            continue;
        step.apply(c);
        c.execute("INSERT INTO SCHEMA_VERSION (VERSAO, DTAPLICACAO) VALUES (?, CURRENT_TIMESTAMP)",
                  {std::int64_t{step.version}});
    }
    tx.commit();
    return before;
}

bool hasData(Connection& c) {
    for (std::string_view t : presentDataTables(c)) {
        auto cur = c.query("SELECT 1 FROM " + std::string(t) + " LIMIT 1");
        if (cur->next())
            return true;
    }
    return false;
}

void clearData(Connection& c) {
    Transaction tx(c);
    Dialect(c).emptyTables(c, presentDataTables(c));
    c.exec("UPDATE NUMERACAO SET NRULTIMO = 0");
    tx.commit();
}

void dropRequestIndexes(Connection& c, std::string_view table) {
    for (const auto& ix : kRequestIndexes) {
        if (table.empty() || (ix.definition.starts_with(table) &&
                              ix.definition.substr(table.size()).starts_with(" (")))
            c.exec("DROP INDEX IF EXISTS " + std::string(ix.name));
    }
}

void createRequestIndexes(Connection& c) {
    c.exec(requestIndexesDdl(schemaVersion(c)));
}

std::string firebirdSchemaScript() {
    return Dialect::firebirdSchemaScript(kMasterTables);
}

}  // namespace rqc::suitedb
