// The all-or-list groups of requesting branches, buyers and requests: their radios, F9, the
// branch and buyer pickers and the list check of the consolidation run.
#include "screen/focus_back.h"
#include "screen/frm_consolida_solicita.h"

namespace {

constexpr quint16 kVkF9 = 120;

}  // namespace

void TfrmConsolidaSolicita::rbtTodosFiliClick(QObject*) {
    stListaFili.clear();
    stTodasFili = QStringLiteral("T");
    sbtFilial->setEnabled(rbtListaFili->Checked());
}

void TfrmConsolidaSolicita::sbtTodosCompClick(QObject*) {
    stListaComp.clear();
    sbtComprador->setEnabled(rbtListaComp->Checked());
}

void TfrmConsolidaSolicita::rbtTodosSolicitClick(QObject*) {
    stListaSolicit.clear();
    sbtSolicitacao->setEnabled(rbtListaSolicit->Checked());
}

void TfrmConsolidaSolicita::rbtListaFiliClick(QObject*) {
    sbtFilial->setEnabled(rbtListaFili->Checked());
    stTodasFili.clear();
}

void TfrmConsolidaSolicita::rbtListaCompClick(QObject*) {
    sbtComprador->setEnabled(rbtListaComp->Checked());
}

void TfrmConsolidaSolicita::rbtListaSolicitClick(QObject*) {
    sbtSolicitacao->setEnabled(rbtListaSolicit->Checked());
}

void TfrmConsolidaSolicita::rbtListaFiliKeyDown(QObject*, quint16& Key, TShiftState) {
    if (Key == kVkF9)
        sbtFilialClick(sbtFilial);
}

void TfrmConsolidaSolicita::rbtListaCompKeyDown(QObject*, quint16& Key, TShiftState) {
    if (Key == kVkF9)
        sbtCompradorClick(sbtComprador);
}

void TfrmConsolidaSolicita::rbtListaSolicitKeyDown(QObject*, quint16& Key, TShiftState) {
    if (Key == kVkF9)
        sbtSolicitacaoClick(sbtSolicitacao);
}

void TfrmConsolidaSolicita::sbtFilialClick(QObject*) {
    qryPesqFilial->Close();
    qryPesqFilial->ParamByName(QStringLiteral("P_TCDFILIAL"))->SetAsString(QStringLiteral("T"));
    const QString title = msgPadrao->Msg(QStringLiteral("Filial"));
    PesquisaLista(dtsPesqFilial, QStringLiteral("CDFILIAL"), title, false, stListaFili);
}

void TfrmConsolidaSolicita::sbtCompradorClick(QObject*) {
    const QString title = msgPadrao->Msg(QStringLiteral("Comprador"));
    PesquisaLista(dtsComprador, QStringLiteral("CDOPERADOR"), title, false, stListaComp);
}

void TfrmConsolidaSolicita::Vd_Lista() {
    const auto check = [this](TRadioButton* lista, const QString& list, const char* key) {
        try {
            if (lista->Checked() && EmptyString(list))
                MensErro(msgPadrao->Msg(QString::fromLatin1(key)), true);
        } catch (...) {
            rqc04100::focusBack(lista);
            throw;
        }
    };
    check(rbtListaFili, stListaFili, "FILI_NAO_INF");
    check(rbtListaComp, stListaComp, "COMP_NAO_INF");
    check(rbtListaSolicit, stListaSolicit, "SOLICIT_NAO_INF");
}
