// The dispatcher's login: who may log in, what a connection may do before and after, how
// failures are slowed down, and that what a method records as its user is the operator.

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <sstream>
#include <thread>

#include "appserver/dispatcher.h"
#include "appserver/rdm_consolida_solicita.h"
#include "appserver/worker_connection.h"
#include "consolidation_test_support.h"
#include "suitedb/operators.h"

namespace {

using namespace rqc;
using appserver::ConnectionState;
using protocol::CallResult;

const std::string kRdm(appserver::kRdmConsolidaSolicita);

class DispatcherLogin : public ::testing::Test {
  protected:
    explicit DispatcherLogin(appserver::LoginPolicy policy = {})
        : m_dispatcher(m_registry, policy), m_worker(m_db.target()) {
        appserver::registerRdmConsolidaSolicita(m_registry);
        auto c = m_db.connect();
        test::loadSmallDataSet(*c);
        suitedb::addOperator(*c, "ANA", "Ana", "senha-da-ana");
        suitedb::grantObject(*c, "ANA", kRdm);
        suitedb::addOperator(*c, "BETO", "Beto", "senha-do-beto");  // no permission
        auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(m_log);
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("test", sink));
    }
    // The log stream dies with the fixture: later tests log where they did before.
    ~DispatcherLogin() override { spdlog::set_default_logger(m_previousLogger); }

    CallResult send(const std::vector<std::byte>& body, ConnectionState& state) {
        return protocol::decodeResult(m_dispatcher.handleFrame(body, m_worker, state));
    }
    CallResult login(ConnectionState& state, const std::string& code, const std::string& pw) {
        return send(protocol::encodeLogin({code, pw}), state);
    }
    static std::vector<std::byte> paraCmpSup(std::string user = "cliente") {
        protocol::CallRequest call;
        call.object = kRdm;
        call.user = std::move(user);
        call.args = {protocol::Argument::byRef("0001")};
        call.descriptor = protocol::CallDescriptor::forArguments("GetParaCmpSup", call.args);
        return protocol::encodeCall(call);
    }

    test::ConsolidationDb m_db{test::DbKind::Sqlite};
    appserver::ObjectRegistry m_registry;
    appserver::Dispatcher m_dispatcher;
    appserver::WorkerConnection m_worker;
    std::ostringstream m_log;
    std::shared_ptr<spdlog::logger> m_previousLogger = spdlog::default_logger();
};

TEST_F(DispatcherLogin, WrongPasswordAndUnknownOperatorGetTheSameRefusalAndTheConnectionCloses) {
    struct Case {
        const char* name;
        std::string code, password;
    };
    const Case cases[] = {
        {"wrong password", "ANA", "senha-errada"},
        {"unknown operator", "NINGUEM", "senha-da-ana"},
        {"code of another case", "ana", "senha-da-ana"},
        {"code with a newline", "ANA\nX", "senha-da-ana"},
        {"empty password", "ANA", ""},
    };
    for (const auto& k : cases) {
        ConnectionState state{{"10.0.0.1", 1}, {}, {}, false};
        CallResult r = login(state, k.code, k.password);
        EXPECT_EQ(r.kind, CallResult::Kind::Error) << k.name;
        EXPECT_EQ(r.text, appserver::kLoginRefused) << k.name;
        EXPECT_TRUE(state.closeAfterAnswer) << k.name;
        EXPECT_TRUE(state.operatorCode.empty()) << k.name;
    }
    EXPECT_NE(m_log.str().find("login refused operator=NINGUEM peer=10.0.0.1:1"), std::string::npos)
        << m_log.str();
    EXPECT_EQ(m_log.str().find("senha-da-ana"), std::string::npos) << "a password was logged";
}

