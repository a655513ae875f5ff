#include "screen/frm_consolida_solicita.h"

#include <QMdiSubWindow>
#include <QShortcut>
#include <stdexcept>

#include "screen/catalogue.h"
#include "screen/components.h"
#include "screen/layout.h"
#include "screen/layout_builder.h"

using namespace rqc04100;

namespace {

template <class Field>
Field* addField(TDataSet* dataSet, const FieldDefinition& def) {
    Field* f = dataSet->AddField(def.name, def.size);
    f->DisplayLabel = def.label;
    f->DisplayWidth = def.displayWidth;
    f->Required = def.required;
    f->Visible = def.visible;
    f->Origin = def.origin;
    return f;
}

TADOIBQuery* makeQuery(QObject* owner, const QueryDefinition& def) {
    auto* q = new TADOIBQuery(owner);
    q->setObjectName(def.name);
    q->SQL = def.sql;
    q->SQL_ORACLE = def.sqlOracle;
    q->SQL_MSSQL = def.sqlMssql;
    q->SQL_IB = def.sqlIb;
    for (const FieldDefinition& f : def.fields)
        addField<TADOIBStringField>(q, f);
    return q;
}

TClientDataSet* makeClientDataSet(QObject* owner, const ClientDataSetDefinition& def) {
    auto* c = new TClientDataSet(owner);
    c->setObjectName(def.name);
    for (const FieldDefinition& f : def.fields)
        addField<TStringField>(c, f);
    return c;
}

}  // namespace

