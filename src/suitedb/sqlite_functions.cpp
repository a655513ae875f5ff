#include "suitedb/sqlite_functions.h"

#include <sqlite3.h>

namespace rqc::suitedb {

namespace {

void nvlstr(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_result_value(ctx, sqlite3_value_type(argv[0]) != SQLITE_NULL ? argv[0] : argv[1]);
}

}  // namespace

int registerSqliteFunctions(sqlite3* db) {
    return sqlite3_create_function_v2(db, "NVLSTR", 2,
                                      SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                      nullptr, nvlstr, nullptr, nullptr, nullptr);
}

}  // namespace rqc::suitedb
