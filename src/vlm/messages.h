#pragma once
// Message catalogue, message dialogs, the silent abort and the one event dispatcher.
// Every dialog goes through vlm::dialogs() (dialogs.h), so tests can script them.

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <exception>
#include <functional>
#include <initializer_list>

#include "vlm/abort.h"
#include "vlm_export.h"

enum TMsgDlgType {
    mtWarning = 0,
    mtError = 1,
    mtInformation = 2,
    mtConfirmation = 3,
    mtCustom = 4
};
enum TMsgDlgBtn { mbYes = 0, mbNo = 1, mbOK = 2 };

// A set of dialog buttons, written as in `MessageDlg(text, mtConfirmation, {mbOK}, 0)`.
// Its mask has bit n set for button n (the set {mbOK} is 4).
struct VLM_EXPORT TMsgDlgButtons {
    unsigned mask = 0;
    // The button Enter presses; -1: the dialog's own choice (the first one).
    int defaultButton = -1;
    TMsgDlgButtons() = default;
    TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> buttons);
    static TMsgDlgButtons fromMask(unsigned m);
    bool contains(TMsgDlgBtn b) const { return (mask >> b) & 1u; }
    bool operator==(const TMsgDlgButtons& o) const { return mask == o.mask; }
};

// The button a dialog was closed with.
enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

// Shows `text` in a message dialog of the given type and buttons; returns the button pressed.
VLM_EXPORT int MessageDlg(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons,
                          int helpContext);
// The same with `defaultButton` as the one Enter presses: mbNo for a question whose "Sim"
// destroys something.
VLM_EXPORT int MessageDlg(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons,
                          int helpContext, TMsgDlgBtn defaultButton);

// Shows `text` in the error dialog; with `abort` true it then throws EAbort.
VLM_EXPORT void MensErro(const QString& text, bool abort);

namespace vlm {

// Runs one event handler: EAbort is swallowed; any other exception is shown in the standard
// error dialog (its what() text). Nothing escapes, so no exception crosses the Qt event loop.
// Every control event of the package reaches its handler through this function.
VLM_EXPORT void dispatch(const std::function<void()>& handler) noexcept;

// Shows the exception currently being handled in the standard error dialog (EAbort: nothing).
// Call only inside a catch block.
VLM_EXPORT void showCurrentException() noexcept;

}  // namespace vlm

// The message catalogue component (`msgPadrao`): lines "key|text", where the key is the part
// before the first bar and the text everything after it, blanks kept. Empty lines are skipped;
// of two lines with one key the first wins. A non-empty line without a bar is refused by
// SetLines with std::invalid_argument naming the line.
class VLM_EXPORT TMessages : public QObject {
    Q_OBJECT
  public:
    explicit TMessages(QObject* parent = nullptr);

    void SetLines(const QStringList& lines);
    const QStringList& Lines() const { return m_lines; }
    bool HasKey(const QString& key) const { return m_texts.contains(key); }

    // The text of `key` (keys are case-sensitive). An unknown key gives the text
    // "Mensagem não cadastrada no catálogo: <key>", so the missing key shows in the dialog.
    QString Msg(const QString& key) const;

    // Shows Msg(key) through MessageDlg; returns the button pressed.
    int ShowMsg(const QString& key, TMsgDlgType dialogType, TMsgDlgButtons buttons,
                int helpContext);

  private:
    QStringList m_lines;
    QHash<QString, QString> m_texts;
};
