// Branch validation, product range and delivery dates: the validation routines and the
// handlers of the edits, search buttons and date edits they serve.
#include <QWidget>

#include "screen/focus_back.h"
#include "screen/frm_consolida_solicita.h"

namespace rqc04100 {

void focusBack(QWidget* control) noexcept {
    try {
        if (control != nullptr && control->isEnabled() && control->isVisibleTo(control->window()))
            control->setFocus(Qt::OtherFocusReason);
    } catch (...) {
        // A focus handler that fails must not replace the failure being reported.
    }
}

}  // namespace rqc04100

using rqc04100::focusBack;

namespace {

constexpr int kBranchWidth = 4;

}  // namespace

void TfrmConsolidaSolicita::vd_Filial(bool boInfVazio, TMaskEdit* medFilial) {
    if (medFilial == medCdFilEst && !chbConsEsto->Checked())
        return;
    try {
        const bool blank = EmptyString(medFilial->Text());
        medFilial->SetText(Ajusta(medFilial->Text(), kBranchWidth));
        if (blank) {
            if (boInfVazio)
                MensErro(msgPadrao->Msg(QStringLiteral("Fil_Vazia")), true);
            return;
        }
        qryPesqFilial->Close();
        qryPesqFilial->ParamByName(QStringLiteral("P_CDFILIAL"))->SetAsString(medFilial->Text());
        qryPesqFilial->ParamByName(QStringLiteral("P_TCDFILIAL"))->SetAsString(QLatin1String(""));
        qryPesqFilial->Open();
        if (qryPesqFilial->IsEmpty())
            MensErro(msgPadrao->Msg(QStringLiteral("Fil_Inv")), true);
        if (qryPesqFilialIDCNTRRESC->AsString() == QLatin1String("S"))
            MensErro(msgPadrao->Msg(QStringLiteral("CONT_RESC")), true);
        if (EmptyString(qryPesqFilialCDREGIAO->AsString()))
            MensErro(msgPadrao->Msg(QStringLiteral("N_RegCad")), true);

        {
            vlm::WaitingScope waiting(msgPadrao->Msg(QStringLiteral("Valida_Dad")));
            QString branch = medFilial->Text();
            const TServerResult result = netConsolidaSolicita->AppServer().Call(
                QStringLiteral("GetParaCmpSup"), {TServerArg::Ref(branch)});
            cdsParaCmpSup->SetData(CheckResultServ(result, true, 0));
        }
        if (cdsParaCmpSup->IsEmpty())
            MensErro(msgPadrao->Msg(QStringLiteral("N_ParCmp")), true);

        (medFilial == medCdFilial ? edtNmFilial : edtNmFilEst)
            ->SetText(qryPesqFilialNMFILIAL->AsString());
    } catch (...) {
        focusBack(medFilial);
        throw;
    }
}

void TfrmConsolidaSolicita::Vd_OL() {
    if (!chbParamOL->Checked())
        return;
    try {
        if (qryPesqFilialIDFUNCAOFILI->AsString() != QLatin1String("O"))
            MensErro(msgPadrao->Msg(QStringLiteral("ParamOL")), true);
    } catch (...) {
        focusBack(medCdFilial);
        throw;
    }
}

QString TfrmConsolidaSolicita::Vd_CdProduto(TMaskEdit* medProduto, bool boObrigatorio) {
    QString name;
    try {
        const bool blank = EmptyString(medProduto->Text());
        if (blank && boObrigatorio)
            MensErro(msgPadrao->Msg(QStringLiteral("PROD_DEVE")), true);
        if (blank)
            return name;
        qryProduto->Close();
        qryProduto->ParamByName(QStringLiteral("P_TCDARVPROD"))->SetAsString(QLatin1String(""));
        qryProduto->ParamByName(QStringLiteral("P_CDARVPROD"))->SetAsString(medProduto->Text());
        qryProduto->Open();
        name = qryProdutoNMPRODUTO->AsString();
    } catch (...) {
        focusBack(medProduto);
        throw;
    }
    return name;
}

void TfrmConsolidaSolicita::vd_Entrega() {
    const bool iniBlank = EmptyString(depDataIni->Text());
    const bool finBlank = EmptyString(depDataFin->Text());
    bool focusIni = iniBlank;
    try {
        if (iniBlank)
            MensErro(msgPadrao->Msg(QStringLiteral("DtIni_N_Inf")), true);
        if (finBlank)
            MensErro(msgPadrao->Msg(QStringLiteral("DtFin_N_Inf")), true);
        if (depDataFin->GetDate() < depDataIni->GetDate()) {
            focusIni = true;
            MensErro(msgPadrao->Msg(QStringLiteral("DATA_DEVE")), true);
        }
    } catch (...) {
        focusBack(focusIni ? static_cast<QWidget*>(depDataIni) : depDataFin);
        throw;
    }
}

