#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rqc::suitedb::detail {

// name itself when it is a plain SQL identifier (letters, digits, '_', not starting with a
// digit); otherwise throws DbError. Guards the names that bulk loading pastes into SQL.
std::string checkedIdentifier(std::string_view name);
// "TABLE (COL1, COL2, ...)" of a bulk load's target, every name checked as above.
std::string loadTarget(std::string_view table, const std::vector<std::string>& columns);

}  // namespace rqc::suitedb::detail
