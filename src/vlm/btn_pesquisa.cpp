#include "btn_pesquisa.h"

#include <QLineEdit>
#include <stdexcept>

#include "data_set.h"
#include "dialogs.h"
#include "messages.h"

TBtnPesquisa::TBtnPesquisa(QWidget* parent) : QToolButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setText(QStringLiteral("..."));
    setToolTip(QStringLiteral("Pesquisar"));
    connect(this, &QToolButton::clicked, this, [this] { vlm::dispatch([this] { Pesquisa(); }); });
}

void TBtnPesquisa::Pesquisa() {
    bool continua = true;
    if (OnBeforePesq)
        OnBeforePesq(this, continua);
    if (!continua)
        return;
    if (DataSource == nullptr || DataSource->DataSet == nullptr) {
        throw std::runtime_error(objectName().toStdString() +
                                 ": the search button has no data source");
    }
    TDataSet& data = *DataSource->DataSet;
    if (!data.Active())
        data.Open();
    if (data.IsEmpty()) {
        MensErro(
            EmptyError.isEmpty() ? QStringLiteral("Não há registros para pesquisar.") : EmptyError,
            false);
        return;
    }
    data.First();
    if (PesqChave && Associate != nullptr) {
        QString key;
        if (auto* edit = qobject_cast<QLineEdit*>(Associate))
            key = edit->text().trimmed();
        if (!key.isEmpty()) {
            for (const auto& f : data.Fields()) {
                if (!f->Visible)
                    continue;
                if (!data.Locate(f->FieldName, key))
                    data.First();
                break;
            }
        }
    }
    if (!vlm::dialogs().pickOne(data, Title))
        return;
    if (OnAfterPesq)
        OnAfterPesq(this);
    if (Associate != nullptr && Associate->isEnabled())
        Associate->setFocus(Qt::OtherFocusReason);
}
