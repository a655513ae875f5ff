// The screen's statements letter for letter, its catalogue, and its queries run against a real
// demo database.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "screen/catalogue.h"
#include "screen/components.h"
#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"
#include "support/qt_fixture.h"

using namespace rqc04100;

namespace {

QStringList lines(std::initializer_list<const char*> l) {
    QStringList out;
    for (const char* s : l)
        out << QString::fromUtf8(s);
    return out;
}

// The ":NAME" parameters of the query's generic text, as the query component finds them.
QStringList paramsOf(const QueryDefinition& def) {
    TADOIBQuery q;
    q.SQL = def.sql;
    return q.ParamNames();
}

TEST(CentralBranchQuery, CarriesItsFourTextsLetterForLetter) {
    const QStringList generic = lines({
        "SELECT",
        "  CAST(NVLSTR(FILIAL.CDFILCENTCMP, FILIAL.CDFILIAL) AS VARCHAR(4)) AS CDFILCENTCMP,",
        "  FILCENT.NMFILIAL AS NMFILIAL_CENTRAL",
        "FROM ",
        "  FILIAL FILCENT,",
        "  FILIAL ",
        "WHERE",
        "  FILIAL.CDFILIAL = :P_CDFILIAL AND",
        "  NVLSTR(FILIAL.CDFILCENTCMP, FILIAL.CDFILIAL) = FILCENT.CDFILIAL",
    });
    QStringList oracle = generic;
    oracle[1] = "  NVL(FILIAL.CDFILCENTCMP, FILIAL.CDFILIAL) AS CDFILCENTCMP,";
    oracle[8] = "  NVL(FILIAL.CDFILCENTCMP, FILIAL.CDFILIAL) = FILCENT.CDFILIAL";
    QStringList mssql = generic;
    mssql[1] = "  ISNULL(FILIAL.CDFILCENTCMP, FILIAL.CDFILIAL)  AS CDFILCENTCMP,";
    mssql[8] = "  ISNULL(FILIAL.CDFILCENTCMP, FILIAL.CDFILIAL) = FILCENT.CDFILIAL";
    QStringList ib = generic;
    ib[3] = "FROM";
    ib[5] = "  FILIAL";

    const QueryDefinition& q = qryCentCompDefinition();
    EXPECT_EQ(q.sql, generic);
    EXPECT_EQ(q.sqlOracle, oracle);
    EXPECT_EQ(q.sqlMssql, mssql);
    EXPECT_EQ(q.sqlIb, ib);
    ASSERT_EQ(q.fields.size(), 2u);
    EXPECT_EQ(q.fields[0].name, "CDFILCENTCMP");
    EXPECT_EQ(q.fields[0].size, 4);
    EXPECT_EQ(q.fields[0].label, QString::fromUtf8("Código"));
    EXPECT_EQ(q.fields[0].displayWidth, 8);
    EXPECT_EQ(q.fields[1].name, "NMFILIAL_CENTRAL");
    EXPECT_EQ(q.fields[1].size, 30);
}

TEST(LookUpQueries, CarryTheirTextsLetterForLetter) {
    struct Case {
        const QueryDefinition& def;
        QStringList text;
        QStringList params;
    };
    const Case cases[] = {
        {qryCompradorDefinition(),
         lines({"SELECT", "  COM.CDOPERADOR,", "  OPE.NMOPERADOR", "FROM", "  COMPRADOR COM,",
                "  OPERADOR OPE", "WHERE", "  (COM.CDOPERADOR = OPE.CDOPERADOR)", "ORDER BY",
                "   COM.CDOPERADOR"}),
         {}},
        {qryProdutoDefinition(),
         lines({"SELECT", "   CDPRODUTO,", "   CDARVPROD,", "   NMPRODUTO", "FROM", "   PRODUTO",
                "WHERE", "   (CDARVPROD = :P_CDARVPROD OR :P_TCDARVPROD = 'T')",
                "ORDER BY CDARVPROD"}),
         lines({"P_CDARVPROD", "P_TCDARVPROD"})},
        {qryPesqFilialDefinition(),
         lines({"SELECT", "   CDFILIAL,", "   NMFILIAL,", "   IDCNTRRESC,", "   CDREGIAO,",
                "   IDFUNCAOFILI", "FROM", "   FILIAL", "WHERE",
                "   (CDFILIAL = :P_CDFILIAL OR :P_TCDFILIAL = 'T')", "ORDER BY ", "   CDFILIAL",
                " "}),
         lines({"P_CDFILIAL", "P_TCDFILIAL"})},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.def.sql, c.text) << c.def.name.toStdString();
        EXPECT_TRUE(c.def.sqlIb.isEmpty()) << "generic text only";
        EXPECT_EQ(paramsOf(c.def), c.params) << c.def.name.toStdString();
    }
}

