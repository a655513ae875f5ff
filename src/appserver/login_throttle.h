#pragma once
// How failed logins are slowed down. Attempts count per (operator, client address), per client
// address, and per operator across every address where that operator has not logged in before:
// a guesser spread over many addresses is slowed down, while failures from elsewhere never keep
// out an operator typing the right password on a machine he has used. An attempt is taken in
// the same atomic step that checks the counts, before the password is checked, and stays
// "under way" until its outcome is recorded: parallel wrong attempts never exceed the budget.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace rqc::appserver {

class WorkerConnection;

// After `freeAttempts` failures of one operator from one address (or `freeAttemptsPerAddress`
// of one address, which many operators may share behind a router), that pair or address is
// refused without a check for `firstWait`, doubling with each further failure up to `maxWait`.
// Counts are forgotten after `forget` without a failure.
//
// The operator's own budget, for addresses where he has not logged in within `knownFor`:
// `freeAttemptsPerOperator` failures, then waits doubling from `firstWait` up to
// `maxOperatorWait`, forgotten after `forgetOperator` without a failure. With the defaults a
// guesser gets 10 + 9 (the doubling waits, 511 s in all) + 11 (one per 5 minutes) = at most 30
// checked guesses per operator in any hour, however many addresses he has.
struct LoginPolicy {
    int freeAttempts = 3;
    int freeAttemptsPerAddress = 20;
    int freeAttemptsPerOperator = 10;
    std::chrono::milliseconds firstWait{1000};
    std::chrono::milliseconds maxWait{60000};
    std::chrono::milliseconds maxOperatorWait{300000};
    std::chrono::minutes forget{15};
    std::chrono::minutes forgetOperator{60};
    std::chrono::hours knownFor{24 * 90};
};

// The budgets one login attempt has taken; given back by failed, succeeded or abandoned.
struct LoginAttempt {
    struct Budget {
        std::string key;
        int freeAttempts = 0;
        std::int64_t maxWait = 0;  // ms
        std::int64_t forget = 0;   // ms without a failure
    };
    std::string operatorCode;
    std::string address;
    std::vector<Budget> taken;
};

class LoginThrottle {
  public:
    explicit LoginThrottle(LoginPolicy policy);

    // Takes one attempt for `operatorCode` (a valid code) from `address`; nullopt when the
    // pair, the address or the operator must wait (nothing may be checked then). While the
    // budget is taken by attempts under way it waits for them, briefly. On PostgreSQL the
    // counts live in the database's LOGINFALHA table, shared by every server of it; on SQLite
    // (one server per file) in this process. Throws suitedb::DbError when the database fails,
    // having given back what it took. Every attempt returned is followed by exactly one of
    // failed, succeeded or abandoned.
    std::optional<LoginAttempt> tryAttempt(WorkerConnection& db, std::string_view operatorCode,
                                           std::string_view address);
    void failed(WorkerConnection& db, const LoginAttempt& attempt);
    // The pair's failures are forgotten and the address is known for the operator.
    void succeeded(WorkerConnection& db, const LoginAttempt& attempt);
    // The password could not be checked: the attempt does not count.
    void abandoned(WorkerConnection& db, const LoginAttempt& attempt);

  private:
    struct Count {
        std::int64_t failures = 0;
        std::int64_t underWay = 0;
        std::int64_t underWaySince = 0;  // ms since the epoch, as the other times
        std::int64_t lastFailure = 0;
        std::int64_t until = 0;  // refused before this
        std::int64_t forget = 0;
    };
    using Budget = LoginAttempt::Budget;
    enum class Take { Taken, Refused, Busy };
    Take take(WorkerConnection& db, const Budget& b, std::int64_t now);
    Take takeInMemory(const Budget& b, std::int64_t now);
    void record(WorkerConnection& db, const Budget& b, bool failure, bool forget);
    void giveBack(WorkerConnection& db, const LoginAttempt& attempt) noexcept;
    bool known(WorkerConnection& db, const std::string& key, std::int64_t now);
    void remember(WorkerConnection& db, const std::string& key, std::int64_t now);
    std::int64_t waitAfter(std::int64_t failures, const Budget& b) const;
    // SQL computing the wait after `failures` (an SQL expression) failures.
    std::string waitSql(const std::string& failures, const Budget& b) const;

    LoginPolicy m_policy;
    std::mutex m_mutex;
    std::unordered_map<std::string, Count> m_counts;        // SQLite targets
    std::unordered_map<std::string, std::int64_t> m_known;  // SQLite targets: last login
    std::uint64_t m_attempts = 0;                           // for pruning the table now and then
};

}  // namespace rqc::appserver
