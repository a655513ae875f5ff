// The fresh screen as the layout table builds it: controls, start states, tab sequence,
// event wiring, the branch-code edit, and a screenshot.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMdiSubWindow>
#include <QSet>
#include <QTest>
#include <cstring>

#include "demo_suite_fixture.h"
#include "filter_state.h"
#include "module/module.h"
#include "screen/components.h"
#include "screen/frm_consolida_solicita.h"
#include "screen/layout.h"
#include "screen/layout_builder.h"
#include "support/qt_fixture.h"

using rqc::test::DemoSuite;
using rqc::test::HostWindow;
using rqc::test::settle;
using rqc04100::test::filterState;

namespace {

class FreshScreen : public rqc04100::test::DemoSuiteFixture {
  protected:
    void SetUp() override {
        host = std::make_unique<HostWindow>(suite->config("0002"));
        IniProc();
        ASSERT_NE(frmConsolidaSolicita, nullptr);
        form = frmConsolidaSolicita;
        settle();
    }
    void TearDown() override { host.reset(); }

    std::unique_ptr<HostWindow> host;
    TfrmConsolidaSolicita* form = nullptr;
};

// Whether the control's slot of `event` holds a handler.
bool hasHandler(QWidget* w, rqc04100::Event event) {
    using rqc04100::Event;
    auto* events = dynamic_cast<TControlEvents*>(w);
    switch (event) {
        case Event::OnChange:
            if (auto* m = qobject_cast<TMaskEdit*>(w))
                return m->OnChange != nullptr;
            return false;
        case Event::OnExit:
            return events != nullptr && events->OnExit != nullptr;
        case Event::OnKeyDown:
            return events != nullptr && events->OnKeyDown != nullptr;
        case Event::OnClick:
            if (auto* r = qobject_cast<TRadioButton*>(w))
                return r->OnClick != nullptr;
            if (auto* c = qobject_cast<TCheckBox*>(w))
                return c->OnClick != nullptr;
            if (auto* b = qobject_cast<TButtonFlat*>(w))
                return b->OnClick != nullptr;
            return false;
        case Event::OnDateChange:
            if (auto* d = qobject_cast<TDateEditPlus*>(w))
                return d->OnDateChange != nullptr;
            return false;
        case Event::OnBeforePesq:
            if (auto* b = qobject_cast<TBtnPesquisa*>(w))
                return b->OnBeforePesq != nullptr;
            return false;
        case Event::OnAfterPesq:
            if (auto* b = qobject_cast<TBtnPesquisa*>(w))
                return b->OnAfterPesq != nullptr;
            return false;
    }
    return false;
}

bool isChecked(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->isChecked();
    return false;
}

TEST_F(FreshScreen, ControlsStartInTheirStartStates) {
    struct Expect {
        const char* control;
        bool enabled;
        bool visible;
        bool checked;
    };
    const Expect expected[] = {
        {"medCdFilial", true, true, false},     {"btpFilial", true, true, false},
        {"edtNmFilial", false, true, false},    {"rbtTodosFili", true, true, true},
        {"rbtListaFili", true, true, false},    {"sbtFilial", false, true, false},
        {"sbtTodosComp", true, true, true},     {"rbtListaComp", true, true, false},
        {"sbtComprador", false, true, false},   {"depDataIni", true, true, false},
        {"depDataFin", true, true, false},      {"edtDataIni", false, true, false},
        {"edtDataFin", false, true, false},     {"medCdProdIni", true, true, false},
        {"medCdProdfin", true, true, false},    {"edtNmProdIni", false, true, false},
        {"edtNmProdFin", false, true, false},   {"BtnPesquisa3", true, true, false},
        {"BtnPesquisa4", true, true, false},    {"chbConsEsto", true, true, false},
        {"medCdFilEst", false, true, false},    {"btpFilEst", false, true, false},
        {"edtNmFilEst", false, true, false},    {"chbProdOrig", true, true, false},
        {"chbLimiteSeg", true, true, false},    {"chbParamOL", true, true, false},
        {"rbtTodosSolicit", true, true, true},  {"rbtListaSolicit", true, true, false},
        {"sbtSolicitacao", false, true, false}, {"chkSolicitacao", true, true, false},
        {"chkAF", true, true, false},           {"PanCalculando", true, false, false},
    };
    for (const Expect& e : expected) {
        QWidget* w = form->control(e.control);
        ASSERT_NE(w, nullptr) << e.control;
        EXPECT_EQ(w->isEnabled(), e.enabled) << e.control;
        EXPECT_EQ(w->isVisibleTo(form), e.visible) << e.control;
        EXPECT_EQ(isChecked(w), e.checked) << e.control;
    }
    EXPECT_EQ(form->rdgConsSoli->ItemIndex(), 0);
    EXPECT_EQ(form->rdgConsSoli->Items(),
              QStringList({QStringLiteral("Todas"), QString::fromUtf8("Não Consolidadas")}));
    EXPECT_FALSE(form->anmCalculando->Active());
    EXPECT_EQ(form->anmCalculando->StopFrame, 23);
    // The branch edits hold the processing branch from the first activation on.
    for (TMaskEdit* e : {form->medCdProdIni, form->medCdProdfin}) {
        EXPECT_TRUE(e->Text().isEmpty()) << e->objectName().toStdString();
    }
}

TEST_F(FreshScreen, FilterFieldsStartEmptyAlthoughTodasIsChecked) {
    const rqc04100::test::FilterState state = filterState(*form);
    EXPECT_FALSE(state.boPrimAtiva) << "the first activation has run";
    EXPECT_EQ(state.stListaComp, "");
    EXPECT_EQ(state.stListaFili, "");
    EXPECT_EQ(state.stTodasFili, "") << "rbtTodosFili is checked, yet stTodasFili starts empty";
    EXPECT_EQ(state.stListaSolicit, "");
    EXPECT_EQ(state.stCdFilCentCmp, "0001");
}

TEST_F(FreshScreen, TabVisitsTheFilterInItsSequence) {
    const char* sequence[] = {
        "medCdFilial",  "rbtTodosFili", "sbtTodosComp",    "depDataIni",     "depDataFin",
        "medCdProdIni", "medCdProdfin", "chbConsEsto",     "chbProdOrig",    "chbLimiteSeg",
        "chbParamOL",   "rdgConsSoli",  "rbtTodosSolicit", "chkSolicitacao", "chkAF",
    };
    form->medCdFilial->setFocus();
    settle();
    for (const char* name : sequence) {
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr) << "nothing focused where " << name << " was expected";
        QWidget* expected = form->control(name);
        if (std::strcmp(name, "rdgConsSoli") == 0)
            expected = form->rdgConsSoli->Button(0);
        EXPECT_EQ(focused, expected)
            << "expected " << name << ", focus is on " << focused->objectName().toStdString();
        QTest::keyClick(focused, Qt::Key_Tab);
    }
}

