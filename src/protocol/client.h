#pragma once
// Blocking client transport: one TCP (or TLS over TCP) connection to an application server,
// one call at a time. An answer's buffer grows with the bytes that arrive, never ahead of them
// with the length its header announces.

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include "protocol.h"

namespace rqc::protocol {

// Connection-level failure (cannot connect, connection lost, timeout, malformed answer).
class TransportError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The server refused the login; the message is the server's, meant for the operator.
class LoginRefused : public TransportError {
  public:
    using TransportError::TransportError;
};

class Client {
  public:
    Client();
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Throws TransportError with host and port in the message when the server is unreachable.
    void connect(const std::string& host, std::uint16_t port,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void close() noexcept;

    // Logs in on the open connection, which must not have made a call yet; returns the
    // operator code the server confirmed. Throws LoginRefused with the server's message when
    // refused (the connection is closed then), TransportError when the exchange fails.
    std::string login(const std::string& operatorCode, const std::string& password);
    // Who connect() logs in as right after connecting, so that every reconnect logs in again.
    // Initially RQC_OPERATOR and RQC_PASSWORD of the environment when both are set; an empty
    // code connects without logging in.
    void setLogin(std::string operatorCode, std::string password);
    bool isOpen() const noexcept;

    // Sends the call and waits for its result (an Error result is returned, not thrown).
    // Throws TransportError when the exchange itself fails; the connection is closed then.
    // A request that fails validateCall throws std::invalid_argument and sends nothing.
    CallResult call(const CallRequest& request);

    void setMaxFrame(std::uint32_t bytes) { m_maxFrame = bytes; }
    // Bound on sending a call and on waiting for its answer; past it the call throws
    // TransportError and the connection is closed.
    // Limit for each send and receive of a call; applies at once to an open connection.
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
    std::unique_ptr<Impl> m_impl;
    std::uint32_t m_maxFrame = kDefaultMaxFrame;
    std::chrono::milliseconds m_ioTimeout = std::chrono::minutes(10);
    TlsSettings m_tls;
    std::string m_loginCode;
    std::string m_loginPassword;
};

}  // namespace rqc::protocol
