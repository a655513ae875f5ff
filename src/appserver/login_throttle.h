#pragma once
// How failed logins are slowed down. Attempts count per (operator, client address) and per
// client address, never per operator alone, so that failures from elsewhere never keep out an
// operator typing the right password on his own machine. An attempt is taken in the same
// atomic step that checks the counts, before the password is checked, and stays "under way"
// until its outcome is recorded: parallel wrong attempts can never exceed the budget.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace rqc::appserver {

class WorkerConnection;

// After `freeAttempts` failures of one operator from one address (or `freeAttemptsPerAddress`
// of one address, which many operators may share behind a router), that pair or address is
// refused without a check for `firstWait`, doubling with each further failure up to `maxWait`.
// Counts are forgotten after `forget` without a failure.
struct LoginPolicy {
    int freeAttempts = 3;
    int freeAttemptsPerAddress = 20;
    std::chrono::milliseconds firstWait{1000};
    std::chrono::milliseconds maxWait{60000};
    std::chrono::minutes forget{15};
};

class LoginThrottle {
  public:
    explicit LoginThrottle(LoginPolicy policy);

    // Takes one attempt for `operatorCode` from `address`; false when the pair or the address
    // must wait (nothing may be checked then). While the budget is taken by attempts under way
    // it waits for them, briefly. On PostgreSQL the counts live in the database's LOGINFALHA
    // table, shared by every server of it; on SQLite (one server per file) in this process.
    // Throws suitedb::DbError when the database fails. Every true is followed by exactly one
    // of failed, succeeded or abandoned.
    bool tryAttempt(WorkerConnection& db, std::string_view operatorCode, std::string_view address);
    void failed(WorkerConnection& db, std::string_view operatorCode, std::string_view address);
    // The pair's failures are forgotten.
    void succeeded(WorkerConnection& db, std::string_view operatorCode, std::string_view address);
    // The password could not be checked: the attempt does not count.
    void abandoned(WorkerConnection& db, std::string_view operatorCode, std::string_view address);

  private:
    struct Count {
        std::int64_t failures = 0;
        std::int64_t underWay = 0;
        std::int64_t underWaySince = 0;  // ms since the epoch, as the other times
        std::int64_t lastFailure = 0;
        std::int64_t until = 0;  // refused before this
    };
    enum class Take { Taken, Refused, Busy };
    Take take(WorkerConnection& db, const std::string& key, int freeAttempts, std::int64_t now);
    Take takeInMemory(const std::string& key, int freeAttempts, std::int64_t now);
    void record(WorkerConnection& db, const std::string& key, int freeAttempts, bool failure,
                bool forget);
    std::int64_t waitAfter(std::int64_t failures, int freeAttempts) const;
    // SQL computing the wait after `failures` (an SQL expression) failures.
    std::string waitSql(const std::string& failures, int freeAttempts) const;

    LoginPolicy m_policy;
    std::mutex m_mutex;
    std::unordered_map<std::string, Count> m_counts;  // SQLite targets
    std::uint64_t m_attempts = 0;                     // for pruning the table now and then
};

}  // namespace rqc::appserver
