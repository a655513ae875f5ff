#include "screen/layout.h"

#include "screen/frm_consolida_solicita.h"

namespace rqc04100 {

namespace {

using K = ControlKind;
using F = FontKind;
using C = ColourKind;
using Form = TfrmConsolidaSolicita;

constexpr const char* kPesquisar = "Pesquisar";
constexpr const char* kSemFilial = "Não há filial cadastrada.";
constexpr std::array<const char*, 7> kNomeSemana = {"Domingo", "Segunda", "Terça", "Quarta",
                                                    "Quinta",  "Sexta",   "Sábado"};

}  // namespace

const FormLayout& formLayout() {
    static const FormLayout form = {
        .caption = "Consolidação de Solicitação",
        .font = FontKind::RegularSans11,
        .clientWidth = 535,
        .clientHeight = 350,
        .left = 297,
        .top = 221,
        .helpFile = "SupHelp.hlp",
        .helpContext = 12800100,
        .activeControl = "medCdFilial",
    };
    return form;
}

const std::vector<ControlRow>& layoutTable() {
    // clang-format off
    static const std::vector<ControlRow> table = {
    // name, kind, parent, tab, caption, box, font, colour, hint, start, details, events

    // Inherited controls this screen changes.
    {"lblCodTela", K::Inherited, "", -1, "RQC04100", {-1, -1, 52, -1}, F::Parent, C::Default, "", kStartDefault, {}, {}},
    {"grbDadosRel", K::Inherited, "", -1, nullptr, {-1, -1, 480, 350}, F::Parent, C::Default, "", kStartDefault, {}, {}},
    {"panMenu", K::Inherited, "", -1, nullptr, {480, -1, -1, 350}, F::Parent, C::Default, "", kStartDefault, {}, {}},
    // The button bar holds the preview below the confirm button; the help moves down.
    {"panBotoes", K::Inherited, "panMenu", -1, nullptr, {-1, -1, -1, 82}, F::Parent, C::Default, "", kStartDefault, {}, {}},
    {"panHelp", K::Inherited, "panMenu", -1, nullptr, {8, 96, -1, -1}, F::Parent, C::Default, "", kStartDefault, {}, {}},
    {"sbtHelp", K::Inherited, "panHelp", -1, nullptr, {2, 7, -1, -1}, F::Parent, C::Default, "", kStartDefault, {}, {}},
    {"sbtConfirma", K::Inherited, "panBotoes", -1, nullptr, {}, F::Parent, C::Default, "Consolidar Solicitações", kStartDefault,
        ButtonDetails{"confirma"},
        {OnClick(&Form::sbtConfirmaClick)}},
    {"sbtSimula", K::ButtonFlat, "panBotoes", -1, "", {2, 42, 35, 35}, F::Parent, C::Default, "Simular Consolidação, sem gravar (F6)", kStartDefault,
        ButtonDetails{"simula"},
        {OnClick(&Form::sbtSimulaClick)}},

    // Children of grbDadosRel.
    {"medCdFilial", K::MaskEdit, "grbDadosRel", 0, "", {49, 11, 52, 21}, F::Form, C::InfoBk, "", kStartDefault,
        MaskEditDetails{">aaaa;0; ", 4},
        {OnChange(&Form::medCdFilialChange), OnExit(&Form::medCdFilialExit)}},
    {"edtNmFilial", K::Edit, "grbDadosRel", 2, "", {127, 11, 348, 21}, F::Form, C::BtnFace, "", kDisabled | kNoTabStop, {}, {}, "Nome da filial"},
    {"grbFili", K::GroupBox, "grbDadosRel", 3, "Filial Solicitante", {4, 36, 111, 69}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"grbComp", K::GroupBox, "grbDadosRel", 4, "Comprador", {113, 36, 96, 69}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"grbDataEntr", K::GroupBox, "grbDadosRel", 5, "Data de Entrega", {207, 36, 269, 69}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"grbProduto", K::GroupBox, "grbDadosRel", 6, "Produto", {4, 105, 472, 69}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"grbConsEst", K::GroupBox, "grbDadosRel", 7, "", {4, 174, 472, 108}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"rdgConsSoli", K::RadioGroup, "grbDadosRel", 8, "Consolida Solicitações", {4, 285, 197, 57}, F::BoldSans11, C::WindowText, "", kStartDefault,
        RadioGroupDetails{{"Todas", "Não Consolidadas"}, 0}, {}},
    {"grbSolicit", K::GroupBox, "grbDadosRel", 9, "Solicitação", {199, 285, 99, 57}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"GroupBox1", K::GroupBox, "grbDadosRel", 10, "Considerar", {296, 285, 180, 57}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"lblFilial", K::Label, "grbDadosRel", -1, "Filial", {6, 14, 41, 13}, F::BoldSans11, C::WindowText, "", kStartDefault,
        LabelDetails{.focusControl = "medCdFilial"}, {}},
    {"btpFilial", K::BtnPesquisa, "grbDadosRel", -1, "", {102, 11, 21, 21}, F::Parent, C::Default, kPesquisar, kStartDefault,
        SearchButtonDetails{"pesquisa", "Filial", "dtsPesqFilial", "medCdFilial", kSemFilial},
        {OnBeforePesq(&Form::btpFilialBeforePesq), OnAfterPesq(&Form::btpFilialAfterPesq)}},

    // grbFili, "Filial Solicitante".
    {"rbtTodosFili", K::RadioButton, "grbFili", 0, "Todas", {6, 18, 56, 17}, F::Parent, C::Default, "", kChecked, {},
        {OnClick(&Form::rbtTodosFiliClick)}},
    {"rbtListaFili", K::RadioButton, "grbFili", 1, "Lista", {6, 43, 50, 17}, F::Parent, C::Default, "", kStartDefault, {},
        {OnClick(&Form::rbtListaFiliClick), OnKeyDown(&Form::rbtListaFiliKeyDown)}, nullptr, "F9 abre a lista de filiais."},
    {"sbtFilial", K::ButtonFlat, "grbFili", -1, "", {67, 40, 21, 21}, F::Parent, C::Default, kPesquisar, kDisabled,
        ButtonDetails{.glyph = "lista", .flat = true, .showHint = true},
        {OnClick(&Form::sbtFilialClick)}},

    // grbComp, "Comprador".
    {"sbtTodosComp", K::RadioButton, "grbComp", 0, "Todos", {6, 18, 56, 17}, F::Parent, C::Default, "", kChecked, {},
        {OnClick(&Form::sbtTodosCompClick)}},
    {"rbtListaComp", K::RadioButton, "grbComp", 1, "Lista", {6, 43, 50, 17}, F::Parent, C::Default, "", kStartDefault, {},
        {OnClick(&Form::rbtListaCompClick), OnKeyDown(&Form::rbtListaCompKeyDown)}, nullptr, "F9 abre a lista de compradores."},
    {"sbtComprador", K::ButtonFlat, "grbComp", -1, "", {66, 42, 21, 21}, F::Parent, C::Default, kPesquisar, kDisabled,
        ButtonDetails{.glyph = "lista", .flat = true, .showHint = true},
        {OnClick(&Form::sbtCompradorClick)}},

    // grbDataEntr, "Data de Entrega".
    {"depDataIni", K::DateEditPlus, "grbDataEntr", 0, "", {58, 15, 100, 21}, F::RegularSans12, C::InfoBk, "", kStartDefault,
        DateEditDetails{Qt::blue, false, kNomeSemana},
        {OnDateChange(&Form::depDataIniDateChange), OnExit(&Form::depDataIniExit)}},
    {"depDataFin", K::DateEditPlus, "grbDataEntr", 1, "", {58, 40, 100, 21}, F::RegularSans12, C::InfoBk, "", kStartDefault,
        DateEditDetails{Qt::blue, false, kNomeSemana},
        {OnDateChange(&Form::depDataFinDateChange), OnExit(&Form::depDataFinExit)}},
    {"edtDataFin", K::Edit, "grbDataEntr", 2, "", {162, 40, 102, 21}, F::RegularSans12, C::BtnFace, "", kDisabled | kNoTabStop, {}, {}, "Dia da semana da data final"},
    {"edtDataIni", K::Edit, "grbDataEntr", 3, "", {162, 15, 102, 21}, F::RegularSans12, C::BtnFace, "", kDisabled | kNoTabStop, {}, {}, "Dia da semana da data inicial"},
    {"lblDataInic", K::Label, "grbDataEntr", -1, "Inicial", {9, 18, 39, 13}, F::BoldSans11, C::WindowText, "", kStartDefault,
        LabelDetails{.focusControl = "depDataIni"}, {}},
    {"lblDataFina", K::Label, "grbDataEntr", -1, "Final", {9, 43, 39, 13}, F::BoldSans11, C::WindowText, "", kStartDefault,
        LabelDetails{.focusControl = "depDataFin"}, {}},

    // grbProduto, "Produto".
    {"medCdProdIni", K::MaskEdit, "grbProduto", 0, "", {58, 15, 100, 21}, F::RegularSans11, C::InfoBk, "", kStartDefault, {},
        {OnChange(&Form::medCdProdIniChange), OnExit(&Form::medCdProdIniExit)}},
    {"medCdProdfin", K::MaskEdit, "grbProduto", 1, "", {58, 40, 100, 21}, F::RegularSans11, C::InfoBk, "", kStartDefault, {},
        {OnChange(&Form::medCdProdfinChange), OnExit(&Form::medCdProdfinExit)}},
    {"edtNmProdIni", K::Edit, "grbProduto", 2, "", {189, 15, 278, 21}, F::RegularSans11, C::BtnFace, "", kDisabled, {}, {}, "Nome do produto inicial"},
    {"edtNmProdFin", K::Edit, "grbProduto", 3, "", {189, 40, 278, 21}, F::RegularSans11, C::BtnFace, "", kDisabled, {}, {}, "Nome do produto final"},
    {"lblCdProdIni", K::Label, "grbProduto", -1, "Inicial", {6, 18, 49, 13}, F::BoldSans11, C::WindowText, "", kStartDefault,
        LabelDetails{.focusControl = "medCdProdIni"}, {}},
    {"lblCdProdFin", K::Label, "grbProduto", -1, "Final", {6, 43, 49, 13}, F::BoldSans11, C::WindowText, "", kStartDefault,
        LabelDetails{.focusControl = "medCdProdfin"}, {}},
    {"BtnPesquisa3", K::BtnPesquisa, "grbProduto", -1, "", {163, 15, 21, 21}, F::Parent, C::Default, kPesquisar, kStartDefault,
        SearchButtonDetails{.glyph = "lista", .title = "Produto Inicial", .dataSource = "dtsProduto", .associate = "medCdProdIni", .pesqChave = true},
        {OnBeforePesq(&Form::BtnPesquisa3BeforePesq), OnAfterPesq(&Form::BtnPesquisa3AfterPesq)}},
    {"BtnPesquisa4", K::BtnPesquisa, "grbProduto", -1, "", {163, 40, 21, 21}, F::Parent, C::Default, kPesquisar, kStartDefault,
        SearchButtonDetails{.glyph = "lista", .title = "Produto Final", .dataSource = "dtsProduto", .associate = "medCdProdfin", .pesqChave = true},
        {OnBeforePesq(&Form::BtnPesquisa4BeforePesq), OnAfterPesq(&Form::BtnPesquisa4AfterPesq)}},

    // grbConsEst, no caption.
    {"chbConsEsto", K::CheckBox, "grbConsEst", 0, "Considera Estoque da Filial", {6, 18, 176, 17}, F::BoldSans11, C::WindowText, "", kStartDefault, {},
        {OnClick(&Form::chbConsEstoClick)}},
    {"medCdFilEst", K::MaskEdit, "grbConsEst", 1, "", {183, 15, 52, 21}, F::Form, C::InfoBk, "", kDisabled,
        MaskEditDetails{">aaaa;0; ", 4},
        {OnChange(&Form::medCdFilEstChange), OnExit(&Form::medCdFilEstExit)}, "Filial de estoque"},
    {"edtNmFilEst", K::Edit, "grbConsEst", 3, "", {260, 15, 207, 21}, F::Form, C::BtnFace, "", kDisabled | kNoTabStop, {}, {}, "Nome da filial de estoque"},
    {"chbProdOrig", K::CheckBox, "grbConsEst", 4, "Considera Produto Origem", {6, 51, 176, 17}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"chbLimiteSeg", K::CheckBox, "grbConsEst", 5, "Considera limite de segurança da filial centralizadora", {6, 69, 459, 17}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"chbParamOL", K::CheckBox, "grbConsEst", 6, "Considera Parametrização OL", {6, 87, 459, 17}, F::BoldSans11, C::WindowText, "", kStartDefault, {}, {}},
    {"btpFilEst", K::BtnPesquisa, "grbConsEst", -1, "", {236, 15, 21, 21}, F::Parent, C::Default, kPesquisar, kDisabled,
        SearchButtonDetails{"pesquisa", "Filial", "dtsPesqFilial", "medCdFilEst", kSemFilial},
        {OnBeforePesq(&Form::btpFilEstBeforePesq), OnAfterPesq(&Form::btpFilEstAfterPesq)}},
    {"Bevel1", K::Bevel, "grbConsEst", -1, "", {2, 15, 468, 29}, F::Parent, C::Default, "", kStartDefault,
        BevelDetails{TBevel::bsBottomLine}, {}},

    // grbSolicit, "Solicitação".
    {"rbtTodosSolicit", K::RadioButton, "grbSolicit", 0, "Todas", {6, 15, 56, 17}, F::Parent, C::Default, "", kChecked, {},
        {OnClick(&Form::rbtTodosSolicitClick)}},
    {"rbtListaSolicit", K::RadioButton, "grbSolicit", 1, "Lista", {6, 35, 50, 17}, F::Parent, C::Default, "", kStartDefault, {},
        {OnClick(&Form::rbtListaSolicitClick), OnKeyDown(&Form::rbtListaSolicitKeyDown)}, nullptr, "F9 abre a lista de solicitações."},
    {"sbtSolicitacao", K::ButtonFlat, "grbSolicit", -1, "", {71, 32, 21, 21}, F::Parent, C::Default, kPesquisar, kDisabled,
        ButtonDetails{.glyph = "lista", .flat = true, .showHint = true},
        {OnClick(&Form::sbtSolicitacaoClick)}},

    // GroupBox1, "Considerar".
    {"chkSolicitacao", K::CheckBox, "GroupBox1", 0, "Solicitação", {6, 23, 94, 17}, F::Parent, C::Default, "", kStartDefault, {}, {}},
    {"chkAF", K::CheckBox, "GroupBox1", 1, "AF", {112, 23, 46, 17}, F::Parent, C::Default, "", kStartDefault, {}, {}},

    // The progress panel, on the form above the filter group box.
    {"PanCalculando", K::Panel, "", -1, "", {102, 88, 300, 100}, F::Parent, C::Default, "", kHidden,
        PanelDetails{TPanel::bvLowered, 3}, {}},
    {"Panel4", K::Panel, "PanCalculando", -1, "", {5, 5, 290, 90}, F::Parent, C::Default, "", kStartDefault,
        {}, {}},
    {"lblMostraCalculo", K::Label, "Panel4", -1, "Processando Consolidação de Solicitações", {1, 1, 288, 88}, F::BoldSans12, C::WindowText, "", kStartDefault,
        LabelDetails{.alignment = Qt::AlignCenter, .wordWrap = true}, {}},
    {"anmCalculando", K::Animate, "Panel4", -1, "", {121, 27, 48, 50}, F::Parent, C::Default, "", kStartDefault,
        AnimateDetails{aviFindFile, 23, false}, {}},
    };
    // clang-format on
    return table;
}

}  // namespace rqc04100
