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
    return "O " + std::string(address) + " " + std::string(code.substr(0, 40));
}

std::string addressKey(std::string_view address) {
    return "A " + std::string(address);
}

// Where writers do not queue, the counts live in the database, shared by every server on it;
// otherwise in memory, so that a login never waits for a run's write turn.
bool sharedCounts(WorkerConnection& db) {
    return !suitedb::Dialect::of(db.target()).queuesWriters();
}

}  // namespace

LoginThrottle::LoginThrottle(LoginPolicy policy) : m_policy(policy) {}

std::int64_t LoginThrottle::waitAfter(std::int64_t failures, int freeAttempts) const {
    if (failures < freeAttempts)
        return 0;
    const auto doublings = std::min<std::int64_t>(failures - freeAttempts, kMaxDoublings);
    return std::min<std::int64_t>(m_policy.firstWait.count() << doublings,
                                  m_policy.maxWait.count());
}

std::string LoginThrottle::waitSql(const std::string& failures, int freeAttempts) const {
    std::string sql = "CASE WHEN " + failures + " < " + std::to_string(freeAttempts) + " THEN 0";
    for (int extra = 0; extra < kMaxDoublings; ++extra) {
        const std::int64_t wait = waitAfter(freeAttempts + extra, freeAttempts);
        if (wait >= m_policy.maxWait.count())
            break;
        sql += " WHEN " + failures + " = " + std::to_string(freeAttempts + extra) + " THEN " +
               std::to_string(wait);
    }
    return sql + " ELSE " + std::to_string(m_policy.maxWait.count()) + " END";
}

bool LoginThrottle::tryAttempt(WorkerConnection& db, std::string_view operatorCode,
                               std::string_view address) {
    const std::string byAddress = addressKey(address);
    const std::string byPair = pairKey(operatorCode, address);
    if (sharedCounts(db)) {
        bool prune = false;
        {
            std::lock_guard lock(m_mutex);
            prune = ++m_attempts % kPruneEvery == 0;
        }
        if (prune) {
            const std::int64_t now = nowMs();
            db.get().execute(
                "DELETE FROM LOGINFALHA WHERE DTULTIMA < ? AND DTLIBERA <= ? AND DTCURSO < ?",
                {now - std::chrono::milliseconds(m_policy.forget).count(), now,
                 now - kStaleAttempt});
        }
    }
    for (int i = 0; i < kBusyRetries; ++i) {
        const std::int64_t now = nowMs();
        Take t = take(db, byAddress, m_policy.freeAttemptsPerAddress, now);
        if (t == Take::Taken) {
            t = take(db, byPair, m_policy.freeAttempts, now);
            if (t == Take::Taken)
                return true;
            record(db, byAddress, m_policy.freeAttemptsPerAddress, false, false);
        }
        if (t == Take::Refused)
            return false;
        std::this_thread::sleep_for(kBusyRetry);
    }
    return false;
}

LoginThrottle::Take LoginThrottle::take(WorkerConnection& db, const std::string& key,
                                        int freeAttempts, std::int64_t now) {
    if (!sharedCounts(db)) {
        std::lock_guard lock(m_mutex);
        return takeInMemory(key, freeAttempts, now);
    }
    // One statement checks and takes: a key refusing or busy is left as it is, no row back.
    const std::string failures =
        "(CASE WHEN LOGINFALHA.DTULTIMA < ? THEN 0 ELSE LOGINFALHA.NRFALHAS END)";
    const std::string underWay =
        "(CASE WHEN LOGINFALHA.DTCURSO < ? THEN 0 ELSE LOGINFALHA.NRCURSO END)";
    const std::string free = std::to_string(freeAttempts);
    const std::string sql =
        "INSERT INTO LOGINFALHA (CHAVE, NRFALHAS, NRCURSO, DTCURSO, DTULTIMA, DTLIBERA) "
        "VALUES (?, 0, 1, ?, ?, 0) ON CONFLICT (CHAVE) DO UPDATE SET NRFALHAS = " +
        failures + ", NRCURSO = " + underWay + " + 1, DTCURSO = excluded.DTCURSO " +
        "WHERE LOGINFALHA.DTLIBERA <= excluded.DTCURSO AND " + underWay + " < CASE WHEN " + free +
        " - " + failures + " > 1 THEN " + free + " - " + failures + " ELSE 1 END RETURNING NRCURSO";
    const std::int64_t forgotten = now - std::chrono::milliseconds(m_policy.forget).count();
    const std::int64_t stale = now - kStaleAttempt;
    auto rows = db.get().query(sql, {key, now, now, forgotten, stale, stale, forgotten, forgotten});
    if (rows->next())
        return Take::Taken;
    rows.reset();
    auto state = db.get().query("SELECT DTLIBERA FROM LOGINFALHA WHERE CHAVE = ?", {key});
    return state->next() && state->int64(0) > now ? Take::Refused : Take::Busy;
}

