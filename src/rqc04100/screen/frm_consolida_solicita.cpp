#include "screen/frm_consolida_solicita.h"

#include <QMdiSubWindow>
#include <map>
#include <stdexcept>

#include "screen/catalogue.h"
#include "screen/components.h"
#include "screen/layout.h"
#include "screen/layout_builder.h"

using namespace rqc04100;

namespace {

using NotifyHandler = void (TfrmConsolidaSolicita::*)(QObject*);
using KeyHandler = void (TfrmConsolidaSolicita::*)(QObject*, quint16&, TShiftState);
using BeforePesqHandler = void (TfrmConsolidaSolicita::*)(QObject*, bool&);

// The handlers the form has, by the names the layout wires them with. The base form calls
// FormCreate and FormClose itself (they override its handlers).
const std::map<QString, NotifyHandler>& notifyHandlers() {
    static const std::map<QString, NotifyHandler> handlers = {
        {QStringLiteral("FormCreate"), &TfrmConsolidaSolicita::FormCreate},
        {QStringLiteral("netConsolidaSolicitaBeforeConnect"),
         &TfrmConsolidaSolicita::netConsolidaSolicitaBeforeConnect},
        {QStringLiteral("FormActivate"), &TfrmConsolidaSolicita::FormActivate},
        {QStringLiteral("medCdFilialChange"), &TfrmConsolidaSolicita::medCdFilialChange},
        {QStringLiteral("medCdFilialExit"), &TfrmConsolidaSolicita::medCdFilialExit},
        {QStringLiteral("medCdFilEstChange"), &TfrmConsolidaSolicita::medCdFilEstChange},
        {QStringLiteral("medCdFilEstExit"), &TfrmConsolidaSolicita::medCdFilEstExit},
        {QStringLiteral("btpFilialAfterPesq"), &TfrmConsolidaSolicita::btpFilialAfterPesq},
        {QStringLiteral("btpFilEstAfterPesq"), &TfrmConsolidaSolicita::btpFilEstAfterPesq},
        {QStringLiteral("chbConsEstoClick"), &TfrmConsolidaSolicita::chbConsEstoClick},
        {QStringLiteral("medCdProdIniChange"), &TfrmConsolidaSolicita::medCdProdIniChange},
        {QStringLiteral("medCdProdfinChange"), &TfrmConsolidaSolicita::medCdProdfinChange},
        {QStringLiteral("medCdProdIniExit"), &TfrmConsolidaSolicita::medCdProdIniExit},
        {QStringLiteral("medCdProdfinExit"), &TfrmConsolidaSolicita::medCdProdfinExit},
        {QStringLiteral("BtnPesquisa3AfterPesq"), &TfrmConsolidaSolicita::BtnPesquisa3AfterPesq},
        {QStringLiteral("BtnPesquisa4AfterPesq"), &TfrmConsolidaSolicita::BtnPesquisa4AfterPesq},
        {QStringLiteral("depDataIniExit"), &TfrmConsolidaSolicita::depDataIniExit},
        {QStringLiteral("depDataFinExit"), &TfrmConsolidaSolicita::depDataFinExit},
        {QStringLiteral("depDataIniDateChange"), &TfrmConsolidaSolicita::depDataIniDateChange},
        {QStringLiteral("depDataFinDateChange"), &TfrmConsolidaSolicita::depDataFinDateChange},
        {QStringLiteral("rbtTodosFiliClick"), &TfrmConsolidaSolicita::rbtTodosFiliClick},
        {QStringLiteral("sbtTodosCompClick"), &TfrmConsolidaSolicita::sbtTodosCompClick},
        {QStringLiteral("rbtTodosSolicitClick"), &TfrmConsolidaSolicita::rbtTodosSolicitClick},
        {QStringLiteral("rbtListaFiliClick"), &TfrmConsolidaSolicita::rbtListaFiliClick},
        {QStringLiteral("rbtListaCompClick"), &TfrmConsolidaSolicita::rbtListaCompClick},
        {QStringLiteral("rbtListaSolicitClick"), &TfrmConsolidaSolicita::rbtListaSolicitClick},
        {QStringLiteral("sbtFilialClick"), &TfrmConsolidaSolicita::sbtFilialClick},
        {QStringLiteral("sbtCompradorClick"), &TfrmConsolidaSolicita::sbtCompradorClick},
        {QStringLiteral("sbtSolicitacaoClick"), &TfrmConsolidaSolicita::sbtSolicitacaoClick},
        {QStringLiteral("sbtConfirmaClick"), &TfrmConsolidaSolicita::sbtConfirmaClick},
    };
    return handlers;
}

const std::map<QString, KeyHandler>& keyHandlers() {
    static const std::map<QString, KeyHandler> handlers = {
        {QStringLiteral("rbtListaFiliKeyDown"), &TfrmConsolidaSolicita::rbtListaFiliKeyDown},
        {QStringLiteral("rbtListaCompKeyDown"), &TfrmConsolidaSolicita::rbtListaCompKeyDown},
        {QStringLiteral("rbtListaSolicitKeyDown"), &TfrmConsolidaSolicita::rbtListaSolicitKeyDown},
    };
    return handlers;
}

const std::map<QString, BeforePesqHandler>& beforePesqHandlers() {
    static const std::map<QString, BeforePesqHandler> handlers = {
        {QStringLiteral("btpFilialBeforePesq"), &TfrmConsolidaSolicita::btpFilialBeforePesq},
        {QStringLiteral("btpFilEstBeforePesq"), &TfrmConsolidaSolicita::btpFilEstBeforePesq},
        {QStringLiteral("BtnPesquisa3BeforePesq"), &TfrmConsolidaSolicita::BtnPesquisa3BeforePesq},
        {QStringLiteral("BtnPesquisa4BeforePesq"), &TfrmConsolidaSolicita::BtnPesquisa4BeforePesq},
    };
    return handlers;
}

const QStringList& closeHandlers() {
    static const QStringList names = {QStringLiteral("FormClose")};
    return names;
}

template <class Field>
Field* addField(TDataSet* dataSet, const FieldSpec& def) {
    Field* f = dataSet->AddField(def.name, def.size);
    f->DisplayLabel = def.label;
    f->DisplayWidth = def.displayWidth;
    f->Required = def.required;
    f->Visible = def.visible;
    f->Origin = def.origin;
    return f;
}

TADOIBQuery* makeQuery(QObject* owner, const QuerySpec& def) {
    auto* q = new TADOIBQuery(owner);
    q->setObjectName(def.name);
    q->SQL = def.sql;
    q->SQL_ORACLE = def.sqlOracle;
    q->SQL_MSSQL = def.sqlMssql;
    q->SQL_IB = def.sqlIb;
    for (const FieldSpec& f : def.fields)
        addField<TADOIBStringField>(q, f);
    return q;
}

TClientDataSet* makeClientDataSet(QObject* owner, const ClientDataSetSpec& def) {
    auto* c = new TClientDataSet(owner);
    c->setObjectName(def.name);
    for (const FieldSpec& f : def.fields)
        addField<TStringField>(c, f);
    return c;
}

}  // namespace

