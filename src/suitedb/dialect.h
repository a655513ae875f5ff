#pragma once
// What differs between the engines, written once: what each engine can do, and the pieces its
// SQL is built from. Callers choose their plan by these capabilities (rowLocks,
// queuesWriters, ...) instead of by the engine's name, and bind lists in the form these
// pieces read.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "suitedb/connection.h"

namespace rqc::suitedb {

class Dialect {
  public:
    explicit Dialect(Engine engine);
    explicit Dialect(const Connection& db) : Dialect(db.engine()) {}
    // The dialect of the engine a target names (see Connection::open), without opening it.
    static Dialect of(std::string_view target);

    // PostgreSQL: writers lock rows (FOR UPDATE, SKIP LOCKED, transaction-scoped key locks)
    // and wait for each other's rows. SQLite: one writer per database file at a time, which
    // holds the whole file; nothing is locked row by row.
    bool rowLocks() const { return m_caps.rowLocks; }
    // One writer at a time, whose turn others poll for until a busy timeout: the server has
    // long runs wait for their turn in its own queue instead (see WriteQueue).
    bool queuesWriters() const { return m_caps.queuesWriters; }
    // Several application servers may serve one database (PostgreSQL); a SQLite file has one
    // server, which may keep per-database state in its own memory.
    bool sharedByServers() const { return m_pg; }
    // The database has login roles of its own (PostgreSQL); a SQLite file has only the file
    // system's permissions.
    bool roles() const { return m_pg; }
    // PostgreSQL's planner hash-joins large inputs; SQLite joins by a lookup per row, so a
    // small keyed table or a rowid beats a join on a large table's key.
    bool hashJoins() const { return m_caps.hashJoins; }
    // SQLite keeps a work table (createWorkTable) for the connection's life, PostgreSQL drops
    // it at the end of the transaction.
    bool keepsWorkTables() const { return m_caps.keepsWorkTables; }
    // A connection's settings are pragmas (WorkSettings, BusyTimeout apply them).
    bool pragmas() const { return m_caps.pragmas; }
    // Settings of a connection that serves calls for a long time (empty: none): sorts of large
    // answers stay in memory, and the file is read through a shared mapping rather than
    // copied into each connection's page cache.
    const char* serverSettings() const { return m_caps.serverSettings; }
    // A query answering one row whose first column is 1 while the connection's server
    // accepts writes (not a standby in recovery).
    const char* acceptsWritesQuery() const { return m_caps.acceptsWrites; }
    // Columns hold only values of their declared type (a DATE column only days) and a table
    // takes new CHECK constraints. SQLite stores any value in any column and checks a table
    // only by the constraints it was created with; triggers guard what was added later.
    bool typedColumns() const { return m_caps.typedColumns; }
    // The planner chooses plans by table statistics, which a bulk change leaves stale until
    // ANALYZE (PostgreSQL). SQLite's plans here do not depend on gathered statistics.
    bool plansByStatistics() const { return m_caps.plansByStatistics; }

    // A one-column row source of the items of a list bound as listParam(items).
    std::string listSource() const;
    // A row source of fixed-width keys bound as listParam(keys): one column per width, each
    // part without its trailing blanks.
    std::string keyPartsSource(std::span<const int> widths) const;
    // The bound form of a list whose items are letters, digits and blanks only.
    Param listParam(const std::vector<std::string>& items) const;

    // A bound "YYYY-MM-DD" date or ISO timestamp compared with a column of that type.
    std::string dateParam() const { return m_pg ? "CAST(? AS DATE)" : "?"; }
    std::string timestampParam() const { return m_pg ? "CAST(? AS TIMESTAMP)" : "?"; }
    // Smallest integer not below x, for x > 0 (SQLite may lack ceil()).
    std::string ceilPositive(const std::string& x) const;
    // Column types of quantities with three decimals, of calendar days and of timestamps.
    std::string quantityType() const { return m_pg ? kExactQuantity : "REAL"; }
    std::string dateType() const { return m_pg ? "DATE" : "TEXT"; }
    std::string timestampType() const { return m_pg ? "TIMESTAMP" : "TEXT"; }

    // A row's physical address (stable while the transaction holds the row), as a column of
    // `alias`, its type in a work table, and the rows of a table whose address `select`
    // returns.
    std::string rowAddress(std::string_view alias) const;
    std::string rowAddressType() const { return m_pg ? "TID" : "INTEGER"; }
    std::string rowAddressIn(std::string_view select) const;

    // A temporary table's name as a statement reaches it.
    std::string tempTable(std::string_view name) const;
    // "CREATE TEMP TABLE" of `definition` ("NAME (columns...)"): on PostgreSQL dropped at the
    // end of the transaction; on SQLite kept by the connection (callers empty it).
    std::string createWorkTable(std::string_view definition) const;
    // The locking clause of a SELECT of the rows of `alias`; empty without row locks.
    std::string forUpdate(std::string_view alias, bool skipLocked) const;

