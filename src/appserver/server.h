#pragma once
// The network side of rqc-appserver: a listener on its own thread, its sessions on a few io
// threads, and a pool of threads running the calls, each with its own database connection.
// An io thread never waits for a call: calls are posted to the pool and answered from there.

#include <chrono>
#include <cstdint>
#include <functional>
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
    // Thread-safe: true when every io thread runs a posted task within `limit` (the liveness
    // answer): false when one is stuck or the server is stopping.
    bool responsive(std::chrono::milliseconds limit) const;
    // Runs once run() accepts connections and handles SIGTERM/SIGINT, on run()'s thread.
    void onStarted(std::function<void()> hook);
    // Runs once, on the first stop (stop() or a signal), before anything closes.
    void onStopping(std::function<void()> hook);

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace rqc::appserver
