#include "suitedb/csv_reader.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

#include <chrono>

namespace rqc::suitedb::import {

namespace {

// Windows-1252's characters at 0x80..0x9F (0 where the code page has none).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Length of the well-formed UTF-8 sequence at s[i] (shortest form, no surrogates, at most
// U+10FFFF), 0 when none starts there.
std::size_t sequenceAt(std::string_view s, std::size_t i) {
    auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80)
        return 1;
    std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (n == 0 || c > 0xF4 || i + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80)
            return 0;
    }
    if ((c == 0xE0 && b(i + 1) < 0xA0) || (c == 0xED && b(i + 1) > 0x9F) ||
        (c == 0xF0 && b(i + 1) < 0x90) || (c == 0xF4 && b(i + 1) > 0x8F)) {
        return 0;
    }
    return n;
}

bool wellFormedUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = sequenceAt(s, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

bool isDigits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// Thousands groups after the first: each exactly three digits.
bool groupsOfThree(std::string_view digitsWithSeps, char sep) {
    std::size_t first = digitsWithSeps.find(sep);
    if (first == 0 || first > 3)
        return false;
    for (std::size_t at = first; at != std::string_view::npos;) {
        std::size_t next = digitsWithSeps.find(sep, at + 1);
        std::size_t len = (next == std::string_view::npos ? digitsWithSeps.size() : next) - at - 1;
        if (len != 3)
            return false;
        at = next;
    }
    return true;
}

std::string withoutChar(std::string_view s, char c) {
    std::string out;
    for (char ch : s) {
        if (ch != c)
            out += ch;
    }
    return out;
}

}  // namespace

std::string_view trimmed(std::string_view s) {
    constexpr std::string_view kNoBreakSpace = "\xC2\xA0";  // as spreadsheets write it
    for (;;) {
        if (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
            s.remove_prefix(1);
        else if (s.starts_with(kNoBreakSpace))
            s.remove_prefix(kNoBreakSpace.size());
        else
            break;
    }
    for (;;) {
        if (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
            s.remove_suffix(1);
        else if (s.ends_with(kNoBreakSpace))
            s.remove_suffix(kNoBreakSpace.size());
        else
            break;
    }
    return s;
}

CsvText decodeCsv(std::string bytes) {
    CsvText out;
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        out.bom = true;
        bytes.erase(0, 3);
        out.text = std::move(bytes);
        return out;
    }
    if (wellFormedUtf8(bytes)) {
        out.text = std::move(bytes);
        return out;
    }
    out.windows1252 = true;
    out.text.reserve(bytes.size() + bytes.size() / 8);
    for (char ch : bytes) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x80)
            out.text += ch;
        else if (c < 0xA0)
            appendUtf8(out.text, kCp1252High[c - 0x80] ? kCp1252High[c - 0x80] : U'\uFFFD');
        else
            appendUtf8(out.text, c);
    }
    return out;
}

CsvRecords::CsvRecords(std::string_view text) : m_text(text) {
    std::size_t end = text.find('\n');
    std::string_view header = text.substr(0, end);
    m_sep = header.find(';') != std::string_view::npos ? ';' : ',';
}

bool CsvRecords::next(std::vector<std::string>& fields, std::int64_t& line) {
    const std::size_t size = m_text.size();
    const char* text = m_text.data();
    while (m_pos < size) {
        line = m_line;
        std::size_t used = 0;
        bool blank = true;
        bool endOfRecord = false;
        while (!endOfRecord) {
            if (used == fields.size())
                fields.emplace_back();
            std::string& field = fields[used++];
            field.clear();
            std::size_t start = m_pos;
            while (m_pos < size && (text[m_pos] == ' ' || text[m_pos] == '\t'))
                ++m_pos;
            if (m_pos < size && text[m_pos] == '"') {
                blank = false;
                ++m_pos;
                for (;;) {
                    if (m_pos >= size) {
                        throw std::runtime_error("as aspas abertas na linha " +
                                                 std::to_string(line) +
                                                 " não se fecham até o fim do arquivo");
                    }
                    const char c = text[m_pos++];
                    if (c == '"') {
                        if (m_pos < size && text[m_pos] == '"') {
                            field += '"';
                            ++m_pos;
                            continue;
                        }
                        break;
                    }
                    if (c == '\n')
                        ++m_line;
                    field += c;
                }
                start = m_pos;  // what follows the closing quote, up to the separator
            }
            while (m_pos < size && text[m_pos] != m_sep && text[m_pos] != '\n')
                ++m_pos;
            std::size_t end = m_pos;
            if (end > start && text[end - 1] == '\r')
                --end;
            if (end > start) {
                field.append(text + start, end - start);
                if (blank && !trimmed(std::string_view(text + start, end - start)).empty())
                    blank = false;
            }
            // A record of separators only (spreadsheets write them below the data) is blank.
            if (m_pos >= size || text[m_pos] == '\n') {
                endOfRecord = true;
                if (m_pos < size)
                    ++m_line;
            }
            ++m_pos;
        }
        fields.resize(used);
        if (!blank)
            return true;
    }
    return false;
}

