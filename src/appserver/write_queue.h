#pragma once
// Turns to write to one SQLite database file. SQLite lets one writer in at a time and makes
// the others poll until a busy timeout; long runs would make the later ones fail. Writers
// therefore wait here instead, served in arrival order, one at a time per file, with a bound
// on how many may wait and on how long. A waiting writer is a completion handler, not a
// thread. PostgreSQL targets do not queue: row locks order their writers.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace rqc::appserver {

inline constexpr std::size_t kWriteQueueCapacity = 64;
inline constexpr std::chrono::milliseconds kDefaultMaxWriteWait = std::chrono::minutes(5);

class WriteQueue {
  public:
    enum class Refusal { Full, TooLong };
    using Granted = std::function<void()>;
    using Refused = std::function<void(Refusal)>;

    explicit WriteQueue(std::size_t capacity = kWriteQueueCapacity,
                        std::chrono::milliseconds maxWait = kDefaultMaxWriteWait)
        : m_capacity(capacity), m_maxWait(maxWait) {}
    WriteQueue(const WriteQueue&) = delete;
    WriteQueue& operator=(const WriteQueue&) = delete;

    // Asks for a turn. `granted` runs (on the thread that frees the turn, or at once here) when
    // it is the caller's; `refused` runs at once when `capacity` callers already wait or the
    // runs ahead are expected to take longer than the wait bound. Returns a ticket for
    // expire(), 0 when the call was answered at once. Handlers must be short: post the work.
    std::uint64_t asyncAcquire(Granted granted, Refused refused);
    // Refuses the ticket's caller with TooLong if it still waits; false when it does not.
    bool expire(std::uint64_t ticket);
    // Refuses every caller still waiting (the server is stopping).
    void refuseAll();
    // Ends the turn of the caller that holds it and hands it to the next in line.
    void release() noexcept;

    std::size_t waiting() const;
    std::chrono::milliseconds maxWait() const { return m_maxWait; }
    void setMaxWait(std::chrono::milliseconds wait);

    // The process-wide queue of a SQLite file (paths naming one file share it).
    static WriteQueue& forFile(const std::string& path);

  private:
    using Clock = std::chrono::steady_clock;
    struct Waiter {
        std::uint64_t ticket;
        Granted granted;
        Refused refused;
    };

    const std::size_t m_capacity;
    std::chrono::milliseconds m_maxWait;
    mutable std::mutex m_mutex;
    bool m_held = false;
    Clock::time_point m_heldSince;
    std::chrono::duration<double> m_typicalRun{0};  // moving average of recent turns
    std::deque<Waiter> m_waiting;
    std::uint64_t m_nextTicket = 1;
};

// Ends the turn `queue` granted when it goes out of scope.
class TurnHeld {
  public:
    explicit TurnHeld(WriteQueue& queue) : m_queue(queue) {}
    ~TurnHeld() { m_queue.release(); }
    TurnHeld(const TurnHeld&) = delete;
    TurnHeld& operator=(const TurnHeld&) = delete;

  private:
    WriteQueue& m_queue;
};

}  // namespace rqc::appserver
