#include "module/module.h"

#include <QApplication>

#include "screen/frm_consulta_consolida.h"

TfrmConsultaConsolida* frmConsultaConsolida = nullptr;
bool boIdCriado = false;

namespace {

// Restores the normal cursor however the opening ends.
class BusyCursor {
  public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace

void IniProc() {
    CriaConsultaConsolida();
}

void CriaConsultaConsolida() {
    {
        BusyCursor cursor;
        if (!boIdCriado) {
            frmConsultaConsolida = vlm::createForm<TfrmConsultaConsolida>();
            boIdCriado = true;
        }
        rqc04200::showInFront(frmConsultaConsolida);
    }
    frmConsultaConsolida->Pesquisa();
}

void AbreConsSoli(const char* number) {
    CriaConsultaConsolida();
    frmConsultaConsolida->AbreNumero(QString::fromUtf8(number));
}
