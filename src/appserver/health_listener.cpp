#include "health_listener.h"

#include <spdlog/spdlog.h>

#include <array>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/address.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "suitedb/dialect.h"
#include "worker_connection.h"

namespace rqc::appserver {

namespace {

// Connections waiting for their answer; more are closed unanswered (the check counts as failed).
constexpr int kMaxWaiting = 64;
// A connection that has sent nothing this long gets the bare readiness line.
constexpr auto kQuietAnswer = std::chrono::milliseconds(200);
// A request must be complete (its header ended) this long after its first byte, and fit here.
constexpr auto kRequestDeadline = std::chrono::seconds(2);
constexpr std::size_t kMaxRequest = 2048;

// One try per check: the balancer asks again soon, and an answer must not wait for retries.
constexpr suitedb::RetryPolicy kSingleTry{1, std::chrono::milliseconds(0),
                                          std::chrono::milliseconds(0)};

struct Reply {
    int status = 200;
    std::string body;
    const char* type = "text/plain; charset=utf-8";
};

std::string httpAnswer(const Reply& r) {
    const char* reason = r.status == 200   ? "OK"
                         : r.status == 400 ? "Bad Request"
                         : r.status == 404 ? "Not Found"
                         : r.status == 405 ? "Method Not Allowed"
                                           : "Service Unavailable";
    return "HTTP/1.1 " + std::to_string(r.status) + " " + reason + "\r\nContent-Type: " + r.type +
           "\r\nContent-Length: " + std::to_string(r.body.size()) +
           "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + r.body;
}

// The path of a "GET /path HTTP/1.x" request line, without its query; empty when the line is
// not such a request. `get` tells whether the method was GET.
std::string_view requestPath(std::string_view request, bool& get) {
    const auto end = request.find_first_of("\r\n");
    const std::string_view line = request.substr(0, end);
    const auto sp1 = line.find(' ');
    const auto sp2 = line.rfind(' ');
    if (sp1 == std::string_view::npos || sp2 == sp1 || !line.substr(sp2 + 1).starts_with("HTTP/"))
        return {};
    get = line.substr(0, sp1) == "GET";
    std::string_view path = line.substr(sp1 + 1, sp2 - sp1 - 1);
    path = path.substr(0, path.find('?'));
    return path.starts_with('/') ? path : std::string_view{};
}

}  // namespace

// Sockets are read and answered on the io thread; checks and scrapes run on the probe thread,
// which alone uses the database connection, so that accepting never waits for the database.
struct HealthListener::Impl {
    enum class Ask { Live, Ready, ReadyLine, Metrics };

    struct Conn {
        explicit Conn(asio::ip::tcp::socket s)
            : socket(std::move(s)), timer(socket.get_executor()) {}
        asio::ip::tcp::socket socket;
        asio::steady_timer timer;
        std::array<char, kMaxRequest> buffer{};
        std::size_t size = 0;
        bool done = false;
    };
    using ConnPtr = std::shared_ptr<Conn>;

    Impl(const std::string& host, std::uint16_t port, Routes r)
        : routes(std::move(r)), acceptor(io, {asio::ip::make_address(host), port}) {
        if (!routes.db.empty())
            connection.emplace(routes.db, kSingleTry);
    }

    void accept() {
        acceptor.async_accept([this](const std::error_code& ec, asio::ip::tcp::socket s) {
            if (ec == asio::error::operation_aborted || !acceptor.is_open())
                return;
            if (!ec) {
                if (waiting.fetch_add(1) >= kMaxWaiting) {
                    --waiting;
                } else {
                    auto c = std::make_shared<Conn>(std::move(s));
                    c->timer.expires_after(kQuietAnswer);
                    c->timer.async_wait([this, c](const std::error_code& e) {
                        if (!e)
                            quiet(c);
                    });
                    read(c);
                }
            }
            accept();
        });
    }

    void read(const ConnPtr& c) {
        c->socket.async_read_some(
            asio::buffer(c->buffer.data() + c->size, c->buffer.size() - c->size),
            [this, c](const std::error_code& ec, std::size_t n) {
                if (c->done)
                    return;
                if (ec) {
                    finish(c);
                    return;
                }
                if (c->size == 0) {
                    c->timer.expires_after(kRequestDeadline);
                    c->timer.async_wait([this, c](const std::error_code& e) {
                        if (!e && !c->done)
                            reply(c, Reply{400, "incomplete request\n"});
                    });
                }
                c->size += n;
                const std::string_view got(c->buffer.data(), c->size);
                if (got.find("\r\n\r\n") != std::string_view::npos ||
                    got.find("\n\n") != std::string_view::npos) {
                    route(c, got);
                } else if (c->size == c->buffer.size()) {
                    reply(c, Reply{400, "request too large\n"});
                } else {
                    read(c);
                }
            });
    }