std::string parseDecimal(std::string_view text, DecimalMark mark, int maxDecimals,
                         std::string& out) {
    std::string_view s = trimmed(text);
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty() || s.front() < '0' || s.front() > '9' ||
        s.find_first_not_of("0123456789.,") != std::string_view::npos) {
        return "não é um número";
    }
    const auto commas = std::count(s.begin(), s.end(), ',');
    const auto points = std::count(s.begin(), s.end(), '.');
    char decimal = 0;
    if (mark != DecimalMark::Unknown) {
        decimal = mark == DecimalMark::Comma ? ',' : '.';
    } else if (commas > 0 && points > 0) {
        decimal = s.rfind(',') > s.rfind('.') ? ',' : '.';
    } else if (commas + points == 1) {
        const char sep = commas ? ',' : '.';
        const std::size_t at = s.find(sep);
        if (s.size() - at - 1 == 3 && at <= 3 && s.substr(0, at) != "0") {
            return "pode ser lido com separador de milhar ou com casas decimais (diga qual com "
                   "--decimal virgula ou --decimal ponto)";
        }
        decimal = sep;
    } else if (commas + points > 1) {
        decimal = commas ? '.' : ',';  // one separator repeated can only mark thousands
    }
    std::string_view integral = s, fraction;
    if (decimal != 0) {
        const std::size_t at = s.find(decimal);
        if (at != std::string_view::npos) {
            if (s.find(decimal, at + 1) != std::string_view::npos)
                return "tem mais de um separador decimal";
            integral = s.substr(0, at);
            fraction = s.substr(at + 1);
            if (!isDigits(fraction))
                return "não é um número";
        }
    }
    const char thousands = decimal == ',' ? '.' : ',';
    std::string digits(integral);
    if (integral.find(thousands) != std::string_view::npos) {
        if (!groupsOfThree(integral, thousands))
            return "tem o separador de milhar fora de lugar";
        digits = withoutChar(integral, thousands);
    }
    if (!isDigits(digits))
        return "não é um número";
    if (static_cast<int>(fraction.size()) > maxDecimals) {
        return maxDecimals == 0 ? "deve ser um número inteiro"
                                : "tem mais de " + std::to_string(maxDecimals) + " casas decimais";
    }
    const std::size_t lead = digits.find_first_not_of('0');
    digits = lead == std::string::npos ? "0" : digits.substr(lead);
    if (digits.size() > 12)
        return "é grande demais (mais de 12 dígitos antes da vírgula)";
    while (!fraction.empty() && fraction.back() == '0')
        fraction.remove_suffix(1);
    out.clear();
    if (negative && (digits != "0" || !fraction.empty()))
        out += '-';
    out += digits;
    if (!fraction.empty()) {
        out += '.';
        out += fraction;
    }
    return {};
}

std::string parseDay(std::string_view text, std::string& iso) {
    std::string_view s = trimmed(text);
    int y = 0, m = 0, d = 0;
    auto num = [](std::string_view part, int& v) {
        return isDigits(part) &&
               std::from_chars(part.data(), part.data() + part.size(), v).ec == std::errc{};
    };
    if (s.size() == 10 && s[4] == '-' && s[7] == '-') {
        if (!num(s.substr(0, 4), y) || !num(s.substr(5, 2), m) || !num(s.substr(8, 2), d))
            return "não é uma data (dd/mm/aaaa ou aaaa-mm-dd)";
    } else if (std::size_t a = s.find('/'), b = s.rfind('/');
               a != std::string_view::npos && b != a) {
        std::string_view ds = s.substr(0, a), ms = s.substr(a + 1, b - a - 1), ys = s.substr(b + 1);
        if (ds.empty() || ds.size() > 2 || ms.empty() || ms.size() > 2 || !num(ds, d) ||
            !num(ms, m) || !num(ys, y)) {
            return "não é uma data (dd/mm/aaaa ou aaaa-mm-dd)";
        }
        if (ys.size() != 4)
            return "tem o ano com " + std::to_string(ys.size()) + " dígitos; escreva os quatro";
    } else {
        return "não é uma data (dd/mm/aaaa ou aaaa-mm-dd)";
    }
    const std::chrono::year_month_day day{std::chrono::year{y},
                                          std::chrono::month{static_cast<unsigned>(m)},
                                          std::chrono::day{static_cast<unsigned>(d)}};
    if (!day.ok() || y < 1900 || y > 9999)
        return "não é uma data do calendário";
    iso.resize(10);
    const auto put = [&iso](std::size_t at, int value, int width) {
        for (int i = width - 1; i >= 0; --i, value /= 10)
            iso[at + static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
    };
    put(0, y, 4);
    iso[4] = '-';
    put(5, m, 2);
    iso[7] = '-';
    put(8, d, 2);
    return {};
}

std::string parseWhole(std::string_view text, std::int64_t& out) {
    std::string_view s = trimmed(text);
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    if (s.empty() || ec != std::errc{} || end != s.data() + s.size())
        return "não é um número inteiro";
    return {};
}

}  // namespace rqc::suitedb::import
