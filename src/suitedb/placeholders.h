#pragma once

#include <string>
#include <string_view>

namespace rqc::suitedb {

// Rewrites '?' placeholders as PostgreSQL's $1..$n, leaving quoted literals, quoted
// identifiers, dollar-quoted bodies and comments untouched. Sets count to the number of
// placeholders found.
std::string toPostgresPlaceholders(std::string_view sql, int& count);

}  // namespace rqc::suitedb
