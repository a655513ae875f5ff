#pragma once
// CSV as Brazilian spreadsheets and ERPs write it: ';' or ',' between fields, fields in double
// quotes where they hold a separator, a quote or a line break, CRLF or LF, UTF-8 (with or
// without a byte-order mark) or Windows-1252; and the values in them: numbers with a decimal
// comma or point, dates "dd/mm/aaaa" or "aaaa-mm-dd". Every failure is a Portuguese sentence.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "suitedb/import.h"

namespace rqc::suitedb::import {

// A file's text, decoded to UTF-8, and how it was written.
struct CsvText {
    std::string text;
    bool windows1252 = false;
    bool bom = false;
};
// Decodes `bytes`: UTF-8 when it has a byte-order mark or is well-formed UTF-8, otherwise
// Windows-1252 (where every byte is a character).
CsvText decodeCsv(std::string bytes);

// Splits decoded text into records. The separator is taken from the first record (the header):
// ';' when it has one, ',' otherwise.
class CsvRecords {
  public:
    explicit CsvRecords(std::string_view text);
    // The next record that is not blank, its fields unquoted; false at the end. `line` is the
    // 1-based line the record starts on. Throws std::runtime_error (Portuguese) at a quote
    // that never closes.
    bool next(std::vector<std::string>& fields, std::int64_t& line);
    char separator() const { return m_sep; }
    // How far through the text, in bytes.
    std::size_t position() const { return m_pos; }

  private:
    std::string_view m_text;
    std::size_t m_pos = 0;
    std::int64_t m_line = 1;
    char m_sep = ';';
};

// What separates a number's decimals, when the operator says so; Unknown refuses what could
// be read either way (1.234: one thousand, or one and a fraction).
using DecimalMark = ImportDecimal;

// Each returns an empty string and writes the canonical value, or returns why the text is not
// one (a Portuguese phrase, without the value).
// A quantity as "-?digits[.digits]" with at most `maxDecimals` decimals and 12 integer digits.
std::string parseDecimal(std::string_view text, DecimalMark mark, int maxDecimals,
                         std::string& out);
// A calendar day as "YYYY-MM-DD".
std::string parseDay(std::string_view text, std::string& iso);
// A whole number.
std::string parseWhole(std::string_view text, std::int64_t& out);

// `s` without blanks (spaces, tabs, no-break spaces) at either end.
std::string_view trimmed(std::string_view s);

}  // namespace rqc::suitedb::import
