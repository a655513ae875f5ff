#include "module/single_instance.h"
#include "screen/frm_consolida_solicita.h"

namespace {
// SetConnected(false) always disconnects; the bound only guards against a connection that
// keeps reporting itself connected.
constexpr int kMaxDisconnectAttempts = 16;
}  // namespace

void TfrmConsolidaSolicita::FormCreate(QObject* Sender) {
    TfrmRotiGeral::FormCreate(Sender);
    boPrimAtiva = true;
    netConsolidaSolicita->SetConnected(true);
    const bool fixedBranch = ModuFili();
    medCdFilial->setEnabled(!fixedBranch);
    btpFilial->setEnabled(!fixedBranch);
}

void TfrmConsolidaSolicita::FormClose(QObject* Sender, TCloseAction& Action) {
    for (int i = 0; i < kMaxDisconnectAttempts && netConsolidaSolicita->Connected(); ++i) {
        netConsolidaSolicita->SetConnected(false);
    }
    rqc04100::screenClosing();
    TfrmRotiGeral::FormClose(Sender, Action);
}

bool TfrmConsolidaSolicita::locateCentralBranch() {
    qryCentComp->Close();
    qryCentComp->ParamByName(QStringLiteral("P_CDFILIAL"))->SetAsString(FiliProc());
    qryCentComp->Open();
    if (qryCentComp->IsEmpty())
        return false;
    stCdFilCentCmp = qryCentCompCDFILCENTCMP->AsString();
    return true;
}
