#pragma once
// The database connection of one worker thread: opened on first use, checked before each call
// and opened again when it is broken or lands on a server that accepts no writes (a standby),
// and dropped after a database failure. Not thread-safe: one per thread.

#include <memory>
#include <string>

#include "suitedb/connection.h"
#include "suitedb/dialect.h"

namespace rqc::appserver {

// A call waits this long at most for its database (a restart, a standby being promoted):
// about 12.5 s, past the 8 s an automatic failover takes with the documented settings.
inline constexpr suitedb::RetryPolicy kWorkerReconnect{16, std::chrono::milliseconds(100),
                                                       std::chrono::milliseconds(1000)};

class WorkerConnection {
  public:
    explicit WorkerConnection(std::string target, suitedb::RetryPolicy retry = kWorkerReconnect)
        : m_target(std::move(target)), m_retry(retry) {}

    // A usable connection, opened again (tries and waits as the policy says, each failure
    // logged) when the one held is not. Call it once per call: a connection it replaces is
    // gone with every reference to it. Throws suitedb::DbError when no try succeeds.
    suitedb::Connection& get();
    void discard() noexcept { m_conn.reset(); }
    bool isOpen() const { return m_conn != nullptr; }
    const std::string& target() const { return m_target; }

  private:
    std::string m_target;
    suitedb::RetryPolicy m_retry;
    std::unique_ptr<suitedb::Connection> m_conn;
    bool m_openedBefore = false;  // a later open is a reconnect
};

}  // namespace rqc::appserver
