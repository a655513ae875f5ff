#include "suitedb/connection.h"

#include <algorithm>
#include <thread>

#include "suitedb/engines.h"
#include "suitedb/identifiers.h"

namespace rqc::suitedb {

bool Connection::isPostgresTarget(std::string_view target) {
    return target.starts_with("postgresql://") || target.starts_with("postgres://") ||
           target.find("host=") != std::string_view::npos ||
           target.find("dbname=") != std::string_view::npos;
}

std::unique_ptr<Connection> Connection::open(const std::string& target) {
    if (target.empty())
        throw DbError("no database given (a SQLite file path or a PostgreSQL URL)");
    if (isPostgresTarget(target))
        return detail::openPostgres(target);
    if (target.starts_with("firebird:")) {
        throw DbError("cannot open '" + target +
                      "': Firebird databases are only created (rqc-suitedb init); the suite "
                      "connects to SQLite or PostgreSQL here");
    }
    return detail::openSqlite(target);
}

std::unique_ptr<Connection> Connection::open(const std::string& target, const RetryPolicy& policy,
                                             const RetryObserver& observer) {
    std::chrono::milliseconds wait = policy.firstWait;
    for (int attempt = 1;; ++attempt) {
        try {
            return open(target);
        } catch (const DbError& e) {
            // Only a server that is away or not yet writable may answer a later try.
            if (attempt >= policy.tries || e.kind() == DbFailure::Other)
                throw;
            if (observer)
                observer(attempt, e);
        }
        std::this_thread::sleep_for(wait);
        wait = std::min(wait * 2, policy.maxWait);
    }
}

BulkLoader& BulkLoader::value(const Param& p) {
    if (std::holds_alternative<std::nullptr_t>(p))
        return null();
    if (const auto* s = std::get_if<std::string>(&p))
        return text(*s);
    if (const auto* v = std::get_if<std::int64_t>(&p))
        return int64(*v);
    return real(std::get<double>(p));
}

namespace detail {

std::string checkedIdentifier(std::string_view name) {
    bool ok = !name.empty() && !(name[0] >= '0' && name[0] <= '9');
    for (char c : name) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_')) {
            ok = false;
        }
    }
    if (!ok)
        throw DbError("not a plain SQL name: '" + std::string(name) + "'");
    return std::string(name);
}

std::string loadTarget(std::string_view table, const std::vector<std::string>& columns) {
    std::string out = checkedIdentifier(table) + " (";
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (i > 0)
            out += ", ";
        out += checkedIdentifier(columns[i]);
    }
    return out + ")";
}

}  // namespace detail

}  // namespace rqc::suitedb
