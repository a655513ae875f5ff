// GetParaCmpSup round trips through rqc-appserver against the floor of a raw blocking TCP echo
// of 32 bytes, both on loopback in the same run: median round trip on one warm connection,
// and calls per second with concurrent clients.
// With --held-run LINES instead: the spread of GetParaCmpSup from the clients on one SQLite
// server while one consolidation of a quarter of LINES generated lines holds the file's write
// turn and three more wait for it.
//   bench_paracmpsup [--calls N] [--seconds S] [--clients C] [--server-threads T]
//                    [--held-run LINES [--held-db FILE]]

#include <asio.hpp>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "bench_support.h"
#include "protocol/client.h"
#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"
#include "support/haproxy_process.h"
#include "support/server_process.h"

namespace {

using namespace rqc;
using asio::ip::tcp;
using bench::microseconds;

constexpr std::size_t kEchoBytes = 32;

// Child process: accepts on an ephemeral loopback port, one thread per connection echoing
// 32-byte messages; reports its port through `fd`. Ends when killed.
[[noreturn]] void runEchoServer(int fd) {
    asio::io_context io;
    tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    std::uint16_t port = acceptor.local_endpoint().port();
    if (::write(fd, &port, sizeof port) != sizeof port)
        ::_exit(1);
    ::close(fd);
    for (;;) {
        tcp::socket socket(io);
        acceptor.accept(socket);
        socket.set_option(tcp::no_delay(true));
        std::thread([s = std::move(socket)]() mutable {
            std::array<char, kEchoBytes> buf;
            std::error_code ec;
            while (!ec) {
                asio::read(s, asio::buffer(buf), ec);
                if (!ec)
                    asio::write(s, asio::buffer(buf), ec);
            }
        }).detach();
    }
}

class EchoServer {
  public:
    EchoServer() {
        int fds[2];
        if (::pipe(fds) != 0)
            throw std::runtime_error("pipe failed");
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            runEchoServer(fds[1]);
        }
        ::close(fds[1]);
        if (::read(fds[0], &m_port, sizeof m_port) != sizeof m_port) {
            throw std::runtime_error("echo server did not start");
        }
        ::close(fds[0]);
    }
    ~EchoServer() {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
    std::uint16_t port() const { return m_port; }
    pid_t pid() const { return m_pid; }

  private:
    pid_t m_pid = -1;
    std::uint16_t m_port = 0;
};

class EchoClient {
  public:
    explicit EchoClient(std::uint16_t port) : m_socket(m_io) {
        m_socket.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
        m_socket.set_option(tcp::no_delay(true));
        m_out.fill('x');
    }
    void roundTrip() {
        asio::write(m_socket, asio::buffer(m_out));
        asio::read(m_socket, asio::buffer(m_in));
    }

  private:
    asio::io_context m_io;
    tcp::socket m_socket;
    std::array<char, kEchoBytes> m_out{}, m_in{};
};

protocol::CallRequest paraCmpSup() {
    protocol::CallRequest call;
    call.object = "Rqc04100.rdmConsolidaSolicita";
    call.user = "bench";
    call.args = {protocol::Argument::byRef("0001")};
    call.descriptor = protocol::CallDescriptor::forArguments("GetParaCmpSup", call.args);
    return call;
}

// Median and p99 of `calls` sequential round trips after a warm-up.
template <class Client>
bench::Spread latency(Client& client, int calls) {
    for (int i = 0; i < calls / 20 + 100; ++i)
        client.roundTrip();
    std::vector<double> us;
    us.reserve(calls);
    for (int i = 0; i < calls; ++i)
        us.push_back(microseconds([&] { client.roundTrip(); }));
    return bench::spread(std::move(us));
}

// Calls per second with `clients` threads, each on its own connection, for `seconds`.
struct Rate {
    double perSecond = 0;
    double clientCpuUs = 0;  // CPU per call of this process (the clients)
    double serverCpuUs = 0;  // CPU per call of the server process
};

double selfCpuMs() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

template <class MakeClient>
Rate throughput(MakeClient make, int clients, double seconds, pid_t server) {
    std::atomic<bool> go{false}, stop{false};
    std::atomic<long> total{0};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < clients; ++t) {
        threads.emplace_back([&] {
            auto client = make();
            client->roundTrip();
            ++ready;
            while (!go)
                std::this_thread::yield();
            long n = 0;
            while (!stop) {
                client->roundTrip();
                ++n;
            }
            total += n;
        });
    }
    while (ready < clients)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto start = std::chrono::steady_clock::now();
    const double self0 = selfCpuMs(), server0 = bench::processCpuMs(server);
    go = true;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (auto& t : threads)
        t.join();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double calls = static_cast<double>(total);
    return {calls / elapsed, (selfCpuMs() - self0) * 1e3 / calls,
            (bench::processCpuMs(server) - server0) * 1e3 / calls};
}

