#include "screen/frm_consulta_consolida.h"

#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QShortcut>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>
#include <stdexcept>

#include "vlm/adoib_query.h"
#include "vlm/check_result_serv.h"
#include "vlm/dialogs.h"
#include "vlm/helpers.h"
#include "vlm/messages.h"

using rqc04200::ColumnKind;
using rqc04200::GridColumn;

namespace {

constexpr int kTextResult = 10;  // CheckResultServ: a text
constexpr int kHelpContext = 4200;
constexpr int kNumberWidth = 10;
constexpr int kBranchWidth = 4;
constexpr int kDefaultDays = 30;
constexpr int kFieldSize = 60;
constexpr int kNameWidth = 220;  // product names wrap beyond it
constexpr int kDataRole = Qt::UserRole;
constexpr int kSortRole = Qt::UserRole + 1;

QString numberText(const QString& typed) {
    const QString digits = typed.trimmed();
    bool ok = !digits.isEmpty() && digits.size() <= kNumberWidth;
    for (const QChar c : digits)
        ok = ok && c.isDigit();
    if (!ok) {
        throw std::runtime_error(
            QStringLiteral("Número de consolidação inválido: \"%1\". Informe até 10 algarismos.")
                .arg(typed)
                .toStdString());
    }
    return digits.rightJustified(kNumberWidth, QLatin1Char('0'));
}

void declareFields(TClientDataSet* data, const QVector<GridColumn>& columns) {
    for (const GridColumn& c : columns)
        data->AddField(c.field, kFieldSize)->DisplayLabel = c.header;
}

// Sorts numbers by value and dates by their server text, whatever is shown.
class SortItem : public QTableWidgetItem {
  public:
    using QTableWidgetItem::QTableWidgetItem;
    bool operator<(const QTableWidgetItem& other) const override {
        const QVariant a = data(kSortRole);
        const QVariant b = other.data(kSortRole);
        if (a.typeId() == QMetaType::Double && b.typeId() == QMetaType::Double)
            return a.toDouble() < b.toDouble();
        return a.toString() < b.toString();
    }
};

QTableWidget* makeGrid(QWidget* parent, const QString& name, const QString& accessibleName,
                       const QVector<GridColumn>& columns, Qt::SortOrder order) {
    auto* grid = new QTableWidget(parent);
    grid->setObjectName(name);
    grid->setAccessibleName(accessibleName);
    grid->setColumnCount(static_cast<int>(columns.size()));
    for (int c = 0; c < columns.size(); ++c) {
        auto* head = new QTableWidgetItem(columns[c].header);
        if (columns[c].kind == ColumnKind::Number)
            head->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->setHorizontalHeaderItem(c, head);
    }
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setTabKeyNavigation(false);  // Tab and Shift+Tab leave the grid
    grid->setWordWrap(true);
    grid->verticalHeader()->setVisible(false);
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid->horizontalHeader()->setSortIndicator(0, order);
    grid->setSortingEnabled(true);
    return grid;
}

QString cell(const TDataSet& data, int row, const QString& field) {
    const TField* f = data.FieldByName(field);
    return data.value(row, f->index()).value_or(QString());
}

// Shows every row of `data`, sorted as the grid's header says; columns fit their content,
// names wrap at kNameWidth.
void fillGrid(QTableWidget* grid, const TDataSet& data, const QVector<GridColumn>& columns) {
    grid->setSortingEnabled(false);
    grid->setRowCount(0);
    grid->setRowCount(data.RecordCount());
    for (int r = 0; r < data.RecordCount(); ++r) {
        for (int c = 0; c < columns.size(); ++c) {
            const QString raw = cell(data, r, columns[c].field);
            auto* item = new SortItem(vlm::displayText(columns[c].kind, raw));
            if (columns[c].kind == ColumnKind::Number) {
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                item->setData(kSortRole, raw.trimmed().toDouble());
            } else {
                item->setData(kSortRole, raw);
            }
            item->setData(kDataRole, r);
            grid->setItem(r, c, item);
        }
    }
    grid->setSortingEnabled(true);
    grid->resizeColumnsToContents();
    for (int c = 0; c < columns.size(); ++c) {
        if (columns[c].kind == ColumnKind::Text && grid->columnWidth(c) > kNameWidth)
            grid->setColumnWidth(c, kNameWidth);
    }
    grid->resizeRowsToContents();
}

int dataRow(const QTableWidget* grid, int row) {
    const QTableWidgetItem* item = grid->item(row, 0);
    return item == nullptr ? -1 : item->data(kDataRole).toInt();
}

// "N produto(s); Solicitada 8; Consolidada 8" under a grid.
QString totalsLine(const vlm::ReportTable& table, const QString& rowsWord) {
    QStringList parts{QStringLiteral("%1 %2").arg(vlm::countText(table.rows.size()), rowsWord)};
    for (int c = 0; c < table.columns.size(); ++c) {
        if (table.columns[c].summed)
            parts.append(table.columns[c].header + QLatin1Char(' ') + vlm::totalText(table, c));
    }
    return QStringLiteral("Totais: ") + parts.join(QStringLiteral("; "));
}

TButtonFlat* barButton(QWidget* parent, const QString& name, const QString& hint,
                       const QIcon& glyph, int top) {
    auto* b = new TButtonFlat(parent);
    b->setObjectName(name);
    b->SetHint(hint);
    b->setAccessibleName(hint.left(hint.indexOf(QStringLiteral(" ("))));
    b->setIcon(glyph);
    b->setGeometry(2, top, 35, 35);
    b->setFocusPolicy(Qt::TabFocus);
    return b;
}

// A shortcut of the form that clicks `button` while it is enabled.
void shortcut(TfrmRotiGeral* form, const QKeySequence& keys, TButtonFlat* button) {
    auto* s = new QShortcut(keys, form);
    s->setContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(s, &QShortcut::activated, button, [button] {
        if (button->isEnabled())
            button->click();
    });
}

QLabel* label(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setBuddy(buddy);
    return l;
}

QString operatorCode() {
    const QString code = TNetConnection::SessionOperator();
    return code.isEmpty() ? qEnvironmentVariable("RQC_OPERATOR") : code;
}

}  // namespace

