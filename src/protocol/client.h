#pragma once
// Blocking client transport: one TCP (or TLS over TCP) connection to an application server,
// one call at a time. An answer's buffer grows with the bytes that arrive, never ahead of them
// with the length its header announces.

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>

#include "protocol.h"

namespace rqc::protocol {

// What went wrong with a connection, whatever the words of the technical text.
enum class TransportFault {
    Refused = 1,         // nothing listens at the address
    Unreachable,         // the address cannot be resolved or reached
    TimedOut,            // no answer within the limit
    Closed,              // the server closed or reset the connection
    CertificateRefused,  // the server's certificate does not chain to the CA or name the host
    Protocol,            // the answer is not the suite's protocol (or too large, or malformed)
    LoginRefused,        // the server refused the operator's login
};
const std::error_category& transportCategory() noexcept;
inline std::error_code make_error_code(TransportFault f) noexcept {
    return {static_cast<int>(f), transportCategory()};
}

// Connection-level failure; code() says its kind, what() the technical detail (English).
class TransportError : public std::runtime_error {
  public:
    TransportError(TransportFault fault, const std::string& what)
        : std::runtime_error(what), m_fault(fault) {}
    // Without a kind: the answer broke the protocol.
    explicit TransportError(const std::string& what)
        : TransportError(TransportFault::Protocol, what) {}
    TransportFault fault() const noexcept { return m_fault; }
    std::error_code code() const noexcept { return make_error_code(m_fault); }

  private:
    TransportFault m_fault;
};

// The server refused the login; the message is the server's, meant for the operator.
class LoginRefused : public TransportError {
  public:
    explicit LoginRefused(const std::string& what)
        : TransportError(TransportFault::LoginRefused, what) {}
};

// connect() refused, before any packet left, a host that is not this machine while no CA is
// set: the login would cross the network in the clear. The message is for the operator.
class PlainTcpRefused : public TransportError {
  public:
    using TransportError::TransportError;
};

// The most a login answer (the operator's code or a refusal) may take; a longer one is
// refused before it is read.
inline constexpr std::uint32_t kMaxLoginAnswer = 8 * 1024;

class Client {
  public:
    Client();
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Throws TransportError with host and port in the message when the server is unreachable,
    // PlainTcpRefused without a CA file when `host` resolves to any non-loopback address.
    void connect(const std::string& host, std::uint16_t port,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void close() noexcept;

    // Logs in on the open connection, which must not have made a call yet; returns the
    // operator code the server confirmed. Throws LoginRefused with the server's message when
    // refused (the connection is closed then), TransportError when the exchange fails.
    std::string login(const std::string& operatorCode, const std::string& password);
    // Who connect() logs in as right after connecting, so that every reconnect logs in again.
    // Initially nobody: an empty code connects without logging in.
    void setLogin(std::string operatorCode, std::string password);
    bool isOpen() const noexcept;
    // True when the open connection's peer has closed or reset it since the last exchange
    // (checked without waiting); false when it is closed here or still usable.
    bool peerClosed() const noexcept;

    // Sends the call and waits for its result (an Error result is returned, not thrown).
    // Throws TransportError when the exchange itself fails; the connection is closed then.
    // A request that fails validateCall throws std::invalid_argument and sends nothing.
    CallResult call(const CallRequest& request);

    void setMaxFrame(std::uint32_t bytes) { m_maxFrame = bytes; }
    // The most a call (sending it and reading all of its answer) may take; past it the call
    // throws TransportError (TimedOut) and the connection is closed. Applies at once to an
    // open connection.
    void setIoTimeout(std::chrono::milliseconds timeout);

    // TLS for the connections that follow: the server's certificate must chain to a
    // certificate in `caFile` (PEM) and name `serverName` (a DNS name or an IP address; empty:
    // the host given to connect). It is also sent as SNI. An empty caFile: plain TCP.
    struct TlsSettings {
        std::string caFile;
        std::string serverName;
    };
    void setTls(TlsSettings tls);

  private:
    struct Impl;
    // The text of an answer of `length` bytes over the `limit` its exchange allows.
    using OverLimitText = std::string (*)(const std::string& endpoint, std::uint32_t length,
                                          std::uint32_t limit);
    // Sends one frame and reads the answer to it, named `answer` in errors. An answer over
    // `maxAnswer` or one that does not decode closes the connection: TransportError.
    CallResult exchange(const std::vector<std::byte>& body, std::uint32_t maxAnswer,
                        const std::string& answer, OverLimitText overLimit);
    // Throws TransportError (Closed) unless connected.
    void requireOpen() const;

    std::unique_ptr<Impl> m_impl;
    std::uint32_t m_maxFrame = kDefaultMaxFrame;
    std::chrono::milliseconds m_ioTimeout = std::chrono::minutes(10);
    TlsSettings m_tls;
    std::string m_loginCode;
    std::string m_loginPassword;
};

}  // namespace rqc::protocol
