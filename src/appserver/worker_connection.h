#pragma once
// The database connection of one worker thread: opened on first use, dropped after a
// database failure so that the next call opens a fresh one. Not thread-safe: one per thread.

#include <memory>
#include <string>

#include "suitedb/connection.h"

namespace rqc::appserver {

// Sorts of large answers stay in memory, and the file is read through a shared mapping rather
// than copied into each connection's page cache.
inline constexpr const char* kSqliteWorkerPragmas =
    "PRAGMA temp_store = MEMORY; PRAGMA mmap_size = 268435456;";

class WorkerConnection {
  public:
    explicit WorkerConnection(std::string target) : m_target(std::move(target)) {}

    // Throws suitedb::DbError when the database cannot be opened.
    suitedb::Connection& get();
    void discard() noexcept { m_conn.reset(); }
    bool isOpen() const { return m_conn != nullptr; }
    const std::string& target() const { return m_target; }

  private:
    std::string m_target;
    std::unique_ptr<suitedb::Connection> m_conn;
};

}  // namespace rqc::appserver
