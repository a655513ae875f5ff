#include "server.h"

#include <spdlog/spdlog.h>
#include <sys/resource.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/address.hpp>
#include <asio/post.hpp>
#include <asio/signal_set.hpp>
#include <asio/ssl/context.hpp>
#include <asio/ssl/error.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "admission.h"
#include "dispatcher.h"
#include "error_text.h"
#include "listener.h"
#include "metrics.h"
#include "rdm_consolida_solicita.h"
#include "session.h"
#include "suitedb/connection.h"
#include "suitedb/dialect.h"
#include "worker_connection.h"
#include "write_queue.h"

namespace rqc::appserver {

namespace {

using WorkGuard = asio::executor_work_guard<asio::io_context::executor_type>;

// After the stop deadline has closed every connection, threads get this long to end.
constexpr auto kAfterForcedClose = std::chrono::seconds(5);
// Descriptors besides the connections: listener, log, epoll and wake-up descriptors, the
// database files of every pool thread, the listener's reserve.
constexpr rlim_t kOtherDescriptors = 64;
constexpr rlim_t kDescriptorsPerDatabaseConnection = 4;

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

// Raises the soft descriptor limit to the hard one and returns how many connections it can
// hold besides the database and log descriptors: max-connections, or fewer (with a warning)
// when the limit is too low. Throws when it cannot hold even a few.
unsigned checkDescriptorLimit(const ServerConfig& c) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return c.maxConnections;
    const rlim_t others =
        kOtherDescriptors + kDescriptorsPerDatabaseConnection * c.threads + kMaxRefusalsUnderWay;
    const rlim_t need = c.maxConnections + others;
    if (limit.rlim_cur < limit.rlim_max && limit.rlim_cur < need) {
        const rlim_t before = limit.rlim_cur;
        limit.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &limit) == 0) {
            spdlog::info("descriptor limit raised from {} to {}", before, limit.rlim_cur);
        } else {
            ::getrlimit(RLIMIT_NOFILE, &limit);
        }
    }
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= need)
        return c.maxConnections;
    if (limit.rlim_cur < others + 16) {
        throw std::runtime_error("the descriptor limit of " + std::to_string(limit.rlim_cur) +
                                 " cannot hold " + std::to_string(c.threads) +
                                 " database connections and a few clients; raise it "
                                 "(LimitNOFILE, ulimit -n) or lower threads");
    }
    const auto fits = static_cast<unsigned>(limit.rlim_cur - others);
    spdlog::warn(
        "the descriptor limit of {} cannot hold max-connections {} besides {} database "
        "connections; serving at most {} connections (raise LimitNOFILE or ulimit -n)",
        limit.rlim_cur, c.maxConnections, c.threads, fits);
    return fits;
}

unsigned ioThreads(const ServerConfig& c) {
    return std::clamp(std::thread::hardware_concurrency(), 1u, std::min(c.threads, 4u));
}

thread_local WorkerConnection* t_database = nullptr;

}  // namespace

// Sockets run on a few io threads that never wait for business; calls run on a pool of
// `threads` threads, each with its own database connection, and their answers are posted
// back. A call that needs the SQLite file's write turn waits as a completion handler in the
// file's queue and reaches the pool only when its turn comes. Accepting and signals have their
// own io_context on the thread that runs the server.
struct Server::Impl {
    Impl(const ServerConfig& c, const Dispatcher& d, unsigned servedConnections)
        : config(withConnections(c, servedConnections)),
          dispatcher(d),
          ios(makeIos(c)),
          pool(static_cast<int>(c.threads)),
          tls(makeTlsContext(c)),
          writeQueue(suitedb::Dialect::of(c.db).queuesWriters() ? &WriteQueue::forFile(c.db)
                                                                : nullptr),
          listener(
              control, endpoint(c),
              [this]() -> asio::io_context& { return *ios[next++ % ios.size()]; },
              [this](asio::ip::tcp::socket socket) { admit(std::move(socket)); }) {
        context.handler = [this](std::span<const std::byte> body, ConnectionState& state,
                                 AnswerHandler done) {
            asio::post(pool, [this, body, &state, done = std::move(done)]() mutable {
                runFrame(body, state, std::move(done));
            });
        };
        context.limits.maxFrame = c.maxFrame;
        context.limits.idleTimeout = c.idleTimeout;
        context.limits.readTimeout = c.readTimeout;
        context.limits.writeTimeout = c.writeTimeout;
        context.limits.loginTimeout = c.loginTimeout;
        context.caps.maxTotal = config.maxConnections;
        context.caps.maxPerPeer = c.maxPerPeer;
        context.caps.maxUnauthenticated = config.unauthenticatedCap();
        context.caps.maxUnauthenticatedPerPeer = c.maxUnauthenticatedPerPeer;
        context.trustedProxies = c.trustedProxies;
        context.tls = tls.get();
        if (writeQueue != nullptr)
            writeQueue->setMaxWait(c.writeWait);
        for (auto& io : ios)
            guards.emplace_back(io->get_executor());
        guards.emplace_back(pool.get_executor());
        for (unsigned i = 0; i < c.threads; ++i)
            connections.push_back(std::make_unique<WorkerConnection>(c.db));
        if (auto* m = metrics()) {
            m->addSampler(this, [this](Metrics& out) {
                const auto [open, waiting] = sessions.counts();
                out.connections(open, waiting);
                if (writeQueue != nullptr)
                    out.writeQueueLength(writeQueue->waiting());
            });
        }
    }

