// Servers behind haproxy on one PostgreSQL database, with 1, 2 and 3 rqc-appserver processes:
// GetParaCmpSup calls per second with concurrent clients and the median round trip, both
// through the balancer and (as the reference) straight to one server; then the 250,000-line
// consolidation (central 0001, every line of the generated set's 120 days) through the balancer.
// Every server count starts from the pristine generated set.
//   bench_cluster [--seconds S] [--clients C] [--threads T] [--servers 1,2,3]
// Environment: RQC_BENCH_PG_URL or RQC_TEST_PG_URL (required), RQC_BENCH_LINES (default
// 1,000,000), RQC_BIN_DIR.

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>

#include "bench_support.h"
#include "haproxy_process.h"
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

std::string withDatabase(const std::string& url, const std::string& db) {
    std::size_t scheme = url.find("://");
    std::size_t slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    std::size_t q = url.find('?');
    return url.substr(0, slash) + "/" + db + (q == std::string::npos ? "" : url.substr(q));
}

protocol::CallRequest call(const std::string& method, std::vector<Argument> args) {
    protocol::CallRequest c;
    c.object = "Rqc04100.rdmConsolidaSolicita";
    c.user = "bench";
    c.args = std::move(args);
    c.descriptor = protocol::CallDescriptor::forArguments(method, c.args);
    return c;
}

// Every never-taken line of central 0001 in the generated set's 120 days: 250,000 of 1,000,000.
protocol::CallRequest consolidation250k() {
    auto day = [](int offset) {
        return Argument::ofDate(
            protocol::dateFromIso(suitedb::isoDate(kToday + std::chrono::days(offset))).value());
    };
    return call("GetConsSoli",
                {Argument::byValue("0001"), Argument::byRef(""), Argument::byRef("0001"),
                 Argument::byRef(""), Argument::byValue("0001"), Argument::byValue(""),
                 Argument::byValue(std::string(20, 'Z')), day(-60), day(59), Argument::byRef("N"),
                 Argument::byRef("N"), Argument::byRef("N"), day(0), Argument::byRef("T"),
                 Argument::byRef(""), Argument::byRef("N"), Argument::byRef("N"),
                 Argument::byRef("N"), Argument::byRef("N")});
}

// Every client of the benchmark logs in from one address at the same moment.
constexpr const char* kLoginsAtOnce = "100";

struct Rate {
    double perSecond = 0, medianUs = 0;
};

// `clients` threads, each on its own connection to `port`, for `seconds`; then the median
// of 2,000 sequential calls on one connection.
Rate measure(std::uint16_t port, int clients, double seconds) {
    const auto paraCmpSup = call("GetParaCmpSup", {Argument::byRef("0001")});
    std::atomic<bool> go{false}, stop{false};
    std::atomic<long> total{0};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < clients; ++t) {
        threads.emplace_back([&] {
            test::TestClient client;
            client.connect("127.0.0.1", port);
            client.call(paraCmpSup);
            ++ready;
            while (!go)
                std::this_thread::yield();
            long n = 0;
            while (!stop) {
                if (client.call(paraCmpSup).kind != protocol::CallResult::Kind::Packet)
                    throw std::runtime_error("GetParaCmpSup failed");
                ++n;
            }
            total += n;
        });
    }
    while (ready < clients)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto start = Clock::now();
    go = true;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (auto& t : threads)
        t.join();
    Rate r;
    r.perSecond =
        static_cast<double>(total) / std::chrono::duration<double>(Clock::now() - start).count();
    test::TestClient one;
    one.connect("127.0.0.1", port);
    for (int i = 0; i < 200; ++i)
        one.call(paraCmpSup);
    std::vector<double> us;
    for (int i = 0; i < 2000; ++i)
        us.push_back(bench::microseconds([&] { one.call(paraCmpSup); }));
    r.medianUs = bench::spread(std::move(us)).median;
    return r;
}

