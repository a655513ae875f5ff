#pragma once
// "Alterar senha": the operator's current password and the new one twice.

#include <QDialog>
#include <QString>
#include <functional>

class QLabel;
class QLineEdit;

namespace host {

class PasswordDialog : public QDialog {
    Q_OBJECT
  public:
    // Tries a change with (current, new, repeated); returns "" when it was made, else why not.
    using Change = std::function<QString(const QString&, const QString&, const QString&)>;

    // "Alterar" runs `change`: done, the dialog is accepted; refused, the reason shows above the
    // fields (and is announced), the fields are emptied and the dialog stays open.
    explicit PasswordDialog(Change change, QWidget* parent = nullptr);

  private:
    void tryChange();

    Change m_change;
    QLabel* m_refusal;
    QLineEdit* m_current;
    QLineEdit* m_fresh;
    QLineEdit* m_repeated;
};

}  // namespace host
