#pragma once
// The suite database's versioned schema (docs/schema.md) on SQLite and PostgreSQL, and the
// part of it that Firebird carries.

#include <string>
#include <string_view>

#include "suitedb/connection.h"

namespace rqc::suitedb {

inline constexpr int kSchemaVersion = 6;

// The version recorded in SCHEMA_VERSION; 0 when the database has no schema yet.
int schemaVersion(Connection& c);

// Brings the database up to kSchemaVersion in one transaction and returns the version it had
// before. Idempotent. Throws DbError, changing nothing, when the database is newer than this
// program knows or a migration fails.
int applySchema(Connection& c);

// applySchema stopping at `version` (1..kSchemaVersion): builds or upgrades a database to an
// older version, for upgrade tests and comparisons. A database already past it is left alone.
int applySchemaUpTo(Connection& c, int version);

// True when any table of the schema holds a row (NUMERACAO's counters do not count).
bool hasData(Connection& c);

// Empties every table except SCHEMA_VERSION and resets the numbering, in one transaction.
void clearData(Connection& c);

// Secondary indexes of the request tables: dropped before a bulk load and built again after
// it, which is faster than maintaining them row by row. createRequestIndexes builds those of
// the database's recorded schema version. With `table`, only that table's are dropped.
void dropRequestIndexes(Connection& c, std::string_view table = {});
void createRequestIndexes(Connection& c);

// isql script body (after CREATE DATABASE) creating FILIAL, OPERADOR, COMPRADOR, PRODUTO and
// the NVLSTR function on Firebird 3, dialect 3.
std::string firebirdSchemaScript();

}  // namespace rqc::suitedb
