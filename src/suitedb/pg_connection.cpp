// PostgreSQL back end over libpq: '?' placeholders rewritten once, statements prepared once per
// connection under generated names, results in text format.

#include <libpq-fe.h>
#include <poll.h>
#include <atomic>

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>

#include "suitedb/engines.h"
#include "suitedb/identifiers.h"
#include "suitedb/placeholders.h"
#include "suitedb/redact.h"

namespace rqc::suitedb::detail {

namespace {

struct PreparedStatement {
    std::string name;
    int paramCount = 0;
};

using ResultPtr = std::unique_ptr<PGresult, decltype(&PQclear)>;

// Connection attempts give up on a host after this many seconds (and try the next host of a
// multi-host target) unless the target sets connect_timeout itself.
constexpr const char* kConnectTimeoutSeconds = "5";

// After a COMMIT cut by the loss of the server: how long to look for a server (the same one
// back, or a promoted standby) that can say whether the transaction committed.
constexpr RetryPolicy kSettlePolicy{16, std::chrono::milliseconds(100),
                                    std::chrono::milliseconds(500)};
constexpr int kSettleChecks = 50;  // checks 100 ms apart while the transaction is in progress

std::atomic<std::uint64_t> g_settledCommitted{0};
std::atomic<std::uint64_t> g_settledNotCommitted{0};
std::atomic<std::uint64_t> g_settledUnknown{0};

DbFailure failureKind(const std::string& state, PGconn* conn) {
    if (state == "25006")
        return DbFailure::ReadOnly;
    if (state == "55P03")  // lock_not_available: lock_timeout passed, or NOWAIT
        return DbFailure::LockTimeout;
    if (state.starts_with("08") || state == "57P01" || state == "57P02" || state == "57P03")
        return DbFailure::ConnectionLost;
    if (state.empty() && conn != nullptr && PQstatus(conn) == CONNECTION_BAD)
        return DbFailure::ConnectionLost;
    return DbFailure::Other;
}

[[noreturn]] void failResult(const PGresult* r, PGconn* conn, std::string_view what,
                             std::string_view sql) {
    std::string msg = "PostgreSQL error";
    std::string state;
    const char* primary = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    if (r != nullptr) {
        if (const char* s = PQresultErrorField(r, PG_DIAG_SQLSTATE))
            state = s;
    }
    if (!state.empty())
        msg += " [" + state + "]";
    msg += ": ";
    if (primary != nullptr) {
        msg += primary;
        if (const char* d = PQresultErrorField(r, PG_DIAG_MESSAGE_DETAIL)) {
            msg += " (";
            msg += d;
            msg += ")";
        }
    } else {
        std::string m = PQerrorMessage(conn);
        while (!m.empty() && (m.back() == '\n' || m.back() == ' '))
            m.pop_back();
        msg += m.empty() ? "unknown failure" : m;
    }
    msg += " (";
    msg += what;
    if (!sql.empty()) {
        msg += ": ";
        msg += sql.substr(0, 300);
    }
    msg += ")";
    const DbFailure kind = failureKind(state, conn);
    throw DbError(msg, state, kind);
}

class PgCursor final : public Cursor {
  public:
    explicit PgCursor(ResultPtr r)
        : m_result(std::move(r)),
          m_rows(PQntuples(m_result.get())),
          m_columns(PQnfields(m_result.get())) {}

    bool next() override {
        if (m_row + 1 >= m_rows) {
            m_row = m_rows;
            return false;
        }
        ++m_row;
        return true;
    }
    int columnCount() const override { return m_columns; }
    std::string columnName(int col) const override {
        std::string n = PQfname(m_result.get(), col);
        bool folded = true;
        for (char c : n) {
            if (c >= 'A' && c <= 'Z')
                folded = false;
        }
        if (folded) {
            for (char& c : n) {
                if (c >= 'a' && c <= 'z')
                    c = static_cast<char>(c - 'a' + 'A');
            }
        }
        return n;
    }
    bool isNull(int col) const override { return PQgetisnull(m_result.get(), m_row, col) != 0; }
    std::string_view text(int col) const override {
        return {PQgetvalue(m_result.get(), m_row, col),
                static_cast<std::size_t>(PQgetlength(m_result.get(), m_row, col))};
    }
    std::int64_t int64(int col) const override {
        std::string_view t = text(col);
        std::int64_t v = 0;
        auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
        if (ec == std::errc() && end == t.data() + t.size())
            return v;
        if (t == "t")
            return 1;
        return static_cast<std::int64_t>(std::llround(real(col)));
    }
    double real(int col) const override {
        std::string_view t = text(col);
        double v = 0;
        std::from_chars(t.data(), t.data() + t.size(), v);
        return v;
    }

