#pragma once
// Turns to write to one SQLite database file. SQLite lets one writer in at a time and makes
// the others poll until a busy timeout; long runs would make the later ones fail. Writers
// therefore wait here instead, served in arrival order, one at a time per file, with a bound
// on how many may wait. PostgreSQL targets do not queue: row locks order their writers.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "argument_error.h"

namespace rqc::appserver {

class WorkerConnection;

inline constexpr std::size_t kWriteQueueCapacity = 64;

// The queue is full: the caller should try again shortly.
class ServerBusyError : public UserFacingError {
  public:
    ServerBusyError();
};

class WriteQueue {
  public:
    explicit WriteQueue(std::size_t capacity = kWriteQueueCapacity) : m_capacity(capacity) {}
    WriteQueue(const WriteQueue&) = delete;
    WriteQueue& operator=(const WriteQueue&) = delete;

    // Waits for the caller's turn (first come, first served); throws ServerBusyError at once
    // when `capacity` callers are already waiting. Every acquire() is paired with release().
    void acquire();
    void release() noexcept;
    std::size_t waiting() const;

    // The process-wide queue of a SQLite file (paths naming one file share it).
    static WriteQueue& forFile(const std::string& path);

  private:
    const std::size_t m_capacity;
    mutable std::mutex m_mutex;
    std::condition_variable m_turn;
    std::uint64_t m_next = 0;     // ticket of the next caller
    std::uint64_t m_serving = 0;  // ticket allowed to write
};

// Holds a turn to write for its lifetime; a no-op on a PostgreSQL target.
class WriteTurn {
  public:
    explicit WriteTurn(WorkerConnection& db);
    explicit WriteTurn(WriteQueue& queue);
    ~WriteTurn();
    WriteTurn(const WriteTurn&) = delete;
    WriteTurn& operator=(const WriteTurn&) = delete;

  private:
    WriteQueue* m_queue = nullptr;
};

}  // namespace rqc::appserver
