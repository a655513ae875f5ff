#include "screen/frm_consulta_consolida.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
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

constexpr int kShowAviSearch = 1;
constexpr int kTextResult = 10;  // CheckResultServ: a text
constexpr int kHelpContext = 4200;
constexpr int kNumberWidth = 10;
constexpr int kDefaultDays = 30;
constexpr int kFieldSize = 60;

QString numberText(const QString& typed) {
    const QString digits = typed.trimmed();
    bool ok = !digits.isEmpty() && digits.size() <= kNumberWidth;
    for (const QChar c : digits)
        ok = ok && c.isDigit();
    if (!ok) {
        throw std::runtime_error(
            QStringLiteral("Número de consolidação inválido: \"%1\" (até 10 algarismos).")
                .arg(typed)
                .toStdString());
    }
    return digits.rightJustified(kNumberWidth, QLatin1Char('0'));
}

void declareFields(TClientDataSet* data, const QVector<GridColumn>& columns) {
    for (const GridColumn& c : columns)
        data->AddField(c.field, kFieldSize)->DisplayLabel = c.header;
}

QTableWidget* makeGrid(QWidget* parent, const QString& name, const QVector<GridColumn>& columns) {
    auto* grid = new QTableWidget(parent);
    grid->setObjectName(name);
    grid->setColumnCount(static_cast<int>(columns.size()));
    QStringList headers;
    for (const GridColumn& c : columns)
        headers.append(c.header);
    grid->setHorizontalHeaderLabels(headers);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->verticalHeader()->setVisible(false);
    grid->verticalHeader()->setDefaultSectionSize(20);
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    return grid;
}

QString cell(const TDataSet& data, int row, const QString& field) {
    const TField* f = data.FieldByName(field);
    return data.value(row, f->index()).value_or(QString());
}

// Shows the rows of `data` for which `keep` holds.
template <class Keep>
void fillGrid(QTableWidget* grid, const TDataSet& data, const QVector<GridColumn>& columns,
              Keep keep) {
    grid->setRowCount(0);
    for (int r = 0; r < data.RecordCount(); ++r) {
        if (!keep(r))
            continue;
        const int row = grid->rowCount();
        grid->insertRow(row);
        for (int c = 0; c < columns.size(); ++c) {
            auto* item = new QTableWidgetItem(
                rqc04200::displayText(columns[c].kind, cell(data, r, columns[c].field)));
            if (columns[c].kind == ColumnKind::Number)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            item->setData(Qt::UserRole, r);
            grid->setItem(row, c, item);
        }
    }
}

int dataRow(const QTableWidget* grid, int row) {
    const QTableWidgetItem* item = grid->item(row, 0);
    return item == nullptr ? -1 : item->data(Qt::UserRole).toInt();
}

TButtonFlat* barButton(QWidget* parent, const QString& name, const QString& hint,
                       QStyle::StandardPixmap glyph, int top) {
    auto* b = new TButtonFlat(parent);
    b->setObjectName(name);
    b->SetHint(hint);
    b->setIcon(parent->style()->standardIcon(glyph));
    b->setGeometry(2, top, 35, 35);
    return b;
}

}  // namespace

