#include "screen/frm_consolida_solicita.h"

void TfrmConsolidaSolicita::netConsolidaSolicitaBeforeConnect(QObject* /*Sender*/) {
    netConsolidaSolicita->Host = WebURL();
    netConsolidaSolicita->Port = WebPort();
}
