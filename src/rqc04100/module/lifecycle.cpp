#include "module/module.h"
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
    boIdCriado = false;
    TfrmRotiGeral::FormClose(Sender, Action);
}
