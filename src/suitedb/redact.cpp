#include "suitedb/redact.h"

namespace rqc::suitedb {

namespace {

constexpr std::string_view kHidden = "***";

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string redactUrl(std::string_view url, std::size_t scheme) {
    std::string out;
    const std::size_t query = url.find('?', scheme + 3);
    std::string_view head = url.substr(0, query);
    // The user information ends at the last '@' before the query; a password holds no '@'
    // unencoded, but hiding too much is harmless here.
    const std::size_t at = head.rfind('@');
    const std::size_t colon = head.find(':', scheme + 3);
    if (at != std::string_view::npos && at > scheme && colon != std::string_view::npos &&
        colon < at) {
        out.append(head.substr(0, colon + 1));
        out.append(kHidden);
        out.append(head.substr(at));
    } else {
        out.append(head);
    }
    if (query == std::string_view::npos)
        return out;
    std::string_view rest = url.substr(query + 1);
    out += '?';
    while (true) {
        const std::size_t amp = rest.find('&');
        std::string_view param = rest.substr(0, amp);
        const std::size_t eq = param.find('=');
        if (eq != std::string_view::npos && param.substr(0, eq) == "password") {
            out.append(param.substr(0, eq + 1));
            out.append(kHidden);
        } else {
            out.append(param);
        }
        if (amp == std::string_view::npos)
            break;
        out += '&';
        rest.remove_prefix(amp + 1);
    }
    return out;
}

// libpq's "key = value" syntax: values unquoted up to a blank, or single-quoted with
// backslash escapes. On text that does not follow it, everything from the first
// "password" on is hidden.
std::string redactKeyValue(std::string_view s) {
    std::string out;
    std::size_t i = 0;
    auto fallback = [&]() {
        const std::size_t pw = s.find("password");
        if (pw == std::string_view::npos)
            return std::string(s);
        return std::string(s.substr(0, pw)) + "password=" + std::string(kHidden);
    };
    while (i < s.size()) {
        const std::size_t spaceStart = i;
        while (i < s.size() && isSpace(s[i]))
            ++i;
        out.append(s.substr(spaceStart, i - spaceStart));
        if (i == s.size())
            break;
        const std::size_t keyStart = i;
        while (i < s.size() && s[i] != '=' && !isSpace(s[i]))
            ++i;
        const std::string_view key = s.substr(keyStart, i - keyStart);
        while (i < s.size() && isSpace(s[i]))
            ++i;
        if (i == s.size() || s[i] != '=')
            return fallback();
        ++i;
        while (i < s.size() && isSpace(s[i]))
            ++i;
        const std::size_t valueStart = i;
        if (i < s.size() && s[i] == '\'') {
            ++i;
            while (i < s.size() && s[i] != '\'') {
                if (s[i] == '\\' && i + 1 < s.size())
                    ++i;
                ++i;
            }
            if (i == s.size())
                return fallback();
            ++i;
        } else {
            while (i < s.size() && !isSpace(s[i])) {
                if (s[i] == '\\' && i + 1 < s.size())
                    ++i;
                ++i;
            }
        }
        out.append(s.substr(keyStart, valueStart - keyStart));
        if (key == "password")
            out.append(kHidden);
        else
            out.append(s.substr(valueStart, i - valueStart));
    }
    return out;
}

}  // namespace

std::string redactTarget(std::string_view target) {
    if (target.starts_with("postgresql://") || target.starts_with("postgres://"))
        return redactUrl(target, target.find("://"));
    if (target.find('=') != std::string_view::npos)
        return redactKeyValue(target);
    return std::string(target);
}

std::string shellWord(std::string_view text) {
    const bool plain = !text.empty() && text.find_first_not_of(
                                            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                            "0123456789_./:@%+=,-") == std::string_view::npos;
    if (plain)
        return std::string(text);
    std::string out = "'";
    for (char ch : text)
        out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return out + "'";
}

}  // namespace rqc::suitedb
