#include "vlm/net_connection.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <asio.hpp>
#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "protocol/protocol.h"
#include "server_process.h"
#include "suitedb/connection.h"
#include "suitedb/dates.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"
#include "support/recording_peer.h"
#include "temp_dir.h"
#include "vlm/check_result_serv.h"
#include "vlm/client_data_set.h"

using namespace rqc::protocol;
using rqc::test::RecordingPeer;

namespace {

constexpr const char* kObject = "Rqc04100.rdmConsolidaSolicita";

struct Connected {
    explicit Connected(const RecordingPeer& peer) {
        net.ServerName = kObject;
        net.Host = "127.0.0.1";
        net.Port = peer.port();
        net.ThrowException = false;
        net.SetConnected(true);
    }
    TNetConnection net;
};

std::uint16_t closedPort() {
    asio::io_context io;
    asio::ip::tcp::acceptor a(io, {asio::ip::make_address("127.0.0.1"), 0});
    return a.local_endpoint().port();
}

template <class E>
std::string messageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "";
}

// Calls of `method` in the server's log, waiting a moment for `expected` of them (the line
// is written as the answer goes out).
int loggedCalls(const rqc::test::ServerProcess& server, const std::string& method, int expected) {
    const std::string needle = "method=" + method;
    int calls = 0;
    for (int attempt = 0; attempt < 100 && calls < expected; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::string log = server.log();
        calls = 0;
        for (auto at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1))
            ++calls;
    }
    return calls;
}

// The demo suite database as the real server's suite.db in `dir`.
void writeDemoDatabase(const rqc::test::TempDir& dir) {
    auto db = rqc::suitedb::Connection::open(dir.file("suite.db"));
    rqc::suitedb::applySchema(*db);
    rqc::suitedb::loadDemo(*db, rqc::suitedb::parseIsoDate("2024-03-15"));
}

}  // namespace

TEST(NetConnection, EveryArgumentKindReachesTheServer) {
    RecordingPeer peer;
    Connected c(peer);
    c.net.SetUserName("ana.souza");
    QString ref = QStringLiteral("Solicitação 0001");
    c.net.AppServer().Call("GetConsSoli", {TServerArg::Value("Çé ü"), TServerArg::Ref(ref),
                                           TServerArg::Date(45292.5), TServerArg::Value("")});

    ASSERT_EQ(peer.calls().size(), 1u);
    const CallRequest got = peer.calls()[0];
    EXPECT_EQ(got.object, kObject);
    EXPECT_EQ(got.user, "ana.souza");
    EXPECT_EQ(got.descriptor.method, "GetConsSoli");
    EXPECT_EQ(got.descriptor.callKind, 1);
    EXPECT_EQ(got.descriptor.argCount, 4);
    EXPECT_EQ(got.descriptor.namedArgCount, 0);
    EXPECT_EQ(got.descriptor.typeCodes, (std::vector<std::uint8_t>{0x48, 0xC8, 0x07, 0x48}));
    EXPECT_EQ(got.args[0].text, "Çé ü");
    EXPECT_EQ(got.args[1].text, "Solicitação 0001");
    EXPECT_EQ(got.args[2].date, 45292.5);
    EXPECT_EQ(got.args[3].text, "");
}

TEST(NetConnection, ResultKindsComeBackAsSent) {
    RecordingPeer peer;
    Connected c(peer);
    DataPacket p;
    p.fields = {{"IDUTPRODPREF", FieldType::Text, 1, "PARCMPSUP.IDUTPRODPREF"}};
    p.addRow({"S"});
    struct Case {
        std::string name;
        CallResult sent;
        TServerResult::Kind kind;
        QString text;
    };
    const std::vector<Case> cases = {
        {"empty", CallResult{}, TServerResult::Kind::Empty, ""},
        {"text", CallResult::ofText("0000000042"), TServerResult::Kind::Text, "0000000042"},
        {"blank text", CallResult::ofText("  "), TServerResult::Kind::Text, "  "},
        {"error", CallResult::error("branch 9999 unknown"), TServerResult::Kind::Error,
         "branch 9999 unknown"},
        {"packet", CallResult::ofPacket(p), TServerResult::Kind::Packet, ""},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        peer.setScript([&](const CallRequest&) { return RecordingPeer::Reply::answer(tc.sent); });
        const TServerResult r = c.net.AppServer().Call("M", {});
        EXPECT_EQ(r.kind(), tc.kind);
        if (r.IsPacket()) {
            ASSERT_NE(r.Packet(), nullptr);
            EXPECT_EQ(r.Packet()->cell(0, 0), "S");
        } else {
            EXPECT_EQ(r.AsString(), tc.text);
        }
    }
}

