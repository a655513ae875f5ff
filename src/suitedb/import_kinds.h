#pragma once
// The kinds of file a company's feed brings in: one per table the consolidation reads, plus the
// purchase requests (SOLICMP: one row per request line carrying its request's columns). Each
// kind lists its columns as its file names them, in load order: a kind comes after every kind
// its codes refer to.

#include <span>
#include <string>
#include <string_view>

namespace rqc::suitedb::import {

enum class ValueType {
    Code,      // letters and digits (a branch, an operator, a product, a number)
    Tree,      // a product's tree code: letters, digits, '.', '-', '/'
    Text,      // a name: any printable text
    Flag,      // one letter of `allowed`
    Date,      // a calendar day
    Quantity,  // a number, at most 12 integer and 3 decimal digits
    Integer,   // a whole number
};

struct ImportColumn {
    std::string_view name;  // as the schema names it, and the file's header
    ValueType type;
    int width;             // characters (texts and codes)
    bool required;         // false: may be left out or empty (stored as null)
    bool key;              // part of the row's key
    std::string_view ref;  // the kind whose code this is; empty when none
    std::string_view allowed;
    std::span<const std::string_view> aliases;  // other header names accepted, lower case
    std::string_view meaning;                   // one line of what it holds
};

struct ImportKind {
    std::string_view name;   // FILIAL, ..., SOLICMP
    std::string_view table;  // where its rows go (SOLICMP: the request lines' table)
    bool snapshot;           // --replace may remove rows the file no longer has
    bool positive;           // quantities must be above zero (not only non-negative)
    std::span<const ImportColumn> columns;
    std::string_view example;  // one example row, ';'-separated, as --template prints it
};

// Every kind, in load order.
std::span<const ImportKind> kinds();
// The kind named `name` (upper case), or nullptr.
const ImportKind* findKind(std::string_view name);
// The kind a file's name stands for: its stem (no extension) is the kind's name, or starts
// with it followed by '_', '-', '.' or a blank (SOLICMP_20261210.csv); nullptr when none.
const ImportKind* kindOfFileName(std::string_view fileName);
// `s` with its ASCII letters in upper case (kinds and column names are).
std::string upperAscii(std::string_view s);
// Position of the kind in load order.
int loadOrder(const ImportKind& k);

// The request kind's columns that belong to the request rather than to its line.
inline constexpr std::string_view kRequestHeaderColumns[] = {
    "CDFILSOLI", "CDFILLANCA", "NRSOLICMP", "DTSOLICITACAO", "DTENTREGA", "CDOPERADOR"};
inline constexpr std::string_view kRequestKind = "SOLICMP";

}  // namespace rqc::suitedb::import
