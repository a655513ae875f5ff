#pragma once
// What a buyer can do with a consolidation after (and before) its number: see what a filter
// would take, list the consolidations of a central branch, read one's product lines and
// source lines, and reverse it (methods of Rqc04100.rdmConsolidaSolicita; columns and rules
// in docs/consolidation.md).

#include <string>
#include <string_view>
#include <vector>

#include "object_registry.h"
#include "protocol/protocol.h"
#include "suitedb/connection.h"

namespace rqc::appserver {

// Adds GetConsSoliPrevia, GetConsSoliLista, GetConsSoliCabec, GetConsSoliItens,
// GetConsSoliOrigem and EstornaConsSoli to the remote object.
void addConsultationMethods(RemoteObject& rdm);

// GetConsSoliPrevia: the product lines GetConsSoli would write now for the same 19 arguments,
// with NRLINHAS and NRLINHASCONS; writes nothing, draws no number, leaves no lock.
protocol::DataPacket getConsSoliPrevia(suitedb::Connection& db,
                                       const std::vector<protocol::Argument>& args);

// GetConsSoliLista(central branch, first day, last day, only open "T" or ""): the
// consolidations of the central branch generated in those days, newest first.
protocol::DataPacket getConsSoliLista(suitedb::Connection& db,
                                      const std::vector<protocol::Argument>& args);

// GetConsSoliCabec(number): the one consolidation in the list's columns, whatever its central
// branch and date; no row when it does not exist.
protocol::DataPacket getConsSoliCabec(suitedb::Connection& db,
                                      const std::vector<protocol::Argument>& args);

// GetConsSoliItens(number): the product lines of one consolidation; GetConsSoliOrigem(number,
// product): its source lines of that product, of every product when the product is blank. No
// rows when the consolidation does not exist.
protocol::DataPacket getConsSoliItens(suitedb::Connection& db,
                                      const std::vector<protocol::Argument>& args);
protocol::DataPacket getConsSoliOrigem(suitedb::Connection& db,
                                       const std::vector<protocol::Argument>& args);

// The filter of a consolidation header in words (Portuguese), from its stored columns.
struct ConsSoliFilter {
    std::string dtEntregaIni, dtEntregaFin;  // ISO dates
    std::string cdArvProdIni, cdArvProdFin;
    std::string compradores, filiais, solicitacoes;  // stored lists, comma-joined
    std::string cdFilEst, dtProcEstoque;
    std::string idConsEstoque, idConsSoli, idProdOrig, idTodasSoli, idConsSoliAberta, idConsAf,
        idLimiteSeg, idParamOl;
};
std::string describeFilter(const ConsSoliFilter& f);

}  // namespace rqc::appserver
