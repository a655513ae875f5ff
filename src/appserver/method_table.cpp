#include "method_table.h"

#include "protocol/protocol.h"

namespace rqc::appserver {

namespace {

constexpr std::uint8_t V = protocol::kTextByValue;
constexpr std::uint8_t R = protocol::kTextByRef;
constexpr std::uint8_t D = protocol::kDate;

constexpr ArgumentInfo kParaCmpSup[] = {{R, "filial"}};

constexpr ArgumentInfo kSolicitacao[] = {
    {D, "data de entrega inicial"},
    {D, "data de entrega final"},
    {R, "filiais solicitantes"},
    {R, "todas as filiais"},
};

constexpr ArgumentInfo kConsSoli[] = {
    {V, "filial de processamento"},
    {R, "compradores"},
    {R, "filial centralizadora de compras"},
    {R, "filiais solicitantes"},
    {V, "filial de estoque"},
    {V, "produto inicial"},
    {V, "produto final"},
    {D, "data de entrega inicial"},
    {D, "data de entrega final"},
    {R, "opção Considera Estoque da Filial"},
    {R, "opção Consolida Solicitações"},
    {R, "opção Considera Produto Origem"},
    {D, "data de processamento da filial de estoque"},
    {R, "opção Todas as solicitações"},
    {R, "solicitações"},
    {R, "opção Considerar Solicitação"},
    {R, "opção Considerar AF"},
    {R, "opção Considera limite de segurança"},
    {R, "opção Considera Parametrização OL"},
};

constexpr ArgumentInfo kConsSoliLista[] = {
    {V, "filial central"},
    {D, "data inicial de geração"},
    {D, "data final de geração"},
    {V, "somente abertas"},
};

constexpr ArgumentInfo kConsolidationNumber[] = {{V, "número da consolidação"}};

constexpr ArgumentInfo kConsSoliOrigem[] = {
    {V, "número da consolidação"},
    {V, "produto"},
};

}  // namespace

std::vector<std::uint8_t> MethodSignature::kinds() const {
    std::vector<std::uint8_t> out;
    out.reserve(arguments.size());
    for (const ArgumentInfo& a : arguments)
        out.push_back(a.kind);
    return out;
}

std::string MethodSignature::label(std::size_t index) const {
    return "Argumento " + std::to_string(index + 1) + " (" + std::string(arguments[index].name) +
           ")";
}

namespace methods {

const MethodSignature kGetParaCmpSup{"GetParaCmpSup", kParaCmpSup};
const MethodSignature kGetSolicitacao{"GetSolicitacao", kSolicitacao};
const MethodSignature kGetConsSoli{"GetConsSoli", kConsSoli, true};
const MethodSignature kGetConsSoliPrevia{"GetConsSoliPrevia", kConsSoli};
const MethodSignature kGetConsSoliLista{"GetConsSoliLista", kConsSoliLista};
const MethodSignature kGetConsSoliItens{"GetConsSoliItens", kConsolidationNumber};
const MethodSignature kGetConsSoliCabec{"GetConsSoliCabec", kConsolidationNumber};
const MethodSignature kGetConsSoliOrigem{"GetConsSoliOrigem", kConsSoliOrigem};
const MethodSignature kEstornaConsSoli{"EstornaConsSoli", kConsolidationNumber, true};
const MethodSignature kFechaConsSoli{"FechaConsSoli", kConsolidationNumber, true};

}  // namespace methods

}  // namespace rqc::appserver
