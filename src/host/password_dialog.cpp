#include "password_dialog.h"

#include <QAccessible>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace host {

namespace {

QLineEdit* passwordEdit(const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setEchoMode(QLineEdit::Password);
    edit->setMaxLength(256);
    return edit;
}

}  // namespace

PasswordDialog::PasswordDialog(Change change, QWidget* parent)
    : QDialog(parent), m_change(std::move(change)) {
    setObjectName(QStringLiteral("dlgAlteraSenha"));
    setWindowTitle(QStringLiteral("Alterar senha"));
    auto* layout = new QVBoxLayout(this);
    m_refusal = new QLabel(this);
    m_refusal->setObjectName(QStringLiteral("lblRecusa"));
    m_refusal->setWordWrap(true);
    m_refusal->setStyleSheet(QStringLiteral("color: #b00020;"));
    m_refusal->hide();
    layout->addWidget(m_refusal);

    auto* form = new QFormLayout();
    m_current = passwordEdit("edtSenhaAtual", this);
    m_fresh = passwordEdit("edtNovaSenha", this);
    m_repeated = passwordEdit("edtConfirmaSenha", this);
    form->addRow(QStringLiteral("Senha &atual:"), m_current);
    form->addRow(QStringLiteral("&Nova senha:"), m_fresh);
    form->addRow(QStringLiteral("&Confirme a nova senha:"), m_repeated);
    layout->addLayout(form);
    m_fresh->setToolTip(QStringLiteral("Pelo menos 8 caracteres, diferente da senha atual."));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Alterar"));
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, this, &PasswordDialog::tryChange);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    m_current->setFocus();
}

void PasswordDialog::tryChange() {
    const QString refusal = m_change(m_current->text(), m_fresh->text(), m_repeated->text());
    if (refusal.isEmpty()) {
        accept();
        return;
    }
    m_refusal->setText(refusal);
    m_refusal->show();
    // The message takes room of its own: the dialog grows instead of squeezing the fields.
    adjustSize();
    m_current->setAccessibleDescription(refusal);
    QAccessibleEvent alert(m_refusal, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
    m_current->clear();
    m_fresh->clear();
    m_repeated->clear();
    m_current->setFocus();
}

}  // namespace host
