#pragma once
// Firebird 3 copy of the tables the screen reads, created with isql-fb in embedded mode (no
// server process).

#include <string>

#include "suitedb/demo_data.h"

namespace rqc::suitedb {

// The isql-fb script that creates the database file at path with FILIAL, OPERADOR,
// COMPRADOR, PRODUTO and NVLSTR, then inserts data's rows when data is given.
std::string firebirdCreateScript(const std::string& path, const MasterData* data);

// Runs firebirdCreateScript through isql-fb (RQC_ISQL_FB overrides the program). The file must
// not exist yet. Throws std::runtime_error with isql-fb's output when it fails; a file left
// half made is removed.
void createFirebirdDatabase(const std::string& path, const MasterData* data);

// Stops the embedded Firebird engine that Qt's QIBASE driver runs inside this process: its
// attachments end and its threads exit. A process that attached a database in embedded mode
// calls it once, before it exits. False when no engine is loaded or it did not stop in time.
bool shutdownFirebirdEngine();

}  // namespace rqc::suitedb