namespace rqc04200 {

const QVector<GridColumn>& listColumns() {
    static const QVector<GridColumn> c = {
        {QStringLiteral("NRCONSSOLI"), QStringLiteral("Número"), ColumnKind::Code},
        {QStringLiteral("DTGERACAO"), QStringLiteral("Gerada em"), ColumnKind::Date},
        {QStringLiteral("DSSITUACAO"), QStringLiteral("Situação"), ColumnKind::Text},
        {QStringLiteral("NMUSUARIO"), QStringLiteral("Usuário"), ColumnKind::Text},
        {QStringLiteral("NRPRODUTOS"), QStringLiteral("Produtos"), ColumnKind::Number},
        {QStringLiteral("NRLINHAS"), QStringLiteral("Linhas"), ColumnKind::Number},
        {QStringLiteral("CDFILIAL"), QStringLiteral("Filial"), ColumnKind::Code},
        {QStringLiteral("CDFILEST"), QStringLiteral("Fil. estoque"), ColumnKind::Code},
        {QStringLiteral("DTESTORNO"), QStringLiteral("Estornada em"), ColumnKind::Date},
        {QStringLiteral("NMUSUESTORNO"), QStringLiteral("Estornada por"), ColumnKind::Text},
        {QStringLiteral("DTFECHAMENTO"), QStringLiteral("Fechada em"), ColumnKind::Date},
        {QStringLiteral("NMUSUFECHAMENTO"), QStringLiteral("Fechada por"), ColumnKind::Text},
        // Kept for the selection, not shown as columns.
        {QStringLiteral("CDFILCENTCMP"), QStringLiteral("Central"), ColumnKind::Code},
        {QStringLiteral("DSFILTRO"), QStringLiteral("Filtro"), ColumnKind::Text},
        {QStringLiteral("IDSITUACAO"), QStringLiteral("Sit."), ColumnKind::Code},
    };
    return c;
}

const QVector<GridColumn>& itemColumns() {
    static const QVector<GridColumn> c = {
        {QStringLiteral("CDPRODUTO"), QStringLiteral("Produto"), ColumnKind::Code},
        {QStringLiteral("CDARVPROD"), QStringLiteral("Código"), ColumnKind::Code},
        {QStringLiteral("NMPRODUTO"), QStringLiteral("Descrição"), ColumnKind::Text},
        {QStringLiteral("QTCONSOLIDADA"), QStringLiteral("Consolidada"), ColumnKind::Number, true},
        {QStringLiteral("QTSOLICITADA"), QStringLiteral("Solicitada"), ColumnKind::Number, true},
        {QStringLiteral("QTLIMITESEG"), QStringLiteral("Limite seg."), ColumnKind::Number},
        {QStringLiteral("QTESTOQUE"), QStringLiteral("Estoque"), ColumnKind::Number},
        {QStringLiteral("QTAF"), QStringLiteral("AF abertas"), ColumnKind::Number},
        {QStringLiteral("QTCONSABERTA"), QStringLiteral("Cons. abertas"), ColumnKind::Number},
        {QStringLiteral("QTARREDONDA"), QStringLiteral("Arredond."), ColumnKind::Number},
        {QStringLiteral("NRLINHAS"), QStringLiteral("Linhas"), ColumnKind::Number, true},
    };
    return c;
}

const QVector<GridColumn>& originColumns() {
    static const QVector<GridColumn> c = {
        {QStringLiteral("CDPRODUTO"), QStringLiteral("Produto"), ColumnKind::Code},
        {QStringLiteral("CDFILSOLI"), QStringLiteral("Fil. solicitante"), ColumnKind::Code},
        {QStringLiteral("CDFILLANCA"), QStringLiteral("Fil. lançamento"), ColumnKind::Code},
        {QStringLiteral("NRSOLICMP"), QStringLiteral("Solicitação"), ColumnKind::Code},
        {QStringLiteral("NRITEM"), QStringLiteral("Item"), ColumnKind::Code},
        {QStringLiteral("QTSOLICITADA"), QStringLiteral("Solicitada"), ColumnKind::Number, true},
        {QStringLiteral("DTENTREGA"), QStringLiteral("Entrega"), ColumnKind::Date},
    };
    return c;
}

void showInFront(TfrmRotiGeral* form) {
    form->PlaceInMdiArea();
    form->ShowInFront();
}

}  // namespace rqc04200

