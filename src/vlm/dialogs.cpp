#include "dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSpacerItem>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "controls.h"
#include "data_set.h"
#include "helpers.h"
#include "login_dialog.h"
#include "pick_dialogs.h"

namespace vlm {

Dialogs::~Dialogs() = default;

QString Dialogs::saveFileName(const QString& title, const QString& suggested,
                              const QString& filter) {
    return QFileDialog::getSaveFileName(vlm::mainForm(), title, suggested, filter);
}

QSettings& userState() {
    static QSettings state(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("rqc"),
                           QStringLiteral("suite-estado"));
    return state;
}

QString askSavePath(const QString& title, const QString& fileName, const QString& filter) {
    const QString folder = userState().value(QStringLiteral("ultimaPasta")).toString();
    const QDir dir(!folder.isEmpty() && QDir(folder).exists() ? folder : QDir::homePath());
    const QString path = dialogs().saveFileName(title, dir.filePath(fileName), filter);
    if (!path.isEmpty()) {
        userState().setValue(QStringLiteral("ultimaPasta"), QFileInfo(path).absolutePath());
        userState().sync();
    }
    return path;
}

bool Dialogs::login(QString& operatorCode, QString& password, const QString& refusal) {
    LoginDialog dialog(operatorCode, refusal, QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted)
        return false;
    operatorCode = dialog.operatorCode();
    password = dialog.password();
    return true;
}

QString listText(const QStringList& values) {
    QStringList items;
    for (const QString& v : values) {
        QString t = v.trimmed();
        if (!t.isEmpty())
            items << t;
    }
    return items.join(',');
}

QStringList listValues(const QString& list) {
    QStringList out;
    for (const QString& item : list.split(',')) {
        QString t = item.trimmed();
        if (!t.isEmpty())
            out << t;
    }
    return out;
}

namespace {

QWidget* dialogParent() {
    if (QWidget* w = QApplication::activeModalWidget())
        return w;
    if (QWidget* w = mainForm())
        return w;
    return QApplication::activeWindow();
}

int g_silenceNoticeMs = 30000;

// The waiting window: a frameless box with the moving indicator, the text and the seconds
// elapsed, over its owner.
class WaitingWindow : public QFrame {
  public:
    explicit WaitingWindow(QWidget* owner)
        : QFrame(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
        setObjectName("vlmWaiting");
        setAttribute(Qt::WA_ShowWithoutActivating);
        setFrameStyle(QFrame::Box | QFrame::Plain);
        setLineWidth(1);
        setAutoFillBackground(true);
        auto* lay = new QHBoxLayout(this);
        lay->setContentsMargins(18, 14, 22, 14);
        lay->setSpacing(14);
        m_anim = new TAnimate(this);
        m_anim->setObjectName("indicator");
        m_anim->setFixedSize(40, 40);
        m_label = new QLabel(this);
        m_label->setObjectName("text");
        m_label->setWordWrap(true);
        m_label->setMinimumWidth(220);
        m_label->setMaximumWidth(420);
        QFont f = m_label->font();
        f.setPointSizeF(f.pointSizeF() * 1.1);
        m_label->setFont(f);
        m_elapsedLabel = new QLabel(this);
        m_elapsedLabel->setObjectName("elapsed");
        m_notice = new QLabel(this);
        m_notice->setObjectName("notice");
        m_notice->setWordWrap(true);
        m_notice->setMaximumWidth(420);
        m_notice->setStyleSheet(QStringLiteral("color: #a00000;"));
        m_notice->hide();
        auto* texts = new QVBoxLayout;
        texts->setSpacing(6);
        texts->addWidget(m_label);
        texts->addWidget(m_elapsedLabel);
        texts->addWidget(m_notice);
        lay->addWidget(m_anim, 0, Qt::AlignVCenter);
        lay->addLayout(texts, 1);
        m_tick = new QTimer(this);
        m_tick->setInterval(250);
        connect(m_tick, &QTimer::timeout, this, [this] { updateElapsed(); });
    }
    void setText(int kind, const QString& t) {
        m_anim->CommonAVI = kind;
        m_label->setText(t);
        adjustSize();
    }
    void start() {
        m_anim->Play();
        if (!m_clock.isValid())
            m_clock.start();
        updateElapsed();
        m_tick->start();
    }

    // Centred over `owner` (its window's screen when it has none).
    void place(QWidget* owner) {
        QPoint centre;
        if (owner != nullptr) {
            centre = owner->mapToGlobal(owner->rect().center());
        } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
            centre = screen->availableGeometry().center();
        }
        move(centre - QPoint(width() / 2, height() / 2));
    }

  private:
    void updateElapsed() {
        const qint64 ms = m_clock.elapsed();
        m_elapsedLabel->setText(QStringLiteral("Aguardando há %1 s").arg(ms / 1000));
        if (ms < g_silenceNoticeMs)
            return;
        // Said of every call alike: whether it writes is told by the caller's own text.
        m_notice->setText(QStringLiteral("O servidor de aplicação não responde há %1 s; a "
                                         "operação continua aguardando a resposta.")
                              .arg(ms / 1000));
        if (m_notice->isHidden()) {
            m_notice->show();
            adjustSize();
        }
    }

