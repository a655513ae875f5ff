#include <gtest/gtest.h>

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QTest>
#include <stdexcept>

#include "support/scripted_dialogs.h"
#include "vlm/dialogs.h"
#include "vlm/frm_roti_geral.h"
#include "vlm/helpers.h"

using vlm::ScriptedDialogs;
using vlm::ShownDialog;

namespace {

QStringList g_log;

class TfrmTeste : public TfrmRotiGeral {
  public:
    explicit TfrmTeste(QWidget* parent = nullptr, bool failCreate = false)
        : TfrmRotiGeral(parent), m_failCreate(failCreate) {
        setObjectName("frmTeste");
        SetCaption("Tela de Teste");
        HelpContext = 12800100;
    }
    TCloseAction closeAction = caFree;
    void FormCreate(QObject* Sender) override {
        TfrmRotiGeral::FormCreate(Sender);
        g_log << "create " + Sender->objectName();
        if (m_failCreate)
            throw std::runtime_error("sem conexão");
    }
    void FormClose(QObject* Sender, TCloseAction& Action) override {
        g_log << "close";
        TfrmRotiGeral::FormClose(Sender, Action);
        if (closeAction != caFree)
            Action = closeAction;
    }
    void FormActivate(QObject*) override { g_log << "activate " + objectName(); }

  private:
    bool m_failCreate;
};

void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace

TEST(TfrmRotiGeral, BaseLayoutHasTheFilterBoxLeftAndTheSidePanelRight) {
    TfrmRotiGeral form;
    EXPECT_EQ(form.size(), QSize(535, 350));
    EXPECT_EQ(form.grbDadosRel->geometry(), QRect(0, 0, 480, 350));
    EXPECT_EQ(form.panMenu->geometry(), QRect(480, 0, 55, 350));
    EXPECT_EQ(form.panBotoes->parentWidget(), form.panMenu);
    EXPECT_EQ(form.sbtConfirma->parentWidget(), form.panBotoes);
    EXPECT_EQ(form.panHelp->parentWidget(), form.panMenu);
    EXPECT_EQ(form.sbtHelp->parentWidget(), form.panHelp);
    EXPECT_EQ(form.lblCodTela->parentWidget(), form.panMenu);
    EXPECT_EQ(form.msgPadrao->parent(), &form);
    form.SetClientSize(600, 400, 520);
    EXPECT_EQ(form.panMenu->geometry(), QRect(520, 0, 80, 400));
}

TEST(TfrmRotiGeral, CreateFormRunsFormCreateOnceOnTheCompleteForm) {
    g_log.clear();
    TfrmTeste* f = vlm::createForm<TfrmTeste>();
    EXPECT_EQ(g_log, QStringList({"create frmTeste"}));
    EXPECT_EQ(f->Caption(), "Tela de Teste");
    delete f;
}

TEST(TfrmRotiGeral, FailedFormCreateDestroysTheFormAndPassesTheError) {
    g_log.clear();
    EXPECT_THROW(vlm::createForm<TfrmTeste>(nullptr, true), std::runtime_error);
    EXPECT_EQ(g_log, QStringList({"create frmTeste"}));
}

TEST(TfrmRotiGeral, ClosingAnMdiChildReleasesItAndItsSubWindow) {
    QMdiArea area;
    area.resize(800, 600);
    area.show();
    QPointer<TfrmTeste> form = vlm::createForm<TfrmTeste>();
    QPointer<QMdiSubWindow> sub = area.addSubWindow(form);
    sub->show();
    EXPECT_EQ(form->subWindow(), sub.data());
    g_log.clear();
    EXPECT_TRUE(form->Close());
    flushDeletes();
    EXPECT_EQ(g_log, QStringList({"close"}));
    EXPECT_TRUE(form.isNull());
    EXPECT_TRUE(sub.isNull());
    EXPECT_TRUE(area.subWindowList().isEmpty());
}

TEST(TfrmRotiGeral, CloseActionDecidesWhatHappens) {
    struct Case {
        TCloseAction action;
        bool closed;
        bool released;
    } cases[] = {{caNone, false, false}, {caHide, true, false}, {caFree, true, true}};
    for (const auto& c : cases) {
        QPointer<TfrmTeste> form = vlm::createForm<TfrmTeste>();
        form->closeAction = c.action;
        form->show();
        EXPECT_EQ(form->Close(), c.closed) << c.action;
        flushDeletes();
        EXPECT_EQ(form.isNull(), c.released) << c.action;
        if (form) {
            EXPECT_EQ(form->isVisible(), !c.closed);
            delete form.data();
        }
    }
}

TEST(TfrmRotiGeral, FormActivateRunsWhenTheMdiChildBecomesActive) {
    QMdiArea area;
    area.resize(800, 600);
    area.show();
    QApplication::setActiveWindow(&area);
    auto* a = vlm::createForm<TfrmTeste>();
    a->setObjectName("a");
    auto* b = vlm::createForm<TfrmTeste>();
    b->setObjectName("b");
    QMdiSubWindow* sa = area.addSubWindow(a);
    QMdiSubWindow* sb = area.addSubWindow(b);
    g_log.clear();
    sa->show();
    sb->show();
    area.setActiveSubWindow(sa);
    area.setActiveSubWindow(sb);
    area.setActiveSubWindow(sa);
    QStringList activations = g_log.filter("activate");
    ASSERT_FALSE(activations.isEmpty());
    EXPECT_EQ(activations.last(), "activate a");
    EXPECT_TRUE(activations.contains("activate b"));
    EXPECT_TRUE(a->IsActivated());
    EXPECT_FALSE(b->IsActivated());
}

TEST(TfrmRotiGeral, F1AndTheHelpButtonShowTheHelpPageOfTheContext) {
    ScriptedDialogs d;
    vlm::ScopedDialogs installed(d);
    TfrmTeste form;
    form.show();
    QApplication::setActiveWindow(&form);
    form.grbDadosRel->setFocus();
    QTest::keyClick(&form, Qt::Key_F1);
    form.sbtHelp->click();
    ASSERT_EQ(d.texts(ShownDialog::Help).size(), 2);
    EXPECT_TRUE(d.texts(ShownDialog::Help)[0].endsWith("/help/12800100.html"));
    EXPECT_EQ(d.shown[0].helpContext, 12800100);

    form.HelpContext = 777;
    form.sbtHelp->click();
    EXPECT_EQ(d.texts(ShownDialog::Error),
              QStringList({"Página de ajuda 777.html não encontrada."}));
}
