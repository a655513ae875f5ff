#pragma once
// Engine-neutral access to the suite database through the engines' C APIs: SQLite (a file
// path) and PostgreSQL (a "postgresql://" or "postgres://" URL or a libpq "key=value" string).
// Statements use '?' placeholders on both engines; values are always bound, never pasted.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace rqc::suitedb {

enum class Engine { Sqlite, Postgres };

// What a failure means for the work under way.
enum class DbFailure {
    Other,           // the statement failed; the connection still works
    ConnectionLost,  // the server went away: the transaction under way is rolled back
    ReadOnly,        // the server accepts no writes (a standby): nothing was written
    OutcomeUnknown,  // lost while committing, and no server could say whether it committed
    LockTimeout,     // another writer held what this one waited for past its bound
};

class DbError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
    // `code`: the engine's own code of the failure; the kind, when not given, follows from it.
    DbError(const std::string& message, std::string code, DbFailure kind = DbFailure::Other)
        : std::runtime_error(message), m_code(std::move(code)), m_kind(kind) {}
    // The engine's code: PostgreSQL's SQLSTATE ("23505"), SQLite's extended result code in
    // decimal ("517" for SQLITE_BUSY_SNAPSHOT); empty for failures of this library's own.
    const std::string& code() const noexcept { return m_code; }
    DbFailure kind() const noexcept { return m_kind; }

  private:
    std::string m_code;
    DbFailure m_kind = DbFailure::Other;
};

// Bounded tries to open a database: `tries` attempts, waiting `firstWait` after the first
// failure and twice as long after each next one, at most `maxWait`.
// Commits cut by the loss of the database server since the process started, by what asking
// a server of the same target afterwards found.
struct CommitSettlements {
    std::uint64_t committed = 0;
    std::uint64_t notCommitted = 0;
    std::uint64_t unknown = 0;
};
CommitSettlements commitSettlements();

struct RetryPolicy {
    int tries = 1;
    std::chrono::milliseconds firstWait{100};
    std::chrono::milliseconds maxWait{1000};
};
// Told of each failed try (1-based) before the wait that follows it.
using RetryObserver = std::function<void(int attempt, const DbError& failure)>;

// A bound value. Dates are bound as "YYYY-MM-DD" text; timestamps as ISO text.
using Param = std::variant<std::nullptr_t, std::string, std::int64_t, double>;

// Rows of one statement, read forward. Valid until the next call on its connection and never
// beyond the connection's life. Column names come back upper case on PostgreSQL too (the
// server folds unquoted names to lower case), so both engines name columns alike.
class Cursor {
  public:
    virtual ~Cursor() = default;
    virtual bool next() = 0;  // advances to the next row; false at the end
    virtual int columnCount() const = 0;
    virtual std::string columnName(int col) const = 0;
    virtual bool isNull(int col) const = 0;
    virtual std::string_view text(int col) const = 0;  // "" for null
    virtual std::int64_t int64(int col) const = 0;
    virtual double real(int col) const = 0;
};

// Appends rows to one table as fast as the engine allows: a prepared INSERT on SQLite, COPY
// FROM STDIN on PostgreSQL. Values go in column order, one call per column, then endRow().
// Run it inside a Transaction; until finish() the connection runs no other statement.
// Destroyed unfinished, it abandons the load (on PostgreSQL the transaction fails).
class BulkLoader {
  public:
    virtual ~BulkLoader() = default;
    virtual BulkLoader& null() = 0;
    virtual BulkLoader& text(std::string_view value) = 0;
    virtual BulkLoader& int64(std::int64_t value) = 0;
    virtual BulkLoader& real(double value) = 0;
    BulkLoader& value(const Param& p);
    virtual void endRow() = 0;          // throws DbError when the row has the wrong width
    virtual std::int64_t finish() = 0;  // flushes; returns the number of rows loaded
};

class Connection {
  public:
    virtual ~Connection() = default;

    // Opens a database: a PostgreSQL URL/conninfo or otherwise a SQLite file path (created
    // when missing, WAL mode and a busy timeout set). Throws DbError saying what failed.
    static std::unique_ptr<Connection> open(const std::string& target);
    // The same, tried again as `policy` says while the server is away or not yet writable
    // (ConnectionLost, ReadOnly); throws the last try's DbError.
    static std::unique_ptr<Connection> open(const std::string& target, const RetryPolicy& policy,
                                            const RetryObserver& observer = {});
    static bool isPostgresTarget(std::string_view target);

    virtual Engine engine() const = 0;
    // False when the connection is known to be broken or attached to a server that accepts no
    // writes; asks the server nothing (reads only what it has already sent).
    virtual bool usable() noexcept { return true; }
    // Runs one or more statements without parameters (DDL, scripts).
    virtual void exec(std::string_view sql) = 0;
    // Runs a statement with bound parameters; returns the number of rows changed.
    virtual std::int64_t execute(std::string_view sql, const std::vector<Param>& params = {}) = 0;
    // Runs a query with bound parameters. Prepared statements are cached per connection.
    virtual std::unique_ptr<Cursor> query(std::string_view sql,
                                          const std::vector<Param>& params = {}) = 0;

    // Starts a bulk load into table's columns (see BulkLoader).
    virtual std::unique_ptr<BulkLoader> bulkLoad(std::string_view table,
                                                 const std::vector<std::string>& columns) = 0;

    virtual void begin() = 0;  // BEGIN (SQLite: BEGIN IMMEDIATE)
    virtual void commit() = 0;
    virtual void rollback() noexcept = 0;
};

// All-or-nothing unit of work: rolls back in its destructor unless committed.
class Transaction {
  public:
    explicit Transaction(Connection& c) : m_conn(c) { m_conn.begin(); }
    ~Transaction() {
        if (!m_done)
            m_conn.rollback();
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit() {
        m_conn.commit();
        m_done = true;
    }

  private:
    Connection& m_conn;
    bool m_done = false;
};

}  // namespace rqc::suitedb
