// rqc-demo-run: the host with no one at the keyboard. Opens the screen RQC04100 in the host's
// window (offscreen when there is no display), runs one consolidation through it as a user's
// clicks would and prints its report; what run.sh does when there is no display.

#include <CLI/CLI.hpp>
#include <QApplication>
#include <QTimer>
#include <iostream>

#include "demo_run.h"
#include "host/login.h"
#include "host/main_window.h"
#include "host/module_loader.h"
#include "host/startup.h"
#include "names/names.h"
#include "vlm/dtm_db_geral.h"
#include "vlm/helpers.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("rqc-demo-run"));
    if (!host::installTranslations(app)) {
        std::cerr << "rqc-demo-run: Qt's Portuguese translation (qtbase_pt_BR) was not found"
                  << std::endl;
    }

    CLI::App cli{"One consolidation through the screen RQC04100, answered by a script"};
    std::string configPath;
    std::string dir;
    cli.add_option("--config", configPath, "host configuration (INI); default ./suite.ini")
        ->check(CLI::ExistingFile);
    cli.add_option("DIR", dir,
                   "folder for the pictures of the screen, the request picker and the result")
        ->required();
    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return cli.exit(e);
    }

    vlm::HostConfig config;
    TdtmDBGeral database;
    try {
        config = host::openSuiteDatabase(QString::fromStdString(configPath), database);
    } catch (const std::exception& e) {
        std::cerr << "rqc-demo-run: " << e.what() << std::endl;
        return 1;
    }
    // The login comes from RQC_OPERATOR and RQC_PASSWORD, else it is the demo operator's.
    const QString refusal =
        host::loginFromEnvironment(config, QString::fromLatin1(rqc::names::kDemoOperator),
                                   QString::fromLatin1(rqc::names::kDemoPassword));
    if (!refusal.isEmpty()) {
        std::cerr << "rqc-demo-run: " << refusal.toStdString() << std::endl;
        return 1;
    }

    host::ModuleLoader loader(QCoreApplication::applicationDirPath());
    host::MainWindow window(config.processingBranch, loader);
    vlm::setMainForm(&window);
    window.show();
    int rc = 1;
    QTimer::singleShot(0, &window, [&] {
        rc = host::runDemo(window, QString::fromStdString(dir));
        QApplication::exit(rc);
    });
    QApplication::exec();
    vlm::setMainForm(nullptr);
    return rc;
}
