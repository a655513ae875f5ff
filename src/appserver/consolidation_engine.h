#pragma once
// The consolidation run behind GetConsSoli (rules in docs/consolidation.md).

#include <string>
#include <vector>

#include "argument_error.h"
#include "protocol/protocol.h"
#include "suitedb/connection.h"

namespace rqc::appserver {

struct ConsSoliArguments;

// First key of the PostgreSQL advisory lock held by whoever may change the marks of the lines
// of one central branch wholesale ("T" runs, reversals); the second is hashtext(branch).
inline constexpr int kBranchLockClass = 4100;

// Consolidates the request lines the 19 arguments select, in one transaction on db, and
// returns the new consolidated request's number (10 digits), or "" when no line remains
// (nothing is written then). Throws ArgumentError, or suitedb::DbError on a database failure
// (the transaction is rolled back).
std::string runGetConsSoli(suitedb::Connection& db, const std::vector<protocol::Argument>& args,
                           const std::string& user);
// The same for arguments already parsed by parseConsSoliArguments.
std::string runGetConsSoli(suitedb::Connection& db, const ConsSoliArguments& a,
                           const std::string& user);

// The selection and aggregation of a run, inside the caller's transaction: fills the work
// tables RQC_CONS_SEL (the lines taken: CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM, CDPRODUTO
// consolidated under, QTSOLICITADA) and RQC_CONS_AGG (one row per product with every term),
// after the drop-outs and the OL rounding. lockLines: take the row locks a run takes
// (PostgreSQL); without them nothing is locked.
enum class Staged {
    NoLine,      // no request line matches
    AllNetZero,  // lines match, but every product nets to zero or below: the work tables keep
                 // them all, with their terms, unrounded
    Products,    // the products that remain, ready to be written
};
Staged stageConsolidation(suitedb::Connection& db, const ConsSoliArguments& a, bool lockLines);

// The operator as a consolidation records who made or reversed it: at most its first 40
// characters (NMUSUARIO, NMUSUESTORNO).
std::string recordedUser(const std::string& user);

// Select list of ITCONSSOLI's terms from RQC_CONS_AGG, QTSOLICITADA .. QTCONSOLIDADA, exactly
// as a run stores them.
std::string storedTerms();

}  // namespace rqc::appserver
