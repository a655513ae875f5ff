#pragma once
// The consolidation run behind GetConsSoli (rules in docs/consolidation.md).

#include <string>
#include <vector>

#include "argument_error.h"
#include "protocol/protocol.h"
#include "suitedb/connection.h"

namespace rqc::appserver {

// Consolidates the request lines the 19 arguments select, in one transaction on db, and
// returns the new consolidated request's number (10 digits), or "" when no line remains
// (nothing is written then). Throws ArgumentError, or suitedb::DbError on a database failure
// (the transaction is rolled back).
std::string runGetConsSoli(suitedb::Connection& db, const std::vector<protocol::Argument>& args,
                           const std::string& user);

}  // namespace rqc::appserver
