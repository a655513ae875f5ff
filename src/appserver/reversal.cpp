#include "reversal.h"

#include <ctime>
#include <optional>

#include "argument_error.h"
#include "consolidation_engine.h"
#include "consultation.h"

namespace rqc::appserver {

namespace {

using suitedb::Engine;

constexpr std::size_t kUserNameLength = 40;
constexpr const char* kLockNotAvailable = "55P03";

struct Header {
    bool found = false;
    std::string central;
    std::string situation;
};

Header readHeader(suitedb::Connection& db, const std::string& nr, bool lock) {
    auto c = db.query(std::string("SELECT CDFILCENTCMP, COALESCE(IDSITUACAO, 'A') FROM CONSSOLI"
                                  " WHERE NRCONSSOLI = ?") +
                          (lock ? " FOR UPDATE" : ""),
                      {nr});
    Header h;
    if (c->next())
        h = Header{true, std::string(c->text(0)), std::string(c->text(1))};
    return h;
}

void refuseUnlessOpen(const Header& h, const std::string& nr) {
    if (!h.found)
        throw ArgumentError("A consolidação " + nr + " não existe.");
    if (h.situation == "E")
        throw ArgumentError("A consolidação " + nr + " já foi estornada.");
    if (h.situation != "A") {
        throw ArgumentError("A consolidação " + nr + " não está aberta (situação " +
                            (h.situation == "F" ? std::string("Fechada") : h.situation) +
                            "); só uma consolidação aberta pode ser estornada.");
    }
}

[[noreturn]] void refuseBusy(const Header& h) {
    throw ArgumentError("Há uma consolidação da filial central " + h.central +
                        " em andamento; tente o estorno novamente em instantes.");
}

std::string localTimestamp() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

std::string truncateUtf8(const std::string& s, std::size_t chars) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 && count++ == chars)
            return s.substr(0, i);
    }
    return s;
}

// The marks go back to the latest earlier consolidation of each line that is not reversed;
// the caller holds the lines. They are reached through the consolidation's links (the lines
// have no index on their mark). Returns how many lines changed.
std::int64_t reverse(suitedb::Connection& db, const std::string& nr, const std::string& user) {
    std::int64_t changed = db.execute(
        "UPDATE ITSOLICMP SET NRCONSSOLI = (SELECT MAX(o.NRCONSSOLI) FROM ITCONSSOLIORIG o"
        " JOIN CONSSOLI c ON c.NRCONSSOLI = o.NRCONSSOLI WHERE o.CDFILSOLI = ITSOLICMP.CDFILSOLI"
        " AND o.CDFILLANCA = ITSOLICMP.CDFILLANCA AND o.NRSOLICMP = ITSOLICMP.NRSOLICMP"
        " AND o.NRITEM = ITSOLICMP.NRITEM AND o.NRCONSSOLI < ?"
        " AND COALESCE(c.IDSITUACAO, 'A') <> 'E') WHERE NRCONSSOLI = ? AND (CDFILSOLI,"
        " CDFILLANCA, NRSOLICMP, NRITEM) IN (SELECT l.CDFILSOLI, l.CDFILLANCA, l.NRSOLICMP,"
        " l.NRITEM FROM ITCONSSOLIORIG l WHERE l.NRCONSSOLI = ?)",
        {nr, nr, nr});
    db.execute(
        "UPDATE CONSSOLI SET IDSITUACAO = 'E', DTESTORNO = ?, NMUSUESTORNO = ?"
        " WHERE NRCONSSOLI = ?",
        {localTimestamp(), truncateUtf8(user, kUserNameLength), nr});
    return changed;
}

bool isLockedSqlite(const suitedb::DbError& e) {
    std::string_view m = e.what();
    return m.find("database is locked") != std::string_view::npos ||
           m.find("database table is locked") != std::string_view::npos;
}

// SQLite: bounds how long the connection waits for the write lock; restores the setting.
class BusyTimeout {
  public:
    BusyTimeout(suitedb::Connection& db, int ms) : m_db(db) {
        auto c = db.query("PRAGMA busy_timeout");
        m_before = c->next() ? c->int64(0) : 0;
        c.reset();
        db.exec("PRAGMA busy_timeout = " + std::to_string(ms));
    }
    ~BusyTimeout() {
        try {
            m_db.exec("PRAGMA busy_timeout = " + std::to_string(m_before));
        } catch (...) {
            // The connection keeps the shorter wait; only how long it waits differs.
        }
    }
    BusyTimeout(const BusyTimeout&) = delete;
    BusyTimeout& operator=(const BusyTimeout&) = delete;

  private:
    suitedb::Connection& m_db;
    std::int64_t m_before = 0;
};

std::int64_t reverseSqlite(suitedb::Connection& db, const std::string& nr,
                           const std::string& user) {
    Header h = readHeader(db, nr, false);
    refuseUnlessOpen(h, nr);
    std::optional<suitedb::Transaction> tx;
    {
        BusyTimeout wait(db, kReversalLockWaitMs);
        try {
            tx.emplace(db);
        } catch (const suitedb::DbError& e) {
            if (isLockedSqlite(e))
                refuseBusy(h);
            throw;
        }
    }
    // The write lock serialises it with every run and reversal; read again under it.
    h = readHeader(db, nr, false);
    refuseUnlessOpen(h, nr);
    std::int64_t changed = reverse(db, nr, user);
    tx->commit();
    return changed;
}

// PostgreSQL: the branch's advisory lock queues it with "T" runs and other reversals of the
// branch ("N" runs never hold a marked line); every wait is bounded by lock_timeout.
std::int64_t reversePostgres(suitedb::Connection& db, const std::string& nr,
                             const std::string& user) {
    suitedb::Transaction tx(db);
    db.exec("SET LOCAL lock_timeout = " + std::to_string(kReversalLockWaitMs));
    Header h = readHeader(db, nr, false);
    refuseUnlessOpen(h, nr);
    std::int64_t changed = 0;
    try {
        db.query("SELECT pg_advisory_xact_lock(" + std::to_string(kBranchLockClass) +
                     ", hashtext(CAST(? AS TEXT)))",
                 {h.central})
            ->next();
        h = readHeader(db, nr, true);
        refuseUnlessOpen(h, nr);
        changed = reverse(db, nr, user);
    } catch (const suitedb::DbError& e) {
        if (e.sqlState() == kLockNotAvailable)
            refuseBusy(h);
        throw;
    }
    tx.commit();
    return changed;
}

}  // namespace

std::string runEstornaConsSoli(suitedb::Connection& db, std::string_view number,
                               const std::string& user) {
    const std::string nr = parseConsolidationNumber(number);
    std::int64_t changed = db.engine() == Engine::Postgres ? reversePostgres(db, nr, user)
                                                           : reverseSqlite(db, nr, user);
    return std::to_string(changed);
}

}  // namespace rqc::appserver