TEST_F(FreshScreen, StockBranchEditJoinsTheTabSequenceOnlyWhileEnabled) {
    form->medCdFilEst->setEnabled(true);
    form->chbConsEsto->setFocus();
    settle();
    QTest::keyClick(form->chbConsEsto, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form->medCdFilEst);
    QTest::keyClick(form->medCdFilEst, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form->chbProdOrig);
}

TEST_F(FreshScreen, BranchCodeIsUpperCaseLettersOrDigitsAtMostFour) {
    struct Case {
        const char* typed;
        const char* kept;
    };
    const Case cases[] = {
        {"ab1c9x", "AB1C"},
        {"0002", "0002"},
        {"a-b", "AB"},
        {"z", "Z"},
    };
    for (TMaskEdit* edit : {form->medCdFilial, form->medCdFilEst}) {
        edit->setEnabled(true);
        for (const Case& c : cases) {
            edit->SetText(QString());
            edit->setFocus();
            QTest::keyClicks(edit, QString::fromLatin1(c.typed));
            EXPECT_EQ(edit->Text(), QString::fromLatin1(c.kept))
                << edit->objectName().toStdString() << " typed " << c.typed;
        }
        edit->SetText(QStringLiteral("xy12z"));
        EXPECT_EQ(edit->Text(), "XY12");
    }
}

