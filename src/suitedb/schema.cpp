#include "suitedb/schema.h"

#include <string_view>
#include <vector>

namespace rqc::suitedb {

namespace {

// Tokens replaced per engine: {QTY} quantity, {DATE} date, {TS} timestamp, {LINES} storage
// options of the request-line table.
constexpr std::string_view kVersion1 = R"(
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
CREATE INDEX IX_PRODUTO_CDCOMPRADOR ON PRODUTO (CDCOMPRADOR);
CREATE INDEX IX_FILIAL_CDFILCENTCMP ON FILIAL (CDFILCENTCMP);
CREATE INDEX IX_AUTFORN_CDFILIAL ON AUTFORN (CDFILIAL, CDPRODUTO);
CREATE INDEX IX_CONSSOLI_CDFILCENTCMP ON CONSSOLI (CDFILCENTCMP, IDSITUACAO);
INSERT INTO NUMERACAO (CDSEQUENCIA, NRULTIMO) VALUES ('CONSSOLI', 0);
)";

constexpr std::string_view kRequestIndexes[][2] = {
    {"IX_SOLICMP_DTENTREGA", "SOLICMP (DTENTREGA)"},
    {"IX_ITSOLICMP_NRCONSSOLI", "ITSOLICMP (NRCONSSOLI)"},
    {"IX_ITSOLICMP_CDPRODUTO", "ITSOLICMP (CDPRODUTO)"},
    {"IX_ITCONSSOLIORIG_ITEM", "ITCONSSOLIORIG (CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM)"},
};

// Children before parents, for emptying.
constexpr std::string_view kDataTables[] = {
    "ITCONSSOLIORIG", "ITCONSSOLI", "CONSSOLI",  "ITSOLICMP", "SOLICMP",   "PARAMOL",  "LIMSEGFIL",
    "AUTFORN",        "ESTOQUE",    "PARCMPSUP", "PRODUTO",   "COMPRADOR", "OPERADOR", "FILIAL",
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

std::string requestIndexesDdl() {
    std::string s;
    for (const auto& ix : kRequestIndexes) {
        s += "CREATE INDEX IF NOT EXISTS ";
        s += ix[0];
        s += " ON ";
        s += ix[1];
        s += ";\n";
    }
    return s;
}

bool versionTableExists(Connection& c) {
    auto cur = c.engine() == Engine::Sqlite
                   ? c.query(
                         "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND "
                         "name = 'SCHEMA_VERSION'")
                   : c.query(
                         "SELECT COUNT(*) FROM information_schema.tables WHERE "
                         "table_schema = current_schema() AND table_name = 'schema_version'");
    return cur->next() && cur->int64(0) > 0;
}

int recordedVersion(Connection& c) {
    auto cur = c.query("SELECT MAX(VERSAO) FROM SCHEMA_VERSION");
    return cur->next() && !cur->isNull(0) ? static_cast<int>(cur->int64(0)) : 0;
}

}  // namespace

int schemaVersion(Connection& c) {
    return versionTableExists(c) ? recordedVersion(c) : 0;
}

int applySchema(Connection& c) {
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
    if (before < 1) {
        c.exec(forEngine(kVersion1, c.engine()));
        c.exec(requestIndexesDdl());
        if (pg)
            c.exec(kPostgresFunctions);
        c.execute("INSERT INTO SCHEMA_VERSION (VERSAO, DTAPLICACAO) VALUES (?, CURRENT_TIMESTAMP)",
                  {std::int64_t{1}});
    }
    tx.commit();
    return before;
}

bool hasData(Connection& c) {
    for (std::string_view t : kDataTables) {
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
        for (std::size_t i = 0; i < std::size(kDataTables); ++i) {
            sql += i > 0 ? ", " : "";
            sql += kDataTables[i];
        }
        c.exec(sql);
    } else {
        for (std::string_view t : kDataTables)
            c.exec("DELETE FROM " + std::string(t));
    }
    c.exec("UPDATE NUMERACAO SET NRULTIMO = 0");
    tx.commit();
}

void dropRequestIndexes(Connection& c) {
    for (const auto& ix : kRequestIndexes)
        c.exec("DROP INDEX IF EXISTS " + std::string(ix[0]));
}

void createRequestIndexes(Connection& c) {
    c.exec(requestIndexesDdl());
}

std::string firebirdSchemaScript() {
    return R"(CREATE TABLE FILIAL (
    CDFILIAL VARCHAR(4) NOT NULL PRIMARY KEY,
    NMFILIAL VARCHAR(30) NOT NULL,
    IDCNTRRESC CHAR(1),
    CDREGIAO VARCHAR(3),
    IDFUNCAOFILI CHAR(1),
    CDFILCENTCMP VARCHAR(4),
    DTPROCESSAMENTO DATE NOT NULL
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
SET TERM ^ ;
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
