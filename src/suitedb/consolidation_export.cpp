#include "suitedb/consolidation_export.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "suitedb/dialect.h"

namespace rqc::suitedb {

namespace {

constexpr std::size_t kUserWidth = 40;

std::string jsonString(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string quantity(const Cursor& c, int col, char decimal) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.3f", c.isNull(col) ? 0.0 : c.real(col));
    std::string s(buf);
    if (decimal != '.')
        s[s.find('.')] = decimal;
    return s;
}

std::string csvField(std::string_view s) {
    if (s.find_first_of(";\"\n\r") == std::string_view::npos)
        return std::string(s);
    std::string out = "\"";
    for (char c : s)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

// Product lines, with the product's tree code, name and buyer.
std::unique_ptr<Cursor> productLines(Connection& db, const std::string& nr) {
    return db.query(
        "SELECT i.CDPRODUTO, p.CDARVPROD, p.NMPRODUTO, p.CDCOMPRADOR, i.QTSOLICITADA,"
        " i.QTLIMITESEG, i.QTESTOQUE, i.QTAF, i.QTCONSABERTA, i.QTARREDONDA, i.QTCONSOLIDADA"
        " FROM ITCONSSOLI i LEFT JOIN PRODUTO p ON p.CDPRODUTO = i.CDPRODUTO"
        " WHERE i.NRCONSSOLI = ? ORDER BY i.CDPRODUTO",
        {nr});
}
constexpr int kFirstQuantity = 4;

// Writes a row's columns as JSON members: quantities (QT...) as numbers, the rest as text.
void jsonMembers(const Cursor& c, std::ostream& out, int from = 0) {
    for (int i = from; i < c.columnCount(); ++i) {
        const std::string name = c.columnName(i);
        out << (i > from ? ", " : "") << jsonString(name) << ": ";
        if (c.isNull(i))
            out << "null";
        else if (name.starts_with("QT"))
            out << quantity(c, i, '.');
        else if (name == "NRITEM")
            out << c.int64(i);
        else
            out << jsonString(c.text(i));
    }
}

void writeJson(Connection& db, const std::vector<std::string>& numbers, std::ostream& out) {
    out << "{\"consolidacoes\": [";
    for (std::size_t n = 0; n < numbers.size(); ++n) {
        const std::string& nr = numbers[n];
        out << (n ? ",\n" : "\n") << "  {";
        {
            auto h = db.query("SELECT * FROM CONSSOLI WHERE NRCONSSOLI = ?", {nr});
            h->next();
            jsonMembers(*h, out);
        }
        out << ",\n   \"itens\": [";
        {
            auto c = productLines(db, nr);
            for (bool first = true; c->next(); first = false) {
                out << (first ? "\n" : ",\n") << "    {";
                jsonMembers(*c, out);
                out << "}";
            }
        }
        out << "],\n   \"origens\": [";
        auto c = db.query(
            "SELECT CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM, CDPRODUTO, QTSOLICITADA"
            " FROM ITCONSSOLIORIG WHERE NRCONSSOLI = ?"
            " ORDER BY CDPRODUTO, CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM",
            {nr});
        for (bool first = true; c->next(); first = false) {
            out << (first ? "\n" : ",\n") << "    {";
            jsonMembers(*c, out);
            out << "}";
        }
        out << "]}";
    }
    out << "\n]}\n";
}

void writeCsv(Connection& db, const std::vector<std::string>& numbers, std::ostream& out) {
    constexpr std::string_view kHeader[] = {"NRCONSSOLI", "CDFILCENTCMP", "CDFILEST",
                                            "DTGERACAO",  "NMUSUARIO",    "IDSITUACAO"};
    out << "\xEF\xBB\xBF";
    for (auto h : kHeader)
        out << h << ';';
    out << "CDPRODUTO;CDARVPROD;NMPRODUTO;CDCOMPRADOR;QTSOLICITADA;QTLIMITESEG;QTESTOQUE;QTAF;"
           "QTCONSABERTA;QTARREDONDA;QTCONSOLIDADA\r\n";
    for (const std::string& nr : numbers) {
        std::string head;
        {
            auto h = db.query(
                "SELECT NRCONSSOLI, CDFILCENTCMP, CDFILEST, DTGERACAO, NMUSUARIO, IDSITUACAO"
                " FROM CONSSOLI WHERE NRCONSSOLI = ?",
                {nr});
            h->next();
            for (int i = 0; i < h->columnCount(); ++i)
                head += csvField(h->text(i)) + ";";
        }
        auto c = productLines(db, nr);
        while (c->next()) {
            out << head;
            for (int i = 0; i < c->columnCount(); ++i) {
                if (i > 0)
                    out << ';';
                out << (i >= kFirstQuantity ? quantity(*c, i, ',') : csvField(c->text(i)));
            }
            out << "\r\n";
        }
    }
}

}  // namespace

std::string consolidationNumber(std::string_view typed) {
    if (typed.empty() || typed.size() > 10 ||
        typed.find_first_not_of("0123456789") != std::string_view::npos) {
        throw std::invalid_argument("'" + std::string(typed) +
                                    "' não é um número de consolidação (até 10 dígitos)");
    }
    return std::string(10 - typed.size(), '0') + std::string(typed);
}

std::vector<std::string> openConsolidationsSince(Connection& db, Date since) {
    std::vector<std::string> out;
    auto c = db.query("SELECT NRCONSSOLI FROM CONSSOLI WHERE IDSITUACAO = 'A' AND DTGERACAO >= " +
                          Dialect(db).timestampParam() + " ORDER BY NRCONSSOLI",
                      {isoDate(since) + " 00:00:00"});
    while (c->next())
        out.emplace_back(c->text(0));
    return out;
}

void exportConsolidations(Connection& db, const std::vector<std::string>& numbers,
                          ExportFormat format, std::ostream& out) {
    for (const std::string& nr : numbers) {
        auto c = db.query("SELECT 1 FROM CONSSOLI WHERE NRCONSSOLI = ?", {nr});
        if (!c->next())
            throw std::invalid_argument("a consolidação " + nr + " não existe");
    }
    if (format == ExportFormat::Json)
        writeJson(db, numbers, out);
    else
        writeCsv(db, numbers, out);
}

CloseOutcome closeConsolidation(Connection& db, const std::string& number, std::string_view user) {
    std::size_t cut = std::min(user.size(), kUserWidth);
    while (cut < user.size() && cut > 0 && (static_cast<unsigned char>(user[cut]) & 0xC0) == 0x80)
        --cut;  // never half a character
    const std::string who(user.substr(0, cut));
    if (db.execute(
            "UPDATE CONSSOLI SET IDSITUACAO = 'F', DTFECHAMENTO = " + Dialect(db).timestampParam() +
                ", NMUSUFECHAMENTO = ? WHERE NRCONSSOLI = ? AND COALESCE(IDSITUACAO, 'A') = 'A'",
            {dates::localTimestamp(), who, number}) == 1) {
        return CloseOutcome::Closed;
    }
    auto c = db.query("SELECT IDSITUACAO FROM CONSSOLI WHERE NRCONSSOLI = ?", {number});
    if (!c->next())
        return CloseOutcome::NotFound;
    return c->text(0) == "E" ? CloseOutcome::Reversed : CloseOutcome::AlreadyClosed;
}

std::string closeRefusal(CloseOutcome outcome, const std::string& number) {
    switch (outcome) {
        case CloseOutcome::NotFound:
            return "A consolidação " + number + " não existe.";
        case CloseOutcome::AlreadyClosed:
            return "A consolidação " + number + " já está fechada.";
        case CloseOutcome::Reversed:
            return "A consolidação " + number + " foi estornada e não pode ser fechada.";
        case CloseOutcome::Closed:
            break;
    }
    return {};
}

}  // namespace rqc::suitedb
