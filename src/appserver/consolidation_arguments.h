#pragma once
// GetConsSoli's 19 positional arguments, checked and normalised before anything is read or
// written (internal to the consolidation engine; rules in docs/consolidation.md).

#include <string>
#include <string_view>
#include <vector>

#include "protocol/protocol.h"

namespace rqc::appserver {

inline constexpr std::size_t kConsSoliArgumentCount = 19;
inline constexpr std::size_t kBranchCodeLength = 4;
inline constexpr std::size_t kBuyerCodeLength = 12;
inline constexpr std::size_t kProductTreeCodeLength = 20;
inline constexpr std::size_t kRequestNumberLength = 10;
inline constexpr std::size_t kRequestKeyLength = 2 * kBranchCodeLength + kRequestNumberLength;

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
    std::string idConsEstoque;              // 10 "S"/"N"
    std::string idConsSoli;                 // 11 "T" every line / "N" lines never taken
    std::string idProdOrig;                 // 12 "S"/"N"
    std::string dtProcEstoque;              // 13 processing date, "YYYY-MM-DD"
    std::string idTodasSoli;                // 14 "T" or ""
    std::vector<std::string> solicitacoes;  // 15 request keys, 18 characters each
    std::string idConsSoliAberta;           // 16 "S"/"N"
    std::string idConsAf;                   // 17 "S"/"N"
    std::string idLimiteSeg;                // 18 "S"/"N"
    std::string idParamOl;                  // 19 "S"/"N"

    bool consEstoque() const { return idConsEstoque == "S"; }
    bool onlyNeverTaken() const { return idConsSoli == "N"; }
    bool prodOrig() const { return idProdOrig == "S"; }
    bool allRequests() const { return idTodasSoli == "T"; }
    bool consSoliAberta() const { return idConsSoliAberta == "S"; }
    bool consAf() const { return idConsAf == "S"; }
    bool limiteSeg() const { return idLimiteSeg == "S"; }
    bool paramOl() const { return idParamOl == "S"; }
    // The branch whose OL multiple and minimum round the quantities.
    const std::string& olBranch() const { return consEstoque() ? cdFilEst : cdFilial; }
};

// Checks the arguments in order 1..19 and returns them normalised; throws ArgumentError
// naming the first faulty argument and what is wrong with it.
ConsSoliArguments parseConsSoliArguments(const std::vector<protocol::Argument>& args);

// Parses a request list: comma-separated keys CDFILSOLI(4) + CDFILLANCA(4) + NRSOLICMP(10),
// each part right-padded with blanks. Returns the keys in their 18-character form, duplicates
// dropped. Throws ArgumentError on any fault.
std::vector<std::string> parseRequestKeyList(std::string_view text, std::string_view what);

}  // namespace rqc::appserver
