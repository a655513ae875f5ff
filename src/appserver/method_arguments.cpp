#include "method_arguments.h"

#include <cmath>
#include <unordered_set>

#include "argument_error.h"
#include "dates/dates.h"
#include "error_text.h"
#include "protocol/utf8.h"

namespace rqc::appserver {

namespace {

constexpr int kFirstYear = 1900;
constexpr int kLastYear = 2999;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isCodeChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Number of characters of a valid UTF-8 text without control characters; -1 otherwise.
long printableLength(std::string_view s) {
    if (!protocol::wire::isUtf8(s))
        return -1;
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F)
            return -1;
    }
    return static_cast<long>(protocol::wire::utf8Length(s));
}

// Serial dates of the first day of kFirstYear and of the year after kLastYear.
double firstSerial() {
    static const double first = dates::serialOf(std::chrono::year{kFirstYear} / 1 / 1);
    return first;
}

double pastLastSerial() {
    static const double pastLast = dates::serialOf(std::chrono::year{kLastYear + 1} / 1 / 1);
    return pastLast;
}

}  // namespace

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::vector<std::string> parseCodeList(std::string_view text, std::string_view what,
                                       std::size_t maxLength, bool exactLength) {
    std::vector<std::string> items;
    if (trimBlanks(text).empty())
        return items;

    auto fail = [&](const std::string& why) {
        throw ArgumentError(std::string(what) + ": " + why + ".");
    };
    std::unordered_set<std::string_view> seen;
    std::size_t pos = 0;
    std::size_t index = 0;
    while (true) {
        std::size_t comma = text.find(',', pos);
        std::string_view raw =
            text.substr(pos, comma == std::string_view::npos ? text.npos : comma - pos);
        std::string_view item = trimBlanks(raw);
        ++index;
        if (item.empty())
            fail("o item " + std::to_string(index) + " está vazio");
        for (std::size_t k = 0; k < item.size(); ++k) {
            if (!isCodeChar(item[k])) {
                fail("o item " + std::to_string(index) + ", " + quoteExcerpt(item) +
                     ", contém o caractere " +
                     quoteExcerpt(item.substr(k, utf8CharLength(item, k)), 1) +
                     "; só letras (sem acento) e dígitos são permitidos");
            }
        }
        if (item.size() > maxLength) {
            fail("o código " + quoteExcerpt(item) + " tem mais de " + std::to_string(maxLength) +
                 " caracteres");
        }
        if (exactLength && item.size() != maxLength) {
            fail("o código " + quoteExcerpt(item) + " deve ter exatamente " +
                 std::to_string(maxLength) + " caracteres");
        }
        if (seen.insert(item).second) {
            if (items.size() >= kMaxListItems) {
                fail("a lista tem mais de " + std::to_string(kMaxListItems) + " itens");
            }
            items.emplace_back(item);
        }
        if (comma == std::string_view::npos)
            break;
        pos = comma + 1;
    }
    return items;
}

std::string joinCodeList(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& i : items) {
        if (!out.empty())
            out += ',';
        out += i;
    }
    return out;
}