TfrmConsultaConsolida::TfrmConsultaConsolida(QWidget* parent) : TfrmRotiGeral(parent) {
    setObjectName(QStringLiteral("frmConsultaConsolida"));
    SetCaption(QStringLiteral("Consulta de Consolidação"));
    HelpContext = kHelpContext;
    lblCodTela->setText(QStringLiteral("RQC04200"));
    grbDadosRel->setTitle(QStringLiteral("Consolidações"));

    medCdFilCentCmp = new TMaskEdit(grbDadosRel);
    medCdFilCentCmp->setObjectName(QStringLiteral("medCdFilCentCmp"));
    medCdFilCentCmp->SetEditMask(QStringLiteral(">aaaa;0; "));
    medCdFilCentCmp->setFixedWidth(52);
    medCdFilCentCmp->setAccessibleName(QStringLiteral("Filial central"));
    medCdFilCentCmp->setAccessibleDescription(
        QStringLiteral("Código da filial central; F2 pesquisa as filiais"));
    btpFilCentCmp = new TBtnPesquisa(grbDadosRel);
    btpFilCentCmp->setObjectName(QStringLiteral("btpFilCentCmp"));
    btpFilCentCmp->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    btpFilCentCmp->SetHint(QStringLiteral("Pesquisar a filial central (F2)"));
    btpFilCentCmp->setAccessibleName(QStringLiteral("Pesquisar a filial central"));
    btpFilCentCmp->setFocusPolicy(Qt::NoFocus);
    btpFilCentCmp->Title = QStringLiteral("Filial central");
    btpFilCentCmp->Associate = medCdFilCentCmp;
    btpFilCentCmp->EmptyError = QStringLiteral("Não há filiais cadastradas.");
    edtNmFilCentCmp = new TEdit(grbDadosRel);
    edtNmFilCentCmp->setObjectName(QStringLiteral("edtNmFilCentCmp"));
    edtNmFilCentCmp->setReadOnly(true);
    edtNmFilCentCmp->setFocusPolicy(Qt::NoFocus);
    edtNmFilCentCmp->setAccessibleName(QStringLiteral("Nome da filial central"));
    // A branch's whole name (up to 30 characters) shows without scrolling.
    edtNmFilCentCmp->setMinimumWidth(edtNmFilCentCmp->fontMetrics().averageCharWidth() * 30 + 12);
    depDataIni = new TDateEditPlus(grbDadosRel);
    depDataIni->setObjectName(QStringLiteral("depDataIni"));
    depDataIni->setAccessibleName(QStringLiteral("Geradas de"));
    depDataFin = new TDateEditPlus(grbDadosRel);
    depDataFin->setObjectName(QStringLiteral("depDataFin"));
    depDataFin->setAccessibleName(QStringLiteral("Geradas até"));
    for (TDateEditPlus* d : {depDataIni, depDataFin}) {
        d->setFixedWidth(110);
        d->setAccessibleDescription(QStringLiteral("Data dd/mm/aaaa; F4 abre o calendário"));
    }
    depDataFin->SetDate(vlm::toDateTime(QDate::currentDate()));
    depDataIni->SetDate(vlm::toDateTime(QDate::currentDate().addDays(-kDefaultDays)));
    chbSoAbertas = new TCheckBox(grbDadosRel);
    chbSoAbertas->setObjectName(QStringLiteral("chbSoAbertas"));
    chbSoAbertas->SetCaption(QStringLiteral("Somente &abertas"));

    grdConsSoli = makeGrid(grbDadosRel, QStringLiteral("grdConsSoli"),
                           QStringLiteral("Consolidações do período"), rqc04200::listColumns(),
                           Qt::DescendingOrder);
    for (const char* hidden : {"CDFILCENTCMP", "DSFILTRO", "IDSITUACAO"}) {
        for (int c = 0; c < rqc04200::listColumns().size(); ++c) {
            if (rqc04200::listColumns()[c].field == QLatin1String(hidden))
                grdConsSoli->setColumnHidden(c, true);
        }
    }
    lblFiltro = new QLabel(grbDadosRel);
    lblFiltro->setObjectName(QStringLiteral("lblFiltro"));
    lblFiltro->setWordWrap(true);
    lblFiltro->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grdItens = makeGrid(grbDadosRel, QStringLiteral("grdItens"),
                        QStringLiteral("Produtos da consolidação"), rqc04200::itemColumns(),
                        Qt::AscendingOrder);
    lblTotItens = new QLabel(grbDadosRel);
    lblTotItens->setObjectName(QStringLiteral("lblTotItens"));
    grdOrigem = makeGrid(grbDadosRel, QStringLiteral("grdOrigem"),
                         QStringLiteral("Linhas de origem do produto"), rqc04200::originColumns(),
                         Qt::AscendingOrder);
    lblTotOrigem = new QLabel(grbDadosRel);
    lblTotOrigem->setObjectName(QStringLiteral("lblTotOrigem"));

    auto* filter = new QHBoxLayout;
    filter->addWidget(label(QStringLiteral("Filial &central:"), medCdFilCentCmp, grbDadosRel));
    filter->addWidget(medCdFilCentCmp);
    filter->addWidget(btpFilCentCmp);
    filter->addWidget(edtNmFilCentCmp, 1);
    filter->addSpacing(12);
    filter->addWidget(label(QStringLiteral("&Geradas de:"), depDataIni, grbDadosRel));
    filter->addWidget(depDataIni);
    filter->addWidget(label(QStringLiteral("a&té:"), depDataFin, grbDadosRel));
    filter->addWidget(depDataFin);
    filter->addSpacing(12);
    filter->addWidget(chbSoAbertas);
    auto* box = new QVBoxLayout(grbDadosRel);
    box->addLayout(filter);
    box->addWidget(grdConsSoli, 3);
    box->addWidget(lblFiltro);
    box->addWidget(label(QStringLiteral("&Produtos da consolidação:"), grdItens, grbDadosRel));
    box->addWidget(grdItens, 4);
    box->addWidget(lblTotItens);
    box->addWidget(label(QStringLiteral("&Linhas de origem do produto:"), grdOrigem, grbDadosRel));
    box->addWidget(grdOrigem, 2);
    box->addWidget(lblTotOrigem);

    sbtConfirma->SetHint(QStringLiteral("Pesquisar as consolidações (F5)"));
    sbtConfirma->setAccessibleName(QStringLiteral("Pesquisar as consolidações"));
    sbtConfirma->setFocusPolicy(Qt::TabFocus);
    sbtConfirma->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    sbtEstorna = barButton(panBotoes, QStringLiteral("sbtEstorna"),
                           QStringLiteral("Estornar a consolidação (Ctrl+E)"),
                           style()->standardIcon(QStyle::SP_DialogDiscardButton), 45);
    sbtExportaCsv = barButton(panBotoes, QStringLiteral("sbtExportaCsv"),
                              QStringLiteral("Exportar para planilha (CSV) (Ctrl+S)"),
                              vlm::reportIcon(QStringLiteral("planilha")), 85);
    sbtExportaPdf = barButton(panBotoes, QStringLiteral("sbtExportaPdf"),
                              QStringLiteral("Exportar para PDF (Ctrl+D)"),
                              vlm::reportIcon(QStringLiteral("pdf")), 125);
    sbtImprime = barButton(panBotoes, QStringLiteral("sbtImprime"),
                           QStringLiteral("Imprimir, com visualização (Ctrl+P)"),
                           vlm::reportIcon(QStringLiteral("imprimir")), 165);
    sbtEstorna->setEnabled(false);
    sbtHelp->setAccessibleName(QStringLiteral("Ajuda"));
    sbtHelp->setFocusPolicy(Qt::TabFocus);
    panBotoes->setFixedSize(39, 205);
    panHelp->setFixedSize(panHelp->size());
    shortcut(this, QKeySequence(Qt::Key_F5), sbtConfirma);
    shortcut(this, QKeySequence(Qt::CTRL | Qt::Key_E), sbtEstorna);
    shortcut(this, QKeySequence(Qt::CTRL | Qt::Key_S), sbtExportaCsv);
    shortcut(this, QKeySequence(Qt::CTRL | Qt::Key_D), sbtExportaPdf);
    shortcut(this, QKeySequence(Qt::CTRL | Qt::Key_P), sbtImprime);
    sbtConfirma->OnClick = [this](QObject* s) { sbtConfirmaClick(s); };
    sbtEstorna->OnClick = [this](QObject* s) { sbtEstornaClick(s); };
    sbtExportaCsv->OnClick = [this](QObject* s) { sbtExportaCsvClick(s); };
    sbtExportaPdf->OnClick = [this](QObject* s) { sbtExportaPdfClick(s); };
    sbtImprime->OnClick = [this](QObject* s) { sbtImprimeClick(s); };

    // The form grows with its window: the filter box takes the room, the side panel keeps its
    // width, the screen code at its foot.
    const int menuWidth = 68;
    auto* side = new QVBoxLayout(panMenu);
    side->setContentsMargins(2, 8, 2, 4);
    side->setSpacing(6);
    side->addWidget(panBotoes, 0, Qt::AlignHCenter);
    side->addWidget(panHelp, 0, Qt::AlignHCenter);
    side->addStretch(1);
    side->addWidget(lblCodTela);
    panMenu->setFixedWidth(menuWidth);
    auto* whole = new QHBoxLayout(this);
    whole->setContentsMargins(0, 0, 0, 0);
    whole->setSpacing(0);
    whole->addWidget(grbDadosRel, 1);
    whole->addWidget(panMenu);
    setMinimumSize(720, 480);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(1120, 620);  // every column of the consolidations at a 1366-pixel screen

    for (auto [from, to] : {std::pair<QWidget*, QWidget*>{medCdFilCentCmp, depDataIni},
                            {depDataIni, depDataFin},
                            {depDataFin, chbSoAbertas},
                            {chbSoAbertas, grdConsSoli},
                            {grdConsSoli, grdItens},
                            {grdItens, grdOrigem},
                            {grdOrigem, sbtConfirma},
                            {sbtConfirma, sbtEstorna},
                            {sbtEstorna, sbtExportaCsv},
                            {sbtExportaCsv, sbtExportaPdf},
                            {sbtExportaPdf, sbtImprime},
                            {sbtImprime, sbtHelp}})
        setTabOrder(from, to);

    netConsultaConsolida = new TNetConnection(this);
    netConsultaConsolida->ServerName = QStringLiteral("Rqc04100.rdmConsolidaSolicita");
    netConsultaConsolida->BeforeConnect = [this](QObject*) {
        netConsultaConsolida->Host = WebURL();
        netConsultaConsolida->Port = WebPort();
    };
    cdsConsSoli = new TClientDataSet(this);
    cdsItens = new TClientDataSet(this);
    cdsOrigem = new TClientDataSet(this);
    declareFields(cdsConsSoli, rqc04200::listColumns());
    declareFields(cdsItens, rqc04200::itemColumns());
    declareFields(cdsOrigem, rqc04200::originColumns());
    qryCentComp = new TADOIBQuery(this);
    qryCentComp->SQL = {
        QStringLiteral("SELECT COALESCE(CDFILCENTCMP, CDFILIAL) AS CDFILCENTCMP FROM FILIAL"),
        QStringLiteral("WHERE CDFILIAL = :P_CDFILIAL")};
    qryPesqFilial = new TADOIBQuery(this);
    qryPesqFilial->SQL = {QStringLiteral("SELECT CDFILIAL, NMFILIAL FROM FILIAL"),
                          QStringLiteral("WHERE (CDFILIAL = :P_CDFILIAL OR :P_TCDFILIAL = 'T')"),
                          QStringLiteral("ORDER BY CDFILIAL")};
    qryPesqFilial->AddField(QStringLiteral("CDFILIAL"), kBranchWidth)->DisplayLabel =
        QStringLiteral("Código");
    qryPesqFilial->AddField(QStringLiteral("NMFILIAL"), 30)->DisplayLabel = QStringLiteral("Nome");
    dtsPesqFilial = new TDataSource(this);
    dtsPesqFilial->DataSet = qryPesqFilial;
    btpFilCentCmp->DataSource = dtsPesqFilial;
    btpFilCentCmp->PesqChave = true;
    btpFilCentCmp->OnBeforePesq = [this](QObject*, bool&) {
        qryPesqFilial->Close();
        qryPesqFilial->ParamByName(QStringLiteral("P_CDFILIAL"))->SetAsString(QString());
        qryPesqFilial->ParamByName(QStringLiteral("P_TCDFILIAL"))->SetAsString(QStringLiteral("T"));
        qryPesqFilial->Open();
    };
    btpFilCentCmp->OnAfterPesq = [this](QObject*) {
        medCdFilCentCmp->SetText(
            qryPesqFilial->FieldByName(QStringLiteral("CDFILIAL"))->AsString());
        edtNmFilCentCmp->SetText(
            qryPesqFilial->FieldByName(QStringLiteral("NMFILIAL"))->AsString());
    };
    medCdFilCentCmp->OnChange = [this](QObject*) { edtNmFilCentCmp->SetText(QString()); };
    medCdFilCentCmp->OnExit = [this](QObject*) { vd_FilCentCmp(); };

    connect(grdConsSoli, &QTableWidget::currentCellChanged, this,
            [this](int row, int, int prev, int) {
                if (!m_filling && row != prev)
                    vlm::dispatch([this, row] { SelecionaConsolidacao(row); });
            });
    connect(grdItens, &QTableWidget::currentCellChanged, this, [this](int row, int, int prev, int) {
        if (!m_filling && row != prev)
            vlm::dispatch([this, row] { SelecionaProduto(row); });
    });
}

