#pragma once
// The methods of Rqc04100.rdmConsolidaSolicita as the screens call them: for every method its
// name and, per argument, the kind it travels as and the name error messages give it. The
// registration declares the kinds from here; the argument rules name the arguments from here.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace rqc::appserver {

struct ArgumentInfo {
    std::uint8_t kind;      // protocol type code
    std::string_view name;  // e.g. "filial de processamento"
};

struct MethodSignature {
    std::string_view name;
    std::span<const ArgumentInfo> arguments;
    // The method writes to the database: on SQLite the server gives it the file's write turn
    // (WriteQueue) before a call thread runs it.
    bool writes = false;

    std::vector<std::uint8_t> kinds() const;
    // "Argumento N (name)", N counting from 1, as every argument error starts.
    std::string label(std::size_t index) const;
};

namespace methods {

extern const MethodSignature kGetParaCmpSup;
extern const MethodSignature kGetSolicitacao;
extern const MethodSignature kGetConsSoli;
extern const MethodSignature kGetConsSoliPrevia;  // the arguments of GetConsSoli
extern const MethodSignature kGetConsSoliLista;
extern const MethodSignature kGetConsSoliCabec;
extern const MethodSignature kGetConsSoliItens;
extern const MethodSignature kGetConsSoliOrigem;
extern const MethodSignature kEstornaConsSoli;
extern const MethodSignature kFechaConsSoli;

}  // namespace methods

}  // namespace rqc::appserver