struct ServerClient {
    explicit ServerClient(std::uint16_t port) : call(paraCmpSup()) {
        client.connect("127.0.0.1", port);
    }
    void roundTrip() {
        protocol::CallResult r = client.call(call);
        if (r.kind != protocol::CallResult::Kind::Packet || r.packet.rowCount() != 1) {
            throw std::runtime_error("unexpected answer: " + r.text);
        }
    }
    test::TestClient client;
    protocol::CallRequest call;
};

// The same call with a minimal blocking client (pre-encoded request, one read for the header
// and one for the body): what the server and the wire cost without the client package.
struct RawServerClient {
    explicit RawServerClient(std::uint16_t port) : socket(io) {
        socket.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
        socket.set_option(tcp::no_delay(true));
        logIn();
        auto body = protocol::encodeCall(paraCmpSup());
        protocol::appendFrameHeader(request, static_cast<std::uint32_t>(body.size()));
        request.insert(request.end(), body.begin(), body.end());
    }
    void logIn() {
        auto body = protocol::encodeLogin({suitedb::kDemoOperator, suitedb::kDemoPassword});
        std::vector<std::byte> frame;
        protocol::appendFrameHeader(frame, static_cast<std::uint32_t>(body.size()));
        frame.insert(frame.end(), body.begin(), body.end());
        asio::write(socket, asio::buffer(frame));
        std::array<std::byte, 4> header;
        asio::read(socket, asio::buffer(header));
        answer.resize(protocol::frameLength(header));
        asio::read(socket, asio::buffer(answer));
        if (protocol::decodeResult(answer).kind != protocol::CallResult::Kind::Text)
            throw std::runtime_error("login refused");
    }
    void roundTrip() {
        asio::write(socket, asio::buffer(request));
        std::array<std::byte, 4> header;
        asio::read(socket, asio::buffer(header));
        answer.resize(protocol::frameLength(header));
        asio::read(socket, asio::buffer(answer));
        if (protocol::decodeResult(answer).packet.rowCount() != 1) {
            throw std::runtime_error("unexpected answer");
        }
    }
    asio::io_context io;
    tcp::socket socket;
    std::vector<std::byte> request, answer;
};

// Every line of central 0001 in the generated set, taken again ("T") by each run.
protocol::CallRequest everyLineAgain() {
    using protocol::Argument;
    const auto day = [](int y, int m, int d) {
        return Argument::ofDate(protocol::dateFromYmd(y, m, d));
    };
    std::vector<Argument> a = {Argument::byValue("0001"),
                               Argument::byRef(""),
                               Argument::byRef("0001"),
                               Argument::byRef(""),
                               Argument::byValue("0001"),
                               Argument::byValue(""),
                               Argument::byValue(std::string(20, 'Z')),
                               day(2000, 1, 1),
                               day(2099, 12, 31),
                               Argument::byRef("N"),
                               Argument::byRef("T"),
                               Argument::byRef("N"),
                               day(2024, 6, 1),
                               Argument::byRef("T"),
                               Argument::byRef(""),
                               Argument::byRef("N"),
                               Argument::byRef("N"),
                               Argument::byRef("N"),
                               Argument::byRef("N")};
    protocol::CallRequest call;
    call.object = "Rqc04100.rdmConsolidaSolicita";
    call.user = "bench";
    call.descriptor = protocol::CallDescriptor::forArguments("GetConsSoli", a);
    call.args = std::move(a);
    return call;
}