TfrmConsultaConsolida::~TfrmConsultaConsolida() = default;

void TfrmConsultaConsolida::FormCreate(QObject* Sender) {
    TfrmRotiGeral::FormCreate(Sender);
    QString central = FiliProc();
    try {
        qryCentComp->ParamByName(QStringLiteral("P_CDFILIAL"))->SetAsString(FiliProc());
        qryCentComp->Open();
        if (!qryCentComp->IsEmpty())
            central = qryCentComp->FieldByName(QStringLiteral("CDFILCENTCMP"))->AsString();
        qryCentComp->Close();
    } catch (const std::exception&) {
        // Without the suite database the processing branch stands for its central branch.
    }
    medCdFilCentCmp->SetText(central.trimmed());
    try {
        edtNmFilCentCmp->SetText(nomeFilial(medCdFilCentCmp->Text()));
    } catch (const std::exception&) {
        // The name stays blank; the search checks the branch again and says what is wrong.
    }
    // A fixed processing branch fixes its central branch too.
    const bool fixedBranch = ModuFili();
    medCdFilCentCmp->setEnabled(!fixedBranch);
    btpFilCentCmp->setEnabled(!fixedBranch);
    netConsultaConsolida->SetConnected(true);
}

void TfrmConsultaConsolida::FormClose(QObject* Sender, TCloseAction& Action) {
    netConsultaConsolida->SetConnected(false);
    TfrmRotiGeral::FormClose(Sender, Action);
}

