#include "rdm_consolida_solicita.h"

#include <algorithm>
#include <string>

#include "consolidation_engine.h"
#include "consultation.h"
#include "method_arguments.h"
#include "suitedb/dialect.h"
#include "worker_connection.h"

namespace rqc::appserver {

namespace {

using protocol::Argument;
using protocol::DataPacket;
using protocol::FieldDef;
using protocol::FieldType;

void appendPadded(std::string& out, std::string_view code, std::size_t width) {
    out += code;
    if (code.size() < width)
        out.append(width - code.size(), ' ');
}

}  // namespace

DataPacket getParaCmpSup(suitedb::Connection& db, const std::vector<Argument>& args) {
    const std::string branch = MethodArguments(methods::kGetParaCmpSup, args).branchCode(0);

    DataPacket packet;
    packet.fields = {FieldDef{"IDUTPRODPREF", FieldType::Text, 1, "PARCMPSUP.IDUTPRODPREF"}};
    auto rows = db.query("SELECT IDUTPRODPREF FROM PARCMPSUP WHERE CDFILIAL = ?", {branch});
    while (rows->next()) {
        packet.append(rows->isNull(0) ? DataPacket::Cell{}
                                      : DataPacket::Cell{std::string(rows->text(0))});
    }
    return packet;
}

DataPacket getSolicitacao(suitedb::Connection& db, const std::vector<Argument>& args) {
    const MethodArguments in(methods::kGetSolicitacao, args);
    const std::string from = in.day(0);
    const std::string pastTo = in.day(1, 1);
    const std::vector<std::string> branches = in.codeList(2, kBranchCodeLength);
    const bool allBranches = in.option(3, kTodasOuVazio, true);

    DataPacket packet;
    packet.fields = {
        FieldDef{"IDMARCADO", FieldType::Text, 1, ""},
        FieldDef{"CHAVE", FieldType::Text, 18, ""},
        FieldDef{"CDFILSOLI", FieldType::Text, 4, "SOLICMP.CDFILSOLI"},
        FieldDef{"CDFILLANCA", FieldType::Text, 4, "SOLICMP.CDFILLANCA"},
        FieldDef{"NRSOLICMP", FieldType::Text, 10, "SOLICMP.NRSOLICMP"},
    };
    if (!allBranches && branches.empty())
        return packet;

    const suitedb::Dialect d(db);
    std::string sql =
        "SELECT CDFILSOLI, CDFILLANCA, NRSOLICMP FROM SOLICMP WHERE DTENTREGA >= " + d.dateParam() +
        " AND DTENTREGA < " + d.dateParam();
    std::vector<suitedb::Param> params = {from, pastTo};
    if (!allBranches) {
        sql += " AND CDFILSOLI IN (" + d.listSource() + ")";
        params.push_back(d.listParam(branches));
    }
    std::unique_ptr<suitedb::Cursor> rows = db.query(sql, params);
    // Rows are gathered in one buffer and ordered here, by the bytes of CHAVE: cheaper than a
    // sort in the database, and independent of the database's collation.
    struct Row {
        std::size_t at;  // CHAVE, then CDFILSOLI, CDFILLANCA, NRSOLICMP, in `text`
        std::uint32_t key, soli, lanca, nr;
    };
    std::string text;
    std::vector<Row> found;
    while (rows->next()) {
        const std::string_view soli = rows->text(0);
        const std::string_view lanca = rows->text(1);
        const std::string_view nr = rows->text(2);
        Row row{text.size(), 0, static_cast<std::uint32_t>(soli.size()),
                static_cast<std::uint32_t>(lanca.size()), static_cast<std::uint32_t>(nr.size())};
        appendPadded(text, soli, kBranchCodeLength);
        appendPadded(text, lanca, kBranchCodeLength);
        appendPadded(text, nr, kRequestNumberLength);
        row.key = static_cast<std::uint32_t>(text.size() - row.at);
        text += soli;
        text += lanca;
        text += nr;
        found.push_back(row);
    }
    auto view = [&text](std::size_t at, std::size_t n) {
        return std::string_view(text).substr(at, n);
    };
    std::sort(found.begin(), found.end(), [&view](const Row& a, const Row& b) {
        return view(a.at, a.key) < view(b.at, b.key);
    });
    packet.reserveRows(found.size());
    for (const Row& r : found) {
        std::size_t at = r.at;
        packet.append(std::string("N"));
        for (std::size_t n : {r.key, r.soli, r.lanca, r.nr}) {
            packet.append(std::string(view(at, n)));
            at += n;
        }
    }
    return packet;
}

void registerRdmConsolidaSolicita(ObjectRegistry& registry) {
    RemoteObject& rdm = registry.add(std::string(kRdmConsolidaSolicita));
    rdm.addMethod(methods::kGetParaCmpSup, [](CallContext& ctx, std::vector<Argument>& a) {
        return protocol::CallResult::ofPacket(getParaCmpSup(ctx.db.get(), a));
    });
    rdm.addMethod(methods::kGetSolicitacao, [](CallContext& ctx, std::vector<Argument>& a) {
        return protocol::CallResult::ofPacket(getSolicitacao(ctx.db.get(), a));
    });
    rdm.addMethod(methods::kGetConsSoli, [](CallContext& ctx, std::vector<Argument>& a) {
        const ConsSoliArguments parsed = parseConsSoliArguments(a);
        ctx.number = runGetConsSoli(ctx.db.get(), parsed, std::string(ctx.operatorCode));
        return protocol::CallResult::ofText(ctx.number);
    });
    addConsultationMethods(rdm);
}

}  // namespace rqc::appserver