TEST_F(DispatcherLogin, CallsNeedALoginAndAPermissionForTheObject) {
    ConnectionState anonymous{{"10.0.0.2", 1}, {}, {}, false};
    CallResult r = send(paraCmpSup(), anonymous);
    EXPECT_EQ(r.kind, CallResult::Kind::Error);
    EXPECT_NE(r.text.find("não fez login"), std::string::npos) << r.text;
    EXPECT_TRUE(anonymous.closeAfterAnswer);

    ConnectionState beto{{"10.0.0.2", 2}, {}, {}, false};
    ASSERT_EQ(login(beto, "BETO", "senha-do-beto").text, "BETO");
    EXPECT_FALSE(beto.closeAfterAnswer);
    r = send(paraCmpSup(), beto);
    EXPECT_EQ(r.kind, CallResult::Kind::Error);
    EXPECT_EQ(r.text, "O operador BETO não tem permissão para usar " + kRdm + ".");

    ConnectionState ana{{"10.0.0.2", 3}, {}, {}, false};
    ASSERT_EQ(login(ana, "ANA", "senha-da-ana").text, "ANA");
    r = send(paraCmpSup(), ana);
    EXPECT_EQ(r.kind, CallResult::Kind::Packet) << r.text;
    EXPECT_EQ(login(ana, "BETO", "senha-do-beto").kind, CallResult::Kind::Error)
        << "a second login on the same connection";
    EXPECT_EQ(ana.operatorCode, "ANA");
}

TEST_F(DispatcherLogin, AnOlderPeerIsToldInItsOwnVersionAndClosed) {
    ConnectionState state{{"10.0.0.3", 1}, {}, {}, false};
    auto old = paraCmpSup();
    old[2] = std::byte{1};
    auto answer = m_dispatcher.handleFrame(old, m_worker, state);
    ASSERT_GE(answer.size(), 4u);
    EXPECT_EQ(answer[2], std::byte{1}) << "answered in version 1";
    EXPECT_TRUE(state.closeAfterAnswer);
    answer[2] = std::byte{protocol::kOldestProtocolVersion};  // the layout of versions 1 and 2
    CallResult r = protocol::decodeResult(answer);
    EXPECT_EQ(r.kind, CallResult::Kind::Error);
    EXPECT_NE(r.text.find("Versão de protocolo 1 não suportada"), std::string::npos) << r.text;
}

TEST_F(DispatcherLogin, AConsolidationRecordsTheOperatorWhateverUserTheClientNames) {
    ConnectionState ana{{"10.0.0.4", 1}, {}, {}, false};
    ASSERT_EQ(login(ana, "ANA", "senha-da-ana").kind, CallResult::Kind::Text);
    protocol::CallRequest call;
    call.object = kRdm;
    call.user = "administrador\nforjado";
    call.args = test::baselineArguments();
    call.descriptor = protocol::CallDescriptor::forArguments("GetConsSoli", call.args);
    CallResult r = send(protocol::encodeCall(call), ana);
    ASSERT_EQ(r.kind, CallResult::Kind::Text) << r.text;
    ASSERT_FALSE(r.text.empty());
    auto c = m_db.connect();
    auto cur = c->query("SELECT NMUSUARIO FROM CONSSOLI WHERE NRCONSSOLI = ?", {r.text});
    ASSERT_TRUE(cur->next());
    EXPECT_EQ(cur->text(0), "ANA");
    const std::string line = "call operator=ANA peer=10.0.0.4:1 object=" + kRdm +
                             " method=GetConsSoli number=" + r.text + " ";
    EXPECT_NE(m_log.str().find(line), std::string::npos) << m_log.str();
}

class DispatcherLoginThrottle : public DispatcherLogin {
  protected:
    DispatcherLoginThrottle() : DispatcherLogin(policy()) {}
    static appserver::LoginPolicy policy() {
        appserver::LoginPolicy p;
        p.freeAttempts = 2;
        p.freeAttemptsPerAddress = 4;
        p.firstWait = std::chrono::milliseconds(300);
        p.maxWait = std::chrono::milliseconds(600);
        return p;
    }
};

TEST_F(DispatcherLoginThrottle, RepeatedFailuresMakeTheOperatorWaitEvenWithTheRightPassword) {
    ConnectionState state{{"10.0.0.5", 1}, {}, {}, false};
    EXPECT_EQ(login(state, "ANA", "errada-1").text, appserver::kLoginRefused);
    EXPECT_EQ(login(state, "ANA", "errada-2").text, appserver::kLoginRefused);
    CallResult r = login(state, "ANA", "senha-da-ana");
    EXPECT_NE(r.text.find("Muitas tentativas"), std::string::npos) << r.text;
    ConnectionState other{{"10.0.0.6", 1}, {}, {}, false};
    EXPECT_EQ(login(other, "BETO", "senha-do-beto").text, "BETO") << "another operator is free";
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    EXPECT_EQ(login(state, "ANA", "senha-da-ana").text, "ANA");
}

