#pragma once
// The server's Prometheus metrics: what it serves, how fast, what it refuses, how its
// database and write queue are doing. Counted in a registry of the Prometheus client library
// and read in its text format by GET /metrics on the metrics listener.
//
// Off unless installed (metrics-listen set): every hook is `if (auto* m = metrics())`, one
// load of a pointer when off. No label carries a password, an operator's code or a free text:
// methods come from the method table (anything else is "outro"), client addresses are counted,
// never named.

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace rqc::appserver {

// How a call ended: answered; refused before or instead of running (a bad argument, no
// permission, a rule of the screen, the server busy); failed (an incident: database or
// internal); or cut while committing with nobody able to say whether it was written.
enum class CallOutcome { Ok, Refused, Error, OutcomeUnknown };
// How a login ended: in; refused (unknown operator or wrong password, or not a code at all);
// throttled (too many failures); failed (the database could not check it).
enum class LoginOutcome { Ok, Refused, Throttled, Error };
// Which cap refused a connection before it was served.
enum class CapRefusal { Total, PerAddress, Unauthenticated, UnauthenticatedPerAddress };

class Metrics {
  public:
    // `methods`: every "Object.Method" the server serves, each given its own series.
    Metrics(const std::vector<std::string>& methods, std::string_view version);
    Metrics(const Metrics&) = delete;
    Metrics& operator=(const Metrics&) = delete;

    void call(std::string_view object, std::string_view method, CallOutcome outcome,
              std::chrono::duration<double> took);
    // `address` is the client's, without its port: counted among the addresses with a failed
    // login in the last quarter of an hour, never exported.
    void login(LoginOutcome outcome, std::string_view address);
    void consolidation(std::int64_t lines, std::int64_t products,
                       std::chrono::duration<double> took);
    void connectionRefused(CapRefusal cap);
    void writeTurnWaited(std::chrono::duration<double> waited);
    void writeTurnRefused();
    void databaseReconnect();
    void schemaVersion(int version);

    // Runs at every scrape, before the values are read: sets the gauges of things counted
    // elsewhere (open connections, the write queue's length). `owner` removes it again.
    void addSampler(const void* owner, std::function<void(Metrics&)> sampler);
    void removeSamplers(const void* owner);
    void connections(std::size_t open, std::size_t waitingForLogin);
    void writeQueueLength(std::size_t waiting);

    // The text exposition format, version 0.0.4.
    std::string scrape();

  private:
    struct MethodSeries {
        std::array<prometheus::Counter*, 4> outcomes{};
        prometheus::Histogram* duration = nullptr;
    };
    MethodSeries& seriesOf(std::string_view object, std::string_view method);
    void forgetOldFailures(std::chrono::steady_clock::time_point now);

    std::shared_ptr<prometheus::Registry> m_registry;
    std::unordered_map<std::string, MethodSeries> m_methods;  // fixed after construction
    MethodSeries m_other;
    std::array<prometheus::Counter*, 4> m_logins{};
    prometheus::Gauge* m_failedLoginAddresses = nullptr;
    prometheus::Counter* m_consolidationLines = nullptr;
    prometheus::Counter* m_consolidationProducts = nullptr;
    prometheus::Histogram* m_consolidationSeconds = nullptr;
    std::array<prometheus::Counter*, 4> m_capRefusals{};
    prometheus::Gauge* m_connectionsOpen = nullptr;
    prometheus::Gauge* m_connectionsWaiting = nullptr;
    prometheus::Gauge* m_writeQueueLength = nullptr;
    prometheus::Histogram* m_writeQueueWait = nullptr;
    prometheus::Counter* m_writeQueueRefused = nullptr;
    prometheus::Counter* m_reconnects = nullptr;
    std::array<prometheus::Counter*, 3> m_settled{};
    std::array<std::uint64_t, 3> m_settledSeen{};
    prometheus::Gauge* m_schemaVersion = nullptr;

    std::mutex m_mutex;  // the samplers, the failed-login addresses, the scrape
    std::vector<std::pair<const void*, std::function<void(Metrics&)>>> m_samplers;
    std::map<std::string, std::chrono::steady_clock::time_point, std::less<>> m_failedAddresses;
};

// The process's metrics, or null when they are off.
Metrics* metrics();
// Installs (or, with null, removes) the process's metrics; the caller keeps them alive.
void installMetrics(Metrics* m);

}  // namespace rqc::appserver
