#pragma once
// The server's health answer for a load balancer, on an address of its own: every connection
// gets one line, "ok" when a trivial query on the listener's database connection succeeds,
// "database unreachable" otherwise, and is closed. It needs no login and tells nothing else.

#include <cstdint>
#include <memory>
#include <string>

namespace rqc::appserver {

inline constexpr std::string_view kHealthOk = "ok\n";
inline constexpr std::string_view kHealthDown = "database unreachable\n";

class HealthListener {
  public:
    // Binds and listens; throws std::runtime_error naming the address when it cannot.
    HealthListener(const std::string& host, std::uint16_t port, const std::string& db);
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
