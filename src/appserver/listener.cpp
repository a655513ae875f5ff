#include "listener.h"

#include <spdlog/spdlog.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <asio/post.hpp>
#include <cerrno>
#include <chrono>

namespace rqc::appserver {

Listener::Listener(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint,
                   ContextPicker pick, AcceptHandler onAccept)
    : m_pick(std::move(pick)),
      m_strand(asio::make_strand(io)),
      m_acceptor(m_strand),
      m_retry(m_strand),
      m_onAccept(std::move(onAccept)) {
    m_acceptor.open(endpoint.protocol());
    m_acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true));
    m_acceptor.bind(endpoint);
    m_acceptor.listen(asio::socket_base::max_listen_connections);
    m_reserve = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

Listener::~Listener() {
    if (m_reserve >= 0)
        ::close(m_reserve);
}

void Listener::start() {
    asio::post(m_strand, [this] { accept(); });
}

void Listener::close(std::function<void()> then) {
    asio::post(m_strand, [this, then = std::move(then)] {
        m_closed = true;
        std::error_code ec;
        m_acceptor.close(ec);
        m_retry.cancel();
        if (then)
            then();
    });
}

void Listener::accept() {
    if (m_closed)
        return;
    m_acceptor.async_accept(
        m_pick(), [this](const std::error_code& ec, asio::ip::tcp::socket socket) {
            if (m_closed || ec == asio::error::operation_aborted)
                return;
            if (ec == asio::error::no_descriptors || ec.value() == ENFILE) {
                spdlog::warn(
                    "accepting a connection failed: {}; dropping one waiting "
                    "connection and pausing accepts",
                    ec.message());
                dropOneWaiting();
                retryLater();
                return;
            }
            if (ec) {
                spdlog::warn("accepting a connection failed: {}; retrying", ec.message());
                retryLater();
                return;
            }
            std::error_code optEc;
            socket.set_option(asio::ip::tcp::no_delay(true), optEc);
            m_onAccept(std::move(socket));
            accept();
        });
}

void Listener::retryLater() {
    m_retry.expires_after(std::chrono::milliseconds(100));
    m_retry.async_wait([this](const std::error_code& waitEc) {
        if (!waitEc)
            accept();
    });
}

void Listener::dropOneWaiting() {
    if (m_reserve < 0)
        return;
    ::close(m_reserve);
    const int fd =
        ::accept4(m_acceptor.native_handle(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0)
        ::close(fd);
    m_reserve = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

}  // namespace rqc::appserver