TEST(NetConnection, ByReferenceVariablesTakeTheServerValuesAfterSuccess) {
    RecordingPeer peer;
    peer.answerEchoingRefs(CallResult::ofText("1"), "-server", /*touchByValue=*/true);
    Connected c(peer);
    QString byValue = "v";
    QString first = "0001;0002";
    QString second = "";
    c.net.AppServer().Call("M", {TServerArg::Value(byValue), TServerArg::Ref(first),
                                 TServerArg::Date(1), TServerArg::Ref(second)});
    EXPECT_EQ(byValue, "v");  // by value: never written, although the peer sent a value for it
    EXPECT_EQ(first, "0001;0002-server");
    EXPECT_EQ(second, "-server");
    // The next call sends what the variables now hold.
    c.net.AppServer().Call("M", {TServerArg::Ref(first)});
    EXPECT_EQ(peer.calls().back().args[0].text, "0001;0002-server");
}

TEST(NetConnection, ByReferenceVariablesKeepTheirValuesAfterAFailure) {
    struct Case {
        std::string name;
        bool throwException;
        RecordingPeer::Reply reply;
        std::string expectedException;  // "" when Call returns an Error result
    };
    CallResult error = CallResult::error("cannot consolidate");
    const std::vector<Case> cases = {
        {"server error returned", false, RecordingPeer::Reply::answer(error), ""},
        {"server error raised", true, RecordingPeer::Reply::answer(error),
         "O servidor de aplicação não pôde concluir a operação:\ncannot consolidate"},
        {"connection lost", false, RecordingPeer::Reply::close(), "connection closed by"},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        RecordingPeer peer;
        peer.setScript([&](const CallRequest&) { return tc.reply; });
        Connected c(peer);
        c.net.ThrowException = tc.throwException;
        QString list = "0001";
        std::string message;
        try {
            const TServerResult r = c.net.AppServer().Call("GetConsSoli", {TServerArg::Ref(list)});
            EXPECT_TRUE(r.IsError());
            EXPECT_EQ(r.AsString(), "cannot consolidate");
        } catch (const std::exception& e) {
            message = e.what();
        }
        if (tc.expectedException.empty()) {
            EXPECT_EQ(message, "");
        } else {
            EXPECT_NE(message.find(tc.expectedException), std::string::npos) << message;
        }
        EXPECT_EQ(list, "0001");
    }
}

TEST(NetConnection, ConnectionLossRaisesNetErrorAndLeavesItDisconnected) {
    RecordingPeer peer;
    peer.setScript([](const CallRequest&) { return RecordingPeer::Reply::close(); });
    Connected c(peer);
    const std::string m =
        messageOf<ENetError>([&] { c.net.AppServer().Call("GetParaCmpSup", {}); });
    EXPECT_NE(m.find("call of GetParaCmpSup on Rqc04100.rdmConsolidaSolicita failed"),
              std::string::npos)
        << m;
    EXPECT_FALSE(c.net.Connected());
}

