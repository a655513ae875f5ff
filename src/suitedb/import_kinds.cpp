#include "suitedb/import_kinds.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace rqc::suitedb::import {

namespace {

using V = ValueType;
using A = std::string_view;

constexpr A kBranchAliases[] = {"filial", "codigo_filial", "cod_filial"};
constexpr A kBranchNameAliases[] = {"nome", "nome_filial"};
constexpr A kRescindedAliases[] = {"contrato_rescindido", "rescindido"};
constexpr A kRegionAliases[] = {"regiao"};
constexpr A kFunctionAliases[] = {"funcao", "funcao_filial"};
constexpr A kCentralAliases[] = {"filial_central", "central_compras", "centralizadora"};
constexpr A kProcessingAliases[] = {"data_processamento", "processamento"};
constexpr A kOperatorAliases[] = {"operador", "codigo_operador", "comprador"};
constexpr A kOperatorNameAliases[] = {"nome", "nome_operador"};
constexpr A kProductAliases[] = {"produto", "codigo_produto", "cod_produto"};
constexpr A kTreeAliases[] = {"arvore", "codigo_arvore", "estrutura"};
constexpr A kProductNameAliases[] = {"nome", "descricao", "nome_produto"};
constexpr A kBuyerAliases[] = {"comprador", "codigo_comprador"};
constexpr A kOriginAliases[] = {"produto_origem", "origem"};
constexpr A kPreferredAliases[] = {"utiliza_produto_preferencial", "produto_preferencial"};
constexpr A kCoverageAliases[] = {"dias_cobertura", "cobertura"};
constexpr A kStockDateAliases[] = {"data_estoque", "data"};
constexpr A kStockAliases[] = {"estoque", "quantidade"};
constexpr A kAfAliases[] = {"af", "autorizacao", "numero_af"};
constexpr A kAuthorisedAliases[] = {"autorizada", "quantidade_autorizada"};
constexpr A kReceivedAliases[] = {"recebida", "quantidade_recebida"};
constexpr A kSituationAliases[] = {"situacao"};
constexpr A kLimitAliases[] = {"limite_seguranca", "limite"};
constexpr A kMultipleAliases[] = {"multiplo"};
constexpr A kMinimumAliases[] = {"minimo", "quantidade_minima"};
constexpr A kRequestingAliases[] = {"filial_solicitante", "solicitante"};
constexpr A kLaunchingAliases[] = {"filial_lancamento", "lancamento"};
constexpr A kRequestAliases[] = {"solicitacao", "numero_solicitacao"};
constexpr A kRequestDateAliases[] = {"data_solicitacao"};
constexpr A kDeliveryAliases[] = {"data_entrega", "entrega"};
constexpr A kItemAliases[] = {"item"};
constexpr A kQuantityAliases[] = {"quantidade", "quantidade_solicitada"};
constexpr ImportColumn kFilial[] = {
    {"CDFILIAL", V::Code, 4, true, true, "", "", kBranchAliases, "código da filial"},
    {"NMFILIAL", V::Text, 30, true, false, "", "", kBranchNameAliases, "nome da filial"},
    {"IDCNTRRESC", V::Flag, 1, false, false, "", "SN", kRescindedAliases,
     "S: contrato rescindido; N ou vazio: em vigor"},
    {"CDREGIAO", V::Code, 3, false, false, "", "", kRegionAliases, "região (opcional)"},
    {"IDFUNCAOFILI", V::Flag, 1, false, false, "", "OCLD", kFunctionAliases,
     "O: filial OL; C: central de compras; L: loja; D: depósito (opcional)"},
    {"CDFILCENTCMP", V::Code, 4, false, false, "FILIAL", "", kCentralAliases,
     "filial central de compras; vazio: a própria filial é a central"},
    {"DTPROCESSAMENTO", V::Date, 0, true, false, "", "", kProcessingAliases,
     "data de processamento da filial"},
};
constexpr ImportColumn kOperador[] = {
    {"CDOPERADOR", V::Code, 12, true, true, "", "", kOperatorAliases, "código do operador"},
    {"NMOPERADOR", V::Text, 40, false, false, "", "", kOperatorNameAliases, "nome do operador"},
};
constexpr ImportColumn kComprador[] = {
    {"CDOPERADOR", V::Code, 12, true, true, "OPERADOR", "", kOperatorAliases,
     "operador que é comprador"},
};
constexpr ImportColumn kProduto[] = {
    {"CDPRODUTO", V::Code, 10, true, true, "", "", kProductAliases, "código do produto"},
    {"CDARVPROD", V::Tree, 20, true, false, "", "", kTreeAliases,
     "código na árvore de produtos (único), por exemplo 01.01.001.0001"},
    {"NMPRODUTO", V::Text, 50, false, false, "", "", kProductNameAliases, "nome do produto"},
    {"CDCOMPRADOR", V::Code, 12, false, false, "COMPRADOR", "", kBuyerAliases,
     "comprador responsável (opcional)"},
    {"CDPRODORIG", V::Code, 10, false, false, "PRODUTO", "", kOriginAliases,
     "produto origem; vazio: o próprio produto"},
};
constexpr ImportColumn kParCmpSup[] = {
    {"CDFILIAL", V::Code, 4, true, true, "FILIAL", "", kBranchAliases, "filial"},
    {"IDUTPRODPREF", V::Flag, 1, true, false, "", "SN", kPreferredAliases,
     "S ou N: utiliza produto preferencial"},
    {"QTDIASCOBERTURA", V::Integer, 0, false, false, "", "", kCoverageAliases,
     "dias de cobertura (opcional)"},
};
constexpr ImportColumn kEstoque[] = {
    {"CDFILIAL", V::Code, 4, true, true, "FILIAL", "", kBranchAliases, "filial"},
    {"CDPRODUTO", V::Code, 10, true, true, "PRODUTO", "", kProductAliases, "produto"},
    {"DTESTOQUE", V::Date, 0, true, true, "", "", kStockDateAliases, "data do estoque"},
    {"QTESTOQUE", V::Quantity, 0, true, false, "", "", kStockAliases, "quantidade em estoque"},
};
constexpr ImportColumn kAutForn[] = {
    {"NRAUTFORN", V::Code, 10, true, true, "", "", kAfAliases,
     "número da autorização de fornecimento"},
    {"CDPRODUTO", V::Code, 10, true, true, "PRODUTO", "", kProductAliases, "produto"},
    {"CDFILIAL", V::Code, 4, true, false, "FILIAL", "", kBranchAliases, "filial de entrega"},
    {"QTAUTORIZADA", V::Quantity, 0, true, false, "", "", kAuthorisedAliases,
     "quantidade autorizada"},
    {"QTRECEBIDA", V::Quantity, 0, false, false, "", "", kReceivedAliases,
     "quantidade já recebida (vazio: nada)"},
    {"IDSITUACAO", V::Flag, 1, true, false, "", "AF", kSituationAliases, "A: aberta; F: fechada"},
};
constexpr ImportColumn kLimSegFil[] = {
    {"CDFILIAL", V::Code, 4, true, true, "FILIAL", "", kBranchAliases, "filial"},
    {"CDPRODUTO", V::Code, 10, true, true, "PRODUTO", "", kProductAliases, "produto"},
    {"QTLIMITESEG", V::Quantity, 0, true, false, "", "", kLimitAliases,
     "limite de segurança do produto na filial"},
};
constexpr ImportColumn kParamOl[] = {
    {"CDFILIAL", V::Code, 4, true, true, "FILIAL", "", kBranchAliases, "filial"},
    {"CDPRODUTO", V::Code, 10, true, true, "PRODUTO", "", kProductAliases, "produto"},
    {"QTMULTIPLO", V::Quantity, 0, false, false, "", "", kMultipleAliases,
     "múltiplo de compra (vazio ou 0: nenhum)"},
    {"QTMINIMA", V::Quantity, 0, false, false, "", "", kMinimumAliases,
     "quantidade mínima de compra (opcional)"},
};
constexpr ImportColumn kSolicMp[] = {
    {"CDFILSOLI", V::Code, 4, true, true, "FILIAL", "", kRequestingAliases, "filial solicitante"},
    {"CDFILLANCA", V::Code, 4, true, true, "FILIAL", "", kLaunchingAliases,
     "filial que lançou a solicitação"},
    {"NRSOLICMP", V::Code, 10, true, true, "", "", kRequestAliases, "número da solicitação"},
    {"DTSOLICITACAO", V::Date, 0, false, false, "", "", kRequestDateAliases,
     "data da solicitação (opcional)"},
    {"DTENTREGA", V::Date, 0, true, false, "", "", kDeliveryAliases, "data de entrega"},
    {"CDOPERADOR", V::Code, 12, false, false, "OPERADOR", "", kOperatorAliases,
     "operador que fez a solicitação (opcional)"},
    {"NRITEM", V::Integer, 0, true, true, "", "", kItemAliases, "número do item na solicitação"},
    {"CDPRODUTO", V::Code, 10, true, false, "PRODUTO", "", kProductAliases, "produto"},
    {"QTSOLICITADA", V::Quantity, 0, true, false, "", "", kQuantityAliases,
     "quantidade solicitada (maior que zero)"},
};

constexpr ImportKind kKinds[] = {
    {"FILIAL", "FILIAL", false, false, kFilial,
     "0001;Central Compras São Paulo;N;SP;C;;15/12/2026"},
    {"OPERADOR", "OPERADOR", false, false, kOperador, "COMP001;Ana Souza"},
    {"COMPRADOR", "COMPRADOR", false, false, kComprador, "COMP001"},
    {"PRODUTO", "PRODUTO", false, false, kProduto,
     "0000000001;01.01.001.0001;Arroz tradicional 5 kg;COMP001;"},
    {"PARCMPSUP", "PARCMPSUP", false, false, kParCmpSup, "0001;N;30"},
    {"ESTOQUE", "ESTOQUE", true, false, kEstoque, "0001;0000000001;15/12/2026;120,5"},
    {"AUTFORN", "AUTFORN", true, false, kAutForn, "AF00000001;0000000001;0001;500;120;A"},
    {"LIMSEGFIL", "LIMSEGFIL", true, false, kLimSegFil, "0001;0000000001;40"},
    {"PARAMOL", "PARAMOL", true, false, kParamOl, "0001;0000000001;12;24"},
    {"SOLICMP", "ITSOLICMP", false, true, kSolicMp,
     "0001;0001;0000000001;10/12/2026;20/12/2026;COMP001;1;0000000001;36"},
};

bool isKindEnd(char c) {
    return c == '_' || c == '-' || c == '.' || c == ' ';
}

}  // namespace

std::span<const ImportKind> kinds() {
    return kKinds;
}

const ImportKind* findKind(std::string_view name) {
    for (const auto& k : kKinds) {
        if (k.name == name)
            return &k;
    }
    return nullptr;
}

std::string upperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

const ImportKind* kindOfFileName(std::string_view fileName) {
    const std::string upper = upperAscii(fileName.substr(0, fileName.rfind('.')));
    for (const auto& k : kKinds) {
        if (upper == k.name || (upper.starts_with(k.name) && isKindEnd(upper[k.name.size()])))
            return &k;
    }
    return nullptr;
}

int loadOrder(const ImportKind& k) {
    return static_cast<int>(&k - kKinds);
}

}  // namespace rqc::suitedb::import
