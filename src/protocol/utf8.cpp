#include "protocol/utf8.h"

#include <cstdint>
#include <cstring>

namespace rqc::protocol::wire {

namespace {

bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

}  // namespace

std::size_t utf8SequenceLength(std::string_view s, std::size_t pos) {
    if (pos >= s.size())
        return 0;
    const auto c = static_cast<unsigned char>(s[pos]);
    if (c < 0x80)
        return 1;
    std::size_t n;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (s.size() - pos < n)
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const auto cc = static_cast<unsigned char>(s[pos + k]);
        if (!isContinuation(cc))
            return 0;
        cp = cp << 6 | (cc & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return n;
}

bool isUtf8(std::string_view s) {
    const char* const data = s.data();
    const std::size_t size = s.size();
    std::size_t pos = 0;
    while (pos < size) {
        // ASCII runs eight bytes at a time.
        while (size - pos >= 8) {
            std::uint64_t block;
            std::memcpy(&block, data + pos, 8);
            if ((block & 0x8080808080808080ull) != 0)
                break;
            pos += 8;
        }
        if (pos == size)
            break;
        const std::size_t n = utf8SequenceLength(s, pos);
        if (n == 0)
            return false;
        pos += n;
    }
    return true;
}

std::size_t utf8Length(std::string_view s) {
    std::size_t count = 0;
    for (char c : s)
        count += isContinuation(static_cast<unsigned char>(c)) ? 0 : 1;
    return count;
}

std::string_view utf8Prefix(std::string_view s, std::size_t count) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (!isContinuation(static_cast<unsigned char>(s[i])) && count-- == 0)
            return s.substr(0, i);
    }
    return s;
}

}  // namespace rqc::protocol::wire
