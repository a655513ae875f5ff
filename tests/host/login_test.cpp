// The operator's login before the host opens a screen: the Qt dialog offscreen, the host's
// ask-again loop against a real server, and the suite program refusing a bad login.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <cstdlib>

#include "host/login.h"
#include "host/main_window.h"
#include "support/qt_fixture.h"
#include "vlm/dialogs.h"
#include "vlm/login_dialog.h"
#include "vlm/net_connection.h"

namespace {

class HostLogin : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        suite = new rqc::test::DemoSuite();
        // Only what the host's login sets may log the connections in.
        ::unsetenv("RQC_OPERATOR");
        ::unsetenv("RQC_PASSWORD");
        TNetConnection::SetSessionLogin({}, {});
    }
    static void TearDownTestSuite() {
        delete suite;
        suite = nullptr;
    }
    static vlm::HostConfig config() { return suite->config(QStringLiteral("0001")); }
    static rqc::test::DemoSuite* suite;
};

rqc::test::DemoSuite* HostLogin::suite = nullptr;

TEST_F(HostLogin, TheQtDialogTakesCodeAndPasswordOnEnterAndGivesUpOnEsc) {
    struct Case {
        Qt::Key key;
        bool accepted;
    };
    for (const Case k : {Case{Qt::Key_Return, true}, Case{Qt::Key_Escape, false}}) {
        QString code, password;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<vlm::LoginDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            auto* refusal = dialog->findChild<QLabel*>("lblRecusa");
            EXPECT_EQ(refusal->text(), "Operador ou senha inválidos.");
            auto* pw = dialog->findChild<QLineEdit*>("edtSenha");
            EXPECT_EQ(pw->echoMode(), QLineEdit::Password);
            QTest::keyClicks(dialog->findChild<QLineEdit*>("edtOperador"), "COMP001");
            QTest::keyClicks(pw, "rqc04100");
            QTest::keyClick(pw, k.key);
        });
        const bool ok =
            vlm::standardDialogs().login(code, password, "Operador ou senha inválidos.");
        EXPECT_EQ(ok, k.accepted);
        if (k.accepted) {
            EXPECT_EQ(code, "COMP001");
            EXPECT_EQ(password, "rqc04100");
        }
    }
}

TEST_F(HostLogin, AWrongLoginIsRefusedAndAskedAgainUntilTheServerAcceptsIt) {
    vlm::ScriptedDialogs dialogs;
    dialogs.queueLogin("COMP001", "senha-errada");
    dialogs.queueLogin("NINGUEM", "rqc04100");
    dialogs.queueLogin("COMP001", "rqc04100");
    ASSERT_TRUE(host::askLogin(config(), dialogs));
    EXPECT_EQ(dialogs.texts(vlm::ShownDialog::Login),
              (QStringList{"", "Operador ou senha inválidos.", "Operador ou senha inválidos."}));
    EXPECT_EQ(TNetConnection::SessionOperator(), "COMP001");

    // A screen's connection logs in with the session's login.
    TNetConnection net;
    net.ServerName = "Rqc04100.rdmConsolidaSolicita";
    net.Port = suite->serverPort();
    net.SetConnected(true);
    QString branch = "0001";
    TServerResult r = net.AppServer().Call("GetParaCmpSup", {TServerArg::Ref(branch)});
    EXPECT_TRUE(r.IsPacket()) << r.AsString().toStdString();

    vlm::ScriptedDialogs giveUp;
    giveUp.queueLogin("COMP001", "senha-errada");
    EXPECT_FALSE(host::askLogin(config(), giveUp)) << "Esc after a refusal leaves";
    EXPECT_EQ(giveUp.texts(vlm::ShownDialog::Login).size(), 2);
}

// OPER001 may call no remote object, yet changes his own password from the Arquivo menu.
TEST_F(HostLogin, TheOperatorSeesHimselfInTheStatusBarAndChangesHisPassword) {
    ASSERT_EQ(host::tryLogin(config(), "OPER001", "rqc04100"), "");
    TdtmDBGeral database;
    database.Open(config());
    vlm::setHostConfig(config());
    host::ModuleLoader loader(QString::fromLocal8Bit(qgetenv("RQC_BIN_DIR")));
    host::MainWindow window("0001", loader);
    const QString shown = window.findChild<QLabel*>("lblOperador")->text();
    EXPECT_TRUE(shown.startsWith("Operador: OPER001 — ") && shown.size() > 21)
        << shown.toStdString();

    struct Try {
        const char* current;
        const char* fresh;
        const char* repeated;
        const char* refusal;  // "" when the change is made
    };
    const Try tries[] = {
        {"rqc04100", "nova-senha-1", "nova-senha-2", "não são iguais"},
        {"errada-123", "nova-senha-1", "nova-senha-1", "A senha atual não confere"},
        {"rqc04100", "curta", "curta", "pelo menos 8"},
        {"rqc04100", "nova-senha-1", "nova-senha-1", ""},
    };
    QStringList refusals;
    QTimer::singleShot(0, [&] {
        auto* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        for (const Try& t : tries) {
            QTest::keyClicks(dialog->findChild<QLineEdit*>("edtSenhaAtual"), t.current);
            QTest::keyClicks(dialog->findChild<QLineEdit*>("edtNovaSenha"), t.fresh);
            QTest::keyClicks(dialog->findChild<QLineEdit*>("edtConfirmaSenha"), t.repeated);
            QTest::keyClick(dialog->findChild<QLineEdit*>("edtConfirmaSenha"), Qt::Key_Return);
            if (*t.refusal != '\0') {
                refusals << dialog->findChild<QLabel*>("lblRecusa")->text();
                QApplication::processEvents();
                auto* field = dialog->findChild<QLineEdit*>("edtSenhaAtual");
                EXPECT_GE(field->height(), field->sizeHint().height()) << "a squeezed field";
            }
        }
    });
    vlm::ScriptedDialogs dialogs;
    vlm::ScopedDialogs scoped(dialogs);
    window.findChild<QAction*>("actAlteraSenha")->trigger();
    ASSERT_EQ(refusals.size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(refusals[i].contains(tries[i].refusal)) << refusals[i].toStdString();
    EXPECT_EQ(dialogs.texts(vlm::ShownDialog::Message), QStringList{"Senha alterada."});
    EXPECT_NE(host::tryLogin(config(), "OPER001", "rqc04100"), "");
    EXPECT_EQ(host::tryLogin(config(), "OPER001", "nova-senha-1"), "");
}

TEST_F(HostLogin, TheProgramRefusesToOpenAScreenWithABadLogin) {
    const QString ini = QString::fromStdString(suite->dir().file("suite.ini"));
    vlm::HostConfig c = config();
    c.processingBranch = "0002";
    c.save(ini);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("RQC_OPERATOR", "COMP001");
    env.insert("RQC_PASSWORD", "senha-errada");
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QString::fromLocal8Bit(qgetenv("RQC_BIN_DIR")) + "/suite",
            {"--config", ini, "--open", "RQC04100", "--screenshot",
             QString::fromStdString(suite->dir().file("x.png"))});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString out = QString::fromUtf8(p.readAll());
    EXPECT_NE(p.exitCode(), 0);
    EXPECT_TRUE(out.contains("Operador ou senha inválidos.")) << out.toStdString();
}

}  // namespace
