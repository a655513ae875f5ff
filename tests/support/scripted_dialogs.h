#pragma once
// Dialogs for tests of logic: ScriptedDialogs records every dialog the package shows and
// answers from queues, so that a test runs the real screens without anyone at the keyboard.

#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include "vlm/dialogs.h"
#include "vlm/messages.h"

namespace vlm {

// One dialog as ScriptedDialogs saw it.
struct ShownDialog {
    enum Kind { Message, Error, PickList, PickOne, WaitingShown, WaitingHidden, Help, Login };
    Kind kind = Message;
    QString text;  // message, error or waiting text; picker title; help file; login refusal
    TMsgDlgType type = mtInformation;
    TMsgDlgButtons buttons;
    int helpContext = 0;  // also the animation kind of WaitingShown
    int result = 0;       // the modal result (Message) or 1 OK / 0 Cancel (pickers)
};

// Records every dialog in `shown` and answers from queues. An empty message queue answers
// mrOk when OK is offered, else mrYes; an empty pick queue answers Cancel.
class ScriptedDialogs : public Dialogs {
  public:
    std::vector<ShownDialog> shown;

    void queueMessageAnswer(int modalResult) { m_messageAnswers.push_back(modalResult); }
    // Ticks these rows (0-based) and presses OK; nullopt presses Cancel.
    void queueListPick(std::optional<std::vector<int>> rows) { m_listPicks.push_back(rows); }
    // Picks this row (0-based) and presses OK; -1 presses Cancel.
    void queuePick(int row) { m_picks.push_back(row); }
    // Answers the next login with this code and password; an empty queue gives up (Esc).
    void queueLogin(QString code, QString password) {
        m_logins.emplace_back(std::move(code), std::move(password));
    }
    // Answers the next file dialogs in order; an empty queue gives up ("").
    void queueSaveFile(QString path) { m_saveFiles.push_back(std::move(path)); }
    QStringList saveTitles;  // titles of the file dialogs asked, in order

    bool waitingVisible() const { return m_waiting; }
    QString waitingText() const { return m_waitingText; }
    // Texts of the shown dialogs of one kind, in order.
    QStringList texts(ShownDialog::Kind kind) const;
    void clear() { shown.clear(); }

    int messageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons,
                      int helpContext) override;
    void error(const QString& text) override;
    // A ticked row outside `data` throws std::out_of_range.
    bool pickList(TDataSet& data, const QString& keyField, const QString& title, bool tickAll,
                  QString& list) override;
    bool pickOne(TDataSet& data, const QString& title) override;
    void showWaiting(QWidget* owner, int kind, const QString& text) override;
    void hideWaiting() override;
    void showHelp(const QString& htmlFile, int context) override;
    bool login(QString& operatorCode, QString& password, const QString& refusal) override;
    QString saveFileName(const QString& title, const QString& suggested,
                         const QString& filter) override;

  private:
    std::deque<QString> m_saveFiles;
    std::deque<int> m_messageAnswers;
    std::deque<std::optional<std::vector<int>>> m_listPicks;
    std::deque<int> m_picks;
    std::deque<std::pair<QString, QString>> m_logins;
    bool m_waiting = false;
    QString m_waitingText;
};

}  // namespace vlm
