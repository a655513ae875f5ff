// SQLite back end: one sqlite3 handle per connection, statements cached by their SQL text.

#include <sqlite3.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "suitedb/engines.h"
#include "suitedb/identifiers.h"
#include "suitedb/sqlite_functions.h"

namespace rqc::suitedb::detail {

namespace {

struct CachedStatement {
    sqlite3_stmt* stmt = nullptr;
    bool inUse = false;
};

// The kind of a failure by SQLite's result code: another connection holding the file or a
// table past the busy timeout is a lock timeout; a file opened read-only takes no writes.
DbFailure kindOf(int extendedCode) {
    switch (extendedCode & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return DbFailure::LockTimeout;
        case SQLITE_READONLY:
            return DbFailure::ReadOnly;
        default:
            return DbFailure::Other;
    }
}

[[noreturn]] void failWith(int extendedCode, std::string_view message, std::string_view what,
                           std::string_view sql) {
    std::string msg = "SQLite error: ";
    msg += message;
    msg += " (";
    msg += what;
    if (!sql.empty()) {
        msg += ": ";
        msg += sql.substr(0, 300);
    }
    msg += ")";
    throw DbError(msg, std::to_string(extendedCode), kindOf(extendedCode));
}

[[noreturn]] void fail(sqlite3* db, std::string_view what, std::string_view sql) {
    failWith(sqlite3_extended_errcode(db), sqlite3_errmsg(db), what, sql);
}

void bindAll(sqlite3* db, sqlite3_stmt* stmt, const std::vector<Param>& params) {
    int expected = sqlite3_bind_parameter_count(stmt);
    if (expected != static_cast<int>(params.size())) {
        throw DbError("statement expects " + std::to_string(expected) + " parameters but " +
                      std::to_string(params.size()) + " were given: " + sqlite3_sql(stmt));
    }
    for (int i = 0; i < expected; ++i) {
        const Param& p = params[static_cast<std::size_t>(i)];
        int rc = SQLITE_OK;
        if (std::holds_alternative<std::nullptr_t>(p)) {
            rc = sqlite3_bind_null(stmt, i + 1);
        } else if (const auto* s = std::get_if<std::string>(&p)) {
            rc = sqlite3_bind_text64(stmt, i + 1, s->data(), s->size(), SQLITE_TRANSIENT,
                                     SQLITE_UTF8);
        } else if (const auto* v = std::get_if<std::int64_t>(&p)) {
            rc = sqlite3_bind_int64(stmt, i + 1, *v);
        } else {
            rc = sqlite3_bind_double(stmt, i + 1, std::get<double>(p));
        }
        if (rc != SQLITE_OK)
            fail(db, "binding a parameter", sqlite3_sql(stmt));
    }
}

class SqliteCursor final : public Cursor {
  public:
    SqliteCursor(sqlite3* db, sqlite3_stmt* stmt, CachedStatement* cached)
        : m_db(db), m_stmt(stmt), m_cached(cached), m_columns(sqlite3_column_count(stmt)) {}
    ~SqliteCursor() override {
        if (m_cached != nullptr) {
            sqlite3_reset(m_stmt);
            sqlite3_clear_bindings(m_stmt);
            m_cached->inUse = false;
        } else {
            sqlite3_finalize(m_stmt);
        }
    }

    bool next() override {
        if (m_done)
            return false;
        int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        m_done = true;
        if (rc == SQLITE_DONE)
            return false;
        fail(m_db, "reading rows", sqlite3_sql(m_stmt));
    }
    int columnCount() const override { return m_columns; }
    std::string columnName(int col) const override {
        const char* n = sqlite3_column_name(m_stmt, col);
        return n ? n : "";
    }
    bool isNull(int col) const override { return sqlite3_column_type(m_stmt, col) == SQLITE_NULL; }
    std::string_view text(int col) const override {
        const unsigned char* p = sqlite3_column_text(m_stmt, col);
        if (p == nullptr)
            return {};
        return {reinterpret_cast<const char*>(p),
                static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, col))};
    }
    std::int64_t int64(int col) const override { return sqlite3_column_int64(m_stmt, col); }
    double real(int col) const override { return sqlite3_column_double(m_stmt, col); }

  private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt;
    CachedStatement* m_cached;
    int m_columns;
    bool m_done = false;
};

