#pragma once
// Code lists as the client sends them (branch, buyer and request lists): items separated by
// commas, each item 1..maxLength ASCII letters or digits, blanks allowed only around items.
// A text of nothing but blanks is the empty list (meaning "all" to the callers).
// Examples: "0001,0003", " COMP01 , COMP02 ", "" ; refused: "0001,,0002", "'0001'", "0001;x".

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace rqc::appserver {

inline constexpr std::size_t kMaxListItems = 100000;

// `s` without the blanks and tabs at either end.
std::string_view trimBlanks(std::string_view s);

// Parses a list strictly; duplicates are dropped, order of first appearance kept.
// `what` names the argument in the error message. With exactLength, every item must have
// exactly maxLength characters. Throws ArgumentError on any fault.
std::vector<std::string> parseCodeList(std::string_view text, std::string_view what,
                                       std::size_t maxLength, bool exactLength = false);

// Joins validated items with commas (the form bound as one parameter and split in SQL).
std::string joinCodeList(const std::vector<std::string>& items);

}  // namespace rqc::appserver