void TfrmConsolidaSolicita::medCdFilialChange(QObject*) {
    edtNmFilial->SetText(QString());
}

void TfrmConsolidaSolicita::medCdFilialExit(QObject*) {
    vd_Filial(false, medCdFilial);
}

void TfrmConsolidaSolicita::medCdFilEstChange(QObject*) {
    edtNmFilEst->SetText(QString());
}

void TfrmConsolidaSolicita::medCdFilEstExit(QObject*) {
    vd_Filial(false, medCdFilEst);
}

void TfrmConsolidaSolicita::btpFilialBeforePesq(QObject*, bool&) {
    qryPesqFilial->Close();
    qryPesqFilial->ParamByName(QStringLiteral("P_CDFILIAL"))->SetAsString(QLatin1String(""));
    qryPesqFilial->ParamByName(QStringLiteral("P_TCDFILIAL"))->SetAsString(QStringLiteral("T"));
    qryPesqFilial->Open();
}

void TfrmConsolidaSolicita::btpFilialAfterPesq(QObject*) {
    medCdFilial->SetText(qryPesqFilialCDFILIAL->AsString());
    edtNmFilial->SetText(qryPesqFilialNMFILIAL->AsString());
}

void TfrmConsolidaSolicita::btpFilEstBeforePesq(QObject* Sender, bool& Continua) {
    btpFilialBeforePesq(Sender, Continua);
}

void TfrmConsolidaSolicita::btpFilEstAfterPesq(QObject*) {
    medCdFilEst->SetText(qryPesqFilialCDFILIAL->AsString());
    edtNmFilEst->SetText(qryPesqFilialNMFILIAL->AsString());
}

void TfrmConsolidaSolicita::chbConsEstoClick(QObject*) {
    medCdFilEst->setEnabled(chbConsEsto->Checked());
    btpFilEst->setEnabled(chbConsEsto->Checked());
}

void TfrmConsolidaSolicita::medCdProdIniChange(QObject*) {
    edtNmProdIni->SetText(QString());
}

void TfrmConsolidaSolicita::medCdProdfinChange(QObject*) {
    edtNmProdFin->SetText(QString());
}

void TfrmConsolidaSolicita::medCdProdIniExit(QObject*) {
    edtNmProdIni->SetText(Vd_CdProduto(medCdProdIni, false));
}

void TfrmConsolidaSolicita::medCdProdfinExit(QObject*) {
    edtNmProdFin->SetText(Vd_CdProduto(medCdProdfin, false));
}

void TfrmConsolidaSolicita::BtnPesquisa3BeforePesq(QObject*, bool&) {
    qryProduto->Close();
    qryProduto->ParamByName(QStringLiteral("P_TCDARVPROD"))->SetAsString(QStringLiteral("T"));
    qryProduto->Open();
}

void TfrmConsolidaSolicita::BtnPesquisa3AfterPesq(QObject*) {
    medCdProdIni->SetText(qryProdutoCDARVPROD->AsString());
    edtNmProdIni->SetText(qryProdutoNMPRODUTO->AsString());
}

void TfrmConsolidaSolicita::BtnPesquisa4BeforePesq(QObject* Sender, bool& Continua) {
    BtnPesquisa3BeforePesq(Sender, Continua);
}

void TfrmConsolidaSolicita::BtnPesquisa4AfterPesq(QObject*) {
    medCdProdfin->SetText(qryProdutoCDARVPROD->AsString());
    edtNmProdFin->SetText(qryProdutoNMPRODUTO->AsString());
}

void TfrmConsolidaSolicita::depDataIniExit(QObject*) {
    depDataIni->CheckValidDate();
}

void TfrmConsolidaSolicita::depDataFinExit(QObject*) {
    depDataFin->CheckValidDate();
}

// A date edit left without a date stays blank and its weekday box empties: the buyer is told
// by vd_Entrega that the date is missing rather than sent silently another date (the date
// change fires while the date is being retyped, so taking the other edit's date there would
// fight the typing).
void TfrmConsolidaSolicita::depDataIniDateChange(QObject*) {
    edtDataIni->SetText(NomeSemana(depDataIni->GetDate()));
}

void TfrmConsolidaSolicita::depDataFinDateChange(QObject*) {
    edtDataFin->SetText(NomeSemana(depDataFin->GetDate()));
}
