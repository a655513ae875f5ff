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

namespace {

QString keyOf(QWidget* w) {
    if (auto* m = qobject_cast<TMaskEdit*>(w))
        return m->Text().trimmed();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text().trimmed();
    return QString();
}

}  // namespace

void TBtnPesquisa::startOnKey(TDataSet& data) const {
    const QString key = keyOf(Associate);
    if (key.isEmpty())
        return;
    int field = -1;
    for (const auto& f : data.Fields()) {
        if (f->Visible) {
            field = f->index();
            break;
        }
    }
    if (field < 0)
        return;
    int prefix = -1;
    for (int r = 0; r < data.RecordCount(); ++r) {
        TDataSet::Cell cell = data.value(r, field);
        if (!cell)
            continue;
        const QString v = cell->trimmed();
        if (v.compare(key, Qt::CaseInsensitive) == 0) {
            data.MoveTo(r);
            return;
        }
        if (prefix < 0 && v.startsWith(key, Qt::CaseInsensitive))
            prefix = r;
    }
    if (prefix >= 0)
        data.MoveTo(prefix);
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
    if (PesqChave && Associate != nullptr)
        startOnKey(data);
    if (!vlm::dialogs().pickOne(data, Title))
        return;
    if (OnAfterPesq)
        OnAfterPesq(this);
    if (Associate != nullptr && Associate->isEnabled())
        Associate->setFocus(Qt::OtherFocusReason);
}
