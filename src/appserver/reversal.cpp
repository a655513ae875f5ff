#include "reversal.h"

#include <optional>

#include "argument_error.h"
#include "consolidation_engine.h"
#include "dates/dates.h"
#include "error_text.h"
#include "method_arguments.h"
#include "suitedb/dialect.h"

namespace rqc::appserver {

namespace {

using suitedb::Dialect;

struct Header {
    bool found = false;
    std::string central;
    std::string situation;
};

Header readHeader(suitedb::Connection& db, const std::string& nr, bool lock) {
    auto c = db.query(std::string("SELECT CDFILCENTCMP, COALESCE(IDSITUACAO, 'A') FROM CONSSOLI"
                                  " WHERE NRCONSSOLI = ?") +
                          (lock ? Dialect(db).forUpdate("", false) : ""),
                      {nr});
    Header h;
    if (c->next())
        h = Header{true, std::string(c->text(0)), std::string(c->text(1))};
    return h;
}

void refuseUnlessOpen(const Header& h, const std::string& nr) {
    if (!h.found)
        throw ArgumentError(messages::consolidationNotFound(nr), protocol::ErrorKind::NotFound);
    if (h.situation == "E")
        throw ArgumentError(messages::alreadyReversed(nr), protocol::ErrorKind::Refused);
    if (h.situation != "A") {
        throw ArgumentError(messages::notOpenForReversal(nr, h.situation),
                            protocol::ErrorKind::Refused);
    }
}

[[noreturn]] void refuseBusy(const Header& h) {
    throw ArgumentError(messages::reversalBusy(h.central), protocol::ErrorKind::Busy);
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
        {dates::localTimestamp(), recordedUser(user), nr});
    return changed;
}

// One writer per database (SQLite): the transaction's write lock serialises it with every
// run and reversal; only the wait for that lock is bounded.
std::int64_t reverseUnderWriteLock(suitedb::Connection& db, const std::string& nr,
                                   const std::string& user) {
    Header h = readHeader(db, nr, false);
    refuseUnlessOpen(h, nr);
    std::optional<suitedb::Transaction> tx;
    {
        suitedb::BusyTimeout wait(db, kReversalLockWaitMs);
        try {
            tx.emplace(db);
        } catch (const suitedb::DbError& e) {
            if (Dialect(db).isLockTimeout(e))
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

// Row locks (PostgreSQL): the branch's key lock queues it with "T" runs and other reversals
// of the branch ("N" runs never hold a marked line); every wait is bounded.
std::int64_t reverseWithRowLocks(suitedb::Connection& db, const std::string& nr,
                                 const std::string& user) {
    const Dialect d(db);
    suitedb::Transaction tx(db);
    d.boundLockWaits(db, kReversalLockWaitMs);
    Header h = readHeader(db, nr, false);
    refuseUnlessOpen(h, nr);
    std::int64_t changed = 0;
    try {
        d.lockKey(db, kBranchLockClass, h.central);
        h = readHeader(db, nr, true);
        refuseUnlessOpen(h, nr);
        changed = reverse(db, nr, user);
    } catch (const suitedb::DbError& e) {
        if (d.isLockTimeout(e))
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
    std::int64_t changed = Dialect(db).rowLocks() ? reverseWithRowLocks(db, nr, user)
                                                  : reverseUnderWriteLock(db, nr, user);
    return std::to_string(changed);
}

}  // namespace rqc::appserver
