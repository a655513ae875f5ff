#pragma once
// A company's own data into the suite database: CSV files of branches, operators, buyers,
// products, purchase parameters, stock, supply authorisations, safety limits, OL parameters
// and purchase request lines (docs/import.md). Every row of every file is checked before
// anything is written; then everything is written in one transaction, by key, so importing
// the same files again changes nothing.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "suitedb/connection.h"

namespace rqc::suitedb {

struct ImportFile {
    std::string path;
    std::string kind;  // FILIAL, ..., SOLICMP; empty: taken from the file's name
};

enum class ImportDecimal { Unknown, Comma, Point };

struct ImportOptions {
    bool dryRun = false;   // check and count, then write nothing
    bool replace = false;  // snapshot kinds: remove the rows the files no longer have
    ImportDecimal decimal = ImportDecimal::Unknown;
    int maxProblems = 100;
    // SQLite: how long to wait for the database's write turn before refusing.
    int lockWaitMs = 30000;
    // Told what the import is doing, now and then (for a progress line).
    std::function<void(const std::string&)> progress;
};

// One refused value or row: where it is and why, in Portuguese.
struct ImportProblem {
    std::string file;
    std::int64_t line = 0;  // 0: the whole file
    std::string column;     // empty: the whole row
    std::string value;
    std::string message;
    // "FILE, linha N, coluna C, valor 'V': message".
    std::string text() const;
};

// What an import did (or, dry, would do) to one table.
struct ImportCount {
    std::string kind;       // the file kind, or "SOLICMP (solicitações)" for the requests' table
    std::int64_t rows = 0;  // rows in the files
    std::int64_t added = 0, changed = 0, unchanged = 0, removed = 0;
};

struct ImportReport {
    std::vector<ImportProblem> problems;  // at most maxProblems
    std::int64_t moreProblems = 0;        // found beyond that
    std::vector<ImportCount> counts;      // in load order; empty when refused
    bool written = false;                 // committed
    bool ok() const { return problems.empty(); }
    // The files (paths as given) with at least one problem.
    std::vector<std::string> filesWithProblems() const;
};

// Failures that are not about the data: an unreadable file, a database busy for too long, a
// database not at this program's schema version. Nothing was written.
class ImportError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Checks every file, then (unless dry or refused) writes them all in one transaction. The
// files are taken in dependency order whatever order they are given in.
ImportReport importFiles(Connection& db, const std::vector<ImportFile>& files,
                         const ImportOptions& options = {});

// The kinds a file can be, in load order.
std::vector<std::string> importKinds();
// A file of `kind` with its header and one example row (';' and decimal comma); empty when
// there is no such kind.
std::string importTemplate(std::string_view kind);

}  // namespace rqc::suitedb
