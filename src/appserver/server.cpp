#include "server.h"

#include <spdlog/spdlog.h>

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

}  // namespace

struct Server::Impl {
    Impl(const ServerConfig& c, const Dispatcher& d)
        : config(c),
          dispatcher(d),
          handler([this](std::span<const std::byte> body, const std::string& peer) {
              return dispatcher.handleFrame(body, *t_connection, peer);
          }),
          listener(io, endpoint(c), [this](asio::ip::tcp::socket socket) {
              std::make_shared<Session>(std::move(socket), handler, config.maxFrame, sessions)
                  ->start();
          }) {}

    static asio::ip::tcp::endpoint endpoint(const ServerConfig& c) {
        return {asio::ip::make_address(c.host), c.port};
    }

    void work() {
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
    asio::io_context io;
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

std::uint16_t Server::port() const { return m_impl->listener.endpoint().port(); }

void Server::run() {
    Impl& s = *m_impl;
    s.signals.emplace(s.io, SIGINT, SIGTERM);
    s.signals->async_wait([this](const std::error_code& ec, int signal) {
        if (ec) return;
        spdlog::info("signal {} received: no new connections, finishing calls under way",
                     signal);
        stop();
    });
    s.listener.start();
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < s.config.threads; ++i) threads.emplace_back([&s] { s.work(); });
    s.work();
    for (auto& t : threads) t.join();
}

void Server::stop() {
    Impl& s = *m_impl;
    if (s.stopping.exchange(true)) return;
    s.listener.close([&s] {
        s.sessions.shutdownAll();
        asio::post(s.io, [&s] {
            if (s.signals) s.signals->cancel();
        });
    });
}

}  // namespace rqc::appserver