// `db`: the generated file, made when missing and kept (generating takes a while).
void heldRun(long lines, int clients, const std::filesystem::path& dir, const std::string& db) {
    if (!std::filesystem::exists(db)) {
        auto c = suitedb::Connection::open(db);
        suitedb::applySchema(*c);
        suitedb::generateLarge(*c, lines, suitedb::parseIsoDate("2024-06-01"));
    }
    test::ServerProcess server({db, dir.string(), {"--threads", "4"}});
    server.start();
    std::vector<std::unique_ptr<ServerClient>> quick;
    for (int i = 0; i < clients; ++i)
        quick.push_back(std::make_unique<ServerClient>(server.port()));
    auto spreadOf = [&](const std::function<bool()>& more) {
        std::mutex mutex;
        std::vector<double> us;
        std::vector<std::thread> threads;
        for (auto& q : quick) {
            threads.emplace_back([&, q = q.get()] {
                while (more()) {
                    const double took = microseconds([&] { q->roundTrip(); });
                    std::lock_guard lock(mutex);
                    us.push_back(took);
                }
            });
        }
        for (auto& t : threads)
            t.join();
        return bench::spread(std::move(us));
    };
    const auto idleUntil = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    const bench::Spread idle =
        spreadOf([&] { return std::chrono::steady_clock::now() < idleUntil; });
    std::atomic<int> done{0};
    std::vector<std::thread> runs;
    const auto run = everyLineAgain();
    for (int i = 0; i < 4; ++i) {
        runs.emplace_back([&] {
            test::TestClient c;
            c.connect("127.0.0.1", server.port());
            c.call(run);
            ++done;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const auto started = std::chrono::steady_clock::now();
    const bench::Spread held = spreadOf([&] { return done == 0; });
    const double first =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    for (auto& t : runs)
        t.join();
    std::printf("%ld generated lines on SQLite, %d clients of GetParaCmpSup, 4 threads\n", lines,
                clients);
    std::printf("%-44s %9s %9s\n", "", "median us", "p99 us");
    std::printf("%-44s %9.1f %9.1f\n", "no run under way", idle.median, idle.p99);
    std::printf("%-44s %9.1f %9.1f   (first run %.1f s)\n",
                "one run holds the write turn, three wait", held.median, held.p99, first);
}

}  // namespace

int main(int argc, char** argv) {
    bench::useBuiltPrograms();
    int calls = 20000, clients = 32;
    double seconds = 3;
    std::string serverThreads;
    long heldLines = 0;
    std::string heldDb;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--calls") {
            calls = std::atoi(argv[i + 1]);
        } else if (option == "--seconds") {
            seconds = std::atof(argv[i + 1]);
        } else if (option == "--clients") {
            clients = std::atoi(argv[i + 1]);
        } else if (option == "--server-threads") {
            serverThreads = argv[i + 1];
        } else if (option == "--held-run") {
            heldLines = std::atol(argv[i + 1]);
        } else if (option == "--held-db") {
            heldDb = argv[i + 1];
        }
    }
    if (heldLines > 0) {
        char heldTemplate[] = "/tmp/bench_paracmpsup.XXXXXX";
        const std::filesystem::path heldDir = ::mkdtemp(heldTemplate);
        heldRun(heldLines, clients, heldDir,
                heldDb.empty() ? (heldDir / "held.db").string() : heldDb);
        std::filesystem::remove_all(heldDir);
        return 0;
    }
    EchoServer echo;  // forked before any thread exists

    char dirTemplate[] = "/tmp/bench_paracmpsup.XXXXXX";
    const std::filesystem::path dir = ::mkdtemp(dirTemplate);
    const std::string db = (dir / "suite.db").string();
    {
        auto c = suitedb::Connection::open(db);
        suitedb::applySchema(*c);
        suitedb::loadDemo(*c, suitedb::localToday());
    }

    std::printf("loopback, %d sequential calls for latency, %d clients for %.1f s for throughput\n",
                calls, clients, seconds);
    std::printf("%-34s %9s %9s %9s %13s %13s\n", "", "median us", "p99 us", "calls/s",
                "client CPU us", "server CPU us");
    auto report = [](const std::string& what, bench::Spread s, Rate r) {
        std::printf("%-34s %9.1f %9.1f %9.0f %13.1f %13.1f\n", what.c_str(), s.median, s.p99,
                    r.perSecond, r.clientCpuUs, r.serverCpuUs);
        std::fflush(stdout);
    };

    EchoClient echoClient(echo.port());
    const bench::Spread echoLatency = latency(echoClient, calls);
    const Rate echoRate = throughput([&] { return std::make_unique<EchoClient>(echo.port()); },
                                     clients, seconds, echo.pid());
    report("floor: blocking asio echo 32 B", echoLatency, echoRate);

    for (const char* level : {"info", "warn"}) {
        std::vector<std::string> extra = {"--log-level", level};
        if (!serverThreads.empty())
            extra.insert(extra.end(), {"--threads", serverThreads});
        test::ServerProcess server({db, dir.string(), extra});
        server.start();
        ServerClient one(server.port());
        const bench::Spread s = latency(one, calls);
        const Rate rate = throughput([&] { return std::make_unique<ServerClient>(server.port()); },
                                     clients, seconds, server.pid());
        report(std::string("GetParaCmpSup, log level ") + level, s, rate);
        std::printf("%-34s %8.2fx %19.2fx\n", "  ratio to the floor", s.median / echoLatency.median,
                    echoRate.perSecond / rate.perSecond);
        RawServerClient raw(server.port());
        const bench::Spread r = latency(raw, calls);
        const Rate rawRate =
            throughput([&] { return std::make_unique<RawServerClient>(server.port()); }, clients,
                       seconds, server.pid());
        report("  same, minimal blocking client", r, rawRate);
    }

    // Metrics on (scraped every second, as Prometheus would) against off, alternated in three
    // rounds; the median of each.
    std::vector<double> off, on;
    for (int round = 0; round < 3; ++round) {
        for (const bool metricsOn : {false, true}) {
            std::vector<std::string> extra;
            if (!serverThreads.empty())
                extra.insert(extra.end(), {"--threads", serverThreads});
            const std::uint16_t metricsPort = metricsOn ? test::freeLoopbackPort() : 0;
            if (metricsOn)
                extra.insert(extra.end(),
                             {"--metrics-listen", "127.0.0.1:" + std::to_string(metricsPort)});
            test::ServerProcess server({db, dir.string(), extra});
            server.start();
            std::atomic<bool> done{false};
            std::thread scraper([&] {
                while (metricsOn && !done) {
                    if (test::httpGet(metricsPort, "/metrics").find("rqc_calls_total") ==
                        std::string::npos)
                        throw std::runtime_error("no metrics on " + std::to_string(metricsPort));
                    for (int i = 0; i < 10 && !done; ++i)
                        std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
            });
            const Rate rate =
                throughput([&] { return std::make_unique<RawServerClient>(server.port()); },
                           clients, seconds, server.pid());
            done = true;
            scraper.join();
            (metricsOn ? on : off).push_back(rate.perSecond);
        }
    }
    const double offRate = bench::spread(off).median, onRate = bench::spread(on).median;
    std::printf(
        "GetParaCmpSup, minimal client, metrics off %9.0f calls/s, on %9.0f calls/s: "
        "cost %.1f%%\n",
        offRate, onRate, 100.0 * (offRate - onRate) / offRate);
    std::filesystem::remove_all(dir);
    return 0;
}
