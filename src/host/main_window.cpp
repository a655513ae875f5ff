#include "main_window.h"

#include <QActionGroup>
#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include "login.h"
#include "password_dialog.h"
#include "vlm/dialogs.h"
#include "vlm/host_config.h"
#include "vlm/messages.h"
#include "vlm/net_connection.h"

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
    QAction* password = file->addAction(QStringLiteral("Alterar &senha..."));
    password->setObjectName(QStringLiteral("actAlteraSenha"));
    connect(password, &QAction::triggered, this, &MainWindow::changePassword);
    file->addSeparator();
    QAction* exit = file->addAction(QStringLiteral("Sai&r"));
    exit->setShortcut(QKeySequence::Quit);
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* screens = menuBar()->addMenu(QStringLiteral("&Compras"));
    for (const ScreenModule& m : screenModules()) {
        QAction* a = screens->addAction(m.title);
        a->setObjectName(QStringLiteral("act") + m.code);
        const QString code = m.code;
        connect(a, &QAction::triggered, this, [this, code] { openScreen(code); });
    }

    m_windows = menuBar()->addMenu(QStringLiteral("&Janela"));
    m_windows->setObjectName(QStringLiteral("mnuJanela"));
    connect(m_windows, &QMenu::aboutToShow, this, &MainWindow::fillWindowMenu);
    fillWindowMenu();

    QMenu* help = menuBar()->addMenu(QStringLiteral("A&juda"));
    connect(help->addAction(QStringLiteral("&Sobre")), &QAction::triggered, this,
            &MainWindow::showAbout);

    m_operator = new QLabel(this);
    m_operator->setObjectName(QStringLiteral("lblOperador"));
    statusBar()->addPermanentWidget(m_operator);
    showOperator();

    // The empty area offers the screens of the menu until one is open.
    m_start = new QFrame(m_mdi->viewport());
    m_start->setObjectName(QStringLiteral("panTelas"));
    m_start->setAutoFillBackground(true);
    static_cast<QFrame*>(m_start)->setFrameShape(QFrame::StyledPanel);
    auto* startLayout = new QVBoxLayout(m_start);
    auto* startTitle = new QLabel(QStringLiteral("<b>Telas da suíte</b> (também no menu Compras)"));
    startLayout->addWidget(startTitle);
    for (const ScreenModule& m : screenModules()) {
        auto* b = new QPushButton(QStringLiteral("%1 — %2").arg(m.code, m.title), m_start);
        b->setObjectName(QStringLiteral("btnTela") + m.code);
        b->setAccessibleName(m.title);
        const QString code = m.code;
        connect(b, &QPushButton::clicked, this, [this, code] { openScreen(code); });
        startLayout->addWidget(b);
    }
    m_start->adjustSize();
    m_mdi->viewport()->installEventFilter(this);
    connect(m_mdi, &QMdiArea::subWindowActivated, this, [this] { showStartPanel(); });
    showStartPanel();

    resize(1000, 680);
}

// The area's sub-windows close as the base class destroys its children: their signals and the
// viewport's events must not reach this window's handlers then.
MainWindow::~MainWindow() {
    m_mdi->viewport()->removeEventFilter(this);
    disconnect(m_mdi, nullptr, this, nullptr);
}

void MainWindow::showStartPanel() {
    const bool none = m_mdi->subWindowList().isEmpty();
    m_start->setVisible(none);
    if (!none)
        return;
    const QSize area = m_mdi->viewport()->size();
    m_start->move((area.width() - m_start->width()) / 2, (area.height() - m_start->height()) / 3);
    m_start->raise();
    if (auto* first = m_start->findChild<QPushButton*>(); first != nullptr && !m_mdi->hasFocus())
        first->setFocus(Qt::OtherFocusReason);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_mdi->viewport() &&
        (event->type() == QEvent::Resize || event->type() == QEvent::ChildRemoved))
        showStartPanel();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::showOperator() {
    const QString code = TNetConnection::SessionOperator();
    const QString name = operatorName(code);
    m_operator->setText(code.isEmpty()   ? QStringLiteral("Nenhum operador conectado")
                        : name.isEmpty() ? QStringLiteral("Operador: %1").arg(code)
                                         : QStringLiteral("Operador: %1 — %2").arg(code, name));
}

void MainWindow::fillWindowMenu() {
    qDeleteAll(m_windows->findChildren<QActionGroup*>(Qt::FindDirectChildrenOnly));
    m_windows->clear();
    const QList<QMdiSubWindow*> open = m_mdi->subWindowList();
    QAction* cascade =
        m_windows->addAction(QStringLiteral("&Cascata"), m_mdi, &QMdiArea::cascadeSubWindows);
    QAction* tile =
        m_windows->addAction(QStringLiteral("&Lado a lado"), m_mdi, &QMdiArea::tileSubWindows);
    QAction* next =
        m_windows->addAction(QStringLiteral("&Próxima"), m_mdi, &QMdiArea::activateNextSubWindow);
    for (QAction* a : {cascade, tile, next})
        a->setEnabled(!open.isEmpty());
    if (open.isEmpty())
        return;
    m_windows->addSeparator();
    auto* group = new QActionGroup(m_windows);
    for (int i = 0; i < open.size(); ++i) {
        QMdiSubWindow* sub = open[i];
        const QString title =
            sub->widget() != nullptr ? sub->widget()->windowTitle() : sub->windowTitle();
        const QString text = i < 9 ? QStringLiteral("&%1 %2").arg(i + 1).arg(title)
                                   : QStringLiteral("%1 %2").arg(i + 1).arg(title);
        QAction* a = m_windows->addAction(text);
        a->setCheckable(true);
        a->setChecked(sub == m_mdi->activeSubWindow());
        group->addAction(a);
        connect(a, &QAction::triggered, m_mdi, [this, sub] { m_mdi->setActiveSubWindow(sub); });
    }
}

void MainWindow::changePassword() {
    const vlm::HostConfig config = vlm::hostConfig();
    PasswordDialog dialog(
        [config](const QString& current, const QString& fresh, const QString& repeated) {
            return host::changePassword(config, current, fresh, repeated);
        },
        this);
    if (dialog.exec() == QDialog::Accepted)
        MessageDlg(QStringLiteral("Senha alterada."), mtInformation, {mbOK}, 0);
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
