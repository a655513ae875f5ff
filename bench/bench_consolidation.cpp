// GetConsSoli on the generated 1,000,000-line set, on SQLite and PostgreSQL, for about
// 10,000 / 50,000 / 250,000 selected lines: the floor (the bare set-based transaction that
// selects, aggregates, inserts the lines and the links in key order and marks the same lines,
// on the current schema), the engine in process and through a real server on the current
// schema, and the engine on a version 1 database. Every iteration starts from the pristine set;
// the summary at the end compares each figure with the floor and with version 1.
//
// Environment: RQC_BENCH_DIR (data cache, default /tmp/rqc-bench-consolidation),
// RQC_BENCH_PG_URL or RQC_TEST_PG_URL (PostgreSQL cluster; without it only SQLite runs),
// RQC_BENCH_LINES (generated lines, default 1,000,000), RQC_BIN_DIR (rqc-appserver for the
// runs through a real server; skipped when the binary is missing).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "appserver/consolidation_engine.h"
#include "bench_support.h"
#include "demo_calls.h"
#include "protocol/client.h"
#include "server_process.h"
#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"

namespace fs = std::filesystem;
namespace sdb = rqc::suitedb;
using rqc::bench::env;
using rqc::protocol::Argument;

namespace {

const sdb::Date kToday = sdb::parseIsoDate("2024-06-01");
constexpr const char* kCentral = "0001";

std::int64_t generatedLines() {
    return std::stoll(env("RQC_BENCH_LINES", "1000000"));
}
fs::path dataDir() {
    return env("RQC_BENCH_DIR", "/tmp/rqc-bench-consolidation");
}
std::string pgAdminUrl() {
    return env("RQC_BENCH_PG_URL", env("RQC_TEST_PG_URL"));
}

std::string withDatabase(const std::string& url, const std::string& db) {
    std::size_t scheme = url.find("://");
    std::size_t slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    std::size_t q = url.find('?');
    std::string query = q == std::string::npos ? "" : url.substr(q);
    return url.substr(0, slash) + "/" + db + query;
}

// Peak resident set of a process since the last reset, in MiB.
void resetPeakRss(pid_t pid) {
    std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5";
}
// A field of /proc/<pid>/status in MiB ("VmHWM": peak resident set since the last reset,
// file-backed pages included; "RssAnon": anonymous memory now).
double statusMiB(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0)
            return std::stod(line.substr(field.size() + 1)) / 1024.0;
    }
    return 0;
}

// Samples a process's anonymous memory every few milliseconds while it lives.
class AnonSampler {
  public:
    explicit AnonSampler(pid_t pid)
        : m_thread([this, pid] {
              while (!m_stop.load()) {
                  m_peak = std::max(m_peak.load(), statusMiB(pid, "RssAnon"));
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
              }
          }) {}
    ~AnonSampler() { stop(); }
    double stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_peak;
    }

  private:
    std::atomic<bool> m_stop{false};
    std::atomic<double> m_peak{0};
    std::thread m_thread;
};

// --- Data sets ---------------------------------------------------------------------------

struct Window {
    std::string first, last;  // delivery dates
    std::int64_t lines = 0;   // never-consolidated lines of the central branch in the window
};

class DataSet {
  public:
    explicit DataSet(int version) : m_version(version) {}
    virtual ~DataSet() = default;
    virtual std::string name() const = 0;
    int version() const { return m_version; }
    // A connection to a fresh copy of the pristine set.
    virtual std::string restore() = 0;
    // Delivery windows of the central branch holding about `target` lines each.
    Window window(std::int64_t target) {
        auto it = m_windows.find(target);
        if (it != m_windows.end())
            return it->second;
        auto c = sdb::Connection::open(restore());
        auto days = c->query(
            "SELECT s.DTENTREGA, COUNT(*) FROM ITSOLICMP it JOIN SOLICMP s ON"
            " s.CDFILSOLI = it.CDFILSOLI AND s.CDFILLANCA = it.CDFILLANCA AND"
            " s.NRSOLICMP = it.NRSOLICMP JOIN FILIAL f ON f.CDFILIAL = it.CDFILSOLI"
            " WHERE COALESCE(f.CDFILCENTCMP, f.CDFILIAL) = ? AND it.NRCONSSOLI IS NULL"
            " GROUP BY s.DTENTREGA ORDER BY s.DTENTREGA",
            {std::string(kCentral)});
        Window w;
        while (days->next()) {
            std::string day(days->text(0));
            if (w.first.empty())
                w.first = day;
            std::int64_t n = days->int64(1);
            if (w.lines > 0 && w.lines + n / 2 > target)
                break;
            w.last = day;
            w.lines += n;
        }
        m_windows[target] = w;
        return w;
    }

  private:
    int m_version;
    std::map<std::int64_t, Window> m_windows;
};

