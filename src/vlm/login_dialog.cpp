#include "login_dialog.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vlm {

namespace {

// The refusal reads as an alert: a screen reader speaks an alert as it appears, where it
// leaves a plain label to be found.
class RefusalAccessible final : public QAccessibleWidget {
  public:
    explicit RefusalAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::AlertMessage) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name || t == QAccessible::Description)
            return static_cast<QLabel*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* refusalFactory(const QString&, QObject* object) {
    if (object != nullptr && object->isWidgetType() &&
        object->objectName() == QLatin1String("lblRecusa") && qobject_cast<QLabel*>(object))
        return new RefusalAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

}  // namespace

LoginDialog::LoginDialog(const QString& operatorCode, const QString& refusal, QWidget* parent)
    : QDialog(parent) {
    static const bool factory = (QAccessible::installFactory(refusalFactory), true);
    (void)factory;
    setObjectName(QStringLiteral("dlgLogin"));
    setWindowTitle(QStringLiteral("Entrar na suíte"));
    auto* layout = new QVBoxLayout(this);
    m_refusal = new QLabel(refusal, this);
    m_refusal->setObjectName(QStringLiteral("lblRecusa"));
    m_refusal->setWordWrap(true);
    m_refusal->setStyleSheet(QStringLiteral("color: #b00020;"));
    m_refusal->setVisible(!refusal.isEmpty());
    // Qt made the label's interface while constructing it, before it had its name: made again,
    // it is the alert's.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(m_refusal))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    layout->addWidget(m_refusal);

    auto* form = new QFormLayout();
    m_code = new QLineEdit(operatorCode, this);
    m_code->setObjectName(QStringLiteral("edtOperador"));
    m_code->setMaxLength(12);
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("edtSenha"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setMaxLength(256);
    form->addRow(QStringLiteral("Código do operador:"), m_code);
    form->addRow(QStringLiteral("Senha:"), m_password);
    layout->addLayout(form);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Entrar"));
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Sair"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    // The refusal is read with the field the operator is taken back to, and announced.
    m_password->setAccessibleDescription(refusal);
    (operatorCode.isEmpty() ? m_code : m_password)->setFocus();
}

void LoginDialog::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!m_refusal->text().isEmpty()) {
        // Shown (AT-SPI "showing" of an alert, what screen readers announce) and alerted.
        QAccessibleEvent shown(m_refusal, QAccessible::ObjectShow);
        QAccessible::updateAccessibility(&shown);
        QAccessibleEvent alert(m_refusal, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
}

QString LoginDialog::operatorCode() const {
    return m_code->text().trimmed();
}

QString LoginDialog::password() const {
    return m_password->text();
}

void LoginDialog::setOperatorCode(const QString& code) {
    m_code->setText(code);
}

void LoginDialog::setPassword(const QString& password) {
    m_password->setText(password);
}

}  // namespace vlm
