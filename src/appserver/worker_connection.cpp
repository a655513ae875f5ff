#include "worker_connection.h"

namespace rqc::appserver {

suitedb::Connection& WorkerConnection::get() {
    if (!m_conn) {
        auto conn = suitedb::Connection::open(m_target);
        if (conn->engine() == suitedb::Engine::Sqlite)
            conn->exec(kSqliteWorkerPragmas);
        m_conn = std::move(conn);
    }
    return *m_conn;
}

}  // namespace rqc::appserver