QString TfrmConsultaConsolida::nomeFilial(const QString& code) {
    qryPesqFilial->Close();
    qryPesqFilial->ParamByName(QStringLiteral("P_CDFILIAL"))
        ->SetAsString(Ajusta(code, kBranchWidth));
    qryPesqFilial->ParamByName(QStringLiteral("P_TCDFILIAL"))->SetAsString(QString());
    qryPesqFilial->Open();
    if (qryPesqFilial->IsEmpty())
        return {};
    const QString name = qryPesqFilial->FieldByName(QStringLiteral("NMFILIAL"))->AsString();
    return name.isNull() ? QStringLiteral("") : name;
}

void TfrmConsultaConsolida::vd_FilCentCmp() {
    const bool blank = EmptyString(medCdFilCentCmp->Text());
    medCdFilCentCmp->SetText(Ajusta(medCdFilCentCmp->Text(), kBranchWidth).trimmed());
    try {
        if (blank)
            MensErro(QStringLiteral("Informe a filial central (F2 pesquisa as filiais)."), true);
        const QString name = nomeFilial(medCdFilCentCmp->Text());
        if (name.isNull()) {
            MensErro(QStringLiteral("A filial %1 não está cadastrada. Informe outra ou pesquise "
                                    "com F2.")
                         .arg(medCdFilCentCmp->Text()),
                     true);
        }
        edtNmFilCentCmp->SetText(name);
    } catch (...) {
        if (medCdFilCentCmp->isEnabled() && medCdFilCentCmp->isVisibleTo(window()))
            medCdFilCentCmp->setFocus(Qt::OtherFocusReason);
        throw;
    }
}

