#pragma once
// What the server knows of one client connection, kept by its session for as long as it is
// open and handed to every frame of it.

#include <fmt/format.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rqc::appserver {

// Where a connection comes from: the client machine's address, which login attempts and
// connection caps count by, and the "address:port" the logs show ("[v6]:port" for IPv6).
class ClientAddress {
  public:
    ClientAddress() = default;
    // `port` 0: not known, and the text is the address alone.
    ClientAddress(std::string address, std::uint16_t port) : m_address(std::move(address)) {
        if (port == 0)
            m_text = m_address;
        else if (m_address.find(':') == std::string::npos)
            m_text = m_address + ":" + std::to_string(port);
        else
            m_text = "[" + m_address + "]:" + std::to_string(port);
    }

    const std::string& address() const { return m_address; }
    const std::string& text() const { return m_text; }

  private:
    std::string m_address;
    std::string m_text;
};

struct ConnectionState {
    ClientAddress peer;
    std::string operatorCode;  // the logged-in operator; empty until the connection has logged in
    std::vector<std::string> objects;  // remote objects the operator may call, read at the login
    bool closeAfterAnswer = false;     // set by the frame handler: close once the answer is sent
};

}  // namespace rqc::appserver

template <>
struct fmt::formatter<rqc::appserver::ClientAddress> : fmt::formatter<std::string_view> {
    auto format(const rqc::appserver::ClientAddress& a, fmt::format_context& ctx) const {
        return fmt::formatter<std::string_view>::format(a.text(), ctx);
    }
};
