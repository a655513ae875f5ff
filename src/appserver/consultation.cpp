#include "consultation.h"

#include <algorithm>

#include "argument_error.h"
#include "consolidation_engine.h"
#include "method_arguments.h"
#include "protocol/numbers.h"
#include "reversal.h"
#include "suitedb/consolidation_export.h"
#include "suitedb/dialect.h"
#include "worker_connection.h"

namespace rqc::appserver {

namespace {

using protocol::Argument;
using protocol::DataPacket;
using protocol::FieldDef;
using protocol::FieldType;

// The packet's form of a float: the shortest fixed text that reads back as the same double.
DataPacket::Cell number(const suitedb::Cursor& c, int col) {
    if (c.isNull(col))
        return std::nullopt;
    return protocol::formatCanonicalDecimal(c.real(col));
}

DataPacket::Cell text(const suitedb::Cursor& c, int col) {
    if (c.isNull(col))
        return std::nullopt;
    return std::string(c.text(col));
}

// "YYYY-MM-DD..." -> "DD/MM/YYYY"; other text is shown as stored.
std::string brDate(std::string_view iso) {
    if (iso.size() < 10 || iso[4] != '-' || iso[7] != '-')
        return std::string(iso);
    return std::string(iso.substr(8, 2)) + "/" + std::string(iso.substr(5, 2)) + "/" +
           std::string(iso.substr(0, 4));
}

std::string spacedList(std::string_view list) {
    std::string out;
    for (char ch : list) {
        out += ch;
        if (ch == ',')
            out += ' ';
    }
    return out;
}

FieldDef quantity(const char* name, const char* origin) {
    return FieldDef{name, FieldType::Float, 0, origin};
}

std::vector<FieldDef> productFields() {
    return {
        FieldDef{"CDPRODUTO", FieldType::Text, 10, "ITCONSSOLI.CDPRODUTO"},
        FieldDef{"CDARVPROD", FieldType::Text, 20, "PRODUTO.CDARVPROD"},
        FieldDef{"NMPRODUTO", FieldType::Text, 50, "PRODUTO.NMPRODUTO"},
        quantity("QTSOLICITADA", "ITCONSSOLI.QTSOLICITADA"),
        quantity("QTLIMITESEG", "ITCONSSOLI.QTLIMITESEG"),
        quantity("QTESTOQUE", "ITCONSSOLI.QTESTOQUE"),
        quantity("QTAF", "ITCONSSOLI.QTAF"),
        quantity("QTCONSABERTA", "ITCONSSOLI.QTCONSABERTA"),
        quantity("QTARREDONDA", "ITCONSSOLI.QTARREDONDA"),
        quantity("QTCONSOLIDADA", "ITCONSSOLI.QTCONSOLIDADA"),
        FieldDef{"NRLINHAS", FieldType::Integer, 0, ""},
    };
}

// Appends rows of: three texts, seven quantities, then `counts` integers.
void appendProductRows(DataPacket& packet, suitedb::Cursor& c, int counts) {
    while (c.next()) {
        int col = 0;
        for (; col < 3; ++col)
            packet.append(text(c, col));
        for (; col < 10; ++col)
            packet.append(number(c, col));
        for (int i = 0; i < counts; ++i, ++col)
            packet.append(c.isNull(col) ? std::string("0") : std::to_string(c.int64(col)));
    }
}

// A transaction that is always rolled back. It writes only temporary tables, so on SQLite it
// never takes the database's write lock.
class RolledBack {
  public:
    explicit RolledBack(suitedb::Connection& db) : m_db(db) { suitedb::Dialect(db).beginLocal(db); }
    ~RolledBack() { m_db.rollback(); }
    RolledBack(const RolledBack&) = delete;
    RolledBack& operator=(const RolledBack&) = delete;

