#include "client.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <array>
#include <asio.hpp>
#include <cerrno>
#include <cstring>

namespace rqc::protocol {

struct Client::Impl {
    asio::io_context io;
    asio::ip::tcp::socket socket{io};
    std::string endpoint;  // "host:port" for messages
    // Bytes received but not consumed yet: a small answer arrives with one recv.
    std::vector<std::byte> inbox = std::vector<std::byte>(64 * 1024);
    std::size_t inStart = 0;
    std::size_t inEnd = 0;
    std::chrono::milliseconds ioTimeout{0};

    // Runs the io_context until the started operation completes or the timeout passes;
    // on timeout the socket is closed and the aborted operation drained.
    void runFor(std::chrono::milliseconds timeout, const bool& done) {
        io.restart();
        io.run_for(timeout);
        if (!done) {
            std::error_code ignored;
            socket.close(ignored);
            io.restart();
            io.run();
            throw TransportError("timed out after " + std::to_string(timeout.count()) +
                                 " ms talking to " + endpoint);
        }
    }

    [[noreturn]] void fail(const std::string& what, int err) {
        std::error_code ignored;
        socket.close(ignored);
        if (err == EAGAIN || err == EWOULDBLOCK) {
            throw TransportError("timed out after " + std::to_string(ioTimeout.count()) + " ms " +
                                 what + " " + endpoint);
        }
        throw TransportError("failed " + what + " " + endpoint + ": " +
                             std::error_code(err, std::generic_category()).message());
    }

    // Exchanges use the blocking socket directly (one send, usually one recv per call) with
    // kernel timeouts; asio is used only to connect with a timeout.
    void setBlockingWithTimeout(std::chrono::milliseconds timeout) {
        ioTimeout = timeout;
        std::error_code ec;
        socket.native_non_blocking(false, ec);
        timeval tv{};
        tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
        tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
        ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    }

    void sendAll(const std::vector<std::byte>& header, const std::vector<std::byte>& body) {
        iovec parts[2] = {{const_cast<std::byte*>(header.data()), header.size()},
                          {const_cast<std::byte*>(body.data()), body.size()}};
        iovec* iov = parts;
        int count = 2;
        while (count > 0) {
            msghdr msg{};
            msg.msg_iov = iov;
            msg.msg_iovlen = static_cast<std::size_t>(count);
            ssize_t n = ::sendmsg(socket.native_handle(), &msg, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                fail("sending to", errno);
            }
            auto left = static_cast<std::size_t>(n);
            while (count > 0 && left >= iov->iov_len) {
                left -= iov->iov_len;
                ++iov;
                --count;
            }
            if (count > 0) {
                iov->iov_base = static_cast<char*>(iov->iov_base) + left;
                iov->iov_len -= left;
            }
        }
    }

    // Reads up to n bytes straight into dst (when dst is null, into the inbox).
    std::size_t receive(void* dst, std::size_t n, const char* what) {
        while (true) {
            ssize_t got = ::recv(socket.native_handle(), dst, n, 0);
            if (got > 0)
                return static_cast<std::size_t>(got);
            if (got == 0) {
                std::error_code ignored;
                socket.close(ignored);
                throw TransportError(std::string("connection closed by ") + endpoint + " while " +
                                     what);
            }
            if (errno == EINTR)
                continue;
            fail(what + std::string(" from"), errno);
        }
    }

