#include "screen/catalogue.h"

namespace rqc04100 {

const QStringList& catalogueLines() {
    static const QStringList lines = {
        QStringLiteral("Comprador|Comprador"),
        QStringLiteral("Filial|Filial"),
        QStringLiteral("NUM_MAIOR_ZERO|Percentual de acréssimo deve ser maior que zero."),
        QStringLiteral("FILI_NAO_INF|Filial solicitante deve ser informada."),
        QStringLiteral("COMP_NAO_INF|Comprador deve ser informado."),
        QStringLiteral("DATA_DEVE|Data de entrega inicial deve ser menor ou igual a data de "
                       "entrega final."),
        QStringLiteral("PROD_DEVE|Produto deve ser informado."),
        QStringLiteral("PROD_NAO_CAD|Produto não cadastrado."),
        QStringLiteral("FILI_PROC|Filial de processamento não possui central de compras "
                       "cadastrada."),
        QStringLiteral("NUM_GERADO|Solicitação consolidada foi gerada com o número "),
        QStringLiteral("NAO_GERADO|Não há dados para a consolidação de solicitações."),
        QStringLiteral("DtIni_N_Inf|Data de entrega inicial deve ser informada."),
        QStringLiteral("DtFin_N_Inf|Data de entrega final deve ser informada."),
        QStringLiteral("Fil_Vazia|Filial deve ser informada."),
        QStringLiteral("Fil_Inv|Filial não cadastrada."),
        QStringLiteral("CONT_RESC|Filial com contrato rescindido."),
        QStringLiteral("N_RegCad|Não há região cadastrada para filial informada."),
        QStringLiteral("N_ParCmp|Não  há parâmetros de compras para a filial."),
        QStringLiteral("Solicitacao|Solicitação"),
        QStringLiteral("SOLICIT_NAO_INF|Solicitação deve ser informada."),
        QStringLiteral("Recebe_Dad|Recebendo dados do servidor..."),
        QStringLiteral("Valida_Dad|Validando dados do servidor..."),
        QStringLiteral("Consoli_Dad|Consolidando solicitações no servidor..."),
        QStringLiteral("Solicita_NCad|Não há solicitação cadastrada para a filial solicitante "
                       "e/ou filial de lançamento informada."),
        QStringLiteral("ParamOL|Filial posicionada deve ser uma filial OL para considerar "
                       "parametrizaçao OL."),
    };
    return lines;
}

}  // namespace rqc04100