TEST_F(FreshScreen, EveryRowIsBuiltUnderItsParentInItsBox) {
    for (const rqc04100::ControlRow& row : rqc04100::layoutTable()) {
        if (row.kind == rqc04100::ControlKind::Inherited)
            continue;
        QWidget* w = form->control(row.name);
        ASSERT_NE(w, nullptr) << row.name;
        EXPECT_EQ(w->objectName(), row.name);
        const QString parent =
            std::strlen(row.parent) == 0 ? form->objectName() : QString::fromUtf8(row.parent);
        EXPECT_EQ(w->parentWidget()->objectName(), parent) << row.name;
        EXPECT_EQ(w->geometry(), QRect(row.box.left, row.box.top, row.box.width, row.box.height))
            << row.name;
        EXPECT_EQ(w->toolTip(), QString::fromUtf8(row.hint)) << row.name;
    }
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8("Consolidação de Solicitação"));
    EXPECT_EQ(form->size(), QSize(535, 350));
    EXPECT_EQ(form->HelpContext, 12800100);
    EXPECT_EQ(form->HelpFile, "SupHelp.hlp");
    EXPECT_EQ(form->lblCodTela->text(), "RQC04100");
    EXPECT_EQ(form->grbDadosRel->size(), QSize(480, 350));
    EXPECT_EQ(form->panMenu->x(), 480);
    // The button bar holds confirm and preview, one below the other; the help below it.
    EXPECT_EQ(form->panBotoes->geometry(), QRect(8, 8, 39, 82));
    EXPECT_EQ(form->sbtSimula->parentWidget(), form->panBotoes);
    EXPECT_GE(form->sbtSimula->y(), form->sbtConfirma->y() + form->sbtConfirma->height());
    EXPECT_EQ(form->sbtSimula->toolTip(),
              QString::fromUtf8("Simular Consolidação, sem gravar (F6)"));
    EXPECT_FALSE(form->sbtSimula->icon().isNull());
    EXPECT_EQ(form->panHelp->pos(), QPoint(8, 96));
    EXPECT_EQ(form->sbtHelp->pos(), QPoint(2, 7));
    EXPECT_EQ(form->sbtConfirma->toolTip(), QString::fromUtf8("Consolidar Solicitações"));
    EXPECT_FALSE(form->sbtConfirma->icon().isNull());
}

TEST_F(FreshScreen, SearchButtonsCarryTheirPickerSettings) {
    struct Expect {
        TBtnPesquisa* button;
        const char* title;
        TDataSource* source;
        QWidget* associate;
        const char* emptyError;
        bool pesqChave;
    };
    const Expect expected[] = {
        {form->btpFilial, "Filial", form->dtsPesqFilial, form->medCdFilial,
         "Não há filial cadastrada.", false},
        {form->btpFilEst, "Filial", form->dtsPesqFilial, form->medCdFilEst,
         "Não há filial cadastrada.", false},
        {form->BtnPesquisa3, "Produto Inicial", form->dtsProduto, form->medCdProdIni, "", true},
        {form->BtnPesquisa4, "Produto Final", form->dtsProduto, form->medCdProdfin, "", true},
    };
    for (const Expect& e : expected) {
        const std::string name = e.button->objectName().toStdString();
        EXPECT_EQ(e.button->Title, QString::fromUtf8(e.title)) << name;
        EXPECT_EQ(e.button->DataSource, e.source) << name;
        EXPECT_EQ(e.button->Associate, e.associate) << name;
        EXPECT_EQ(e.button->EmptyError, QString::fromUtf8(e.emptyError)) << name;
        EXPECT_EQ(e.button->PesqChave, e.pesqChave) << name;
        EXPECT_FALSE(e.button->icon().isNull()) << name;
    }
    EXPECT_EQ(form->dtsPesqFilial->DataSet, form->qryPesqFilial);
    EXPECT_EQ(form->dtsComprador->DataSet, form->qryComprador);
    EXPECT_EQ(form->dtsProduto->DataSet, form->qryProduto);
    EXPECT_EQ(form->dtsSolicitacao->DataSet, form->cdsSolicitacao);
}

