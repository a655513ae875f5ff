#include "screen/components.h"

#include "screen/frm_consolida_solicita.h"

namespace rqc04100 {

namespace {

QueryDefinition makeCentComp() {
    QueryDefinition q;
    q.name = QStringLiteral("qryCentComp");
    q.sql = {
        QStringLiteral("SELECT"),
        QStringLiteral(
            "  CAST(NVLSTR(FILIAL.CDFILCENTCMP, FILIAL.CDFILIAL) AS VARCHAR(4)) AS CDFILCENTCMP,"),
        QStringLiteral("  FILCENT.NMFILIAL AS NMFILIAL_CENTRAL"),
        QStringLiteral("FROM "),
        QStringLiteral("  FILIAL FILCENT,"),
        QStringLiteral("  FILIAL "),
        QStringLiteral("WHERE"),
        QStringLiteral("  FILIAL.CDFILIAL = :P_CDFILIAL AND"),
        QStringLiteral("  NVLSTR(FILIAL.CDFILCENTCMP, FILIAL.CDFILIAL) = FILCENT.CDFILIAL"),
    };
    q.sqlOracle = q.sql;
    q.sqlOracle[1] = QStringLiteral("  NVL(FILIAL.CDFILCENTCMP, FILIAL.CDFILIAL) AS CDFILCENTCMP,");
    q.sqlOracle[8] =
        QStringLiteral("  NVL(FILIAL.CDFILCENTCMP, FILIAL.CDFILIAL) = FILCENT.CDFILIAL");
    q.sqlMssql = q.sql;
    q.sqlMssql[1] =
        QStringLiteral("  ISNULL(FILIAL.CDFILCENTCMP, FILIAL.CDFILIAL)  AS CDFILCENTCMP,");
    q.sqlMssql[8] =
        QStringLiteral("  ISNULL(FILIAL.CDFILCENTCMP, FILIAL.CDFILIAL) = FILCENT.CDFILIAL");
    q.sqlIb = q.sql;
    q.sqlIb[3] = QStringLiteral("FROM");
    q.sqlIb[5] = QStringLiteral("  FILIAL");
    q.fields = {
        {QStringLiteral("CDFILCENTCMP"), 4, QStringLiteral("Código"), 8, false, true, {}},
        {QStringLiteral("NMFILIAL_CENTRAL"), 30, QStringLiteral("Nome"), 0, false, true, {}},
    };
    return q;
}

QueryDefinition makePesqFilial() {
    QueryDefinition q;
    q.name = QStringLiteral("qryPesqFilial");
    q.sql = {
        QStringLiteral("SELECT"),
        QStringLiteral("   CDFILIAL,"),
        QStringLiteral("   NMFILIAL,"),
        QStringLiteral("   IDCNTRRESC,"),
        QStringLiteral("   CDREGIAO,"),
        QStringLiteral("   IDFUNCAOFILI"),
        QStringLiteral("FROM"),
        QStringLiteral("   FILIAL"),
        QStringLiteral("WHERE"),
        QStringLiteral("   (CDFILIAL = :P_CDFILIAL OR :P_TCDFILIAL = 'T')"),
        QStringLiteral("ORDER BY "),
        QStringLiteral("   CDFILIAL"),
        QStringLiteral(" "),
    };
    q.fields = {
        {QStringLiteral("CDFILIAL"), 4, QStringLiteral("Código"), 8, true, true, {}},
        {QStringLiteral("NMFILIAL"), 30, QStringLiteral("Nome"), 0, false, true, {}},
        {QStringLiteral("IDCNTRRESC"), 1, {}, 0, false, false, {}},
        {QStringLiteral("CDREGIAO"), 3, {}, 0, false, false, {}},
        {QStringLiteral("IDFUNCAOFILI"), 1, {}, 0, false, false, {}},
    };
    return q;
}

QueryDefinition makeProduto() {
    QueryDefinition q;
    q.name = QStringLiteral("qryProduto");
    q.sql = {
        QStringLiteral("SELECT"),
        QStringLiteral("   CDPRODUTO,"),
        QStringLiteral("   CDARVPROD,"),
        QStringLiteral("   NMPRODUTO"),
        QStringLiteral("FROM"),
        QStringLiteral("   PRODUTO"),
        QStringLiteral("WHERE"),
        QStringLiteral("   (CDARVPROD = :P_CDARVPROD OR :P_TCDARVPROD = 'T')"),
        QStringLiteral("ORDER BY CDARVPROD"),
    };
    q.fields = {
        {QStringLiteral("CDPRODUTO"), 10, {}, 0, true, false, {}},
        {QStringLiteral("CDARVPROD"), 20, QStringLiteral("Código"), 0, false, true, {}},
        {QStringLiteral("NMPRODUTO"), 50, QStringLiteral("Nome"), 0, false, true, {}},
    };
    return q;
}

QueryDefinition makeComprador() {
    QueryDefinition q;
    q.name = QStringLiteral("qryComprador");
    q.sql = {
        QStringLiteral("SELECT"),
        QStringLiteral("  COM.CDOPERADOR,"),
        QStringLiteral("  OPE.NMOPERADOR"),
        QStringLiteral("FROM"),
        QStringLiteral("  COMPRADOR COM,"),
        QStringLiteral("  OPERADOR OPE"),
        QStringLiteral("WHERE"),
        QStringLiteral("  (COM.CDOPERADOR = OPE.CDOPERADOR)"),
        QStringLiteral("ORDER BY"),
        QStringLiteral("   COM.CDOPERADOR"),
    };
    q.fields = {
        {QStringLiteral("CDOPERADOR"), 12, QStringLiteral("Código"), 0, true, true, {}},
        {QStringLiteral("NMOPERADOR"), 40, QStringLiteral("Nome"), 0, false, true, {}},
    };
    return q;
}

}  // namespace

const QueryDefinition& qryCentCompDefinition() {
    static const QueryDefinition def = makeCentComp();
    return def;
}

const QueryDefinition& qryPesqFilialDefinition() {
    static const QueryDefinition def = makePesqFilial();
    return def;
}

const QueryDefinition& qryProdutoDefinition() {
    static const QueryDefinition def = makeProduto();
    return def;
}

const QueryDefinition& qryCompradorDefinition() {
    static const QueryDefinition def = makeComprador();
    return def;
}

const ClientDataSetDefinition& cdsSolicitacaoDefinition() {
    static const ClientDataSetDefinition def = {
        QStringLiteral("cdsSolicitacao"),
        {
            {QStringLiteral("IDMARCADO"), 1, {}, 0, false, true, {}},
            {QStringLiteral("CHAVE"), 18, {}, 0, false, false, {}},
            {QStringLiteral("CDFILSOLI"),
             4,
             QStringLiteral("Filial Solicitante"),
             0,
             false,
             true,
             {}},
            {QStringLiteral("CDFILLANCA"),
             4,
             QStringLiteral("Filial de Lançamento"),
             0,
             false,
             true,
             {}},
            {QStringLiteral("NRSOLICMP"), 10, QStringLiteral("N° Solicitação"), 0, false, true, {}},
        }};
    return def;
}

const ClientDataSetDefinition& cdsParaCmpSupDefinition() {
    static const ClientDataSetDefinition def = {QStringLiteral("cdsParaCmpSup"),
                                                {{QStringLiteral("IDUTPRODPREF"),
                                                  1,
                                                  {},
                                                  0,
                                                  false,
                                                  true,
                                                  QStringLiteral("PARCMPSUP.IDUTPRODPREF")}}};
    return def;
}

const std::vector<DataSourceLink>& dataSourceLinks() {
    static const std::vector<DataSourceLink> all = {
        {QStringLiteral("dtsPesqFilial"), QStringLiteral("qryPesqFilial")},
        {QStringLiteral("dtsComprador"), QStringLiteral("qryComprador")},
        {QStringLiteral("dtsProduto"), QStringLiteral("qryProduto")},
        {QStringLiteral("dtsSolicitacao"), QStringLiteral("cdsSolicitacao")},
    };
    return all;
}

const ConnectionDefinition& netConsolidaSolicitaDefinition() {
    static const ConnectionDefinition def = {
        QStringLiteral("netConsolidaSolicita"), QStringLiteral("Rqc04100.rdmConsolidaSolicita"),
        false, &TfrmConsolidaSolicita::netConsolidaSolicitaBeforeConnect};
    return def;
}

}  // namespace rqc04100
