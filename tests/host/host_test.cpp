// The suite host: its module loader in process (real modules, scripted dialogs) and the suite
// program run as a real process.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLibrary>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>

#include "main_window.h"
#include "module_loader.h"
#include "server_process.h"
#include "startup.h"
#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"
#include "temp_dir.h"
#include "vlm/vlm.h"

namespace {

QApplication& application() {
    static int argc = 1;
    static char name[] = "host-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

void settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

QString binDir() {
    return QString::fromLocal8Bit(qgetenv("RQC_BIN_DIR"));
}

// A demo database and a real server on it, shared by the tests of this file.
class Suite : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        application();
        dir = new rqc::test::TempDir();
        {
            auto db = rqc::suitedb::Connection::open(dir->file("suite.db"));
            rqc::suitedb::applySchema(*db);
            rqc::suitedb::loadDemo(*db, rqc::suitedb::localToday());
        }
        server = new rqc::test::ServerProcess({dir->file("suite.db"), dir->path().string(), {}});
        server->start();
    }
    static void TearDownTestSuite() {
        delete server;
        delete dir;
    }

    static vlm::HostConfig config(const QString& branch) {
        vlm::HostConfig c;
        c.processingBranch = branch;
        c.serverPort = server->port();
        c.dbPath = QString::fromStdString(dir->file("suite.db"));
        return c;
    }
    // Writes an INI for `c` and returns its path.
    static QString writeIni(const vlm::HostConfig& c, const QString& name) {
        const QString path = QString::fromStdString(dir->file(name.toStdString()));
        c.save(path);
        return path;
    }

    struct Run {
        int exitCode = -1;
        QString out;
    };
    // Runs build/bin/suite with `args` in `cwd`; at most a minute.
    static Run runSuite(const QStringList& args, const QString& cwd) {
        QProcess p;
        p.setWorkingDirectory(cwd);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(binDir() + "/suite", args);
        if (!p.waitForStarted(10000))
            return {};
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished(5000);
            return {-1, "suite did not finish: " + QString::fromUtf8(p.readAll())};
        }
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAll())};
    }

    static rqc::test::TempDir* dir;
    static rqc::test::ServerProcess* server;
};

rqc::test::TempDir* Suite::dir = nullptr;
rqc::test::ServerProcess* Suite::server = nullptr;

// The host's window with scripted dialogs, as the suite program builds it.
struct HostUnderTest {
    explicit HostUnderTest(const vlm::HostConfig& c)
        : loader(binDir()), window(c.processingBranch, loader) {
        vlm::setHostConfig(c);
        database.Open(c);
        vlm::setMainForm(&window);
        window.show();
    }
    ~HostUnderTest() {
        for (QMdiSubWindow* sub : window.mdiArea()->subWindowList())
            sub->close();
        settle();
        vlm::setMainForm(nullptr);
    }
    vlm::ScriptedDialogs dialogs;
    vlm::ScopedDialogs scoped{dialogs};
    TdtmDBGeral database;
    host::ModuleLoader loader;
    host::MainWindow window;
};

TEST_F(Suite, MenuOpensTheScreenOnceInTheMdiArea) {
    HostUnderTest h(config("0002"));
    EXPECT_TRUE(h.window.windowTitle().contains("0002"));
    EXPECT_TRUE(h.window.openScreen("RQC04100"));
    EXPECT_TRUE(h.window.openScreen("rqc04100"));
    settle();
    ASSERT_EQ(h.window.mdiArea()->subWindowList().size(), 1);
    QWidget* screen = h.window.mdiArea()->subWindowList().at(0)->widget();
    EXPECT_EQ(screen->windowTitle(), QString::fromUtf8("Consolidação de Solicitação"));
    // Opening validates the processing branch behind a waiting animation; no message appears.
    EXPECT_TRUE(h.dialogs.texts(vlm::ShownDialog::Error).isEmpty());
    EXPECT_TRUE(h.dialogs.texts(vlm::ShownDialog::Message).isEmpty());

    QLibrary module(h.loader.libraryPath(*host::findScreenModule("RQC04100")));
    ASSERT_TRUE(module.load());
    auto* created = reinterpret_cast<bool*>(module.resolve("boIdCriado"));
    auto* form = reinterpret_cast<QWidget**>(module.resolve("frmConsolidaSolicita"));
    ASSERT_NE(created, nullptr);
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(*created);
    EXPECT_EQ(*form, screen);
}

TEST_F(Suite, BothScreensAreInTheMenuAndTheConsultationOpensOnANumber) {
    HostUnderTest h(config("0002"));
    for (const char* code : {"RQC04100", "RQC04200"}) {
        EXPECT_NE(h.window.findChild<QAction*>(QStringLiteral("act") + code), nullptr) << code;
    }
    // An impossible number is refused by the screen with its own message, not by the host.
    EXPECT_FALSE(h.window.openScreen("RQC04200", "12a"));
    settle();
    EXPECT_EQ(h.dialogs.texts(vlm::ShownDialog::Error).size(), 1);
    // The first screen has no such entry: the host says so and opens nothing.
    EXPECT_FALSE(h.window.openScreen("RQC04100", "1"));
    EXPECT_EQ(h.dialogs.texts(vlm::ShownDialog::Error).size(), 2);
    EXPECT_TRUE(
        h.dialogs.texts(vlm::ShownDialog::Error).last().contains("não se abre em um número"));
}

