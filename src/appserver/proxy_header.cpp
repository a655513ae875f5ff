#include "proxy_header.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <stdexcept>

namespace rqc::appserver {

namespace {

constexpr unsigned char kSignature[kProxySignatureSize] = {0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D,
                                                           0x0A, 0x51, 0x55, 0x49, 0x54, 0x0A};

unsigned at(std::span<const std::byte> b, std::size_t i) {
    return std::to_integer<unsigned>(b[i]);
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::vector<unsigned char> bytesOf(const asio::ip::address& a) {
    if (a.is_v4()) {
        const auto b = a.to_v4().to_bytes();
        return {b.begin(), b.end()};
    }
    const auto v6 = a.to_v6();
    if (v6.is_v4_mapped()) {
        const auto b = asio::ip::make_address_v4(asio::ip::v4_mapped, v6).to_bytes();
        return {b.begin(), b.end()};
    }
    const auto b = v6.to_bytes();
    return {b.begin(), b.end()};
}

}  // namespace

bool startsLikeProxyHeader(std::span<const std::byte> bytes) {
    const std::size_t n = std::min(bytes.size(), kProxySignatureSize);
    return n > 0 && std::memcmp(bytes.data(), kSignature, n) == 0;
}

std::optional<std::size_t> proxyHeaderSize(std::span<const std::byte> fixed) {
    if (fixed.size() < kProxyFixedSize || !startsLikeProxyHeader(fixed.first(kProxySignatureSize)))
        return std::nullopt;
    if ((at(fixed, 12) >> 4) != 2)
        return std::nullopt;
    const std::size_t size = kProxyFixedSize + (at(fixed, 14) << 8 | at(fixed, 15));
    if (size > kMaxProxyHeader)
        return std::nullopt;
    return size;
}

std::optional<ProxyHeader> parseProxyHeader(std::span<const std::byte> bytes, std::string& fault) {
    const auto size = proxyHeaderSize(bytes);
    if (!size) {
        fault = "not a PROXY protocol version 2 header";
        return std::nullopt;
    }
    if (bytes.size() < *size) {
        fault = "PROXY header shorter than it announces";
        return std::nullopt;
    }
    ProxyHeader h;
    h.size = *size;
    const unsigned command = at(bytes, 12) & 0x0F;
    if (command == 0)  // LOCAL: the balancer's own connection
        return h;
    if (command != 1) {
        fault = "PROXY header with unknown command " + std::to_string(command);
        return std::nullopt;
    }
    const unsigned family = at(bytes, 13) >> 4;
    const unsigned transport = at(bytes, 13) & 0x0F;
    const std::size_t body = *size - kProxyFixedSize;
    const auto addresses = bytes.subspan(kProxyFixedSize);
    if (transport != 1 || (family != 1 && family != 2))
        return h;  // not TCP over IP: the connection is taken as the balancer's own
    const std::size_t width = family == 1 ? 4 : 16;
    if (body < 2 * width + 4) {
        fault = "PROXY header too short for its addresses";
        return std::nullopt;
    }
    if (family == 1) {
        asio::ip::address_v4::bytes_type a;
        std::memcpy(a.data(), addresses.data(), 4);
        h.address = asio::ip::address_v4(a);
    } else {
        asio::ip::address_v6::bytes_type a;
        std::memcpy(a.data(), addresses.data(), 16);
        h.address = asio::ip::address_v6(a);
    }
    h.port =
        static_cast<std::uint16_t>(at(addresses, 2 * width) << 8 | at(addresses, 2 * width + 1));
    return h;
}

TrustedProxies TrustedProxies::parse(std::string_view list) {
    TrustedProxies out;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string_view entry = trim(list.substr(start, comma - start));
        start = comma + 1;
        if (entry.empty()) {
            if (comma == list.size() && out.m_ranges.empty() && trim(list).empty())
                break;
            throw std::invalid_argument("empty entry in '" + std::string(list) + "'");
        }
        const std::size_t slash = entry.find('/');
        asio::error_code ec;
        const auto address = asio::ip::make_address(std::string(entry.substr(0, slash)), ec);
        if (ec)
            throw std::invalid_argument("'" + std::string(entry) + "' is not an IP address");
        Range r{bytesOf(address), 0};
        r.prefix = static_cast<unsigned>(r.bytes.size() * 8);
        if (slash != std::string_view::npos) {
            const std::string_view bits = entry.substr(slash + 1);
            unsigned prefix = 0;
            auto [end, e] = std::from_chars(bits.data(), bits.data() + bits.size(), prefix);
            if (e != std::errc() || end != bits.data() + bits.size() || bits.empty() ||
                prefix > r.prefix) {
                throw std::invalid_argument("'" + std::string(entry) +
                                            "' has no valid prefix length");
            }
            r.prefix = prefix;
        }
        out.m_ranges.push_back(std::move(r));
        if (comma == list.size())
            break;
    }
    out.m_text = std::string(trim(list));
    return out;
}

bool TrustedProxies::contains(const asio::ip::address& peer) const {
    const std::vector<unsigned char> b = bytesOf(peer);
    for (const Range& r : m_ranges) {
        if (r.bytes.size() != b.size())
            continue;
        const unsigned whole = r.prefix / 8;
        const unsigned rest = r.prefix % 8;
        if (!std::equal(b.begin(), b.begin() + whole, r.bytes.begin()))
            continue;
        if (rest != 0) {
            const unsigned mask = (0xFFu << (8 - rest)) & 0xFFu;
            if ((b[whole] & mask) != (r.bytes[whole] & mask))
                continue;
        }
        return true;
    }
    return false;
}

}  // namespace rqc::appserver
