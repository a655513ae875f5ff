#pragma once
// The PostgreSQL role the desktops log in with: it reads the look-up tables the screens show
// and nothing else. The servers' own role, which owns every table, never leaves the servers.

#include <string>
#include <string_view>
#include <vector>

#include "suitedb/connection.h"

namespace rqc::suitedb {

// What the desktops may read: whole tables, and OPERADOR's code and name only.
struct DesktopGrant {
    std::string table;
    std::vector<std::string> columns;  // empty: every column
};
const std::vector<DesktopGrant>& desktopGrants();
// "" for a whole table, " (CDOPERADOR, NMOPERADOR)" for some columns.
std::string columnList(const DesktopGrant& grant);

// Empty when `name` can be a desktop role (a lower-case letter or _, then up to 62 lower-case
// letters, digits or _); otherwise why not.
std::string desktopRoleProblem(std::string_view name);

// Creates the role, or updates it, so that it logs in with `password`, inherits no privilege
// and may only connect and SELECT the look-up tables. Run by the servers' role (the owner of
// the tables), which may not name itself. Returns true when the role was created. Throws
// OperatorError for a bad name or password, or for a SQLite database (a desktop opens the file
// read-only instead), DbError when the database refuses.
bool setDesktopRole(Connection& c, const std::string& name, const std::string& password);

}  // namespace rqc::suitedb