std::vector<std::string> parseRequestKeyList(std::string_view text, std::string_view what) {
    std::vector<std::string> keys;
    if (trimBlanks(text).empty())
        return keys;

    auto failItem = [&](std::size_t item, const std::string& why) {
        throw ArgumentError(std::string(what) + ": o item " + std::to_string(item) + " " + why +
                            ".");
    };
    struct Part {
        std::size_t offset, length;
        const char* name;    // "a filial solicitante (...)"
        const char* inside;  // "da filial solicitante (...)"
    };
    static constexpr Part kParts[] = {
        {0, kBranchCodeLength, "a filial solicitante (caracteres 1 a 4)",
         "da filial solicitante (caracteres 1 a 4)"},
        {kBranchCodeLength, kBranchCodeLength, "a filial de lançamento (caracteres 5 a 8)",
         "da filial de lançamento (caracteres 5 a 8)"},
        {2 * kBranchCodeLength, kRequestNumberLength, "o número da solicitação (caracteres 9 a 18)",
         "do número da solicitação (caracteres 9 a 18)"},
    };

    std::unordered_set<std::string> seen;
    std::size_t pos = 0;
    for (std::size_t index = 1;; ++index) {
        std::size_t comma = text.find(',', pos);
        std::string_view item =
            trimBlanks(text.substr(pos, comma == std::string_view::npos ? text.npos : comma - pos));
        if (item.empty())
            failItem(index, "está vazio");
        if (item.size() > kRequestKeyLength) {
            failItem(index, quoteExcerpt(item) + " tem mais de " +
                                std::to_string(kRequestKeyLength) +
                                " caracteres, o tamanho de uma chave de solicitação");
        }
        // Trailing blanks of the request number cannot be told from blanks around the item.
        std::string key(item);
        key.resize(kRequestKeyLength, ' ');
        for (const Part& p : kParts) {
            std::string_view part = std::string_view(key).substr(p.offset, p.length);
            std::size_t used = 0;
            while (used < part.size() && !isBlank(part[used])) {
                if (!isCodeChar(part[used])) {
                    failItem(index,
                             quoteExcerpt(item) + " contém o caractere " +
                                 quoteExcerpt(part.substr(used, utf8CharLength(part, used)), 1) +
                                 "; só letras (sem acento), dígitos e brancos de "
                                 "preenchimento à direita são permitidos");
                }
                ++used;
            }
            if (used == 0)
                failItem(index, quoteExcerpt(item) + " não tem " + p.name);
            for (std::size_t k = used; k < part.size(); ++k) {
                if (part[k] != ' ') {
                    failItem(index, quoteExcerpt(item) + " tem um branco no meio " + p.inside +
                                        "; brancos só podem completar uma parte à direita");
                }
            }
        }
        if (seen.insert(key).second) {
            if (keys.size() >= kMaxListItems) {
                throw ArgumentError(std::string(what) + ": a lista tem mais de " +
                                    std::to_string(kMaxListItems) + " itens.");
            }
            keys.push_back(std::move(key));
        }
        if (comma == std::string_view::npos)
            break;
        pos = comma + 1;
    }
    return keys;
}

std::string parseConsolidationNumber(std::string_view text) {
    std::string_view s = trimBlanks(text);
    bool digits = !s.empty() && s.size() <= kConsolidationNumberDigits;
    for (char ch : s)
        digits = digits && ch >= '0' && ch <= '9';
    if (!digits) {
        throw ArgumentError(methods::kEstornaConsSoli.label(0) +
                            ": informe de 1 a 10 algarismos, sem outros caracteres");
    }
    return std::string(kConsolidationNumberDigits - s.size(), '0') + std::string(s);
}

MethodArguments::MethodArguments(const MethodSignature& method,
                                 const std::vector<protocol::Argument>& args)
    : m_method(method), m_args(args) {
    if (args.size() != method.arguments.size()) {
        throw ArgumentError(
            messages::argumentCount(method.name, method.arguments.size(), args.size()));
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool isDate = args[i].type == protocol::kDate;
        const bool wantDate = method.arguments[i].kind == protocol::kDate;
        if (isDate != wantDate)
            fail(i, wantDate ? "deve ser uma data." : "deve ser um texto.");
    }
}

void MethodArguments::fail(std::size_t index, std::string_view sentence) const {
    throw ArgumentError(label(index) + ": " + std::string(sentence));
}

std::string MethodArguments::code(std::size_t index, std::size_t maxLength, bool required) const {
    std::string_view s = m_args[index].text;
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    const long length = printableLength(s);
    if (length < 0) {
        fail(index, "o código " + quoteExcerpt(s) +
                        " contém um caractere de controle ou bytes que não são UTF-8.");
    }
    if (static_cast<std::size_t>(length) > maxLength) {
        fail(index, "o código " + quoteExcerpt(s) + " tem mais de " + std::to_string(maxLength) +
                        " caracteres.");
    }
    if (required && s.empty())
        fail(index, "o código não foi informado.");
    return std::string(s);
}

std::string MethodArguments::branchCode(std::size_t index) const {
    const std::string_view s = trimBlanks(m_args[index].text);
    if (s.empty())
        fail(index, "o código da filial não foi informado.");
    std::vector<std::string> codes = parseCodeList(s, label(index), kBranchCodeLength);
    if (codes.size() != 1)
        fail(index, "informe um só código de filial, não " + quoteExcerpt(s) + ".");
    return std::move(codes.front());
}

