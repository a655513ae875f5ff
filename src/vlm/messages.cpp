#include "messages.h"

#include <stdexcept>

#include "dialogs.h"

TMsgDlgButtons::TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> buttons) {
    for (TMsgDlgBtn b : buttons)
        mask |= 1u << b;
}

TMsgDlgButtons TMsgDlgButtons::fromMask(unsigned m) {
    TMsgDlgButtons b;
    b.mask = m;
    return b;
}

int MessageDlg(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) {
    return vlm::dialogs().messageDialog(text, type, buttons, helpContext);
}

int MessageDlg(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext,
               TMsgDlgBtn defaultButton) {
    buttons.defaultButton = defaultButton;
    return vlm::dialogs().messageDialog(text, type, buttons, helpContext);
}

void MensErro(const QString& text, bool abort) {
    vlm::dialogs().error(text);
    if (abort)
        throw EAbort();
}

namespace vlm {

void showCurrentException() noexcept {
    try {
        try {
            throw;
        } catch (const EAbort&) {
        } catch (const std::exception& e) {
            dialogs().error(QString::fromUtf8(e.what()));
        } catch (...) {
            dialogs().error(QStringLiteral("Erro desconhecido."));
        }
    } catch (...) {
        // The error dialog itself failed: nothing more can be shown.
    }
}

void dispatch(const std::function<void()>& handler) noexcept {
    try {
        if (handler)
            handler();
    } catch (...) {
        showCurrentException();
    }
}

}  // namespace vlm

TMessages::TMessages(QObject* parent) : QObject(parent) {
    setObjectName("msgPadrao");
}

void TMessages::SetLines(const QStringList& lines) {
    QHash<QString, QString> texts;
    for (int i = 0; i < lines.size(); ++i) {
        const QString& line = lines[i];
        if (line.isEmpty())
            continue;
        int bar = line.indexOf('|');
        if (bar < 0) {
            throw std::invalid_argument("message catalogue line " + std::to_string(i + 1) +
                                        " has no '|' between key and text: \"" +
                                        line.toStdString() + "\"");
        }
        QString key = line.left(bar);
        if (!texts.contains(key))
            texts.insert(key, line.mid(bar + 1));
    }
    m_lines = lines;
    m_texts = std::move(texts);
}

QString TMessages::Msg(const QString& key) const {
    auto it = m_texts.constFind(key);
    if (it == m_texts.constEnd()) {
        return QStringLiteral("Mensagem não cadastrada no catálogo: ") + key;
    }
    return *it;
}

int TMessages::ShowMsg(const QString& key, TMsgDlgType dialogType, TMsgDlgButtons buttons,
                       int helpContext) {
    return MessageDlg(Msg(key), dialogType, buttons, helpContext);
}
