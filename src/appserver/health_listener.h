#pragma once
// What a load balancer, a supervisor and a metrics scraper ask the server, on an address of
// its own, with no login: a few plain HTTP/1.x GETs, each answered and closed.
//
//   GET /live     200 "ok" while the process serves (its io threads answer), else 503
//   GET /ready    200 "ok" while its database accepts writes now, else 503
//                 "database unreachable"
//   GET /metrics  the Prometheus text format (on the metrics listener)
//
// A connection that sends nothing within a moment gets the readiness answer as one bare line
// ("ok" or "database unreachable"), the check older balancer configurations make.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace rqc::appserver {

inline constexpr std::string_view kHealthOk = "ok\n";
inline constexpr std::string_view kHealthDown = "database unreachable\n";

class HealthListener {
  public:
    struct Routes {
        std::string db;                        // readiness on this database; empty: no /ready
        std::function<bool()> alive;           // liveness; empty: no /live
        std::function<std::string()> metrics;  // the text format; empty: no /metrics
    };

    // Binds and listens; throws std::runtime_error naming the address when it cannot.
    HealthListener(const std::string& host, std::uint16_t port, Routes routes);
    ~HealthListener();  // stops
    HealthListener(const HealthListener&) = delete;
    HealthListener& operator=(const HealthListener&) = delete;

    std::uint16_t port() const;
    void start();  // serves on threads of its own until stop()
    void stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace rqc::appserver
