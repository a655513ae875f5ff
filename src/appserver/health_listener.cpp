#include "health_listener.h"

#include <spdlog/spdlog.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/address.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "worker_connection.h"

namespace rqc::appserver {

namespace {

// Connections waiting for their answer; more are closed unanswered (the check counts as failed).
constexpr int kMaxWaiting = 64;

// One try per check: the balancer asks again soon, and an answer must not wait for retries.
constexpr suitedb::RetryPolicy kSingleTry{1, std::chrono::milliseconds(0),
                                          std::chrono::milliseconds(0)};

}  // namespace

// Sockets are accepted and answered on the io thread; the query runs on the probe thread,
// which alone uses the database connection, so that accepting never waits for the database.
struct HealthListener::Impl {
    Impl(const std::string& host, std::uint16_t port, const std::string& db)
        : acceptor(io, {asio::ip::make_address(host), port}), connection(db, kSingleTry) {}

    void accept() {
        acceptor.async_accept([this](const std::error_code& ec, asio::ip::tcp::socket s) {
            if (ec == asio::error::operation_aborted || !acceptor.is_open())
                return;
            if (!ec) {
                auto socket = std::make_shared<asio::ip::tcp::socket>(std::move(s));
                if (waiting.fetch_add(1) >= kMaxWaiting) {
                    --waiting;
                } else {
                    asio::post(probe, [this, socket] {
                        const bool ok = check();
                        asio::post(io, [this, socket, ok] { answer(socket, ok); });
                    });
                }
            }
            accept();
        });
    }

    void answer(const std::shared_ptr<asio::ip::tcp::socket>& socket, bool ok) {
        --waiting;
        const std::string_view line = ok ? kHealthOk : kHealthDown;
        asio::async_write(*socket, asio::buffer(line.data(), line.size()),
                          [socket](const std::error_code&, std::size_t) {
                              std::error_code ignored;
                              socket->shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
                          });
    }

    // Runs on the probe thread only.
    bool check() {
        bool ok = false;
        std::string why;
        try {
            auto rows = connection.get().query("SELECT 1");
            ok = rows->next();
        } catch (const std::exception& e) {
            connection.discard();
            why = e.what();
        }
        if (ok != lastOk) {
            if (ok)
                spdlog::info("health: database reachable again");
            else
                spdlog::warn("health: database unreachable: {}", why);
            lastOk = ok;
        }
        return ok;
    }

    asio::io_context io{1};
    asio::io_context probe{1};
    asio::ip::tcp::acceptor acceptor;
    WorkerConnection connection;
    std::atomic<int> waiting{0};
    bool lastOk = true;  // probe thread only
    std::thread ioThread, probeThread;
    bool started = false;
};

HealthListener::HealthListener(const std::string& host, std::uint16_t port, const std::string& db) {
    try {
        m_impl = std::make_unique<Impl>(host, port, db);
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
        s.connection.discard();
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
