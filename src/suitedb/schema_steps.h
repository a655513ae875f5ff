#pragma once
// The schema's upgrade steps after version 1. Each takes a database at the version before it
// to its own and runs inside applySchema's transaction; none commits. docs/schema.md says what
// each version changes and why.

#include "suitedb/connection.h"

namespace rqc::suitedb {

void schemaStep2(Connection& c);  // schema_v2.cpp
void schemaStep3(Connection& c);  // schema_v3.cpp
void schemaStep4(Connection& c);  // schema_v4.cpp
void schemaStep5(Connection& c);  // schema_v5.cpp
void schemaStep6(Connection& c);  // schema_v6.cpp

}  // namespace rqc::suitedb
