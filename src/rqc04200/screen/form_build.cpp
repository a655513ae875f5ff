// The form's widgets, made from the layout tables: the filter line, the grids with the labels
// above and under them, the side bar's buttons and keys, and the tab order they follow.
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QShortcut>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include "screen/consulta_layout.h"
#include "screen/frm_consulta_consolida.h"
#include "vlm/table_report.h"

using rqc04200::FilterKind;

namespace {

constexpr int kBranchCodeWidth = 52;
constexpr int kDateWidth = 110;
constexpr int kBranchNameChars = 30;  // a branch's whole name shows without scrolling
constexpr int kSideBarWidth = 68;

QTableWidget* makeGrid(QWidget* parent, const rqc04200::GridRow& row) {
    const QVector<vlm::ReportColumn>& columns = row.columns();
    auto* grid = new QTableWidget(parent);
    grid->setObjectName(QString::fromLatin1(row.name));
    grid->setAccessibleName(QString::fromUtf8(row.accessibleName));
    grid->setColumnCount(static_cast<int>(columns.size()));
    for (int c = 0; c < columns.size(); ++c) {
        auto* head = new QTableWidgetItem(columns[c].header);
        if (columns[c].kind == vlm::ColumnKind::Number)
            head->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->setHorizontalHeaderItem(c, head);
        for (const char* hidden : rqc04200::kHiddenListFields) {
            if (columns[c].field == QLatin1String(hidden))
                grid->setColumnHidden(c, true);
        }
    }
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setTabKeyNavigation(false);  // Tab and Shift+Tab leave the grid
    grid->setWordWrap(true);
    grid->verticalHeader()->setVisible(false);
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid->horizontalHeader()->setSortIndicator(0, row.order);
    grid->setSortingEnabled(true);
    return grid;
}

QLabel* label(const char* text, QWidget* buddy, QWidget* parent) {
    auto* l = new QLabel(QString::fromUtf8(text), parent);
    l->setBuddy(buddy);
    return l;
}

}  // namespace

QWidget* TfrmConsultaConsolida::makeFilterControl(const rqc04200::FilterControl& row) {
    QWidget* w = nullptr;
    switch (row.kind) {
        case FilterKind::BranchCode: {
            auto* code = new TMaskEdit(grbDadosRel);
            code->SetEditMask(QStringLiteral(">aaaa;0; "));
            code->setFixedWidth(kBranchCodeWidth);
            w = medCdFilCentCmp = code;
            break;
        }
        case FilterKind::SearchButton: {
            auto* search = new TBtnPesquisa(grbDadosRel);
            search->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
            search->SetHint(QString::fromUtf8(row.caption));
            search->setFocusPolicy(Qt::NoFocus);
            w = btpFilCentCmp = search;
            break;
        }
        case FilterKind::BranchName: {
            auto* name = new TEdit(grbDadosRel);
            name->setReadOnly(true);
            name->setFocusPolicy(Qt::NoFocus);
            name->setMinimumWidth(name->fontMetrics().averageCharWidth() * kBranchNameChars + 12);
            w = edtNmFilCentCmp = name;
            break;
        }
        case FilterKind::Date: {
            auto* date = new TDateEditPlus(grbDadosRel);
            date->setFixedWidth(kDateWidth);
            (depDataIni == nullptr ? depDataIni : depDataFin) = date;
            w = date;
            break;
        }
        case FilterKind::CheckBox: {
            auto* check = new TCheckBox(grbDadosRel);
            check->SetCaption(QString::fromUtf8(row.caption));
            w = chbSoAbertas = check;
            break;
        }
    }
    w->setObjectName(QString::fromLatin1(row.name));
    if (row.accessibleName != nullptr)
        w->setAccessibleName(QString::fromUtf8(row.accessibleName));
    if (row.accessibleDescription != nullptr)
        w->setAccessibleDescription(QString::fromUtf8(row.accessibleDescription));
    return w;
}

QHBoxLayout* TfrmConsultaConsolida::buildFilter(QList<QWidget*>& tabOrder) {
    auto* line = new QHBoxLayout;
    for (const rqc04200::FilterControl& row : rqc04200::filterControls()) {
        QWidget* w = makeFilterControl(row);
        if (row.spacingBefore > 0)
            line->addSpacing(row.spacingBefore);
        if (row.label != nullptr)
            line->addWidget(label(row.label, w, grbDadosRel));
        line->addWidget(w, row.kind == FilterKind::BranchName ? 1 : 0);
        if (w->focusPolicy() != Qt::NoFocus)
            tabOrder.append(w);
    }
    return line;
}