    // Inside a transaction: takes the exclusive lock on (lockClass, key) held until it ends.
    // Without row locks it does nothing: the transaction's write lock already excludes
    // every other writer.
    void lockKey(Connection& db, int lockClass, const std::string& key) const;
    // Inside a transaction: bounds every later wait for a lock to `ms` (PostgreSQL). SQLite
    // waits only to begin a transaction; see BusyTimeout.
    void boundLockWaits(Connection& db, int ms) const;
    // The failure of a lock wait that was bounded.
    bool isLockTimeout(const DbError& e) const;
    // PostgreSQL memory of one large unit of work: the connection's temporary tables
    // (before it first uses one; afterwards the setting stays as it is), and, inside a
    // transaction, its sorts and hashes. Nothing on SQLite (see WorkSettings).
    void sizeTempBuffers(Connection& db, std::string_view size) const;
    void sizeSortMemory(Connection& db, std::string_view size) const;
    // Begins a transaction that reads and writes only temporary tables: on SQLite it never
    // takes the database's write lock.
    void beginLocal(Connection& db) const;

    // The schema's pieces. `ddl` with its placeholders for this engine: {QTY}, {DATE}, {TS}
    // (the types above) and {LINES} (the storage options of the request lines' table).
    std::string schemaDdl(std::string_view ddl) const;
    // The script that makes `ddl`'s tables in a Firebird database (run by isql; such a
    // database is never opened through Connection), with its NVLSTR function.
    static std::string firebirdSchemaScript(std::string_view ddl);
    // Whether the schema's table `name` (upper case, as the schema writes it) exists.
    bool tableExists(Connection& db, std::string_view name) const;
    // Inside a transaction: one schema change at a time (PostgreSQL); the write lock does it
    // on SQLite.
    void lockSchema(Connection& db) const;
    // Functions the schema's statements call that the engine lacks (PostgreSQL's NVLSTR).
    void createFunctions(Connection& db) const;
    // Version 2's change of the request lines beyond their index: on PostgreSQL their key to
    // the request becomes a foreign key, and the table is rewritten with room for updates in
    // place. Nothing on SQLite, whose tables take no new constraints.
    void rebuildRequestLines(Connection& db) const;
    // Empties the tables (children before parents) in one statement where the engine can.
    void emptyTables(Connection& db, const std::vector<std::string_view>& tables) const;

  private:
    struct Capabilities {
        bool rowLocks;
        bool queuesWriters;
        bool hashJoins;
        bool keepsWorkTables;
        bool pragmas;
        bool typedColumns;
        bool plansByStatistics;
        const char* serverSettings;
        const char* acceptsWrites;
    };

    static const Capabilities kSqlite;
    static const Capabilities kPostgres;

    static constexpr const char* kExactQuantity = "NUMERIC(15,3)";
    bool m_pg;
    Capabilities m_caps;
};

// Pragmas for the scope of one large unit of work, restored when it ends (only speed and
// memory differ when a restore fails); nothing where settings are not pragmas (see
// Dialect::sizeTempBuffers). Temporary tables go to the
// temporary file store, whose page cache is bounded, even on a connection that keeps them in
// memory; with cacheBytes, the main page cache holds at least that many bytes, and with
// tempCacheBytes the temporary store's.
class WorkSettings {
  public:
    explicit WorkSettings(Connection& db, std::int64_t cacheBytes = 0,
                          std::int64_t tempCacheBytes = 0);
    ~WorkSettings();
    WorkSettings(const WorkSettings&) = delete;
    WorkSettings& operator=(const WorkSettings&) = delete;

  private:
    std::int64_t pragma(const std::string& name);
    // Grows the page cache of `schema` ("main", "temp") to `atLeast` bytes; the setting to
    // restore when it changed it.
    std::optional<std::int64_t> grownCache(const std::string& schema, std::int64_t atLeast);

    Connection& m_db;
    bool m_inMemory = false;
    std::optional<std::int64_t> m_cacheSize;  // the settings to restore
    std::optional<std::int64_t> m_tempCacheSize;
};

// Where settings are pragmas: for its scope the connection waits at most `ms` for the
// database's write lock, then restores its setting; nothing otherwise.
class BusyTimeout {
  public:
    BusyTimeout(Connection& db, int ms);
    ~BusyTimeout();
    BusyTimeout(const BusyTimeout&) = delete;
    BusyTimeout& operator=(const BusyTimeout&) = delete;

  private:
    Connection& m_db;
    std::optional<std::int64_t> m_before;
};

}  // namespace rqc::suitedb
