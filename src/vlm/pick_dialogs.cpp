#include "pick_dialogs.h"

#include <QAbstractTableModel>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>
#include <functional>
#include <vector>

#include "data_set.h"
#include "dialogs.h"
#include "edit_mask.h"
#include "helpers.h"

namespace vlm {

QString searchFold(const QString& text) {
    bool ascii = true;
    for (QChar c : text) {
        if (c.unicode() >= 128) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return text.toLower();
    QString out;
    out.reserve(text.size());
    for (QChar c : text.normalized(QString::NormalizationForm_D)) {
        if (c.category() != QChar::Mark_NonSpacing)
            out += c;
    }
    return out.toLower();
}

namespace {

const QLatin1String kMarkField("IDMARCADO");

QString formatCount(qint64 n) {
    return vlm::userLocale().toString(n);
}

// The data set's shown fields as columns, after an optional tick column.
class DataSetModel final : public QAbstractTableModel {
  public:
    struct Column {
        int field;
        QString label;
        EditMask mask;
        int chars;  // width in characters
    };

    DataSetModel(TDataSet& data, bool ticks, QObject* parent)
        : QAbstractTableModel(parent), m_data(data), m_ticks(ticks) {
        for (int pass = 0; pass < 2 && m_columns.empty(); ++pass) {
            for (const auto& f : data.Fields()) {
                if (pass == 0 && !f->Visible)
                    continue;
                if (ticks && f->FieldName.compare(kMarkField, Qt::CaseInsensitive) == 0)
                    continue;
                Column c{f->index(), f->label(), EditMask::parse(f->EditMask), 0};
                c.chars = f->DisplayWidth > 0      ? f->DisplayWidth
                          : c.mask.maxLength() > 0 ? c.mask.maxLength()
                                                   : f->Size;
                c.chars = qBound(2, c.chars, 40);
                m_columns.push_back(std::move(c));
            }
        }
        m_rows = data.RecordCount();
        m_ticked.assign(static_cast<std::size_t>(m_rows), 0);
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : m_rows;
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_columns.size()) + tickColumns();
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid())
            return {};
        if (isTickColumn(index.column())) {
            if (role == Qt::CheckStateRole)
                return ticked(index.row()) ? Qt::Checked : Qt::Unchecked;
            return {};
        }
        if (role == Qt::DisplayRole)
            return cellText(index.row(), index.column() - tickColumns());
        return {};
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal)
            return {};
        if (isTickColumn(section)) {
            if (role == Qt::ToolTipRole)
                return QStringLiteral("Marcado");
            return role == Qt::DisplayRole ? QVariant(QString()) : QVariant();
        }
        const Column& c = m_columns[static_cast<std::size_t>(section - tickColumns())];
        if (role == Qt::DisplayRole)
            return c.label;
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid())
            return Qt::NoItemFlags;
        Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (isTickColumn(index.column()))
            f |= Qt::ItemIsUserCheckable;
        return f;
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override {
        if (!index.isValid() || !isTickColumn(index.column()) || role != Qt::CheckStateRole)
            return false;
        setTicked(index.row(), value.toInt() == Qt::Checked);
        return true;
    }

    bool isTickColumn(int column) const { return m_ticks && column == 0; }
    int tickColumns() const { return m_ticks ? 1 : 0; }
    const std::vector<Column>& columns() const { return m_columns; }

    QString cellText(int row, int column) const {
        const Column& c = m_columns[static_cast<std::size_t>(column)];
        TDataSet::Cell cell = m_data.value(row, c.field);
        if (!cell)
            return QString();
        return c.mask.positions.isEmpty() ? *cell : c.mask.format(*cell);
    }

    // True when a shown column of `row` contains `needle` (already folded).
    bool matches(int row, const QString& needle) const {
        if (m_haystack.empty()) {
            m_haystack.reserve(static_cast<std::size_t>(m_rows));
            for (int r = 0; r < m_rows; ++r) {
                QString all;
                for (int c = 0; c < static_cast<int>(m_columns.size()); ++c) {
                    if (c > 0)
                        all += QChar(0x1f);
                    all += cellText(r, c);
                }
                m_haystack.push_back(searchFold(all));
            }
        }
        return m_haystack[static_cast<std::size_t>(row)].contains(needle);
    }