// The login budget on both engines: on PostgreSQL its counts live in LOGINFALHA, shared by
// every server of the database.
class ThrottleOnEngines : public ::testing::TestWithParam<test::DbKind> {
  protected:
    void SetUp() override {
        m_db = std::make_unique<test::ConsolidationDb>(GetParam());
        if (!m_db->available())
            GTEST_SKIP() << "RQC_TEST_PG_URL not set";
        m_conn = m_db->connect();
        test::loadSmallDataSet(*m_conn);
        suitedb::addOperator(*m_conn, "ANA", "Ana", "senha-da-ana");
        appserver::registerRdmConsolidaSolicita(m_registry);
        appserver::LoginPolicy p;
        p.freeAttemptsPerOperator = 3;
        p.firstWait = std::chrono::milliseconds(300);
        p.maxOperatorWait = std::chrono::milliseconds(600);
        m_dispatcher = std::make_unique<appserver::Dispatcher>(m_registry, p);
        m_worker = std::make_unique<appserver::WorkerConnection>(m_db->target());
    }
    CallResult login(const std::string& address, const std::string& code, const std::string& pw) {
        ConnectionState state{{address, 4000}, {}, {}, false};
        return protocol::decodeResult(
            m_dispatcher->handleFrame(protocol::encodeLogin({code, pw}), *m_worker, state));
    }

    std::unique_ptr<test::ConsolidationDb> m_db;
    std::unique_ptr<suitedb::Connection> m_conn;
    appserver::ObjectRegistry m_registry;
    std::unique_ptr<appserver::Dispatcher> m_dispatcher;
    std::unique_ptr<appserver::WorkerConnection> m_worker;
};

TEST_P(ThrottleOnEngines, CodesNoOperatorCanHaveLeaveTheAddressBudgetWhole) {
    const std::string hostile[] = {std::string("AN\0A", 4), std::string(39, 'A') + "\xC3\xA9",
                                   std::string(41, 'A'),    "",
                                   "ANA' OR '1'='1",        "\xFF\xFE"};
    for (int round = 0; round < 20; ++round) {
        for (const auto& code : hostile) {
            // Refused as undecodable or as a failed login, never as a budget spent.
            const CallResult r = login("10.1.1.1", code, "qualquer-senha");
            EXPECT_EQ(r.kind, CallResult::Kind::Error);
            EXPECT_EQ(r.text.find("Muitas tentativas"), std::string::npos) << r.text;
        }
    }
    EXPECT_EQ(login("10.1.1.1", "ANA", "senha-da-ana").text, "ANA");
    if (GetParam() == test::DbKind::Postgres) {
        auto rows = m_conn->query("SELECT COUNT(*) FROM LOGINFALHA WHERE NRCURSO > 0");
        ASSERT_TRUE(rows->next());
        EXPECT_EQ(rows->int64(0), 0) << "an attempt was never given back";
    }
}

TEST_P(ThrottleOnEngines, AGuesserSpreadOverAddressesIsStoppedWhileTheOperatorsMachineIsNot) {
    ASSERT_EQ(login("10.2.0.1", "ANA", "senha-da-ana").text, "ANA");  // her own machine
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(login("10.3.0." + std::to_string(i), "ANA", "errada").text,
                  appserver::kLoginRefused);
    }
    const CallResult stranger = login("10.3.0.9", "ANA", "senha-da-ana");
    EXPECT_NE(stranger.text.find("Muitas tentativas"), std::string::npos) << stranger.text;
    EXPECT_EQ(login("10.2.0.1", "ANA", "senha-da-ana").text, "ANA");
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    EXPECT_EQ(login("10.3.0.9", "ANA", "senha-da-ana").text, "ANA") << "the wait is over";
}

INSTANTIATE_TEST_SUITE_P(Engines, ThrottleOnEngines,
                         ::testing::Values(test::DbKind::Sqlite, test::DbKind::Postgres),
                         test::engineCaseName);

}  // namespace
