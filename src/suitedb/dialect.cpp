#include "suitedb/dialect.h"

namespace rqc::suitedb {

namespace {

constexpr std::int64_t kTempStoreMemory = 2;

}  // namespace

const Dialect::Capabilities Dialect::kSqlite{.rowLocks = false,
                                             .queuesWriters = true,
                                             .hashJoins = false,
                                             .keepsWorkTables = true,
                                             .pragmas = true,
                                             .typedColumns = false,
                                             .plansByStatistics = false,
                                             .serverSettings =
                                                 "PRAGMA temp_store = MEMORY; PRAGMA mmap_size = "
                                                 "268435456;",
                                             .acceptsWrites = "SELECT 1"};
const Dialect::Capabilities Dialect::kPostgres{
    .rowLocks = true,
    .queuesWriters = false,
    .hashJoins = true,
    .keepsWorkTables = false,
    .pragmas = false,
    .typedColumns = true,
    .plansByStatistics = true,
    .serverSettings = "",
    .acceptsWrites = "SELECT CASE WHEN pg_is_in_recovery() THEN 0 ELSE 1 END"};

Dialect::Dialect(Engine engine)
    : m_pg(engine == Engine::Postgres), m_caps(m_pg ? kPostgres : kSqlite) {}

Dialect Dialect::of(std::string_view target) {
    return Dialect(Connection::isPostgresTarget(target) ? Engine::Postgres : Engine::Sqlite);
}

std::string Dialect::listSource() const {
    return m_pg ? "SELECT string_to_table(CAST(? AS TEXT), ',')" : "SELECT value FROM json_each(?)";
}

std::string Dialect::keyPartsSource(std::span<const int> widths) const {
    const char* item = m_pg ? "k" : "value";
    std::string out = "SELECT ";
    int at = 1;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        if (i > 0)
            out += ", ";
        out += "rtrim(substr(" + std::string(item) + ", " + std::to_string(at) + ", " +
               std::to_string(widths[i]) + "))";
        at += widths[i];
    }
    out += m_pg ? " FROM string_to_table(CAST(? AS TEXT), ',') AS k" : " FROM json_each(?)";
    return out;
}

Param Dialect::listParam(const std::vector<std::string>& items) const {
    // Neither form needs escaping: no item holds a comma, a quote or a backslash.
    std::string out = m_pg ? "" : "[";
    for (const auto& i : items) {
        if (out.size() > (m_pg ? 0u : 1u))
            out += ',';
        if (m_pg) {
            out += i;
        } else {
            out += '"';
            out += i;
            out += '"';
        }
    }
    if (!m_pg)
        out += ']';
    return out;
}

std::string Dialect::ceilPositive(const std::string& x) const {
    return m_pg ? "CEIL(" + x + ")"
                : "(CAST(" + x + " AS INTEGER) + (" + x + " > CAST(" + x + " AS INTEGER)))";
}

std::string Dialect::rowAddress(std::string_view alias) const {
    return std::string(alias) + (m_pg ? ".ctid" : ".rowid");
}

std::string Dialect::rowAddressIn(std::string_view select) const {
    return m_pg ? "ctid = ANY (ARRAY(" + std::string(select) + "))"
                : "rowid IN (" + std::string(select) + ")";
}

std::string Dialect::tempTable(std::string_view name) const {
    return m_pg ? std::string(name) : "temp." + std::string(name);
}

std::string Dialect::createWorkTable(std::string_view definition) const {
    return m_pg ? "CREATE TEMP TABLE " + std::string(definition) + " ON COMMIT DROP"
                : "CREATE TEMP TABLE IF NOT EXISTS " + std::string(definition);
}

std::string Dialect::forUpdate(std::string_view alias, bool skipLocked) const {
    if (!m_pg)
        return {};
    std::string out = " FOR UPDATE";
    if (!alias.empty())
        out += " OF " + std::string(alias);
    if (skipLocked)
        out += " SKIP LOCKED";
    return out;
}

void Dialect::lockKey(Connection& db, int lockClass, const std::string& key) const {
    if (!m_pg)
        return;
    db.query("SELECT pg_advisory_xact_lock(" + std::to_string(lockClass) +
                 ", hashtext(CAST(? AS TEXT)))",
             {key})
        ->next();
}

void Dialect::boundLockWaits(Connection& db, int ms) const {
    if (m_pg)
        db.exec("SET LOCAL lock_timeout = " + std::to_string(ms));
}

bool Dialect::isLockTimeout(const DbError& e) const {
    return e.kind() == DbFailure::LockTimeout;
}

void Dialect::sizeTempBuffers(Connection& db, std::string_view size) const {
    if (!m_pg)
        return;
    try {
        db.exec("SET temp_buffers = '" + std::string(size) + "'");
    } catch (const DbError&) {
        // Already fixed for this connection; only speed differs.
    }
}

void Dialect::sizeSortMemory(Connection& db, std::string_view size) const {
    if (m_pg)
        db.exec("SET LOCAL work_mem = '" + std::string(size) + "'");
}

void Dialect::beginLocal(Connection& db) const {
    if (m_pg)
        db.begin();
    else
        db.exec("BEGIN DEFERRED");
}

WorkSettings::WorkSettings(Connection& db, std::int64_t cacheBytes, std::int64_t tempCacheBytes)
    : m_db(db) {
    if (!Dialect(db).pragmas())
        return;
    m_inMemory = pragma("temp_store") == kTempStoreMemory;
    if (m_inMemory)
        db.exec("PRAGMA temp_store = FILE");
    m_cacheSize = grownCache("main", cacheBytes);
    m_tempCacheSize = grownCache("temp", tempCacheBytes);
}

