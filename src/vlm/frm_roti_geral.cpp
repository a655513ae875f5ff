#include "frm_roti_geral.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QShortcut>
#include <QStyle>

#include "dialogs.h"
#include "helpers.h"

TfrmRotiGeral::TfrmRotiGeral(QWidget* parent)
    : QWidget(parent),
      lblCodTela(nullptr),
      grbDadosRel(nullptr),
      panMenu(nullptr),
      panHelp(nullptr),
      sbtHelp(nullptr),
      panBotoes(nullptr),
      sbtConfirma(nullptr),
      msgPadrao(new TMessages(this)) {
    setObjectName("frmRotiGeral");
    grbDadosRel = new TGroupBox(this);
    grbDadosRel->setObjectName("grbDadosRel");
    panMenu = new TPanel(this);
    panMenu->setObjectName("panMenu");

    panBotoes = new TPanel(panMenu);
    panBotoes->setObjectName("panBotoes");
    panBotoes->SetBevelOuter(TPanel::bvLowered);
    panBotoes->setGeometry(8, 8, 39, 45);
    sbtConfirma = new TButtonFlat(panBotoes);
    sbtConfirma->setObjectName("sbtConfirma");
    sbtConfirma->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
    sbtConfirma->SetHint(QStringLiteral("Confirmar"));
    sbtConfirma->setGeometry(2, 5, 35, 35);

    panHelp = new TPanel(panMenu);
    panHelp->setObjectName("panHelp");
    panHelp->SetBevelOuter(TPanel::bvLowered);
    panHelp->setGeometry(8, 59, 39, 37);
    sbtHelp = new TButtonFlat(panHelp);
    sbtHelp->setObjectName("sbtHelp");
    sbtHelp->setText(QStringLiteral("?"));
    sbtHelp->SetHint(QStringLiteral("Ajuda (F1)"));
    sbtHelp->setGeometry(2, 7, 35, 23);
    sbtHelp->OnClick = [this](QObject*) { ShowHelp(); };

    lblCodTela = new TLabel(panMenu);
    lblCodTela->setObjectName("lblCodTela");
    lblCodTela->setAlignment(Qt::AlignCenter);

    SetClientSize(535, 350, 480);

    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    f1->setContext(Qt::WidgetWithChildrenShortcut);
    connect(f1, &QShortcut::activated, this, [this] { vlm::dispatch([this] { ShowHelp(); }); });
    // Ctrl+Enter presses the confirm button (Enter of the keypad too), as a click does.
    for (const QKeySequence& keys :
         {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
        auto* confirm = new QShortcut(keys, this);
        confirm->setContext(Qt::WidgetWithChildrenShortcut);
        connect(confirm, &QShortcut::activated, this, [this] {
            if (sbtConfirma->isEnabled() && sbtConfirma->isVisibleTo(this))
                sbtConfirma->click();
        });
    }
}

TfrmRotiGeral::~TfrmRotiGeral() = default;

void TfrmRotiGeral::SetClientSize(int width, int height, int filterWidth) {
    setFixedSize(width, height);
    grbDadosRel->setGeometry(0, 0, filterWidth, height);
    panMenu->setGeometry(filterWidth, 0, width - filterWidth, height);
    lblCodTela->setGeometry(2, height - 18, width - filterWidth - 4, 13);
}

void TfrmRotiGeral::FormCreate(QObject* /*Sender*/) {}

void TfrmRotiGeral::FormClose(QObject* /*Sender*/, TCloseAction& Action) {
    Action = caFree;
}

void TfrmRotiGeral::FormActivate(QObject* /*Sender*/) {
    update();
}

void TfrmRotiGeral::DoCreate() {
    FormCreate(this);
    m_created = true;
    if (m_active)
        vlm::dispatch([this] { FormActivate(this); });
}

QMdiSubWindow* TfrmRotiGeral::subWindow() const {
    return qobject_cast<QMdiSubWindow*>(parentWidget());
}

QMdiSubWindow* TfrmRotiGeral::PlaceInMdiArea(Qt::WindowFlags flags) {
    if (QMdiSubWindow* sub = subWindow())
        return sub;
    QWidget* main = vlm::mainForm();
    if (main == nullptr)
        return nullptr;
    QMdiArea* area = qobject_cast<QMdiArea*>(main);
    if (area == nullptr)
        area = main->findChild<QMdiArea*>();
    if (area == nullptr)
        return nullptr;
    QMdiSubWindow* sub = area->addSubWindow(this, flags);
    // A form of fixed size keeps its frame at its own size: tiling or maximising moves the
    // frame, and never leaves the form floating inside a larger one.
    if (minimumSize() == maximumSize())
        sub->setFixedSize(sub->sizeHint());
    return sub;
}

bool TfrmRotiGeral::Close() {
    if (QMdiSubWindow* sub = subWindow())
        return sub->close();
    return close();
}

void TfrmRotiGeral::ShowInFront() {
    // Restoring a maximised sub-window hands the focus to the first control of the chain; the
    // control the user was in takes it back, without an exit.
    QWidget* now = QApplication::focusWidget();
    const QPointer<QWidget> kept = now != nullptr && isAncestorOf(now) ? now : nullptr;
    if (QMdiSubWindow* sub = subWindow()) {
        show();
        sub->showNormal();
        sub->raise();
        if (QMdiArea* area = sub->mdiArea())
            area->setActiveSubWindow(sub);
    } else {
        showNormal();
        raise();
        activateWindow();
    }
    if (kept != nullptr && kept != QApplication::focusWidget() && kept->isEnabled() &&
        kept->isVisible())
        kept->setFocus(Qt::OtherFocusReason);
}

void TfrmRotiGeral::ShowHelp() {
    const QString page = vlm::helpPagePath(HelpContext);
    if (page.isEmpty()) {
        MensErro(QStringLiteral("Página de ajuda %1.html não encontrada.").arg(HelpContext), false);
        return;
    }
    vlm::dialogs().showHelp(page, HelpContext);
}

void TfrmRotiGeral::closeEvent(QCloseEvent* e) {
    TCloseAction action = caHide;
    try {
        FormClose(this, action);
    } catch (...) {
        vlm::showCurrentException();
        action = caNone;
    }
    switch (action) {
        case caNone:
            e->ignore();
            return;
        case caMinimize:
            e->ignore();
            if (QMdiSubWindow* sub = subWindow()) {
                sub->showMinimized();
            } else {
                showMinimized();
            }
            return;
        case caFree:
            e->accept();
            deleteLater();
            return;
        case caHide:
            e->accept();
            return;
    }
}

bool TfrmRotiGeral::event(QEvent* e) {
    switch (e->type()) {
        case QEvent::ParentChange:
            hookSubWindow();
            break;
        case QEvent::WindowActivate:
            if (subWindow() == nullptr && isWindow())
                activated(true);
            break;
        case QEvent::WindowDeactivate:
            if (subWindow() == nullptr && isWindow())
                activated(false);
            break;
        default:
            break;
    }
    return QWidget::event(e);
}

void TfrmRotiGeral::hookSubWindow() {
    QMdiSubWindow* sub = subWindow();
    if (sub == m_hookedSubWindow)
        return;
    if (m_hookedSubWindow != nullptr)
        disconnect(m_hookedSubWindow, nullptr, this, nullptr);
    m_hookedSubWindow = sub;
    if (sub == nullptr)
        return;
    connect(sub, &QMdiSubWindow::windowStateChanged, this,
            [this](Qt::WindowStates before, Qt::WindowStates now) {
                const bool was = before.testFlag(Qt::WindowActive);
                const bool is = now.testFlag(Qt::WindowActive);
                if (is != was)
                    activated(is);
            });
    connect(sub, &QObject::destroyed, this, [this] { m_hookedSubWindow = nullptr; });
}

void TfrmRotiGeral::activated(bool active) {
    m_active = active;
    if (active && m_created)
        vlm::dispatch([this] { FormActivate(this); });
}
