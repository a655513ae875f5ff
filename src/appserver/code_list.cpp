#include "code_list.h"

#include <unordered_set>

#include "argument_error.h"
#include "error_text.h"

namespace rqc::appserver {

namespace {

bool isCodeChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
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

}  // namespace rqc::appserver