std::optional<std::int64_t> WorkSettings::grownCache(const std::string& schema,
                                                     std::int64_t atLeast) {
    if (atLeast <= 0)
        return std::nullopt;
    const std::int64_t cache = pragma(schema + ".cache_size");
    const std::int64_t bytes = cache >= 0 ? cache * pragma(schema + ".page_size") : -cache * 1024;
    if (bytes >= atLeast)
        return std::nullopt;
    m_db.exec("PRAGMA " + schema + ".cache_size = " + std::to_string(-(atLeast >> 10)));
    return cache;
}

WorkSettings::~WorkSettings() {
    try {
        if (m_inMemory)
            m_db.exec("PRAGMA temp_store = MEMORY");
        if (m_cacheSize)
            m_db.exec("PRAGMA main.cache_size = " + std::to_string(*m_cacheSize));
        if (m_tempCacheSize)
            m_db.exec("PRAGMA temp.cache_size = " + std::to_string(*m_tempCacheSize));
    } catch (...) {
        // The connection keeps the settings of the work; only speed and memory differ.
    }
}

std::int64_t WorkSettings::pragma(const std::string& name) {
    auto c = m_db.query("PRAGMA " + name);
    return c->next() ? c->int64(0) : 0;
}

BusyTimeout::BusyTimeout(Connection& db, int ms) : m_db(db) {
    if (!Dialect(db).pragmas())
        return;
    {
        auto c = db.query("PRAGMA busy_timeout");
        m_before = c->next() ? c->int64(0) : 0;
    }
    db.exec("PRAGMA busy_timeout = " + std::to_string(ms));
}

BusyTimeout::~BusyTimeout() {
    if (!m_before)
        return;
    try {
        m_db.exec("PRAGMA busy_timeout = " + std::to_string(*m_before));
    } catch (...) {
        // The connection keeps the shorter wait; only how long it waits differs.
    }
}

}  // namespace rqc::suitedb

namespace rqc::suitedb {

namespace {

std::string replaceAll(std::string s, std::string_view from, std::string_view to) {
    for (std::size_t at = s.find(from); at != std::string::npos;
         at = s.find(from, at + to.size())) {
        s.replace(at, from.size(), to);
    }
    return s;
}

}  // namespace

std::string Dialect::schemaDdl(std::string_view ddl) const {
    std::string s(ddl);
    s = replaceAll(std::move(s), "{QTY}", quantityType());
    s = replaceAll(std::move(s), "{DATE}", dateType());
    s = replaceAll(std::move(s), "{TS}", timestampType());
    s = replaceAll(std::move(s), "{LINES}", m_pg ? " WITH (fillfactor = 70)" : "");
    return s;
}

std::string Dialect::firebirdSchemaScript(std::string_view ddl) {
    std::string s(ddl);
    s = replaceAll(std::move(s), "{QTY}", kExactQuantity);
    s = replaceAll(std::move(s), "{DATE}", "DATE");
    s = replaceAll(std::move(s), "{TS}", "TIMESTAMP");
    s = replaceAll(std::move(s), "{LINES}", "");
    return s + R"(SET TERM ^ ;
CREATE OR ALTER FUNCTION NVLSTR(A VARCHAR(4000), B VARCHAR(4000)) RETURNS VARCHAR(4000)
AS
BEGIN
    RETURN COALESCE(A, B);
END^
SET TERM ; ^
COMMIT;
)";
}

bool Dialect::tableExists(Connection& db, std::string_view name) const {
    std::string lower(name);
    for (char& ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    auto cur = m_pg ? db.query(
                          "SELECT COUNT(*) FROM information_schema.tables WHERE "
                          "table_schema = current_schema() AND table_name = ?",
                          {lower})
                    : db.query(
                          "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND "
                          "name = ?",
                          {std::string(name)});
    return cur->next() && cur->int64(0) > 0;
}

void Dialect::lockSchema(Connection& db) const {
    if (m_pg)
        db.exec("SELECT pg_advisory_xact_lock(41000001)");
}

void Dialect::createFunctions(Connection& db) const {
    if (m_pg) {
        db.exec(R"(
CREATE OR REPLACE FUNCTION NVLSTR(a text, b text) RETURNS text
    LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT COALESCE(a, b) $$;
)");
    }
}

void Dialect::rebuildRequestLines(Connection& db) const {
    if (!m_pg)
        return;
    db.exec(
        "ALTER TABLE ITSOLICMP ADD CONSTRAINT FK_ITSOLICMP_SOLICMP FOREIGN KEY (CDFILSOLI,"
        " CDFILLANCA, NRSOLICMP) REFERENCES SOLICMP (CDFILSOLI, CDFILLANCA, NRSOLICMP)");
    db.exec("ALTER TABLE ITSOLICMP SET (fillfactor = 50)");
    db.exec("CLUSTER ITSOLICMP USING itsolicmp_pkey");
    db.exec("ANALYZE ITSOLICMP");
}

void Dialect::emptyTables(Connection& db, const std::vector<std::string_view>& tables) const {
    if (m_pg) {
        std::string sql = "TRUNCATE ";
        for (std::size_t i = 0; i < tables.size(); ++i)
            sql.append(i == 0 ? "" : ", ").append(tables[i]);
        if (!tables.empty())
            db.exec(sql);
        return;
    }
    for (std::string_view t : tables)
        db.exec("DELETE FROM " + std::string(t));
}

}  // namespace rqc::suitedb