    ~Impl() {
        if (auto* m = metrics())
            m->removeSamplers(this);
    }

    static ServerConfig withConnections(ServerConfig c, unsigned connections) {
        c.maxConnections = connections;
        return c;
    }

    static std::vector<std::unique_ptr<asio::io_context>> makeIos(const ServerConfig& c) {
        std::vector<std::unique_ptr<asio::io_context>> out;
        for (unsigned i = 0; i < ioThreads(c); ++i)
            out.push_back(std::make_unique<asio::io_context>(1));
        return out;
    }

    static asio::ip::tcp::endpoint endpoint(const ServerConfig& c) {
        return {asio::ip::make_address(c.host), c.port};
    }

    void admit(asio::ip::tcp::socket socket) {
        std::make_shared<Session>(std::move(socket), context, sessions)->start();
    }

    // On a pool thread: answers the frame, or queues it for the SQLite write turn.
    void runFrame(std::span<const std::byte> body, ConnectionState& state, AnswerHandler done) {
        if (writeQueue != nullptr && !state.operatorCode.empty()) {
            const auto target = protocol::peekCallTarget(body);
            if (target && dispatcher.writes(target->object, target->method)) {
                queueForTurn(body, state, std::move(done), target->object + "." + target->method);
                return;
            }
        }
        done(dispatcher.handleFrame(body, *t_database, state));
    }

    void queueForTurn(std::span<const std::byte> body, ConnectionState& state, AnswerHandler done,
                      std::string target) {
        auto timer = std::make_shared<asio::steady_timer>(pool);
        auto answer = std::make_shared<AnswerHandler>(std::move(done));
        auto keepPool = std::make_shared<WorkGuard>(pool.get_executor());
        const auto asked = std::chrono::steady_clock::now();
        const std::uint64_t ticket = writeQueue->asyncAcquire(
            [this, body, &state, answer, timer, keepPool, asked] {
                timer->cancel();
                if (auto* m = metrics())
                    m->writeTurnWaited(std::chrono::steady_clock::now() - asked);
                asio::post(pool, [this, body, &state, answer, keepPool] {
                    std::vector<std::byte> result;
                    {
                        TurnHeld turn(*writeQueue);
                        result = dispatcher.handleFrame(body, *t_database, state);
                    }
                    (*answer)(std::move(result));
                });
            },
            [answer, keepPool, &state, asked, target = std::move(target),
             version = protocol::peekHeader(body)->version](WriteQueue::Refusal) {
                spdlog::warn("call operator={} peer={} refused: the write queue is busy",
                             state.operatorCode, state.peer);
                if (auto* m = metrics()) {
                    m->writeTurnRefused();
                    const auto dot = target.rfind('.');
                    m->call(std::string_view(target).substr(0, dot),
                            std::string_view(target).substr(dot + 1), CallOutcome::Refused,
                            std::chrono::steady_clock::now() - asked);
                }
                (*answer)(protocol::encodeResult(
                    protocol::CallResult::error(messages::serverBusy(), protocol::ErrorKind::Busy),
                    version));
            });
        if (ticket == 0)
            return;
        timer->expires_after(writeQueue->maxWait());
        timer->async_wait([this, ticket, timer](const std::error_code& ec) {
            if (!ec)
                writeQueue->expire(ticket);
        });
    }

    void poolThread(std::size_t index) {
        t_database = connections[index].get();
        try {
            pool.run();
        } catch (const std::exception& e) {
            spdlog::critical("call thread stopped by an unexpected error: {}", e.what());
        }
        // The connection closes on the thread that used it, as the thread ends.
        connections[index]->discard();
        ended();
    }

    // Sums up the warnings of connections without a login once a minute has passed.
    void flushNoticesLater() {
        noticeTimer.expires_after(std::chrono::seconds(15));
        noticeTimer.async_wait([this](const std::error_code& ec) {
            if (ec)
                return;
            sessions.flushNotices();
            flushNoticesLater();
        });
    }

    void ioThread(asio::io_context& io) {
        try {
            io.run();
        } catch (const std::exception& e) {
            spdlog::critical("io thread stopped by an unexpected error: {}", e.what());
        }
        ended();
    }