namespace rqc04200 {

const QVector<GridColumn>& listColumns() {
    static const QVector<GridColumn> c = {
        {QStringLiteral("NRCONSSOLI"), QStringLiteral("Número"), ColumnKind::Text},
        {QStringLiteral("DTGERACAO"), QStringLiteral("Gerada em"), ColumnKind::Date},
        {QStringLiteral("NMUSUARIO"), QStringLiteral("Usuário"), ColumnKind::Text},
        {QStringLiteral("CDFILIAL"), QStringLiteral("Filial"), ColumnKind::Text},
        {QStringLiteral("CDFILCENTCMP"), QStringLiteral("Central"), ColumnKind::Text},
        {QStringLiteral("CDFILEST"), QStringLiteral("Fil. estoque"), ColumnKind::Text},
        {QStringLiteral("NRPRODUTOS"), QStringLiteral("Produtos"), ColumnKind::Number},
        {QStringLiteral("NRLINHAS"), QStringLiteral("Linhas"), ColumnKind::Number},
        {QStringLiteral("DSSITUACAO"), QStringLiteral("Situação"), ColumnKind::Text},
        {QStringLiteral("DTESTORNO"), QStringLiteral("Estornada em"), ColumnKind::Date},
        {QStringLiteral("NMUSUESTORNO"), QStringLiteral("Estornada por"), ColumnKind::Text},
        {QStringLiteral("DSFILTRO"), QStringLiteral("Filtro"), ColumnKind::Text},
        {QStringLiteral("IDSITUACAO"), QStringLiteral("Sit."), ColumnKind::Text},
    };
    return c;
}

const QVector<GridColumn>& itemColumns() {
    static const QVector<GridColumn> c = {
        {QStringLiteral("CDPRODUTO"), QStringLiteral("Produto"), ColumnKind::Text},
        {QStringLiteral("CDARVPROD"), QStringLiteral("Código"), ColumnKind::Text},
        {QStringLiteral("NMPRODUTO"), QStringLiteral("Descrição"), ColumnKind::Text},
        {QStringLiteral("QTSOLICITADA"), QStringLiteral("Solicitada"), ColumnKind::Number},
        {QStringLiteral("QTLIMITESEG"), QStringLiteral("Limite seg."), ColumnKind::Number},
        {QStringLiteral("QTESTOQUE"), QStringLiteral("Estoque"), ColumnKind::Number},
        {QStringLiteral("QTAF"), QStringLiteral("AF abertas"), ColumnKind::Number},
        {QStringLiteral("QTCONSABERTA"), QStringLiteral("Cons. abertas"), ColumnKind::Number},
        {QStringLiteral("QTARREDONDA"), QStringLiteral("Arredond."), ColumnKind::Number},
        {QStringLiteral("QTCONSOLIDADA"), QStringLiteral("Consolidada"), ColumnKind::Number},
        {QStringLiteral("NRLINHAS"), QStringLiteral("Linhas"), ColumnKind::Number},
    };
    return c;
}

const QVector<GridColumn>& originColumns() {
    static const QVector<GridColumn> c = {
        {QStringLiteral("CDPRODUTO"), QStringLiteral("Produto"), ColumnKind::Text},
        {QStringLiteral("CDFILSOLI"), QStringLiteral("Fil. solicitante"), ColumnKind::Text},
        {QStringLiteral("CDFILLANCA"), QStringLiteral("Fil. lançamento"), ColumnKind::Text},
        {QStringLiteral("NRSOLICMP"), QStringLiteral("Solicitação"), ColumnKind::Text},
        {QStringLiteral("NRITEM"), QStringLiteral("Item"), ColumnKind::Text},
        {QStringLiteral("QTSOLICITADA"), QStringLiteral("Solicitada"), ColumnKind::Number},
        {QStringLiteral("DTENTREGA"), QStringLiteral("Entrega"), ColumnKind::Date},
    };
    return c;
}

void showInFront(TfrmRotiGeral* form) {
    if (form->subWindow() == nullptr) {
        QMdiArea* area = nullptr;
        if (QWidget* main = vlm::mainForm()) {
            area = qobject_cast<QMdiArea*>(main);
            if (area == nullptr)
                area = main->findChild<QMdiArea*>();
        }
        if (area != nullptr)
            area->addSubWindow(form);
    }
    form->ShowInFront();
}

}  // namespace rqc04200

