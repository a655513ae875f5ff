// rqc-appserver as a real process on a loopback port: framing faults, concurrency, shutdown,
// start-up errors.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <thread>

#include "protocol/client.h"
#include "protocol/protocol.h"
#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"
#include "support/command.h"
#include "support/demo_calls.h"
#include "support/pg_database.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

namespace {

using namespace rqc;
using namespace std::chrono_literals;
using protocol::Argument;
using protocol::CallRequest;
using protocol::CallResult;
using test::makeCall;

CallRequest paraCmpSup(const std::string& branch) {
    return makeCall("GetParaCmpSup", {Argument::byRef(branch)});
}

CallRequest solicitacao(const std::string& list, const std::string& all) {
    return makeCall("GetSolicitacao", {Argument::ofDate(protocol::dateFromYmd(2024, 2, 14)),
                                       Argument::ofDate(protocol::dateFromYmd(2024, 4, 15)),
                                       Argument::byRef(list), Argument::byRef(all)});
}

// A raw loopback connection for sending bytes that no well-behaved client would send.
class RawConnection {
  public:
    explicit RawConnection(std::uint16_t port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval timeout{10, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        if (m_connected) {
            send(test::testLoginFrame());
            m_connected = readFrame().has_value();
        }
    }
    ~RawConnection() { ::close(m_fd); }
    bool connected() const { return m_connected; }

    void send(const std::vector<std::byte>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            done += static_cast<std::size_t>(n);
        }
    }
    void finishSending() { ::shutdown(m_fd, SHUT_WR); }

    // The next frame's body; nullopt when the server closed the connection instead.
    std::optional<std::vector<std::byte>> readFrame() {
        std::array<std::byte, 4> header{};
        if (!readExactly(header.data(), header.size()))
            return std::nullopt;
        std::vector<std::byte> body(protocol::frameLength(header));
        if (!readExactly(body.data(), body.size()))
            return std::nullopt;
        return body;
    }

    bool closedByServer() {
        std::byte b;
        return ::recv(m_fd, &b, 1, 0) <= 0;
    }

  private:
    bool readExactly(std::byte* p, std::size_t n) {
        while (n > 0) {
            ssize_t got = ::recv(m_fd, p, n, 0);
            if (got <= 0)
                return false;
            p += got;
            n -= static_cast<std::size_t>(got);
        }
        return true;
    }

    int m_fd = -1;
    bool m_connected = false;
};

std::vector<std::byte> frame(const std::vector<std::byte>& body) {
    std::vector<std::byte> out;
    protocol::appendFrameHeader(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<std::byte> bytes(std::string_view s) {
    std::vector<std::byte> out;
    for (char c : s)
        out.push_back(static_cast<std::byte>(c));
    return out;
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done())
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return done();
}

// Runs the server binary to completion with the given arguments; returns exit status and
// everything it printed.
std::pair<int, std::string> runServer(const std::string& args) {
    // A server that wrongly starts is stopped by `timeout` after 20 s instead of hanging the test.
    const test::CommandOutcome r =
        test::runCommand("timeout 20 " + test::ServerProcess::binary("rqc-appserver") + " " + args);
    return {r.exit, r.output};
}

class AppServerProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        test::makeDemoDatabase(m_dir.file("suite.db"));
        m_server = std::make_unique<test::ServerProcess>(
            test::ServerProcess::Options{m_dir.file("suite.db"),
                                         m_dir.path().string(),
                                         {"--max-frame", "262144", "--threads", "4"}});
        m_server->start();
    }

    test::TempDir m_dir;
    std::unique_ptr<test::ServerProcess> m_server;
};

}  // namespace