TEST(DataSetFields, AreDeclaredWithLabelsSizesAndVisibility) {
    struct Case {
        const std::vector<FieldDefinition>& fields;
        const char* name;
        int size;
        const char* label;
        bool required;
        bool visible;
    };
    const Case cases[] = {
        {qryPesqFilialDefinition().fields, "CDFILIAL", 4, "Código", true, true},
        {qryPesqFilialDefinition().fields, "NMFILIAL", 30, "Nome", false, true},
        {qryPesqFilialDefinition().fields, "IDCNTRRESC", 1, "", false, false},
        {qryPesqFilialDefinition().fields, "CDREGIAO", 3, "", false, false},
        {qryPesqFilialDefinition().fields, "IDFUNCAOFILI", 1, "", false, false},
        {qryProdutoDefinition().fields, "CDPRODUTO", 10, "", true, false},
        {qryProdutoDefinition().fields, "CDARVPROD", 20, "Código", false, true},
        {qryProdutoDefinition().fields, "NMPRODUTO", 50, "Nome", false, true},
        {qryCompradorDefinition().fields, "CDOPERADOR", 12, "Código", true, true},
        {qryCompradorDefinition().fields, "NMOPERADOR", 40, "Nome", false, true},
        {cdsSolicitacaoDefinition().fields, "IDMARCADO", 1, "", false, true},
        {cdsSolicitacaoDefinition().fields, "CHAVE", 18, "", false, false},
        {cdsSolicitacaoDefinition().fields, "CDFILSOLI", 4, "Filial Solicitante", false, true},
        {cdsSolicitacaoDefinition().fields, "CDFILLANCA", 4, "Filial de Lançamento", false, true},
        {cdsSolicitacaoDefinition().fields, "NRSOLICMP", 10, "N° Solicitação", false, true},
        {cdsParaCmpSupDefinition().fields, "IDUTPRODPREF", 1, "", false, true},
    };
    for (const Case& c : cases) {
        auto it = std::find_if(c.fields.begin(), c.fields.end(),
                               [&](const FieldDefinition& f) { return f.name == c.name; });
        ASSERT_NE(it, c.fields.end()) << c.name;
        EXPECT_EQ(it->size, c.size) << c.name;
        EXPECT_EQ(it->label, QString::fromUtf8(c.label)) << c.name;
        EXPECT_EQ(it->required, c.required) << c.name;
        EXPECT_EQ(it->visible, c.visible) << c.name;
    }
    EXPECT_EQ(cdsParaCmpSupDefinition().fields.at(0).origin, "PARCMPSUP.IDUTPRODPREF");
}

