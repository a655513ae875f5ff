#include "worker_connection.h"

#include <spdlog/spdlog.h>

#include "metrics.h"
#include "suitedb/redact.h"

namespace rqc::appserver {

suitedb::Connection& WorkerConnection::get() {
    if (m_conn && !m_conn->usable()) {
        spdlog::warn("database connection to {} is broken or read-only; opening another",
                     suitedb::redactTarget(m_target));
        m_conn.reset();
    }
    if (!m_conn) {
        auto conn = suitedb::Connection::open(
            m_target, m_retry, [this](int attempt, const suitedb::DbError& e) {
                spdlog::warn("database connection try {} of {} failed: {}", attempt, m_retry.tries,
                             e.what());
            });
        if (const char* settings = suitedb::Dialect(*conn).serverSettings(); *settings != '\0')
            conn->exec(settings);
        m_conn = std::move(conn);
        if (m_openedBefore) {
            if (auto* m = metrics())
                m->databaseReconnect();
        }
        m_openedBefore = true;
    }
    return *m_conn;
}

}  // namespace rqc::appserver
