#include "btn_pesquisa.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <stdexcept>

#include "data_set.h"
#include "dialogs.h"
#include "messages.h"

namespace {

// F2 and Alt+Down in the associated edit of an enabled, shown search button open its search.
// One filter on the application serves every button.
class SearchKeys : public QObject {
  public:
    explicit SearchKeys(QObject* parent) : QObject(parent) {}

    static void add(TBtnPesquisa* button) {
        static QPointer<SearchKeys> keys;
        if (keys == nullptr) {
            keys = new SearchKeys(qApp);
            qApp->installEventFilter(keys);
        }
        keys->m_buttons.removeAll(nullptr);
        keys->m_buttons.append(button);
    }

    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() != QEvent::KeyPress)
            return false;
        const auto* ke = static_cast<QKeyEvent*>(e);
        const Qt::KeyboardModifiers mods = ke->modifiers() & ~Qt::KeypadModifier;
        const bool f2 = ke->key() == Qt::Key_F2 && mods == Qt::NoModifier;
        const bool altDown = ke->key() == Qt::Key_Down && mods == Qt::AltModifier;
        if (!f2 && !altDown)
            return false;
        for (const QPointer<TBtnPesquisa>& b : m_buttons) {
            if (b != nullptr && b->Associate == watched && b->isEnabled() &&
                b->isVisibleTo(b->window())) {
                TBtnPesquisa* button = b;
                vlm::dispatch([button] { button->Pesquisa(); });
                return true;
            }
        }
        return false;
    }

  private:
    QList<QPointer<TBtnPesquisa>> m_buttons;
};

}  // namespace

TBtnPesquisa::TBtnPesquisa(QWidget* parent) : QToolButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setText(QStringLiteral("..."));
    setToolTip(QStringLiteral("Pesquisar"));
    connect(this, &QToolButton::clicked, this, [this] { vlm::dispatch([this] { Pesquisa(); }); });
    SearchKeys::add(this);
}

bool TBtnPesquisa::event(QEvent* e) {
    if (e->type() == QEvent::Polish) {
        const QString what = Title.trimmed().isEmpty() ? toolTip() : toolTip() + ": " + Title;
        if (accessibleName().isEmpty())
            setAccessibleName(what);
        if (Associate != nullptr && Associate->accessibleDescription().isEmpty()) {
            Associate->setAccessibleDescription(
                Title.trimmed().isEmpty()
                    ? QStringLiteral("F2 ou Alt+Seta para baixo abre a pesquisa.")
                    : QStringLiteral("F2 ou Alt+Seta para baixo abre a pesquisa de %1.")
                          .arg(Title.trimmed().toLower()));
        }
    }
    return QToolButton::event(e);
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
    // The click that opened the search moves the user to the edit: the control left runs
    // its OnExit as after any click.
    if (Associate != nullptr && Associate->isEnabled())
        Associate->setFocus(Qt::MouseFocusReason);
}
