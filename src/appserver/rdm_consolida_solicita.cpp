#include "rdm_consolida_solicita.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "argument_error.h"
#include "code_list.h"
#include "consolidation_arguments.h"
#include "consolidation_engine.h"
#include "consultation.h"
#include "error_text.h"
#include "worker_connection.h"
#include "write_queue.h"

namespace rqc::appserver {

namespace {

using protocol::Argument;
using protocol::DataPacket;
using protocol::FieldDef;
using protocol::FieldType;

constexpr std::size_t kBranchWidth = 4;
constexpr std::size_t kRequestWidth = 10;

// Whole day of a date argument as "YYYY-MM-DD"; `offset` days are added after truncation.
std::string dayOf(double date, std::string_view what, int offset = 0) {
    static const double first = protocol::dateFromYmd(1900, 1, 1);
    static const double pastLast = protocol::dateFromYmd(3000, 1, 1);
    if (!(date >= first && date < pastLast)) {
        throw ArgumentError(std::string(what) +
                            ": a data não é um número ou está fora dos anos 1900 a 2999.");
    }
    return protocol::dateToIso(std::floor(date) + offset);
}

void appendPadded(std::string& out, std::string_view code, std::size_t width) {
    out += code;
    if (code.size() < width)
        out.append(width - code.size(), ' ');
}

// Branch list as a JSON array for SQLite's json_each; items are letters and digits only.
std::string jsonArray(const std::vector<std::string>& items) {
    std::string out = "[";
    for (const auto& i : items) {
        if (out.size() > 1)
            out += ',';
        out += '"';
        out += i;
        out += '"';
    }
    out += ']';
    return out;
}

const char* const kSolicitacaoSqlite =
    "SELECT CDFILSOLI, CDFILLANCA, NRSOLICMP FROM SOLICMP"
    " WHERE DTENTREGA >= ? AND DTENTREGA < ?";
const char* const kSolicitacaoListSqlite =
    "SELECT CDFILSOLI, CDFILLANCA, NRSOLICMP FROM SOLICMP"
    " WHERE DTENTREGA >= ? AND DTENTREGA < ?"
    " AND CDFILSOLI IN (SELECT value FROM json_each(?))";
const char* const kSolicitacaoPostgres =
    "SELECT CDFILSOLI, CDFILLANCA, NRSOLICMP FROM SOLICMP"
    " WHERE DTENTREGA >= CAST(? AS DATE) AND DTENTREGA < CAST(? AS DATE)";
const char* const kSolicitacaoListPostgres =
    "SELECT CDFILSOLI, CDFILLANCA, NRSOLICMP FROM SOLICMP"
    " WHERE DTENTREGA >= CAST(? AS DATE) AND DTENTREGA < CAST(? AS DATE)"
    " AND CDFILSOLI = ANY(string_to_array(CAST(? AS TEXT), ','))";

const std::vector<std::uint8_t> kParaCmpSupKinds = {protocol::kTextByRef};
const std::vector<std::uint8_t> kSolicitacaoKinds = {protocol::kDate, protocol::kDate,
                                                     protocol::kTextByRef, protocol::kTextByRef};
constexpr std::uint8_t V = protocol::kTextByValue;
constexpr std::uint8_t R = protocol::kTextByRef;
constexpr std::uint8_t D = protocol::kDate;
const std::vector<std::uint8_t> kConsSoliKinds = {V, R, R, R, V, V, V, D, D, R,
                                                  R, R, D, R, R, R, R, R, R};

}  // namespace

DataPacket getParaCmpSup(suitedb::Connection& db, const std::vector<Argument>& args) {
    std::string_view branch = trimBlanks(args.at(0).text);
    if (branch.empty())
        throw ArgumentError("Argumento 1 (filial): o código da filial não foi informado.");
    // A single code follows the list rules: letters and digits, at most 4.
    std::vector<std::string> code = parseCodeList(branch, "Argumento 1 (filial)", kBranchWidth);
    if (code.size() != 1) {
        throw ArgumentError("Argumento 1 (filial): informe um só código de filial, não " +
                            quoteExcerpt(branch) + ".");
    }

    DataPacket packet;
    packet.fields = {FieldDef{"IDUTPRODPREF", FieldType::Text, 1, "PARCMPSUP.IDUTPRODPREF"}};
    auto rows = db.query("SELECT IDUTPRODPREF FROM PARCMPSUP WHERE CDFILIAL = ?", {code[0]});
    while (rows->next()) {
        packet.append(rows->isNull(0) ? DataPacket::Cell{}
                                      : DataPacket::Cell{std::string(rows->text(0))});
    }
    return packet;
}

DataPacket getSolicitacao(suitedb::Connection& db, const std::vector<Argument>& args) {
    const std::string from = dayOf(args.at(0).date, "Argumento 1 (data de entrega inicial)");
    const std::string pastTo = dayOf(args.at(1).date, "Argumento 2 (data de entrega final)", 1);
    const std::vector<std::string> branches =
        parseCodeList(args.at(2).text, "Argumento 3 (filiais solicitantes)", kBranchWidth);
    const std::string_view all = trimBlanks(args.at(3).text);
    if (!all.empty() && all != "T") {
        throw ArgumentError("Argumento 4 (todas as filiais): " + quoteExcerpt(all, 20) +
                            " não é um valor válido; o esperado é \"T\" ou vazio.");
    }

    DataPacket packet;
    packet.fields = {
        FieldDef{"IDMARCADO", FieldType::Text, 1, ""},
        FieldDef{"CHAVE", FieldType::Text, 18, ""},
        FieldDef{"CDFILSOLI", FieldType::Text, 4, "SOLICMP.CDFILSOLI"},
        FieldDef{"CDFILLANCA", FieldType::Text, 4, "SOLICMP.CDFILLANCA"},
        FieldDef{"NRSOLICMP", FieldType::Text, 10, "SOLICMP.NRSOLICMP"},
    };
    if (all.empty() && branches.empty())
        return packet;

    const bool pg = db.engine() == suitedb::Engine::Postgres;
    std::unique_ptr<suitedb::Cursor> rows;
    if (all == "T") {
        rows = db.query(pg ? kSolicitacaoPostgres : kSolicitacaoSqlite, {from, pastTo});
    } else {
        rows = db.query(pg ? kSolicitacaoListPostgres : kSolicitacaoListSqlite,
                        {from, pastTo, pg ? joinCodeList(branches) : jsonArray(branches)});
    }
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
        appendPadded(text, soli, kBranchWidth);
        appendPadded(text, lanca, kBranchWidth);
        appendPadded(text, nr, kRequestWidth);
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
    rdm.addMethod("GetParaCmpSup", kParaCmpSupKinds,
                  [](CallContext& ctx, std::vector<Argument>& a) {
                      return protocol::CallResult::ofPacket(getParaCmpSup(ctx.db.get(), a));
                  });
    rdm.addMethod("GetSolicitacao", kSolicitacaoKinds,
                  [](CallContext& ctx, std::vector<Argument>& a) {
                      return protocol::CallResult::ofPacket(getSolicitacao(ctx.db.get(), a));
                  });
    rdm.addMethod("GetConsSoli", kConsSoliKinds, [](CallContext& ctx, std::vector<Argument>& a) {
        // Refused arguments are reported at once, without waiting for a turn to write.
        parseConsSoliArguments(a);
        WriteTurn turn(ctx.db);
        ctx.number = runGetConsSoli(ctx.db.get(), a, std::string(ctx.operatorCode));
        return protocol::CallResult::ofText(ctx.number);
    });
    addConsultationMethods(rdm);
}

}  // namespace rqc::appserver
