#include "wire.h"

namespace rqc::protocol::wire {

std::string hex(std::uint8_t v) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return std::string{'0', 'x', kDigits[v >> 4], kDigits[v & 0xF]};
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
    if (version < kOldestProtocolVersion || version > kProtocolVersion) {
        throw DecodeError(
            "protocol version " + std::to_string(version) + " not supported, this side speaks " +
            std::to_string(kOldestProtocolVersion) + " to " + std::to_string(kProtocolVersion));
    }
    m_version = version;
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
