#include "server.h"

#include <spdlog/spdlog.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/address.hpp>
#include <asio/signal_set.hpp>
#include <atomic>
#include <csignal>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "dispatcher.h"
#include "listener.h"
#include "session.h"
#include "worker_connection.h"

namespace rqc::appserver {

namespace {

thread_local WorkerConnection* t_connection = nullptr;

using WorkGuard = asio::executor_work_guard<asio::io_context::executor_type>;

}  // namespace

// One io_context per worker thread: a connection is served by the one thread that owns it,
// so a call never changes threads between reading, running and answering. Accepting and
// signals have their own io_context on the calling thread, so that they are never held up by
// a call.
struct Server::Impl {
    Impl(const ServerConfig& c, const Dispatcher& d)
        : config(c),
          dispatcher(d),
          contexts(makeContexts(c.threads)),
          handler([this](std::span<const std::byte> body, const std::string& peer) {
              return dispatcher.handleFrame(body, *t_connection, peer);
          }),
          listener(
              control, endpoint(c),
              [this]() -> asio::io_context& { return *contexts[next++ % contexts.size()]; },
              [this](asio::ip::tcp::socket socket) {
                  std::make_shared<Session>(std::move(socket), handler, config.maxFrame, sessions)
                      ->start();
              }) {
        for (auto& io : contexts)
            guards.emplace_back(io->get_executor());
    }

    static std::vector<std::unique_ptr<asio::io_context>> makeContexts(unsigned n) {
        std::vector<std::unique_ptr<asio::io_context>> out;
        for (unsigned i = 0; i < n; ++i)
            out.push_back(std::make_unique<asio::io_context>(1));
        return out;
    }

    static asio::ip::tcp::endpoint endpoint(const ServerConfig& c) {
        return {asio::ip::make_address(c.host), c.port};
    }

    void work(asio::io_context& io) {
        WorkerConnection connection(config.db);
        t_connection = &connection;
        try {
            io.run();
        } catch (const std::exception& e) {
            spdlog::critical("worker thread stopped by an unexpected error: {}", e.what());
        }
        t_connection = nullptr;
    }

    ServerConfig config;
    const Dispatcher& dispatcher;
    asio::io_context control{1};
    std::vector<std::unique_ptr<asio::io_context>> contexts;
    std::vector<WorkGuard> guards;
    std::size_t next = 0;  // used on the listener's strand only
    SessionSet sessions;
    FrameHandler handler;
    Listener listener;
    std::optional<asio::signal_set> signals;
    std::atomic<bool> stopping{false};
};

Server::Server(const ServerConfig& config, const Dispatcher& dispatcher) {
    try {
        m_impl = std::make_unique<Impl>(config, dispatcher);
    } catch (const std::system_error& e) {
        throw std::runtime_error("cannot listen on " + config.host + ":" +
                                 std::to_string(config.port) + ": " + e.code().message());
    }
}

Server::~Server() = default;

std::uint16_t Server::port() const {
    return m_impl->listener.endpoint().port();
}

void Server::run() {
    Impl& s = *m_impl;
    s.signals.emplace(s.control, SIGINT, SIGTERM);
    s.signals->async_wait([this](const std::error_code& ec, int signal) {
        if (ec)
            return;
        spdlog::info("signal {} received: no new connections, finishing calls under way", signal);
        stop();
    });
    s.listener.start();
    std::vector<std::thread> threads;
    for (auto& io : s.contexts) {
        threads.emplace_back([&s, &io] { s.work(*io); });
    }
    s.control.run();
    for (auto& t : threads)
        t.join();
}

void Server::stop() {
    Impl& s = *m_impl;
    if (s.stopping.exchange(true))
        return;
    s.listener.close([&s] {
        s.sessions.shutdownAll();
        if (s.signals)
            s.signals->cancel();
        for (auto& g : s.guards)
            g.reset();
    });
}

}  // namespace rqc::appserver
