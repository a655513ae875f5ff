#pragma once

#include <string>
#include <string_view>

namespace rqc::suitedb::detail {

// name itself when it is a plain SQL identifier (letters, digits, '_', not starting with a
// digit); otherwise throws DbError. Guards the names that bulk loading pastes into SQL.
std::string checkedIdentifier(std::string_view name);

}  // namespace rqc::suitedb::detail
