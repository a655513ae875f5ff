#include "screen/frm_consulta_consolida.h"

#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>
#include <stdexcept>

#include "screen/grids.h"
#include "vlm/adoib_query.h"
#include "vlm/check_result_serv.h"
#include "vlm/dialogs.h"
#include "vlm/helpers.h"
#include "vlm/messages.h"

using vlm::ReportColumn;

namespace {

constexpr int kTextResult = 10;  // CheckResultServ: a text
constexpr int kHelpContext = 4200;
constexpr int kNumberWidth = 10;
constexpr int kBranchWidth = 4;
constexpr int kDefaultDays = 30;
constexpr int kFieldSize = 60;

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

void declareFields(TClientDataSet* data, const QVector<ReportColumn>& columns) {
    for (const ReportColumn& c : columns)
        data->AddField(c.field, kFieldSize)->DisplayLabel = c.header;
}

QString cell(const TDataSet& data, int row, const QString& field) {
    const TField* f = data.FieldByName(field);
    return data.value(row, f->index()).value_or(QString());
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

}  // namespace

namespace rqc04200 {

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
    QList<QWidget*> tabOrder;
    auto* box = new QVBoxLayout(grbDadosRel);
    box->addLayout(buildFilter(tabOrder));
    buildGrids(*box, tabOrder);
    buildSideBar(tabOrder);
    for (int i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    depDataFin->SetDate(vlm::toDateTime(QDate::currentDate()));
    depDataIni->SetDate(vlm::toDateTime(QDate::currentDate().addDays(-kDefaultDays)));
    sbtEstorna->setEnabled(false);
    sbtConfirma->OnClick = [this](QObject* s) { sbtConfirmaClick(s); };
    sbtEstorna->OnClick = [this](QObject* s) { sbtEstornaClick(s); };
    sbtExportaCsv->OnClick = [this](QObject* s) { sbtExportaCsvClick(s); };
    sbtExportaPdf->OnClick = [this](QObject* s) { sbtExportaPdfClick(s); };
    sbtImprime->OnClick = [this](QObject* s) { sbtImprimeClick(s); };

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
        QStringLiteral("SELECT NVLSTR(CDFILCENTCMP, CDFILIAL) AS CDFILCENTCMP FROM FILIAL"),
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
    btpFilCentCmp->Title = QStringLiteral("Filial central");
    btpFilCentCmp->Associate = medCdFilCentCmp;
    btpFilCentCmp->EmptyError = QStringLiteral("Não há filiais cadastradas.");
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
    rqc04200::fillGrid(grdConsSoli, *cdsConsSoli, rqc04200::listColumns());
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
    const int row = rqc04200::dataRow(grdConsSoli, grdConsSoli->currentRow());
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
    rqc04200::fillGrid(grdItens, *cdsItens, rqc04200::itemColumns());
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
    rqc04200::fillGrid(grdOrigem, *cdsOrigem, rqc04200::originColumns());
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