class SqliteSet : public DataSet {
  public:
    explicit SqliteSet(int version) : DataSet(version) {
        fs::create_directories(dataDir());
        std::string tag = "v" + std::to_string(version) + "-" + std::to_string(generatedLines());
        m_pristine = dataDir() / ("pristine-" + tag + ".db");
        m_work = dataDir() / ("work-" + tag + ".db");
        if (!fs::exists(m_pristine)) {
            fs::path tmp = m_pristine.string() + ".tmp";
            fs::remove(tmp);
            {
                auto c = sdb::Connection::open(tmp.string());
                sdb::applySchemaUpTo(*c, version);
                sdb::generateLarge(*c, generatedLines(), kToday);
                c->exec("PRAGMA wal_checkpoint(TRUNCATE)");
            }
            fs::rename(tmp, m_pristine);
        }
    }
    std::string name() const override { return "SQLite"; }
    std::string restore() override {
        for (const char* suffix : {"", "-wal", "-shm"})
            fs::remove(m_work.string() + suffix);
        fs::copy_file(m_pristine, m_work);
        return m_work.string();
    }

  private:
    fs::path m_pristine, m_work;
};

class PostgresSet : public DataSet {
  public:
    explicit PostgresSet(int version)
        : DataSet(version), m_admin(sdb::Connection::open(pgAdminUrl())) {
        m_template =
            "rqcbench_tpl_v" + std::to_string(version) + "_" + std::to_string(generatedLines());
    }
    ~PostgresSet() override {
        m_admin->exec("DROP DATABASE IF EXISTS " + work() + " WITH (FORCE)");
    }
    std::string name() const override { return "PostgreSQL"; }
    std::string restore() override {
        makeTemplate();
        m_admin->exec("DROP DATABASE IF EXISTS " + work() + " WITH (FORCE)");
        m_admin->exec("CREATE DATABASE " + work() + " TEMPLATE " + m_template +
                      " STRATEGY FILE_COPY");
        return withDatabase(pgAdminUrl(), work());
    }

  private:
    // The pristine set, generated on first use (a run filtered to SQLite makes none).
    void makeTemplate() {
        if (m_made)
            return;
        auto c = m_admin->query("SELECT COUNT(*) FROM pg_database WHERE datname = ?", {m_template});
        c->next();
        bool exists = c->int64(0) > 0;
        if (!exists) {
            m_admin->exec("DROP DATABASE IF EXISTS " + m_template + "_tmp");
            m_admin->exec("CREATE DATABASE " + m_template + "_tmp TEMPLATE template0");
            {
                auto db = sdb::Connection::open(withDatabase(pgAdminUrl(), m_template + "_tmp"));
                sdb::applySchemaUpTo(*db, version());
                sdb::generateLarge(*db, generatedLines(), kToday);
                db->exec("VACUUM ANALYZE");
            }
            m_admin->exec("ALTER DATABASE " + m_template + "_tmp RENAME TO " + m_template);
        }
        m_made = true;
    }
    std::string work() const { return "rqcbench_work_v" + std::to_string(version()); }
    std::unique_ptr<sdb::Connection> m_admin;
    std::string m_template;
    bool m_made = false;
};

// --- The runs ----------------------------------------------------------------------------

std::vector<Argument> consSoliArguments(const Window& w) {
    auto day = [](const std::string& iso) { return rqc::protocol::dateFromIso(iso).value(); };
    return rqc::test::demoConsSoliArguments(day(w.first), day(w.last), day(sdb::isoDate(kToday)),
                                            std::string(20, 'Z'));
}