  private:
    ResultPtr m_result;
    int m_rows;
    int m_columns;
    int m_row = -1;
};

class PgBulkLoader final : public BulkLoader {
  public:
    PgBulkLoader(PGconn* conn, std::string_view table, const std::vector<std::string>& cols)
        : m_conn(conn), m_width(static_cast<int>(cols.size())) {
        const std::string sql = "COPY " + loadTarget(table, cols) + " FROM STDIN";
        ResultPtr r(PQexec(conn, sql.c_str()), &PQclear);
        if (PQresultStatus(r.get()) != PGRES_COPY_IN)
            failResult(r.get(), conn, "starting", sql);
        m_active = true;
        m_buf.reserve(kFlushAt + 4096);
    }
    ~PgBulkLoader() override {
        if (!m_active)
            return;
        PQputCopyEnd(m_conn, "bulk load abandoned");
        while (PGresult* r = PQgetResult(m_conn))
            PQclear(r);
    }

    BulkLoader& null() override {
        separator();
        m_buf += "\\N";
        return *this;
    }
    BulkLoader& text(std::string_view v) override {
        separator();
        for (char c : v) {
            switch (c) {
                case '\\':
                    m_buf += "\\\\";
                    break;
                case '\t':
                    m_buf += "\\t";
                    break;
                case '\n':
                    m_buf += "\\n";
                    break;
                case '\r':
                    m_buf += "\\r";
                    break;
                case '\0':
                    m_buf.resize(m_rowStart);
                    m_col = 0;
                    throw DbError("bulk load text contains a NUL character");
                default:
                    m_buf += c;
            }
        }
        return *this;
    }
    BulkLoader& int64(std::int64_t v) override {
        separator();
        std::array<char, 24> b;
        auto [end, ec] = std::to_chars(b.data(), b.data() + b.size(), v);
        m_buf.append(b.data(), end);
        return *this;
    }
    BulkLoader& real(double v) override {
        separator();
        std::array<char, 32> b;
        auto [end, ec] = std::to_chars(b.data(), b.data() + b.size(), v);
        m_buf.append(b.data(), end);
        return *this;
    }
    void endRow() override {
        if (m_col != m_width) {
            int got = m_col;
            m_buf.resize(m_rowStart);
            m_col = 0;
            throw DbError("bulk load row has " + std::to_string(got) + " values, expected " +
                          std::to_string(m_width));
        }
        m_buf += '\n';
        m_col = 0;
        ++m_rows;
        m_rowStart = m_buf.size();
        if (m_buf.size() >= kFlushAt)
            flush();
    }
    std::int64_t finish() override {
        if (!m_active)
            return m_rows;
        if (m_col != 0)
            throw DbError("bulk load finished in the middle of a row");
        flush();
        m_active = false;
        if (PQputCopyEnd(m_conn, nullptr) != 1)
            failResult(nullptr, m_conn, "ending a COPY", "");
        ResultPtr r(PQgetResult(m_conn), &PQclear);
        bool ok = PQresultStatus(r.get()) == PGRES_COMMAND_OK;
        while (PGresult* more = PQgetResult(m_conn))
            PQclear(more);
        if (!ok)
            failResult(r.get(), m_conn, "bulk loading", "");
        return m_rows;
    }

  private:
    static constexpr std::size_t kFlushAt = 1 << 20;

    void separator() {
        if (m_col >= m_width) {
            throw DbError("bulk load row has more than " + std::to_string(m_width) + " values");
        }
        if (m_col++ > 0)
            m_buf += '\t';
    }
    // Sends the completed rows.
    void flush() {
        if (m_rowStart == 0)
            return;
        if (PQputCopyData(m_conn, m_buf.data(), static_cast<int>(m_rowStart)) != 1) {
            failResult(nullptr, m_conn, "sending COPY data", "");
        }
        m_buf.erase(0, m_rowStart);
        m_rowStart = 0;
    }

