// The screen's side of the calls to the application server: where the connection goes (the
// host's server address and port, taken each time it connects).
#include "screen/frm_consolida_solicita.h"

void TfrmConsolidaSolicita::netConsolidaSolicitaBeforeConnect(QObject* /*Sender*/) {
    netConsolidaSolicita->Host = WebURL();
    netConsolidaSolicita->Port = WebPort();
}
