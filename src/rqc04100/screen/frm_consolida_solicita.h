#pragma once
// The screen "Consolidação de Solicitação": the form, its controls (built from the layout
// table), its non-visual components and its filter state (six private fields).

#include <QHash>
#include <QString>
#include <QStringList>

#include "rqc04100_export.h"
#include "shared/vlm_view.h"

class RQC04100_EXPORT TfrmConsolidaSolicita : public TfrmRotiGeral {
    Q_OBJECT
  public:
    // Builds the whole layout and the components, places the form as an MDI child of the
    // main form and shows it. FormCreate runs afterwards (vlm::createForm).
    explicit TfrmConsolidaSolicita(QWidget* parent = nullptr);
    ~TfrmConsolidaSolicita() override;

    // Controls of grbDadosRel.
    TMaskEdit* medCdFilial;
    TEdit* edtNmFilial;
    TGroupBox* grbFili;
    TGroupBox* grbComp;
    TGroupBox* grbDataEntr;
    TGroupBox* grbProduto;
    TGroupBox* grbConsEst;
    TRadioGroup* rdgConsSoli;
    TGroupBox* grbSolicit;
    TGroupBox* GroupBox1;
    TLabel* lblFilial;
    TBtnPesquisa* btpFilial;
    // grbFili
    TRadioButton* rbtTodosFili;
    TRadioButton* rbtListaFili;
    TButtonFlat* sbtFilial;
    // grbComp
    TRadioButton* sbtTodosComp;
    TRadioButton* rbtListaComp;
    TButtonFlat* sbtComprador;
    // grbDataEntr
    TDateEditPlus* depDataIni;
    TDateEditPlus* depDataFin;
    TEdit* edtDataFin;
    TEdit* edtDataIni;
    TLabel* lblDataInic;
    TLabel* lblDataFina;
    // grbProduto
    TMaskEdit* medCdProdIni;
    TMaskEdit* medCdProdfin;
    TEdit* edtNmProdIni;
    TEdit* edtNmProdFin;
    TLabel* lblCdProdIni;
    TLabel* lblCdProdFin;
    TBtnPesquisa* BtnPesquisa3;
    TBtnPesquisa* BtnPesquisa4;
    // grbConsEst
    TCheckBox* chbConsEsto;
    TMaskEdit* medCdFilEst;
    TEdit* edtNmFilEst;
    TCheckBox* chbProdOrig;
    TCheckBox* chbLimiteSeg;
    TCheckBox* chbParamOL;
    TBtnPesquisa* btpFilEst;
    TBevel* Bevel1;
    // grbSolicit
    TRadioButton* rbtTodosSolicit;
    TRadioButton* rbtListaSolicit;
    TButtonFlat* sbtSolicitacao;
    // GroupBox1
    TCheckBox* chkSolicitacao;
    TCheckBox* chkAF;
    // The preview button of the button bar, below the confirm button.
    TButtonFlat* sbtSimula;
    // The progress panel.
    TPanel* PanCalculando;
    TPanel* Panel4;
    TLabel* lblMostraCalculo;
    TAnimate* anmCalculando;

    // Queries and their persistent fields.
    TADOIBQuery* qryPesqFilial;
    TADOIBStringField* qryPesqFilialCDFILIAL;
    TADOIBStringField* qryPesqFilialNMFILIAL;
    TADOIBStringField* qryPesqFilialIDCNTRRESC;
    TADOIBStringField* qryPesqFilialCDREGIAO;
    TADOIBStringField* qryPesqFilialIDFUNCAOFILI;
    TADOIBQuery* qryProduto;
    TADOIBStringField* qryProdutoCDPRODUTO;
    TADOIBStringField* qryProdutoCDARVPROD;
    TADOIBStringField* qryProdutoNMPRODUTO;
    TADOIBQuery* qryComprador;
    TADOIBStringField* qryCompradorCDOPERADOR;
    TADOIBStringField* qryCompradorNMOPERADOR;
    TADOIBQuery* qryCentComp;
    TADOIBStringField* qryCentCompCDFILCENTCMP;
    TADOIBStringField* qryCentCompNMFILIAL_CENTRAL;
    // Data sources.
    TDataSource* dtsPesqFilial;
    TDataSource* dtsComprador;
    TDataSource* dtsProduto;
    TDataSource* dtsSolicitacao;
    // Client data sets and their fields.
    TClientDataSet* cdsSolicitacao;
    TStringField* cdsSolicitacaoIDMARCADO;
    TStringField* cdsSolicitacaoCHAVE;
    TStringField* cdsSolicitacaoCDFILSOLI;
    TStringField* cdsSolicitacaoCDFILLANCA;
    TStringField* cdsSolicitacaoNRSOLICMP;
    TClientDataSet* cdsParaCmpSup;
    TStringField* cdsParaCmpSupIDUTPRODPREF;
    // The application-server connection.
    TNetConnection* netConsolidaSolicita;

