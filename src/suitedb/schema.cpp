#include "suitedb/schema.h"

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

constexpr std::string_view kPostgresFunctions = R"(
CREATE OR REPLACE FUNCTION NVLSTR(a text, b text) RETURNS text
    LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT COALESCE(a, b) $$;
)";

std::string replaceAll(std::string s, std::string_view from, std::string_view to) {
    for (std::size_t at = s.find(from); at != std::string::npos;
         at = s.find(from, at + to.size())) {
        s.replace(at, from.size(), to);
    }
    return s;
}

std::string forEngine(std::string_view ddl, Engine e) {
    bool pg = e == Engine::Postgres;
    std::string s(ddl);
    s = replaceAll(std::move(s), "{QTY}", pg ? "NUMERIC(15,3)" : "REAL");
    s = replaceAll(std::move(s), "{DATE}", pg ? "DATE" : "TEXT");
    s = replaceAll(std::move(s), "{TS}", pg ? "TIMESTAMP" : "TEXT");
    s = replaceAll(std::move(s), "{LINES}", pg ? " WITH (fillfactor = 70)" : "");
    return s;
}

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

// `name` in upper case, as the schema writes it.
bool tableExists(Connection& c, std::string_view name) {
    std::string lower(name);
    for (char& ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    auto cur = c.engine() == Engine::Sqlite
                   ? c.query(
                         "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND "
                         "name = ?",
                         {std::string(name)})
                   : c.query(
                         "SELECT COUNT(*) FROM information_schema.tables WHERE "
                         "table_schema = current_schema() AND table_name = ?",
                         {lower});
    return cur->next() && cur->int64(0) > 0;
}

bool versionTableExists(Connection& c) {
    return tableExists(c, "SCHEMA_VERSION");
}

// The data tables the database's own version has, children before parents.
std::vector<std::string_view> presentDataTables(Connection& c) {
    std::vector<std::string_view> tables;
    for (std::string_view t : kDataTables) {
        if (tableExists(c, t))
            tables.push_back(t);
    }
    return tables;
}

int recordedVersion(Connection& c) {
    auto cur = c.query("SELECT MAX(VERSAO) FROM SCHEMA_VERSION");
    return cur->next() && !cur->isNull(0) ? static_cast<int>(cur->int64(0)) : 0;
}

void schemaStep1(Connection& c) {
    c.exec(forEngine(kMasterTables, c.engine()));
    c.exec(forEngine(kVersion1, c.engine()));
    c.exec(requestIndexesDdl(1));
    if (c.engine() == Engine::Postgres)
        c.exec(kPostgresFunctions);
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
    bool pg = c.engine() == Engine::Postgres;
    Transaction tx(c);
    if (pg)
        c.exec("SELECT pg_advisory_xact_lock(41000001)");
    c.exec(pg ? "CREATE TABLE IF NOT EXISTS SCHEMA_VERSION (VERSAO INTEGER NOT NULL PRIMARY KEY, "
                "DTAPLICACAO TIMESTAMP)"
              : "CREATE TABLE IF NOT EXISTS SCHEMA_VERSION (VERSAO INTEGER NOT NULL PRIMARY KEY, "
                "DTAPLICACAO TEXT)");
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
    if (c.engine() == Engine::Postgres) {
        std::string sql = "TRUNCATE ";
        for (std::string_view t : presentDataTables(c)) {
            sql += sql.size() > 9 ? ", " : "";
            sql += t;
        }
        c.exec(sql);
    } else {
        for (std::string_view t : presentDataTables(c))
            c.exec("DELETE FROM " + std::string(t));
    }
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
    return replaceAll(std::string(kMasterTables), "{DATE}", "DATE") + R"(SET TERM ^ ;
CREATE OR ALTER FUNCTION NVLSTR(A VARCHAR(4000), B VARCHAR(4000)) RETURNS VARCHAR(4000)
AS
BEGIN
    RETURN COALESCE(A, B);
END^
SET TERM ; ^
COMMIT;
)";
}

}  // namespace rqc::suitedb
