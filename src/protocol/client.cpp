#include "client.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <array>
#include <asio.hpp>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace rqc::protocol {

namespace {

struct SslCtxFree {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
struct SslFree {
    void operator()(SSL* s) const { SSL_free(s); }
};

std::string sslErrors() {
    std::string out;
    while (unsigned long e = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        out += out.empty() ? buf : std::string("; ") + buf;
    }
    return out.empty() ? "unknown TLS error" : out;
}

TransportFault faultOfErrno(int err) {
    switch (err) {
        case ECONNREFUSED:
            return TransportFault::Refused;
        case ENETUNREACH:
        case EHOSTUNREACH:
        case ENETDOWN:
        case EHOSTDOWN:
        case EADDRNOTAVAIL:
            return TransportFault::Unreachable;
        case ETIMEDOUT:
        case EAGAIN:
            return TransportFault::TimedOut;
        default:
            return TransportFault::Closed;
    }
}

class TransportCategory final : public std::error_category {
  public:
    const char* name() const noexcept override { return "rqc.transport"; }
    std::string message(int value) const override {
        switch (static_cast<TransportFault>(value)) {
            case TransportFault::Refused:
                return "connection refused";
            case TransportFault::Unreachable:
                return "server unreachable";
            case TransportFault::TimedOut:
                return "timed out";
            case TransportFault::Closed:
                return "connection closed by the server";
            case TransportFault::CertificateRefused:
                return "server certificate refused";
            case TransportFault::Protocol:
                return "protocol error";
            case TransportFault::LoginRefused:
                return "login refused";
        }
        return "transport failure";
    }
};

// A loopback address, IPv4-mapped ones included: traffic to it never leaves this machine.
bool isThisMachine(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).is_loopback();
    return address.is_loopback();
}

std::string plainTcpRefusal(const std::string& host, const asio::ip::address& address) {
    const std::string shown =
        address.to_string() == host ? host : host + " (" + address.to_string() + ")";
    return "A conexão com o servidor de aplicação em " + shown +
           " não foi aberta: sem o certificado da autoridade certificadora (CA), a senha só "
           "pode seguir a um servidor nesta máquina (127.0.0.1 ou ::1). Informe o arquivo da CA "
           "em [Servidor] CertificadoCA na configuração da suíte (no rqc-call, --ca-file).";
}

}  // namespace

struct Client::Impl {
    asio::io_context io;
    asio::ip::tcp::socket socket{io};
    std::string endpoint;  // "host:port" for messages
    // Bytes received but not consumed yet: a small answer arrives with one recv.
    std::vector<std::byte> inbox = std::vector<std::byte>(64 * 1024);
    std::size_t inStart = 0;
    std::size_t inEnd = 0;
    std::chrono::milliseconds ioTimeout{0};
    // The end of the call under way: every send and receive of it waits only until then.
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    std::unique_ptr<SSL_CTX, SslCtxFree> tlsContext;  // built from tlsCaFile on first use
    std::string tlsCaFile;
    std::unique_ptr<SSL, SslFree> tls;  // the open connection's TLS state
    std::vector<std::byte> tlsOut;      // a frame in one piece, so that it fills whole records

    void dropTls() noexcept { tls.reset(); }

    SSL_CTX& contextFor(const std::string& caFile) {
        if (tlsContext && tlsCaFile == caFile)
            return *tlsContext;
        ERR_clear_error();
        std::unique_ptr<SSL_CTX, SslCtxFree> ctx(SSL_CTX_new(TLS_client_method()));
        if (!ctx)
            throw TransportError(TransportFault::CertificateRefused,
                                 "cannot set up TLS: " + sslErrors());
        SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
        SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
        if (SSL_CTX_load_verify_locations(ctx.get(), caFile.c_str(), nullptr) != 1) {
            throw TransportError(TransportFault::CertificateRefused,
                                 "cannot use the CA file '" + caFile + "': " + sslErrors());
        }
        tlsContext = std::move(ctx);
        tlsCaFile = caFile;
        return *tlsContext;
    }

