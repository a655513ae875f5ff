#pragma once
// The network side of rqc-appserver: a listener on its own thread, its sessions, and a pool of
// worker threads, each running its own io_context with its own database connection. Every
// connection is assigned to one worker in turn; its calls are read, run and answered there.

#include <cstdint>
#include <memory>

#include "server_config.h"

namespace rqc::appserver {

class Dispatcher;

class Server {
  public:
    // Loads the TLS certificate and binds the listening socket; throws std::runtime_error
    // naming the file or the address on failure, and for plain TCP on a non-loopback address.
    Server(const ServerConfig& config, const Dispatcher& dispatcher);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    std::uint16_t port() const;
    // Serves until stop() or SIGTERM/SIGINT; returns true once every session has closed and
    // every worker thread has ended. Connections still open stopTimeout after the stop are
    // closed; false when a call still runs even then (its thread is left behind: exit soon).
    bool run();
    // Thread-safe: stops accepting, lets calls under way finish and answer, closes sessions.
    void stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace rqc::appserver
