// Opening and closing the screen through the module's entry points, against a real demo
// database and a real rqc-appserver.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "demo_suite_fixture.h"
#include "filter_state.h"
#include "module/module.h"
#include "screen/frm_consolida_solicita.h"
#include "support/qt_fixture.h"

using rqc::test::DemoSuite;
using rqc::test::HostWindow;
using rqc::test::settle;
using rqc04100::test::filterState;

namespace {

const QString kFiliProc =
    QString::fromUtf8("Filial de processamento não possui central de compras cadastrada.");

class ScreenLifecycle : public rqc04100::test::DemoSuiteFixture {};

TEST_F(ScreenLifecycle, ModuleStartsWithoutAScreen) {
    EXPECT_FALSE(boIdCriado);
    EXPECT_EQ(frmConsolidaSolicita, nullptr);
}

TEST_F(ScreenLifecycle, OpeningConnectsToTheServerTakenFromTheHost) {
    HostWindow host(suite->config("0002"));
    IniProc();
    ASSERT_NE(frmConsolidaSolicita, nullptr);
    EXPECT_TRUE(boIdCriado);
    TNetConnection* net = frmConsolidaSolicita->netConsolidaSolicita;
    EXPECT_TRUE(net->Connected());
    EXPECT_EQ(net->Host, "127.0.0.1");
    EXPECT_EQ(net->Port, suite->serverPort());
    EXPECT_EQ(net->ServerName, "Rqc04100.rdmConsolidaSolicita");
    EXPECT_FALSE(net->ThrowException);
    EXPECT_EQ(filterState(*frmConsolidaSolicita).stCdFilCentCmp, "0001");
    EXPECT_FALSE(filterState(*frmConsolidaSolicita).boPrimAtiva) << "first activation ran";
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy cursor was left on";
    // The first activation's branch check shows only its waiting animation.
    EXPECT_TRUE(host.dialogs().texts(vlm::ShownDialog::Error).isEmpty());
    EXPECT_TRUE(host.dialogs().texts(vlm::ShownDialog::Message).isEmpty());
}

TEST_F(ScreenLifecycle, TwoIniProcCallsMakeOneScreenAndRepeatTheLookUp) {
    HostWindow host(suite->config("0003"));
    IniProc();
    TfrmConsolidaSolicita* first = frmConsolidaSolicita;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(filterState(*first).stCdFilCentCmp, "0001");

    // The second call must look the central branch up again and restore a minimised screen.
    // The desktop's own connection is read-only: the change comes from elsewhere.
    QSqlDatabase writer = QSqlDatabase::addDatabase("QSQLITE", "lifecycle-writer");
    writer.setDatabaseName(host.database().Database().databaseName());
    ASSERT_TRUE(writer.open());
    QSqlQuery move(writer);
    ASSERT_TRUE(move.exec("UPDATE FILIAL SET CDFILCENTCMP = '0011' WHERE CDFILIAL = '0003'"));
    first->subWindow()->showMinimized();
    settle();
    IniProc();
    settle();

    EXPECT_EQ(frmConsolidaSolicita, first);
    EXPECT_EQ(host.screenCount(), 1);
    EXPECT_EQ(filterState(*first).stCdFilCentCmp, "0011");
    EXPECT_FALSE(first->subWindow()->isMinimized());
    EXPECT_EQ(host.mdiArea()->activeSubWindow(), first->subWindow());
    ASSERT_TRUE(move.exec("UPDATE FILIAL SET CDFILCENTCMP = '0001' WHERE CDFILIAL = '0003'"));
}

TEST_F(ScreenLifecycle, BranchWithEmptyCentralIsItsOwnCentral) {
    for (const char* branch : {"0001", "0011"}) {
        HostWindow host(suite->config(branch));
        IniProc();
        ASSERT_NE(frmConsolidaSolicita, nullptr) << branch;
        EXPECT_EQ(filterState(*frmConsolidaSolicita).stCdFilCentCmp, branch);
    }
}

TEST_F(ScreenLifecycle, ProcessingBranchWithoutCentralIsRefusedAndALaterOpeningStartsAfresh) {
    struct Case {
        const char* branch;
        const char* why;
    };
    const Case cases[] = {
        {"0019", "central branch 0099 is not in FILIAL"},
        {"7777", "branch is not in FILIAL"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        HostWindow host(suite->config(c.branch));
        IniProc();
        QPointer<TfrmConsolidaSolicita> refused = frmConsolidaSolicita;
        EXPECT_FALSE(boIdCriado);
        // An unregistered processing branch is also reported by the first activation.
        const QStringList errors = host.dialogs().texts(vlm::ShownDialog::Error);
        ASSERT_FALSE(errors.isEmpty());
        ASSERT_EQ(errors.last(), kFiliProc);
        settle();
        EXPECT_TRUE(refused.isNull()) << "the refused screen was not released";
        EXPECT_EQ(frmConsolidaSolicita, nullptr);
        EXPECT_EQ(host.screenCount(), 0);

        host.setConfig(suite->config("0002"));
        IniProc();
        ASSERT_NE(frmConsolidaSolicita, nullptr);
        EXPECT_TRUE(boIdCriado);
        EXPECT_EQ(filterState(*frmConsolidaSolicita).stCdFilCentCmp, "0001");
        EXPECT_EQ(host.screenCount(), 1);
        EXPECT_EQ(host.dialogs().texts(vlm::ShownDialog::Error).size(), errors.size());
    }
}

TEST_F(ScreenLifecycle, CloseHandlerDisconnectsThenRunsTheBaseClose) {
    HostWindow host(suite->config("0002"));
    IniProc();
    TfrmConsolidaSolicita* form = frmConsolidaSolicita;
    ASSERT_TRUE(form->netConsolidaSolicita->Connected());

    TCloseAction action = caHide;
    form->FormClose(form, action);
    EXPECT_FALSE(form->netConsolidaSolicita->Connected());
    EXPECT_FALSE(boIdCriado);
    EXPECT_EQ(action, caFree) << "the base form's close handler did not run";
}

TEST_F(ScreenLifecycle, ClosingTheWindowDisconnectsReleasesAndAllowsAFreshScreen) {
    HostWindow host(suite->config("0002"));
    IniProc();
    QPointer<TfrmConsolidaSolicita> form = frmConsolidaSolicita;
    ASSERT_TRUE(form->netConsolidaSolicita->Connected());

    EXPECT_TRUE(form->Close());
    ASSERT_FALSE(form.isNull()) << "released before the event loop ran";
    EXPECT_FALSE(form->netConsolidaSolicita->Connected());
    EXPECT_FALSE(boIdCriado);
    settle();
    EXPECT_TRUE(form.isNull());
    EXPECT_EQ(frmConsolidaSolicita, nullptr);
    EXPECT_EQ(host.screenCount(), 0);

    IniProc();
    ASSERT_NE(frmConsolidaSolicita, nullptr);
    EXPECT_TRUE(frmConsolidaSolicita->netConsolidaSolicita->Connected());
    EXPECT_EQ(host.screenCount(), 1);
}

TEST_F(ScreenLifecycle, FixedProcessingBranchDisablesItsEditAndSearch) {
    for (bool fixed : {false, true}) {
        vlm::HostConfig config = suite->config("0002");
        config.branchFixed = fixed;
        HostWindow host(config);
        IniProc();
        ASSERT_NE(frmConsolidaSolicita, nullptr);
        EXPECT_EQ(frmConsolidaSolicita->medCdFilial->isEnabled(), !fixed) << "fixed " << fixed;
        EXPECT_EQ(frmConsolidaSolicita->btpFilial->isEnabled(), !fixed) << "fixed " << fixed;
    }
}

TEST_F(ScreenLifecycle, UnreachableServerFailsTheOpeningAndLeavesNoScreen) {
    vlm::HostConfig config = suite->config("0002");
    config.serverPort = 1;  // nothing listens on loopback port 1
    HostWindow host(config);
    try {
        IniProc();
        FAIL() << "IniProc did not raise";
    } catch (const ENetError& e) {
        EXPECT_NE(std::string(e.what()).find("127.0.0.1:1"), std::string::npos) << e.what();
    }
    settle();
    EXPECT_FALSE(boIdCriado);
    EXPECT_EQ(frmConsolidaSolicita, nullptr);
    EXPECT_EQ(host.screenCount(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    host.setConfig(suite->config("0002"));
    IniProc();
    EXPECT_NE(frmConsolidaSolicita, nullptr);
}

}  // namespace
