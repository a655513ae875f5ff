// The screen's side of the calls to the application server, the consolidation run: the
// whole filter checked again, the options gathered, GetConsSoli called with its 19 arguments,
// and the generated number (or that there was none) reported; and its preview,
// GetConsSoliPrevia with the same arguments shown before anything is written.
#include <QCoreApplication>

#include "screen/frm_consolida_solicita.h"
#include "screen/preview_window.h"
#include "vlm/scoped_flag.h"

namespace {

constexpr int kProductCodeWidth = 20;

QString yesNo(bool on) {
    return on ? QStringLiteral("S") : QStringLiteral("N");
}

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

// The confirm button's checks in their order, the working panel while the options are read,
// and the 19 arguments. A failed check raises (its message shown, the focus in its field).
std::vector<TServerArg> TfrmConsolidaSolicita::checkedRunArguments() {
    depDataIni->CheckValidDate();
    depDataFin->CheckValidDate();
    vd_Filial(true, medCdFilial);
    vd_Filial(true, medCdFilEst);
    Vd_Lista();
    vd_Entrega();
    stParamOL = yesNo(chbParamOL->Checked());
    Vd_CdProduto(medCdProdIni, true);
    Vd_CdProduto(medCdProdfin, true);
    Vd_OL();

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

    const QString lastProduct = medCdProdfin->Text();
    return {
        TServerArg::Value(medCdFilial->Text()),
        TServerArg::Ref(stListaComp),
        TServerArg::Ref(stCdFilCentCmp),
        TServerArg::Ref(stListaFili),
        TServerArg::Value(medCdFilEst->Text()),
        TServerArg::Value(medCdProdIni->Text()),
        TServerArg::Value(lastProduct +
                          Replicate(QStringLiteral("Z"), kProductCodeWidth - lastProduct.size())),
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
}

// One run at a time: a press that the message loop dispatches while the checks, the call or
// its messages are under way is ignored. When the call or its result check fails, the waiting
// animation is closed before the failure goes on to the host's error display.
void TfrmConsolidaSolicita::sbtConfirmaClick(QObject*) {
    if (m_runInProgress)
        return;
    vlm::ScopedFlag running(m_runInProgress);

    const std::vector<TServerArg> args = checkedRunArguments();
    QString number;
    {
        vlm::WaitingScope waiting(msgPadrao->Msg(QStringLiteral("Consoli_Dad")));
        const TServerResult result =
            netConsolidaSolicita->AppServer().Call(QStringLiteral("GetConsSoli"), args);
        number = CheckResultServ(result, true, 10).AsString();
    }

    if (EmptyString(number)) {
        msgPadrao->ShowMsg(QStringLiteral("NAO_GERADO"), mtConfirmation, {mbOK}, 0);
    } else {
        MessageDlg(msgPadrao->Msg(QStringLiteral("NUM_GERADO")) + number + QLatin1Char('.'),
                   mtConfirmation, {mbOK}, 0);
    }
    repaint();
}

// The filter of the run in words, for the preview's report: what the buyer set on the screen.
QString TfrmConsolidaSolicita::filterDescription() const {
    const auto list = [](QString codes) {
        return codes.remove(QLatin1Char('\'')).replace(QLatin1Char(','), QStringLiteral(", "));
    };
    QStringList parts;
    parts << QStringLiteral("Central %1").arg(medCdFilial->Text());
    parts << QStringLiteral("entrega %1 a %2").arg(depDataIni->Text(), depDataFin->Text());
    const QString first = medCdProdIni->Text(), last = medCdProdfin->Text();
    if (last.isEmpty())
        parts << QStringLiteral("produtos de %1 em diante").arg(first.isEmpty() ? "início" : first);
    else
        parts << QStringLiteral("produtos %1 a %2").arg(first, last);
    if (!stListaComp.isEmpty())
        parts << QStringLiteral("compradores %1").arg(list(stListaComp));
    parts << (stListaFili.isEmpty() ? QStringLiteral("todas as filiais")
                                    : QStringLiteral("filiais %1").arg(list(stListaFili)));
    if (stTodasSolicit != QLatin1String("T")) {
        const qsizetype n =
            stListaSolicit.isEmpty() ? 0 : stListaSolicit.count(QLatin1Char(',')) + 1;
        parts << QStringLiteral("%1 solicitação(ões) escolhida(s)").arg(n);
    }
    parts << (stConsSoli == QLatin1String("N") ? QStringLiteral("não consolidadas")
                                               : QStringLiteral("inclusive já consolidadas"));
    if (stConsEsto == QLatin1String("S"))
        parts << QStringLiteral("estoque da filial %1").arg(medCdFilEst->Text());
    if (stProdOrig == QLatin1String("S"))
        parts << QStringLiteral("por produto de origem");
    if (stConsSolicitacao == QLatin1String("S"))
        parts << QStringLiteral("menos consolidações abertas");
    if (stConsAF == QLatin1String("S"))
        parts << QStringLiteral("menos AF abertas");
    if (stLimiteSeg == QLatin1String("S"))
        parts << QStringLiteral("limite de segurança");
    if (stParamOL == QLatin1String("S"))
        parts << QStringLiteral("arredondamento OL");
    return parts.join(QStringLiteral("; "));
}

// The preview writes nothing; its "Consolidar" presses the confirm button once the window is
// closed, so the run checks the filter again and reads it as it is then.
void TfrmConsolidaSolicita::sbtSimulaClick(QObject*) {
    if (m_runInProgress)
        return;
    bool consolidate = false;
    {
        vlm::ScopedFlag running(m_runInProgress);
        const std::vector<TServerArg> args = checkedRunArguments();
        TClientDataSet rows;
        {
            vlm::WaitingScope waiting(
                QStringLiteral("Simulando a consolidação no servidor (nada é gravado)..."));
            const TServerResult result =
                netConsolidaSolicita->AppServer().Call(QStringLiteral("GetConsSoliPrevia"), args);
            rows.SetData(CheckResultServ(result, true, 0));
        }
        // The run takes an inverted product range as it is and finds nothing; the preview
        // says why.
        const QString first = medCdProdIni->Text();
        const QString last = medCdProdfin->Text();
        const QString inverted =
            !first.isEmpty() && !last.isEmpty() &&
                    first > last + Replicate(QStringLiteral("Z"), kProductCodeWidth - last.size())
                ? QStringLiteral(
                      "A faixa de produtos está invertida: o produto inicial %1 vem "
                      "depois do final %2.")
                      .arg(first, last)
                : QString();
        TfrmPreviaConsolida preview(rows, stConsSoli == QLatin1String("T"), this, inverted,
                                    filterDescription());
        consolidate = preview.exec() == QDialog::Accepted;
    }
    if (consolidate && sbtConfirma->isEnabled())
        sbtConfirma->click();
}
