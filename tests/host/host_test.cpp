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
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>

#include "host/main_window.h"
#include "host/module_loader.h"
#include "host/startup.h"
#include "suitedb/connection.h"
#include "support/qt_fixture.h"
#include "vlm/vlm.h"

namespace {

using rqc::test::application;
using rqc::test::settle;

QString binDir() {
    return QString::fromLocal8Bit(qgetenv("RQC_BIN_DIR"));
}

// A demo database and a real server on it, shared by the tests of this file.
class Suite : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { suite = new rqc::test::DemoSuite(); }
    static void TearDownTestSuite() {
        delete suite;
        suite = nullptr;
    }

    static vlm::HostConfig config(const QString& branch) { return suite->config(branch); }
    static std::string file(const std::string& name) { return suite->dir().file(name); }
    // Writes an INI for `c` and returns its path.
    static QString writeIni(const vlm::HostConfig& c, const QString& name) {
        const QString path = QString::fromStdString(file(name.toStdString()));
        c.save(path);
        return path;
    }

    struct Run {
        int exitCode = -1;
        QString out;
    };
    // Runs build/bin/`program` with `args` in `cwd`; at most a minute.
    static Run run(const QString& program, const QStringList& args, const QString& cwd) {
        QProcess p;
        p.setWorkingDirectory(cwd);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(binDir() + "/" + program, args);
        if (!p.waitForStarted(10000))
            return {};
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished(5000);
            return {-1, program + " did not finish: " + QString::fromUtf8(p.readAll())};
        }
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAll())};
    }
    static Run runSuite(const QStringList& args, const QString& cwd) {
        return run(QStringLiteral("suite"), args, cwd);
    }

    static rqc::test::DemoSuite* suite;
};

rqc::test::DemoSuite* Suite::suite = nullptr;

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

TEST_F(Suite, TheJanelaMenuListsTheOpenScreensAndBringsOneForward) {
    HostUnderTest h(config("0002"));
    ASSERT_TRUE(h.window.openScreen("RQC04100"));
    ASSERT_TRUE(h.window.openScreen("RQC04200"));
    settle();
    auto* menu = h.window.findChild<QMenu*>("mnuJanela");
    ASSERT_NE(menu, nullptr);
    emit menu->aboutToShow();
    QStringList listed;
    QAction* first = nullptr;
    for (QAction* a : menu->actions()) {
        if (!a->isCheckable())
            continue;
        listed << a->text() + (a->isChecked() ? " *" : "");
        first = first != nullptr ? first : a;
    }
    EXPECT_EQ(listed,
              (QStringList{"&1 Consolidação de Solicitação", "&2 Consulta de Consolidação *"}));
    first->trigger();
    EXPECT_EQ(h.window.mdiArea()->activeSubWindow(), h.window.mdiArea()->subWindowList().at(0));
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
    const QString png = QString::fromStdString(file("suite.png"));
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
    // The host never makes the file: it names it and the command that does, and opens nothing.
    const Run refused = runSuite({"--screenshot", cwd.filePath("empty.png")}, cwd.path());
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_TRUE(refused.out.contains("var/rqc.db")) << refused.out.toStdString();
    EXPECT_TRUE(refused.out.contains("rqc-suitedb init --db")) << refused.out.toStdString();
    EXPECT_FALSE(QFileInfo::exists(cwd.filePath("var/rqc.db")));
    EXPECT_FALSE(QFileInfo::exists(cwd.filePath("empty.png")));

    const Run init = run("rqc-suitedb", {"init", "--db", "var/rqc.db", "--demo"}, cwd.path());
    ASSERT_EQ(init.exitCode, 0) << init.out.toStdString();
    const Run started = runSuite({"--screenshot", cwd.filePath("empty.png")}, cwd.path());
    ASSERT_EQ(started.exitCode, 0) << started.out.toStdString();
    auto db = rqc::suitedb::Connection::open(cwd.filePath("var/rqc.db").toStdString());
    auto rows = db->query("SELECT COUNT(*) FROM FILIAL");
    ASSERT_TRUE(rows->next());
    EXPECT_GT(rows->int64(0), 0);
}

TEST_F(Suite, ProgramRefusesBadStartsWithAClearMessage) {
    vlm::HostConfig badPort = config("0002");
    const QString good = writeIni(badPort, "good.ini");
    QFile::copy(good, QString::fromStdString(file("bad-engine.ini")));
    {
        QSettings s(QString::fromStdString(file("bad-engine.ini")), QSettings::IniFormat);
        s.setValue("Banco/Engine", "oracle");
    }
    vlm::HostConfig missingDb = config("0002");
    missingDb.dbPath = QString::fromStdString(file("nothere.db"));
    const QString missing = writeIni(missingDb, "missing-db.ini");

    struct Case {
        QStringList args;
        const char* mustMention;
    };
    const Case cases[] = {
        {{"--config", QString::fromStdString(file("bad-engine.ini"))}, "oracle"},
        {{"--config", missing}, "configure a seção [Banco]"},
        {{"--config", good, "--open", "XYZ12345"}, "Tela desconhecida: XYZ12345"},
        {{"--config", QString::fromStdString(file("absent.ini"))}, "absent.ini"},
    };
    for (const Case& c : cases) {
        const Run run =
            runSuite(c.args + QStringList{"--screenshot", QString::fromStdString(file("x.png"))},
                     QDir::tempPath());
        EXPECT_NE(run.exitCode, 0) << c.mustMention;
        EXPECT_TRUE(run.out.contains(c.mustMention)) << run.out.toStdString();
    }
}

TEST(SuiteIcon, IsTheMenuEntrysIconNotQts) {
    const QImage image = host::suiteIcon().pixmap(64, 64).toImage();
    ASSERT_EQ(image.size(), QSize(64, 64));
    EXPECT_EQ(image.pixelColor(8, 8), QColor(0x1f, 0x5f, 0x8b));    // the tile
    EXPECT_EQ(image.pixelColor(20, 20), QColor(Qt::white));         // a request slip
    EXPECT_EQ(image.pixelColor(49, 34), QColor(0xff, 0xd1, 0x66));  // the consolidated one
    EXPECT_EQ(image.pixelColor(1, 1).alpha(), 0);                   // rounded, on nothing
}

// Last of the file: the run consolidates requests of the shared demo database.
TEST_F(Suite, DemoRunConsolidatesThroughTheScreenAndSavesItsPictures) {
    const QString ini = writeIni(config("0001"), "demo.ini");
    const QString out = QString::fromStdString(file("demo"));
    const Run demo = run(QStringLiteral("rqc-demo-run"), {"--config", ini, out}, QDir::tempPath());
    ASSERT_EQ(demo.exitCode, 0) << demo.out.toStdString();
    EXPECT_TRUE(
        demo.out.contains(QString::fromUtf8("Solicitação consolidada foi gerada com o número ")))
        << demo.out.toStdString();
    for (const char* picture : {"demo-screen.png", "demo-picker.png", "demo-result.png"})
        EXPECT_FALSE(QImage(QDir(out).filePath(picture)).isNull()) << picture;
    // The script is not part of the suite program.
    EXPECT_NE(runSuite({"--config", ini, "--demo-run", out}, QDir::tempPath()).exitCode, 0);
}

}  // namespace
