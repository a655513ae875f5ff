#pragma once
// Blocking client transport: one TCP connection to an application server, one call at a time.

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

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::uint32_t m_maxFrame = kDefaultMaxFrame;
    std::chrono::milliseconds m_ioTimeout = std::chrono::minutes(10);
};

}  // namespace rqc::protocol
