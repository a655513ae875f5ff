#include "consolidation_arguments.h"

#include <cmath>
#include <unordered_set>

#include "argument_error.h"
#include "code_list.h"

namespace rqc::appserver {

namespace {

struct ArgumentInfo {
    const char* name;
    std::uint8_t kind;  // protocol::kDate, or kTextByValue for either text kind
};

constexpr ArgumentInfo kArguments[kConsSoliArgumentCount] = {
    {"processing branch", protocol::kTextByValue},
    {"buyer list", protocol::kTextByValue},
    {"central purchasing branch", protocol::kTextByValue},
    {"requesting-branch list", protocol::kTextByValue},
    {"stock branch", protocol::kTextByValue},
    {"first product code", protocol::kTextByValue},
    {"last product code", protocol::kTextByValue},
    {"first delivery date", protocol::kDate},
    {"last delivery date", protocol::kDate},
    {"consider-stock option", protocol::kTextByValue},
    {"which-requests option", protocol::kTextByValue},
    {"origin-product option", protocol::kTextByValue},
    {"processing date", protocol::kDate},
    {"all-requests option", protocol::kTextByValue},
    {"request list", protocol::kTextByValue},
    {"consider-open-consolidations option", protocol::kTextByValue},
    {"consider-AF option", protocol::kTextByValue},
    {"safety-limit option", protocol::kTextByValue},
    {"OL-parametrisation option", protocol::kTextByValue},
};

std::string label(std::size_t index) {
    return "argument " + std::to_string(index + 1) + " (" + kArguments[index].name + ")";
}

[[noreturn]] void fail(std::size_t index, const std::string& why) {
    throw ArgumentError(label(index) + ": " + why);
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isCodeChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
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
        fail(index, "contains a control character or is not valid UTF-8");
    if (static_cast<std::size_t>(length) > maxLength) {
        fail(index, "'" + std::string(s) + "' has " + std::to_string(length) +
                        " characters; at most " + std::to_string(maxLength) + " are allowed");
    }
    if (required && s.empty())
        fail(index, "is empty; a code is required");
    return std::string(s);
}

std::string date(const protocol::Argument& a, std::size_t index) {
    if (!std::isfinite(a.date))
        fail(index, "is not a number");
    constexpr int kFirstYear = 1900;
    constexpr int kLastYear = 2999;
    static const double first = protocol::dateFromYmd(kFirstYear, 1, 1);
    static const double last = protocol::dateFromYmd(kLastYear + 1, 1, 1);
    if (a.date < first || a.date >= last) {
        fail(index, "the date " + std::to_string(a.date) + " lies outside the years " +
                        std::to_string(kFirstYear) + " to " + std::to_string(kLastYear));
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
            expected += " or ";
        expected += v.empty() ? std::string("the empty text") : "\"" + std::string(v) + "\"";
    }
    std::string shown = a.text.size() > 20 ? a.text.substr(0, 20) + "..." : a.text;
    fail(index, "\"" + shown + "\" is not a valid option; expected " + expected);
}

}  // namespace

std::vector<std::string> parseRequestKeyList(std::string_view text, std::string_view what) {
    std::vector<std::string> keys;
    if (trimBlanks(text).empty())
        return keys;

    auto failItem = [&](std::size_t item, const std::string& why) {
        throw ArgumentError(std::string(what) + ": item " + std::to_string(item) + " " + why);
    };
    struct Part {
        std::size_t offset, length;
        const char* name;
    };
    static constexpr Part kParts[] = {
        {0, kBranchCodeLength, "requesting branch (characters 1-4)"},
        {kBranchCodeLength, kBranchCodeLength, "launching branch (characters 5-8)"},
        {2 * kBranchCodeLength, kRequestNumberLength, "request number (characters 9-18)"},
    };

    std::unordered_set<std::string> seen;
    std::size_t pos = 0;
    for (std::size_t index = 1;; ++index) {
        std::size_t comma = text.find(',', pos);
        std::string_view item =
            trimBlanks(text.substr(pos, comma == std::string_view::npos ? text.npos : comma - pos));
        if (item.empty())
            failItem(index, "is empty");
        if (item.size() > kRequestKeyLength) {
            failItem(index, "has " + std::to_string(item.size()) +
                                " characters; a request key has " +
                                std::to_string(kRequestKeyLength));
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
                             "contains the character '" + std::string(1, part[used]) +
                                 "'; only letters, digits and right-padding blanks are allowed");
                }
                ++used;
            }
            if (used == 0)
                failItem(index, std::string("has an empty ") + p.name);
            for (std::size_t k = used; k < part.size(); ++k) {
                if (part[k] != ' ') {
                    failItem(index, std::string("has a blank inside its ") + p.name +
                                        "; blanks may only pad a part on the right");
                }
            }
        }
        if (seen.insert(key).second) {
            if (keys.size() >= kMaxListItems) {
                throw ArgumentError(std::string(what) + ": more than " +
                                    std::to_string(kMaxListItems) + " items");
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
        throw ArgumentError("GetConsSoli takes " + std::to_string(kConsSoliArgumentCount) +
                            " arguments; " + std::to_string(args.size()) + " were given");
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        bool isDate = args[i].type == protocol::kDate;
        bool wantDate = kArguments[i].kind == protocol::kDate;
        if (isDate != wantDate)
            fail(i, wantDate ? "must be a date" : "must be a text");
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
        fail(4, "is empty, but the consider-stock option (argument 10) is \"S\"");
    }
    return r;
}

}  // namespace rqc::appserver