TEST(Catalogue, HoldsItsTwentyFiveLinesInOrderWithBlanksKept) {
    const QStringList& catalogue = catalogueLines();
    const char* keys[] = {
        "Comprador",  "Filial",      "NUM_MAIOR_ZERO", "FILI_NAO_INF",  "COMP_NAO_INF",
        "DATA_DEVE",  "PROD_DEVE",   "PROD_NAO_CAD",   "FILI_PROC",     "NUM_GERADO",
        "NAO_GERADO", "DtIni_N_Inf", "DtFin_N_Inf",    "Fil_Vazia",     "Fil_Inv",
        "CONT_RESC",  "N_RegCad",    "N_ParCmp",       "Solicitacao",   "SOLICIT_NAO_INF",
        "Recebe_Dad", "Valida_Dad",  "Consoli_Dad",    "Solicita_NCad", "ParamOL"};
    ASSERT_EQ(catalogue.size(), 25);
    for (int i = 0; i < 25; ++i) {
        EXPECT_EQ(catalogue[i].section('|', 0, 0), keys[i]) << "line " << i;
    }
    rqc::test::application();
    TMessages messages;
    messages.SetLines(catalogue);
    struct Case {
        const char* key;
        const char* text;
    };
    const Case texts[] = {
        {"NUM_GERADO", "Solicitação consolidada foi gerada com o número "},
        {"N_ParCmp", "Não  há parâmetros de compras para a filial."},
        {"FILI_PROC", "Filial de processamento não possui central de compras cadastrada."},
        {"NUM_MAIOR_ZERO", "Percentual de acréssimo deve ser maior que zero."},
        {"ParamOL", "Filial posicionada deve ser uma filial OL para considerar parametrizaçao OL."},
        {"Solicita_NCad",
         "Não há solicitação cadastrada para a filial solicitante e/ou filial de lançamento "
         "informada."},
        {"Consoli_Dad", "Consolidando solicitações no servidor..."},
        {"Comprador", "Comprador"},
    };
    for (const Case& c : texts)
        EXPECT_EQ(messages.Msg(c.key), QString::fromUtf8(c.text)) << c.key;
}

// The look-up statements run as written on the demo database.
TEST(LookUpQueries, RunOnTheDemoDatabase) {
    rqc::test::application();
    QTemporaryDir dir;
    const QString path = dir.filePath("suite.db");
    auto today = rqc::suitedb::localToday();
    {
        auto db = rqc::suitedb::Connection::open(path.toStdString());
        rqc::suitedb::applySchema(*db);
        rqc::suitedb::loadDemo(*db, today);
    }
    const rqc::suitedb::MasterData demo = rqc::suitedb::demoMasterData(today);
    vlm::HostConfig config;
    config.dbPath = path;
    TdtmDBGeral module;
    module.Open(config);

    auto run = [&](const QueryDefinition& def, std::vector<std::pair<QString, QString>> params) {
        auto q = std::make_unique<TADOIBQuery>();
        q->Connection = &module;
        q->SQL = def.sql;
        for (const FieldDefinition& f : def.fields)
            q->AddField(f.name, f.size);
        for (auto& [name, value] : params)
            q->ParamByName(name)->SetAsString(value);
        q->Open();
        return q;
    };

    auto branches = run(qryPesqFilialDefinition(), {{"P_CDFILIAL", ""}, {"P_TCDFILIAL", "T"}});
    EXPECT_EQ(branches->RecordCount(), static_cast<int>(demo.branches.size()));
    auto one = run(qryPesqFilialDefinition(), {{"P_CDFILIAL", "0009"}, {"P_TCDFILIAL", ""}});
    ASSERT_EQ(one->RecordCount(), 1);
    EXPECT_EQ(one->FieldByName("IDCNTRRESC")->AsString(), "S");

    auto products = run(qryProdutoDefinition(), {{"P_CDARVPROD", ""}, {"P_TCDARVPROD", "T"}});
    EXPECT_EQ(products->RecordCount(), static_cast<int>(demo.products.size()));
    const auto& p = demo.products.at(7);
    auto product = run(qryProdutoDefinition(),
                       {{"P_CDARVPROD", QString::fromStdString(p.tree)}, {"P_TCDARVPROD", "N"}});
    ASSERT_EQ(product->RecordCount(), 1);
    EXPECT_EQ(product->FieldByName("CDPRODUTO")->AsString(), QString::fromStdString(p.code));

    auto buyers = run(qryCompradorDefinition(), {});
    long expectedBuyers = std::count_if(demo.operators.begin(), demo.operators.end(),
                                        [](const auto& o) { return o.buyer; });
    EXPECT_EQ(buyers->RecordCount(), expectedBuyers);
}

}  // namespace
