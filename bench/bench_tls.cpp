// What TLS costs on the wire, beside plain TCP in the same run (two rqc-appserver processes on
// one demo database, loopback): GetParaCmpSup median round trip on a warm connection, calls/s
// with concurrent clients, and the time to connect (TCP + TLS handshake, then + login).
// Certificates are made with the openssl command in a temporary folder.
//   bench_tls [--calls N] [--seconds S] [--clients C] [--connects K]

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

#include "bench_support.h"
#include "protocol/client.h"
#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"
#include "support/server_process.h"

namespace {

using namespace rqc;

protocol::CallRequest paraCmpSup() {
    protocol::CallRequest call;
    call.object = suitedb::kDemoObject;
    call.user = "bench";
    call.args = {protocol::Argument::byRef("0001")};
    call.descriptor = protocol::CallDescriptor::forArguments("GetParaCmpSup", call.args);
    return call;
}

struct Target {
    std::uint16_t port = 0;
    protocol::Client::TlsSettings tls;  // empty caFile: plain TCP
};

std::unique_ptr<test::TestClient> open(const Target& t, bool login = true) {
    auto c = std::make_unique<test::TestClient>();
    if (!login)
        c->setLogin("", "");
    c->setTls(t.tls);
    c->connect("127.0.0.1", t.port);
    return c;
}

void roundTrip(protocol::Client& c, const protocol::CallRequest& call) {
    const protocol::CallResult r = c.call(call);
    if (r.kind != protocol::CallResult::Kind::Packet || r.packet.rowCount() != 1)
        throw std::runtime_error("unexpected answer: " + r.text);
}

bench::Spread latency(const Target& t, int calls) {
    auto c = open(t);
    const auto call = paraCmpSup();
    for (int i = 0; i < calls / 20 + 100; ++i)
        roundTrip(*c, call);
    std::vector<double> us;
    us.reserve(calls);
    for (int i = 0; i < calls; ++i)
        us.push_back(bench::microseconds([&] { roundTrip(*c, call); }));
    return bench::spread(std::move(us));
}

double callsPerSecond(const Target& t, int clients, double seconds) {
    std::atomic<bool> go{false}, stop{false};
    std::atomic<long> total{0};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&] {
            auto c = open(t);
            const auto call = paraCmpSup();
            roundTrip(*c, call);
            ++ready;
            while (!go)
                std::this_thread::yield();
            long n = 0;
            while (!stop) {
                roundTrip(*c, call);
                ++n;
            }
            total += n;
        });
    }
    while (ready < clients)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto start = std::chrono::steady_clock::now();
    go = true;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (auto& th : threads)
        th.join();
    return static_cast<double>(total) /
           std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bench::Spread connectTime(const Target& t, int connects, bool login) {
    std::vector<double> us;
    for (int i = 0; i < connects; ++i)
        us.push_back(bench::microseconds([&] { open(t, login)->close(); }));
    return bench::spread(std::move(us));
}

int run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

}  // namespace

int main(int argc, char** argv) {
    bench::useBuiltPrograms();
    int calls = 10000, clients = 32, connects = 200;
    double seconds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--calls")
            calls = std::atoi(argv[i + 1]);
        else if (option == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else if (option == "--clients")
            clients = std::atoi(argv[i + 1]);
        else if (option == "--connects")
            connects = std::atoi(argv[i + 1]);
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "bench_tls.XXXXXX").string();
    const std::filesystem::path dir = ::mkdtemp(pattern.data());
    const auto file = [&](const char* name) { return (dir / name).string(); };
    { std::ofstream(file("san.cnf")) << "subjectAltName=DNS:localhost,IP:127.0.0.1\n"; }
    if (run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=BenchCA -keyout " +
            file("ca.key") + " -out " + file("ca.pem")) != 0 ||
        run("openssl req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout " +
            file("server.key") + " -out " + file("server.csr")) != 0 ||
        run("openssl x509 -req -days 2 -in " + file("server.csr") + " -CA " + file("ca.pem") +
            " -CAkey " + file("ca.key") + " -CAcreateserial -extfile " + file("san.cnf") +
            " -out " + file("server.pem")) != 0) {
        std::fprintf(stderr, "bench_tls: the openssl command failed\n");
        return 1;
    }
    const std::string db = file("suite.db");
    {
        auto c = suitedb::Connection::open(db);
        suitedb::applySchema(*c);
        suitedb::loadDemo(*c, suitedb::localToday());
    }
    std::filesystem::create_directories(dir / "plain");
    std::filesystem::create_directories(dir / "tls");
    test::ServerProcess plainServer({db, (dir / "plain").string(), {"--log-level", "warn"}});
    test::ServerProcess tlsServer({db,
                                   (dir / "tls").string(),
                                   {"--log-level", "warn", "--tls-cert", file("server.pem"),
                                    "--tls-key", file("server.key")}});
    plainServer.start();
    tlsServer.start();
    const Target plain{plainServer.port(), {}};
    const Target tls{tlsServer.port(), {file("ca.pem"), "localhost"}};

    std::printf("loopback, %d sequential calls, %d clients for %.1f s, %d connects\n", calls,
                clients, seconds, connects);
    std::printf("%-26s %10s %10s %10s %12s %12s %14s\n", "", "median us", "p99 us", "calls/s",
                "connect us", "p99 us", "+login us");
    double base[3] = {};
    for (const auto* t : {&plain, &tls}) {
        const bench::Spread l = latency(*t, calls);
        const double rate = callsPerSecond(*t, clients, seconds);
        const bench::Spread c = connectTime(*t, connects, false);
        const bench::Spread cl = connectTime(*t, connects, true);
        const bool isTls = t == &tls;
        std::printf("%-26s %10.1f %10.1f %10.0f %12.1f %12.1f %14.1f\n",
                    isTls ? "GetParaCmpSup, TLS 1.3" : "GetParaCmpSup, plain TCP", l.median, l.p99,
                    rate, c.median, c.p99, cl.median);
        if (!isTls) {
            base[0] = l.median;
            base[1] = rate;
            base[2] = c.median;
        } else {
            std::printf("%-26s %9.2fx %21.2fx %11.2fx\n", "  TLS / plain", l.median / base[0],
                        base[1] / rate, c.median / base[2]);
            std::printf(
                "aim: round trip and calls/s within 1.20x of plain once connected; "
                "connect + handshake under 50000 us\n");
        }
        std::fflush(stdout);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