    // TLS handshake on the connected socket, checking the certificate and its name.
    void handshake(const std::string& caFile, const std::string& name) {
        SSL_CTX& ctx = contextFor(caFile);
        ERR_clear_error();
        tls.reset(SSL_new(&ctx));
        if (!tls)
            throw TransportError(TransportFault::CertificateRefused,
                                 "cannot set up TLS: " + sslErrors());
        SSL_set_fd(tls.get(), socket.native_handle());
        asio::error_code ec;
        const bool isAddress = (asio::ip::make_address(name, ec), !ec);
        if (isAddress) {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(tls.get()), name.c_str());
        } else {
            SSL_set_tlsext_host_name(tls.get(), name.c_str());
            SSL_set1_host(tls.get(), name.c_str());
        }
        if (SSL_connect(tls.get()) == 1)
            return;
        const long verdict = SSL_get_verify_result(tls.get());
        const int err = errno;
        std::string why = verdict != X509_V_OK
                              ? std::string("the server's certificate is refused: ") +
                                    X509_verify_cert_error_string(verdict) + " (expected name " +
                                    name + ", CA file " + caFile + ")"
                              : sslErrors();
        TransportFault fault =
            verdict != X509_V_OK ? TransportFault::CertificateRefused : TransportFault::Protocol;
        if (why == "unknown TLS error" && (err == EAGAIN || err == EWOULDBLOCK)) {
            why = "timed out";
            fault = TransportFault::TimedOut;
        } else if (why == "unknown TLS error" || err == ECONNRESET || err == EPIPE) {
            fault = TransportFault::Closed;  // the peer hung up during the handshake
        }
        dropTls();
        std::error_code ignored;
        socket.close(ignored);
        throw TransportError(fault, "TLS handshake with " + endpoint + " failed: " + why);
    }

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
            throw TransportError(TransportFault::TimedOut, "timed out after " +
                                                               std::to_string(timeout.count()) +
                                                               " ms talking to " + endpoint);
        }
    }

    [[noreturn]] void fail(const std::string& what, int err) {
        dropTls();
        std::error_code ignored;
        socket.close(ignored);
        if (err == EAGAIN || err == EWOULDBLOCK) {
            throw TransportError(TransportFault::TimedOut, "timed out after " +
                                                               std::to_string(ioTimeout.count()) +
                                                               " ms " + what + " " + endpoint);
        }
        throw TransportError(faultOfErrno(err),
                             "failed " + what + " " + endpoint + ": " +
                                 std::error_code(err, std::generic_category()).message());
    }

    // The TLS handshake uses the blocking socket with kernel timeouts; exchanges then run on
    // the non-blocking socket, waiting in poll() for at most what is left of the call's time.
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

    void useDeadlines(std::chrono::milliseconds timeout) {
        ioTimeout = timeout;
        std::error_code ec;
        socket.native_non_blocking(true, ec);
    }

    // Waits until the socket is ready for `events` or the call's deadline has passed (then
    // fails as timed out).
    void waitFor(short events, const char* what) {
        while (true) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                fail(what, EAGAIN);
            pollfd p{socket.native_handle(), events, 0};
            const int rc =
                ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
            if (rc > 0)
                return;
            if (rc < 0 && errno != EINTR)
                fail(what, errno);
        }
    }

    void sendAll(const std::vector<std::byte>& header, const std::vector<std::byte>& body) {
        if (tls) {
            sendTls(header, body);
            return;
        }
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
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    waitFor(POLLOUT, "sending to");
                    continue;
                }
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

    void sendTls(const std::vector<std::byte>& header, const std::vector<std::byte>& body) {
        tlsOut.assign(header.begin(), header.end());
        tlsOut.insert(tlsOut.end(), body.begin(), body.end());
        std::size_t done = 0;
        while (done < tlsOut.size()) {
            const int chunk =
                static_cast<int>(std::min<std::size_t>(tlsOut.size() - done, 1 << 30));
            ERR_clear_error();
            errno = 0;
            const int n = SSL_write(tls.get(), tlsOut.data() + done, chunk);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (waitForTls(n, "sending to"))
                continue;
            tlsFailure(n, "sending to");
        }
        if (tlsOut.capacity() > inbox.size())
            tlsOut = {};
    }

    // After an SSL_read or SSL_write that returned `rc`: true once the socket is ready for
    // what TLS needs; false for a failure.
    bool waitForTls(int rc, const char* what) {
        const int kind = SSL_get_error(tls.get(), rc);
        if (kind == SSL_ERROR_WANT_READ) {
            waitFor(POLLIN, what);
            return true;
        }
        if (kind == SSL_ERROR_WANT_WRITE) {
            waitFor(POLLOUT, what);
            return true;
        }
        return false;
    }

    [[noreturn]] void tlsFailure(int rc, const char* what) {
        const int err = errno;
        const int kind = SSL_get_error(tls.get(), rc);
        if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE)
            fail(what, EAGAIN);
        if (kind == SSL_ERROR_ZERO_RETURN || (kind == SSL_ERROR_SYSCALL && err == 0) ||
            (kind == SSL_ERROR_SSL &&
             ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING)) {
            dropTls();
            std::error_code ignored;
            socket.close(ignored);
            throw TransportError(TransportFault::Closed,
                                 "connection closed by " + endpoint + " (" + what + ")");
        }
        if (kind == SSL_ERROR_SYSCALL)
            fail(what, err);
        const std::string detail = sslErrors();
        dropTls();
        std::error_code ignored;
        socket.close(ignored);
        throw TransportError(std::string("TLS failure ") + what + " " + endpoint + ": " + detail);
    }

    // Reads up to n bytes straight into dst (when dst is null, into the inbox).
    std::size_t receive(void* dst, std::size_t n, const char* what) {
        const std::string from = std::string(what) + " from";
        while (tls) {
            ERR_clear_error();
            errno = 0;
            const int got =
                SSL_read(tls.get(), dst, static_cast<int>(std::min<std::size_t>(n, 1 << 30)));
            if (got > 0)
                return static_cast<std::size_t>(got);
            if (!waitForTls(got, from.c_str()))
                tlsFailure(got, from.c_str());
        }
        while (true) {
            ssize_t got = ::recv(socket.native_handle(), dst, n, 0);
            if (got > 0)
                return static_cast<std::size_t>(got);
            if (got == 0) {
                std::error_code ignored;
                socket.close(ignored);
                throw TransportError(TransportFault::Closed, std::string("connection closed by ") +
                                                                 endpoint + " while " + what);
            }
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                waitFor(POLLIN, from.c_str());
                continue;
            }
            fail(from, errno);
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

    // A frame body of `length` bytes: the buffer at most doubles what has arrived so far.
    std::vector<std::byte> readBody(std::uint32_t length, const char* what) {
        std::vector<std::byte> body;
        while (body.size() < length) {
            const std::size_t at = body.size();
            const std::size_t step =
                std::min<std::size_t>(length - at, std::max<std::size_t>(at, inbox.size()));
            body.resize(at + step);
            readExact(body.data() + at, step, what);
        }
        return body;
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
        throw TransportError(TransportFault::Unreachable,
                             "cannot resolve " + s.endpoint + ": " + ec.message());
    if (m_tls.caFile.empty()) {
        for (const auto& entry : endpoints) {
            if (!isThisMachine(entry.endpoint().address()))
                throw PlainTcpRefused(plainTcpRefusal(host, entry.endpoint().address()));
        }
    }

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
        throw TransportError(TransportFault::TimedOut, "cannot connect to " + s.endpoint +
                                                           ": timed out after " +
                                                           std::to_string(timeout.count()) + " ms");
    }
    if (result) {
        std::error_code ignored;
        s.socket.close(ignored);
        throw TransportError(faultOfErrno(result.value()),
                             "cannot connect to " + s.endpoint + ": " + result.message());
    }
    s.socket.set_option(asio::ip::tcp::no_delay(true), ec);
    s.inStart = s.inEnd = 0;
    if (!m_tls.caFile.empty()) {
        s.setBlockingWithTimeout(timeout);
        s.handshake(m_tls.caFile, m_tls.serverName.empty() ? host : m_tls.serverName);
    }
    s.useDeadlines(m_ioTimeout);
    if (!m_loginCode.empty())
        login(m_loginCode, m_loginPassword);
}