TEST(NetConnection, BeforeConnectRunsOnEveryConnectBeforeConnecting) {
    RecordingPeer peer;
    TNetConnection net;
    net.ServerName = kObject;
    net.Port = 0;  // only the handler knows the port
    std::vector<int> connectionsSeenByHandler;
    std::vector<QObject*> senders;
    net.BeforeConnect = [&](QObject* sender) {
        connectionsSeenByHandler.push_back(peer.connectionsAccepted());
        senders.push_back(sender);
        net.Host = "127.0.0.1";
        net.Port = peer.port();
    };
    for (int i = 0; i < 3; ++i) {
        net.SetConnected(true);
        EXPECT_TRUE(net.Connected());
        net.AppServer().Call("M", {});  // the connection is accepted by now
        net.SetConnected(false);
        EXPECT_FALSE(net.Connected());
    }
    EXPECT_EQ(connectionsSeenByHandler, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(senders, (std::vector<QObject*>{&net, &net, &net}));
    EXPECT_EQ(peer.connectionsAccepted(), 3);
}

TEST(NetConnection, ConnectingWhenConnectedDoesNothing) {
    RecordingPeer peer;
    Connected c(peer);
    int runs = 0;
    c.net.BeforeConnect = [&](QObject*) { ++runs; };
    c.net.SetConnected(true);
    EXPECT_EQ(runs, 0);
    c.net.AppServer().Call("M", {});
    EXPECT_EQ(peer.connectionsAccepted(), 1);
}

TEST(NetConnection, FailingBeforeConnectCancelsTheConnect) {
    RecordingPeer peer;
    TNetConnection net;
    net.ServerName = kObject;
    net.Port = peer.port();
    net.BeforeConnect = [](QObject*) { throw std::runtime_error("no configuration"); };
    EXPECT_THROW(net.SetConnected(true), std::runtime_error);
    EXPECT_FALSE(net.Connected());
}

TEST(NetConnection, DisconnectedCallsAndBadSettingsGiveClearErrors) {
    const std::uint16_t refused = closedPort();
    struct Case {
        std::string name;
        QString host;
        int port;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"refused", "127.0.0.1", refused,
         "application server Rqc04100.rdmConsolidaSolicita: cannot connect to 127.0.0.1:" +
             std::to_string(refused)},
        {"port zero", "127.0.0.1", 0, "port 0 is not a valid port"},
        {"port too high", "127.0.0.1", 70000, "port 70000 is not a valid port"},
        {"no host", "", 5000, "no host is set"},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        TNetConnection net;
        net.ServerName = kObject;
        net.Host = tc.host;
        net.Port = tc.port;
        const std::string m = messageOf<ENetError>([&] { net.SetConnected(true); });
        EXPECT_NE(m.find(tc.expected), std::string::npos) << m;
        EXPECT_FALSE(net.Connected());
        const std::string call = messageOf<ENetError>([&] { net.AppServer().Call("M", {}); });
        EXPECT_NE(call.find("cannot call M: not connected"), std::string::npos) << call;
    }
}

TEST(NetConnection, UserNameDefaultsToTheOperatingSystemUser) {
    TNetConnection net;
    EXPECT_FALSE(net.UserName().isEmpty());
    net.SetUserName("outro");
    EXPECT_EQ(net.UserName(), "outro");
}

// Against the real application server, when the build has it.
TEST(NetConnection, RealServerAnswersLookupsAndErrors) {
    if (!std::filesystem::exists(rqc::test::ServerProcess::binary("rqc-appserver")))
        GTEST_SKIP() << "rqc-appserver not built";
    rqc::test::TempDir dir;
    writeDemoDatabase(dir);
    rqc::test::ServerProcess server({dir.file("suite.db"), dir.path().string(), {}});
    server.start();

    TNetConnection net;
    net.ServerName = kObject;
    net.ThrowException = false;
    net.SetLogin(rqc::suitedb::kDemoOperator, rqc::suitedb::kDemoPassword);
    net.BeforeConnect = [&](QObject*) {
        net.Host = "127.0.0.1";
        net.Port = server.port();
    };
    net.SetConnected(true);

    QString branches = "";
    QString all = "T";
    const TServerResult r =
        net.AppServer().Call("GetSolicitacao", {TServerArg::Date(dateFromYmd(2023, 1, 1)),
                                                TServerArg::Date(dateFromYmd(2025, 12, 31)),
                                                TServerArg::Ref(branches), TServerArg::Ref(all)});
    TClientDataSet cds;
    cds.setObjectName("cdsSolicitacao");
    for (const char* f : {"IDMARCADO", "CHAVE", "CDFILSOLI", "CDFILLANCA", "NRSOLICMP"}) {
        cds.AddField(f, 1);
    }
    cds.SetData(CheckResultServ(r, true, 0));
    EXPECT_TRUE(cds.Active());
    EXPECT_FALSE(cds.IsEmpty());  // the demo data has requests in that range
    EXPECT_EQ(cds.FieldByName("CHAVE")->AsString().size(), 18);
    EXPECT_EQ(all, "T");  // the server leaves by-reference values as received

    QString branch = "0001";
    const TServerResult bad = net.AppServer().Call("NoSuchMethod", {TServerArg::Ref(branch)});
    EXPECT_TRUE(bad.IsError());
    EXPECT_FALSE(bad.AsString().isEmpty());
    EXPECT_THROW(CheckResultServ(bad, true, 0), EServerError);
    net.SetConnected(false);
}

