#pragma once
// Data sets for the suite database: the demo set (small, with the special cases the screen
// and the server must handle) and a large generated set for benchmarks. Both are
// deterministic for a given "today"; dates are relative to it. docs/operations.md describes
// them.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "suitedb/connection.h"
#include "suitedb/dates.h"

#include "names/names.h"

namespace rqc::suitedb {

// Rows loaded per table, in load order.
struct LoadSummary {
    std::vector<std::pair<std::string, std::int64_t>> tables;
    std::int64_t rows(const std::string& table) const;
};

// The rows of the four tables the screen reads (FILIAL, OPERADOR, COMPRADOR, PRODUTO).
struct MasterData {
    struct Branch {
        std::string code, name;
        std::string rescinded;  // "S" or "N"
        std::string region;     // "" when null
        std::string function;   // "" when null; "C", "O", "L" or "D"
        std::string central;    // "" when null (own central)
        Date processing;
    };
    struct Operator {
        std::string code, name;
        bool buyer = false;
    };
    struct Product {
        std::string code, tree, name, buyer;
        std::string origin;  // "" when null
    };
    std::vector<Branch> branches;
    std::vector<Operator> operators;
    std::vector<Product> products;
};

MasterData demoMasterData(Date today);
MasterData largeMasterData(std::int64_t lines, Date today);

// Operators of the demo set who log in with kDemoPassword: the first two may call the
// consolidation object, the third has no permission at all.
inline constexpr const char* kDemoOperator = names::kDemoOperator;
inline constexpr const char* kDemoPassword = names::kDemoPassword;
inline constexpr const char* kDemoOperators[] = {"COMP001", "COMP002", "OPER001"};
inline constexpr const char* kDemoObject = names::kConsolidationObject.data();

// Loads the demo set in one transaction. The schema must be applied and the database empty;
// otherwise throws DbError and writes nothing.
LoadSummary loadDemo(Connection& c, Date today);

// The one way a demo database is made (rqc-suitedb init --demo and the tests' fixtures):
// the current schema, then the demo set for `today`. The database must hold no data; DbError
// otherwise, nothing loaded.
LoadSummary createDemoDatabase(Connection& c, Date today);
// The same into a new SQLite file `path`, its folder made when missing. An existing file is
// refused with DbError and left alone; any other failure removes what was made of the file
// (with its -wal and -shm companions) and rethrows.
LoadSummary createDemoDatabase(const std::string& path, Date today);

inline constexpr std::int64_t kDefaultLargeLines = 1'000'000;

// Generates exactly `lines` request lines (at least 1) with products, branches, stock, AF,
// limits and OL parameters in proportion, in one transaction, by bulk loading. Same
// preconditions as loadDemo.
LoadSummary generateLarge(Connection& c, std::int64_t lines, Date today);

}  // namespace rqc::suitedb
