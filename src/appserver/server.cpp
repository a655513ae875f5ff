#include "server.h"

#include <spdlog/spdlog.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/address.hpp>
#include <asio/signal_set.hpp>
#include <asio/ssl/context.hpp>
#include <asio/ssl/error.hpp>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <mutex>
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

using WorkGuard = asio::executor_work_guard<asio::io_context::executor_type>;

// After the stop deadline has closed every connection, worker threads get this long to end.
constexpr auto kAfterForcedClose = std::chrono::seconds(5);

std::unique_ptr<asio::ssl::context> makeTlsContext(const ServerConfig& c) {
    if (!c.usesTls())
        return nullptr;
    auto ctx = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
    const auto step = [](const std::string& what, auto&& action) {
        std::error_code ec;
        action(ec);
        if (ec)
            throw std::runtime_error(what + ": " + ec.message());
    };
    ctx->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                     asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                     asio::ssl::context::no_tlsv1_1 | asio::ssl::context::single_dh_use);
    ::SSL_CTX_set_min_proto_version(ctx->native_handle(), TLS1_2_VERSION);
    step("cannot use TLS certificate file '" + c.tlsCert + "'",
         [&](std::error_code& ec) { ctx->use_certificate_chain_file(c.tlsCert, ec); });
    step("cannot use TLS key file '" + c.tlsKey + "'", [&](std::error_code& ec) {
        ctx->use_private_key_file(c.tlsKey, asio::ssl::context::pem, ec);
    });
    if (::SSL_CTX_check_private_key(ctx->native_handle()) != 1) {
        throw std::runtime_error("TLS key file '" + c.tlsKey + "' does not match certificate '" +
                                 c.tlsCert + "'");
    }
    return ctx;
}

// One worker thread runs the io_context of its worker and uses its database connection: a
// connection is served by the one worker it was accepted onto, so a call never changes
// threads between reading, running and answering, and its session hands the calls that
// worker's database connection.
struct Worker {
    explicit Worker(const std::string& db) : connection(db) {}
    WorkerConnection connection;  // used on the worker's thread only; outlives its sessions
    asio::io_context io{1};
};

}  // namespace

// Accepting and signals have their own io_context on the thread that runs the server, so
// that they are never held up by a call.
struct Server::Impl {
    Impl(const ServerConfig& c, const Dispatcher& d)
        : config(c),
          dispatcher(d),
          workers(makeWorkers(c)),
          tls(makeTlsContext(c)),
          limits{c.maxFrame, c.idleTimeout, c.readTimeout, c.writeTimeout},
          handler(
              [this](std::span<const std::byte> body, WorkerConnection& db,
                     ConnectionState& state) { return dispatcher.handleFrame(body, db, state); }),
          listener(
              control, endpoint(c),
              [this]() -> asio::io_context& { return workers[next++ % workers.size()]->io; },
              [this](asio::ip::tcp::socket socket) { admit(std::move(socket)); }) {
        for (auto& w : workers)
            guards.emplace_back(w->io.get_executor());
    }

    static std::vector<std::unique_ptr<Worker>> makeWorkers(const ServerConfig& c) {
        std::vector<std::unique_ptr<Worker>> out;
        for (unsigned i = 0; i < c.threads; ++i)
            out.push_back(std::make_unique<Worker>(c.db));
        return out;
    }

    // The worker whose io_context the listener created the socket on.
    Worker& workerOf(asio::ip::tcp::socket& socket) {
        for (auto& w : workers) {
            if (socket.get_executor() == asio::any_io_executor(w->io.get_executor()))
                return *w;
        }
        throw std::logic_error("a connection was accepted onto no worker's io_context");
    }

    static asio::ip::tcp::endpoint endpoint(const ServerConfig& c) {
        return {asio::ip::make_address(c.host), c.port};
    }

    // Serves the connection, or refuses it with an error result when a cap is reached.
    void admit(asio::ip::tcp::socket socket) {
        WorkerConnection& db = workerOf(socket).connection;
        auto session =
            std::make_shared<Session>(std::move(socket), tls.get(), handler, db, limits, sessions);
        const std::string refusal =
            sessions.admit(session->address(), config.maxConnections, config.maxPerPeer);
        if (refusal.empty()) {
            session->start();
            return;
        }
        if (sessions.beginRefusal()) {
            spdlog::warn("connection {} refused: {}", session->peer(), refusal);
            session->refuse("connection refused: " + refusal);
        } else {
            spdlog::warn("connection {} dropped: {} (too many refusals under way)", session->peer(),
                         refusal);
        }
    }

    void work(Worker& worker) {
        try {
            worker.io.run();
        } catch (const std::exception& e) {
            spdlog::critical("worker thread stopped by an unexpected error: {}", e.what());
        }
        // The connection closes on the thread that used it, as the worker ends.
        worker.connection.discard();
        std::lock_guard lock(doneMutex);
        ++finished;
        doneChanged.notify_all();
    }

    // Waits until every worker thread has ended or `limit` has passed.
    bool waitForWorkers(std::chrono::steady_clock::duration limit) {
        std::unique_lock lock(doneMutex);
        return doneChanged.wait_for(lock, limit, [this] { return finished == workers.size(); });
    }

    ServerConfig config;
    const Dispatcher& dispatcher;
    asio::io_context control{1};
    std::vector<std::unique_ptr<Worker>> workers;
    std::vector<WorkGuard> guards;
    std::size_t next = 0;  // used on the listener's strand only
    std::unique_ptr<asio::ssl::context> tls;
    SessionLimits limits;
    SessionSet sessions;
    FrameHandler handler;
    Listener listener;
    std::optional<asio::signal_set> signals;
    std::atomic<bool> stopping{false};
    std::mutex doneMutex;
    std::condition_variable doneChanged;
    std::size_t finished = 0;
};

Server::Server(const ServerConfig& config, const Dispatcher& dispatcher) {
    try {
        validateConfig(config);
    } catch (const ConfigError& e) {
        throw std::runtime_error(e.what());
    }
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

bool Server::run() {
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
    for (auto& w : s.workers) {
        threads.emplace_back([&s, &w] { s.work(*w); });
    }
    s.control.run();
    // control.run() returns once stop() has closed the listener.
    bool clean = s.waitForWorkers(s.config.stopTimeout);
    if (!clean) {
        spdlog::warn("calls still under way {} ms after the stop request; closing every connection",
                     s.config.stopTimeout.count());
        s.sessions.forceCloseAll();
        clean = s.waitForWorkers(kAfterForcedClose);
    }
    if (!clean) {
        spdlog::error("a call is still running after every connection was closed");
        for (auto& t : threads)
            t.detach();
        return false;
    }
    for (auto& t : threads)
        t.join();
    return true;
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