TEST_F(AppServerProcess, AnswersCallsAndLogsThem) {
    test::TestClient client;
    client.connect("127.0.0.1", m_server->port());
    CallResult r = client.call(paraCmpSup("0001"));
    ASSERT_EQ(r.kind, CallResult::Kind::Packet) << r.text;
    EXPECT_EQ(r.packet.rowCount(), 1u);
    r = client.call(paraCmpSup("0020"));
    ASSERT_EQ(r.kind, CallResult::Kind::Packet) << r.text;
    EXPECT_EQ(r.packet.rowCount(), 0u);
    r = client.call(makeCall("GetParaCmpSup", {Argument::byRef("1")}, "Rqc04100.rdmOther"));
    EXPECT_EQ(r.kind, CallResult::Kind::Error);
    EXPECT_NE(r.text.find("não conhece o objeto \"Rqc04100.rdmOther\""), std::string::npos)
        << r.text;
    r = client.call(solicitacao("", "T"));
    ASSERT_EQ(r.kind, CallResult::Kind::Packet) << r.text;
    EXPECT_GT(r.packet.rowCount(), 1000u);

    client.close();
    ASSERT_EQ(m_server->terminate(), 0);
    const std::string log = m_server->log();
    EXPECT_NE(log.find("listening on 127.0.0.1:" + std::to_string(m_server->port())),
              std::string::npos);
    EXPECT_NE(log.find("object=Rqc04100.rdmConsolidaSolicita method=GetParaCmpSup"),
              std::string::npos);
    EXPECT_NE(log.find("ms ok"), std::string::npos);
    EXPECT_NE(log.find("error: O servidor não conhece o objeto"), std::string::npos);
    EXPECT_NE(log.find("stopped"), std::string::npos);
}

TEST_F(AppServerProcess, BadFramesAffectOnlyTheirOwnConnection) {
    test::TestClient bystander;
    bystander.connect("127.0.0.1", m_server->port());

    auto otherVersion = protocol::encodeCall(paraCmpSup("0001"));
    otherVersion[2] = std::byte{9};
    std::vector<std::byte> oversized;
    protocol::appendFrameHeader(oversized, 1'000'000);
    std::vector<std::byte> truncated;
    protocol::appendFrameHeader(truncated, 100);
    truncated.resize(truncated.size() + 10, std::byte{1});

    struct Case {
        const char* name;
        std::vector<std::byte> sent;
        bool finishSending;
        const char* error;  // expected error result, or nullptr when no answer is due
        bool closed;        // the server closes the connection afterwards
    };
    const Case cases[] = {
        {"garbage body", frame(bytes("GET / HTTP/1.0\r\n\r\n")), false, "Pedido ilegível", false},
        {"empty body", frame({}), false, "Pedido ilegível", false},
        {"other protocol version", frame(otherVersion), false, "Versão de protocolo 9", true},
        {"oversized frame", oversized, false, "passa do limite de 262144 bytes do servidor", true},
        {"truncated body", truncated, true, nullptr, true},
        {"truncated header", {std::byte{5}, std::byte{0}}, true, nullptr, true},
    };
    for (const auto& k : cases) {
        RawConnection raw(m_server->port());
        ASSERT_TRUE(raw.connected()) << k.name;
        raw.send(k.sent);
        if (k.finishSending)
            raw.finishSending();
        if (k.error != nullptr) {
            auto body = raw.readFrame();
            ASSERT_TRUE(body.has_value()) << k.name << ": no answer";
            CallResult r = protocol::decodeResult(*body);
            EXPECT_EQ(r.kind, CallResult::Kind::Error) << k.name;
            EXPECT_NE(r.text.find(k.error), std::string::npos) << k.name << ": " << r.text;
        }
        if (k.closed) {
            EXPECT_TRUE(raw.closedByServer()) << k.name;
        } else {
            raw.send(frame(protocol::encodeCall(paraCmpSup("0001"))));
            auto body = raw.readFrame();
            ASSERT_TRUE(body.has_value()) << k.name << ": connection lost after the fault";
            EXPECT_EQ(protocol::decodeResult(*body).packet.rowCount(), 1u) << k.name;
        }
        CallResult r = bystander.call(paraCmpSup("0001"));
        ASSERT_EQ(r.kind, CallResult::Kind::Packet) << k.name << ": " << r.text;
        EXPECT_EQ(r.packet.rowCount(), 1u);
    }
    const std::string log = m_server->log();
    EXPECT_NE(log.find("request of 1000000 bytes exceeds the limit of 262144 bytes"),
              std::string::npos);
    EXPECT_NE(log.find("in the middle of a request"), std::string::npos);
}