    bool ticked(int row) const { return m_ticked[static_cast<std::size_t>(row)] != 0; }
    int tickedCount() const { return m_tickedCount; }

    void setTicked(int row, bool on) {
        if (row < 0 || row >= m_rows || ticked(row) == on)
            return;
        m_ticked[static_cast<std::size_t>(row)] = on ? 1 : 0;
        m_tickedCount += on ? 1 : -1;
        emit dataChanged(index(row, 0), index(row, 0), {Qt::CheckStateRole});
    }

    // Sets the ticks of `rows` with one change notice.
    void setTicked(const std::vector<int>& rows, bool on) {
        int lo = m_rows;
        int hi = -1;
        for (int r : rows) {
            if (ticked(r) == on)
                continue;
            m_ticked[static_cast<std::size_t>(r)] = on ? 1 : 0;
            m_tickedCount += on ? 1 : -1;
            lo = qMin(lo, r);
            hi = qMax(hi, r);
        }
        if (hi >= 0)
            emit dataChanged(index(lo, 0), index(hi, 0), {Qt::CheckStateRole});
    }

  private:
    TDataSet& m_data;
    bool m_ticks;
    int m_rows = 0;
    std::vector<Column> m_columns;
    std::vector<char> m_ticked;
    int m_tickedCount = 0;
    mutable std::vector<QString> m_haystack;  // folded shown text per row, built on first search
};

class SearchProxy final : public QSortFilterProxyModel {
  public:
    SearchProxy(DataSetModel* model, QObject* parent)
        : QSortFilterProxyModel(parent), m_model(model) {
        setDynamicSortFilter(false);
        setSourceModel(model);
    }
    void setSearch(const QString& text) {
        QString needle = searchFold(text.trimmed());
        if (needle == m_needle)
            return;
        m_needle = needle;
        // A new layout rather than row removals: removing thousands of scattered rows one
        // range at a time is far slower for the view.
        invalidate();
    }
    bool searching() const { return !m_needle.isEmpty(); }

  protected:
    bool filterAcceptsRow(int row, const QModelIndex&) const override {
        return m_needle.isEmpty() || m_model->matches(row, m_needle);
    }

  private:
    DataSetModel* m_model;
    QString m_needle;
};

// Runs `fn` for the events of the watched objects; true from `fn` eats the event.
class EventTap final : public QObject {
  public:
    EventTap(QObject* parent, std::function<bool(QObject*, QEvent*)> fn)
        : QObject(parent), m_fn(std::move(fn)) {}
    bool eventFilter(QObject* watched, QEvent* e) override { return m_fn(watched, e); }

  private:
    std::function<bool(QObject*, QEvent*)> m_fn;
};

bool isNavigationKey(int key) {
    return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp ||
           key == Qt::Key_PageDown;
}

}  // namespace