// The floor: the same lines selected, summed per product, written (links in key order) and
// marked by the plainest statements that do it fastest: typed work table, a 64 MiB page cache
// and marks by rowid on SQLite; marks by key on PostgreSQL.
std::string bareConsolidation(sdb::Connection& db, const Window& w) {
    bool pg = db.engine() == sdb::Engine::Postgres;
    if (!pg)
        db.exec("PRAGMA cache_size = -65536");
    sdb::Transaction tx(db);
    db.exec(pg ? "CREATE TEMP TABLE b_sel (CDFILSOLI VARCHAR(4), CDFILLANCA VARCHAR(4),"
                 " NRSOLICMP VARCHAR(10), NRITEM INTEGER, CDPRODUTO VARCHAR(10),"
                 " QTSOLICITADA NUMERIC(15,3)) ON COMMIT DROP"
               : "CREATE TEMP TABLE IF NOT EXISTS b_sel (RID INTEGER NOT NULL,"
                 " CDFILSOLI VARCHAR(4) NOT NULL, CDFILLANCA VARCHAR(4) NOT NULL,"
                 " NRSOLICMP VARCHAR(10) NOT NULL, NRITEM INTEGER NOT NULL,"
                 " CDPRODUTO VARCHAR(10) NOT NULL, QTSOLICITADA NUMERIC(15,3) NOT NULL);"
                 " DELETE FROM b_sel");
    db.execute(std::string("INSERT INTO b_sel SELECT ") + (pg ? "" : "it.rowid, ") +
                   "it.CDFILSOLI, it.CDFILLANCA, it.NRSOLICMP, it.NRITEM,"
                   " it.CDPRODUTO, it.QTSOLICITADA FROM ITSOLICMP it JOIN SOLICMP s ON"
                   " s.CDFILSOLI = it.CDFILSOLI AND s.CDFILLANCA = it.CDFILLANCA AND"
                   " s.NRSOLICMP = it.NRSOLICMP JOIN FILIAL f ON f.CDFILIAL = it.CDFILSOLI"
                   " WHERE COALESCE(f.CDFILCENTCMP, f.CDFILIAL) = ? AND s.DTENTREGA >= ?"
                   " AND s.DTENTREGA <= ? AND it.NRCONSSOLI IS NULL",
               {std::string(kCentral), w.first, w.last});
    std::string nr;
    {
        auto n = db.query(
            "UPDATE NUMERACAO SET NRULTIMO = NRULTIMO + 1 WHERE CDSEQUENCIA = 'CONSSOLI'"
            " RETURNING NRULTIMO");
        n->next();
        char number[24];
        std::snprintf(number, sizeof number, "%010lld", static_cast<long long>(n->int64(0)));
        nr = number;
    }
    db.execute("INSERT INTO CONSSOLI (NRCONSSOLI, CDFILIAL, CDFILCENTCMP) VALUES (?, ?, ?)",
               {nr, std::string(kCentral), std::string(kCentral)});
    db.execute(
        "INSERT INTO ITCONSSOLI (NRCONSSOLI, CDPRODUTO, QTSOLICITADA, QTLIMITESEG, QTESTOQUE,"
        " QTAF, QTCONSABERTA, QTARREDONDA, QTCONSOLIDADA) SELECT CAST(? AS VARCHAR(10)),"
        " CDPRODUTO, SUM(QTSOLICITADA), 0, 0, 0, 0, 0, SUM(QTSOLICITADA) FROM b_sel"
        " GROUP BY CDPRODUTO",
        {nr});
    db.execute(
        "INSERT INTO ITCONSSOLIORIG SELECT CAST(? AS VARCHAR(10)), CDFILSOLI, CDFILLANCA,"
        " NRSOLICMP, NRITEM, CDPRODUTO, QTSOLICITADA FROM b_sel"
        " ORDER BY CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM",
        {nr});
    db.execute(pg ? "UPDATE ITSOLICMP it SET NRCONSSOLI = ? FROM b_sel s WHERE"
                    " it.CDFILSOLI = s.CDFILSOLI AND it.CDFILLANCA = s.CDFILLANCA AND"
                    " it.NRSOLICMP = s.NRSOLICMP AND it.NRITEM = s.NRITEM"
                  : "UPDATE ITSOLICMP SET NRCONSSOLI = ? WHERE rowid IN (SELECT RID FROM b_sel)",
               {nr});
    tx.commit();
    return nr;
}

bool serverAvailable() {
    return fs::exists(rqc::test::ServerProcess::binary("rqc-appserver"));
}

enum class Method { Engine, Bare, Server };