TfrmConsultaConsolida::TfrmConsultaConsolida(QWidget* parent) : TfrmRotiGeral(parent) {
    setObjectName(QStringLiteral("frmConsultaConsolida"));
    SetCaption(QStringLiteral("Consulta de Consolidação"));
    HelpContext = kHelpContext;
    lblCodTela->setText(QStringLiteral("RQC04200"));
    SetClientSize(960, 600, 892);  // fits the host window; the code label fits its panel
    grbDadosRel->setTitle(QStringLiteral("Consolidações"));

    medCdFilCentCmp = new QLineEdit(grbDadosRel);
    medCdFilCentCmp->setObjectName(QStringLiteral("medCdFilCentCmp"));
    medCdFilCentCmp->setMaxLength(4);
    medCdFilCentCmp->setMaximumWidth(60);
    depDataIni = new QDateEdit(grbDadosRel);
    depDataIni->setObjectName(QStringLiteral("depDataIni"));
    depDataFin = new QDateEdit(grbDadosRel);
    depDataFin->setObjectName(QStringLiteral("depDataFin"));
    for (QDateEdit* d : {depDataIni, depDataFin}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    }
    depDataFin->setDate(QDate::currentDate());
    depDataIni->setDate(QDate::currentDate().addDays(-kDefaultDays));
    chbSoAbertas = new QCheckBox(QStringLiteral("Somente abertas"), grbDadosRel);
    chbSoAbertas->setObjectName(QStringLiteral("chbSoAbertas"));

    grdConsSoli = makeGrid(grbDadosRel, QStringLiteral("grdConsSoli"), rqc04200::listColumns());
    grdItens = makeGrid(grbDadosRel, QStringLiteral("grdItens"), rqc04200::itemColumns());
    grdOrigem = makeGrid(grbDadosRel, QStringLiteral("grdOrigem"), rqc04200::originColumns());

    auto* filter = new QGridLayout;
    filter->addWidget(new QLabel(QStringLiteral("Filial central:"), grbDadosRel), 0, 0);
    filter->addWidget(medCdFilCentCmp, 0, 1);
    filter->addWidget(new QLabel(QStringLiteral("Geradas de:"), grbDadosRel), 0, 2);
    filter->addWidget(depDataIni, 0, 3);
    filter->addWidget(new QLabel(QStringLiteral("até:"), grbDadosRel), 0, 4);
    filter->addWidget(depDataFin, 0, 5);
    filter->addWidget(chbSoAbertas, 0, 6);
    filter->setColumnStretch(7, 1);
    auto* box = new QVBoxLayout(grbDadosRel);
    box->addLayout(filter);
    box->addWidget(grdConsSoli, 3);
    box->addWidget(new QLabel(QStringLiteral("Produtos da consolidação:"), grbDadosRel));
    box->addWidget(grdItens, 3);
    box->addWidget(new QLabel(QStringLiteral("Linhas de origem do produto:"), grbDadosRel));
    box->addWidget(grdOrigem, 2);

    sbtConfirma->SetHint(QStringLiteral("Pesquisar as consolidações"));
    sbtConfirma->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    panBotoes->setGeometry(8, 8, 39, 165);
    panHelp->move(8, 179);  // below the taller button bar
    sbtEstorna =
        barButton(panBotoes, QStringLiteral("sbtEstorna"),
                  QStringLiteral("Estornar a consolidação"), QStyle::SP_DialogDiscardButton, 45);
    sbtExportaCsv = barButton(panBotoes, QStringLiteral("sbtExportaCsv"),
                              QStringLiteral("Exportar os produtos para planilha (CSV)"),
                              QStyle::SP_FileDialogDetailedView, 85);
    sbtExportaPdf =
        barButton(panBotoes, QStringLiteral("sbtExportaPdf"),
                  QStringLiteral("Exportar os produtos para PDF"), QStyle::SP_FileIcon, 125);
    sbtConfirma->OnClick = [this](QObject* s) { sbtConfirmaClick(s); };
    sbtEstorna->OnClick = [this](QObject* s) { sbtEstornaClick(s); };
    sbtExportaCsv->OnClick = [this](QObject* s) { sbtExportaCsvClick(s); };
    sbtExportaPdf->OnClick = [this](QObject* s) { sbtExportaPdfClick(s); };

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

    connect(grdConsSoli, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
        if (!m_filling)
            vlm::dispatch([this, row] { SelecionaConsolidacao(row); });
    });
    connect(grdItens, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
        if (!m_filling)
            SelecionaProduto(row);
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
    medCdFilCentCmp->setText(central.trimmed());
    netConsultaConsolida->SetConnected(true);
}

