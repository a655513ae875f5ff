#pragma once
// The operator's login: code and password, asked before the host opens any screen.

#include <QDialog>
#include <QString>

#include "vlm_export.h"

class QLabel;
class QLineEdit;

namespace vlm {

// "Código do operador" and "Senha"; Enter confirms, Esc gives up. `refusal`, when not empty,
// is shown above the fields (why the last try was refused); the password starts empty.
class VLM_EXPORT LoginDialog : public QDialog {
    Q_OBJECT
  public:
    LoginDialog(const QString& operatorCode, const QString& refusal, QWidget* parent = nullptr);

    QString operatorCode() const;
    QString password() const;
    void setOperatorCode(const QString& code);
    void setPassword(const QString& password);

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    QLineEdit* m_code;
    QLineEdit* m_password;
    QLabel* m_refusal;
};

}  // namespace vlm
