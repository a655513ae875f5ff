#include "worker_connection.h"

namespace rqc::appserver {

suitedb::Connection& WorkerConnection::get() {
    if (!m_conn) m_conn = suitedb::Connection::open(m_target);
    return *m_conn;
}

}  // namespace rqc::appserver