    void FormCreate(QObject* Sender) override;
    void FormClose(QObject* Sender, TCloseAction& Action) override;
    void FormActivate(QObject* Sender) override;
    void netConsolidaSolicitaBeforeConnect(QObject* Sender);
    // Looks up the central purchasing branch of the processing branch (qryCentComp) into
    // stCdFilCentCmp; false, leaving stCdFilCentCmp as it was, when the query yields no row.
    bool locateCentralBranch();

    // Validation routines: each reports its first failing check through the catalogue (the
    // abort of MensErro), moves the focus back to the control in question and re-raises.
    void vd_Filial(bool boInfVazio, TMaskEdit* medFilial);
    void Vd_OL();
    QString Vd_CdProduto(TMaskEdit* medProduto, bool boObrigatorio);
    void vd_Entrega();
    void Vd_Lista();

    // Branch and stock branch.
    void medCdFilialChange(QObject* Sender);
    void medCdFilialExit(QObject* Sender);
    void medCdFilEstChange(QObject* Sender);
    void medCdFilEstExit(QObject* Sender);
    void btpFilialBeforePesq(QObject* Sender, bool& Continua);
    void btpFilialAfterPesq(QObject* Sender);
    void btpFilEstBeforePesq(QObject* Sender, bool& Continua);
    void btpFilEstAfterPesq(QObject* Sender);
    void chbConsEstoClick(QObject* Sender);
    // Product range and delivery dates.
    void medCdProdIniChange(QObject* Sender);
    void medCdProdfinChange(QObject* Sender);
    void medCdProdIniExit(QObject* Sender);
    void medCdProdfinExit(QObject* Sender);
    void BtnPesquisa3BeforePesq(QObject* Sender, bool& Continua);
    void BtnPesquisa3AfterPesq(QObject* Sender);
    void BtnPesquisa4BeforePesq(QObject* Sender, bool& Continua);
    void BtnPesquisa4AfterPesq(QObject* Sender);
    void depDataIniExit(QObject* Sender);
    void depDataFinExit(QObject* Sender);
    void depDataIniDateChange(QObject* Sender);
    void depDataFinDateChange(QObject* Sender);
    // Selection lists.
    void rbtTodosFiliClick(QObject* Sender);
    void sbtTodosCompClick(QObject* Sender);
    void rbtTodosSolicitClick(QObject* Sender);
    void rbtListaFiliClick(QObject* Sender);
    void rbtListaCompClick(QObject* Sender);
    void rbtListaSolicitClick(QObject* Sender);
    void rbtListaFiliKeyDown(QObject* Sender, quint16& Key, TShiftState Shift);
    void rbtListaCompKeyDown(QObject* Sender, quint16& Key, TShiftState Shift);
    void rbtListaSolicitKeyDown(QObject* Sender, quint16& Key, TShiftState Shift);
    void sbtFilialClick(QObject* Sender);
    void sbtCompradorClick(QObject* Sender);
    // Server operations: the request lookup and the consolidation run.
    void sbtSolicitacaoClick(QObject* Sender);
    void sbtConfirmaClick(QObject* Sender);
    // The preview: the confirm button's checks, then GetConsSoliPrevia with the same 19
    // arguments, shown in a read-only window whose "Consolidar" presses the confirm button.
    void sbtSimulaClick(QObject* Sender);
    // True while a consolidation run is under way (a press dispatched inside it is ignored).
    bool consolidationRunning() const { return m_runInProgress; }

    // Every control of the layout by name, inherited ones included.
    QWidget* control(const QString& name) const { return m_controls.value(name); }
    // The tab stops of the filter group box in layout order.
    const QList<QWidget*>& tabStops() const { return m_tabStops; }

  private:
    void createComponents();
    // The confirm button's checks, in its order, then the 19 arguments of the run (of
    // GetConsSoli and GetConsSoliPrevia alike).
    QString filterDescription() const;
    std::vector<TServerArg> checkedRunArguments();
    template <class T>
    T* built(const char* name) const;

    QHash<QString, QWidget*> m_controls;
    QList<QWidget*> m_tabStops;
    bool m_runInProgress = false;

    // Filter state.
    bool boPrimAtiva = true;
    QString stListaComp;
    QString stListaFili;
    QString stTodasFili;
    QString stListaSolicit;
    QString stCdFilCentCmp;
    // The option letters of the last run or preview (sent by reference, written back).
    QString stConsEsto;
    QString stConsSoli;
    QString stProdOrig;
    QString stTodasSolicit;
    QString stConsSolicitacao;
    QString stConsAF;
    QString stLimiteSeg;
    QString stParamOL;
};
