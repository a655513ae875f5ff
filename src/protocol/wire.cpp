#include "wire.h"

namespace rqc::protocol::wire {

std::string hex(std::uint8_t v) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return std::string{'0', 'x', kDigits[v >> 4], kDigits[v & 0xF]};
}

bool isUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        // ASCII runs eight bytes at a time.
        while (end - p >= 8) {
            std::uint64_t block;
            std::memcpy(&block, p, 8);
            if ((block & 0x8080808080808080ull) != 0)
                break;
            p += 8;
        }
        if (p == end)
            break;
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int n;
        std::uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (end - p <= n)
            return false;
        for (int i = 1; i <= n; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (p[i] & 0x3F);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        p += n + 1;
    }
    return true;
}

void Reader::failAt(std::size_t pos, const std::string& what) const {
    throw DecodeError("malformed " + std::string(m_message) + " at byte " + std::to_string(pos) +
                      ": " + what);
}

void Reader::truncated(std::size_t n, const char* what) const {
    fail(std::string("truncated ") + what + " (needs " + std::to_string(n) + " bytes, " +
         std::to_string(remaining()) + " remain)");
}

void Reader::header(MessageType expected) {
    if (m_size < kHeaderSize) {
        fail("too short for a message header (" + std::to_string(m_size) + " bytes, " +
             std::to_string(kHeaderSize) + " needed)");
    }
    if (m_data[0] != kMagic0 || m_data[1] != kMagic1) {
        fail("bad magic " + hex(static_cast<std::uint8_t>(m_data[0])) + " " +
             hex(static_cast<std::uint8_t>(m_data[1])) + ", not a message of this protocol");
    }
    const auto version = static_cast<std::uint8_t>(m_data[2]);
    if (version != kProtocolVersion) {
        throw DecodeError("protocol version " + std::to_string(version) +
                          " not supported, this side speaks " + std::to_string(kProtocolVersion));
    }
    const auto type = static_cast<std::uint8_t>(m_data[3]);
    if (type != static_cast<std::uint8_t>(expected)) {
        const char* names[] = {"", "call", "result", "login"};
        if (type >= 1 && type <= 3) {
            failAt(3, std::string("expected a ") + names[static_cast<int>(expected)] +
                          " message, got a " + names[type] + " message");
        }
        failAt(3, "unknown message type " + hex(type));
    }
    m_pos = kHeaderSize;
}

void Reader::end() const {
    if (m_pos != m_size) {
        fail(std::to_string(m_size - m_pos) + " trailing bytes after the end of the message");
    }
}

}  // namespace rqc::protocol::wire