// The model, its search proxy and the widgets both pick windows share.
class PickTable {
  public:
    PickTable(QDialog* dlg, TDataSet& data, bool ticks)
        : model(new DataSetModel(data, ticks, dlg)), proxy(new SearchProxy(model, dlg)) {
        search = new QLineEdit(dlg);
        search->setObjectName("search");
        search->setPlaceholderText(QStringLiteral("Digite parte de um código ou nome"));
        search->setClearButtonEnabled(true);

        view = new QTableView(dlg);
        view->setObjectName(ticks ? "pickListTable" : "pickOneTable");
        view->setModel(proxy);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setAlternatingRowColors(true);
        view->setShowGrid(false);
        view->setWordWrap(false);
        view->setTabKeyNavigation(false);
        view->setCornerButtonEnabled(false);
        QHeaderView* rows = view->verticalHeader();
        rows->hide();
        rows->setSectionResizeMode(QHeaderView::Fixed);
        rows->setDefaultSectionSize(view->fontMetrics().height() + 8);
        QHeaderView* header = view->horizontalHeader();
        header->setHighlightSections(false);
        header->setStretchLastSection(true);
        header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

        const QFontMetrics fm = view->fontMetrics();
        const int charWidth = qMax(fm.averageCharWidth(), fm.horizontalAdvance(QLatin1Char('0')));
        width = 0;
        if (ticks) {
            header->setSectionResizeMode(0, QHeaderView::Fixed);
            header->resizeSection(0, 30);
            width += 30;
        }
        const auto& cols = model->columns();
        for (int c = 0; c < static_cast<int>(cols.size()); ++c) {
            const auto& col = cols[static_cast<std::size_t>(c)];
            int w = qMax(col.chars * charWidth + 16, fm.horizontalAdvance(col.label) + 24);
            header->resizeSection(c + model->tickColumns(), w);
            width += w;
        }

        empty = new QLabel(view->viewport());
        empty->setObjectName("emptyState");
        empty->setAlignment(Qt::AlignCenter);
        empty->setWordWrap(true);
        empty->setAttribute(Qt::WA_TransparentForMouseEvents);
        QPalette pal = empty->palette();
        pal.setColor(QPalette::WindowText, pal.color(QPalette::Disabled, QPalette::WindowText));
        empty->setPalette(pal);
        empty->hide();
        QWidget* viewport = view->viewport();
        viewport->installEventFilter(new EventTap(
            viewport, [viewport, label = QPointer<QLabel>(empty)](QObject*, QEvent* e) {
                if (e->type() == QEvent::Resize && label != nullptr)
                    label->setGeometry(viewport->rect());
                return false;
            }));
        search->installEventFilter(
            new EventTap(search, [table = QPointer<QTableView>(view)](QObject*, QEvent* e) {
                if (e->type() != QEvent::KeyPress || table == nullptr)
                    return false;
                auto* ke = static_cast<QKeyEvent*>(e);
                if (!isNavigationKey(ke->key()) || ke->modifiers() != Qt::NoModifier)
                    return false;
                QKeyEvent copy(ke->type(), ke->key(), ke->modifiers());
                QCoreApplication::sendEvent(table, &copy);
                return true;
            }));

        status = new QLabel(dlg);
        status->setObjectName("status");
    }

    // The search row: label and box.
    QHBoxLayout* searchRow() const {
        auto* row = new QHBoxLayout;
        auto* label = new QLabel(QStringLiteral("&Pesquisar:"));
        label->setBuddy(search);
        row->addWidget(label);
        row->addWidget(search, 1);
        return row;
    }

    int firstFieldColumn() const { return model->tickColumns(); }

    int currentRow() const {
        QModelIndex i = view->currentIndex();
        return i.isValid() ? proxy->mapToSource(i).row() : -1;
    }

    // Makes `row` (of the data set) current and shows it; false when it is filtered out.
    bool setCurrentRow(int row) {
        if (row < 0 || row >= model->rowCount())
            return false;
        QModelIndex i = proxy->mapFromSource(model->index(row, firstFieldColumn()));
        if (!i.isValid())
            return false;
        view->selectionModel()->setCurrentIndex(
            i, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        view->scrollTo(i, QAbstractItemView::PositionAtCenter);
        return true;
    }

    // After a new search: keeps the current row when still shown, else the first row shown.
    void applySearch(const QString& text) {
        int current = currentRow();
        proxy->setSearch(text);
        if (current >= 0 && setCurrentRow(current))
            return;
        if (proxy->rowCount() > 0) {
            setCurrentRow(proxy->mapToSource(proxy->index(0, firstFieldColumn())).row());
        }
    }

    // Shows the empty state when no row is shown.
    void updateEmptyState(const QString& searchText) {
        if (proxy->rowCount() > 0) {
            empty->hide();
            return;
        }
        empty->setText(model->rowCount() == 0
                           ? QStringLiteral("Nenhum registro")
                           : QStringLiteral("Nenhum registro contém \"%1\"").arg(searchText));
        empty->setGeometry(view->viewport()->rect());
        empty->show();
    }

    DataSetModel* model;
    SearchProxy* proxy;
    QLineEdit* search;
    QTableView* view;
    QLabel* empty;
    QLabel* status;
    int width = 0;  // of the columns together
};

namespace {

QDialogButtonBox* okCancel(QDialog* dlg) {
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dlg);
    box->setObjectName("buttons");
    box->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    box->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    box->button(QDialogButtonBox::Ok)->setDefault(true);
    QObject::connect(box, &QDialogButtonBox::accepted, dlg, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dlg, &QDialog::reject);
    return box;
}

void sizeDialog(QDialog* dlg, int columnsWidth) {
    dlg->resize(qBound(480, columnsWidth + 48, 900), 460);
}

}  // namespace

