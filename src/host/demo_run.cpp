#include "demo_run.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <iostream>

#include "host/main_window.h"
#include "vlm/vlm.h"

namespace host {

namespace {

constexpr int kRequestsPicked = 2;

// Answers the screen's dialogs for the script: real picker and message windows are built and
// photographed, the picker ticks the first rows, every message is pressed OK. The waiting
// animation and the rest go to the dialogs installed before.
class DemoDialogs : public vlm::Dialogs {
  public:
    DemoDialogs(QDir dir, vlm::Dialogs& fallback) : m_dir(std::move(dir)), m_fallback(fallback) {}

    QStringList messages;
    QStringList errors;

    int messageDialog(const QString& text, TMsgDlgType, TMsgDlgButtons, int) override {
        messages << text;
        QMessageBox box(QMessageBox::Question, QStringLiteral("Confirmação"), text, QMessageBox::Ok,
                        vlm::mainForm());
        box.show();
        QApplication::processEvents();
        save(box.grab(), QStringLiteral("demo-result.png"));
        return mrOk;
    }
    void error(const QString& text) override { errors << text; }
    bool pickList(TDataSet& data, const QString& keyField, const QString& title, bool tickAll,
                  QString& list) override {
        vlm::PickListDialog dialog(data, keyField, title, tickAll, list, vlm::mainForm());
        for (int row = 0; row < kRequestsPicked && row < data.RecordCount(); ++row)
            dialog.setTicked(row, true);
        dialog.show();
        QApplication::processEvents();
        save(dialog.grab(), QStringLiteral("demo-picker.png"));
        list = dialog.listText();
        return true;
    }
    bool pickOne(TDataSet& data, const QString& title) override {
        return m_fallback.pickOne(data, title);
    }
    void showWaiting(QWidget* owner, int kind, const QString& text) override {
        m_fallback.showWaiting(owner, kind, text);
    }
    void hideWaiting() override { m_fallback.hideWaiting(); }
    void showHelp(const QString& htmlFile, int context) override {
        m_fallback.showHelp(htmlFile, context);
    }

    void save(const QPixmap& picture, const QString& name) {
        const QString path = m_dir.filePath(name);
        if (picture.save(path))
            std::cout << "saved " << path.toStdString() << std::endl;
        else
            errors << QStringLiteral("cannot write %1").arg(path);
    }

  private:
    QDir m_dir;
    vlm::Dialogs& m_fallback;
};

template <class T>
T* control(QWidget* form, const char* name) {
    T* w = form->findChild<T*>(QString::fromLatin1(name));
    if (w == nullptr)
        throw std::runtime_error(std::string("the screen has no control ") + name);
    return w;
}

}  // namespace

int runDemo(MainWindow& window, const QString& dir) {
    QDir out(dir);
    if (!out.mkpath(QStringLiteral("."))) {
        std::cerr << "rqc-demo-run: cannot create " << dir.toStdString() << std::endl;
        return 1;
    }
    DemoDialogs dialogs(out, vlm::dialogs());
    vlm::ScopedDialogs scoped(dialogs);
    try {
        if (!window.openScreen(QStringLiteral("RQC04100")))
            throw std::runtime_error("the screen RQC04100 did not open");
        QApplication::processEvents();
        QMdiSubWindow* sub = window.mdiArea()->activeSubWindow();
        auto* form = sub != nullptr ? qobject_cast<TfrmRotiGeral*>(sub->widget()) : nullptr;
        if (form == nullptr)
            throw std::runtime_error("the screen is not the active window");

        const QDate today = QDate::currentDate();
        control<TDateEditPlus>(form, "depDataIni")->SetDate(vlm::toDateTime(today.addDays(-30)));
        control<TDateEditPlus>(form, "depDataFin")->SetDate(vlm::toDateTime(today.addDays(30)));
        control<TMaskEdit>(form, "medCdProdIni")->SetText(QStringLiteral("01"));
        control<TMaskEdit>(form, "medCdProdfin")->SetText(QStringLiteral("10"));
        control<TRadioButton>(form, "rbtListaSolicit")->click();
        control<TButtonFlat>(form, "sbtSolicitacao")->click();
        QApplication::processEvents();
        dialogs.save(window.grab(), QStringLiteral("demo-screen.png"));
        form->sbtConfirma->click();
        QApplication::processEvents();
    } catch (const std::exception& e) {
        dialogs.errors << QString::fromUtf8(e.what());
    }
    for (const QString& m : dialogs.messages)
        std::cout << m.toStdString() << std::endl;
    for (const QString& e : dialogs.errors)
        std::cerr << "rqc-demo-run: " << e.toStdString() << std::endl;
    const QString prefix = QStringLiteral("Solicitação consolidada foi gerada com o número ");
    const bool generated =
        !dialogs.messages.isEmpty() && dialogs.messages.last().startsWith(prefix);
    return generated && dialogs.errors.isEmpty() ? 0 : 1;
}

}  // namespace host
