#include "protocol/client.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <asio.hpp>
#include <cstdlib>

#include "support/recording_peer.h"

using namespace rqc::protocol;
using rqc::test::RecordingPeer;

namespace {

CallRequest lookupCall() {
    CallRequest c;
    c.object = "Rqc04100.rdmConsolidaSolicita";
    c.user = "joao";
    c.args = {Argument::ofDate(45292), Argument::ofDate(45322), Argument::byRef("0001"),
              Argument::byRef("")};
    c.descriptor = CallDescriptor::forArguments("GetSolicitacao", c.args);
    return c;
}

// A loopback port that nothing listens on.
std::uint16_t closedPort() {
    asio::io_context io;
    asio::ip::tcp::acceptor a(io, {asio::ip::make_address("127.0.0.1"), 0});
    return a.local_endpoint().port();
}

std::string transportErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const TransportError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(Client, CallReachesThePeerAndTheResultComesBack) {
    RecordingPeer peer;
    DataPacket p;
    p.fields = {{"CHAVE", FieldType::Text, 18, ""}};
    p.addRow({"000100010000000001"});
    peer.answerEchoingRefs(CallResult::ofPacket(p), "+");

    Client client;
    client.connect("127.0.0.1", peer.port());
    const CallResult r = client.call(lookupCall());

    ASSERT_EQ(peer.calls().size(), 1u);
    const CallRequest got = peer.calls()[0];
    EXPECT_EQ(got.object, "Rqc04100.rdmConsolidaSolicita");
    EXPECT_EQ(got.user, "joao");
    EXPECT_EQ(got.descriptor.method, "GetSolicitacao");
    EXPECT_EQ(got.args[0].date, 45292);
    EXPECT_EQ(got.args[2].text, "0001");
    ASSERT_EQ(r.kind, CallResult::Kind::Packet);
    EXPECT_EQ(r.packet.cell(0, 0), "000100010000000001");
    const std::vector<std::pair<std::uint8_t, std::string>> refs = {{2, "0001+"}, {3, "+"}};
    EXPECT_EQ(r.byRef, refs);
}

TEST(Client, SeveralCallsShareOneConnection) {
    RecordingPeer peer;
    peer.setScript([](const CallRequest& c) {
        return RecordingPeer::Reply::answer(CallResult::ofText(c.args[2].text));
    });
    Client client;
    client.connect("localhost", peer.port());
    for (int i = 0; i < 5; ++i) {
        CallRequest c = lookupCall();
        c.args[2].text = std::to_string(i);
        EXPECT_EQ(client.call(c).text, std::to_string(i));
    }
    EXPECT_EQ(peer.calls().size(), 5u);
    EXPECT_EQ(peer.connectionsAccepted(), 1);
}

TEST(Client, ServerErrorIsAResultNotAnException) {
    RecordingPeer peer;
    peer.setScript([](const CallRequest&) {
        return RecordingPeer::Reply::answer(CallResult::error("no such branch"));
    });
    Client client;
    client.connect("127.0.0.1", peer.port());
    const CallResult r = client.call(lookupCall());
    EXPECT_EQ(r.kind, CallResult::Kind::Error);
    EXPECT_EQ(r.text, "no such branch");
    EXPECT_TRUE(client.isOpen());
}

TEST(Client, ConnectionRefusedNamesHostAndPort) {
    const std::uint16_t port = closedPort();
    Client client;
    const std::string message =
        transportErrorOf([&] { client.connect("127.0.0.1", port, std::chrono::seconds(2)); });
    EXPECT_NE(message.find("cannot connect to 127.0.0.1:" + std::to_string(port)),
              std::string::npos)
        << message;
    EXPECT_FALSE(client.isOpen());
}

TEST(Client, ExchangeFailuresBecomeTransportErrorsAndCloseTheConnection) {
    std::vector<std::byte> hugeFrame;
    appendFrameHeader(hugeFrame, 2000);
    hugeFrame.resize(2004);
    const std::vector<std::byte> garbage = rqc::test::frameOf({std::byte{1}, std::byte{2}});
    struct Case {
        std::string name;
        RecordingPeer::Reply reply;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"peer closes", RecordingPeer::Reply::close(), "connection closed by 127.0.0.1:"},
        {"garbage answer", RecordingPeer::Reply::rawBytes(garbage), "bad answer from 127.0.0.1:"},
        {"frame over the limit", RecordingPeer::Reply::rawBytes(hugeFrame),
         "over the frame limit of 1000"},
        {"no answer in time", RecordingPeer::Reply::silent(), "timed out after 300 ms"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingPeer peer;
        peer.setScript([&](const CallRequest&) { return c.reply; });
        Client client;
        client.setMaxFrame(1000);
        client.setIoTimeout(std::chrono::milliseconds(300));
        client.connect("127.0.0.1", peer.port());
        const std::string message = transportErrorOf([&] { client.call(lookupCall()); });
        EXPECT_NE(message.find(c.expected), std::string::npos) << message;
        EXPECT_FALSE(client.isOpen());
    }
}

TEST(Client, InvalidCallIsRefusedBeforeSending) {
    RecordingPeer peer;
    Client client;
    client.connect("127.0.0.1", peer.port());
    CallRequest c = lookupCall();
    c.descriptor.typeCodes[0] = kTextByValue;
    EXPECT_THROW(client.call(c), std::invalid_argument);
    EXPECT_TRUE(client.call(lookupCall()).kind == CallResult::Kind::Empty);
    EXPECT_EQ(peer.calls().size(), 1u);
}

TEST(Client, CallWithoutConnectionFails) {
    Client client;
    EXPECT_NE(transportErrorOf([&] { client.call(lookupCall()); }).find("not connected"),
              std::string::npos);
}

TEST(Client, MalformedCallGetsAnErrorResultFromThePeer) {
    // The peer answers undecodable calls as the server does: an error result with the reason.
    RecordingPeer peer;
    asio::io_context io;
    asio::ip::tcp::socket s(io);
    s.connect({asio::ip::make_address("127.0.0.1"), peer.port()});
    auto body = encodeCall(lookupCall());
    body[2] = std::byte{4};
    const auto frame = rqc::test::frameOf(body);
    asio::write(s, asio::buffer(frame));
    std::array<std::byte, 4> head{};
    asio::read(s, asio::buffer(head));
    std::vector<std::byte> answer(frameLength(head));
    asio::read(s, asio::buffer(answer));
    const CallResult r = decodeResult(answer);
    EXPECT_EQ(r.kind, CallResult::Kind::Error);
    EXPECT_EQ(r.text, "protocol version 4 not supported, this side speaks 2 to 3");
}

// Without a CA the client speaks only to this machine: in a network namespace of its own,
// where 10.200.0.1 is a local address no byte can leave, a listener there receives no
// connection from it (a raw connect shows the listener would), and the refusal names the key.
TEST(Client, WithoutACaItRefusesAHostOtherThanLoopbackBeforeConnecting) {
    enum Verdict : int {
        kRefusedUntouched = 0,
        kConnected = 1,
        kWrongError = 2,
        kNoNamespace = 77,
        kSetupFailed = 78,
    };
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWNET) != 0)
            ::_exit(kNoNamespace);
        if (std::system("ip link set lo up && ip addr add 10.200.0.1/32 dev lo") != 0)
            ::_exit(kSetupFailed);
        asio::io_context io;
        asio::ip::tcp::acceptor listener(io, {asio::ip::make_address("10.200.0.1"), 0});
        listener.non_blocking(true);
        const std::uint16_t port = listener.local_endpoint().port();
        int verdict = kRefusedUntouched;
        try {
            Client client;
            client.setLogin("COMP001", "rqc04100");
            client.setIoTimeout(std::chrono::seconds(2));
            client.connect("10.200.0.1", port, std::chrono::seconds(2));
            verdict = kConnected;
        } catch (const PlainTcpRefused& e) {
            if (std::string(e.what()).find("[Servidor] CertificadoCA") == std::string::npos)
                verdict = kWrongError;
        } catch (const std::exception&) {
            verdict = kWrongError;
        }
        asio::error_code ec;
        asio::ip::tcp::socket accepted(io);
        listener.accept(accepted, ec);
        if (!ec)
            verdict = kConnected;
        asio::ip::tcp::socket probe(io), probed(io);
        probe.connect({asio::ip::make_address("10.200.0.1"), port}, ec);
        listener.accept(probed, ec);
        if (ec && verdict == kRefusedUntouched)
            verdict = kSetupFailed;
        ::_exit(verdict);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kNoNamespace)
        GTEST_SKIP() << "no network namespace here (unshare needs root)";
    EXPECT_EQ(WEXITSTATUS(status), kRefusedUntouched)
        << "1: the client connected; 2: another error; 78: the namespace was not usable";
}
