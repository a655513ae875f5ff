// The screen's checks against the real demo database and rqc-appserver: first activation,
// each validation routine through the confirm button (message, focus, nothing consolidated),
// the exit and change handlers and the all-or-list groups.

#include <gtest/gtest.h>

#include <QApplication>
#include <QSqlQuery>
#include <QTest>
#include <functional>

#include "demo_suite_fixture.h"
#include "filter_state.h"
#include "screen_driver.h"

using namespace rqc04100::test;

namespace {

QString focusName() {
    QWidget* w = QApplication::focusWidget();
    return w != nullptr ? w->objectName() : QString();
}

QString branchName(HostWindow& host, const QString& branch) {
    QSqlQuery q(host.database().Database());
    q.prepare(QStringLiteral("SELECT NMFILIAL FROM FILIAL WHERE CDFILIAL = ?"));
    q.addBindValue(branch);
    if (!q.exec() || !q.next())
        return QString();
    return q.value(0).toString();
}

int consolidationCount(HostWindow& host) {
    QSqlQuery q(host.database().Database());
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM CONSSOLI")) || !q.next())
        return -1;
    return q.value(0).toInt();
}

class Handlers : public rqc04100::test::DemoSuiteFixture {};

TEST_F(Handlers, FirstActivationNamesTheProcessingBranchAndCopiesItAsStockBranch) {
    OpenScreen s(suite->config("0002"));
    ASSERT_NE(s.form, nullptr);
    EXPECT_TRUE(s.errors().isEmpty()) << s.errors().join(" | ").toStdString();
    const QString name = branchName(*s.host, "0002");
    ASSERT_FALSE(name.isEmpty());
    EXPECT_EQ(s.form->medCdFilial->Text(), "0002");
    EXPECT_EQ(s.form->edtNmFilial->Text(), name);
    EXPECT_EQ(s.form->medCdFilEst->Text(), "0002");
    EXPECT_EQ(s.form->edtNmFilEst->Text(), name);
    EXPECT_EQ(s.form->medCdProdIni->EditMask(), DBPict(0));
    EXPECT_EQ(s.form->medCdProdfin->EditMask(), DBPict(0));
    EXPECT_EQ(s.form->qryProdutoCDARVPROD->EditMask, DBPict(0));
    EXPECT_EQ(s.form->edtDataIni->Text(), NomeSemana(s.form->depDataIni->GetDate()));
    EXPECT_FALSE(s.form->edtDataIni->Text().isEmpty());
    EXPECT_FALSE(filterState(*s.form).boPrimAtiva);

    // A later activation leaves the filter as the user left it.
    s.form->medCdFilEst->SetText("0003");
    vlm::dispatch([&] { s.form->FormActivate(s.form); });
    EXPECT_EQ(s.form->medCdFilEst->Text(), "0003");
}

TEST_F(Handlers, InvalidProcessingBranchIsReportedAtEveryActivation) {
    struct Case {
        const char* branch;
        const char* key;
    };
    const Case cases[] = {{"0009", "CONT_RESC"}, {"0010", "N_RegCad"}, {"0020", "N_ParCmp"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.branch);
        OpenScreen s(suite->config(c.branch));
        ASSERT_NE(s.form, nullptr);
        const QString text = s.form->msgPadrao->Msg(c.key);
        EXPECT_EQ(s.errors(), QStringList{text});
        EXPECT_TRUE(filterState(*s.form).boPrimAtiva);
        EXPECT_EQ(s.form->medCdFilEst->Text(), "") << "not copied after a failure";
        EXPECT_FALSE(s.host->dialogs().waitingVisible());

        vlm::dispatch([&] { s.form->FormActivate(s.form); });
        EXPECT_EQ(s.errors(), QStringList({text, text}));
        EXPECT_TRUE(filterState(*s.form).boPrimAtiva);
    }
}

TEST_F(Handlers, FixedBranchFailingRaisesOneFailureOnly) {
    vlm::HostConfig config = suite->config("0009");
    config.branchFixed = true;
    OpenScreen s(config);
    ASSERT_NE(s.form, nullptr);
    EXPECT_FALSE(s.form->medCdFilial->isEnabled());
    EXPECT_EQ(s.errors(), QStringList{s.form->msgPadrao->Msg("CONT_RESC")});
}

// One failing filter per row: the first failing check's message only, the focus where the
// check puts it, no report and nothing consolidated.
TEST_F(Handlers, ConfirmReportsTheFirstFailingCheckOnly) {
    struct Case {
        const char* what;
        std::function<void(TfrmConsolidaSolicita&)> spoil;
        const char* key;  // nullptr: the date edit's own message
        const char* focus;
        const char* editAfter = nullptr;  // medCdFilial's text afterwards, when checked
    };
    const Case cases[] = {
        {"initial date not a real date", [](auto& f) { f.depDataIni->SetText("31/02/2026"); },
         nullptr, "depDataIni"},
        {"blank processing branch", [](auto& f) { f.medCdFilial->SetText(""); }, "Fil_Vazia",
         "medCdFilial"},
        {"unknown processing branch", [](auto& f) { f.medCdFilial->SetText("7777"); }, "Fil_Inv",
         "medCdFilial"},
        {"short code adjusted, then rescinded", [](auto& f) { f.medCdFilial->SetText("9"); },
         "CONT_RESC", "medCdFilial", "0009"},
        {"branch without region", [](auto& f) { f.medCdFilial->SetText("0010"); }, "N_RegCad",
         "medCdFilial"},
        {"branch without purchase parameters", [](auto& f) { f.medCdFilial->SetText("0020"); },
         "N_ParCmp", "medCdFilial"},
        {"stock branch rescinded",
         [](auto& f) {
             f.chbConsEsto->SetChecked(true);
             f.medCdFilEst->SetText("0009");
         },
         "CONT_RESC", "medCdFilEst"},
        {"buyer list not picked", [](auto& f) { f.rbtListaComp->SetChecked(true); }, "COMP_NAO_INF",
         "rbtListaComp"},
        {"three lists not picked",
         [](auto& f) {
             f.rbtListaFili->SetChecked(true);
             f.rbtListaComp->SetChecked(true);
             f.rbtListaSolicit->SetChecked(true);
         },
         "FILI_NAO_INF", "rbtListaFili"},
        {"request list not picked", [](auto& f) { f.rbtListaSolicit->SetChecked(true); },
         "SOLICIT_NAO_INF", "rbtListaSolicit"},
        {"both dates blank",
         [](auto& f) {
             f.depDataIni->SetDate(0);
             f.depDataFin->SetDate(0);
         },
         "DtIni_N_Inf", "depDataIni"},
        {"final date blank", [](auto& f) { f.depDataFin->SetDate(0); }, "DtFin_N_Inf",
         "depDataFin"},
        {"final date a day before the initial",
         [](auto& f) {
             f.depDataIni->SetDate(dayOffset(1));
             f.depDataFin->SetDate(dayOffset(0));
         },
         "DATA_DEVE", "depDataIni"},
        {"initial product blank", [](auto& f) { f.medCdProdIni->SetText(""); }, "PROD_DEVE",
         "medCdProdIni"},
        {"final product blank", [](auto& f) { f.medCdProdfin->SetText(""); }, "PROD_DEVE",
         "medCdProdfin"},
        {"OL parametrisation on a branch that is not OL",
         [](auto& f) { f.chbParamOL->SetChecked(true); }, "ParamOL", "medCdFilial"},
        {"OL parametrisation judges the stock branch row",
         [](auto& f) {
             f.medCdFilial->SetText("0005");
             f.chbConsEsto->SetChecked(true);
             f.medCdFilEst->SetText("0002");
             f.chbParamOL->SetChecked(true);
         },
         "ParamOL", "medCdFilial"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OpenScreen s(suite->config("0002"));
        ASSERT_NE(s.form, nullptr);
        s.form->activateWindow();
        fillValidFilter(*s.form);
        c.spoil(*s.form);
        s.form->sbtHelp->setFocus();
        settle();
        s.host->dialogs().clear();
        const int before = consolidationCount(*s.host);
        pressConfirm(*s.form);

        const QStringList errors = s.errors();
        ASSERT_EQ(errors.size(), 1) << errors.join(" | ").toStdString();
        if (c.key != nullptr) {
            EXPECT_EQ(errors.front(), s.form->msgPadrao->Msg(c.key));
        }
        if (*c.focus != '\0') {
            EXPECT_EQ(focusName(), c.focus);
        }
        if (c.editAfter != nullptr) {
            EXPECT_EQ(s.form->medCdFilial->Text(), c.editAfter);
        }
        EXPECT_TRUE(s.messages().isEmpty()) << "no report after a failed check";
        EXPECT_EQ(consolidationCount(*s.host), before) << "nothing consolidated";
        EXPECT_FALSE(s.form->PanCalculando->isVisible());
        EXPECT_FALSE(s.host->dialogs().waitingVisible());
    }
}

TEST_F(Handlers, UncheckedStockBranchIsNotValidatedByTheRun) {
    OpenScreen s(suite->config("0002"));
    ASSERT_NE(s.form, nullptr);
    fillValidFilter(*s.form);
    s.form->medCdFilEst->SetText("7777");
    s.form->rdgConsSoli->SetItemIndex(1);
    s.form->medCdProdIni->SetText("01.01.001.0001");
    s.form->medCdProdfin->SetText("01.01.001.0001");
    s.host->dialogs().clear();
    pressConfirm(*s.form);
    EXPECT_TRUE(s.errors().isEmpty()) << s.errors().join(" | ").toStdString();
    EXPECT_EQ(s.messages().size(), 1);
}

TEST_F(Handlers, LeavingABlankEditShowsNothingAndCallsNothing) {
    OpenScreen s(suite->config("0002"));
    ASSERT_NE(s.form, nullptr);
    s.host->dialogs().clear();
    s.form->medCdFilial->SetText("  ");
    EXPECT_NO_THROW(s.form->medCdFilialExit(s.form->medCdFilial));
    EXPECT_EQ(s.form->edtNmFilial->Text(), "");
    s.form->medCdProdIni->SetText("");
    s.form->edtNmProdIni->SetText("stale");
    EXPECT_NO_THROW(s.form->medCdProdIniExit(s.form->medCdProdIni));
    EXPECT_EQ(s.form->edtNmProdIni->Text(), "");
    EXPECT_TRUE(s.host->dialogs().shown.empty()) << "no dialog, no waiting animation";
}

TEST_F(Handlers, LeavingAProductEditShowsItsNameOrNothing) {
    OpenScreen s(suite->config("0002"));
    ASSERT_NE(s.form, nullptr);
    QSqlQuery q(s.host->database().Database());
    ASSERT_TRUE(q.exec("SELECT CDARVPROD, NMPRODUTO FROM PRODUTO ORDER BY CDARVPROD LIMIT 1"));
    ASSERT_TRUE(q.next());
    s.form->medCdProdIni->SetText(q.value(0).toString());
    ASSERT_EQ(s.form->medCdProdIni->Text(), q.value(0).toString()) << "the mask yields the code";
    s.form->medCdProdIniExit(s.form->medCdProdIni);
    EXPECT_EQ(s.form->edtNmProdIni->Text(), q.value(1).toString());

    s.form->medCdProdfin->SetText("99.99.999.9999");
    s.form->medCdProdfinExit(s.form->medCdProdfin);
    EXPECT_EQ(s.form->edtNmProdFin->Text(), "");
    EXPECT_TRUE(s.errors().isEmpty());
}

TEST_F(Handlers, BranchExitAdjustsTheCodeAndNamesTheBranch) {
    OpenScreen s(suite->config("0002"));
    ASSERT_NE(s.form, nullptr);
    s.form->medCdFilial->SetText("3");
    EXPECT_EQ(s.form->edtNmFilial->Text(), "") << "the change handler empties the name";
    s.form->medCdFilialExit(s.form->medCdFilial);
    EXPECT_EQ(s.form->medCdFilial->Text(), "0003");
    EXPECT_EQ(s.form->edtNmFilial->Text(), branchName(*s.host, "0003"));
    EXPECT_EQ(s.host->dialogs().texts(vlm::ShownDialog::WaitingShown).last(),
              s.form->msgPadrao->Msg("Valida_Dad"));
    EXPECT_FALSE(s.host->dialogs().waitingVisible());
}

TEST_F(Handlers, StockCheckBoxEnablesTheStockEditAndItsButton) {
    OpenScreen s(suite->config("0002"));
    ASSERT_NE(s.form, nullptr);
    for (bool on : {true, false}) {
        s.form->chbConsEsto->SetChecked(on);
        EXPECT_EQ(s.form->medCdFilEst->isEnabled(), on);
        EXPECT_EQ(s.form->btpFilEst->isEnabled(), on);
        EXPECT_EQ(s.form->medCdFilEst->Text(), "0002") << "ticking keeps the code";
    }
}

TEST_F(Handlers, SearchButtonsFillCodeThenName) {
    OpenScreen s(suite->config("0002"));
    ASSERT_NE(s.form, nullptr);
    s.host->dialogs().queuePick(9);  // the tenth branch: 0010, no region, not checked by a pick
    s.form->btpFilial->Pesquisa();
    EXPECT_EQ(s.form->medCdFilial->Text(), "0010");
    EXPECT_EQ(s.form->edtNmFilial->Text(), branchName(*s.host, "0010"));
    EXPECT_TRUE(s.errors().isEmpty());

    s.host->dialogs().queuePick(0);
    s.form->BtnPesquisa4->Pesquisa();
    EXPECT_FALSE(s.form->medCdProdfin->Text().isEmpty());
    EXPECT_FALSE(s.form->edtNmProdFin->Text().isEmpty());
}

TEST_F(Handlers, AllAndListRadiosMoveTheGroupBetweenItsStates) {
    OpenScreen s(suite->config("0002"));
    ASSERT_NE(s.form, nullptr);
    s.form->rbtListaFili->SetChecked(true);
    EXPECT_TRUE(s.form->sbtFilial->isEnabled());
    s.host->dialogs().queueListPick(std::vector<int>{0, 2});
    s.form->sbtFilial->click();
    EXPECT_EQ(filterState(*s.form).stListaFili, "0001,0003");
    EXPECT_EQ(s.host->dialogs().texts(vlm::ShownDialog::PickList).last(), "Filial");

    s.form->rbtTodosFili->SetChecked(true);
    EXPECT_EQ(filterState(*s.form).stListaFili, "");
    EXPECT_EQ(filterState(*s.form).stTodasFili, "T");
    EXPECT_FALSE(s.form->sbtFilial->isEnabled());
    s.form->rbtListaFili->SetChecked(true);
    EXPECT_TRUE(s.form->sbtFilial->isEnabled());
    EXPECT_EQ(filterState(*s.form).stTodasFili, "");
    EXPECT_EQ(filterState(*s.form).stListaFili, "");
}

TEST_F(Handlers, F9OpensTheGroupPickerFromTheListRadioOnly) {
    OpenScreen s(suite->config("0002"));
    ASSERT_NE(s.form, nullptr);
    s.form->rbtListaComp->SetChecked(true);
    s.form->rbtListaComp->setFocus();
    QTest::keyClick(s.form->rbtListaComp, Qt::Key_F9, Qt::ShiftModifier);
    EXPECT_EQ(s.host->dialogs().texts(vlm::ShownDialog::PickList), QStringList{"Comprador"});
    s.form->sbtTodosComp->setFocus();
    QTest::keyClick(s.form->sbtTodosComp, Qt::Key_F9);
    QTest::keyClick(s.form->rbtListaComp, Qt::Key_F8);
    EXPECT_EQ(s.host->dialogs().texts(vlm::ShownDialog::PickList).size(), 1);
}

TEST_F(Handlers, BlankListTextCountsAsMissing) {
    OpenScreen s(suite->config("0002"));
    ASSERT_NE(s.form, nullptr);
    s.form->rbtListaComp->SetChecked(true);
    EXPECT_THROW(s.form->Vd_Lista(), EAbort);
    EXPECT_EQ(s.errors().last(), s.form->msgPadrao->Msg("COMP_NAO_INF"));
}

TEST_F(Handlers, ClearedDateStaysBlankAndIsReportedMissing) {
    OpenScreen s(suite->config("0002"));
    ASSERT_NE(s.form, nullptr);
    fillValidFilter(*s.form);
    EXPECT_EQ(s.form->edtDataFin->Text(), NomeSemana(dayOffset(30)));
    s.form->depDataIni->SetDate(0);
    EXPECT_TRUE(s.form->depDataIni->IsBlank()) << "the other date is not taken";
    EXPECT_EQ(s.form->edtDataIni->Text(), "");
    EXPECT_THROW(s.form->vd_Entrega(), EAbort);
    EXPECT_EQ(s.errors().last(), s.form->msgPadrao->Msg("DtIni_N_Inf"));
    s.form->depDataIni->SetDate(dayOffset(30));
    EXPECT_EQ(s.form->edtDataIni->Text(), NomeSemana(dayOffset(30)));
    EXPECT_NO_THROW(s.form->vd_Entrega()) << "equal dates pass";
}

TEST_F(Handlers, RequestLookupChecksDatesBeforeTheBranchList) {
    OpenScreen s(suite->config("0002"));
    ASSERT_NE(s.form, nullptr);
    s.form->depDataIni->SetDate(0);
    s.form->rbtListaFili->SetChecked(true);
    s.form->rbtListaSolicit->SetChecked(true);
    s.host->dialogs().clear();
    s.form->sbtSolicitacao->click();
    EXPECT_EQ(s.errors(), QStringList{s.form->msgPadrao->Msg("DtIni_N_Inf")});
    s.form->depDataIni->SetDate(dayOffset(0));
    s.form->sbtSolicitacao->click();
    EXPECT_EQ(s.errors().last(), s.form->msgPadrao->Msg("FILI_NAO_INF"));
    EXPECT_FALSE(s.host->dialogs()
                     .texts(vlm::ShownDialog::WaitingShown)
                     .contains(s.form->msgPadrao->Msg("Recebe_Dad")))
        << "the server was not asked for requests";
    EXPECT_TRUE(s.host->dialogs().texts(vlm::ShownDialog::PickList).isEmpty());
}

}  // namespace
