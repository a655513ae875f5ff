#include "client.h"

#include <array>
#include <asio.hpp>

namespace rqc::protocol {

struct Client::Impl {
    asio::io_context io;
    asio::ip::tcp::socket socket{io};
    std::string endpoint;  // "host:port" for messages

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

    void fail(const std::string& what, const std::error_code& ec) {
        std::error_code ignored;
        socket.close(ignored);
        throw TransportError(what + " " + endpoint + ": " + ec.message());
    }

    void readExact(void* data, std::size_t n, std::chrono::milliseconds timeout, const char* what) {
        bool done = false;
        std::error_code result;
        asio::async_read(socket, asio::buffer(data, n),
                         [&](const std::error_code& ec, std::size_t) {
                             result = ec;
                             done = true;
                         });
        runFor(timeout, done);
        if (result == asio::error::eof) {
            std::error_code ignored;
            socket.close(ignored);
            throw TransportError(std::string("connection closed by ") + endpoint + " while " +
                                 what);
        }
        if (result)
            fail(std::string("failed ") + what + " from", result);
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
}

void Client::close() noexcept {
    if (!m_impl || !m_impl->socket.is_open())
        return;
    std::error_code ignored;
    m_impl->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    m_impl->socket.close(ignored);
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

    bool done = false;
    std::error_code result;
    const std::array<asio::const_buffer, 2> frame{asio::buffer(header), asio::buffer(body)};
    asio::async_write(s.socket, frame, [&](const std::error_code& ec, std::size_t) {
        result = ec;
        done = true;
    });
    s.runFor(m_ioTimeout, done);
    if (result)
        s.fail("failed sending to", result);

    std::array<std::byte, kFrameHeaderSize> head{};
    s.readExact(head.data(), head.size(), m_ioTimeout, "reading the answer");
    const std::uint32_t length = frameLength(head);
    if (length > m_maxFrame) {
        close();
        throw TransportError("answer from " + s.endpoint + " is " + std::to_string(length) +
                             " bytes, over the frame limit of " + std::to_string(m_maxFrame));
    }
    std::vector<std::byte> answer(length);
    if (length > 0)
        s.readExact(answer.data(), length, m_ioTimeout, "reading the answer");
    try {
        return decodeResult(answer);
    } catch (const DecodeError& e) {
        close();
        throw TransportError("bad answer from " + s.endpoint + ": " + e.what());
    }
}

}  // namespace rqc::protocol