// Median seconds and server memory per (engine, label, size), for the summary.
struct Figure {
    double seconds = 0;
    double anonMiB = 0;
    double keptMiB = 0;  // anonymous memory the process holds after the run beyond before it
};
std::map<std::string, Figure> g_figures;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void runConsolidation(benchmark::State& state, DataSet& set, Method method, std::int64_t target,
                      const std::string& key) {
    Window w = set.window(target);
    std::vector<double> times;
    std::int64_t linked = 0;
    double peak = 0;
    double peakAnon = 0;
    double kept = 0;
    for (auto _ : state) {
        std::string target = set.restore();
        std::unique_ptr<rqc::test::ServerProcess> server;
        std::unique_ptr<rqc::test::TestClient> client;
        std::unique_ptr<sdb::Connection> db;
        pid_t measured = ::getpid();
        if (method == Method::Server) {
            rqc::test::ServerProcess::Options options;
            options.db = target;
            options.workDir = (dataDir() / "server").string();
            server = std::make_unique<rqc::test::ServerProcess>(options);
            server->start();
            client = std::make_unique<rqc::test::TestClient>();
            client->connect("127.0.0.1", server->port());
            measured = server->pid();
        } else {
            db = sdb::Connection::open(target);
        }
        resetPeakRss(measured);
        const double anonBefore = statusMiB(measured, "RssAnon");
        AnonSampler sampler(measured);

        auto started = std::chrono::steady_clock::now();
        std::string number;
        if (method == Method::Engine) {
            number = rqc::appserver::runGetConsSoli(*db, consSoliArguments(w), "bench");
        } else if (method == Method::Bare) {
            number = bareConsolidation(*db, w);
        } else {
            rqc::protocol::CallRequest call;
            call.object = "Rqc04100.rdmConsolidaSolicita";
            call.user = "bench";
            call.args = consSoliArguments(w);
            call.descriptor = rqc::protocol::CallDescriptor::forArguments("GetConsSoli", call.args);
            auto result = client->call(call);
            if (result.kind != rqc::protocol::CallResult::Kind::Text) {
                state.SkipWithError(("server: " + result.text).c_str());
                break;
            }
            number = result.text;
        }
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        state.SetIterationTime(seconds);
        times.push_back(seconds);
        peak = std::max(peak, statusMiB(measured, "VmHWM"));
        peakAnon = std::max(peakAnon, sampler.stop());
        kept = std::max(kept, statusMiB(measured, "RssAnon") - anonBefore);

        auto check = sdb::Connection::open(target);
        auto c = check->query("SELECT COUNT(*) FROM ITCONSSOLIORIG WHERE NRCONSSOLI = ?", {number});
        c->next();
        linked = c->int64(0);
    }
    state.counters["lines"] = static_cast<double>(linked);
    state.counters["lines_per_s"] = benchmark::Counter(
        static_cast<double>(linked), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["peak_rss_MiB"] = peak;
    state.counters["peak_anon_MiB"] = peakAnon;
    state.counters["kept_anon_MiB"] = kept;
    g_figures[key] = {median(times), peakAnon, kept};
}

void printSummary(const std::vector<std::string>& engines, const std::int64_t (&targets)[3]) {
    std::printf("\n%-10s %8s %9s %9s %9s %9s %9s %9s %12s %10s\n", "engine", "lines", "floor s",
                "engine s", "server s", "v1 s", "srv/floor", "v1/srv", "server MiB", "kept MiB");
    for (const auto& e : engines) {
        for (std::int64_t t : targets) {
            auto at = [&](const char* label) {
                auto it = g_figures.find(e + "/" + label + "/" + std::to_string(t));
                return it == g_figures.end() ? Figure{} : it->second;
            };
            Figure floor = at("Floor"), engine = at("GetConsSoli"), server = at("Server"),
                   v1 = at("GetConsSoliV1");
            if (floor.seconds == 0 && engine.seconds == 0 && server.seconds == 0)
                continue;  // not run (filtered out)
            auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
            std::printf("%-10s %8lld %9.3f %9.3f %9.3f %9.3f %9.2f %9.2f %12.1f %10.1f\n",
                        e.c_str(), static_cast<long long>(t), floor.seconds, engine.seconds,
                        server.seconds, v1.seconds, ratio(server.seconds, floor.seconds),
                        ratio(v1.seconds, server.seconds), server.anonMiB, server.keptMiB);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    rqc::bench::useBuiltPrograms();
    fs::create_directories(dataDir() / "server");
    // Per engine: the current schema, then version 1 (built with step 1 only, then loaded).
    std::vector<std::pair<std::unique_ptr<DataSet>, std::unique_ptr<DataSet>>> sets;
    sets.emplace_back(std::make_unique<SqliteSet>(sdb::kSchemaVersion),
                      std::make_unique<SqliteSet>(1));
    if (!pgAdminUrl().empty()) {
        sets.emplace_back(std::make_unique<PostgresSet>(sdb::kSchemaVersion),
                          std::make_unique<PostgresSet>(1));
    }

    const std::int64_t targets[] = {10'000, 50'000, 250'000};
    struct Run {
        Method method;
        const char* label;
        bool version1;
    };
    const Run runs[] = {{Method::Bare, "Floor", false},
                        {Method::Engine, "GetConsSoli", false},
                        {Method::Server, "Server", false},
                        {Method::Engine, "GetConsSoliV1", true}};
    std::vector<std::string> engines;
    for (auto& [current, version1] : sets) {
        engines.push_back(current->name());
        for (std::int64_t target : targets) {
            for (const Run& run : runs) {
                if (run.method == Method::Server && !serverAvailable())
                    continue;
                std::string name = current->name() + "/" + run.label + "/" + std::to_string(target);
                DataSet* s = run.version1 ? version1.get() : current.get();
                benchmark::RegisterBenchmark(
                    name.c_str(),
                    [s, method = run.method, target, name](benchmark::State& st) {
                        runConsolidation(st, *s, method, target, name);
                    })
                    ->UseManualTime()
                    ->Unit(benchmark::kMillisecond)
                    ->Iterations(3);
            }
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    printSummary(engines, targets);
    benchmark::Shutdown();
    return 0;
}