void TfrmConsultaConsolida::FormClose(QObject* Sender, TCloseAction& Action) {
    netConsultaConsolida->SetConnected(false);
    TfrmRotiGeral::FormClose(Sender, Action);
}

TServerResult TfrmConsultaConsolida::call(const QString& method,
                                          const std::vector<TServerArg>& args,
                                          const QString& waitText, int expected) {
    ActiveShowAvi(vlm::mainForm(), kShowAviSearch, waitText);
    TServerResult result;
    try {
        result =
            CheckResultServ(netConsultaConsolida->AppServer().Call(method, args), true, expected);
    } catch (...) {
        DeactiveShowAvi();
        throw;
    }
    DeactiveShowAvi();
    return result;
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
    const QString central = medCdFilCentCmp->text().trimmed().toUpper();
    if (central.isEmpty()) {
        medCdFilCentCmp->setFocus();
        MensErro(QStringLiteral("Informe a filial central."), true);
    }
    if (depDataIni->date() > depDataFin->date()) {
        depDataIni->setFocus();
        MensErro(QStringLiteral("A data inicial é posterior à data final."), true);
    }
    const TServerResult result =
        call(QStringLiteral("GetConsSoliLista"),
             {TServerArg::Value(central), TServerArg::Date(vlm::toDateTime(depDataIni->date())),
              TServerArg::Date(vlm::toDateTime(depDataFin->date())),
              TServerArg::Value(chbSoAbertas->isChecked() ? QStringLiteral("T") : QString())},
             QStringLiteral("Buscando as consolidações..."));
    cdsConsSoli->SetData(result);
}

void TfrmConsultaConsolida::selectNumber(const QString& number) {
    m_filling = true;
    fillGrid(grdConsSoli, *cdsConsSoli, rqc04200::listColumns(), [](int) { return true; });
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
    depDataIni->setDate(QDate(1900, 1, 1));
    depDataFin->setDate(QDate(2999, 12, 31));
    chbSoAbertas->setChecked(false);
    fetchList();
    selectNumber(number);
    if (NumeroSelecionado() != number) {
        MensErro(QStringLiteral("A consolidação %1 não existe na filial central %2.")
                     .arg(number, medCdFilCentCmp->text()),
                 true);
    }
}

QString TfrmConsultaConsolida::NumeroSelecionado() const {
    const int row = grdConsSoli->currentRow();
    if (row < 0 || grdConsSoli->item(row, 0) == nullptr)
        return {};
    return grdConsSoli->item(row, 0)->text();
}

void TfrmConsultaConsolida::SelecionaConsolidacao(int row) {
    const QString number = row < 0 || grdConsSoli->item(row, 0) == nullptr
                               ? QString()
                               : grdConsSoli->item(row, 0)->text();
    m_filling = true;
    grdItens->setRowCount(0);
    grdOrigem->setRowCount(0);
    m_filling = false;
    if (number.isEmpty())
        return;
    const QString wait = QStringLiteral("Buscando a consolidação %1...").arg(number);
    cdsItens->SetData(call(QStringLiteral("GetConsSoliItens"), {TServerArg::Value(number)}, wait));
    cdsOrigem->SetData(
        call(QStringLiteral("GetConsSoliOrigem"), {TServerArg::Value(number)}, wait));
    m_filling = true;
    fillGrid(grdItens, *cdsItens, rqc04200::itemColumns(), [](int) { return true; });
    grdItens->setCurrentCell(grdItens->rowCount() > 0 ? 0 : -1, 0);
    m_filling = false;
    SelecionaProduto(grdItens->currentRow());
}

void TfrmConsultaConsolida::SelecionaProduto(int row) {
    const QString product =
        row < 0 || grdItens->item(row, 0) == nullptr ? QString() : grdItens->item(row, 0)->text();
    fillGrid(grdOrigem, *cdsOrigem, rqc04200::originColumns(), [&](int r) {
        return !product.isEmpty() && cell(*cdsOrigem, r, QStringLiteral("CDPRODUTO")) == product;
    });
}

