#include "metrics.h"

#include <prometheus/text_serializer.h>

#include <atomic>

#include "suitedb/connection.h"

namespace rqc::appserver {

namespace {

std::atomic<Metrics*> g_metrics{nullptr};

// A failed login's address is counted for this long.
constexpr auto kFailedLoginWindow = std::chrono::minutes(15);
// Addresses remembered at most: beyond, the oldest go (the gauge then under-counts a flood).
constexpr std::size_t kMaxFailedAddresses = 10'000;

constexpr std::array<const char*, 4> kCallOutcomes{"ok", "refused", "error", "outcome_unknown"};
constexpr std::array<const char*, 4> kLoginOutcomes{"ok", "refused", "throttled", "error"};
constexpr std::array<const char*, 4> kCaps{"total", "per_address", "unauthenticated",
                                           "unauthenticated_per_address"};
constexpr std::array<const char*, 3> kSettlements{"committed", "not_committed", "unknown"};

// Calls: from a look-up's milliseconds to a large consolidation's minute.
const prometheus::Histogram::BucketBoundaries kCallBuckets{
    0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60, 120};
const prometheus::Histogram::BucketBoundaries kConsolidationBuckets{
    0.01, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60, 120};
const prometheus::Histogram::BucketBoundaries kWaitBuckets{0.001, 0.01, 0.1, 0.5, 1,  2.5,
                                                           5,     10,   30,  60,  120};

// A series without labels of a family of its own.
prometheus::Counter& counter(prometheus::Registry& r, const char* name, const char* help) {
    return prometheus::BuildCounter().Name(name).Help(help).Register(r).Add({});
}
prometheus::Gauge& gauge(prometheus::Registry& r, const char* name, const char* help) {
    return prometheus::BuildGauge().Name(name).Help(help).Register(r).Add({});
}
prometheus::Histogram& histogram(prometheus::Registry& r, const char* name, const char* help,
                                 const prometheus::Histogram::BucketBoundaries& buckets) {
    return prometheus::BuildHistogram().Name(name).Help(help).Register(r).Add({}, buckets);
}

}  // namespace

Metrics* metrics() {
    return g_metrics.load(std::memory_order_acquire);
}

void installMetrics(Metrics* m) {
    g_metrics.store(m, std::memory_order_release);
}

Metrics::Metrics(const std::vector<std::string>& methods, std::string_view version)
    : m_registry(std::make_shared<prometheus::Registry>()) {
    using namespace prometheus;
    auto& calls = BuildCounter()
                      .Name("rqc_calls_total")
                      .Help("Calls answered, by method and outcome")
                      .Register(*m_registry);
    auto& durations = BuildHistogram()
                          .Name("rqc_call_duration_seconds")
                          .Help("Time from a call's arrival at a call thread to its answer")
                          .Register(*m_registry);
    auto makeSeries = [&](const std::string& name) {
        MethodSeries s;
        for (std::size_t i = 0; i < kCallOutcomes.size(); ++i)
            s.outcomes[i] = &calls.Add({{"method", name}, {"outcome", kCallOutcomes[i]}});
        s.duration = &durations.Add({{"method", name}}, kCallBuckets);
        return s;
    };
    for (const std::string& m : methods)
        m_methods.emplace(m, makeSeries(m));
    m_other = makeSeries("outro");

    auto& logins =
        BuildCounter().Name("rqc_logins_total").Help("Logins, by outcome").Register(*m_registry);
    for (std::size_t i = 0; i < kLoginOutcomes.size(); ++i)
        m_logins[i] = &logins.Add({{"outcome", kLoginOutcomes[i]}});
    m_failedLoginAddresses = &gauge(*m_registry, "rqc_login_failure_addresses",
                                    "Client addresses with a refused login in the last 15 minutes");

    m_consolidationLines = &counter(*m_registry, "rqc_consolidation_lines_total",
                                    "Request lines taken by consolidations");
    m_consolidationProducts = &counter(*m_registry, "rqc_consolidation_products_total",
                                       "Products of the consolidated requests made");
    m_consolidationSeconds =
        &histogram(*m_registry, "rqc_consolidation_duration_seconds",
                   "Time of each consolidation that made a request", kConsolidationBuckets);

    auto& caps = BuildCounter()
                     .Name("rqc_connections_refused_total")
                     .Help("Connections refused by a cap, by cap")
                     .Register(*m_registry);
    for (std::size_t i = 0; i < kCaps.size(); ++i)
        m_capRefusals[i] = &caps.Add({{"cap", kCaps[i]}});
    m_connectionsOpen = &gauge(*m_registry, "rqc_connections_open", "Client connections open");
    m_connectionsWaiting = &gauge(*m_registry, "rqc_connections_waiting_login",
                                  "Client connections open and not logged in yet");

    m_writeQueueLength = &gauge(*m_registry, "rqc_write_queue_length",
                                "Calls waiting for the SQLite file's write turn");
    m_writeQueueWait = &histogram(*m_registry, "rqc_write_queue_wait_seconds",
                                  "Time a writing call waited for its turn", kWaitBuckets);
    m_writeQueueRefused = &counter(*m_registry, "rqc_write_queue_refused_total",
                                   "Writing calls refused: the queue full or the wait too long");

    m_reconnects = &counter(*m_registry, "rqc_database_reconnects_total",
                            "Database connections opened again after one broke or landed on "
                            "a server that accepts no writes");
    auto& settled = BuildCounter()
                        .Name("rqc_database_cut_commits_total")
                        .Help(
                            "Commits cut by the loss of the database server, by what asking "
                            "again found")
                        .Register(*m_registry);
    for (std::size_t i = 0; i < kSettlements.size(); ++i)
        m_settled[i] = &settled.Add({{"settled", kSettlements[i]}});

    BuildGauge()
        .Name("rqc_build_info")
        .Help("The server's version")
        .Register(*m_registry)
        .Add({{"version", std::string(version)}})
        .Set(1);
    m_schemaVersion =
        &gauge(*m_registry, "rqc_schema_version", "The database schema version found at start");
}

Metrics::MethodSeries& Metrics::seriesOf(std::string_view object, std::string_view method) {
    std::string name;
    name.reserve(object.size() + 1 + method.size());
    name.append(object).append(".").append(method);
    auto it = m_methods.find(name);
    return it == m_methods.end() ? m_other : it->second;
}

void Metrics::call(std::string_view object, std::string_view method, CallOutcome outcome,
                   std::chrono::duration<double> took) {
    MethodSeries& s = seriesOf(object, method);
    s.outcomes[static_cast<std::size_t>(outcome)]->Increment();
    s.duration->Observe(took.count());
}

void Metrics::login(LoginOutcome outcome, std::string_view address) {
    m_logins[static_cast<std::size_t>(outcome)]->Increment();
    if (outcome != LoginOutcome::Refused && outcome != LoginOutcome::Throttled)
        return;
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(m_mutex);
    auto it = m_failedAddresses.find(address);
    if (it != m_failedAddresses.end()) {
        it->second = now;
        return;
    }
    if (m_failedAddresses.size() >= kMaxFailedAddresses)
        forgetOldFailures(now);
    if (m_failedAddresses.size() < kMaxFailedAddresses)
        m_failedAddresses.emplace(address, now);
}

void Metrics::forgetOldFailures(std::chrono::steady_clock::time_point now) {
    std::erase_if(m_failedAddresses,
                  [now](const auto& a) { return now - a.second > kFailedLoginWindow; });
}

void Metrics::consolidation(std::int64_t lines, std::int64_t products,
                            std::chrono::duration<double> took) {
    m_consolidationLines->Increment(static_cast<double>(lines));
    m_consolidationProducts->Increment(static_cast<double>(products));
    m_consolidationSeconds->Observe(took.count());
}

void Metrics::connectionRefused(CapRefusal cap) {
    m_capRefusals[static_cast<std::size_t>(cap)]->Increment();
}

void Metrics::writeTurnWaited(std::chrono::duration<double> waited) {
    m_writeQueueWait->Observe(waited.count());
}

void Metrics::writeTurnRefused() {
    m_writeQueueRefused->Increment();
}

void Metrics::databaseReconnect() {
    m_reconnects->Increment();
}

void Metrics::schemaVersion(int version) {
    m_schemaVersion->Set(version);
}

void Metrics::addSampler(const void* owner, std::function<void(Metrics&)> sampler) {
    std::lock_guard lock(m_mutex);
    m_samplers.emplace_back(owner, std::move(sampler));
}

void Metrics::removeSamplers(const void* owner) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_samplers, [owner](const auto& s) { return s.first == owner; });
}

void Metrics::connections(std::size_t open, std::size_t waitingForLogin) {
    m_connectionsOpen->Set(static_cast<double>(open));
    m_connectionsWaiting->Set(static_cast<double>(waitingForLogin));
}

void Metrics::writeQueueLength(std::size_t waiting) {
    m_writeQueueLength->Set(static_cast<double>(waiting));
}

std::string Metrics::scrape() {
    std::lock_guard lock(m_mutex);
    for (auto& [owner, sampler] : m_samplers)
        sampler(*this);
    forgetOldFailures(std::chrono::steady_clock::now());
    m_failedLoginAddresses->Set(static_cast<double>(m_failedAddresses.size()));
    // Settled commits are counted where they happen, in the database layer.
    const suitedb::CommitSettlements s = suitedb::commitSettlements();
    const std::array<std::uint64_t, 3> now{s.committed, s.notCommitted, s.unknown};
    for (std::size_t i = 0; i < now.size(); ++i) {
        m_settled[i]->Increment(static_cast<double>(now[i] - m_settledSeen[i]));
        m_settledSeen[i] = now[i];
    }
    return prometheus::TextSerializer().Serialize(m_registry->Collect());
}

}  // namespace rqc::appserver
