#pragma once
// Accepts connections on one endpoint and hands each socket (TCP_NODELAY set, created on the
// io_context the picker names) to the accept handler. Accept failures are logged and retried
// shortly after; when descriptors run out, a reserve descriptor is given up to take one
// waiting connection off the queue and close it, so that the loop backs off instead of
// spinning on a connection it cannot accept.

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>

#include <functional>

namespace rqc::appserver {

class Listener {
  public:
    using AcceptHandler = std::function<void(asio::ip::tcp::socket)>;
    using ContextPicker = std::function<asio::io_context&()>;

    // Binds and listens on `io`; throws std::system_error when the endpoint cannot be used.
    Listener(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint, ContextPicker pick,
             AcceptHandler onAccept);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    asio::ip::tcp::endpoint endpoint() const { return m_acceptor.local_endpoint(); }
    void start();
    // Thread-safe: stops accepting and closes the listening socket; `then` runs afterwards
    // on the listener's strand, once no further connection can be handed over.
    void close(std::function<void()> then);

  private:
    void accept();
    void retryLater();
    void dropOneWaiting();

    ContextPicker m_pick;
    asio::strand<asio::io_context::executor_type> m_strand;
    asio::ip::tcp::acceptor m_acceptor;
    asio::steady_timer m_retry;
    AcceptHandler m_onAccept;
    bool m_closed = false;
    int m_reserve = -1;  // a spare descriptor, given up when descriptors run out
};

}  // namespace rqc::appserver
