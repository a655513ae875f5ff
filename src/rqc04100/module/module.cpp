#include "module/module.h"

#include "module/single_instance.h"
#include "screen/frm_consolida_solicita.h"

using namespace rqc04100;

TfrmConsolidaSolicita* frmConsolidaSolicita = nullptr;
bool boIdCriado = false;  // the module's initialisation, done when the library is loaded

void IniProc() {
    CriaConsolidaSolicita();
}

void CriaConsolidaSolicita() {
    vlm::BusyCursor cursor;
    if (!boIdCriado) {
        TfrmConsolidaSolicita* created = vlm::createForm<TfrmConsolidaSolicita>();
        // A screen destroyed while a newer one is open leaves the newer one registered.
        QObject::connect(created, &QObject::destroyed, [created] {
            if (frmConsolidaSolicita == created) {
                frmConsolidaSolicita = nullptr;
                boIdCriado = false;
            }
        });
        frmConsolidaSolicita = created;
        boIdCriado = true;
    }
    TfrmConsolidaSolicita* form = frmConsolidaSolicita;
    form->ShowInFront();
    cursor.release();

    if (!form->locateCentralBranch()) {
        boIdCriado = false;
        MensErro(form->msgPadrao->Msg(QStringLiteral("FILI_PROC")), false);
        form->Close();
    }
}

void rqc04100::screenClosing() {
    boIdCriado = false;
}