void Client::setLogin(std::string operatorCode, std::string password) {
    m_loginCode = std::move(operatorCode);
    m_loginPassword = std::move(password);
}

void Client::requireOpen() const {
    const auto& s = *m_impl;
    if (!s.socket.is_open())
        throw TransportError(
            TransportFault::Closed,
            "not connected" + (s.endpoint.empty() ? std::string() : " to " + s.endpoint));
}

CallResult Client::exchange(const std::vector<std::byte>& body, std::uint32_t maxAnswer,
                            const std::string& answer, OverLimitText overLimit) {
    auto& s = *m_impl;
    // The timeout bounds the whole call, however slowly the server sends its answer.
    s.deadline = std::chrono::steady_clock::now() + m_ioTimeout;
    std::vector<std::byte> header;
    appendFrameHeader(header, static_cast<std::uint32_t>(body.size()));
    s.sendAll(header, body);
    const std::string reading = "reading the " + answer;
    std::array<std::byte, kFrameHeaderSize> head{};
    s.readExact(head.data(), head.size(), reading.c_str());
    const std::uint32_t length = frameLength(head);
    if (length > maxAnswer) {
        close();
        throw TransportError(overLimit(s.endpoint, length, maxAnswer));
    }
    const std::vector<std::byte> bytes = s.readBody(length, reading.c_str());
    try {
        return decodeResult(bytes);
    } catch (const DecodeError& e) {
        close();
        throw TransportError("bad " + answer + " from " + s.endpoint + ": " + e.what());
    }
}

