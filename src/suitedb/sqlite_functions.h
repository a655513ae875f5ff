#pragma once
// SQL functions the suite expects on every SQLite connection, for connections opened outside
// this library too (e.g. a Qt QSQLITE connection's handle).

struct sqlite3;

namespace rqc::suitedb {

// Registers NVLSTR(a, b) (a when not null, otherwise b). Returns the SQLite result code.
int registerSqliteFunctions(sqlite3* db);

}  // namespace rqc::suitedb
