// A PostgreSQL primary with a synchronous standby (tests/pg_cluster.sh), one rqc-appserver on
// the multi-host target: the 250,000-line consolidation (central 0001, the generated set's
// 120 days) with the standby synchronous and asynchronous, alternately, each from the pristine
// set; then the time from SIGKILL of the primary to the first consolidation answered by the
// promoted standby, promotion included.
//   bench_failover [--rounds N]
// Environment: RQC_BENCH_LINES (default 1,000,000), RQC_BIN_DIR.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "bench_support.h"
#include "demo_calls.h"
#include "pg_cluster_process.h"
#include "protocol/client.h"
#include "server_process.h"
#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"

namespace {

using namespace rqc;
using bench::env;
using protocol::Argument;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const suitedb::Date kToday = suitedb::parseIsoDate("2024-06-01");

// GetConsSoli of central 0001's never-taken lines delivered from `first` to `last` days
// around today: (-60, 59) takes every one of them, 250,000 of 1,000,000.
protocol::CallRequest consolidation(int first, int last) {
    auto day = [](int offset) {
        return protocol::dateFromIso(suitedb::isoDate(kToday + std::chrono::days(offset))).value();
    };
    protocol::CallRequest c;
    c.object = "Rqc04100.rdmConsolidaSolicita";
    c.user = "bench";
    c.args = test::demoConsSoliArguments(day(first), day(last), day(0), std::string(20, 'Z'));
    c.descriptor = protocol::CallDescriptor::forArguments("GetConsSoli", c.args);
    return c;
}

// The URL with another database name, its parameters kept.
std::string database(const std::string& url, const std::string& name) {
    const std::size_t query = url.find('?');
    const std::size_t slash = url.rfind('/', query);
    return url.substr(0, slash + 1) + name + (query == std::string::npos ? "" : url.substr(query));
}

// Seconds of one call through a fresh connection; prints the failure and returns -1.
double timedCall(std::uint16_t port, const protocol::CallRequest& call) {
    test::TestClient client;
    client.connect("127.0.0.1", port);
    const auto start = Clock::now();
    const protocol::CallResult r = client.call(call);
    if (r.kind != protocol::CallResult::Kind::Text || r.text.empty()) {
        std::printf("  consolidation failed: %s\n", r.text.c_str());
        return -1;
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 2;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--rounds")
            rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    if (!test::PgClusterProcess::installed()) {
        std::printf("bench_failover needs PostgreSQL 15; skipped\n");
        return 0;
    }
    bench::useBuiltPrograms();
    const std::int64_t lines = std::stoll(env("RQC_BENCH_LINES", "1000000"));
    test::PgClusterProcess primary(test::PgClusterProcess::Role::Primary);
    auto standby = test::PgClusterProcess::standbyOf(primary);
    auto admin = suitedb::Connection::open(primary.url());
    const std::string tpl = "rqcbench_failover_tpl", work = "rqcbench_failover";
    std::printf("generating %lld lines ...\n", static_cast<long long>(lines));
    std::fflush(stdout);
    admin->exec("CREATE DATABASE " + tpl + " TEMPLATE template0");
    {
        auto db = suitedb::Connection::open(database(primary.url(), tpl));
        suitedb::applySchema(*db);
        suitedb::generateLarge(*db, lines, kToday);
        db->exec("VACUUM ANALYZE");
    }
    char dirTemplate[] = "/tmp/bench_failover.XXXXXX";
    const fs::path dir = ::mkdtemp(dirTemplate);
    const std::string target =
        database(test::PgClusterProcess::failoverUrl(primary, *standby), work);
    auto fresh = [&] {
        admin->exec("DROP DATABASE IF EXISTS " + work + " WITH (FORCE)");
        admin->exec("CREATE DATABASE " + work + " TEMPLATE " + tpl);
        admin->exec("CHECKPOINT");
    };

    std::printf("%-44s %12s\n", "250,000-line consolidation, one server", "seconds");
    for (int round = 0; round < rounds; ++round) {
        for (const char* names : {"rqc_standby", ""}) {
            admin->exec(std::string("ALTER SYSTEM SET synchronous_standby_names = '") + names +
                        "'");
            admin->exec("SELECT pg_reload_conf()");
            fresh();
            test::ServerProcess server({target, dir.string(), {"--threads", "2"}});
            server.start();
            const double s = timedCall(server.port(), consolidation(-60, 59));
            std::printf("%-44s %12.2f\n",
                        *names ? "  standby synchronous (remote flush)" : "  standby asynchronous",
                        s);
            std::fflush(stdout);
            server.terminate();
        }
    }

    admin->exec("ALTER SYSTEM SET synchronous_standby_names = 'rqc_standby'");
    admin->exec("SELECT pg_reload_conf()");
    fresh();
    admin.reset();
    test::ServerProcess server({target, dir.string(), {"--threads", "2"}});
    server.start();
    if (timedCall(server.port(), consolidation(-60, -59)) < 0)
        return 1;
    const auto lost = Clock::now();
    primary.run("kill");
    std::thread promote([&] { standby->run("promote"); });
    double first = -1;
    for (int day = -58; day < 59 && first < 0; ++day) {
        try {
            if (timedCall(server.port(), consolidation(day, day)) >= 0)
                first = std::chrono::duration<double>(Clock::now() - lost).count();
        } catch (const std::exception& e) {
            std::printf("  call failed: %s\n", e.what());
        }
    }
    promote.join();
    std::printf("%-44s %12.2f\n", "primary lost -> first consolidation answered", first);
    server.terminate();
    fs::remove_all(dir);
    return first < 0 ? 1 : 0;
}