// ---- PickDialog

PickDialog::PickDialog(TDataSet& data, bool ticks, QWidget* parent)
    : QDialog(parent),
      m_table(std::make_unique<PickTable>(this, data, ticks)),
      m_search(m_table->search),
      m_view(m_table->view) {
    connect(m_search, &QLineEdit::textChanged, this, [this](const QString& t) {
        m_table->applySearch(t);
        updateState();
    });
}

PickDialog::~PickDialog() = default;

void PickDialog::layOut(const QList<QWidget*>& leading) {
    auto* lay = new QVBoxLayout(this);
    lay->addLayout(m_table->searchRow());
    lay->addWidget(m_view, 1);
    auto* bottom = new QHBoxLayout;
    for (QWidget* w : leading)
        bottom->addWidget(w);
    if (!leading.isEmpty())
        bottom->addSpacing(12);
    bottom->addWidget(m_table->status, 1);
    bottom->addWidget(okCancel(this));
    lay->addLayout(bottom);
    sizeDialog(this, m_table->width);
}

int PickDialog::shownCount() const {
    return m_table->proxy->rowCount();
}

void PickDialog::setSearch(const QString& text) {
    m_search->setText(text);
}

QLineEdit* PickDialog::searchBox() const {
    return m_search;
}

QTableView* PickDialog::table() const {
    return m_view;
}

// ---- PickListDialog

PickListDialog::PickListDialog(TDataSet& data, const QString& keyField, const QString& title,
                               bool tickAll, const QString& list, QWidget* parent)
    : PickDialog(data, true, parent) {
    const int key = data.FieldByName(keyField)->index();
    setObjectName("pickList");
    setWindowTitle(title);
    m_view->setAccessibleName(QStringLiteral("Lista de %1 a marcar").arg(title));
    m_view->setAccessibleDescription(QStringLiteral("Espaço marca ou desmarca a linha."));

    const QStringList incoming = listValues(list);
    const QSet<QString> wanted(incoming.begin(), incoming.end());
    std::vector<int> start;
    for (int r = 0; r < data.RecordCount(); ++r) {
        TDataSet::Cell cell = data.value(r, key);
        if (tickAll || (cell && wanted.contains(cell->trimmed())))
            start.push_back(r);
    }
    m_table->model->setTicked(start, true);
    m_keys.reserve(data.RecordCount());
    for (int r = 0; r < data.RecordCount(); ++r) {
        TDataSet::Cell cell = data.value(r, key);
        m_keys << (cell ? cell->trimmed() : QString());
    }

    auto* all = new QPushButton(QStringLiteral("&Marcar todos"), this);
    all->setObjectName("tickAll");
    all->setToolTip(QStringLiteral("Marca todas as linhas exibidas"));
    auto* none = new QPushButton(QStringLiteral("&Limpar"), this);
    none->setObjectName("clearTicks");
    none->setToolTip(QStringLiteral("Desmarca todas as linhas exibidas"));
    for (QPushButton* b : {all, none}) {
        b->setAutoDefault(false);
        b->setFocusPolicy(Qt::TabFocus);
    }
    connect(all, &QPushButton::clicked, this, [this] { tickShown(true); });
    connect(none, &QPushButton::clicked, this, [this] { tickShown(false); });
    layOut({all, none});

    connect(m_view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& i) {
        if (m_table->model->isTickColumn(i.column()))
            return;  // the tick box itself toggles on its clicks
        const int row = m_table->proxy->mapToSource(i).row();
        setTicked(row, !ticked(row));
    });
    connect(m_table->model, &QAbstractItemModel::dataChanged, this, [this] { updateState(); });
    // Space toggles the current row's tick in the table, and in the search box while it is
    // empty (a search never starts with a blank).
    auto toggleOnSpace = [this](QObject* watched, QEvent* e) {
        if (e->type() != QEvent::KeyPress)
            return false;
        auto* ke = static_cast<QKeyEvent*>(e);
        if (ke->key() != Qt::Key_Space || ke->modifiers() != Qt::NoModifier)
            return false;
        if (watched == m_search && !m_search->text().isEmpty())
            return false;
        const int row = m_table->currentRow();
        if (row >= 0)
            setTicked(row, !ticked(row));
        return true;
    };
    m_view->installEventFilter(new EventTap(m_view, toggleOnSpace));
    m_search->installEventFilter(new EventTap(m_search, toggleOnSpace));

    if (m_table->proxy->rowCount() > 0)
        m_table->setCurrentRow(0);
    updateState();
    m_search->setFocus(Qt::OtherFocusReason);
}