  private:
    suitedb::Connection& m_db;
};

std::string situation(std::string_view id) {
    if (id == "A")
        return "Aberta";
    if (id == "F")
        return "Fechada";
    if (id == "E")
        return "Estornada";
    return std::string(id);
}

}  // namespace

std::string describeFilter(const ConsSoliFilter& f) {
    std::string out = "Entrega " + brDate(f.dtEntregaIni) + " a " + brDate(f.dtEntregaFin);
    // The screen pads the end of the range with "Z": "0010ZZZZZZ" takes the codes under 0010
    // too, all "Z" leaves the range open.
    const std::size_t typed = f.cdArvProdFin.find_last_not_of('Z');
    if (!f.cdArvProdFin.empty() && typed == std::string::npos)
        out += "; produtos de " + f.cdArvProdIni + " em diante";
    else if (typed + 1 < f.cdArvProdFin.size()) {
        const std::string last = f.cdArvProdFin.substr(0, typed + 1);
        out += "; produtos " + f.cdArvProdIni + " a " + last + " (e os códigos que começam com " +
               last + ")";
    } else
        out += "; produtos " + f.cdArvProdIni + " a " + f.cdArvProdFin;
    if (!f.compradores.empty())
        out += "; compradores " + spacedList(f.compradores);
    out += f.filiais.empty() ? std::string("; todas as filiais")
                             : "; filiais " + spacedList(f.filiais);
    if (f.idTodasSoli != "T") {
        std::size_t n = f.solicitacoes.empty()
                            ? 0
                            : 1 + static_cast<std::size_t>(std::count(f.solicitacoes.begin(),
                                                                      f.solicitacoes.end(), ','));
        out += "; " + std::to_string(n) +
               (n == 1 ? " solicitação escolhida" : " solicitações escolhidas");
    }
    out += f.idConsSoli == "N" ? "; não consolidadas" : "; inclusive já consolidadas";
    if (f.idConsEstoque == "S")
        out += "; estoque da filial " + f.cdFilEst + " em " + brDate(f.dtProcEstoque);
    if (f.idProdOrig == "S")
        out += "; por produto de origem";
    if (f.idConsSoliAberta == "S")
        out += "; menos consolidações abertas";
    if (f.idConsAf == "S")
        out += "; menos AF abertas";
    if (f.idLimiteSeg == "S")
        out += "; limite de segurança";
    if (f.idParamOl == "S")
        out += "; arredondamento OL";
    return out;
}

DataPacket getConsSoliPrevia(suitedb::Connection& db, const std::vector<Argument>& args) {
    ConsSoliArguments a = parseConsSoliArguments(args);
    DataPacket packet;
    packet.fields = productFields();
    packet.fields.push_back(FieldDef{"NRLINHASCONS", FieldType::Integer, 0, ""});
    if (!a.todasSolicitacoes && a.solicitacoes.empty())
        return packet;

    const suitedb::Dialect d(db);
    // The work tables go to the temporary file store for the call, as a run's do.
    suitedb::WorkSettings settings(db);
    RolledBack tx(db);
    // With every product at zero or below, the rows are those products (QTCONSOLIDADA <= 0).
    if (stageConsolidation(db, a, false) == Staged::NoLine)
        return packet;
    auto c = db.query(
        "SELECT RQC_CONS_AGG.CDPRODUTO, p.CDARVPROD, p.NMPRODUTO, " + storedTerms() +
        ", n.NL, n.NC FROM RQC_CONS_AGG LEFT JOIN PRODUTO p ON p.CDPRODUTO ="
        " RQC_CONS_AGG.CDPRODUTO JOIN (SELECT s.CDPRODUTO, COUNT(*) AS NL, SUM(CASE WHEN"
        " it.NRCONSSOLI IS NULL THEN 0 ELSE 1 END) AS NC FROM RQC_CONS_SEL s JOIN ITSOLICMP it" +
        (d.hashJoins() ? " ON it.CDFILSOLI = s.CDFILSOLI AND it.CDFILLANCA = s.CDFILLANCA"
                         " AND it.NRSOLICMP = s.NRSOLICMP AND it.NRITEM = s.NRITEM"
                       : " ON " + d.rowAddress("it") + " = s.RID") +
        " GROUP BY s.CDPRODUTO) n ON n.CDPRODUTO = RQC_CONS_AGG.CDPRODUTO"
        " ORDER BY RQC_CONS_AGG.CDPRODUTO");
    appendProductRows(packet, *c, 2);
    return packet;
}

namespace {

// The list's columns for the consolidations `where` selects (a condition on CONSSOLI c).
DataPacket consolidationHeaders(suitedb::Connection& db, const std::string& where,
                                const std::vector<suitedb::Param>& params) {
    DataPacket packet;
    packet.fields = {
        FieldDef{"NRCONSSOLI", FieldType::Text, 10, "CONSSOLI.NRCONSSOLI"},
        FieldDef{"DTGERACAO", FieldType::Text, 19, "CONSSOLI.DTGERACAO"},
        FieldDef{"NMUSUARIO", FieldType::Text, 40, "CONSSOLI.NMUSUARIO"},
        FieldDef{"CDFILIAL", FieldType::Text, 4, "CONSSOLI.CDFILIAL"},
        FieldDef{"CDFILCENTCMP", FieldType::Text, 4, "CONSSOLI.CDFILCENTCMP"},
        FieldDef{"CDFILEST", FieldType::Text, 4, "CONSSOLI.CDFILEST"},
        FieldDef{"DSFILTRO", FieldType::Text, 0, ""},
        FieldDef{"NRPRODUTOS", FieldType::Integer, 0, ""},
        FieldDef{"NRLINHAS", FieldType::Integer, 0, ""},
        FieldDef{"IDSITUACAO", FieldType::Text, 1, "CONSSOLI.IDSITUACAO"},
        FieldDef{"DSSITUACAO", FieldType::Text, 20, ""},
        FieldDef{"DTESTORNO", FieldType::Text, 19, "CONSSOLI.DTESTORNO"},
        FieldDef{"NMUSUESTORNO", FieldType::Text, 40, "CONSSOLI.NMUSUESTORNO"},
        FieldDef{"DTFECHAMENTO", FieldType::Text, 19, "CONSSOLI.DTFECHAMENTO"},
        FieldDef{"NMUSUFECHAMENTO", FieldType::Text, 40, "CONSSOLI.NMUSUFECHAMENTO"},
    };
    auto c = db.query(
        "SELECT c.NRCONSSOLI, c.DTGERACAO, c.NMUSUARIO, c.CDFILIAL, c.CDFILCENTCMP, c.CDFILEST,"
        " (SELECT COUNT(*) FROM ITCONSSOLI i WHERE i.NRCONSSOLI = c.NRCONSSOLI),"
        " (SELECT COUNT(*) FROM ITCONSSOLIORIG o WHERE o.NRCONSSOLI = c.NRCONSSOLI),"
        " c.IDSITUACAO, c.DTESTORNO, c.NMUSUESTORNO, c.DTENTREGAINI, c.DTENTREGAFIN,"
        " c.CDARVPRODINI, c.CDARVPRODFIN, c.LSTCOMPRADOR, c.LSTFILIAL, c.LSTSOLICIT,"
        " c.DTPROCESTOQUE, c.IDCONSESTOQUE, c.IDCONSSOLI, c.IDPRODORIG, c.IDTODASSOLI,"
        " c.IDCONSSOLIABERTA, c.IDCONSAF, c.IDLIMITESEG, c.IDPARAMOL, c.DTFECHAMENTO,"
        " c.NMUSUFECHAMENTO FROM CONSSOLI c WHERE " +
            where + " ORDER BY c.NRCONSSOLI DESC",
        params);
    while (c->next()) {
        auto t = [&c](int col) { return std::string(c->text(col)); };
        ConsSoliFilter f{t(11), t(12), t(13), t(14), t(15), t(16), t(17), t(5), t(18),
                         t(19), t(20), t(21), t(22), t(23), t(24), t(25), t(26)};
        for (int col = 0; col < 6; ++col)
            packet.append(text(*c, col));
        packet.append(describeFilter(f));
        packet.append(std::to_string(c->int64(6)));
        packet.append(std::to_string(c->int64(7)));
        packet.append(text(*c, 8));
        packet.append(situation(c->text(8)));
        packet.append(text(*c, 9));
        packet.append(text(*c, 10));
        packet.append(text(*c, 27));
        packet.append(text(*c, 28));
    }
    return packet;
}

}  // namespace

DataPacket getConsSoliLista(suitedb::Connection& db, const std::vector<Argument>& args) {
    const MethodArguments in(methods::kGetConsSoliLista, args);
    const std::string central = in.plainCode(0, kBranchCodeLength);
    const std::string from = in.day(1);
    const std::string pastTo = in.day(2, 1);
    const bool onlyOpen = in.option(3, kTodasOuVazio, true, "informe \"T\" ou deixe vazio");
    const std::string ts = suitedb::Dialect(db).timestampParam();
    return consolidationHeaders(db,
                                "c.CDFILCENTCMP = ? AND c.DTGERACAO >= " + ts +
                                    " AND c.DTGERACAO < " + ts +
                                    (onlyOpen ? " AND c.IDSITUACAO = 'A'" : ""),
                                {central, from, pastTo});
}

DataPacket getConsSoliCabec(suitedb::Connection& db, const std::vector<Argument>& args) {
    const std::string nr = MethodArguments(methods::kGetConsSoliCabec, args).consolidationNumber(0);
    return consolidationHeaders(db, "c.NRCONSSOLI = ?", {nr});
}

DataPacket getConsSoliItens(suitedb::Connection& db, const std::vector<Argument>& args) {
    const std::string nr = MethodArguments(methods::kGetConsSoliItens, args).consolidationNumber(0);
    DataPacket packet;
    packet.fields = productFields();
    auto c = db.query(
        "SELECT i.CDPRODUTO, p.CDARVPROD, p.NMPRODUTO, i.QTSOLICITADA, i.QTLIMITESEG,"
        " i.QTESTOQUE, i.QTAF, i.QTCONSABERTA, i.QTARREDONDA, i.QTCONSOLIDADA, n.NL"
        " FROM ITCONSSOLI i LEFT JOIN PRODUTO p ON p.CDPRODUTO = i.CDPRODUTO"
        " LEFT JOIN (SELECT CDPRODUTO, COUNT(*) AS NL FROM ITCONSSOLIORIG WHERE NRCONSSOLI = ?"
        " GROUP BY CDPRODUTO) n ON n.CDPRODUTO = i.CDPRODUTO WHERE i.NRCONSSOLI = ?"
        " ORDER BY i.CDPRODUTO",
        {nr, nr});
    appendProductRows(packet, *c, 1);
    return packet;
}

DataPacket getConsSoliOrigem(suitedb::Connection& db, const std::vector<Argument>& args) {
    const MethodArguments in(methods::kGetConsSoliOrigem, args);
    const std::string nr = in.consolidationNumber(0);
    const std::string product = in.code(1, kProductCodeLength, false);
    DataPacket packet;
    packet.fields = {
        FieldDef{"CDPRODUTO", FieldType::Text, 10, "ITCONSSOLIORIG.CDPRODUTO"},
        FieldDef{"CDFILSOLI", FieldType::Text, 4, "ITCONSSOLIORIG.CDFILSOLI"},
        FieldDef{"CDFILLANCA", FieldType::Text, 4, "ITCONSSOLIORIG.CDFILLANCA"},
        FieldDef{"NRSOLICMP", FieldType::Text, 10, "ITCONSSOLIORIG.NRSOLICMP"},
        FieldDef{"NRITEM", FieldType::Integer, 0, "ITCONSSOLIORIG.NRITEM"},
        quantity("QTSOLICITADA", "ITCONSSOLIORIG.QTSOLICITADA"),
        FieldDef{"DTENTREGA", FieldType::Date, 0, "SOLICMP.DTENTREGA"},
    };
    auto c = db.query(
        "SELECT o.CDPRODUTO, o.CDFILSOLI, o.CDFILLANCA, o.NRSOLICMP, o.NRITEM, o.QTSOLICITADA,"
        " s.DTENTREGA FROM ITCONSSOLIORIG o LEFT JOIN SOLICMP s ON s.CDFILSOLI = o.CDFILSOLI"
        " AND s.CDFILLANCA = o.CDFILLANCA AND s.NRSOLICMP = o.NRSOLICMP WHERE o.NRCONSSOLI = ?" +
            std::string(product.empty() ? "" : " AND o.CDPRODUTO = ?") +
            " ORDER BY o.CDPRODUTO, o.CDFILSOLI, o.CDFILLANCA, o.NRSOLICMP, o.NRITEM",
        product.empty() ? std::vector<suitedb::Param>{nr}
                        : std::vector<suitedb::Param>{nr, product});
    while (c->next()) {
        for (int col = 0; col < 4; ++col)
            packet.append(text(*c, col));
        packet.append(std::to_string(c->int64(4)));
        packet.append(number(*c, 5));
        packet.append(text(*c, 6));
    }
    return packet;
}

void addConsultationMethods(RemoteObject& rdm) {
    rdm.addMethod(methods::kGetConsSoliPrevia, [](CallContext& ctx, std::vector<Argument>& a) {
        return protocol::CallResult::ofPacket(getConsSoliPrevia(ctx.db.get(), a));
    });
    rdm.addMethod(methods::kGetConsSoliLista, [](CallContext& ctx, std::vector<Argument>& a) {
        return protocol::CallResult::ofPacket(getConsSoliLista(ctx.db.get(), a));
    });
    rdm.addMethod(methods::kGetConsSoliCabec, [](CallContext& ctx, std::vector<Argument>& a) {
        return protocol::CallResult::ofPacket(getConsSoliCabec(ctx.db.get(), a));
    });
    rdm.addMethod(methods::kGetConsSoliItens, [](CallContext& ctx, std::vector<Argument>& a) {
        return protocol::CallResult::ofPacket(getConsSoliItens(ctx.db.get(), a));
    });
    rdm.addMethod(methods::kGetConsSoliOrigem, [](CallContext& ctx, std::vector<Argument>& a) {
        return protocol::CallResult::ofPacket(getConsSoliOrigem(ctx.db.get(), a));
    });
    // The operator recorded is the one the connection logged in as, as for GetConsSoli.
    rdm.addMethod(methods::kEstornaConsSoli, [](CallContext& ctx, std::vector<Argument>& a) {
        ctx.number = MethodArguments(methods::kEstornaConsSoli, a).consolidationNumber(0);
        return protocol::CallResult::ofText(
            runEstornaConsSoli(ctx.db.get(), ctx.number, std::string(ctx.operatorCode)));
    });
    // Called by the next step of purchasing once the consolidation became orders; answers "1".
    rdm.addMethod(methods::kFechaConsSoli, [](CallContext& ctx, std::vector<Argument>& a) {
        ctx.number = MethodArguments(methods::kFechaConsSoli, a).consolidationNumber(0);
        suitedb::BusyTimeout wait(ctx.db.get(), kReversalLockWaitMs);
        const auto outcome = suitedb::closeConsolidation(
            ctx.db.get(), ctx.number, recordedUser(std::string(ctx.operatorCode)));
        if (outcome != suitedb::CloseOutcome::Closed)
            throw ArgumentError(suitedb::closeRefusal(outcome, ctx.number));
        return protocol::CallResult::ofText("1");
    });
}

}  // namespace rqc::appserver
