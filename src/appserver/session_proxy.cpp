// The PROXY v2 header of a connection from a trusted balancer, read before anything else and
// naming the client every count and log line then uses; and a header from any other address,
// refused rather than taken for a frame or a TLS hello.

#include <spdlog/spdlog.h>

#include <asio/read.hpp>

#include "admission.h"
#include "error_text.h"
#include "session.h"

namespace rqc::appserver {

void Session::readProxyHeader() {
    m_in.resize(kProxyFixedSize);
    m_reading = true;
    arm(m_context.limits.readTimeout, "PROXY header not complete");
    asio::async_read(
        socket(), asio::buffer(m_in.data(), kProxyFixedSize),
        [self = shared_from_this()](const std::error_code& ec, std::size_t n) {
            self->m_reading = false;
            if (self->m_closed)
                return;
            if (ec) {
                // A balancer's health probe connects and closes without a byte.
                if (n == 0 && ec == asio::error::eof) {
                    spdlog::debug("connection {} closed before its PROXY header",
                                  self->m_state.peer);
                } else {
                    self->warn(
                        fmt::format("connection {} from a trusted balancer closed: no PROXY "
                                    "header ({} bytes)",
                                    self->m_state.peer, n));
                }
                self->close();
                return;
            }
            const auto size = proxyHeaderSize(self->m_in);
            if (!size) {
                self->warn(
                    fmt::format("connection {} refused: a trusted balancer's connection "
                                "without a PROXY v2 header",
                                self->m_state.peer));
                self->close();
                return;
            }
            self->m_in.resize(*size);
            if (*size == kProxyFixedSize) {
                self->onProxyHeader(*size);
                return;
            }
            self->m_reading = true;
            asio::async_read(
                self->socket(),
                asio::buffer(self->m_in.data() + kProxyFixedSize, *size - kProxyFixedSize),
                [self, size = *size](const std::error_code& ec2, std::size_t) {
                    self->m_reading = false;
                    if (self->m_closed)
                        return;
                    if (ec2) {
                        self->warn(
                            fmt::format("connection {}: PROXY header cut "
                                        "short: {}",
                                        self->m_state.peer, ec2.message()));
                        self->close();
                        return;
                    }
                    self->onProxyHeader(size);
                });
        });
}

void Session::onProxyHeader(std::size_t size) {
    disarm();
    std::string fault;
    const auto header = parseProxyHeader(std::span<const std::byte>(m_in.data(), size), fault);
    if (!header) {
        warn(fmt::format("connection {} refused: {}", m_state.peer, fault));
        close();
        return;
    }
    if (header->address) {
        const ClientAddress balancer = m_state.peer;
        m_state.peer = ClientAddress(header->address->to_string(), header->port);
        spdlog::debug("connection {} through balancer {}", m_state.peer, balancer);
    }
    m_in.clear();
    admit();
    m_sessions.heardFrom(this);
}

// A PROXY header from an address that is not a trusted balancer is refused, not taken for a
// frame or a TLS hello.
void Session::checkForStrayHeader() {
    if (!m_context.trustedProxies.contains(m_socketAddress) || m_socketAddress.is_unspecified()) {
        m_reading = true;
        m_waitingForFrame = true;
        arm(m_context.limits.idleTimeout, "idle");
        socket().async_wait(
            asio::socket_base::wait_read, [self = shared_from_this()](const std::error_code& ec) {
                self->m_reading = false;
                self->m_waitingForFrame = false;
                self->disarm();
                if (self->m_closed)
                    return;
                if (!self->m_evictedWith.empty()) {
                    self->refuse(self->m_evictedWith);
                    return;
                }
                if (ec || self->m_stopping) {
                    self->close();
                    return;
                }
                self->m_sessions.heardFrom(self.get());
                std::byte first[kProxySignatureSize];
                const ssize_t n = ::recv(self->socket().native_handle(), first, sizeof first,
                                         MSG_PEEK | MSG_DONTWAIT);
                if (n > 0 && startsLikeProxyHeader(
                                 std::span<const std::byte>(first, static_cast<std::size_t>(n)))) {
                    self->warn(
                        fmt::format("connection {} refused: a PROXY header from an address "
                                    "that is not among the trusted proxies",
                                    self->m_state.peer));
                    self->close();
                    return;
                }
                self->handshake();
            });
        return;
    }
    handshake();
}

}  // namespace rqc::appserver
