#pragma once
// EstornaConsSoli: the reversal of an open consolidation (rules in docs/consolidation.md).

#include <string>
#include <string_view>

#include "suitedb/connection.h"

namespace rqc::appserver {

// How long a reversal waits for a run or reversal of the same central branch holding the
// lines before it is refused.
inline constexpr int kReversalLockWaitMs = 2000;

// Reverses the open consolidation `number` (1 to 10 digits) in one transaction: its situation
// becomes 'E' with who and when, every line it marks gets back the mark of its latest earlier
// consolidation that is not reversed (or none), its links stay. Returns the number of lines
// whose mark changed. Throws ArgumentError (Portuguese, nothing written) when the number is
// malformed, the consolidation does not exist or is not open, or its central branch is busy
// beyond kReversalLockWaitMs; suitedb::DbError on a database failure (rolled back).
std::string runEstornaConsSoli(suitedb::Connection& db, std::string_view number,
                               const std::string& user);

}  // namespace rqc::appserver