TfrmConsolidaSolicita::TfrmConsolidaSolicita(QWidget* parent) : TfrmRotiGeral(parent) {
    setObjectName(QStringLiteral("frmConsolidaSolicita"));
    msgPadrao->SetLines(catalogueLines());
    SubstituteDesignFonts();
    createComponents();

    const QHash<QString, TDataSource*> sources = {
        {QStringLiteral("dtsPesqFilial"), dtsPesqFilial},
        {QStringLiteral("dtsComprador"), dtsComprador},
        {QStringLiteral("dtsProduto"), dtsProduto},
        {QStringLiteral("dtsSolicitacao"), dtsSolicitacao},
    };
    LayoutBuilder builder(*this, sources);
    BuiltLayout layout = builder.build(formLayout(), layoutTable());
    m_controls = layout.controls;
    m_tabStops = layout.tabOrder;

    medCdFilial = built<TMaskEdit>("medCdFilial");
    edtNmFilial = built<TEdit>("edtNmFilial");
    grbFili = built<TGroupBox>("grbFili");
    grbComp = built<TGroupBox>("grbComp");
    grbDataEntr = built<TGroupBox>("grbDataEntr");
    grbProduto = built<TGroupBox>("grbProduto");
    grbConsEst = built<TGroupBox>("grbConsEst");
    rdgConsSoli = built<TRadioGroup>("rdgConsSoli");
    grbSolicit = built<TGroupBox>("grbSolicit");
    GroupBox1 = built<TGroupBox>("GroupBox1");
    lblFilial = built<TLabel>("lblFilial");
    btpFilial = built<TBtnPesquisa>("btpFilial");
    rbtTodosFili = built<TRadioButton>("rbtTodosFili");
    rbtListaFili = built<TRadioButton>("rbtListaFili");
    sbtFilial = built<TButtonFlat>("sbtFilial");
    sbtTodosComp = built<TRadioButton>("sbtTodosComp");
    rbtListaComp = built<TRadioButton>("rbtListaComp");
    sbtComprador = built<TButtonFlat>("sbtComprador");
    depDataIni = built<TDateEditPlus>("depDataIni");
    depDataFin = built<TDateEditPlus>("depDataFin");
    edtDataFin = built<TEdit>("edtDataFin");
    edtDataIni = built<TEdit>("edtDataIni");
    lblDataInic = built<TLabel>("lblDataInic");
    lblDataFina = built<TLabel>("lblDataFina");
    medCdProdIni = built<TMaskEdit>("medCdProdIni");
    medCdProdfin = built<TMaskEdit>("medCdProdfin");
    edtNmProdIni = built<TEdit>("edtNmProdIni");
    edtNmProdFin = built<TEdit>("edtNmProdFin");
    lblCdProdIni = built<TLabel>("lblCdProdIni");
    lblCdProdFin = built<TLabel>("lblCdProdFin");
    BtnPesquisa3 = built<TBtnPesquisa>("BtnPesquisa3");
    BtnPesquisa4 = built<TBtnPesquisa>("BtnPesquisa4");
    chbConsEsto = built<TCheckBox>("chbConsEsto");
    medCdFilEst = built<TMaskEdit>("medCdFilEst");
    edtNmFilEst = built<TEdit>("edtNmFilEst");
    chbProdOrig = built<TCheckBox>("chbProdOrig");
    chbLimiteSeg = built<TCheckBox>("chbLimiteSeg");
    chbParamOL = built<TCheckBox>("chbParamOL");
    btpFilEst = built<TBtnPesquisa>("btpFilEst");
    Bevel1 = built<TBevel>("Bevel1");
    rbtTodosSolicit = built<TRadioButton>("rbtTodosSolicit");
    rbtListaSolicit = built<TRadioButton>("rbtListaSolicit");
    sbtSolicitacao = built<TButtonFlat>("sbtSolicitacao");
    sbtSimula = built<TButtonFlat>("sbtSimula");
    chkSolicitacao = built<TCheckBox>("chkSolicitacao");
    chkAF = built<TCheckBox>("chkAF");
    PanCalculando = built<TPanel>("PanCalculando");
    Panel4 = built<TPanel>("Panel4");
    lblMostraCalculo = built<TLabel>("lblMostraCalculo");
    anmCalculando = built<TAnimate>("anmCalculando");

    // F6 presses the preview button, as a click does.
    auto* preview = new QShortcut(QKeySequence(Qt::Key_F6), this);
    preview->setContext(Qt::WidgetWithChildrenShortcut);
    connect(preview, &QShortcut::activated, this, [this] {
        if (sbtSimula->isEnabled() && sbtSimula->isVisibleTo(this))
            sbtSimula->click();
    });

    // A fixed-size sub-window of the host's MDI area, or a window of its own without one.
    QMdiSubWindow* sub = PlaceInMdiArea(Qt::SubWindow | Qt::MSWindowsFixedSizeDialogHint |
                                        Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                        Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    show();
    if (sub != nullptr)
        sub->show();
    if (QWidget* first = m_controls.value(QString::fromUtf8(formLayout().activeControl))) {
        first->setFocus(Qt::OtherFocusReason);
    }
}

TfrmConsolidaSolicita::~TfrmConsolidaSolicita() {
    // The MDI frame goes with the form, also when creation failed before any close.
    if (QMdiSubWindow* sub = subWindow())
        sub->deleteLater();
}

template <class T>
T* TfrmConsolidaSolicita::built(const char* name) const {
    T* w = qobject_cast<T*>(m_controls.value(QString::fromUtf8(name)));
    if (w == nullptr) {
        throw std::logic_error(std::string("layout has no control ") + name + " of its kind");
    }
    return w;
}

void TfrmConsolidaSolicita::createComponents() {
    qryPesqFilial = makeQuery(this, qryPesqFilialDefinition());
    qryPesqFilialCDFILIAL = qryPesqFilial->FieldByName(QStringLiteral("CDFILIAL"));
    qryPesqFilialNMFILIAL = qryPesqFilial->FieldByName(QStringLiteral("NMFILIAL"));
    qryPesqFilialIDCNTRRESC = qryPesqFilial->FieldByName(QStringLiteral("IDCNTRRESC"));
    qryPesqFilialCDREGIAO = qryPesqFilial->FieldByName(QStringLiteral("CDREGIAO"));
    qryPesqFilialIDFUNCAOFILI = qryPesqFilial->FieldByName(QStringLiteral("IDFUNCAOFILI"));

    qryProduto = makeQuery(this, qryProdutoDefinition());
    qryProdutoCDPRODUTO = qryProduto->FieldByName(QStringLiteral("CDPRODUTO"));
    qryProdutoCDARVPROD = qryProduto->FieldByName(QStringLiteral("CDARVPROD"));
    qryProdutoNMPRODUTO = qryProduto->FieldByName(QStringLiteral("NMPRODUTO"));

    qryComprador = makeQuery(this, qryCompradorDefinition());
    qryCompradorCDOPERADOR = qryComprador->FieldByName(QStringLiteral("CDOPERADOR"));
    qryCompradorNMOPERADOR = qryComprador->FieldByName(QStringLiteral("NMOPERADOR"));

    qryCentComp = makeQuery(this, qryCentCompDefinition());
    qryCentCompCDFILCENTCMP = qryCentComp->FieldByName(QStringLiteral("CDFILCENTCMP"));
    qryCentCompNMFILIAL_CENTRAL = qryCentComp->FieldByName(QStringLiteral("NMFILIAL_CENTRAL"));

    cdsSolicitacao = makeClientDataSet(this, cdsSolicitacaoDefinition());
    cdsSolicitacaoIDMARCADO = cdsSolicitacao->FieldByName(QStringLiteral("IDMARCADO"));
    cdsSolicitacaoCHAVE = cdsSolicitacao->FieldByName(QStringLiteral("CHAVE"));
    cdsSolicitacaoCDFILSOLI = cdsSolicitacao->FieldByName(QStringLiteral("CDFILSOLI"));
    cdsSolicitacaoCDFILLANCA = cdsSolicitacao->FieldByName(QStringLiteral("CDFILLANCA"));
    cdsSolicitacaoNRSOLICMP = cdsSolicitacao->FieldByName(QStringLiteral("NRSOLICMP"));
    cdsParaCmpSup = makeClientDataSet(this, cdsParaCmpSupDefinition());
    cdsParaCmpSupIDUTPRODPREF = cdsParaCmpSup->FieldByName(QStringLiteral("IDUTPRODPREF"));

    const QHash<QString, TDataSet*> dataSets = {
        {QStringLiteral("qryPesqFilial"), qryPesqFilial},
        {QStringLiteral("qryComprador"), qryComprador},
        {QStringLiteral("qryProduto"), qryProduto},
        {QStringLiteral("cdsSolicitacao"), cdsSolicitacao},
    };
    QHash<QString, TDataSource*> sources;
    for (const DataSourceLink& def : dataSourceLinks()) {
        auto* ds = new TDataSource(this);
        ds->setObjectName(def.name);
        ds->DataSet = dataSets.value(def.dataSet);
        if (ds->DataSet == nullptr) {
            throw std::logic_error("data source " + def.name.toStdString() +
                                   " names an unknown data set");
        }
        sources.insert(def.name, ds);
    }
    dtsPesqFilial = sources.value(QStringLiteral("dtsPesqFilial"));
    dtsComprador = sources.value(QStringLiteral("dtsComprador"));
    dtsProduto = sources.value(QStringLiteral("dtsProduto"));
    dtsSolicitacao = sources.value(QStringLiteral("dtsSolicitacao"));

    const ConnectionDefinition& net = netConsolidaSolicitaDefinition();
    netConsolidaSolicita = new TNetConnection(this);
    netConsolidaSolicita->setObjectName(net.name);
    netConsolidaSolicita->ServerName = net.serverName;
    netConsolidaSolicita->ThrowException = net.throwException;
    netConsolidaSolicita->BeforeConnect = [this, h = net.beforeConnect](QObject* sender) {
        (this->*h)(sender);
    };
}
