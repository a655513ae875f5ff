#include "module/module.h"

#include <QApplication>

#include "screen/frm_consulta_consolida.h"

TfrmConsultaConsolida* frmConsultaConsolida = nullptr;
bool boIdCriado = false;  // written in this file only

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
            TfrmConsultaConsolida* created = vlm::createForm<TfrmConsultaConsolida>();
            // A screen destroyed while a newer one is open leaves the newer one registered.
            QObject::connect(created, &QObject::destroyed, [created] {
                if (frmConsultaConsolida == created) {
                    frmConsultaConsolida = nullptr;
                    boIdCriado = false;
                }
            });
            frmConsultaConsolida = created;
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
