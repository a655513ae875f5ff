#include "screen/layout.h"

namespace rqc04100 {

namespace {

using K = ControlKind;
using F = FontKind;
using C = ColourKind;

constexpr const char* kPesquisar = "Pesquisar";
constexpr const char* kSemFilial = "Não há filial cadastrada.";

}  // namespace

const FormSpec& formSpec() {
    static const FormSpec form = {
        .caption = "Consolidação de Solicitação",
        .font = FontKind::RegularSans11,
        .clientWidth = 535,
        .clientHeight = 350,
        .left = 297,
        .top = 221,
        .helpFile = "SupHelp.hlp",
        .helpContext = 12800100,
        .activeControl = "medCdFilial",
        .events = {{"OnCreate", "FormCreate"},
                   {"OnClose", "FormClose"},
                   {"OnActivate", "FormActivate"}},
    };
    return form;
}

const std::vector<ControlSpec>& layoutTable() {
    // clang-format off
    static const std::vector<ControlSpec> table = {
    // name, kind, parent, tab, caption, box, font, colour, hint, start, details, events

    // Inherited controls this screen changes.
    {"lblCodTela", K::Inherited, "", -1, "RQC04100", {-1, -1, 52, -1}, F::Parent, C::Default, "", kStartDefault, {}, {}},
    {"grbDadosRel", K::Inherited, "", -1, nullptr, {-1, -1, 480, 350}, F::Parent, C::Default, "", kStartDefault, {}, {}},
    {"panMenu", K::Inherited, "", -1, nullptr, {480, -1, -1, 350}, F::Parent, C::Default, "", kStartDefault, {}, {}},
    {"panHelp", K::Inherited, "panMenu", -1, nullptr, {8, 59, -1, -1}, F::Parent, C::Default, "", kStartDefault, {}, {}},
    {"sbtHelp", K::Inherited, "panHelp", -1, nullptr, {2, 7, -1, -1}, F::Parent, C::Default, "", kStartDefault, {}, {}},
    {"sbtConfirma", K::Inherited, "panBotoes", -1, nullptr, {}, F::Parent, C::Default, "Consolidar Solicitações", kStartDefault,
        {{"Glyph", "confirma"}},
        {{"OnClick", "sbtConfirmaClick"}}},

    // Children of grbDadosRel.
    {"medCdFilial", K::MaskEdit, "grbDadosRel", 0, "", {49, 11, 52, 21}, F::Form, C::InfoBk, "", kFollowsModuFili,
        {{"EditMask", ">aaaa;0; "}, {"MaxLength", "4"}},
        {{"OnChange", "medCdFilialChange"}, {"OnExit", "medCdFilialExit"}}},
    {"edtNmFilial", K::Edit, "grbDadosRel", 2, "", {127, 11, 348, 21}, F::Form, C::BtnFace, "", kDisabled | kNoTabStop, {}, {}},
    {"grbFili", K::GroupBox, "grbDadosRel", 3, "Filial Solicitante", {4, 36, 111, 69}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"grbComp", K::GroupBox, "grbDadosRel", 4, "Comprador", {113, 36, 96, 69}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"grbDataEntr", K::GroupBox, "grbDadosRel", 5, "Data de Entrega", {207, 36, 269, 69}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"grbProduto", K::GroupBox, "grbDadosRel", 6, "Produto", {4, 105, 472, 69}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"grbConsEst", K::GroupBox, "grbDadosRel", 7, "", {4, 174, 472, 108}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"rdgConsSoli", K::RadioGroup, "grbDadosRel", 8, "Consolida Solicitações", {4, 285, 197, 57}, F::BoldSans11, C::WindowText, "", kStartDefault,
        {{"Items", "Todas\nNão Consolidadas"}, {"ItemIndex", "0"}}, {}},
    {"grbSolicit", K::GroupBox, "grbDadosRel", 9, "Solicitação", {199, 285, 99, 57}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"GroupBox1", K::GroupBox, "grbDadosRel", 10, "Considerar", {296, 285, 180, 57}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"lblFilial", K::Label, "grbDadosRel", -1, "Filial", {6, 14, 41, 13}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"btpFilial", K::BtnPesquisa, "grbDadosRel", -1, "", {102, 11, 21, 21}, F::Parent, C::Default, kPesquisar, kFollowsModuFili,
        {{"Glyph", "pesquisa"}, {"Title", "Filial"}, {"DataSource", "dtsPesqFilial"}, {"Associate", "medCdFilial"}, {"EmptyError", kSemFilial}},
        {{"OnBeforePesq", "btpFilialBeforePesq"}, {"OnAfterPesq", "btpFilialAfterPesq"}}},

    // grbFili, "Filial Solicitante".
    {"rbtTodosFili", K::RadioButton, "grbFili", 0, "Todas", {6, 18, 56, 17}, F::Parent, C::Default, "", kChecked, {},
        {{"OnClick", "rbtTodosFiliClick"}}},
    {"rbtListaFili", K::RadioButton, "grbFili", 1, "Lista", {6, 43, 50, 17}, F::Parent, C::Default, "", kStartDefault, {},
        {{"OnClick", "rbtListaFiliClick"}, {"OnKeyDown", "rbtListaFiliKeyDown"}}},
    {"sbtFilial", K::ButtonFlat, "grbFili", -1, "", {67, 40, 21, 21}, F::Parent, C::Default, kPesquisar, kDisabled,
        {{"Glyph", "lista"}, {"Flat", "true"}, {"ShowHint", "true"}},
        {{"OnClick", "sbtFilialClick"}}},

    // grbComp, "Comprador".
    {"sbtTodosComp", K::RadioButton, "grbComp", 0, "Todos", {6, 18, 56, 17}, F::Parent, C::Default, "", kChecked, {},
        {{"OnClick", "sbtTodosCompClick"}}},
    {"rbtListaComp", K::RadioButton, "grbComp", 1, "Lista", {6, 43, 50, 17}, F::Parent, C::Default, "", kStartDefault, {},
        {{"OnClick", "rbtListaCompClick"}, {"OnKeyDown", "rbtListaCompKeyDown"}}},
    {"sbtComprador", K::ButtonFlat, "grbComp", -1, "", {66, 42, 21, 21}, F::Parent, C::Default, kPesquisar, kDisabled,
        {{"Glyph", "lista"}, {"Flat", "true"}, {"ShowHint", "true"}},
        {{"OnClick", "sbtCompradorClick"}}},

    // grbDataEntr, "Data de Entrega".
    {"depDataIni", K::DateEditPlus, "grbDataEntr", 0, "", {58, 15, 100, 21}, F::RegularSans12, C::InfoBk, "", kStartDefault,
        {{"ValidDateColor", "blue"}, {"SaveTime", "false"}, {"NomeSemana", "Domingo\nSegunda\nTerça\nQuarta\nQuinta\nSexta\nSábado"}},
        {{"OnDateChange", "depDataIniDateChange"}, {"OnExit", "depDataIniExit"}}},
    {"depDataFin", K::DateEditPlus, "grbDataEntr", 1, "", {58, 40, 100, 21}, F::RegularSans12, C::InfoBk, "", kStartDefault,
        {{"ValidDateColor", "blue"}, {"SaveTime", "false"}, {"NomeSemana", "Domingo\nSegunda\nTerça\nQuarta\nQuinta\nSexta\nSábado"}},
        {{"OnDateChange", "depDataFinDateChange"}, {"OnExit", "depDataFinExit"}}},
    {"edtDataFin", K::Edit, "grbDataEntr", 2, "", {162, 40, 102, 21}, F::RegularSans12, C::BtnFace, "", kDisabled | kNoTabStop, {}, {}},
    {"edtDataIni", K::Edit, "grbDataEntr", 3, "", {162, 15, 102, 21}, F::RegularSans12, C::BtnFace, "", kDisabled | kNoTabStop, {}, {}},
    {"lblDataInic", K::Label, "grbDataEntr", -1, "Inicial", {9, 18, 39, 13}, F::BoldSans11, C::WindowText, "", kStartDefault,
        {{"FocusControl", "depDataIni"}}, {}},
    {"lblDataFina", K::Label, "grbDataEntr", -1, "Final", {9, 43, 39, 13}, F::BoldSans11, C::WindowText, "", kStartDefault,
        {{"FocusControl", "depDataFin"}}, {}},

    // grbProduto, "Produto".
    {"medCdProdIni", K::MaskEdit, "grbProduto", 0, "", {58, 15, 100, 21}, F::RegularSans11, C::InfoBk, "", kStartDefault, {},
        {{"OnChange", "medCdProdIniChange"}, {"OnExit", "medCdProdIniExit"}}},
    {"medCdProdfin", K::MaskEdit, "grbProduto", 1, "", {58, 40, 100, 21}, F::RegularSans11, C::InfoBk, "", kStartDefault, {},
        {{"OnChange", "medCdProdfinChange"}, {"OnExit", "medCdProdfinExit"}}},
    {"edtNmProdIni", K::Edit, "grbProduto", 2, "", {189, 15, 278, 21}, F::RegularSans11, C::BtnFace, "", kDisabled, {}, {}},
    {"edtNmProdFin", K::Edit, "grbProduto", 3, "", {189, 40, 278, 21}, F::RegularSans11, C::BtnFace, "", kDisabled, {}, {}},
    {"lblCdProdIni", K::Label, "grbProduto", -1, "Inicial", {6, 18, 49, 13}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"lblCdProdFin", K::Label, "grbProduto", -1, "Final", {6, 43, 49, 13}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"BtnPesquisa3", K::BtnPesquisa, "grbProduto", -1, "", {163, 15, 21, 21}, F::Parent, C::Default, kPesquisar, kStartDefault,
        {{"Glyph", "lista"}, {"Title", "Produto Inicial"}, {"DataSource", "dtsProduto"}, {"Associate", "medCdProdIni"}, {"PesqChave", "true"}},
        {{"OnBeforePesq", "BtnPesquisa3BeforePesq"}, {"OnAfterPesq", "BtnPesquisa3AfterPesq"}}},
    {"BtnPesquisa4", K::BtnPesquisa, "grbProduto", -1, "", {163, 40, 21, 21}, F::Parent, C::Default, kPesquisar, kStartDefault,
        {{"Glyph", "lista"}, {"Title", "Produto Final"}, {"DataSource", "dtsProduto"}, {"Associate", "medCdProdfin"}, {"PesqChave", "true"}},
        {{"OnBeforePesq", "BtnPesquisa4BeforePesq"}, {"OnAfterPesq", "BtnPesquisa4AfterPesq"}}},

    // grbConsEst, no caption.
    {"chbConsEsto", K::CheckBox, "grbConsEst", 0, "Considera Estoque da Filial", {6, 18, 176, 17}, F::BoldSans11, C::WindowText, "", kStartDefault, {},
        {{"OnClick", "chbConsEstoClick"}}},
    {"medCdFilEst", K::MaskEdit, "grbConsEst", 1, "", {183, 15, 52, 21}, F::Form, C::InfoBk, "", kDisabled,
        {{"EditMask", ">aaaa;0; "}, {"MaxLength", "4"}},
        {{"OnChange", "medCdFilEstChange"}, {"OnExit", "medCdFilEstExit"}}},
    {"edtNmFilEst", K::Edit, "grbConsEst", 3, "", {260, 15, 207, 21}, F::Form, C::BtnFace, "", kDisabled | kNoTabStop, {}, {}},
    {"chbProdOrig", K::CheckBox, "grbConsEst", 4, "Considera Produto Origem", {6, 51, 176, 17}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"chbLimiteSeg", K::CheckBox, "grbConsEst", 5, "Considera limite de segurança da filial centralizadora", {6, 69, 459, 17}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"chbParamOL", K::CheckBox, "grbConsEst", 6, "Considera Parametrização OL", {6, 87, 459, 17}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"btpFilEst", K::BtnPesquisa, "grbConsEst", -1, "", {236, 15, 21, 21}, F::Parent, C::Default, kPesquisar, kDisabled,
        {{"Glyph", "pesquisa"}, {"Title", "Filial"}, {"DataSource", "dtsPesqFilial"}, {"Associate", "medCdFilEst"}, {"EmptyError", kSemFilial}},
        {{"OnBeforePesq", "btpFilEstBeforePesq"}, {"OnAfterPesq", "btpFilEstAfterPesq"}}},
    {"Bevel1", K::Bevel, "grbConsEst", -1, "", {2, 15, 468, 29}, F::Parent, C::Default, "", kStartDefault,
        {{"Align", "alTop"}, {"Shape", "bsBottomLine"}}, {}},

    // grbSolicit, "Solicitação".
    {"rbtTodosSolicit", K::RadioButton, "grbSolicit", 0, "Todas", {6, 15, 56, 17}, F::Parent, C::Default, "", kChecked, {},
        {{"OnClick", "rbtTodosSolicitClick"}}},
    {"rbtListaSolicit", K::RadioButton, "grbSolicit", 1, "Lista", {6, 35, 50, 17}, F::Parent, C::Default, "", kStartDefault, {},
        {{"OnClick", "rbtListaSolicitClick"}, {"OnKeyDown", "rbtListaSolicitKeyDown"}}},
    {"sbtSolicitacao", K::ButtonFlat, "grbSolicit", -1, "", {71, 32, 21, 21}, F::Parent, C::Default, kPesquisar, kDisabled,
        {{"Glyph", "lista"}, {"Flat", "true"}, {"ShowHint", "true"}},
        {{"OnClick", "sbtSolicitacaoClick"}}},

    // GroupBox1, "Considerar".
    {"chkSolicitacao", K::CheckBox, "GroupBox1", 0, "Solicitação", {6, 23, 94, 17}, F::Parent, C::Default, "", kStartDefault, {}, {}},
    {"chkAF", K::CheckBox, "GroupBox1", 1, "AF", {112, 23, 46, 17}, F::Parent, C::Default, "", kStartDefault, {}, {}},

    // The progress panel, on the form above the filter group box.
    {"PanCalculando", K::Panel, "", -1, "", {102, 88, 300, 100}, F::Parent, C::Default, "", kHidden,
        {{"BevelInner", "bvLowered"}, {"BorderWidth", "3"}}, {}},
    {"Panel4", K::Panel, "PanCalculando", -1, "", {5, 5, 290, 90}, F::Parent, C::Default, "", kStartDefault,
        {{"Align", "alClient"}}, {}},
    {"lblMostraCalculo", K::Label, "Panel4", -1, "Processando Consolidação de Solicitações", {1, 1, 288, 88}, F::BoldSans12, C::WindowText, "", kStartDefault,
        {{"Align", "alClient"}, {"Alignment", "taCenter"}, {"WordWrap", "true"}}, {}},
    {"anmCalculando", K::Animate, "Panel4", -1, "", {121, 27, 48, 50}, F::Parent, C::Default, "", kStartDefault,
        {{"CommonAVI", "aviFindFile"}, {"StopFrame", "23"}, {"Active", "false"}}, {}},
    };
    // clang-format on
    return table;
}

const std::vector<const char*>& handlerNames() {
    static const std::vector<const char*> names = {
        "FormCreate",
        "FormClose",
        "FormActivate",
        "rbtTodosFiliClick",
        "rbtListaFiliClick",
        "rbtListaFiliKeyDown",
        "sbtFilialClick",
        "sbtTodosCompClick",
        "rbtListaCompClick",
        "rbtListaCompKeyDown",
        "sbtCompradorClick",
        "rbtTodosSolicitClick",
        "rbtListaSolicitClick",
        "rbtListaSolicitKeyDown",
        "medCdFilialChange",
        "medCdFilialExit",
        "btpFilialBeforePesq",
        "btpFilialAfterPesq",
        "chbConsEstoClick",
        "medCdFilEstChange",
        "medCdFilEstExit",
        "btpFilEstBeforePesq",
        "btpFilEstAfterPesq",
        "depDataIniDateChange",
        "depDataIniExit",
        "depDataFinDateChange",
        "depDataFinExit",
        "medCdProdIniChange",
        "medCdProdIniExit",
        "medCdProdfinChange",
        "medCdProdfinExit",
        "BtnPesquisa3BeforePesq",
        "BtnPesquisa3AfterPesq",
        "BtnPesquisa4BeforePesq",
        "BtnPesquisa4AfterPesq",
        "netConsolidaSolicitaBeforeConnect",
        "sbtSolicitacaoClick",
        "sbtConfirmaClick",
    };
    return names;
}

}  // namespace rqc04100
