// rqc-appserver as a real process facing a client that misbehaves on purpose: announced sizes
// it never sends, idle and half-sent connections, too many connections, a client that does not
// read, an answer over the frame limit.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "protocol/client.h"
#include "protocol/protocol.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"
#include "support/demo_calls.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

namespace {

using namespace rqc;
using namespace std::chrono_literals;
using protocol::Argument;
using protocol::CallResult;
using Clock = std::chrono::steady_clock;

// A loopback connection sending whatever bytes the test wants.
class Raw {
  public:
    // `from`: a loopback source address (127.x.y.z) other than the default.
    explicit Raw(std::uint16_t port, int receiveBuffer = 0, const char* from = nullptr,
                 int waitSeconds = 5) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        if (from != nullptr) {
            sockaddr_in source{};
            source.sin_family = AF_INET;
            ::inet_pton(AF_INET, from, &source.sin_addr);
            ::bind(m_fd, reinterpret_cast<sockaddr*>(&source), sizeof source);
        }
        timeval t{waitSeconds, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_ok = ::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Raw() { ::close(m_fd); }
    bool ok() const { return m_ok; }
    int fd() const { return m_fd; }
    // Reads `n` bytes in pieces of `piece`, at most `rate` bytes a second; the bytes read.
    std::size_t readSlowly(std::size_t n, std::size_t piece, double rate) {
        std::vector<std::byte> buf(piece);
        std::size_t got = 0;
        const auto t0 = Clock::now();
        while (got < n) {
            ssize_t k = ::recv(m_fd, buf.data(), std::min(piece, n - got), 0);
            if (k <= 0)
                break;
            got += static_cast<std::size_t>(k);
            std::this_thread::sleep_until(t0 + std::chrono::duration<double>(got / rate));
        }
        return got;
    }
    std::uint32_t readFrameLength() {
        std::byte h[4];
        return readExactly(h, 4) ? protocol::frameLength(std::span<const std::byte, 4>(h, 4)) : 0;
    }
    void setSendTimeout(std::chrono::milliseconds ms) {
        timeval t{0, static_cast<suseconds_t>(ms.count() * 1000)};
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
    }
    bool send(const std::vector<std::byte>& b) {
        std::size_t done = 0;
        while (done < b.size()) {
            ssize_t n = ::send(m_fd, b.data() + done, b.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    void sendFrame(const std::vector<std::byte>& body) {
        std::vector<std::byte> f;
        protocol::appendFrameHeader(f, static_cast<std::uint32_t>(body.size()));
        f.insert(f.end(), body.begin(), body.end());
        send(f);
    }
    // The next answer, decoded; nullopt when the connection ended or nothing came in 5 s.
    std::optional<CallResult> readResult() {
        std::byte h[4];
        if (!readExactly(h, 4))
            return std::nullopt;
        std::vector<std::byte> body(protocol::frameLength(std::span<const std::byte, 4>(h, 4)));
        if (!readExactly(body.data(), body.size()))
            return std::nullopt;
        return protocol::decodeResult(body);
    }
    // True when the server closes the connection within 5 s (no data).
    bool closedByServer() {
        char c;
        return ::recv(m_fd, &c, 1, 0) == 0;
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
    bool m_ok = false;
};

long rssKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

std::vector<std::byte> header(std::uint32_t length) {
    std::vector<std::byte> h;
    protocol::appendFrameHeader(h, length);
    return h;
}

protocol::CallRequest solicitacoes() {
    std::vector<Argument> args = {Argument::ofDate(protocol::dateFromYmd(2000, 1, 1)),
                                  Argument::ofDate(protocol::dateFromYmd(2099, 12, 31)),
                                  Argument::byRef(""), Argument::byRef("T")};
    return test::makeCall("GetSolicitacao", std::move(args));
}

class SessionLimits : public ::testing::Test {
  protected:
    void start(std::vector<std::string> args) {
        const std::string db = m_dir.file("rqc.db");
        if (!std::filesystem::exists(db))
            test::makeDemoDatabase(db);
        m_server = std::make_unique<test::ServerProcess>(
            test::ServerProcess::Options{db, m_dir.path().string(), std::move(args)});
        m_server->start();
    }
    std::uint16_t port() const { return m_server->port(); }

    test::TempDir m_dir;
    std::unique_ptr<test::ServerProcess> m_server;
};

TEST_F(SessionLimits, AnnouncedSizesCostNothingUntilTheBytesArrive) {
    start({"--threads", "2"});
    const long before = rssKiB(m_server->pid());
    std::vector<std::unique_ptr<Raw>> conns;
    for (int i = 0; i < 32; ++i) {
        conns.push_back(std::make_unique<Raw>(port()));
        ASSERT_TRUE(conns.back()->ok());
        conns.back()->send(header(64u * 1024 * 1024 - 16));
    }
    std::this_thread::sleep_for(500ms);
    const long after = rssKiB(m_server->pid());
    EXPECT_LT(after - before, 64 * 1024) << "RSS grew from " << before << " KiB to " << after;
}

TEST_F(SessionLimits, StalledConnectionsCloseAtTheirDeadline) {
    start({"--idle-timeout", "400ms", "--read-timeout", "400ms"});
    struct Case {
        const char* name;
        std::vector<std::byte> bytes;
    };
    std::vector<Case> cases = {{"idle", {}},
                               {"half a header", {std::byte{8}, std::byte{0}}},
                               {"header without its body", header(100)}};
    std::vector<std::unique_ptr<Raw>> conns;
    for (const auto& c : cases) {
        conns.push_back(std::make_unique<Raw>(port()));
        conns.back()->send(c.bytes);
    }
    const auto t0 = Clock::now();
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_TRUE(conns[i]->closedByServer()) << cases[i].name;
    EXPECT_LT(Clock::now() - t0, 3s);
    const std::string log = m_server->log();
    EXPECT_NE(log.find("idle after 400 ms; closing"), std::string::npos) << log;
    EXPECT_NE(log.find("request not complete after 400 ms; closing"), std::string::npos) << log;
}

TEST_F(SessionLimits, TheConnectionOverACapIsRefusedWithAnError) {
    // Connections still without a login would make room for the newcomer: the full server
    // is full of logged-in ones.
    struct Case {
        std::vector<std::string> args;
        int allowed;
        const char* says;
    };
    const Case cases[] = {{{"--max-connections", "3"}, 3, "servidor ocupado: já há 3 conexões"},
                          {{"--max-per-peer", "2"}, 2, "servidor ocupado: o endereço"}};
    for (const auto& c : cases) {
        start(c.args);
        std::vector<std::unique_ptr<Raw>> held;
        for (int i = 0; i < c.allowed; ++i) {
            held.push_back(std::make_unique<Raw>(port()));
            held.back()->sendFrame(
                protocol::encodeLogin({suitedb::kDemoOperator, suitedb::kDemoPassword}));
            ASSERT_TRUE(held.back()->readResult().has_value());
        }
        std::this_thread::sleep_for(200ms);
        Raw next(port());
        auto answer = next.readResult();
        ASSERT_TRUE(answer.has_value()) << c.says;
        EXPECT_EQ(answer->kind, CallResult::Kind::Error);
        EXPECT_NE(answer->text.find(c.says), std::string::npos) << answer->text;
        EXPECT_TRUE(next.closedByServer());
        held.pop_back();
        std::this_thread::sleep_for(200ms);
        test::TestClient client;  // a slot is free again
        client.connect("127.0.0.1", port());
        EXPECT_EQ(client.call(solicitacoes()).kind, CallResult::Kind::Packet) << c.says;
        EXPECT_NE(m_server->log().find("refused: "), std::string::npos);
        m_server.reset();
    }
}

TEST_F(SessionLimits, SigtermDoesNotWaitPastItsDeadlineForAClientThatDoesNotRead) {
    start({"--stop-timeout", "1s", "--write-timeout", "60s", "--threads", "1"});
    Raw lazy(port(), 4096);
    lazy.sendFrame(protocol::encodeLogin({suitedb::kDemoOperator, suitedb::kDemoPassword}));
    ASSERT_TRUE(lazy.readResult().has_value());
    lazy.setSendTimeout(500ms);
    // Calls pile up until the server's answers fill every buffer and its write blocks.
    const auto call = protocol::encodeCall(solicitacoes());
    std::vector<std::byte> frame = header(static_cast<std::uint32_t>(call.size()));
    frame.insert(frame.end(), call.begin(), call.end());
    int sent = 0;
    while (sent < 2000 && lazy.send(frame))
        ++sent;
    ASSERT_GT(sent, 100) << m_server->log();
    std::this_thread::sleep_for(2s);  // ~100 KiB answers: the server's write blocks long before
    const auto t0 = Clock::now();
    const int status = m_server->terminate(10s);
    EXPECT_LT(Clock::now() - t0, 5s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_NE(m_server->log().find("closed at the stop deadline"), std::string::npos)
        << m_server->log();
}

TEST_F(SessionLimits, AnAnswerOverTheFrameLimitBecomesAnErrorResult) {
    start({"--max-frame", "4K"});
    test::TestClient client;
    client.connect("127.0.0.1", port());
    const CallResult r = client.call(solicitacoes());
    ASSERT_EQ(r.kind, CallResult::Kind::Error);
    EXPECT_NE(r.text.find("passa do limite de 4096 bytes por mensagem"), std::string::npos)
        << r.text;
    EXPECT_TRUE(client.isOpen());
}

// Sockets that never log in, from twenty addresses, take only their share of the connections
// and are closed at the login deadline; meanwhile a logged-in client and a new login from an
// address that behaves are served.
TEST_F(SessionLimits, ConnectionsThatNeverLogInLeaveAtTheLoginDeadlineAndKeepNobodyOut) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    start({"--login-timeout", "2s", "--threads", "2"});
    protocol::Client loggedIn;
    loggedIn.connect("127.0.0.1", port());
    loggedIn.login(suitedb::kDemoOperator, suitedb::kDemoPassword);
    constexpr int kFlood = 1000;
    std::vector<std::unique_ptr<Raw>> flood;
    for (int i = 0; i < kFlood; ++i) {
        const std::string from = "127.0.1." + std::to_string(1 + i % 20);
        flood.push_back(std::make_unique<Raw>(port(), 0, from.c_str()));
    }
    const CallResult during = loggedIn.call(solicitacoes());
    EXPECT_EQ(during.kind, CallResult::Kind::Packet) << during.text;
    protocol::Client newcomer;
    ASSERT_NO_THROW(newcomer.connect("127.0.0.1", port()));
    ASSERT_NO_THROW(newcomer.login(suitedb::kDemoOperator, suitedb::kDemoPassword));
    EXPECT_EQ(newcomer.call(solicitacoes()).kind, CallResult::Kind::Packet);

    std::vector<pollfd> fds;
    for (auto& r : flood)
        fds.push_back({r->fd(), POLLIN, 0});
    int open = kFlood;
    const auto deadline = Clock::now() + 6s;
    while (open > 0 && Clock::now() < deadline) {
        ::poll(fds.data(), fds.size(), 100);
        for (auto& p : fds) {
            if (p.fd < 0 || p.revents == 0)
                continue;
            char buf[4096];
            const ssize_t n = ::recv(p.fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                p.fd = -1;
                --open;
            }
        }
    }
    EXPECT_EQ(open, 0) << "connections still open after the login deadline";
    EXPECT_EQ(loggedIn.call(solicitacoes()).kind, CallResult::Kind::Packet);
    // Each address gets five lines in full, then one summary of the rest.
    m_server->terminate(10s);
    const std::string log = m_server->log();
    EXPECT_NE(log.find("no login after 2000 ms; closing"), std::string::npos);
    std::size_t lines = 0;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        lines += line.find("127.0.1.7:") != std::string::npos ? 1 : 0;
    EXPECT_LE(lines, 6u) << log;
    EXPECT_NE(log.find("address 127.0.1.7: "), std::string::npos) << log;
    EXPECT_NE(log.find("more connection warning(s) in the last minute"), std::string::npos);
}

// Before its login a connection may hold almost nothing: 64 of them from two addresses, each
// announcing a 64 MiB request and sending 1 MiB of it, are refused at the header.
TEST_F(SessionLimits, ConnectionsWithoutALoginHoldAlmostNothing) {
    start({"--threads", "2"});
    const long before = rssKiB(m_server->pid());
    std::vector<std::unique_ptr<Raw>> conns;
    const std::vector<std::byte> chunk(1 << 20, std::byte{'x'});
    for (int i = 0; i < 64; ++i) {
        conns.push_back(std::make_unique<Raw>(port(), 0, i % 2 ? "127.0.3.1" : "127.0.3.2"));
        conns.back()->setSendTimeout(200ms);
        conns.back()->send(header(64u * 1024 * 1024 - 16));
        conns.back()->send(chunk);
    }
    std::this_thread::sleep_for(300ms);
    const long after = rssKiB(m_server->pid());
    EXPECT_LT(after - before, 100 * 1024) << "RSS grew from " << before << " KiB to " << after;
    const auto answer = conns.front()->readResult();
    ASSERT_TRUE(answer.has_value());
    EXPECT_NE(answer->text.find("passa do limite de 4096 bytes"), std::string::npos)
        << answer->text;
}

// A thousand addresses holding one idle socket each keep no newcomer out: the oldest idle
// socket makes room, and it is told why.
TEST_F(SessionLimits, IdleSocketsOfAThousandAddressesKeepNoLoginOut) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    start({"--threads", "4"});
    std::vector<std::unique_ptr<Raw>> idle;
    for (int i = 0; i < 1000; ++i) {
        const std::string from =
            "127.1." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250);
        idle.push_back(std::make_unique<Raw>(port(), 0, from.c_str()));
    }
    for (int i = 0; i < 24; ++i) {
        const auto t0 = Clock::now();
        Raw login(port(), 0, ("127.2.0." + std::to_string(1 + i)).c_str());
        login.sendFrame(protocol::encodeLogin({suitedb::kDemoOperator, suitedb::kDemoPassword}));
        const auto answer = login.readResult();
        ASSERT_TRUE(answer.has_value()) << "login " << i;
        EXPECT_EQ(answer->text, suitedb::kDemoOperator) << "login " << i;
        EXPECT_LT(Clock::now() - t0, 1s) << "login " << i;
    }
    const auto told = idle.front()->readResult();
    ASSERT_TRUE(told.has_value());
    EXPECT_NE(told->text.find("servidor ocupado"), std::string::npos) << told->text;
}

// Six hundred clients at once, twenty calls each: every one is served or told the server is
// busy, none is left without an answer.
TEST_F(SessionLimits, SixHundredClientsAtOnceAreServedOrToldTheServerIsBusy) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    start({"--threads", "4"});
    std::atomic<int> served{0}, busy{0}, silent{0};
    std::mutex mutex;
    std::string firstSilence;  // what the first client without its answer got instead
    auto silence = [&](const std::optional<CallResult>& got, const char* when) {
        ++silent;
        std::lock_guard lock(mutex);
        if (firstSilence.empty())
            firstSilence = std::string(when) + ": " + (got ? got->text : "no answer");
    };
    const auto call = protocol::encodeCall(solicitacoes());
    std::vector<std::thread> clients;
    for (int i = 0; i < 600; ++i) {
        clients.emplace_back([&, i] {
            const std::string from =
                "127.3." + std::to_string(i / 200) + "." + std::to_string(1 + i % 200);
            Raw c(port(), 0, from.c_str(), 60);
            c.sendFrame(protocol::encodeLogin({suitedb::kDemoOperator, suitedb::kDemoPassword}));
            auto answer = c.readResult();
            if (answer && answer->text.find("servidor ocupado") != std::string::npos) {
                ++busy;
                return;
            }
            if (!answer || answer->text != suitedb::kDemoOperator) {
                silence(answer, "login");
                return;
            }
            for (int k = 0; k < 20; ++k) {
                c.sendFrame(call);
                auto r = c.readResult();
                if (!r || r->kind != CallResult::Kind::Packet) {
                    silence(r, "call");
                    return;
                }
            }
            ++served;
        });
    }
    for (auto& t : clients)
        t.join();
    EXPECT_EQ(silent.load(), 0) << served << " served, " << busy << " busy; " << firstSilence;
    EXPECT_EQ(served + busy, 600);
    EXPECT_GT(served.load(), 0);
}

// A request sent slowly and an answer taken slowly are served whole, however long they take;
// a client that stops taking its answer is closed at the write deadline.
TEST_F(SessionLimits, DeadlinesCountFromTheLastByteMovedNotFromTheStart) {
    start({"--read-timeout", "1s", "--write-timeout", "1s"});
    {
        auto c = suitedb::Connection::open(m_dir.file("rqc.db"));
        c->exec(
            "INSERT INTO SOLICMP (CDFILSOLI, CDFILLANCA, NRSOLICMP, DTENTREGA) WITH RECURSIVE "
            "n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 230000) SELECT '0002', "
            "'0002', printf('9%09d', i), '2024-03-10' FROM n");
    }
    const auto login = protocol::encodeLogin({suitedb::kDemoOperator, suitedb::kDemoPassword});
    const auto call = protocol::encodeCall(solicitacoes());

    // About 2 MB/s in pieces of 16 KiB: several times the deadline for the whole.
    Raw slow(port(), 64 * 1024);
    slow.sendFrame(login);
    ASSERT_TRUE(slow.readResult().has_value());
    slow.sendFrame(call);
    const std::uint32_t length = slow.readFrameLength();
    ASSERT_GT(length, 12u * 1024 * 1024);
    const auto t0 = Clock::now();
    EXPECT_EQ(slow.readSlowly(length, 16 * 1024, 2.0 * 1024 * 1024), length);
    EXPECT_GT(Clock::now() - t0, 3s);

    // A request of 3 MiB arriving at about 1 MiB/s is read whole and answered.
    protocol::CallRequest big = solicitacoes();
    big.args[2].text = std::string(3 * 1024 * 1024, 'X');
    const auto bigBody = protocol::encodeCall(big);
    std::vector<std::byte> frame = header(static_cast<std::uint32_t>(bigBody.size()));
    frame.insert(frame.end(), bigBody.begin(), bigBody.end());
    Raw uploader(port());
    uploader.sendFrame(login);
    ASSERT_TRUE(uploader.readResult().has_value());
    for (std::size_t at = 0; at < frame.size(); at += 32 * 1024) {
        const auto end = frame.begin() + static_cast<long>(std::min(frame.size(), at + 32 * 1024));
        ASSERT_TRUE(
            uploader.send(std::vector<std::byte>(frame.begin() + static_cast<long>(at), end)))
            << "closed after " << at << " bytes";
        std::this_thread::sleep_for(30ms);
    }
    const auto answer = uploader.readResult();
    EXPECT_TRUE(answer.has_value()) << m_server->log();

    Raw stalled(port(), 4096);
    stalled.sendFrame(login);
    ASSERT_TRUE(stalled.readResult().has_value());
    stalled.sendFrame(call);
    std::this_thread::sleep_for(3s);
    EXPECT_LT(stalled.readSlowly(length + 4, 1 << 20, 1e12), length + 4u);
    EXPECT_NE(m_server->log().find("answer not taken after 1000 ms; closing"), std::string::npos);
}

}  // namespace
