#include "module/module.h"

#include "screen/frm_consolida_solicita.h"

using namespace rqc04100;

TfrmConsolidaSolicita* frmConsolidaSolicita = nullptr;
bool boIdCriado = false;  // the module's initialisation, done when the library is loaded

namespace {

// Restores the normal cursor however the opening ends.
class BusyCursor {
  public:
    BusyCursor() { SetScreenCursor(crHourGlass); }
    ~BusyCursor() { release(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
    void release() noexcept {
        if (m_busy)
            SetScreenCursor(crDefault);
        m_busy = false;
    }

  private:
    bool m_busy = true;
};

}  // namespace

void IniProc() {
    CriaConsolidaSolicita();
}

void CriaConsolidaSolicita() {
    BusyCursor cursor;
    if (!boIdCriado) {
        frmConsolidaSolicita = vlm::createForm<TfrmConsolidaSolicita>();
        boIdCriado = true;
    }
    TfrmConsolidaSolicita* form = frmConsolidaSolicita;
    ShowNormalInFront(form);
    cursor.release();

    form->qryCentComp->Close();
    form->qryCentComp->ParamByName(QStringLiteral("P_CDFILIAL"))->SetAsString(FiliProc());
    form->qryCentComp->Open();
    if (form->qryCentComp->IsEmpty()) {
        boIdCriado = false;
        MensErro(form->msgPadrao->Msg(QStringLiteral("FILI_PROC")), false);
        form->Close();
    } else {
        form->stCdFilCentCmp = form->qryCentCompCDFILCENTCMP->AsString();
    }
}
