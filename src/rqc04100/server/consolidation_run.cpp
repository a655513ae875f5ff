// The consolidation run: the whole filter checked again, the options gathered, GetConsSoli
// called with its 19 arguments, and the generated number (or that there was none) reported.
#include <QCoreApplication>

#include "screen/frm_consolida_solicita.h"

namespace {

constexpr int kShowAviSearch = 1;
constexpr int kProductCodeWidth = 20;

QString yesNo(bool on) {
    return on ? QStringLiteral("S") : QStringLiteral("N");
}

// Sets a flag for the life of the object.
class RunGuard {
  public:
    explicit RunGuard(bool& flag) : m_flag(flag) { m_flag = true; }
    ~RunGuard() { m_flag = false; }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;

  private:
    bool& m_flag;
};

// Stops the animation and hides the working panel however the panel phase ends.
class PanelCleanup {
  public:
    PanelCleanup(TAnimate* animation, TPanel* panel) : m_animation(animation), m_panel(panel) {}
    ~PanelCleanup() {
        m_animation->Stop();
        m_panel->setVisible(false);
    }
    PanelCleanup(const PanelCleanup&) = delete;
    PanelCleanup& operator=(const PanelCleanup&) = delete;

  private:
    TAnimate* m_animation;
    TPanel* m_panel;
};

}  // namespace

// A press dispatched by the message loop while a run is under way (steps 9 and 11) is
// ignored: one run at a time. When the call or its result check fails, the waiting
// animation is closed before the failure goes on to the host's error display.
void TfrmConsolidaSolicita::sbtConfirmaClick(QObject*) {
    if (m_runInProgress)
        return;
    RunGuard guard(m_runInProgress);

    depDataIni->CheckValidDate();
    depDataFin->CheckValidDate();
    vd_Filial(true, medCdFilial);
    vd_Filial(true, medCdFilEst);
    Vd_Lista();
    vd_Entrega();
    QString stParamOL = yesNo(chbParamOL->Checked());
    Vd_CdProduto(medCdProdIni, true);
    Vd_CdProduto(medCdProdfin, true);
    Vd_OL();

    QString stConsEsto;
    QString stConsSoli;
    QString stProdOrig;
    QString stTodasSolicit;
    QString stConsSolicitacao;
    QString stConsAF;
    QString stLimiteSeg;
    {
        PanelCleanup cleanup(anmCalculando, PanCalculando);
        QCoreApplication::processEvents();
        PanCalculando->setVisible(true);
        QCoreApplication::processEvents();
        lblMostraCalculo->setVisible(true);
        anmCalculando->Play();
        stConsEsto = yesNo(chbConsEsto->Checked());
        stConsSoli = rdgConsSoli->ItemIndex() == 0 ? QStringLiteral("T") : QStringLiteral("N");
        stProdOrig = yesNo(chbProdOrig->Checked());
        stTodasSolicit = rbtTodosSolicit->Checked() ? QStringLiteral("T") : QString();
        stConsSolicitacao = yesNo(chkSolicitacao->Checked());
        stConsAF = yesNo(chkAF->Checked());
        stLimiteSeg = yesNo(chbLimiteSeg->Checked());
    }

    ActiveShowAvi(vlm::mainForm(), kShowAviSearch, msgPadrao->Msg(QStringLiteral("Consoli_Dad")));
    QString number;
    try {
        const QString lastProduct = medCdProdfin->Text();
        const std::vector<TServerArg> args = {
            TServerArg::Value(medCdFilial->Text()),
            TServerArg::Ref(stListaComp),
            TServerArg::Ref(stCdFilCentCmp),
            TServerArg::Ref(stListaFili),
            TServerArg::Value(medCdFilEst->Text()),
            TServerArg::Value(medCdProdIni->Text()),
            TServerArg::Value(lastProduct + Replicate(QStringLiteral("Z"),
                                                      kProductCodeWidth - lastProduct.size())),
            TServerArg::Date(depDataIni->GetDate()),
            TServerArg::Date(depDataFin->GetDate()),
            TServerArg::Ref(stConsEsto),
            TServerArg::Ref(stConsSoli),
            TServerArg::Ref(stProdOrig),
            TServerArg::Date(DataProc(medCdFilEst->Text())),
            TServerArg::Ref(stTodasSolicit),
            TServerArg::Ref(stListaSolicit),
            TServerArg::Ref(stConsSolicitacao),
            TServerArg::Ref(stConsAF),
            TServerArg::Ref(stLimiteSeg),
            TServerArg::Ref(stParamOL),
        };
        const TServerResult result =
            netConsolidaSolicita->AppServer().Call(QStringLiteral("GetConsSoli"), args);
        number = CheckResultServ(result, true, 10).AsString();
    } catch (...) {
        DeactiveShowAvi();
        throw;
    }
    DeactiveShowAvi();

    if (EmptyString(number)) {
        msgPadrao->ShowMsg(QStringLiteral("NAO_GERADO"), mtConfirmation, {mbOK}, 0);
    } else {
        MessageDlg(msgPadrao->Msg(QStringLiteral("NUM_GERADO")) + number + QLatin1Char('.'),
                   mtConfirmation, {mbOK}, 0);
    }
    repaint();
}