std::string MethodArguments::plainCode(std::size_t index, std::size_t maxLength) const {
    const std::string_view s = trimBlanks(m_args[index].text);
    bool valid = !s.empty() && s.size() <= maxLength;
    for (char ch : s)
        valid = valid && isCodeChar(ch);
    if (!valid) {
        fail(index,
             "informe um código de 1 a " + std::to_string(maxLength) + " letras ou algarismos");
    }
    return std::string(s);
}

std::vector<std::string> MethodArguments::codeList(std::size_t index, std::size_t maxLength) const {
    return parseCodeList(m_args[index].text, label(index), maxLength);
}

std::vector<std::string> MethodArguments::requestKeyList(std::size_t index) const {
    return parseRequestKeyList(m_args[index].text, label(index));
}

std::string MethodArguments::date(std::size_t index) const {
    const double d = m_args[index].date;
    if (!std::isfinite(d))
        fail(index, "a data não é um número.");
    if (d < firstSerial() || d >= pastLastSerial()) {
        fail(index, "a data está fora dos anos " + std::to_string(kFirstYear) + " a " +
                        std::to_string(kLastYear) + ".");
    }
    return dates::isoDate(dates::dayOfSerial(d));
}

std::string MethodArguments::day(std::size_t index, int offset) const {
    const double d = m_args[index].date;
    if (!(d >= firstSerial() && d < pastLastSerial())) {
        fail(index, "a data não é um número ou está fora dos anos " + std::to_string(kFirstYear) +
                        " a " + std::to_string(kLastYear) + ".");
    }
    return dates::isoDate(dates::dayOfSerial(d) + std::chrono::days(offset));
}

bool MethodArguments::option(std::size_t index, OptionLetters letters, bool trimmed,
                             std::string_view refusal) const {
    const std::string_view value =
        trimmed ? trimBlanks(m_args[index].text) : std::string_view(m_args[index].text);
    if (value == letters.yes)
        return true;
    if (value == letters.no)
        return false;
    if (!refusal.empty())
        fail(index, refusal);
    auto shown = [](std::string_view v) {
        return v.empty() ? std::string("vazio") : "\"" + std::string(v) + "\"";
    };
    fail(index, quoteExcerpt(value, 20) + " não é um valor válido; o esperado é " +
                    shown(letters.yes) + " ou " + shown(letters.no) + ".");
}

std::string MethodArguments::consolidationNumber(std::size_t index) const {
    return parseConsolidationNumber(m_args[index].text);
}

ConsSoliArguments parseConsSoliArguments(const std::vector<protocol::Argument>& args) {
    const MethodArguments in(methods::kGetConsSoli, args);
    ConsSoliArguments r;
    r.cdFilial = in.code(0, kBranchCodeLength, true);
    r.compradores = in.codeList(1, kBuyerCodeLength);
    r.cdFilCentCmp = in.code(2, kBranchCodeLength, true);
    r.filiais = in.codeList(3, kBranchCodeLength);
    r.cdFilEst = in.code(4, kBranchCodeLength, false);
    r.cdArvProdIni = in.code(5, kProductTreeCodeLength, false);
    r.cdArvProdFin = in.code(6, kProductTreeCodeLength, false);
    r.dtEntregaIni = in.date(7);
    r.dtEntregaFin = in.date(8);
    r.consEstoque = in.option(9, kSimNao);
    r.todasLinhas = in.option(10, kTodasNao);
    r.prodOrig = in.option(11, kSimNao);
    r.dtProcEstoque = in.date(12);
    r.todasSolicitacoes = in.option(13, kTodasOuVazio);
    r.solicitacoes = in.requestKeyList(14);
    r.consSoliAberta = in.option(15, kSimNao);
    r.consAf = in.option(16, kSimNao);
    r.limiteSeg = in.option(17, kSimNao);
    r.paramOl = in.option(18, kSimNao);
    if (r.consEstoque && r.cdFilEst.empty()) {
        in.fail(4,
                "não foi informada, mas a opção Considera Estoque da Filial (argumento 10) é "
                "\"S\".");
    }
    return r;
}

}  // namespace rqc::appserver