std::string Client::login(const std::string& operatorCode, const std::string& password) {
    requireOpen();
    const CallResult result = exchange(
        encodeLogin({operatorCode, password}), kMaxLoginAnswer, "login answer",
        [](const std::string& endpoint, std::uint32_t length, std::uint32_t limit) {
            return "login answer from " + endpoint + " announces " + std::to_string(length) +
                   " bytes, over the " + std::to_string(limit) + " a login answer may take";
        });
    if (result.kind == CallResult::Kind::Error) {
        close();
        throw LoginRefused(result.text);
    }
    if (result.kind != CallResult::Kind::Text) {
        close();
        throw TransportError("bad login answer from " + m_impl->endpoint +
                             ": not the operator's code");
    }
    return result.text;
}

void Client::close() noexcept {
    if (!m_impl)
        return;
    m_impl->dropTls();
    if (!m_impl->socket.is_open())
        return;
    std::error_code ignored;
    m_impl->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    m_impl->socket.close(ignored);
    m_impl->inStart = m_impl->inEnd = 0;
}

void Client::setTls(TlsSettings tls) {
    m_tls = std::move(tls);
}

void Client::setIoTimeout(std::chrono::milliseconds timeout) {
    m_ioTimeout = timeout;
    if (isOpen())
        m_impl->useDeadlines(timeout);
}

bool Client::isOpen() const noexcept {
    return m_impl && m_impl->socket.is_open();
}

bool Client::peerClosed() const noexcept {
    if (!isOpen())
        return false;
    pollfd p{m_impl->socket.native_handle(), POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

const std::error_category& transportCategory() noexcept {
    static const TransportCategory category;
    return category;
}

CallResult Client::call(const CallRequest& request) {
    if (std::string problem = validateCall(request); !problem.empty()) {
        throw std::invalid_argument("invalid call of " + request.descriptor.method + ": " +
                                    problem);
    }
    requireOpen();
    const std::vector<std::byte> body = encodeCall(request);
    if (body.size() > m_maxFrame) {
        throw std::invalid_argument(
            "call of " + request.descriptor.method + " is " + std::to_string(body.size()) +
            " bytes, over the frame limit of " + std::to_string(m_maxFrame));
    }
    return exchange(body, m_maxFrame, "answer",
                    [](const std::string& endpoint, std::uint32_t length, std::uint32_t limit) {
                        return "answer from " + endpoint + " is " + std::to_string(length) +
                               " bytes, over the frame limit of " + std::to_string(limit);
                    });
}

}  // namespace rqc::protocol
