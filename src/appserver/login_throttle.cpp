#include "login_throttle.h"

#include <algorithm>
#include <thread>

#include "suitedb/connection.h"
#include "suitedb/dialect.h"
#include "worker_connection.h"

namespace rqc::appserver {

namespace {

// Bounds the counts kept in memory; records still refusing are never dropped for new ones.
constexpr std::size_t kMaxCounts = 20000;
constexpr std::uint64_t kPruneEvery = 256;
constexpr int kMaxDoublings = 20;
// An attempt under way longer than this was lost with its server: it no longer counts.
constexpr std::int64_t kStaleAttempt = 30'000;
// How long an attempt waits for the ones under way before it is refused.
constexpr auto kBusyRetry = std::chrono::milliseconds(20);
constexpr int kBusyRetries = 250;

std::int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string pairKey(std::string_view code, std::string_view address) {
    return "O " + std::string(address) + " " + std::string(code);
}

std::string addressKey(std::string_view address) {
    return "A " + std::string(address);
}

std::string operatorKey(std::string_view code) {
    return "U " + std::string(code);
}

// The operator has logged in from the address: its record holds the time in DTULTIMA.
std::string knownKey(std::string_view code, std::string_view address) {
    return "K " + std::string(address) + " " + std::string(code);
}

constexpr std::size_t kMaxKnown = 20000;
constexpr std::int64_t ms(std::chrono::milliseconds d) {
    return d.count();
}

// Where several servers share the database, the counts live in it, shared by every server;
// otherwise in the one server's memory, so that a login never waits for a run's write turn.
bool sharedCounts(WorkerConnection& db) {
    return suitedb::Dialect::of(db.target()).sharedByServers();
}

}  // namespace

LoginThrottle::LoginThrottle(LoginPolicy policy) : m_policy(policy) {}

std::int64_t LoginThrottle::waitAfter(std::int64_t failures, const Budget& b) const {
    if (failures < b.freeAttempts)
        return 0;
    const auto doublings = std::min<std::int64_t>(failures - b.freeAttempts, kMaxDoublings);
    return std::min<std::int64_t>(m_policy.firstWait.count() << doublings, b.maxWait);
}

std::string LoginThrottle::waitSql(const std::string& failures, const Budget& b) const {
    std::string sql = "CASE WHEN " + failures + " < " + std::to_string(b.freeAttempts) + " THEN 0";
    for (int extra = 0; extra < kMaxDoublings; ++extra) {
        const std::int64_t wait = waitAfter(b.freeAttempts + extra, b);
        if (wait >= b.maxWait)
            break;
        sql += " WHEN " + failures + " = " + std::to_string(b.freeAttempts + extra) + " THEN " +
               std::to_string(wait);
    }
    return sql + " ELSE " + std::to_string(b.maxWait) + " END";
}

std::optional<LoginAttempt> LoginThrottle::tryAttempt(WorkerConnection& db,
                                                      std::string_view operatorCode,
                                                      std::string_view address) {
    const std::int64_t forget = ms(m_policy.forget);
    if (sharedCounts(db)) {
        bool prune = false;
        {
            std::lock_guard lock(m_mutex);
            prune = ++m_attempts % kPruneEvery == 0;
        }
        if (prune) {
            const std::int64_t now = nowMs();
            db.get().execute(
                "DELETE FROM LOGINFALHA WHERE DTLIBERA <= ? AND DTCURSO < ? AND DTULTIMA < CASE "
                "WHEN CHAVE LIKE 'K %' THEN ? WHEN CHAVE LIKE 'U %' THEN ? ELSE ? END",
                {now, now - kStaleAttempt, now - ms(m_policy.knownFor),
                 now - ms(m_policy.forgetOperator), now - forget});
        }
    }
    LoginAttempt attempt{std::string(operatorCode), std::string(address), {}};
    std::vector<Budget> budgets = {
        {addressKey(address), m_policy.freeAttemptsPerAddress, ms(m_policy.maxWait), forget}};
    if (!known(db, knownKey(operatorCode, address), nowMs())) {
        budgets.push_back({operatorKey(operatorCode), m_policy.freeAttemptsPerOperator,
                           ms(m_policy.maxOperatorWait), ms(m_policy.forgetOperator)});
    }
    budgets.push_back(
        {pairKey(operatorCode, address), m_policy.freeAttempts, ms(m_policy.maxWait), forget});
    for (int i = 0; i < kBusyRetries; ++i) {
        const std::int64_t now = nowMs();
        Take t = Take::Taken;
        try {
            for (const Budget& b : budgets) {
                t = take(db, b, now);
                if (t != Take::Taken)
                    break;
                attempt.taken.push_back(b);
            }
        } catch (...) {
            giveBack(db, attempt);
            throw;
        }
        if (t == Take::Taken)
            return attempt;
        giveBack(db, attempt);
        attempt.taken.clear();
        if (t == Take::Refused)
            return std::nullopt;
        std::this_thread::sleep_for(kBusyRetry);
    }
    return std::nullopt;
}

void LoginThrottle::giveBack(WorkerConnection& db, const LoginAttempt& attempt) noexcept {
    for (const Budget& b : attempt.taken) {
        try {
            record(db, b, false, false);
        } catch (const std::exception&) {
            // an attempt under way lapses on its own after kStaleAttempt
        }
    }
}

bool LoginThrottle::known(WorkerConnection& db, const std::string& key, std::int64_t now) {
    const std::int64_t since = now - ms(m_policy.knownFor);
    if (!sharedCounts(db)) {
        std::lock_guard lock(m_mutex);
        auto it = m_known.find(key);
        return it != m_known.end() && it->second >= since;
    }
    auto rows = db.get().query("SELECT DTULTIMA FROM LOGINFALHA WHERE CHAVE = ?", {key});
    return rows->next() && rows->int64(0) >= since;
}

void LoginThrottle::remember(WorkerConnection& db, const std::string& key, std::int64_t now) {
    if (!sharedCounts(db)) {
        std::lock_guard lock(m_mutex);
        if (m_known.size() >= kMaxKnown && !m_known.contains(key)) {
            auto oldest = std::min_element(m_known.begin(), m_known.end(),
                                           [](auto& a, auto& b) { return a.second < b.second; });
            m_known.erase(oldest);
        }
        m_known[key] = now;
        return;
    }
    db.get().execute(
        "INSERT INTO LOGINFALHA (CHAVE, NRFALHAS, NRCURSO, DTCURSO, DTULTIMA, DTLIBERA) VALUES "
        "(?, 0, 0, 0, ?, 0) ON CONFLICT (CHAVE) DO UPDATE SET DTULTIMA = excluded.DTULTIMA",
        {key, now});
}

LoginThrottle::Take LoginThrottle::take(WorkerConnection& db, const Budget& b, std::int64_t now) {
    if (!sharedCounts(db)) {
        std::lock_guard lock(m_mutex);
        return takeInMemory(b, now);
    }
    // One statement checks and takes: a key refusing or busy is left as it is, no row back.
    const std::string failures =
        "(CASE WHEN LOGINFALHA.DTULTIMA < ? THEN 0 ELSE LOGINFALHA.NRFALHAS END)";
    const std::string underWay =
        "(CASE WHEN LOGINFALHA.DTCURSO < ? THEN 0 ELSE LOGINFALHA.NRCURSO END)";
    const std::string free = std::to_string(b.freeAttempts);
    const std::string sql =
        "INSERT INTO LOGINFALHA (CHAVE, NRFALHAS, NRCURSO, DTCURSO, DTULTIMA, DTLIBERA) "
        "VALUES (?, 0, 1, ?, ?, 0) ON CONFLICT (CHAVE) DO UPDATE SET NRFALHAS = " +
        failures + ", NRCURSO = " + underWay + " + 1, DTCURSO = excluded.DTCURSO " +
        "WHERE LOGINFALHA.DTLIBERA <= excluded.DTCURSO AND " + underWay + " < CASE WHEN " + free +
        " - " + failures + " > 1 THEN " + free + " - " + failures + " ELSE 1 END RETURNING NRCURSO";
    const std::int64_t forgotten = now - b.forget;
    const std::int64_t stale = now - kStaleAttempt;
    auto rows =
        db.get().query(sql, {b.key, now, now, forgotten, stale, stale, forgotten, forgotten});
    if (rows->next())
        return Take::Taken;
    rows.reset();
    auto state = db.get().query("SELECT DTLIBERA FROM LOGINFALHA WHERE CHAVE = ?", {b.key});
    return state->next() && state->int64(0) > now ? Take::Refused : Take::Busy;
}

LoginThrottle::Take LoginThrottle::takeInMemory(const Budget& b, std::int64_t now) {
    auto it = m_counts.find(b.key);
    if (it == m_counts.end()) {
        if (m_counts.size() >= kMaxCounts) {
            std::erase_if(m_counts, [&](const auto& e) {
                return e.second.lastFailure < now - e.second.forget &&
                       e.second.underWaySince < now - kStaleAttempt;
            });
        }
        if (m_counts.size() >= kMaxCounts) {
            auto oldest = m_counts.end();
            for (auto i = m_counts.begin(); i != m_counts.end(); ++i) {
                if (i->second.until <= now && (oldest == m_counts.end() ||
                                               i->second.lastFailure < oldest->second.lastFailure))
                    oldest = i;
            }
            if (oldest == m_counts.end())
                return Take::Refused;  // every record still refuses: none gives way to a new one
            m_counts.erase(oldest);
        }
        it = m_counts.emplace(b.key, Count{}).first;
    }
    Count& c = it->second;
    c.forget = b.forget;
    if (c.lastFailure < now - b.forget)
        c.failures = 0;
    if (c.underWaySince < now - kStaleAttempt)
        c.underWay = 0;
    if (c.until > now)
        return Take::Refused;
    if (c.underWay >= std::max<std::int64_t>(1, b.freeAttempts - c.failures))
        return Take::Busy;
    ++c.underWay;
    c.underWaySince = now;
    return Take::Taken;
}

void LoginThrottle::record(WorkerConnection& db, const Budget& b, bool failure, bool forget) {
    const std::int64_t now = nowMs();
    if (!sharedCounts(db)) {
        std::lock_guard lock(m_mutex);
        auto it = m_counts.find(b.key);
        if (it == m_counts.end())
            return;
        Count& c = it->second;
        c.underWay = std::max<std::int64_t>(0, c.underWay - 1);
        if (failure) {
            ++c.failures;
            c.lastFailure = now;
            c.until = now + waitAfter(c.failures, b);
        } else if (forget) {
            c.failures = 0;
            c.until = 0;
            if (c.underWay == 0)
                m_counts.erase(it);
        }
        return;
    }
    const std::string lessUnderWay = "NRCURSO = CASE WHEN NRCURSO > 0 THEN NRCURSO - 1 ELSE 0 END";
    if (forget) {
        db.get().execute("UPDATE LOGINFALHA SET " + lessUnderWay +
                             ", NRFALHAS = 0, DTLIBERA = 0 WHERE CHAVE = ?",
                         {b.key});
        db.get().execute("DELETE FROM LOGINFALHA WHERE CHAVE = ? AND NRCURSO = 0", {b.key});
    } else if (failure) {
        db.get().execute("UPDATE LOGINFALHA SET " + lessUnderWay +
                             ", NRFALHAS = NRFALHAS + 1, DTULTIMA = ?, DTLIBERA = CAST(? AS "
                             "BIGINT) + " +
                             waitSql("NRFALHAS + 1", b) + " WHERE CHAVE = ?",
                         {now, now, b.key});
    } else {
        db.get().execute("UPDATE LOGINFALHA SET " + lessUnderWay + " WHERE CHAVE = ?", {b.key});
    }
}

void LoginThrottle::failed(WorkerConnection& db, const LoginAttempt& attempt) {
    for (const Budget& b : attempt.taken)
        record(db, b, true, false);
}

void LoginThrottle::succeeded(WorkerConnection& db, const LoginAttempt& attempt) {
    // The operator's own failures stay: a guesser elsewhere is not let off by his login.
    for (const Budget& b : attempt.taken)
        record(db, b, false, b.key.starts_with("O "));
    remember(db, knownKey(attempt.operatorCode, attempt.address), nowMs());
}

void LoginThrottle::abandoned(WorkerConnection& db, const LoginAttempt& attempt) {
    giveBack(db, attempt);
}

}  // namespace rqc::appserver