TEST(NetConnection, EachFailureKindIsToldOnceWithItsOwnSentence) {
    const std::uint16_t refused = closedPort();
    auto peer = std::make_unique<RecordingPeer>();
    peer->setScript([](const CallRequest& r) {
        if (r.descriptor.method == "Cut")
            return RecordingPeer::Reply::close();
        if (r.descriptor.method == "Mute")
            return RecordingPeer::Reply::silent();
        if (r.descriptor.method == "Garble")
            return RecordingPeer::Reply::rawBytes(rqc::test::frameOf(std::vector<std::byte>(9)));
        return RecordingPeer::Reply::answer(CallResult::error("Filial 9999 não cadastrada."));
    });
    struct Case {
        std::string name;
        std::function<void(TNetConnection&)> act;
        TNetFailure kind;
        std::string says;
    };
    auto call = [](const char* method) {
        return [method](TNetConnection& n) { n.AppServer().Call(method, {}); };
    };
    const std::vector<Case> cases = {
        {"refused",
         [&](TNetConnection& n) {
             n.SetConnected(false);
             n.Port = refused;
             n.SetConnected(true);
         },
         TNetFailure::Refused, "recusou a conexão"},
        {"closed during the call", call("Cut"), TNetFailure::Closed, "encerrou a conexão"},
        {"timed out",
         [](TNetConnection& n) {
             n.SetCallTimeout(std::chrono::milliseconds(200));
             n.AppServer().Call("Mute", {});
         },
         TNetFailure::TimedOut, "não respondeu no tempo limite"},
        {"not the protocol", call("Garble"), TNetFailure::Protocol, "fora do protocolo"},
        {"closed on purpose",
         [](TNetConnection& n) {
             n.SetConnected(false);
             n.AppServer().Call("GetParaCmpSup", {});
         },
         TNetFailure::NotConnected, "feche-a e abra-a novamente"},
        // The server went away between two calls: the reconnect's own failure, told once.
        {"gone before the call",
         [&](TNetConnection& n) {
             peer.reset();
             n.AppServer().Call("GetParaCmpSup", {});
         },
         TNetFailure::Refused, "recusou a conexão"},
    };
    std::set<std::string> sentences;
    const std::uint16_t port = peer->port();
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        TNetConnection net;
        net.ServerName = kObject;
        net.Port = port;
        if (peer != nullptr)
            net.SetConnected(true);
        try {
            tc.act(net);
            ADD_FAILURE() << "no failure";
        } catch (const ENetError& e) {
            const std::string what = e.what();
            const std::string sentence = e.sentence().toStdString();
            EXPECT_EQ(e.kind(), tc.kind) << what;
            EXPECT_NE(sentence.find(tc.says), std::string::npos) << what;
            EXPECT_EQ(what.find("Detalhe técnico"), what.rfind("Detalhe técnico")) << what;
            EXPECT_NE(what.find("Detalhe técnico"), std::string::npos) << what;
            for (const char* method : {"Cut", "Mute", "Garble", "GetParaCmpSup"})
                EXPECT_EQ(sentence.find(method), std::string::npos) << what;
            if (tc.name != "gone before the call") {
                EXPECT_TRUE(sentences.insert(sentence).second) << what;
            }
        }
    }
}

TEST(NetConnection, ServerErrorsAreToldInPortugueseWithTheDetailBelow) {
    RecordingPeer peer;
    peer.setScript([](const CallRequest&) {
        return RecordingPeer::Reply::answer(CallResult::error("Filial 9999 não cadastrada."));
    });
    Connected c(peer);
    c.net.ThrowException = true;
    EXPECT_EQ(messageOf<EServerError>([&] { c.net.AppServer().Call("M", {}); }),
              "O servidor de aplicação não pôde concluir a operação:\nFilial 9999 não cadastrada."
              "\n\nDetalhe técnico: application server error in M");
    c.net.ThrowException = false;
    EXPECT_NE(messageOf<EServerError>([&] {
                  CheckResultServ(c.net.AppServer().Call("M", {}), true, 0);
              }).find("não pôde concluir a operação:\nFilial 9999 não cadastrada."),
              std::string::npos);
}