void TfrmConsultaConsolida::sbtEstornaClick(QObject*) {
    const QString number = NumeroSelecionado();
    if (number.isEmpty())
        MensErro(QStringLiteral("Selecione a consolidação a estornar."), true);
    const int row = dataRow(grdConsSoli, grdConsSoli->currentRow());
    if (cell(*cdsConsSoli, row, QStringLiteral("IDSITUACAO")) != QStringLiteral("A")) {
        MensErro(QStringLiteral("A consolidação %1 não está aberta (situação %2): não pode ser "
                                "estornada.")
                     .arg(number, cell(*cdsConsSoli, row, QStringLiteral("DSSITUACAO"))),
                 true);
    }
    const QString question = QStringLiteral(
                                 "Estornar a consolidação %1?\n\nSerão liberadas %2 linha(s) de "
                                 "solicitação de %3 produto(s) para nova consolidação.")
                                 .arg(number, cell(*cdsConsSoli, row, QStringLiteral("NRLINHAS")),
                                      cell(*cdsConsSoli, row, QStringLiteral("NRPRODUTOS")));
    if (MessageDlg(question, mtConfirmation, {mbYes, mbNo}, 0) != mrYes)
        return;
    const TServerResult result =
        call(QStringLiteral("EstornaConsSoli"), {TServerArg::Value(number)},
             QStringLiteral("Estornando a consolidação %1...").arg(number), kTextResult);
    const QString changed = result.AsString();
    Pesquisa();
    MessageDlg(QStringLiteral("Consolidação %1 estornada: %2 linha(s) de solicitação liberada(s).")
                   .arg(number, changed),
               mtInformation, {mbOK}, 0);
}

rqc04200::ExportTable TfrmConsultaConsolida::TabelaItens() const {
    rqc04200::ExportTable table;
    table.title = QStringLiteral("Consolidação %1").arg(NumeroSelecionado());
    for (const GridColumn& c : rqc04200::itemColumns()) {
        table.headers.append(c.header);
        table.kinds.append(c.kind);
    }
    for (int r = 0; r < grdItens->rowCount(); ++r) {
        const int data = dataRow(grdItens, r);
        QStringList cells;
        for (const GridColumn& c : rqc04200::itemColumns())
            cells.append(cell(*cdsItens, data, c.field));
        table.rows.append(cells);
    }
    return table;
}

namespace {

// The file the user chose for the shown product lines, or "" when there is nothing to export
// or the user gave up.
QString exportPath(const TfrmConsultaConsolida& form, const QString& title,
                   const QString& extension, const QString& filter) {
    if (form.NumeroSelecionado().isEmpty() || form.grdItens->rowCount() == 0)
        MensErro(QStringLiteral("Não há produtos de consolidação para exportar."), true);
    const QString suggested = QDir::home().filePath(
        QStringLiteral("consolidacao-%1.%2").arg(form.NumeroSelecionado(), extension));
    return vlm::dialogs().saveFileName(title, suggested, filter);
}

}  // namespace

void TfrmConsultaConsolida::sbtExportaCsvClick(QObject*) {
    const QString path = exportPath(*this, QStringLiteral("Exportar para planilha"),
                                    QStringLiteral("csv"), QStringLiteral("Planilha CSV (*.csv)"));
    if (path.isEmpty())
        return;
    rqc04200::writeCsv(TabelaItens(), path);
    MessageDlg(QStringLiteral("Arquivo gravado: %1").arg(path), mtInformation, {mbOK}, 0);
}

void TfrmConsultaConsolida::sbtExportaPdfClick(QObject*) {
    const QString path = exportPath(*this, QStringLiteral("Exportar para PDF"),
                                    QStringLiteral("pdf"), QStringLiteral("Documento PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    rqc04200::writePdf(TabelaItens(), path);
    MessageDlg(QStringLiteral("Arquivo gravado: %1").arg(path), mtInformation, {mbOK}, 0);
}
