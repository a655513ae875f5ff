#pragma once
// A consolidated request handed on to the next step of purchasing (quotations, orders per
// supplier): written out whole, and closed once it has been turned into orders, after which
// it cannot be reversed (docs/go-live.md).

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "suitedb/connection.h"
#include "suitedb/dates.h"

namespace rqc::suitedb {

enum class ExportFormat { Json, Csv };

// The ten-digit number of "1" to "9999999999"; throws std::invalid_argument (Portuguese)
// for anything else.
std::string consolidationNumber(std::string_view typed);

// Numbers of the open consolidations generated on `since` or later, in order.
std::vector<std::string> openConsolidationsSince(Connection& db, Date since);

// Writes the consolidations `numbers` (ten digits each) to `out`: JSON, each with its header
// (filter, options, situation, who and when), product lines with every netting term and source
// lines; or CSV (';', decimal comma, UTF-8 with a byte-order mark), one row per product line
// with its consolidation's columns. Throws std::invalid_argument for a number that does not
// exist; nothing is written then.
void exportConsolidations(Connection& db, const std::vector<std::string>& numbers,
                          ExportFormat format, std::ostream& out);

enum class CloseOutcome { Closed, NotFound, AlreadyClosed, Reversed };

// Closes the open consolidation `number`: situation 'F', with when and by whom (`user`, cut to
// 40 characters). Only an open consolidation is closed; anything else is left as it is and
// the outcome says why. One statement: a reversal at the same time either finds it closed or
// closes it first.
CloseOutcome closeConsolidation(Connection& db, const std::string& number, std::string_view user);
// A Portuguese sentence for an outcome other than Closed.
std::string closeRefusal(CloseOutcome outcome, const std::string& number);

}  // namespace rqc::suitedb