TEST_F(FreshScreen, LookFollowsTheFontAndColourRules) {
    for (QWidget* w :
         {static_cast<QWidget*>(form->grbFili), static_cast<QWidget*>(form->lblFilial),
          static_cast<QWidget*>(form->chbConsEsto), static_cast<QWidget*>(form->rdgConsSoli)}) {
        EXPECT_TRUE(w->font().bold()) << w->objectName().toStdString();
        EXPECT_EQ(w->font().pixelSize(), 11) << w->objectName().toStdString();
    }
    EXPECT_TRUE(form->rbtTodosFili->font().bold()) << "radios take their group box's font";
    EXPECT_TRUE(form->chkAF->font().bold()) << "GroupBox1's check boxes take its font";
    EXPECT_EQ(form->depDataIni->font().pixelSize(), 12);
    EXPECT_FALSE(form->depDataIni->font().bold());
    EXPECT_EQ(form->medCdProdIni->font().pixelSize(), 11);
    EXPECT_FALSE(form->medCdFilEst->font().bold()) << "branch edits use the form's font";
    EXPECT_TRUE(form->lblMostraCalculo->font().bold());
    EXPECT_EQ(form->lblMostraCalculo->font().pixelSize(), 12);
    const QColor infoBk(255, 255, 225);
    for (QWidget* w :
         {static_cast<QWidget*>(form->medCdFilial), static_cast<QWidget*>(form->depDataFin),
          static_cast<QWidget*>(form->medCdProdfin)}) {
        EXPECT_EQ(w->palette().color(QPalette::Base), infoBk) << w->objectName().toStdString();
    }
    EXPECT_EQ(form->edtNmFilial->palette().color(QPalette::Disabled, QPalette::Base),
              QColor(240, 240, 240));
}

TEST_F(FreshScreen, EventsAreWiredByHandlerName) {
    using namespace rqc04100;
    using Form = TfrmConsolidaSolicita;
    struct Wire {
        const char* control;
        EventWire wire;
    };
    // Every event of the layout, in table order, with the handler it must reach.
    const Wire expected[] = {
        {"sbtConfirma", OnClick(&Form::sbtConfirmaClick)},
        {"sbtSimula", OnClick(&Form::sbtSimulaClick)},
        {"medCdFilial", OnChange(&Form::medCdFilialChange)},
        {"medCdFilial", OnExit(&Form::medCdFilialExit)},
        {"btpFilial", OnBeforePesq(&Form::btpFilialBeforePesq)},
        {"btpFilial", OnAfterPesq(&Form::btpFilialAfterPesq)},
        {"rbtTodosFili", OnClick(&Form::rbtTodosFiliClick)},
        {"rbtListaFili", OnClick(&Form::rbtListaFiliClick)},
        {"rbtListaFili", OnKeyDown(&Form::rbtListaFiliKeyDown)},
        {"sbtFilial", OnClick(&Form::sbtFilialClick)},
        {"sbtTodosComp", OnClick(&Form::sbtTodosCompClick)},
        {"rbtListaComp", OnClick(&Form::rbtListaCompClick)},
        {"rbtListaComp", OnKeyDown(&Form::rbtListaCompKeyDown)},
        {"sbtComprador", OnClick(&Form::sbtCompradorClick)},
        {"depDataIni", OnDateChange(&Form::depDataIniDateChange)},
        {"depDataIni", OnExit(&Form::depDataIniExit)},
        {"depDataFin", OnDateChange(&Form::depDataFinDateChange)},
        {"depDataFin", OnExit(&Form::depDataFinExit)},
        {"medCdProdIni", OnChange(&Form::medCdProdIniChange)},
        {"medCdProdIni", OnExit(&Form::medCdProdIniExit)},
        {"medCdProdfin", OnChange(&Form::medCdProdfinChange)},
        {"medCdProdfin", OnExit(&Form::medCdProdfinExit)},
        {"BtnPesquisa3", OnBeforePesq(&Form::BtnPesquisa3BeforePesq)},
        {"BtnPesquisa3", OnAfterPesq(&Form::BtnPesquisa3AfterPesq)},
        {"BtnPesquisa4", OnBeforePesq(&Form::BtnPesquisa4BeforePesq)},
        {"BtnPesquisa4", OnAfterPesq(&Form::BtnPesquisa4AfterPesq)},
        {"chbConsEsto", OnClick(&Form::chbConsEstoClick)},
        {"medCdFilEst", OnChange(&Form::medCdFilEstChange)},
        {"medCdFilEst", OnExit(&Form::medCdFilEstExit)},
        {"btpFilEst", OnBeforePesq(&Form::btpFilEstBeforePesq)},
        {"btpFilEst", OnAfterPesq(&Form::btpFilEstAfterPesq)},
        {"rbtTodosSolicit", OnClick(&Form::rbtTodosSolicitClick)},
        {"rbtListaSolicit", OnClick(&Form::rbtListaSolicitClick)},
        {"rbtListaSolicit", OnKeyDown(&Form::rbtListaSolicitKeyDown)},
        {"sbtSolicitacao", OnClick(&Form::sbtSolicitacaoClick)},
    };
    std::size_t n = 0;
    for (const ControlRow& row : layoutTable()) {
        QWidget* w = form->control(row.name);
        ASSERT_NE(w, nullptr) << row.name;
        for (const EventWire& e : row.events) {
            const int event = static_cast<int>(e.event);
            ASSERT_LT(n, std::size(expected)) << "unexpected event " << event << " of " << row.name;
            EXPECT_STREQ(row.name, expected[n].control);
            EXPECT_TRUE(e == expected[n].wire) << row.name << " event " << event;
            EXPECT_TRUE(hasHandler(w, e.event))
                << row.name << " event " << event << " is not wired";
            ++n;
        }
    }
    EXPECT_EQ(n, std::size(expected));
    EXPECT_TRUE(netConsolidaSolicitaDefinition().beforeConnect ==
                &Form::netConsolidaSolicitaBeforeConnect);
    EXPECT_TRUE(form->netConsolidaSolicita->BeforeConnect != nullptr);
}