LoginThrottle::Take LoginThrottle::takeInMemory(const std::string& key, int freeAttempts,
                                                std::int64_t now) {
    const std::int64_t forget = std::chrono::milliseconds(m_policy.forget).count();
    auto it = m_counts.find(key);
    if (it == m_counts.end()) {
        if (m_counts.size() >= kMaxCounts) {
            std::erase_if(m_counts, [&](const auto& e) {
                return e.second.lastFailure < now - forget &&
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
        it = m_counts.emplace(key, Count{}).first;
    }
    Count& c = it->second;
    if (c.lastFailure < now - forget)
        c.failures = 0;
    if (c.underWaySince < now - kStaleAttempt)
        c.underWay = 0;
    if (c.until > now)
        return Take::Refused;
    if (c.underWay >= std::max<std::int64_t>(1, freeAttempts - c.failures))
        return Take::Busy;
    ++c.underWay;
    c.underWaySince = now;
    return Take::Taken;
}

void LoginThrottle::record(WorkerConnection& db, const std::string& key, int freeAttempts,
                           bool failure, bool forget) {
    const std::int64_t now = nowMs();
    if (!sharedCounts(db)) {
        std::lock_guard lock(m_mutex);
        auto it = m_counts.find(key);
        if (it == m_counts.end())
            return;
        Count& c = it->second;
        c.underWay = std::max<std::int64_t>(0, c.underWay - 1);
        if (failure) {
            ++c.failures;
            c.lastFailure = now;
            c.until = now + waitAfter(c.failures, freeAttempts);
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
                         {key});
        db.get().execute("DELETE FROM LOGINFALHA WHERE CHAVE = ? AND NRCURSO = 0", {key});
    } else if (failure) {
        db.get().execute(
            "UPDATE LOGINFALHA SET " + lessUnderWay +
                ", NRFALHAS = NRFALHAS + 1, DTULTIMA = ?, DTLIBERA = CAST(? AS BIGINT) + " +
                waitSql("NRFALHAS + 1", freeAttempts) + " WHERE CHAVE = ?",
            {now, now, key});
    } else {
        db.get().execute("UPDATE LOGINFALHA SET " + lessUnderWay + " WHERE CHAVE = ?", {key});
    }
}

void LoginThrottle::failed(WorkerConnection& db, std::string_view operatorCode,
                           std::string_view address) {
    record(db, addressKey(address), m_policy.freeAttemptsPerAddress, true, false);
    record(db, pairKey(operatorCode, address), m_policy.freeAttempts, true, false);
}

void LoginThrottle::succeeded(WorkerConnection& db, std::string_view operatorCode,
                              std::string_view address) {
    record(db, addressKey(address), m_policy.freeAttemptsPerAddress, false, false);
    record(db, pairKey(operatorCode, address), m_policy.freeAttempts, false, true);
}

void LoginThrottle::abandoned(WorkerConnection& db, std::string_view operatorCode,
                              std::string_view address) {
    record(db, addressKey(address), m_policy.freeAttemptsPerAddress, false, false);
    record(db, pairKey(operatorCode, address), m_policy.freeAttempts, false, false);
}

}  // namespace rqc::appserver