std::vector<int> parseList(const std::string& text) {
    std::vector<int> out;
    std::stringstream ss(text);
    for (std::string item; std::getline(ss, item, ',');)
        out.push_back(std::atoi(item.c_str()));
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 3;
    int clients = 32;
    std::string threads = "4", counts = "1,2,3";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else if (option == "--clients")
            clients = std::atoi(argv[i + 1]);
        else if (option == "--threads")
            threads = argv[i + 1];
        else if (option == "--servers")
            counts = argv[i + 1];
    }
    const std::string admin = env("RQC_BENCH_PG_URL", env("RQC_TEST_PG_URL"));
    if (admin.empty() || !test::HaproxyProcess::installed()) {
        std::printf("bench_cluster needs RQC_BENCH_PG_URL and haproxy; skipped\n");
        return 0;
    }
    bench::useBuiltPrograms();
    const std::int64_t lines = std::stoll(env("RQC_BENCH_LINES", "1000000"));
    auto adminDb = suitedb::Connection::open(admin);
    const std::string tpl = "rqcbench_cluster_tpl_" + std::to_string(lines);
    {
        auto c = adminDb->query("SELECT COUNT(*) FROM pg_database WHERE datname = ?", {tpl});
        c->next();
        if (c->int64(0) == 0) {
            std::printf("generating %lld lines into %s ...\n", static_cast<long long>(lines),
                        tpl.c_str());
            std::fflush(stdout);
            adminDb->exec("DROP DATABASE IF EXISTS " + tpl + "_tmp");
            adminDb->exec("CREATE DATABASE " + tpl + "_tmp TEMPLATE template0");
            {
                auto db = suitedb::Connection::open(withDatabase(admin, tpl + "_tmp"));
                suitedb::applySchema(*db);
                suitedb::generateLarge(*db, lines, kToday);
                db->exec("VACUUM ANALYZE");
            }
            adminDb->exec("ALTER DATABASE " + tpl + "_tmp RENAME TO " + tpl);
        }
    }
    const std::string work = "rqcbench_cluster_work";

    char dirTemplate[] = "/tmp/bench_cluster.XXXXXX";
    const fs::path dir = ::mkdtemp(dirTemplate);
    std::printf("loopback, %d clients for %.1f s, %s threads per server, %lld generated lines\n",
                clients, seconds, threads.c_str(), static_cast<long long>(lines));
    std::printf("%-32s %10s %10s %12s %12s\n", "", "calls/s", "median us", "250k cons s",
                "lines taken");
    for (int n : parseList(counts)) {
        adminDb->exec("DROP DATABASE IF EXISTS " + work + " WITH (FORCE)");
        adminDb->exec("CREATE DATABASE " + work + " TEMPLATE " + tpl + " STRATEGY FILE_COPY");
        const std::string url = withDatabase(admin, work);
        std::vector<std::unique_ptr<test::ServerProcess>> servers;
        std::vector<std::uint16_t> ports;
        for (int i = 0; i < n; ++i) {
            const fs::path sd = dir / ("s" + std::to_string(i + 1));
            fs::create_directories(sd);
            servers.push_back(std::make_unique<test::ServerProcess>(test::ServerProcess::Options{
                url,
                sd.string(),
                {"--threads", threads, "--trusted-proxies", "127.0.0.1",
                 "--max-unauthenticated-per-peer", kLoginsAtOnce},
                std::chrono::seconds(30)}));
            servers.back()->start();
            ports.push_back(servers.back()->port());
        }
        test::HaproxyProcess haproxy(dir, ports);
        haproxy.setProxyProtocol(true);
        haproxy.start();
        if (n == 1) {
            // The same server without the PROXY header, directly and through the balancer.
            const fs::path pd = dir / "plain";
            fs::create_directories(pd);
            test::ServerProcess plain(test::ServerProcess::Options{
                url,
                pd.string(),
                {"--threads", threads, "--max-unauthenticated-per-peer", kLoginsAtOnce},
                std::chrono::seconds(30)});
            plain.start();
            const Rate direct = measure(plain.port(), clients, seconds);
            std::printf("%-32s %10.0f %10.1f\n", "1 server, no balancer", direct.perSecond,
                        direct.medianUs);
            test::HaproxyProcess plainBalancer(pd, {plain.port()});
            plainBalancer.start();
            const Rate bare = measure(plainBalancer.port(), clients, seconds);
            std::printf("%-32s %10.0f %10.1f\n", "1 server, haproxy without PROXY", bare.perSecond,
                        bare.medianUs);
        }
        const Rate through = measure(haproxy.port(), clients, seconds);
        test::TestClient client;
        client.connect("127.0.0.1", haproxy.port());
        const auto start = Clock::now();
        const protocol::CallResult r = client.call(consolidation250k());
        const double took = std::chrono::duration<double>(Clock::now() - start).count();
        std::int64_t taken = 0;
        if (r.kind == protocol::CallResult::Kind::Text && !r.text.empty()) {
            auto db = suitedb::Connection::open(url);
            auto c =
                db->query("SELECT COUNT(*) FROM ITCONSSOLIORIG WHERE NRCONSSOLI = ?", {r.text});
            c->next();
            taken = c->int64(0);
        } else {
            std::printf("  consolidation failed: %s\n", r.text.c_str());
        }
        std::printf("%-32s %10.0f %10.1f %12.2f %12lld\n",
                    (std::to_string(n) + " server(s), haproxy PROXY v2").c_str(), through.perSecond,
                    through.medianUs, took, static_cast<long long>(taken));
        std::fflush(stdout);
        client.close();
        haproxy.stop();
        for (auto& s : servers)
            s->terminate();
    }
    adminDb->exec("DROP DATABASE IF EXISTS " + work + " WITH (FORCE)");
    fs::remove_all(dir);
    return 0;
}
