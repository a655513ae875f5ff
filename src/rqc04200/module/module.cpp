#include "module/module.h"

#include "screen/frm_consulta_consolida.h"
#include "vlm/helpers.h"

TfrmConsultaConsolida* frmConsultaConsolida = nullptr;
bool boIdCriado = false;

void IniProc() {
    CriaConsultaConsolida();
}

void CriaConsultaConsolida() {
    {
        vlm::BusyCursor cursor;
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
