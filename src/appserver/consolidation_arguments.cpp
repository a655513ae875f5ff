#include "consolidation_arguments.h"

#include <cmath>
#include <unordered_set>

#include "argument_error.h"
#include "code_list.h"
#include "error_text.h"

namespace rqc::appserver {

namespace {

struct ArgumentInfo {
    const char* name;
    std::uint8_t kind;  // protocol::kDate, or kTextByValue for either text kind
};

constexpr ArgumentInfo kArguments[kConsSoliArgumentCount] = {
    {"filial de processamento", protocol::kTextByValue},
    {"compradores", protocol::kTextByValue},
    {"filial centralizadora de compras", protocol::kTextByValue},
    {"filiais solicitantes", protocol::kTextByValue},
    {"filial de estoque", protocol::kTextByValue},
    {"produto inicial", protocol::kTextByValue},
    {"produto final", protocol::kTextByValue},
    {"data de entrega inicial", protocol::kDate},
    {"data de entrega final", protocol::kDate},
    {"opção Considera Estoque da Filial", protocol::kTextByValue},
    {"opção Consolida Solicitações", protocol::kTextByValue},
    {"opção Considera Produto Origem", protocol::kTextByValue},
    {"data de processamento da filial de estoque", protocol::kDate},
    {"opção Todas as solicitações", protocol::kTextByValue},
    {"solicitações", protocol::kTextByValue},
    {"opção Considerar Solicitação", protocol::kTextByValue},
    {"opção Considerar AF", protocol::kTextByValue},
    {"opção Considera limite de segurança", protocol::kTextByValue},
    {"opção Considera Parametrização OL", protocol::kTextByValue},
};

std::string label(std::size_t index) {
    return "Argumento " + std::to_string(index + 1) + " (" + kArguments[index].name + ")";
}

[[noreturn]] void fail(std::size_t index, const std::string& why) {
    throw ArgumentError(label(index) + ": " + why + ".");
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isCodeChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Number of characters of a valid UTF-8 text without control characters; -1 otherwise.
long utf8Length(std::string_view s) {
    long count = 0;
    for (std::size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80           ? 1
                        : (c >> 5) == 0x6  ? 2
                        : (c >> 4) == 0xE  ? 3
                        : (c >> 3) == 0x1E ? 4
                                           : 0;
        if (n == 0 || i + n > s.size())
            return -1;
        if (n == 1 && (c < 0x20 || c == 0x7F))
            return -1;
        for (std::size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return -1;
        }
        i += n;
        ++count;
    }
    return count;
}

// A single code: trailing blanks dropped, at most maxLength characters.
std::string code(const protocol::Argument& a, std::size_t index, std::size_t maxLength,
                 bool required) {
    std::string_view s = a.text;
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    long length = utf8Length(s);
    if (length < 0)
        fail(index, "o código " + quoteExcerpt(s) +
                        " contém um caractere de controle ou bytes que não são UTF-8");
    if (static_cast<std::size_t>(length) > maxLength) {
        fail(index, "o código " + quoteExcerpt(s) + " tem mais de " + std::to_string(maxLength) +
                        " caracteres");
    }
    if (required && s.empty())
        fail(index, "o código não foi informado");
    return std::string(s);
}

std::string date(const protocol::Argument& a, std::size_t index) {
    if (!std::isfinite(a.date))
        fail(index, "a data não é um número");
    constexpr int kFirstYear = 1900;
    constexpr int kLastYear = 2999;
    static const double first = protocol::dateFromYmd(kFirstYear, 1, 1);
    static const double last = protocol::dateFromYmd(kLastYear + 1, 1, 1);
    if (a.date < first || a.date >= last) {
        fail(index, "a data está fora dos anos " + std::to_string(kFirstYear) + " a " +
                        std::to_string(kLastYear));
    }
    return protocol::dateToIso(a.date);
}

std::string letter(const protocol::Argument& a, std::size_t index,
                   std::initializer_list<std::string_view> allowed) {
    for (std::string_view v : allowed) {
        if (a.text == v)
            return a.text;
    }
    std::string expected;
    for (std::string_view v : allowed) {
        if (!expected.empty())
            expected += " ou ";
        expected += v.empty() ? std::string("vazio") : "\"" + std::string(v) + "\"";
    }
    fail(index, quoteExcerpt(a.text, 20) + " não é um valor válido; o esperado é " + expected);
}

}  // namespace

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

ConsSoliArguments parseConsSoliArguments(const std::vector<protocol::Argument>& args) {
    if (args.size() != kConsSoliArgumentCount) {
        throw ArgumentError(
            messages::argumentCount("GetConsSoli", kConsSoliArgumentCount, args.size()));
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        bool isDate = args[i].type == protocol::kDate;
        bool wantDate = kArguments[i].kind == protocol::kDate;
        if (isDate != wantDate)
            fail(i, wantDate ? "deve ser uma data" : "deve ser um texto");
    }

    ConsSoliArguments r;
    r.cdFilial = code(args[0], 0, kBranchCodeLength, true);
    r.compradores = parseCodeList(args[1].text, label(1), kBuyerCodeLength);
    r.cdFilCentCmp = code(args[2], 2, kBranchCodeLength, true);
    r.filiais = parseCodeList(args[3].text, label(3), kBranchCodeLength);
    r.cdFilEst = code(args[4], 4, kBranchCodeLength, false);
    r.cdArvProdIni = code(args[5], 5, kProductTreeCodeLength, false);
    r.cdArvProdFin = code(args[6], 6, kProductTreeCodeLength, false);
    r.dtEntregaIni = date(args[7], 7);
    r.dtEntregaFin = date(args[8], 8);
    r.idConsEstoque = letter(args[9], 9, {"S", "N"});
    r.idConsSoli = letter(args[10], 10, {"T", "N"});
    r.idProdOrig = letter(args[11], 11, {"S", "N"});
    r.dtProcEstoque = date(args[12], 12);
    r.idTodasSoli = letter(args[13], 13, {"T", ""});
    r.solicitacoes = parseRequestKeyList(args[14].text, label(14));
    r.idConsSoliAberta = letter(args[15], 15, {"S", "N"});
    r.idConsAf = letter(args[16], 16, {"S", "N"});
    r.idLimiteSeg = letter(args[17], 17, {"S", "N"});
    r.idParamOl = letter(args[18], 18, {"S", "N"});
    if (r.consEstoque() && r.cdFilEst.empty()) {
        fail(4,
             "não foi informada, mas a opção Considera Estoque da Filial (argumento 10) é "
             "\"S\"");
    }
    return r;
}

}  // namespace rqc::appserver