    TAnimate* m_anim;
    QLabel* m_label;
    QLabel* m_elapsedLabel;
    QLabel* m_notice;
    QTimer* m_tick;
    QElapsedTimer m_clock;
};

// A message box at least as wide as its title needs beside the window manager's buttons, so
// that a short message does not leave the title cut ("Info…ção").
void fitTitle(QMessageBox& box) {
    constexpr int kFrameButtons = 150;
    const int wanted = box.fontMetrics().horizontalAdvance(box.windowTitle()) + kFrameButtons;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
}

class QtDialogs final : public Dialogs {
  public:
    int messageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons,
                      int /*helpContext*/) override {
        QMessageBox box(dialogParent());
        static const char* const titles[] = {"Aviso", "Erro", "Informação", "Confirmação",
                                             "Mensagem"};
        static const QMessageBox::Icon icons[] = {QMessageBox::Warning, QMessageBox::Critical,
                                                  QMessageBox::Information, QMessageBox::Question,
                                                  QMessageBox::NoIcon};
        int t = (type >= mtWarning && type <= mtCustom) ? type : mtCustom;
        box.setWindowTitle(QString::fromUtf8(titles[t]));
        box.setIcon(icons[t]);
        box.setText(text);
        QAbstractButton* yes = nullptr;
        QAbstractButton* no = nullptr;
        QAbstractButton* ok = nullptr;
        if (buttons.contains(mbYes))
            yes = box.addButton(QStringLiteral("Sim"), QMessageBox::YesRole);
        if (buttons.contains(mbNo))
            no = box.addButton(QStringLiteral("Não"), QMessageBox::NoRole);
        if (buttons.contains(mbOK) || (!yes && !no)) {
            ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        }
        QAbstractButton* const byDefault = buttons.defaultButton == mbYes  ? yes
                                           : buttons.defaultButton == mbNo ? no
                                           : buttons.defaultButton == mbOK ? ok
                                                                           : nullptr;
        if (auto* push = qobject_cast<QPushButton*>(byDefault))
            box.setDefaultButton(push);
        fitTitle(box);
        box.exec();
        QAbstractButton* clicked = box.clickedButton();
        if (clicked == nullptr)
            return mrCancel;
        if (clicked == yes)
            return mrYes;
        if (clicked == no)
            return mrNo;
        if (clicked == ok)
            return mrOk;
        return mrCancel;
    }

    void error(const QString& text) override {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Erro"), text, QMessageBox::NoButton,
                        dialogParent());
        box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        fitTitle(box);
        box.exec();
    }

    bool pickList(TDataSet& data, const QString& keyField, const QString& title, bool tickAll,
                  QString& list) override {
        PickListDialog dlg(data, keyField, title, tickAll, list, dialogParent());
        if (dlg.exec() != QDialog::Accepted)
            return false;
        list = dlg.listText();
        return true;
    }

    bool pickOne(TDataSet& data, const QString& title) override {
        PickOneDialog dlg(data, title, dialogParent());
        if (dlg.exec() != QDialog::Accepted || dlg.pickedRow() < 0)
            return false;
        data.MoveTo(dlg.pickedRow());
        return true;
    }

    void showWaiting(QWidget* owner, int kind, const QString& text) override {
        if (owner == nullptr)
            owner = mainForm();
        if (m_waiting == nullptr)
            m_waiting = new WaitingWindow(owner != nullptr ? owner->window() : nullptr);
        m_waiting->setText(kind, text);
        m_waiting->place(owner);
        m_waiting->show();
        m_waiting->raise();
        m_waiting->start();
        // Painted now: the caller blocks the event loop right after.
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        m_waiting->repaint();
    }

    void hideWaiting() override {
        if (m_waiting == nullptr)
            return;
        delete m_waiting.data();
    }

    void showHelp(const QString& htmlFile, int /*context*/) override {
        if (m_help == nullptr) {
            m_help = new QDialog(mainForm(), Qt::Window);
            m_help->setAttribute(Qt::WA_DeleteOnClose);
            m_help->setObjectName("vlmHelp");
            auto* lay = new QVBoxLayout(m_help);
            auto* browser = new QTextBrowser(m_help);
            browser->setObjectName("vlmHelpBrowser");
            browser->setOpenExternalLinks(false);
            lay->addWidget(browser);
            m_help->resize(640, 480);
        }
        auto* browser = m_help->findChild<QTextBrowser*>("vlmHelpBrowser");
        browser->setSource(QUrl::fromLocalFile(htmlFile));
        // The page's own title names the screen; the context number means nothing to a buyer.
        const QString page = browser->documentTitle();
        m_help->setWindowTitle(page.isEmpty() ? QStringLiteral("Ajuda")
                                              : QStringLiteral("Ajuda - %1").arg(page));
        m_help->show();
        m_help->raise();
        m_help->activateWindow();
    }

  private:
    QPointer<WaitingWindow> m_waiting;
    QPointer<QDialog> m_help;
};

QtDialogs& qtDialogs() {
    static QtDialogs d;
    return d;
}

Dialogs* g_installed = nullptr;

}  // namespace

Dialogs& dialogs() {
    return g_installed ? *g_installed : qtDialogs();
}

Dialogs* setDialogs(Dialogs* d) {
    Dialogs* previous = g_installed;
    g_installed = d;
    return previous;
}

Dialogs& standardDialogs() {
    return qtDialogs();
}

int waitingSilenceNoticeMs() {
    return g_silenceNoticeMs;
}

void setWaitingSilenceNoticeMs(int ms) {
    g_silenceNoticeMs = ms;
}

}  // namespace vlm