TfrmConsolidaSolicita::TfrmConsolidaSolicita(QWidget* parent) : TfrmRotiGeral(parent) {
    setObjectName(QStringLiteral("frmConsolidaSolicita"));
    msgPadrao->SetLines(catalogueLines());
    SubstituteDesignFonts();
    createComponents();

    HandlerLookup lookup;
    lookup.notify = [this](const QString& name) -> TNotifyEvent {
        auto it = notifyHandlers().find(name);
        if (it == notifyHandlers().end())
            return {};
        NotifyHandler h = it->second;
        return [this, h](QObject* sender) { (this->*h)(sender); };
    };
    lookup.key = [this](const QString& name) -> TKeyEvent {
        auto it = keyHandlers().find(name);
        if (it == keyHandlers().end())
            return {};
        KeyHandler h = it->second;
        return [this, h](QObject* sender, quint16& key, TShiftState shift) {
            (this->*h)(sender, key, shift);
        };
    };
    lookup.beforePesq = [this](const QString& name) -> TBeforePesqEvent {
        auto it = beforePesqHandlers().find(name);
        if (it == beforePesqHandlers().end())
            return {};
        BeforePesqHandler h = it->second;
        return [this, h](QObject* sender, bool& go) { (this->*h)(sender, go); };
    };

    const QHash<QString, TDataSource*> sources = {
        {QStringLiteral("dtsPesqFilial"), dtsPesqFilial},
        {QStringLiteral("dtsComprador"), dtsComprador},
        {QStringLiteral("dtsProduto"), dtsProduto},
        {QStringLiteral("dtsSolicitacao"), dtsSolicitacao},
    };
    LayoutBuilder builder(*this, lookup, sources);
    BuiltLayout layout = builder.build(formSpec(), layoutTable());
    m_controls = layout.controls;
    m_tabStops = layout.tabOrder;
    m_wired = layout.wired;
    m_pending = layout.pending;

    // The form's own events reach its virtual handlers through the base form.
    for (const EventWire& e : formSpec().events) {
        const QString handler = QString::fromUtf8(e.handler);
        const bool exists =
            notifyHandlers().count(handler) != 0 || closeHandlers().contains(handler);
        (exists ? m_wired : m_pending)
            .append(QStringLiteral("form.") + e.event + QLatin1Char('=') + handler);
    }
    const ConnectionSpec& net = netConsolidaSolicitaSpec();
    if (TNotifyEvent h = lookup.notify(net.beforeConnect)) {
        netConsolidaSolicita->BeforeConnect = std::move(h);
        m_wired.append(net.name + QStringLiteral(".BeforeConnect=") + net.beforeConnect);
    } else {
        m_pending.append(net.name + QStringLiteral(".BeforeConnect=") + net.beforeConnect);
    }

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
    chkSolicitacao = built<TCheckBox>("chkSolicitacao");
    chkAF = built<TCheckBox>("chkAF");
    PanCalculando = built<TPanel>("PanCalculando");
    Panel4 = built<TPanel>("Panel4");
    lblMostraCalculo = built<TLabel>("lblMostraCalculo");
    anmCalculando = built<TAnimate>("anmCalculando");

    ShowAsMdiChild(this);
    if (QWidget* first = m_controls.value(QString::fromUtf8(formSpec().activeControl))) {
        first->setFocus(Qt::OtherFocusReason);
    }
}

