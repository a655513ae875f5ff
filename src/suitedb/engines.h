#pragma once
// Engine back ends behind Connection::open (internal to the library).

#include <memory>
#include <string>

#include "suitedb/connection.h"

namespace rqc::suitedb::detail {

std::unique_ptr<Connection> openSqlite(const std::string& path);
std::unique_ptr<Connection> openPostgres(const std::string& target);

}  // namespace rqc::suitedb::detail
