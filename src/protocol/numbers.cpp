#include "numbers.h"

#include <charconv>
#include <cmath>

namespace rqc::protocol {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Length of the canonical integer part at the start of `s` (sign included); 0 when none.
std::size_t integerPart(std::string_view s) {
    std::size_t i = !s.empty() && s.front() == '-' ? 1 : 0;
    const std::size_t first = i;
    while (i < s.size() && isDigit(s[i]))
        ++i;
    const std::size_t digits = i - first;
    if (digits == 0 || (digits > 1 && s[first] == '0'))
        return 0;
    return i;
}

}  // namespace

std::optional<std::int64_t> parseCanonicalInteger(std::string_view text) {
    if (integerPart(text) != text.size() || text == "-0")
        return std::nullopt;
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<double> parseCanonicalDecimal(std::string_view text) {
    const std::size_t whole = integerPart(text);
    if (whole == 0)
        return std::nullopt;
    if (whole < text.size()) {
        if (text[whole] != '.' || whole + 1 == text.size())
            return std::nullopt;
        for (std::size_t i = whole + 1; i < text.size(); ++i) {
            if (!isDigit(text[i]))
                return std::nullopt;
        }
    }
    double value = 0;
    auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string formatCanonicalDecimal(double value) {
    char buf[400];  // the longest finite double in fixed notation is about 330 characters
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

}  // namespace rqc::protocol