class SqliteBulkLoader final : public BulkLoader {
  public:
    SqliteBulkLoader(sqlite3* db, std::string_view table, const std::vector<std::string>& cols)
        : m_db(db), m_width(static_cast<int>(cols.size())) {
        std::string sql = "INSERT INTO " + loadTarget(table, cols) + " VALUES (";
        for (std::size_t i = 0; i < cols.size(); ++i)
            sql += i > 0 ? ", ?" : "?";
        sql += ")";
        if (sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()),
                               SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr) != SQLITE_OK) {
            fail(db, "preparing a bulk load", sql);
        }
    }
    ~SqliteBulkLoader() override { sqlite3_finalize(m_stmt); }

    BulkLoader& null() override { return check(sqlite3_bind_null(m_stmt, slot())); }
    BulkLoader& text(std::string_view v) override {
        return check(
            sqlite3_bind_text64(m_stmt, slot(), v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
    }
    BulkLoader& int64(std::int64_t v) override {
        return check(sqlite3_bind_int64(m_stmt, slot(), v));
    }
    BulkLoader& real(double v) override { return check(sqlite3_bind_double(m_stmt, slot(), v)); }

    void endRow() override {
        if (m_col != m_width) {
            int got = m_col;
            m_col = 0;
            throw DbError("bulk load row has " + std::to_string(got) + " values, expected " +
                          std::to_string(m_width));
        }
        m_col = 0;
        int rc = sqlite3_step(m_stmt);
        sqlite3_reset(m_stmt);
        if (rc != SQLITE_DONE)
            fail(m_db, "bulk loading a row", sqlite3_sql(m_stmt));
        ++m_rows;
    }
    std::int64_t finish() override { return m_rows; }

  private:
    int slot() {
        if (m_col >= m_width) {
            throw DbError("bulk load row has more than " + std::to_string(m_width) + " values");
        }
        return ++m_col;
    }
    BulkLoader& check(int rc) {
        if (rc != SQLITE_OK)
            fail(m_db, "binding a bulk load value", sqlite3_sql(m_stmt));
        return *this;
    }

    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
    int m_width;
    int m_col = 0;
    std::int64_t m_rows = 0;
};

class SqliteConnection final : public Connection {
  public:
    explicit SqliteConnection(const std::string& path) {
        int rc = sqlite3_open_v2(path.c_str(), &m_db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
        if (rc != SQLITE_OK) {
            std::string msg = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
            sqlite3_close_v2(m_db);
            throw DbError("cannot open SQLite database '" + path + "': " + msg);
        }
        sqlite3_extended_result_codes(m_db, 1);
        sqlite3_busy_timeout(m_db, 10000);
        char* err = nullptr;
        rc = sqlite3_exec(m_db,
                          "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
                          "PRAGMA foreign_keys=ON;",
                          nullptr, nullptr, &err);
        if (rc != SQLITE_OK) {
            std::string msg = err ? err : sqlite3_errstr(rc);
            sqlite3_free(err);
            sqlite3_close_v2(m_db);
            throw DbError("cannot open SQLite database '" + path + "': " + msg);
        }
        registerSqliteFunctions(m_db);
    }
    ~SqliteConnection() override {
        for (auto& [sql, entry] : m_cache)
            sqlite3_finalize(entry->stmt);
        sqlite3_close_v2(m_db);
    }

    Engine engine() const override { return Engine::Sqlite; }

    void exec(std::string_view sql) override {
        std::string text(sql);
        char* err = nullptr;
        if (sqlite3_exec(m_db, text.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
            const std::string message = err ? err : sqlite3_errmsg(m_db);
            sqlite3_free(err);
            failWith(sqlite3_extended_errcode(m_db), message, "running", text);
        }
    }

    std::int64_t execute(std::string_view sql, const std::vector<Param>& params) override {
        auto [stmt, cached] = statement(sql);
        struct Reset {
            sqlite3_stmt* s;
            CachedStatement* c;
            ~Reset() {
                if (c != nullptr) {
                    sqlite3_reset(s);
                    sqlite3_clear_bindings(s);
                    c->inUse = false;
                } else {
                    sqlite3_finalize(s);
                }
            }
        } reset{stmt, cached};
        bindAll(m_db, stmt, params);
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        }
        if (rc != SQLITE_DONE)
            fail(m_db, "running", sqlite3_sql(stmt));
        return sqlite3_changes64(m_db);
    }

    std::unique_ptr<Cursor> query(std::string_view sql, const std::vector<Param>& params) override {
        auto [stmt, cached] = statement(sql);
        auto cursor = std::make_unique<SqliteCursor>(m_db, stmt, cached);
        bindAll(m_db, stmt, params);
        return cursor;
    }

    std::unique_ptr<BulkLoader> bulkLoad(std::string_view table,
                                         const std::vector<std::string>& columns) override {
        return std::make_unique<SqliteBulkLoader>(m_db, table, columns);
    }

    void begin() override { exec("BEGIN IMMEDIATE"); }
    void commit() override { exec("COMMIT"); }
    void rollback() noexcept override {
        if (!sqlite3_get_autocommit(m_db))
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }

  private:
    // A prepared statement for sql: the cached one when it is free, otherwise a one-off
    // (second element null) that the caller finalizes.
    std::pair<sqlite3_stmt*, CachedStatement*> statement(std::string_view sql) {
        auto it = m_cache.find(sql);
        if (it != m_cache.end() && !it->second->inUse) {
            it->second->inUse = true;
            return {it->second->stmt, it->second.get()};
        }
        sqlite3_stmt* stmt = nullptr;
        const char* tail = nullptr;
        int rc = sqlite3_prepare_v3(m_db, sql.data(), static_cast<int>(sql.size()),
                                    SQLITE_PREPARE_PERSISTENT, &stmt, &tail);
        if (rc != SQLITE_OK)
            fail(m_db, "preparing", sql);
        if (stmt == nullptr)
            throw DbError("empty SQL statement");
        if (tail != nullptr &&
            std::string_view(tail).find_first_not_of(" \t\r\n;") != std::string_view::npos) {
            sqlite3_finalize(stmt);
            throw DbError("only one statement may be run with parameters: " + std::string(sql));
        }
        if (it != m_cache.end())
            return {stmt, nullptr};
        auto entry = std::make_unique<CachedStatement>();
        entry->stmt = stmt;
        entry->inUse = true;
        CachedStatement* raw = entry.get();
        m_cache.emplace(std::string(sql), std::move(entry));
        return {stmt, raw};
    }

    sqlite3* m_db = nullptr;
    std::unordered_map<std::string, std::unique_ptr<CachedStatement>, StringHash, std::equal_to<>>
        m_cache;
};

}  // namespace

std::unique_ptr<Connection> openSqlite(const std::string& path) {
    return std::make_unique<SqliteConnection>(path);
}

}  // namespace rqc::suitedb::detail