// The server's error kind picks the lead the user reads and whether advice follows; the screen
// can tell the kinds apart without reading the words.
TEST(NetConnection, ServerErrorsAreToldByTheirKind) {
    using rqc::protocol::ErrorKind;
    struct Case {
        ErrorKind sent;
        TServerFailure read;
        std::string lead;
        bool advised;  // CheckResultServ adds the next step
    };
    const std::vector<Case> cases = {
        {ErrorKind::Busy, TServerFailure::Busy, "O servidor de aplicação está ocupado:\n", false},
        {ErrorKind::BadArgument, TServerFailure::BadArgument,
         "O servidor de aplicação recusou um dado da operação:\n", true},
        {ErrorKind::DatabaseFailure, TServerFailure::Database,
         "O banco de dados não concluiu a operação:\n", false},
        {ErrorKind::OutcomeUnknown, TServerFailure::OutcomeUnknown,
         "Não se sabe se a operação foi gravada:\n", false},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.lead);
        RecordingPeer peer;
        peer.setScript([&](const CallRequest&) {
            return RecordingPeer::Reply::answer(CallResult::error("Texto do servidor.", tc.sent));
        });
        Connected c(peer);
        c.net.ThrowException = true;
        try {
            c.net.AppServer().Call("M", {});
            ADD_FAILURE() << "no error raised";
        } catch (const EServerError& e) {
            EXPECT_EQ(e.kind(), tc.read);
            EXPECT_EQ(std::string(e.what()).rfind(tc.lead + "Texto do servidor.", 0), 0u)
                << e.what();
        }
        c.net.ThrowException = false;
        const TServerResult r = c.net.AppServer().Call("M", {});
        EXPECT_EQ(r.failure(), tc.read);
        const std::string checked = messageOf<EServerError>([&] { CheckResultServ(r, true, 0); });
        EXPECT_EQ(checked.find("Texto do servidor.\n\n") == std::string::npos, tc.advised)
            << checked;
    }
}

TEST(NetConnection, ACallCutOnTheWireIsReportedOnceAndTheNextOneReconnects) {
    RecordingPeer peer;
    std::atomic<int> seen{0};
    peer.setScript([&](const CallRequest&) {
        return ++seen == 1 ? RecordingPeer::Reply::close()
                           : RecordingPeer::Reply::answer(CallResult::ofText("ok"));
    });
    Connected c(peer);
    int connects = 0;
    c.net.BeforeConnect = [&](QObject*) { ++connects; };
    EXPECT_THROW(c.net.AppServer().Call("GetConsSoli", {}), ENetError);
    EXPECT_EQ(peer.calls().size(), 1u) << "a call that reached the server is not sent again";
    EXPECT_EQ(c.net.AppServer().Call("GetConsSoli", {}).AsString(), "ok");
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(peer.calls().size(), 2u);
    EXPECT_EQ(peer.connectionsAccepted(), 2);
    c.net.SetConnected(false);
    EXPECT_THROW(c.net.AppServer().Call("GetConsSoli", {}), ENetError);
    EXPECT_EQ(peer.calls().size(), 2u) << "a closed connection is not reopened by a call";
}

TEST(NetConnection, AServerRestartedBetweenTwoCallsCostsNothing) {
    if (!std::filesystem::exists(rqc::test::ServerProcess::binary("rqc-appserver")))
        GTEST_SKIP() << "rqc-appserver not built";
    rqc::test::TempDir dir;
    writeDemoDatabase(dir);
    auto first = std::make_unique<rqc::test::ServerProcess>(
        rqc::test::ServerProcess::Options{dir.file("suite.db"), dir.file("a"), {}});
    std::filesystem::create_directories(dir.file("a"));
    first->start();
    const std::uint16_t port = first->port();

    TNetConnection net;
    net.ServerName = kObject;
    net.ThrowException = false;
    net.SetLogin(rqc::suitedb::kDemoOperator, rqc::suitedb::kDemoPassword);
    int connects = 0;
    net.BeforeConnect = [&](QObject*) {
        ++connects;
        net.Host = "127.0.0.1";
        net.Port = port;
    };
    net.SetConnected(true);
    QString branch = "0001";
    auto lookup = [&] {
        return CheckResultServ(net.AppServer().Call("GetParaCmpSup", {TServerArg::Ref(branch)}),
                               true, 0);
    };
    EXPECT_TRUE(lookup().IsPacket());
    first->terminate();

    std::filesystem::create_directories(dir.file("b"));
    rqc::test::ServerProcess::Options again{dir.file("suite.db"), dir.file("b"), {}};
    again.listen = "127.0.0.1:" + std::to_string(port);
    rqc::test::ServerProcess second(again);
    second.start();
    ASSERT_EQ(second.port(), port);
    EXPECT_TRUE(lookup().IsPacket());
    EXPECT_EQ(connects, 2) << "the reconnect takes host and port from BeforeConnect again";
    EXPECT_EQ(loggedCalls(second, "GetParaCmpSup", 1), 1) << second.log();
}