TServerResult TfrmConsultaConsolida::call(const QString& method,
                                          const std::vector<TServerArg>& args,
                                          const QString& waitText, int expected) {
    vlm::WaitingScope waiting(waitText);
    return CheckResultServ(netConsultaConsolida->AppServer().Call(method, args), true, expected);
}

void TfrmConsultaConsolida::sbtConfirmaClick(QObject*) {
    Pesquisa();
}

void TfrmConsultaConsolida::Pesquisa() {
    const QString selected = NumeroSelecionado();
    fetchList();
    selectNumber(selected);
}

void TfrmConsultaConsolida::fetchList() {
    if (medCdFilCentCmp->isEnabled() || EmptyString(edtNmFilCentCmp->Text()))
        vd_FilCentCmp();
    for (TDateEditPlus* d : {depDataIni, depDataFin})
        d->CheckValidDate();
    if (depDataIni->IsBlank() || depDataFin->IsBlank()) {
        (depDataIni->IsBlank() ? depDataIni : depDataFin)->setFocus();
        MensErro(QStringLiteral("Informe as duas datas de geração."), true);
    }
    if (depDataIni->GetDate() > depDataFin->GetDate()) {
        depDataIni->setFocus();
        MensErro(QStringLiteral("A data inicial é posterior à data final. Corrija o período."),
                 true);
    }
    const TServerResult result =
        call(QStringLiteral("GetConsSoliLista"),
             {TServerArg::Value(medCdFilCentCmp->Text()), TServerArg::Date(depDataIni->GetDate()),
              TServerArg::Date(depDataFin->GetDate()),
              TServerArg::Value(chbSoAbertas->Checked() ? QStringLiteral("T") : QString())},
             QStringLiteral("Buscando as consolidações..."));
    cdsConsSoli->SetData(result);
}

void TfrmConsultaConsolida::selectNumber(const QString& number) {
    m_filling = true;
    fillGrid(grdConsSoli, *cdsConsSoli, rqc04200::listColumns());
    int row = grdConsSoli->rowCount() > 0 ? 0 : -1;
    for (int r = 0; r < grdConsSoli->rowCount() && !number.isEmpty(); ++r) {
        if (grdConsSoli->item(r, 0)->text() == number)
            row = r;
    }
    grdConsSoli->setCurrentCell(row, 0);
    m_filling = false;
    SelecionaConsolidacao(row);
}