TEST_F(AppServerProcess, ConcurrentClientsEachGetTheirOwnAnswers) {
    constexpr int kClients = 16;
    constexpr int kCalls = 100;
    test::TestClient probe;
    probe.connect("127.0.0.1", m_server->port());
    const std::size_t listed = probe.call(solicitacao("0002,0012", "")).packet.rowCount();
    ASSERT_GT(listed, 0u);

    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kClients; ++t) {
        threads.emplace_back([&, t] {
            test::TestClient c;
            c.connect("127.0.0.1", m_server->port());
            for (int i = 0; i < kCalls; ++i) {
                switch ((t + i) % 3) {
                    case 0:
                        if (c.call(paraCmpSup("0001")).packet.rowCount() != 1)
                            ++wrong;
                        break;
                    case 1:
                        if (c.call(paraCmpSup("0020")).packet.rowCount() != 0)
                            ++wrong;
                        break;
                    default:
                        if (c.call(solicitacao("0002,0012", "")).packet.rowCount() != listed) {
                            ++wrong;
                        }
                }
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(AppServerProcess, ConsolidationRunsThroughTheServer) {
    const double from = protocol::dateFromYmd(2024, 2, 14), to = protocol::dateFromYmd(2024, 4, 15);
    const double today = protocol::dateFromYmd(2024, 3, 15);
    std::vector<Argument> args =
        test::demoConsSoliArguments(from, to, today, "ZZZZZZZZZZZZZZZZZZZZ");
    test::TestClient client;
    client.connect("127.0.0.1", m_server->port());
    CallResult r = client.call(makeCall("GetConsSoli", args));
    ASSERT_EQ(r.kind, CallResult::Kind::Text) << r.text;
    EXPECT_EQ(r.text, "0000000001");
    std::size_t byRefCount = 0;
    for (const auto& [index, value] : r.byRef) {
        ASSERT_LT(index, args.size());
        EXPECT_TRUE(args[index].isByRef()) << int(index);
        EXPECT_EQ(value, args[index].text) << int(index);
        ++byRefCount;
    }
    EXPECT_EQ(byRefCount, 12u);

    args[10] = Argument::byRef("X");
    r = client.call(makeCall("GetConsSoli", args));
    EXPECT_EQ(r.kind, CallResult::Kind::Error);
    EXPECT_NE(r.text.find("Argumento 11 (opção Consolida Solicitações)"), std::string::npos)
        << r.text;
}

TEST(AppServerShutdown, TerminationLetsTheCallUnderWayFinish) {
    test::PgDatabase pg;
    RQC_SKIP_WITHOUT_PG(pg);
    test::makeDemoDatabase(pg.url());
    test::TempDir dir;
    test::ServerProcess server({pg.url(), dir.path().string(), {"--threads", "4"}});
    server.start();

    // Hold a lock that the call has to wait for, so that the call is under way for certain.
    auto locker = suitedb::Connection::open(pg.url());
    locker->begin();
    locker->exec("LOCK TABLE SOLICMP IN ACCESS EXCLUSIVE MODE");

    auto call = std::async(std::launch::async, [&] {
        test::TestClient c;
        c.connect("127.0.0.1", server.port());
        return c.call(solicitacao("", "T"));
    });
    auto watcher = suitedb::Connection::open(pg.url());
    ASSERT_TRUE(waitUntil(
        [&] {
            auto c = watcher->query(
                "SELECT COUNT(*) FROM pg_stat_activity WHERE datname = ? AND wait_event_type = "
                "'Lock'",
                {pg.name()});
            c->next();
            return c->int64(0) > 0;
        },
        10s))
        << "the call never reached the database";

    auto exit = std::async(std::launch::async, [&] { return server.terminate(30s); });
    EXPECT_TRUE(waitUntil([&] { return !RawConnection(server.port()).connected(); }, 10s))
        << "still accepting connections after SIGTERM";
    EXPECT_EQ(call.wait_for(200ms), std::future_status::timeout);
    locker->rollback();

    CallResult r = call.get();
    ASSERT_EQ(r.kind, CallResult::Kind::Packet) << r.text;
    EXPECT_GT(r.packet.rowCount(), 1000u);
    const int status = exit.get();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string log = server.log();
    EXPECT_NE(log.find("signal 15 received"), std::string::npos) << log;
    EXPECT_NE(log.find("method=GetSolicitacao"), std::string::npos) << log;
    EXPECT_NE(log.find("stopped"), std::string::npos) << log;
}

TEST(AppServerStart, UnusableSettingsStopTheServerWithAClearMessage) {
    test::TempDir dir;
    test::makeDemoDatabase(dir.file("suite.db"));
    std::ofstream(dir.file("bad.conf")) << "# settings\nthreads = 4\nspeed = fast\n";
    std::ofstream(dir.file("port.conf")) << "listen = 127.0.0.1:http\n";
    test::ServerProcess running({dir.file("suite.db"), dir.path().string(), {}});
    running.start();
    const std::string busy = "127.0.0.1:" + std::to_string(running.port());
    const std::string db = " --db " + dir.file("suite.db");
    const std::string key = dir.file("key.pem"), open = dir.file("open.pem");
    ASSERT_EQ(
        std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=x -keyout " +
                     key + " -out " + dir.file("cert.pem") + " 2>/dev/null && cp " + key + " " +
                     open + " && chmod 600 " + key + " && chmod 644 " + open)
                        .c_str()),
        0);
    const std::string tls = " --tls-cert " + dir.file("cert.pem") + " --tls-key ";

    struct Case {
        std::string args;
        int exitCode;
        std::string message;
    };
    const Case cases[] = {
        {"--config " + dir.file("bad.conf"), 2, dir.file("bad.conf") + ":3: unknown key 'speed'"},
        {"--config " + dir.file("port.conf"), 2, ":1: listen port 'http'"},
        {"--config " + dir.file("none.conf"), 2, "cannot read configuration file"},
        {"--threads 0" + db, 2, "option --threads: threads must be a whole number from 1"},
        {"--max-frame 1G0" + db, 2, "option --max-frame"},
        {"--verbose" + db, 2, "command line:"},
        {"--db " + dir.file("missing.db"), 1, "does not exist"},
        {"--db postgresql://postgres@127.0.0.1:1/none --listen 127.0.0.1:0", 1,
         "cannot use database"},
        {"--listen " + busy + db, 1, "cannot listen on " + busy},
        {"--listen 127.0.0.1:0", 1, "does not exist; create it with rqc-suitedb init"},
        {"--listen 0.0.0.0:0" + db + tls + key, 2, "ainda tem(têm) a senha de demonstração"},
        {"--listen 127.0.0.1:0" + db + tls + open, 2, " " + open + " && chmod 640 " + open},
    };
    for (const auto& k : cases) {
        auto [code, out] = runServer(k.args);
        EXPECT_EQ(code, k.exitCode) << k.args << "\n" << out;
        EXPECT_NE(out.find(k.message), std::string::npos) << k.args << "\n" << out;
    }
}

// Under systemd: READY=1 once it listens, STOPPING=1 at SIGTERM; a database nobody can log in
// to is served with a warning saying how to add the first operator.
TEST(AppServerStart, TellsSystemdItIsReadyAndStoppingAndWarnsWhenNobodyCanLogIn) {
    test::TempDir dir;
    suitedb::applySchema(*suitedb::Connection::open(dir.file("empty.db")));
    const int notify = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{AF_UNIX, {}};
    dir.file("notify").copy(addr.sun_path, sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(notify, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    timeval wait{20, 0};
    ::setsockopt(notify, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    auto told = [&] {
        char text[64] = {};
        return ::recv(notify, text, sizeof text - 1, 0) > 0 ? std::string(text) : "(nothing)";
    };
    test::ServerProcess::Options options{dir.file("empty.db"), dir.path().string(), {}};
    options.testLogin = false;
    test::ServerProcess server(options);
    ::setenv("NOTIFY_SOCKET", addr.sun_path, 1);
    server.start();
    ::unsetenv("NOTIFY_SOCKET");
    EXPECT_EQ(told(), "READY=1");
    EXPECT_TRUE(RawConnection(server.port()).connected());
    const int status = server.terminate();
    EXPECT_EQ(told(), "STOPPING=1");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(server.log().find("Nenhum operador pode fazer login em " + dir.file("empty.db")),
              std::string::npos)
        << server.log();
    ::close(notify);
}

TEST(AppServerStart, WithoutSettingsItServesTheDatabaseInVar) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.file("var"));
    test::makeDemoDatabase(dir.file("var/rqc.db"));
    const std::string portFile = dir.file("port");
    const std::string bin = test::ServerProcess::binary("rqc-appserver");
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::chdir(dir.path().c_str()) != 0)
            ::_exit(126);
        std::freopen("server.log", "w", stderr);
        ::execl(bin.c_str(), bin.c_str(), "--listen", "127.0.0.1:0", "--port-file",
                portFile.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::uint16_t port = 0;
    waitUntil(
        [&] {
            std::ifstream in(portFile);
            int p = 0;
            if (in >> p)
                port = static_cast<std::uint16_t>(p);
            return port != 0;
        },
        30s);
    if (port != 0) {
        test::TestClient client;
        client.connect("127.0.0.1", port);
        CallResult r = client.call(paraCmpSup("0001"));
        EXPECT_EQ(r.kind, CallResult::Kind::Packet) << r.text;
        EXPECT_EQ(r.packet.rowCount(), 1u);
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_NE(port, 0) << "the server did not report its port";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(std::filesystem::exists(dir.file("var/rqc.db")));
}
