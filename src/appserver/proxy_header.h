#pragma once
// The PROXY protocol version 2 header a TCP balancer puts before a connection's own bytes to
// name the client it comes from, and the balancers whose headers are believed.

#include <asio/ip/address.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace rqc::appserver {

inline constexpr std::size_t kProxySignatureSize = 12;
inline constexpr std::size_t kProxyFixedSize = 16;  // signature, command, family, length
inline constexpr std::size_t kMaxProxyHeader = 4096;

struct ProxyHeader {
    std::size_t size = 0;  // bytes the header takes, fixed part included
    // The client's address and port; empty for a LOCAL header (the balancer's own probe) or
    // an address family other than TCP over IPv4/IPv6.
    std::optional<asio::ip::address> address;
    std::uint16_t port = 0;
};

// True when `bytes` (any length) could begin a PROXY v2 header.
bool startsLikeProxyHeader(std::span<const std::byte> bytes);
// Total header size announced by the first kProxyFixedSize bytes; nullopt when they are not
// a version 2 header or announce more than kMaxProxyHeader.
std::optional<std::size_t> proxyHeaderSize(std::span<const std::byte> fixed);
// Parses a whole header; nullopt (with `fault` saying why) when it is malformed.
std::optional<ProxyHeader> parseProxyHeader(std::span<const std::byte> bytes, std::string& fault);

// Addresses and networks ("10.0.0.0/24", "127.0.0.1", "::1") whose connections start with a
// PROXY header. An IPv4-mapped IPv6 peer matches its IPv4 form.
class TrustedProxies {
  public:
    // Parses a comma-separated list; throws std::invalid_argument naming the bad entry.
    static TrustedProxies parse(std::string_view list);
    bool contains(const asio::ip::address& peer) const;
    bool empty() const { return m_ranges.empty(); }
    const std::string& text() const { return m_text; }

  private:
    struct Range {
        std::vector<unsigned char> bytes;
        unsigned prefix = 0;
    };
    std::vector<Range> m_ranges;
    std::string m_text;
};

}  // namespace rqc::appserver
