#include "main_window.h"

#include <QApplication>
#include <QMdiArea>
#include <QMenuBar>
#include <QMessageBox>

#include "vlm/dialogs.h"

namespace host {

MainWindow::MainWindow(const QString& processingBranch, ModuleLoader& loader)
    : m_loader(loader), m_mdi(new QMdiArea(this)) {
    setObjectName(QStringLiteral("frmPrincipal"));
    setWindowTitle(
        QStringLiteral("Suíte de Compras — Filial de processamento %1").arg(processingBranch));
    m_mdi->setObjectName(QStringLiteral("mdiArea"));
    m_mdi->setBackground(QColor(128, 128, 128));
    setCentralWidget(m_mdi);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&Arquivo"));
    QAction* exit = file->addAction(QStringLiteral("&Sair"));
    exit->setShortcut(QKeySequence::Quit);
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* screens = menuBar()->addMenu(QStringLiteral("&Compras"));
    for (const ScreenModule& m : screenModules()) {
        QAction* a = screens->addAction(m.title);
        a->setObjectName(QStringLiteral("act") + m.code);
        const QString code = m.code;
        connect(a, &QAction::triggered, this, [this, code] { openScreen(code); });
    }

    QMenu* windows = menuBar()->addMenu(QStringLiteral("&Janela"));
    connect(windows->addAction(QStringLiteral("&Cascata")), &QAction::triggered, m_mdi,
            &QMdiArea::cascadeSubWindows);
    connect(windows->addAction(QStringLiteral("&Lado a lado")), &QAction::triggered, m_mdi,
            &QMdiArea::tileSubWindows);

    QMenu* help = menuBar()->addMenu(QStringLiteral("A&juda"));
    connect(help->addAction(QStringLiteral("&Sobre")), &QAction::triggered, this,
            &MainWindow::showAbout);

    resize(1000, 680);
}

bool MainWindow::openScreen(const QString& code, const QString& number) {
    const ScreenModule* module = findScreenModule(code);
    if (module == nullptr) {
        vlm::dialogs().error(QStringLiteral("Tela desconhecida: %1.").arg(code));
        return false;
    }
    return number.isEmpty() ? m_loader.open(*module) : m_loader.openOnNumber(*module, number);
}

void MainWindow::showAbout() {
    QMessageBox::about(
        this, QStringLiteral("Sobre"),
        QStringLiteral("<b>Suíte de Compras</b><br>Versão %1<br>"
                       "Telas: Consolidação de Solicitação (RQC04100), Consulta de Consolidação "
                       "(RQC04200).")
            .arg(QApplication::applicationVersion()));
}

}  // namespace host
