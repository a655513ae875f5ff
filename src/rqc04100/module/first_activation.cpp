// First activation: the default filter of a newly opened screen.
#include "screen/frm_consolida_solicita.h"

namespace {

constexpr int kProductPicture = 0;

}  // namespace

// A processing branch that fails its validation leaves boPrimAtiva true: the next activation
// fills the filter and reports the branch again.
void TfrmConsolidaSolicita::FormActivate(QObject* Sender) {
    TfrmRotiGeral::FormActivate(Sender);
    repaint();
    if (!boPrimAtiva)
        return;
    const QString picture = DBPict(kProductPicture);
    medCdProdIni->SetEditMask(picture);
    medCdProdfin->SetEditMask(picture);
    qryProdutoCDARVPROD->EditMask = picture;
    edtDataIni->SetText(NomeSemana(depDataIni->GetDate()));
    edtDataFin->SetText(NomeSemana(depDataFin->GetDate()));
    medCdFilial->SetText(FiliProc());
    vd_Filial(false, medCdFilial);
    medCdFilEst->SetText(medCdFilial->Text());
    edtNmFilEst->SetText(edtNmFilial->Text());
    boPrimAtiva = false;
}
