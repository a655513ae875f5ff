#include "suitedb/placeholders.h"

namespace rqc::suitedb {

namespace {

bool isIdentChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

bool isTagStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// Length of a dollar-quote delimiter ("$$" or "$tag$") starting at i, or 0.
std::size_t dollarTag(std::string_view s, std::size_t i) {
    std::size_t j = i + 1;
    if (j < s.size() && s[j] != '$') {
        if (!isTagStart(s[j]))
            return 0;
        while (j < s.size() && s[j] != '$' && isIdentChar(s[j]))
            ++j;
    }
    if (j >= s.size() || s[j] != '$')
        return 0;
    return j - i + 1;
}

}  // namespace

std::string toPostgresPlaceholders(std::string_view sql, int& count) {
    std::string out;
    out.reserve(sql.size() + 16);
    count = 0;
    std::size_t i = 0;
    const std::size_t n = sql.size();
    while (i < n) {
        char c = sql[i];
        if (c == '?') {
            out += '$';
            out += std::to_string(++count);
            ++i;
            continue;
        }
        std::size_t start = i;
        if (c == '\'') {
            bool backslashes = i > 0 && (sql[i - 1] == 'E' || sql[i - 1] == 'e') &&
                               (i < 2 || !isIdentChar(sql[i - 2]));
            ++i;
            while (i < n) {
                if (backslashes && sql[i] == '\\' && i + 1 < n) {
                    i += 2;
                } else if (sql[i] == '\'') {
                    if (i + 1 < n && sql[i + 1] == '\'') {
                        i += 2;
                    } else {
                        ++i;
                        break;
                    }
                } else {
                    ++i;
                }
            }
        } else if (c == '"') {
            ++i;
            while (i < n) {
                if (sql[i] == '"') {
                    if (i + 1 < n && sql[i + 1] == '"') {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
        } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            while (i < n && sql[i] != '\n')
                ++i;
        } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            int depth = 1;
            i += 2;
            while (i < n && depth > 0) {
                if (sql[i] == '/' && i + 1 < n && sql[i + 1] == '*') {
                    ++depth;
                    i += 2;
                } else if (sql[i] == '*' && i + 1 < n && sql[i + 1] == '/') {
                    --depth;
                    i += 2;
                } else {
                    ++i;
                }
            }
        } else if (c == '$' && (i == 0 || !isIdentChar(sql[i - 1])) && dollarTag(sql, i) > 0) {
            std::size_t len = dollarTag(sql, i);
            std::string_view tag = sql.substr(i, len);
            std::size_t end = sql.find(tag, i + len);
            i = end == std::string_view::npos ? n : end + len;
        } else {
            ++i;
        }
        out.append(sql.substr(start, i - start));
    }
    return out;
}

}  // namespace rqc::suitedb