    void readExact(void* data, std::size_t n, const char* what) {
        auto* out = static_cast<std::byte*>(data);
        std::size_t buffered = std::min(n, inEnd - inStart);
        std::memcpy(out, inbox.data() + inStart, buffered);
        inStart += buffered;
        out += buffered;
        n -= buffered;
        if (n >= inbox.size()) {
            // Large bodies go straight to their destination.
            while (n > 0) {
                std::size_t got = receive(out, n, what);
                out += got;
                n -= got;
            }
            return;
        }
        while (n > 0) {
            inStart = 0;
            inEnd = receive(inbox.data(), inbox.size(), what);
            std::size_t take = std::min(n, inEnd);
            std::memcpy(out, inbox.data(), take);
            inStart = take;
            out += take;
            n -= take;
        }
    }
};

Client::Client() : m_impl(std::make_unique<Impl>()) {}
Client::~Client() {
    close();
}

void Client::connect(const std::string& host, std::uint16_t port,
                     std::chrono::milliseconds timeout) {
    close();
    auto& s = *m_impl;
    s.endpoint = host + ":" + std::to_string(port);
    asio::ip::tcp::resolver resolver(s.io);
    std::error_code ec;
    auto endpoints =
        resolver.resolve(host, std::to_string(port), asio::ip::resolver_base::numeric_service, ec);
    if (ec)
        throw TransportError("cannot resolve " + s.endpoint + ": " + ec.message());

    bool done = false;
    std::error_code result;
    asio::async_connect(s.socket, endpoints,
                        [&](const std::error_code& e, const asio::ip::tcp::endpoint&) {
                            result = e;
                            done = true;
                        });
    try {
        s.runFor(timeout, done);
    } catch (const TransportError&) {
        throw TransportError("cannot connect to " + s.endpoint + ": timed out after " +
                             std::to_string(timeout.count()) + " ms");
    }
    if (result) {
        std::error_code ignored;
        s.socket.close(ignored);
        throw TransportError("cannot connect to " + s.endpoint + ": " + result.message());
    }
    s.socket.set_option(asio::ip::tcp::no_delay(true), ec);
    s.setBlockingWithTimeout(m_ioTimeout);
    s.inStart = s.inEnd = 0;
}

void Client::close() noexcept {
    if (!m_impl || !m_impl->socket.is_open())
        return;
    std::error_code ignored;
    m_impl->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    m_impl->socket.close(ignored);
    m_impl->inStart = m_impl->inEnd = 0;
}

void Client::setIoTimeout(std::chrono::milliseconds timeout) {
    m_ioTimeout = timeout;
    if (isOpen())
        m_impl->setBlockingWithTimeout(timeout);
}

bool Client::isOpen() const noexcept {
    return m_impl && m_impl->socket.is_open();
}

CallResult Client::call(const CallRequest& request) {
    if (std::string problem = validateCall(request); !problem.empty()) {
        throw std::invalid_argument("invalid call of " + request.descriptor.method + ": " +
                                    problem);
    }
    auto& s = *m_impl;
    if (!s.socket.is_open()) {
        throw TransportError("not connected" +
                             (s.endpoint.empty() ? std::string() : " to " + s.endpoint));
    }
    const std::vector<std::byte> body = encodeCall(request);
    if (body.size() > m_maxFrame) {
        throw std::invalid_argument(
            "call of " + request.descriptor.method + " is " + std::to_string(body.size()) +
            " bytes, over the frame limit of " + std::to_string(m_maxFrame));
    }
    std::vector<std::byte> header;
    appendFrameHeader(header, static_cast<std::uint32_t>(body.size()));

    s.sendAll(header, body);

    std::array<std::byte, kFrameHeaderSize> head{};
    s.readExact(head.data(), head.size(), "reading the answer");
    const std::uint32_t length = frameLength(head);
    if (length > m_maxFrame) {
        close();
        throw TransportError("answer from " + s.endpoint + " is " + std::to_string(length) +
                             " bytes, over the frame limit of " + std::to_string(m_maxFrame));
    }
    std::vector<std::byte> answer(length);
    if (length > 0)
        s.readExact(answer.data(), length, "reading the answer");
    try {
        return decodeResult(answer);
    } catch (const DecodeError& e) {
        close();
        throw TransportError("bad answer from " + s.endpoint + ": " + e.what());
    }
}

}  // namespace rqc::protocol