TfrmConsolidaSolicita::~TfrmConsolidaSolicita() {
    // The MDI frame goes with the form, also when creation failed before any close.
    if (QMdiSubWindow* sub = subWindow())
        sub->deleteLater();
    if (frmConsolidaSolicita == this) {
        frmConsolidaSolicita = nullptr;
        boIdCriado = false;
    }
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
    qryPesqFilial = makeQuery(this, qryPesqFilialSpec());
    qryPesqFilialCDFILIAL = qryPesqFilial->FieldByName(QStringLiteral("CDFILIAL"));
    qryPesqFilialNMFILIAL = qryPesqFilial->FieldByName(QStringLiteral("NMFILIAL"));
    qryPesqFilialIDCNTRRESC = qryPesqFilial->FieldByName(QStringLiteral("IDCNTRRESC"));
    qryPesqFilialCDREGIAO = qryPesqFilial->FieldByName(QStringLiteral("CDREGIAO"));
    qryPesqFilialIDFUNCAOFILI = qryPesqFilial->FieldByName(QStringLiteral("IDFUNCAOFILI"));

    qryProduto = makeQuery(this, qryProdutoSpec());
    qryProdutoCDPRODUTO = qryProduto->FieldByName(QStringLiteral("CDPRODUTO"));
    qryProdutoCDARVPROD = qryProduto->FieldByName(QStringLiteral("CDARVPROD"));
    qryProdutoNMPRODUTO = qryProduto->FieldByName(QStringLiteral("NMPRODUTO"));

    qryComprador = makeQuery(this, qryCompradorSpec());
    qryCompradorCDOPERADOR = qryComprador->FieldByName(QStringLiteral("CDOPERADOR"));
    qryCompradorNMOPERADOR = qryComprador->FieldByName(QStringLiteral("NMOPERADOR"));

    qryCentComp = makeQuery(this, qryCentCompSpec());
    qryCentCompCDFILCENTCMP = qryCentComp->FieldByName(QStringLiteral("CDFILCENTCMP"));
    qryCentCompNMFILIAL_CENTRAL = qryCentComp->FieldByName(QStringLiteral("NMFILIAL_CENTRAL"));

    cdsSolicitacao = makeClientDataSet(this, cdsSolicitacaoSpec());
    cdsSolicitacaoIDMARCADO = cdsSolicitacao->FieldByName(QStringLiteral("IDMARCADO"));
    cdsSolicitacaoCHAVE = cdsSolicitacao->FieldByName(QStringLiteral("CHAVE"));
    cdsSolicitacaoCDFILSOLI = cdsSolicitacao->FieldByName(QStringLiteral("CDFILSOLI"));
    cdsSolicitacaoCDFILLANCA = cdsSolicitacao->FieldByName(QStringLiteral("CDFILLANCA"));
    cdsSolicitacaoNRSOLICMP = cdsSolicitacao->FieldByName(QStringLiteral("NRSOLICMP"));
    cdsParaCmpSup = makeClientDataSet(this, cdsParaCmpSupSpec());
    cdsParaCmpSupIDUTPRODPREF = cdsParaCmpSup->FieldByName(QStringLiteral("IDUTPRODPREF"));

    const QHash<QString, TDataSet*> dataSets = {
        {QStringLiteral("qryPesqFilial"), qryPesqFilial},
        {QStringLiteral("qryComprador"), qryComprador},
        {QStringLiteral("qryProduto"), qryProduto},
        {QStringLiteral("cdsSolicitacao"), cdsSolicitacao},
    };
    QHash<QString, TDataSource*> sources;
    for (const DataSourceSpec& def : dataSourceSpecs()) {
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

    const ConnectionSpec& net = netConsolidaSolicitaSpec();
    netConsolidaSolicita = new TNetConnection(this);
    netConsolidaSolicita->setObjectName(net.name);
    netConsolidaSolicita->ServerName = net.serverName;
    netConsolidaSolicita->ThrowException = net.throwException;
}

FilterState TfrmConsolidaSolicita::filterState() const {
    return {boPrimAtiva, stListaComp, stListaFili, stTodasFili, stListaSolicit, stCdFilCentCmp};
}