PickListDialog::~PickListDialog() = default;

QString PickListDialog::listText() const {
    QStringList values;
    QSet<QString> seen;
    for (int r = 0; r < m_keys.size(); ++r) {
        const QString& k = m_keys[r];
        if (!m_table->model->ticked(r) || k.isEmpty() || seen.contains(k))
            continue;
        seen.insert(k);
        values << k;
    }
    return vlm::listText(values);
}

int PickListDialog::tickedCount() const {
    return m_table->model->tickedCount();
}

bool PickListDialog::ticked(int row) const {
    return row >= 0 && row < m_table->model->rowCount() && m_table->model->ticked(row);
}

void PickListDialog::setTicked(int row, bool on) {
    m_table->model->setTicked(row, on);
}

void PickListDialog::tickShown(bool on) {
    std::vector<int> rows;
    const int shown = m_table->proxy->rowCount();
    rows.reserve(static_cast<std::size_t>(shown));
    for (int i = 0; i < shown; ++i)
        rows.push_back(m_table->proxy->mapToSource(m_table->proxy->index(i, 0)).row());
    m_table->model->setTicked(rows, on);
}

void PickListDialog::updateState() {
    const int total = m_table->model->rowCount();
    const int shown = m_table->proxy->rowCount();
    QString text =
        QStringLiteral("%1 de %2 marcados").arg(formatCount(tickedCount()), formatCount(total));
    if (shown != total)
        text += QStringLiteral(" · %1 exibidos").arg(formatCount(shown));
    m_table->status->setText(text);
    m_table->updateEmptyState(m_search->text().trimmed());
    bool any = shown > 0;
    findChild<QPushButton*>("tickAll")->setEnabled(any);
    findChild<QPushButton*>("clearTicks")->setEnabled(any);
}

// ---- PickOneDialog

PickOneDialog::PickOneDialog(TDataSet& data, const QString& title, QWidget* parent)
    : PickDialog(data, false, parent) {
    setObjectName("pickOne");
    setWindowTitle(title);
    m_view->setAccessibleName(QStringLiteral("Lista de %1").arg(title));
    layOut({});

    connect(m_view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& i) {
        if (i.isValid())
            accept();
    });
    connect(m_view->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { updateState(); });

    const int start = data.Eof() ? 0 : data.RecNo();
    if (!m_table->setCurrentRow(start))
        m_table->setCurrentRow(0);
    updateState();
    m_search->setFocus(Qt::OtherFocusReason);
}

PickOneDialog::~PickOneDialog() = default;

int PickOneDialog::pickedRow() const {
    return m_table->currentRow();
}

void PickOneDialog::setCurrentRow(int row) {
    m_table->setCurrentRow(row);
}

void PickOneDialog::updateState() {
    const int total = m_table->model->rowCount();
    const int shown = m_table->proxy->rowCount();
    m_table->status->setText(
        shown == total
            ? QStringLiteral("%1 registros").arg(formatCount(total))
            : QStringLiteral("%1 de %2 registros").arg(formatCount(shown), formatCount(total)));
    m_table->updateEmptyState(m_search->text().trimmed());
    if (auto* box = findChild<QDialogButtonBox*>("buttons"))
        box->button(QDialogButtonBox::Ok)->setEnabled(pickedRow() >= 0);
}

}  // namespace vlm
