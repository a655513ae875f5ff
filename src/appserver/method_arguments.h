#pragma once
// The argument rules of every method of Rqc04100.rdmConsolidaSolicita: how a code, a list of
// codes or request keys, a date, an option letter and a consolidation number are read, and
// what a refusal says. Every refusal is an ArgumentError naming the argument ("Argumento N
// (name): ...", names from the method table) and the fault; nothing has been read or written
// when it is raised. Rules as built: docs/consolidation.md.
//
// Lists travel as text: items separated by commas, blanks allowed only around items; a text
// of nothing but blanks is the empty list (meaning "all" to the callers). Examples:
// "0001,0003", " COMP01 , COMP02 ", ""; refused: "0001,,0002", "'0001'", "0001;x".

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "method_table.h"
#include "protocol/protocol.h"

namespace rqc::appserver {

inline constexpr std::size_t kMaxListItems = 100000;
inline constexpr std::size_t kBranchCodeLength = 4;
inline constexpr std::size_t kBuyerCodeLength = 12;
inline constexpr std::size_t kProductTreeCodeLength = 20;
inline constexpr std::size_t kProductCodeLength = 10;
inline constexpr std::size_t kRequestNumberLength = 10;
inline constexpr std::size_t kRequestKeyLength = 2 * kBranchCodeLength + kRequestNumberLength;
inline constexpr std::size_t kConsolidationNumberDigits = 10;

// The two letters of an option: the one that means yes, the one that means no ("" = blank).
struct OptionLetters {
    std::string_view yes;
    std::string_view no;
    std::string_view letter(bool value) const { return value ? yes : no; }
};
inline constexpr OptionLetters kSimNao{"S", "N"};
inline constexpr OptionLetters kTodasNao{"T", "N"};
inline constexpr OptionLetters kTodasOuVazio{"T", ""};

// `s` without the blanks and tabs at either end.
std::string_view trimBlanks(std::string_view s);

// Parses a list strictly: each item 1..maxLength ASCII letters or digits (with exactLength,
// exactly maxLength); duplicates dropped, order of first appearance kept. `what` starts the
// error message.
std::vector<std::string> parseCodeList(std::string_view text, std::string_view what,
                                       std::size_t maxLength, bool exactLength = false);

// Joins validated items with commas (the form a list is stored in).
std::string joinCodeList(const std::vector<std::string>& items);

// Parses a request list: comma-separated keys CDFILSOLI(4) + CDFILLANCA(4) + NRSOLICMP(10),
// each part right-padded with blanks. Returns the keys in their 18-character form, duplicates
// dropped.
std::vector<std::string> parseRequestKeyList(std::string_view text, std::string_view what);

// A consolidation number: 1 to 10 digits, blanks around allowed; returned with 10 digits
// ("42" -> "0000000042").
std::string parseConsolidationNumber(std::string_view text);

// The arguments of one call, read by index with the rule each one follows.
class MethodArguments {
  public:
    // Refuses a call whose argument count differs from the method's, or an argument that is
    // not a date where the method wants one (or the other way round).
    MethodArguments(const MethodSignature& method, const std::vector<protocol::Argument>& args);

    std::string label(std::size_t index) const { return m_method.label(index); }
    // Throws ArgumentError "label: sentence".
    [[noreturn]] void fail(std::size_t index, std::string_view sentence) const;

    // A code: trailing blanks dropped, valid UTF-8 without control characters, at most
    // maxLength characters, and not empty when required.
    std::string code(std::size_t index, std::size_t maxLength, bool required) const;
    // Exactly one branch code following the list rules, blanks around allowed.
    std::string branchCode(std::size_t index) const;
    // 1..maxLength ASCII letters or digits, blanks around allowed.
    std::string plainCode(std::size_t index, std::size_t maxLength) const;
    std::vector<std::string> codeList(std::size_t index, std::size_t maxLength) const;
    std::vector<std::string> requestKeyList(std::size_t index) const;
    // A date of the years 1900 to 2999 as "YYYY-MM-DD" (its time of day dropped).
    std::string date(std::size_t index) const;
    // The same, `offset` days later, with one message for both faults.
    std::string day(std::size_t index, int offset = 0) const;
    // True for the yes letter, false for the no letter, refused otherwise; with `trimmed`,
    // blanks around the letter are allowed. `refusal` replaces the standard sentence.
    bool option(std::size_t index, OptionLetters letters, bool trimmed = false,
                std::string_view refusal = {}) const;
    std::string consolidationNumber(std::size_t index) const;

  private:
    const MethodSignature& m_method;
    const std::vector<protocol::Argument>& m_args;
};

// GetConsSoli's 19 positional arguments, checked and normalised (also GetConsSoliPrevia's).
struct ConsSoliArguments {
    std::string cdFilial;                   // 1  processing branch
    std::vector<std::string> compradores;   // 2  buyers; empty = every buyer
    std::string cdFilCentCmp;               // 3  central purchasing branch
    std::vector<std::string> filiais;       // 4  requesting branches; empty = every branch
    std::string cdFilEst;                   // 5  stock branch ("" allowed when stock is off)
    std::string cdArvProdIni;               // 6  product tree codes, inclusive range
    std::string cdArvProdFin;               // 7
    std::string dtEntregaIni;               // 8  delivery dates, "YYYY-MM-DD", inclusive
    std::string dtEntregaFin;               // 9
    bool consEstoque = false;               // 10 "S": minus the stock branch's stock
    bool todasLinhas = false;               // 11 "T": every line; "N": lines never taken
    bool prodOrig = false;                  // 12 "S": per origin product
    std::string dtProcEstoque;              // 13 processing date, "YYYY-MM-DD"
    bool todasSolicitacoes = false;         // 14 "T": every request; "": those of arg 15
    std::vector<std::string> solicitacoes;  // 15 request keys, 18 characters each
    bool consSoliAberta = false;            // 16 "S": minus open consolidations
    bool consAf = false;                    // 17 "S": minus open supply authorisations
    bool limiteSeg = false;                 // 18 "S": plus the safety limit
    bool paramOl = false;                   // 19 "S": rounded to the OL multiple and minimum

    bool onlyNeverTaken() const { return !todasLinhas; }
    // The branch whose OL multiple and minimum round the quantities.
    const std::string& olBranch() const { return consEstoque ? cdFilEst : cdFilial; }
};

// Checks the arguments in order 1..19 and returns them normalised; throws ArgumentError
// naming the first faulty argument and what is wrong with it.
ConsSoliArguments parseConsSoliArguments(const std::vector<protocol::Argument>& args);

}  // namespace rqc::appserver