void TfrmConsultaConsolida::buildGrids(QVBoxLayout& box, QList<QWidget*>& tabOrder) {
    for (const rqc04200::GridRow& row : rqc04200::gridRows()) {
        QTableWidget* grid = makeGrid(grbDadosRel, row);
        auto* under = new QLabel(grbDadosRel);
        under->setObjectName(QString::fromLatin1(row.under));
        if (row.label != nullptr)
            box.addWidget(label(row.label, grid, grbDadosRel));
        box.addWidget(grid, row.stretch);
        box.addWidget(under);
        tabOrder.append(grid);
    }
    grdConsSoli = findChild<QTableWidget*>(QStringLiteral("grdConsSoli"));
    grdItens = findChild<QTableWidget*>(QStringLiteral("grdItens"));
    grdOrigem = findChild<QTableWidget*>(QStringLiteral("grdOrigem"));
    lblFiltro = findChild<QLabel*>(QStringLiteral("lblFiltro"));
    lblTotItens = findChild<QLabel*>(QStringLiteral("lblTotItens"));
    lblTotOrigem = findChild<QLabel*>(QStringLiteral("lblTotOrigem"));
    lblFiltro->setWordWrap(true);
    lblFiltro->setTextInteractionFlags(Qt::TextSelectableByMouse);
}

void TfrmConsultaConsolida::buildSideBar(QList<QWidget*>& tabOrder) {
    sbtConfirma->SetHint(QStringLiteral("Pesquisar as consolidações (F5)"));
    sbtConfirma->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    QList<std::pair<TButtonFlat*, QKeySequence>> keys{{sbtConfirma, QKeySequence(Qt::Key_F5)}};
    QList<TButtonFlat*> buttons{sbtConfirma};
    int top = 45;
    for (const rqc04200::BarButton& row : rqc04200::barButtons()) {
        auto* b = new TButtonFlat(panBotoes);
        b->setObjectName(QString::fromLatin1(row.name));
        b->SetHint(QString::fromUtf8(row.hint));
        b->setIcon(row.icon != nullptr ? vlm::reportIcon(QString::fromLatin1(row.icon))
                                       : style()->standardIcon(QStyle::SP_DialogDiscardButton));
        b->setGeometry(2, top, 35, 35);
        top += 40;
        keys.append({b, QKeySequence(row.key)});
        buttons.append(b);
    }
    sbtEstorna = panBotoes->findChild<TButtonFlat*>(QStringLiteral("sbtEstorna"));
    sbtExportaCsv = panBotoes->findChild<TButtonFlat*>(QStringLiteral("sbtExportaCsv"));
    sbtExportaPdf = panBotoes->findChild<TButtonFlat*>(QStringLiteral("sbtExportaPdf"));
    sbtImprime = panBotoes->findChild<TButtonFlat*>(QStringLiteral("sbtImprime"));
    buttons.append(sbtHelp);
    sbtHelp->setAccessibleName(QStringLiteral("Ajuda"));
    for (TButtonFlat* b : buttons) {
        const QString hint = b->toolTip();
        if (b != sbtHelp)
            b->setAccessibleName(hint.left(hint.indexOf(QStringLiteral(" ("))));
        b->setFocusPolicy(Qt::TabFocus);
        tabOrder.append(b);
    }
    // A key of the form clicks its button while the button is enabled.
    for (const auto& [button, sequence] : keys) {
        auto* s = new QShortcut(sequence, this);
        s->setContext(Qt::WidgetWithChildrenShortcut);
        QObject::connect(s, &QShortcut::activated, button, [b = button] {
            if (b->isEnabled())
                b->click();
        });
    }
    panBotoes->setFixedSize(39, top);
    panHelp->setFixedSize(panHelp->size());

    // The form grows with its window: the filter box takes the room, the side panel keeps its
    // width, the screen code at its foot.
    auto* side = new QVBoxLayout(panMenu);
    side->setContentsMargins(2, 8, 2, 4);
    side->setSpacing(6);
    side->addWidget(panBotoes, 0, Qt::AlignHCenter);
    side->addWidget(panHelp, 0, Qt::AlignHCenter);
    side->addStretch(1);
    side->addWidget(lblCodTela);
    panMenu->setFixedWidth(kSideBarWidth);
    auto* whole = new QHBoxLayout(this);
    whole->setContentsMargins(0, 0, 0, 0);
    whole->setSpacing(0);
    whole->addWidget(grbDadosRel, 1);
    whole->addWidget(panMenu);
    setMinimumSize(720, 480);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(1120, 620);  // every column of the consolidations at a 1366-pixel screen
}