TEST_F(Suite, ModuleFailuresAreShownClearly) {
    struct Case {
        host::ScreenModule module;
        const char* mustMention;
    };
    const Case cases[] = {
        {{"XYZ00000", "Nada", "nosuchmodule"},
         "Não foi possível abrir a tela XYZ00000 (Nada): o módulo libnosuchmodule.so não foi "
         "encontrado"},
        {{"VLM00000", "Pacote", "vlm"},
         "o módulo libvlm.so não é uma tela da suíte (não tem o ponto de entrada IniProc)"},
        {{"BAD00000", "Quebrado", "broken"}, "o módulo libbroken.so não pôde ser carregado"},
    };
    HostUnderTest h(config("0002"));
    QTemporaryDir junk;
    QFile broken(junk.filePath("libbroken.so"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a shared library");
    broken.close();
    host::ModuleLoader junkLoader(junk.path());
    for (const Case& c : cases) {
        h.dialogs.clear();
        host::ModuleLoader& loader = c.module.library == "broken" ? junkLoader : h.loader;
        EXPECT_FALSE(loader.open(c.module));
        const QStringList errors = h.dialogs.texts(vlm::ShownDialog::Error);
        ASSERT_EQ(errors.size(), 1) << c.mustMention;
        EXPECT_TRUE(errors[0].contains(c.mustMention)) << errors[0].toStdString();
    }
    h.dialogs.clear();
    EXPECT_FALSE(h.window.openScreen("ABC99999"));
    EXPECT_EQ(h.dialogs.texts(vlm::ShownDialog::Error).value(0), "Tela desconhecida: ABC99999.");
}

TEST_F(Suite, QtOwnTextsArePortuguese) {
    ASSERT_TRUE(host::installTranslations(application()));
    QMessageBox box(QMessageBox::Question, "t", "x", QMessageBox::Cancel | QMessageBox::Yes);
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text().remove('&'), "Cancelar");
    EXPECT_EQ(box.button(QMessageBox::Yes)->text().remove('&'), "Sim");
    EXPECT_EQ(QLocale().monthName(3), QString::fromUtf8("março"));
}

TEST_F(Suite, ExceptionFromIniProcGoesToTheStandardErrorDialog) {
    vlm::HostConfig c = config("0002");
    c.serverPort = 1;  // nothing listens there: the screen cannot connect
    HostUnderTest h(c);
    EXPECT_FALSE(h.window.openScreen("RQC04100"));
    const QStringList errors = h.dialogs.texts(vlm::ShownDialog::Error);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("127.0.0.1:1")) << errors[0].toStdString();
    settle();
    EXPECT_TRUE(h.window.mdiArea()->subWindowList().isEmpty());
}

TEST_F(Suite, ProgramOpensTheScreenAtStartAndSavesAScreenshot) {
    const QString ini = writeIni(config("0002"), "suite.ini");
    const QString png = QString::fromStdString(dir->file("suite.png"));
    const Run run =
        runSuite({"--config", ini, "--open", "RQC04100", "--screenshot", png}, QDir::tempPath());
    ASSERT_EQ(run.exitCode, 0) << run.out.toStdString();
    const QImage shot(png);
    ASSERT_FALSE(shot.isNull());
    EXPECT_GE(shot.width(), 535);
    EXPECT_GE(shot.height(), 350);
    const QString docsCopy = QDir(binDir()).absoluteFilePath("../screenshots/suite-rqc04100.png");
    QDir().mkpath(QFileInfo(docsCopy).path());
    QFile::remove(docsCopy);
    EXPECT_TRUE(QFile::copy(png, docsCopy));
}

TEST_F(Suite, ProgramWithoutConfigurationCreatesTheEmbeddedDatabase) {
    QTemporaryDir cwd;
    const Run run = runSuite({"--screenshot", cwd.filePath("empty.png")}, cwd.path());
    ASSERT_EQ(run.exitCode, 0) << run.out.toStdString();
    EXPECT_TRUE(QFileInfo::exists(cwd.filePath("var/rqc.db")));
    auto db = rqc::suitedb::Connection::open(cwd.filePath("var/rqc.db").toStdString());
    auto rows = db->query("SELECT COUNT(*) FROM FILIAL");
    ASSERT_TRUE(rows->next());
    EXPECT_GT(rows->int64(0), 0);
}

TEST_F(Suite, ProgramRefusesBadStartsWithAClearMessage) {
    vlm::HostConfig badPort = config("0002");
    const QString good = writeIni(badPort, "good.ini");
    QFile::copy(good, QString::fromStdString(dir->file("bad-engine.ini")));
    {
        QSettings s(QString::fromStdString(dir->file("bad-engine.ini")), QSettings::IniFormat);
        s.setValue("Banco/Engine", "oracle");
    }
    vlm::HostConfig missingDb = config("0002");
    missingDb.dbPath = QString::fromStdString(dir->file("nothere.db"));
    const QString missing = writeIni(missingDb, "missing-db.ini");

    struct Case {
        QStringList args;
        const char* mustMention;
    };
    const Case cases[] = {
        {{"--config", QString::fromStdString(dir->file("bad-engine.ini"))}, "oracle"},
        {{"--config", missing}, "nothere.db"},
        {{"--config", good, "--open", "XYZ12345"}, "Tela desconhecida: XYZ12345"},
        {{"--config", QString::fromStdString(dir->file("absent.ini"))}, "absent.ini"},
    };
    for (const Case& c : cases) {
        const Run run = runSuite(
            c.args + QStringList{"--screenshot", QString::fromStdString(dir->file("x.png"))},
            QDir::tempPath());
        EXPECT_NE(run.exitCode, 0) << c.mustMention;
        EXPECT_TRUE(run.out.contains(c.mustMention)) << run.out.toStdString();
    }
}

}  // namespace