void TfrmConsultaConsolida::AbreNumero(const QString& typed) {
    const QString number = numberText(typed);
    const TServerResult result =
        call(QStringLiteral("GetConsSoliCabec"), {TServerArg::Value(number)},
             QStringLiteral("Buscando a consolidação %1...").arg(number));
    TClientDataSet found;
    declareFields(&found, rqc04200::listColumns());
    found.SetData(result);
    if (found.RecordCount() == 0)
        MensErro(QStringLiteral("A consolidação %1 não existe. Confira o número.").arg(number),
                 true);
    const QString central = cell(found, 0, QStringLiteral("CDFILCENTCMP")).trimmed();
    if (central != medCdFilCentCmp->Text().trimmed()) {
        if (!medCdFilCentCmp->isEnabled()) {
            MensErro(QStringLiteral("A consolidação %1 é da filial central %2, não da filial "
                                    "central %3 desta estação.")
                         .arg(number, central, medCdFilCentCmp->Text()),
                     true);
        }
        medCdFilCentCmp->SetText(central);
        vd_FilCentCmp();
    }
    const QDate day = QDate::fromString(cell(found, 0, QStringLiteral("DTGERACAO")).left(10),
                                        QStringLiteral("yyyy-MM-dd"));
    depDataIni->SetDate(vlm::toDateTime(day));
    depDataFin->SetDate(vlm::toDateTime(day));
    chbSoAbertas->SetChecked(false);
    cdsConsSoli->SetData(result);
    selectNumber(number);
}

QString TfrmConsultaConsolida::NumeroSelecionado() const {
    const int row = grdConsSoli->currentRow();
    if (row < 0 || grdConsSoli->item(row, 0) == nullptr)
        return {};
    return grdConsSoli->item(row, 0)->text();
}

QString TfrmConsultaConsolida::selectedCell(const QString& field) const {
    const int row = dataRow(grdConsSoli, grdConsSoli->currentRow());
    return row < 0 ? QString() : cell(*cdsConsSoli, row, field);
}

void TfrmConsultaConsolida::SelecionaConsolidacao(int row) {
    const QString number = row < 0 || grdConsSoli->item(row, 0) == nullptr
                               ? QString()
                               : grdConsSoli->item(row, 0)->text();
    m_filling = true;
    grdItens->setRowCount(0);
    grdOrigem->setRowCount(0);
    m_filling = false;
    sbtEstorna->setEnabled(selectedCell(QStringLiteral("IDSITUACAO")) == QLatin1String("A"));
    const QString filter = selectedCell(QStringLiteral("DSFILTRO"));
    lblFiltro->setText(filter.isEmpty() ? QString() : QStringLiteral("Filtro: ") + filter);
    lblTotItens->clear();
    lblTotOrigem->clear();
    if (number.isEmpty())
        return;
    cdsItens->SetData(call(QStringLiteral("GetConsSoliItens"), {TServerArg::Value(number)},
                           QStringLiteral("Buscando a consolidação %1...").arg(number)));
    m_filling = true;
    fillGrid(grdItens, *cdsItens, rqc04200::itemColumns());
    grdItens->setCurrentCell(grdItens->rowCount() > 0 ? 0 : -1, 0);
    m_filling = false;
    lblTotItens->setText(totalsLine(TabelaItens(), QStringLiteral("produto(s)")));
    SelecionaProduto(grdItens->currentRow());
}

void TfrmConsultaConsolida::SelecionaProduto(int row) {
    const QString product =
        row < 0 || grdItens->item(row, 0) == nullptr ? QString() : grdItens->item(row, 0)->text();
    grdOrigem->setRowCount(0);
    lblTotOrigem->clear();
    if (product.isEmpty())
        return;
    cdsOrigem->SetData(call(QStringLiteral("GetConsSoliOrigem"),
                            {TServerArg::Value(NumeroSelecionado()), TServerArg::Value(product)},
                            QStringLiteral("Buscando as linhas de origem de %1...").arg(product)));
    fillGrid(grdOrigem, *cdsOrigem, rqc04200::originColumns());
    lblTotOrigem->setText(totalsLine(TabelaOrigem(), QStringLiteral("linha(s)")));
}

void TfrmConsultaConsolida::sbtEstornaClick(QObject*) {
    const QString number = NumeroSelecionado();
    if (number.isEmpty())
        MensErro(QStringLiteral("Selecione a consolidação a estornar."), true);
    if (selectedCell(QStringLiteral("IDSITUACAO")) != QStringLiteral("A")) {
        MensErro(QStringLiteral("A consolidação %1 não está aberta (situação %2): não pode ser "
                                "estornada.")
                     .arg(number, selectedCell(QStringLiteral("DSSITUACAO"))),
                 true);
    }
    const QString question =
        QStringLiteral(
            "Estornar a consolidação %1?\n\nSerão liberadas %2 linha(s) de "
            "solicitação de %3 produto(s) para nova consolidação.")
            .arg(number, vlm::countText(selectedCell(QStringLiteral("NRLINHAS"))),
                 vlm::countText(selectedCell(QStringLiteral("NRPRODUTOS"))));
    // Undoing a consolidation: Enter answers "Não".
    if (MessageDlg(question, mtConfirmation, {mbYes, mbNo}, 0, mbNo) != mrYes)
        return;
    const TServerResult result =
        call(QStringLiteral("EstornaConsSoli"), {TServerArg::Value(number)},
             QStringLiteral("Estornando a consolidação %1...").arg(number), kTextResult);
    const QString changed = result.AsString();
    Pesquisa();
    MessageDlg(QStringLiteral("Consolidação %1 estornada: %2 linha(s) de solicitação liberada(s).")
                   .arg(number, vlm::countText(changed)),
               mtInformation, {mbOK}, 0);
}