    // Nothing was asked: the bare readiness line, or nothing at all without readiness.
    void quiet(const ConnPtr& c) {
        if (c->done || c->size > 0)
            return;
        if (!connection) {
            finish(c);
            return;
        }
        c->done = true;
        c->socket.cancel();
        probeFor(c, Ask::ReadyLine);
    }

    void route(const ConnPtr& c, std::string_view request) {
        bool get = false;
        const std::string_view path = requestPath(request, get);
        if (path.empty()) {
            reply(c, Reply{400, "expected GET /live, /ready or /metrics\n"});
        } else if (!get) {
            reply(c, Reply{405, "only GET\n"});
        } else if (path == "/live" && routes.alive) {
            c->done = true;
            probeFor(c, Ask::Live);
        } else if (path == "/ready" && connection) {
            c->done = true;
            probeFor(c, Ask::Ready);
        } else if (path == "/metrics" && routes.metrics) {
            c->done = true;
            probeFor(c, Ask::Metrics);
        } else {
            reply(c, Reply{404, "not here\n"});
        }
    }

    void probeFor(const ConnPtr& c, Ask ask) {
        c->timer.cancel();
        asio::post(probe, [this, c, ask] {
            std::string out;
            switch (ask) {
                case Ask::Live: {
                    const bool ok = routes.alive();
                    out = httpAnswer(ok ? Reply{200, "ok\n"} : Reply{503, "not serving\n"});
                    break;
                }
                case Ask::Ready:
                    out = httpAnswer(ready() ? Reply{200, std::string(kHealthOk)}
                                             : Reply{503, std::string(kHealthDown)});
                    break;
                case Ask::ReadyLine:
                    out = ready() ? kHealthOk : kHealthDown;
                    break;
                case Ask::Metrics:
                    out = httpAnswer(Reply{200, routes.metrics(), "text/plain; version=0.0.4"});
                    break;
            }
            asio::post(io, [this, c, out = std::move(out)]() mutable { send(c, std::move(out)); });
        });
    }

    void reply(const ConnPtr& c, const Reply& r) {
        c->done = true;
        c->timer.cancel();
        send(c, httpAnswer(r));
    }

    void send(const ConnPtr& c, std::string text) {
        auto data = std::make_shared<std::string>(std::move(text));
        asio::async_write(c->socket, asio::buffer(*data),
                          [this, c, data](const std::error_code&, std::size_t) { finish(c); });
    }

    void finish(const ConnPtr& c) {
        c->done = true;
        c->timer.cancel();
        std::error_code ignored;
        c->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        c->socket.close(ignored);
        --waiting;
    }

    // Runs on the probe thread only.
    bool ready() {
        bool ok = false;
        std::string why = "a standby: it accepts no writes";
        try {
            suitedb::Connection& db = connection->get();
            auto rows = db.query(suitedb::Dialect(db).acceptsWritesQuery());
            ok = rows->next() && rows->int64(0) == 1;
        } catch (const std::exception& e) {
            connection->discard();
            why = e.what();
        }
        if (ok != lastOk) {
            if (ok)
                spdlog::info("health: database accepts writes again");
            else
                spdlog::warn("health: database unreachable: {}", why);
            lastOk = ok;
        }
        return ok;
    }

    Routes routes;
    asio::io_context io{1};
    asio::io_context probe{1};
    asio::ip::tcp::acceptor acceptor;
    std::optional<WorkerConnection> connection;
    std::atomic<int> waiting{0};
    bool lastOk = true;  // probe thread only
    std::thread ioThread, probeThread;
    bool started = false;
};

HealthListener::HealthListener(const std::string& host, std::uint16_t port, Routes routes) {
    try {
        m_impl = std::make_unique<Impl>(host, port, std::move(routes));
    } catch (const std::system_error& e) {
        throw std::runtime_error("cannot listen for health checks on " + host + ":" +
                                 std::to_string(port) + ": " + e.code().message());
    }
}

HealthListener::~HealthListener() {
    stop();
}

std::uint16_t HealthListener::port() const {
    return m_impl->acceptor.local_endpoint().port();
}

void HealthListener::start() {
    Impl& s = *m_impl;
    if (s.started)
        return;
    s.started = true;
    s.accept();
    s.ioThread = std::thread([&s] { s.io.run(); });
    s.probeThread = std::thread([&s] {
        auto guard = asio::make_work_guard(s.probe);
        s.probe.run();
        if (s.connection)
            s.connection->discard();
    });
}

void HealthListener::stop() {
    Impl& s = *m_impl;
    if (!s.started)
        return;
    s.started = false;
    asio::post(s.io, [&s] {
        std::error_code ignored;
        s.acceptor.close(ignored);
    });
    s.probe.stop();
    s.io.stop();
    s.ioThread.join();
    s.probeThread.join();
}

}  // namespace rqc::appserver