TEST_F(FreshScreen, RowsTheirKindCannotTakeStopTheBuild) {
    using namespace rqc04100;
    const auto row = [](ControlKind kind, Details details, std::vector<EventWire> events) {
        return ControlRow{"bad",
                          kind,
                          "grbDadosRel",
                          -1,
                          "",
                          {},
                          FontKind::Parent,
                          ColourKind::Default,
                          "",
                          kStartDefault,
                          std::move(details),
                          std::move(events)};
    };
    const struct {
        const char* what;
        ControlRow row;
    } cases[] = {
        {"mask details on a label", row(ControlKind::Label, MaskEditDetails{">aaaa;0; ", 4}, {})},
        {"OnKeyDown on a label",
         row(ControlKind::Label, {}, {OnKeyDown(&TfrmConsolidaSolicita::rbtListaFiliKeyDown)})},
        {"OnDateChange on an edit",
         row(ControlKind::Edit, {}, {OnDateChange(&TfrmConsolidaSolicita::depDataIniDateChange)})},
        {"unknown associate",
         row(ControlKind::BtnPesquisa,
             SearchButtonDetails{"pesquisa", "Filial", "dtsPesqFilial", "medNenhum"}, {})},
        {"click without a handler", row(ControlKind::ButtonFlat, {}, {OnClick(nullptr)})},
    };
    const QHash<QString, TDataSource*> sources = {{"dtsPesqFilial", form->dtsPesqFilial}};
    for (const auto& c : cases) {
        LayoutBuilder builder(*form, sources);
        EXPECT_THROW(builder.build(formLayout(), {c.row}), std::logic_error) << c.what;
    }
}

TEST_F(FreshScreen, ScreenshotShowsATidyForm) {
    form->subWindow()->move(10, 10);
    settle();
    const QImage shot = host->window().grab().toImage();
    ASSERT_FALSE(shot.isNull());
    const QImage screen = form->grab().toImage();
    EXPECT_EQ(screen.size(), QSize(535, 350));
    // A painted form has many colours (text, frames, fields); an unpainted one has one.
    QSet<QRgb> colours;
    for (int y = 0; y < screen.height(); y += 3) {
        for (int x = 0; x < screen.width(); x += 3)
            colours.insert(screen.pixel(x, y));
    }
    EXPECT_GT(colours.size(), 8);
    const QString dir = QDir(QString::fromLocal8Bit(qgetenv("RQC_BIN_DIR"))).filePath("..");
    const QString out = QDir(dir).absoluteFilePath("screenshots");
    QDir().mkpath(out);
    EXPECT_TRUE(shot.save(out + "/rqc04100-fresh.png"));
    EXPECT_TRUE(screen.save(out + "/rqc04100-form.png"));
}

}  // namespace
