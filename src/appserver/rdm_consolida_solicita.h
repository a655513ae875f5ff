#pragma once
// The remote object "Rqc04100.rdmConsolidaSolicita": purchase parameters of a branch, the
// purchase requests of a delivery-date range, and the consolidation run.

#include <string_view>
#include <vector>

#include "names/names.h"
#include "object_registry.h"
#include "protocol/protocol.h"
#include "suitedb/connection.h"

namespace rqc::appserver {

inline constexpr std::string_view kRdmConsolidaSolicita = names::kConsolidationObject;

// Registers the object with its three methods and their argument kinds.
void registerRdmConsolidaSolicita(ObjectRegistry& registry);

// GetParaCmpSup(branch): packet with field IDUTPRODPREF, one row when the branch has purchase
// parameters, none otherwise. Throws ArgumentError for a malformed branch code.
protocol::DataPacket getParaCmpSup(suitedb::Connection& db,
                                   const std::vector<protocol::Argument>& args);

// GetSolicitacao(d1, d2, branches, all): the requests with delivery date in [d1, d2] (whole
// days) of the listed requesting branches, or of every branch when `all` is "T"; fields
// IDMARCADO, CHAVE, CDFILSOLI, CDFILLANCA, NRSOLICMP, ordered by CHAVE. Throws ArgumentError
// for a date outside 1900..2999, a malformed list, or `all` other than "T" or blank.
protocol::DataPacket getSolicitacao(suitedb::Connection& db,
                                    const std::vector<protocol::Argument>& args);

}  // namespace rqc::appserver
