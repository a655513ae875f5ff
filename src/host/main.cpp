// suite: the host application. Reads its configuration, opens the suite database, and opens
// screens from its menu (or from --open at start) by loading their modules.

#include <CLI/CLI.hpp>
#include <QApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>
#include <iostream>
#include <memory>

#include "host/login.h"
#include "host/main_window.h"
#include "host/module_loader.h"
#include "host/startup.h"
#include "vlm/dialogs.h"
#include "vlm/dtm_db_geral.h"
#include "vlm/helpers.h"

namespace {

// How long a --screenshot run waits for the screens to settle, and at most for a modal
// dialog that nobody will answer.
constexpr int kSettleMs = 300;
constexpr int kGiveUpMs = 10000;

int fail(const QString& text, bool interactive) {
    std::cerr << "suite: " << text.toStdString() << std::endl;
    if (interactive)
        vlm::dialogs().error(text);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("suite"));
    QApplication::setApplicationVersion(QStringLiteral("0.1.0"));
    QApplication::setWindowIcon(host::suiteIcon());
    if (!host::installTranslations(app))
        std::cerr << "suite: Qt's Portuguese translation (qtbase_pt_BR) was not found" << std::endl;

    CLI::App cli{"Suíte de Compras: the host application"};
    std::string configPath;
    std::vector<std::string> open;
    std::string screenshot;
    cli.add_option("--config", configPath, "host configuration (INI); default ./suite.ini")
        ->check(CLI::ExistingFile);
    cli.add_option("--open", open, "screen code to open at start, e.g. RQC04100");
    std::string number;
    cli.add_option("--number", number,
                   "open the screens of --open on this consolidation number (RQC04200)")
        ->needs("--open");
    cli.add_option("--screenshot", screenshot,
                   "after opening, save a picture of the main window to this file and exit");
    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return cli.exit(e);
    }
    const bool interactive = screenshot.empty();
    for (const std::string& code : open) {
        if (host::findScreenModule(QString::fromStdString(code)) == nullptr) {
            return fail(QStringLiteral("Tela desconhecida: %1.").arg(QString::fromStdString(code)),
                        false);
        }
    }

    vlm::HostConfig config;
    TdtmDBGeral database;
    try {
        config = host::openSuiteDatabase(QString::fromStdString(configPath), database);
    } catch (const std::exception& e) {
        return fail(QString::fromUtf8(e.what()), interactive);
    }

    // The operator logs in before any screen opens: at the dialog when interactive; a run
    // without a window that opens a screen takes RQC_OPERATOR and RQC_PASSWORD.
    if (interactive) {
        if (!host::askLogin(config, vlm::dialogs(), qEnvironmentVariable("RQC_OPERATOR")))
            return 0;
    } else if (!open.empty()) {
        const QString refusal = host::loginFromEnvironment(config);
        if (!refusal.isEmpty())
            return fail(refusal, false);
    }

    host::ModuleLoader loader(QCoreApplication::applicationDirPath());
    host::MainWindow window(config.processingBranch, loader);
    vlm::setMainForm(&window);
    window.show();

    bool opened = true;
    QTimer::singleShot(0, &window, [&] {
        for (const std::string& code : open) {
            opened =
                window.openScreen(QString::fromStdString(code), QString::fromStdString(number)) &&
                opened;
        }
        if (interactive)
            return;
        QTimer::singleShot(kSettleMs, &window, [&] {
            const bool saved = window.grab().save(QString::fromStdString(screenshot));
            if (!saved)
                std::cerr << "suite: cannot write " << screenshot << std::endl;
            QApplication::exit(saved && opened ? 0 : 1);
        });
    });
    if (!interactive) {
        // A modal dialog nobody answers must not hold a headless run forever.
        QTimer::singleShot(kGiveUpMs, &window, [&] {
            std::cerr << "suite: gave up waiting for the screens to open" << std::endl;
            window.grab().save(QString::fromStdString(screenshot));
            QApplication::exit(2);
        });
    }
    const int rc = QApplication::exec();
    vlm::setMainForm(nullptr);
    return rc;
}