    PGconn* m_conn;
    int m_width;
    int m_col = 0;
    std::int64_t m_rows = 0;
    std::string m_buf;
    std::size_t m_rowStart = 0;
    bool m_active = false;
};

class PgConnection final : public Connection {
  public:
    explicit PgConnection(const std::string& target) : m_target(target) {
        // Later entries win: the target's own connect_timeout overrides the default.
        const char* const keywords[] = {"connect_timeout", "dbname", nullptr};
        const char* const values[] = {kConnectTimeoutSeconds, target.c_str(), nullptr};
        m_conn = PQconnectdbParams(keywords, values, 1);
        if (m_conn == nullptr || PQstatus(m_conn) != CONNECTION_OK) {
            std::string msg = m_conn ? PQerrorMessage(m_conn) : "out of memory";
            while (!msg.empty() && (msg.back() == '\n' || msg.back() == ' '))
                msg.pop_back();
            PQfinish(m_conn);
            throw DbError("cannot connect to PostgreSQL at '" + redactTarget(target) + "': " + msg,
                          "", DbFailure::ConnectionLost);
        }
        PQsetNoticeProcessor(
            m_conn, [](void*, const char*) {}, nullptr);
        exec(
            "SET client_encoding TO 'UTF8'; SET DateStyle TO ISO, YMD; "
            "SET client_min_messages TO warning");
        if (wantsWrites(m_conn) && stillRecovering()) {
            PQfinish(m_conn);
            m_conn = nullptr;
            throw DbError("PostgreSQL at '" + redactTarget(target) +
                              "' is still ending its recovery and accepts no writes yet",
                          "", DbFailure::ReadOnly);
        }
    }
    ~PgConnection() override { PQfinish(m_conn); }

    Engine engine() const override { return Engine::Postgres; }

    bool usable() noexcept override {
        if (PQstatus(m_conn) != CONNECTION_OK)
            return false;
        // Reads what an idle connection was sent meanwhile, without waiting: a server that
        // ended the connection sends its reason, then the end; or a change of in_hot_standby.
        for (int read = 0; read < 8 && PQtransactionStatus(m_conn) == PQTRANS_IDLE; ++read) {
            pollfd waiting{PQsocket(m_conn), POLLIN, 0};
            if (::poll(&waiting, 1, 0) <= 0)
                break;
            if (PQconsumeInput(m_conn) == 0 || PQstatus(m_conn) != CONNECTION_OK)
                return false;
        }
        const char* standby = PQparameterStatus(m_conn, "in_hot_standby");
        return standby == nullptr || std::strcmp(standby, "on") != 0;
    }

    void exec(std::string_view sql) override {
        std::string text(sql);
        ResultPtr r(PQexec(m_conn, text.c_str()), &PQclear);
        auto st = PQresultStatus(r.get());
        if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK && st != PGRES_EMPTY_QUERY) {
            failResult(r.get(), m_conn, "running", sql);
        }
    }

    std::int64_t execute(std::string_view sql, const std::vector<Param>& params) override {
        ResultPtr r = run(sql, params);
        const char* n = PQcmdTuples(r.get());
        std::int64_t count = 0;
        std::from_chars(n, n + std::char_traits<char>::length(n), count);
        return count;
    }

    std::unique_ptr<Cursor> query(std::string_view sql, const std::vector<Param>& params) override {
        return std::make_unique<PgCursor>(run(sql, params));
    }

    std::unique_ptr<BulkLoader> bulkLoad(std::string_view table,
                                         const std::vector<std::string>& columns) override {
        return std::make_unique<PgBulkLoader>(m_conn, table, columns);
    }

    void begin() override { exec("BEGIN"); }

    // A COMMIT cut by the loss of the server is settled by asking a server of the same target
    // (the same one back, or the promoted standby) about the transaction: returns when it
    // committed; throws ConnectionLost when it did not, OutcomeUnknown when no server can tell.
    void commit() override {
        std::string xid;
        if (PQtransactionStatus(m_conn) == PQTRANS_INTRANS) {
            ResultPtr r(PQexec(m_conn, "SELECT pg_current_xact_id_if_assigned()"), &PQclear);
            if (PQresultStatus(r.get()) != PGRES_TUPLES_OK)
                failResult(r.get(), m_conn, "committing", "");
            if (PQntuples(r.get()) == 1 && PQgetisnull(r.get(), 0, 0) == 0)
                xid = PQgetvalue(r.get(), 0, 0);
        }
        try {
            exec("COMMIT");
        } catch (const DbError& e) {
            if (e.kind() != DbFailure::ConnectionLost || xid.empty())
                throw;
            settleCommit(xid, e.what());
        }
    }
    void rollback() noexcept override {
        if (PQtransactionStatus(m_conn) == PQTRANS_IDLE)
            return;
        if (PGresult* r = PQexec(m_conn, "ROLLBACK"))
            PQclear(r);
    }

  private:
    static bool wantsWrites(PGconn* conn) {
        std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> options(PQconninfo(conn),
                                                                             &PQconninfoFree);
        for (auto* o = options.get(); o != nullptr && o->keyword != nullptr; ++o) {
            if (std::strcmp(o->keyword, "target_session_attrs") == 0)
                return o->val != nullptr && std::strcmp(o->val, "read-write") == 0;
        }
        return false;
    }

