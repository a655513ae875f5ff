#include "scripted_dialogs.h"

#include <stdexcept>
#include <string>
#include <tuple>

#include "vlm/data_set.h"

namespace vlm {

QStringList ScriptedDialogs::texts(ShownDialog::Kind kind) const {
    QStringList out;
    for (const auto& s : shown) {
        if (s.kind == kind)
            out << s.text;
    }
    return out;
}

int ScriptedDialogs::messageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons,
                                   int helpContext) {
    int answer;
    if (!m_messageAnswers.empty()) {
        answer = m_messageAnswers.front();
        m_messageAnswers.pop_front();
    } else {
        answer = buttons.contains(mbOK) || buttons.mask == 0 ? mrOk : mrYes;
    }
    shown.push_back({ShownDialog::Message, text, type, buttons, helpContext, answer});
    return answer;
}

void ScriptedDialogs::error(const QString& text) {
    shown.push_back({ShownDialog::Error, text, mtError, {mbOK}, 0, mrOk});
}

bool ScriptedDialogs::pickList(TDataSet& data, const QString& keyField, const QString& title,
                               bool /*tickAll*/, QString& list) {
    std::optional<std::vector<int>> rows;
    if (!m_listPicks.empty()) {
        rows = m_listPicks.front();
        m_listPicks.pop_front();
    }
    shown.push_back({ShownDialog::PickList, title, mtCustom, {}, 0, rows ? 1 : 0});
    if (!rows)
        return false;
    const int key = data.FieldByName(keyField)->index();
    QStringList values;
    for (int r : *rows) {
        if (r < 0 || r >= data.RecordCount()) {
            throw std::out_of_range("scripted list pick: row " + std::to_string(r) +
                                    " is not in the data set");
        }
        auto cell = data.value(r, key);
        if (cell)
            values << *cell;
    }
    list = listText(values);
    return true;
}

bool ScriptedDialogs::pickOne(TDataSet& data, const QString& title) {
    int row = -1;
    if (!m_picks.empty()) {
        row = m_picks.front();
        m_picks.pop_front();
    }
    shown.push_back({ShownDialog::PickOne, title, mtCustom, {}, 0, row >= 0 ? 1 : 0});
    if (row < 0)
        return false;
    data.MoveTo(row);
    return true;
}

void ScriptedDialogs::showWaiting(QWidget* /*owner*/, int kind, const QString& text) {
    m_waiting = true;
    m_waitingText = text;
    shown.push_back({ShownDialog::WaitingShown, text, mtCustom, {}, kind, 0});
}

void ScriptedDialogs::hideWaiting() {
    if (!m_waiting)
        return;
    m_waiting = false;
    shown.push_back({ShownDialog::WaitingHidden, m_waitingText, mtCustom, {}, 0, 0});
}

void ScriptedDialogs::showHelp(const QString& htmlFile, int context) {
    shown.push_back({ShownDialog::Help, htmlFile, mtCustom, {}, context, 0});
}

bool ScriptedDialogs::login(QString& operatorCode, QString& password, const QString& refusal) {
    ShownDialog d;
    d.kind = ShownDialog::Login;
    d.text = refusal;
    d.result = m_logins.empty() ? 0 : 1;
    shown.push_back(d);
    if (m_logins.empty())
        return false;
    std::tie(operatorCode, password) = m_logins.front();
    m_logins.pop_front();
    return true;
}

QString ScriptedDialogs::saveFileName(const QString& title, const QString& /*suggested*/,
                                      const QString& /*filter*/) {
    saveTitles.append(title);
    if (m_saveFiles.empty())
        return {};
    QString path = m_saveFiles.front();
    m_saveFiles.pop_front();
    return path;
}

}  // namespace vlm
