// The screen's side of the calls to the application server, the request lookup: the requests
// of the delivery period and requesting branches, fetched from the server and offered in the
// list picker.
#include "screen/focus_back.h"
#include "screen/frm_consolida_solicita.h"

// A date text that is no real date stops the lookup with the date edit's own message, the
// focus in that edit: only the dates the user sees are sent.
void TfrmConsolidaSolicita::sbtSolicitacaoClick(QObject*) {
    depDataIni->CheckValidDate();
    depDataFin->CheckValidDate();
    vd_Entrega();
    if (rbtListaFili->Checked() && EmptyString(stListaFili)) {
        try {
            MensErro(msgPadrao->Msg(QStringLiteral("FILI_NAO_INF")), true);
        } catch (...) {
            rqc04100::focusBack(rbtListaFili);
            throw;
        }
    }
    if (rbtTodosFili->Checked())
        stTodasFili = QStringLiteral("T");

    {
        vlm::WaitingScope waiting(msgPadrao->Msg(QStringLiteral("Recebe_Dad")));
        const TServerResult result = netConsolidaSolicita->AppServer().Call(
            QStringLiteral("GetSolicitacao"),
            {TServerArg::Date(depDataIni->GetDate()), TServerArg::Date(depDataFin->GetDate()),
             TServerArg::Ref(stListaFili), TServerArg::Ref(stTodasFili)});
        cdsSolicitacao->SetData(CheckResultServ(result, true, 0));
    }

    const QString title = msgPadrao->Msg(QStringLiteral("Solicitacao"));
    PesquisaLista(dtsSolicitacao, QStringLiteral("CHAVE"), title, false, stListaSolicit);
}