    // A promoted standby reports itself writable a moment before it accepts writes; libpq's
    // read-write check can land in that moment.
    bool stillRecovering() {
        ResultPtr r(PQexec(m_conn, "SELECT pg_is_in_recovery()"), &PQclear);
        return PQresultStatus(r.get()) != PGRES_TUPLES_OK || PQntuples(r.get()) != 1 ||
               std::strcmp(PQgetvalue(r.get(), 0, 0), "f") != 0;
    }

    void settleCommit(const std::string& xid, const std::string& cut) const {
        try {
            settleCommitOnce(xid, cut);
            ++g_settledCommitted;
        } catch (const DbError& e) {
            ++(e.kind() == DbFailure::OutcomeUnknown ? g_settledUnknown : g_settledNotCommitted);
            throw;
        }
    }

    void settleCommitOnce(const std::string& xid, const std::string& cut) const {
        std::string status;
        try {
            auto other = Connection::open(m_target, kSettlePolicy);
            for (int check = 0; check < kSettleChecks; ++check) {
                auto c = other->query("SELECT pg_xact_status(CAST(? AS xid8))", {xid});
                status = c->next() && !c->isNull(0) ? std::string(c->text(0)) : "";
                if (status != "in progress")
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        } catch (const DbError& e) {
            // A transaction id beyond the server's history never reached it.
            if (e.code() != "22023") {
                throw DbError(cut + "; whether the transaction committed is unknown: " + e.what(),
                              "", DbFailure::OutcomeUnknown);
            }
        }
        if (status == "committed")
            return;
        if (status == "in progress") {
            throw DbError(cut + "; the transaction is still committing", "",
                          DbFailure::OutcomeUnknown);
        }
        throw DbError(cut + "; the transaction did not commit", "", DbFailure::ConnectionLost);
    }

    const PreparedStatement& prepared(std::string_view sql) {
        auto it = m_cache.find(sql);
        if (it != m_cache.end())
            return it->second;
        PreparedStatement ps;
        std::string rewritten = toPostgresPlaceholders(sql, ps.paramCount);
        ps.name = "rqc_" + std::to_string(++m_counter);
        ResultPtr r(PQprepare(m_conn, ps.name.c_str(), rewritten.c_str(), 0, nullptr), &PQclear);
        if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
            failResult(r.get(), m_conn, "preparing", sql);
        }
        return m_cache.emplace(std::string(sql), std::move(ps)).first->second;
    }

    ResultPtr run(std::string_view sql, const std::vector<Param>& params) {
        const PreparedStatement& ps = prepared(sql);
        if (ps.paramCount != static_cast<int>(params.size())) {
            throw DbError("statement expects " + std::to_string(ps.paramCount) +
                          " parameters but " + std::to_string(params.size()) +
                          " were given: " + std::string(sql));
        }
        m_values.resize(params.size());
        m_numbers.resize(params.size());
        for (std::size_t i = 0; i < params.size(); ++i) {
            const Param& p = params[i];
            if (std::holds_alternative<std::nullptr_t>(p)) {
                m_values[i] = nullptr;
            } else if (const auto* s = std::get_if<std::string>(&p)) {
                if (s->find('\0') != std::string::npos) {
                    throw DbError("parameter " + std::to_string(i + 1) +
                                  " contains a NUL character: " + std::string(sql));
                }
                m_values[i] = s->c_str();
            } else {
                auto& buf = m_numbers[i];
                std::to_chars_result res;
                if (const auto* v = std::get_if<std::int64_t>(&p)) {
                    res = std::to_chars(buf.data(), buf.data() + buf.size() - 1, *v);
                } else {
                    res =
                        std::to_chars(buf.data(), buf.data() + buf.size() - 1, std::get<double>(p));
                }
                *res.ptr = '\0';
                m_values[i] = buf.data();
            }
        }
        ResultPtr r(PQexecPrepared(m_conn, ps.name.c_str(), static_cast<int>(params.size()),
                                   m_values.data(), nullptr, nullptr, 0),
                    &PQclear);
        auto st = PQresultStatus(r.get());
        if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
            failResult(r.get(), m_conn, "running", sql);
        }
        return r;
    }

    std::string m_target;
    PGconn* m_conn = nullptr;
    std::unordered_map<std::string, PreparedStatement, StringHash, std::equal_to<>> m_cache;
    std::uint64_t m_counter = 0;
    std::vector<const char*> m_values;
    std::vector<std::array<char, 40>> m_numbers;
};

}  // namespace

std::unique_ptr<Connection> openPostgres(const std::string& target) {
    return std::make_unique<PgConnection>(target);
}

}  // namespace rqc::suitedb::detail

namespace rqc::suitedb {

CommitSettlements commitSettlements() {
    return {detail::g_settledCommitted.load(), detail::g_settledNotCommitted.load(),
            detail::g_settledUnknown.load()};
}

}  // namespace rqc::suitedb
