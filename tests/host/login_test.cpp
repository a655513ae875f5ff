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