vlm::ReportTable TfrmConsultaConsolida::report(const QTableWidget* grid,
                                               const QVector<GridColumn>& columns,
                                               const TDataSet& data, const QString& title) const {
    vlm::ReportTable table;
    table.title = title;
    table.details.append(
        QStringLiteral("Filial central %1 %2; gerada em %3 por %4; situação %5")
            .arg(selectedCell(QStringLiteral("CDFILCENTCMP")).trimmed(), edtNmFilCentCmp->Text(),
                 vlm::displayText(ColumnKind::Date, selectedCell(QStringLiteral("DTGERACAO"))),
                 selectedCell(QStringLiteral("NMUSUARIO")),
                 selectedCell(QStringLiteral("DSSITUACAO"))));
    table.details.append(QStringLiteral("Filtro: ") + selectedCell(QStringLiteral("DSFILTRO")));
    table.operatorCode = operatorCode();
    table.issued = QDateTime::currentDateTime();
    for (const GridColumn& c : columns)
        table.columns.append({c.header, c.kind, c.summed});
    for (int r = 0; r < grid->rowCount(); ++r) {
        const int row = dataRow(grid, r);
        QStringList cells;
        for (const GridColumn& c : columns)
            cells.append(cell(data, row, c.field));
        table.rows.append(cells);
    }
    return table;
}

vlm::ReportTable TfrmConsultaConsolida::TabelaItens() const {
    return report(grdItens, rqc04200::itemColumns(), *cdsItens,
                  QStringLiteral("Consolidação %1: produtos").arg(NumeroSelecionado()));
}

vlm::ReportTable TfrmConsultaConsolida::TabelaOrigem() const {
    const int row = grdItens->currentRow();
    const QString product = row < 0 ? QString()
                                    : QStringLiteral("%1 %2").arg(grdItens->item(row, 0)->text(),
                                                                  grdItens->item(row, 2)->text());
    return report(grdOrigem, rqc04200::originColumns(), *cdsOrigem,
                  QStringLiteral("Consolidação %1: linhas de origem do produto %2")
                      .arg(NumeroSelecionado(), product));
}

bool TfrmConsultaConsolida::RelatorioOrigem() const {
    return QApplication::focusWidget() == grdOrigem;
}

vlm::ReportTable TfrmConsultaConsolida::Relatorio() const {
    const bool origin = RelatorioOrigem();
    const QTableWidget* grid = origin ? grdOrigem : grdItens;
    if (NumeroSelecionado().isEmpty() || grid->rowCount() == 0) {
        MensErro(origin ? QStringLiteral("Não há linhas de origem para o relatório: selecione um "
                                         "produto que tenha linhas.")
                        : QStringLiteral("Não há produtos para o relatório: selecione uma "
                                         "consolidação que tenha produtos."),
                 true);
    }
    return origin ? TabelaOrigem() : TabelaItens();
}

namespace {

// The file the user chose for a report, or "" when the user gave up.
QString exportPath(const TfrmConsultaConsolida& form, const QString& title,
                   const QString& extension, const QString& filter) {
    return vlm::askSavePath(
        title,
        QStringLiteral("consolidacao-%1%2.%3")
            .arg(form.NumeroSelecionado(),
                 form.RelatorioOrigem() ? QStringLiteral("-origem") : QString(), extension),
        filter);
}

}  // namespace

void TfrmConsultaConsolida::sbtExportaCsvClick(QObject*) {
    const vlm::ReportTable table = Relatorio();
    const QString path = exportPath(*this, QStringLiteral("Exportar para planilha"),
                                    QStringLiteral("csv"), QStringLiteral("Planilha CSV (*.csv)"));
    if (path.isEmpty())
        return;
    vlm::writeCsv(table, path);
    MessageDlg(QStringLiteral("Arquivo gravado: %1").arg(path), mtInformation, {mbOK}, 0);
}

void TfrmConsultaConsolida::sbtExportaPdfClick(QObject*) {
    const vlm::ReportTable table = Relatorio();
    const QString path = exportPath(*this, QStringLiteral("Exportar para PDF"),
                                    QStringLiteral("pdf"), QStringLiteral("Documento PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    vlm::writePdf(table, path);
    MessageDlg(QStringLiteral("Arquivo gravado: %1").arg(path), mtInformation, {mbOK}, 0);
}

void TfrmConsultaConsolida::sbtImprimeClick(QObject*) {
    vlm::previewReport(Relatorio(), this);
}
