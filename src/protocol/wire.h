#pragma once
// Internal: little-endian writer and bounds-checked reader of message bodies.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "protocol.h"
#include "protocol/utf8.h"

namespace rqc::protocol::wire {

inline constexpr std::byte kMagic0{0x52};  // 'R'
inline constexpr std::byte kMagic1{0x51};  // 'Q'
inline constexpr std::size_t kHeaderSize = 4;
inline constexpr std::uint32_t kNullCell = 0xFFFFFFFFu;

enum class MessageType : std::uint8_t { Call = 1, Result = 2, Login = 3 };

std::string hex(std::uint8_t v);

// Appends to a buffer. `expected` is the size the caller means to write: the buffer is sized
// for it up front, so a right guess costs no reallocation; every write checks the room left
// and grows the buffer when it is short, so no guess can make a write overrun it. A text
// longer than a 32-bit length can say throws std::length_error.
class Writer {
  public:
    Writer(std::vector<std::byte>& out, std::size_t expected) : m_out(out) {
        m_out.resize(expected);
        m_p = m_out.data();
        m_end = m_p + m_out.size();
    }
    void header(MessageType type, std::uint8_t version = kProtocolVersion) {
        std::byte* p = room(4);
        p[0] = kMagic0;
        p[1] = kMagic1;
        p[2] = static_cast<std::byte>(version);
        p[3] = static_cast<std::byte>(type);
    }
    void u8(std::uint8_t v) { *room(1) = static_cast<std::byte>(v); }
    void u32(std::uint32_t v) { put32(room(4), v); }
    void f64(double v) {
        const auto bits = std::bit_cast<std::uint64_t>(v);
        std::byte* p = room(8);
        for (int i = 0; i < 8; ++i)
            p[i] = static_cast<std::byte>(bits >> (8 * i));
    }
    void text(std::string_view s) {
        if (s.size() > 0xFFFFFFFEu)
            throw std::length_error("text of " + std::to_string(s.size()) + " bytes on the wire");
        std::byte* p = room(4 + s.size());
        put32(p, static_cast<std::uint32_t>(s.size()));
        if (!s.empty())
            std::memcpy(p + 4, s.data(), s.size());
    }
    // Trims the buffer to what was written.
    void finish() { m_out.resize(written()); }
    std::size_t written() const { return static_cast<std::size_t>(m_p - m_out.data()); }

  private:
    // The next n bytes of the buffer, which grows to hold them when it is short.
    std::byte* room(std::size_t n) {
        std::byte* p = m_p;
        if (static_cast<std::size_t>(m_end - p) < n) [[unlikely]] {
            grow(n);
            p = m_p;
        }
        m_p = p + n;
        return p;
    }
    [[gnu::noinline]] void grow(std::size_t n) {
        const std::size_t used = written();
        m_out.resize(std::max(used + n, 2 * m_out.size()));
        m_p = m_out.data() + used;
        m_end = m_out.data() + m_out.size();
    }
    static void put32(std::byte* p, std::uint32_t v) {
        p[0] = static_cast<std::byte>(v);
        p[1] = static_cast<std::byte>(v >> 8);
        p[2] = static_cast<std::byte>(v >> 16);
        p[3] = static_cast<std::byte>(v >> 24);
    }

    std::vector<std::byte>& m_out;
    std::byte* m_p = nullptr;    // next byte to write
    std::byte* m_end = nullptr;  // end of the buffer
};

// Reads a body; every failure throws DecodeError naming the message, the byte offset and
// what was being read.
class Reader {
  public:
    Reader(std::span<const std::byte> body, const char* message)
        : m_data(body.data()), m_size(body.size()), m_message(message) {}

    std::size_t remaining() const { return m_size - m_pos; }
    std::size_t position() const { return m_pos; }

    [[noreturn]] void fail(const std::string& what) const { failAt(m_pos, what); }
    // Fails at the start of the item of `back` bytes just read.
    [[noreturn]] void failBefore(std::size_t back, const std::string& what) const {
        failAt(m_pos - back, what);
    }
    [[noreturn]] void failAt(std::size_t pos, const std::string& what) const;

    void need(std::size_t n, const char* what) const {
        if (remaining() < n)
            truncated(n, what);
    }
    void header(MessageType expected);
    std::uint8_t version() const { return m_version; }  // the header's, once read

    std::uint8_t u8(const char* what) {
        need(1, what);
        return static_cast<std::uint8_t>(m_data[m_pos++]);
    }
    std::uint32_t u32(const char* what) {
        need(4, what);
        const std::uint32_t v = rawU32();
        m_pos += 4;
        return v;
    }
    double f64(const char* what) {
        need(8, what);
        std::uint64_t bits = 0;
        for (int i = 7; i >= 0; --i)
            bits = bits << 8 | static_cast<std::uint8_t>(m_data[m_pos + i]);
        m_pos += 8;
        return std::bit_cast<double>(bits);
    }
    std::string text(const char* what) {
        const std::uint32_t len = u32(what);
        if (remaining() < len) {
            m_pos -= 4;
            truncated(std::size_t{4} + len, what);
        }
        std::string_view v(reinterpret_cast<const char*>(m_data + m_pos), len);
        if (!isUtf8(v))
            fail(std::string(what) + " is not valid UTF-8");
        m_pos += len;
        return std::string(v);
    }

    struct Cell {
        bool ok = true;
        bool isNull = false;
        std::string_view value;
        const char* problem = nullptr;
    };
    // One data packet cell; on a problem the position stays at the cell's start.
    Cell cell() {
        Cell c;
        if (remaining() < 4) {
            c.ok = false;
            c.problem = "truncated length";
            return c;
        }
        const std::uint32_t len = rawU32();
        if (len == kNullCell) {
            m_pos += 4;
            c.isNull = true;
            return c;
        }
        if (remaining() - 4 < len) {
            c.ok = false;
            c.problem = "truncated text";
            return c;
        }
        c.value = std::string_view(reinterpret_cast<const char*>(m_data + m_pos + 4), len);
        if (!isUtf8(c.value)) {
            c.ok = false;
            c.problem = "invalid UTF-8";
            return c;
        }
        m_pos += 4 + len;
        return c;
    }

    void end() const;

  private:
    std::uint32_t rawU32() const {
        const auto* p = m_data + m_pos;
        return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
               static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    }
    [[noreturn]] void truncated(std::size_t n, const char* what) const;

    const std::byte* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    const char* m_message;
    std::uint8_t m_version = 0;
};

}  // namespace rqc::protocol::wire