    void ended() {
        std::lock_guard lock(doneMutex);
        ++finished;
        doneChanged.notify_all();
    }

    // Waits until every thread has ended or `limit` has passed.
    bool waitForThreads(std::chrono::steady_clock::duration limit) {
        std::unique_lock lock(doneMutex);
        return doneChanged.wait_for(lock, limit,
                                    [this] { return finished == ios.size() + config.threads; });
    }

    ServerConfig config;
    const Dispatcher& dispatcher;
    // Before the io_contexts and the pool: handlers they still hold keep sessions alive.
    SessionContext context;
    SessionSet sessions;
    asio::io_context control{1};
    std::vector<std::unique_ptr<asio::io_context>> ios;
    asio::io_context pool;
    std::vector<std::unique_ptr<WorkerConnection>> connections;  // one per pool thread
    std::vector<WorkGuard> guards;
    std::size_t next = 0;  // used on the listener's strand only
    std::unique_ptr<asio::ssl::context> tls;
    WriteQueue* writeQueue;  // SQLite targets only
    Listener listener;
    std::optional<asio::signal_set> signals;
    asio::steady_timer noticeTimer{control};
    std::atomic<bool> stopping{false};
    std::function<void()> startedHook;   // set before run()
    std::function<void()> stoppingHook;  // set before run()
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
    const unsigned connections = checkDescriptorLimit(config);
    try {
        m_impl = std::make_unique<Impl>(config, dispatcher, connections);
    } catch (const std::system_error& e) {
        throw std::runtime_error("cannot listen on " + config.host + ":" +
                                 std::to_string(config.port) + ": " + e.code().message());
    }
    // From here on SIGTERM is a stop, even before run(): a supervisor may send it as soon as
    // the server says where it listens, and the signal waits in the set until run() takes it.
    m_impl->signals.emplace(m_impl->control, SIGINT, SIGTERM);
}

Server::~Server() = default;

std::uint16_t Server::port() const {
    return m_impl->listener.endpoint().port();
}

bool Server::run() {
    Impl& s = *m_impl;
    s.signals->async_wait([this](const std::error_code& ec, int signal) {
        if (ec)
            return;
        spdlog::info("signal {} received: no new connections, finishing calls under way", signal);
        stop();
    });
    s.listener.start();
    s.flushNoticesLater();
    if (s.startedHook)
        s.startedHook();
    std::vector<std::thread> threads;
    for (auto& io : s.ios)
        threads.emplace_back([&s, &io] { s.ioThread(*io); });
    for (std::size_t i = 0; i < s.config.threads; ++i)
        threads.emplace_back([&s, i] { s.poolThread(i); });
    s.control.run();
    // control.run() returns once stop() has closed the listener.
    bool clean = s.waitForThreads(s.config.stopTimeout);
    if (!clean) {
        spdlog::warn("calls still under way {} ms after the stop request; closing every connection",
                     s.config.stopTimeout.count());
        s.sessions.shutdownAll(Session::Stop::Now, "closed at the stop deadline");
        if (s.writeQueue != nullptr)
            s.writeQueue->refuseAll();
        clean = s.waitForThreads(kAfterForcedClose);
    }
    if (!clean) {
        spdlog::error("a call is still running after every connection was closed");
        for (auto& t : threads)
            t.detach();
        return false;
    }
    for (auto& t : threads)
        t.join();
    s.sessions.flushNotices(true);
    return true;
}

bool Server::responsive(std::chrono::milliseconds limit) const {
    Impl& s = *m_impl;
    if (s.stopping)
        return false;
    struct Answers {
        std::mutex mutex;
        std::condition_variable changed;
        std::size_t count = 0;
    };
    auto answers = std::make_shared<Answers>();
    for (auto& io : s.ios) {
        asio::post(*io, [answers] {
            std::lock_guard lock(answers->mutex);
            ++answers->count;
            answers->changed.notify_all();
        });
    }
    std::unique_lock lock(answers->mutex);
    return answers->changed.wait_for(lock, limit, [&] { return answers->count == s.ios.size(); });
}

void Server::onStarted(std::function<void()> hook) {
    m_impl->startedHook = std::move(hook);
}

void Server::onStopping(std::function<void()> hook) {
    m_impl->stoppingHook = std::move(hook);
}

void Server::stop() {
    Impl& s = *m_impl;
    if (s.stopping.exchange(true))
        return;
    if (s.stoppingHook)
        s.stoppingHook();
    s.listener.close([&s] {
        s.sessions.shutdownAll(Session::Stop::Gently);
        s.noticeTimer.cancel();
        if (s.signals)
            s.signals->cancel();
        for (auto& g : s.guards)
            g.reset();
    });
}

}  // namespace rqc::appserver
