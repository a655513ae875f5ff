#include "appserver/dispatcher.h"

#include <gtest/gtest.h>

#include "appserver/argument_error.h"
#include "appserver/object_registry.h"
#include "appserver/rdm_consolida_solicita.h"
#include "appserver/worker_connection.h"
#include "protocol/protocol.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"
#include "support/demo_calls.h"
#include "support/temp_dir.h"

namespace {

using namespace rqc;
using appserver::CallContext;
using protocol::Argument;
using protocol::CallRequest;
using protocol::CallResult;

CallRequest makeCall(std::string object, std::string method, std::vector<Argument> args) {
    CallRequest call;
    call.object = std::move(object);
    call.user = "tester";
    call.descriptor = protocol::CallDescriptor::forArguments(std::move(method), args);
    call.args = std::move(args);
    return call;
}

class Dispatcher : public ::testing::Test {
  protected:
    Dispatcher() : m_dispatcher(m_registry), m_db(m_dir.file("suite.db")) {
        test::makeDemoDatabase(m_dir.file("suite.db"));
        appserver::registerRdmConsolidaSolicita(m_registry);
        auto& echo = m_registry.add("Test.Echo");
        const auto V = protocol::kTextByValue, R = protocol::kTextByRef, D = protocol::kDate;
        echo.addMethod("Touch", {V, R, D, R}, [](CallContext&, std::vector<Argument>& a) {
            for (auto& arg : a)
                arg.text += "!";
            a[2].date += 1;
            return CallResult::ofText("touched");
        });
        echo.addMethod("Refuse", {R}, [](CallContext&, std::vector<Argument>& a) -> CallResult {
            a[0].text = "changed";
            throw appserver::ArgumentError("Argumento 1 (coisa): não é aceitável.");
        });
        echo.addMethod("Fail", {R}, [](CallContext&, std::vector<Argument>& a) -> CallResult {
            a[0].text = "changed";
            throw std::runtime_error("disk on fire");
        });
        echo.addMethod("Odd", {},
                       [](CallContext&, std::vector<Argument>&) -> CallResult { throw 42; });
        echo.addMethod("NoTable", {}, [](CallContext& ctx, std::vector<Argument>&) {
            ctx.db.get().query("SELECT * FROM NO_SUCH_TABLE")->next();
            return CallResult{};
        });
    }

    CallResult run(CallRequest call) { return m_dispatcher.dispatch(call, m_db, m_login); }

    test::TempDir m_dir;
    appserver::ObjectRegistry m_registry;
    appserver::Dispatcher m_dispatcher;
    appserver::WorkerConnection m_db;
    // A connection that has logged in with permission for both objects.
    appserver::ConnectionState m_login{{"127.0.0.1", 1}, "TESTE", {kRdmName, "Test.Echo"}, false};
    static constexpr const char* kRdmName = "Rqc04100.rdmConsolidaSolicita";
};

const std::string kRdm(appserver::kRdmConsolidaSolicita);

}  // namespace

TEST_F(Dispatcher, FaultsBecomeErrorResultsThatSayWhatWasWrong) {
    struct Case {
        const char* name;
        CallRequest call;
        const char* message;
    };
    CallRequest miscounted = makeCall(kRdm, "GetParaCmpSup", {Argument::byRef("0001")});
    miscounted.descriptor.argCount = 2;
    CallRequest namedArgs = makeCall(kRdm, "GetParaCmpSup", {Argument::byRef("0001")});
    namedArgs.descriptor.namedArgCount = 1;
    const double day = protocol::dateFromYmd(2024, 3, 1);
    const Case cases[] = {
        {"unknown object", makeCall("Rqc04100.rdmNothing", "GetParaCmpSup", {Argument::byRef("1")}),
         "O servidor não conhece o objeto \"Rqc04100.rdmNothing\"."},
        {"object name with control bytes", makeCall(std::string("X\x01Y"), "M", {}),
         "o objeto \"X\\x01Y\""},
        {"unknown method", makeCall(kRdm, "GetEverything", {}),
         "O objeto \"Rqc04100.rdmConsolidaSolicita\" não tem o método \"GetEverything\"."},
        {"method names are case-sensitive", makeCall(kRdm, "getparacmpsup", {Argument::byRef("1")}),
         "não tem o método \"getparacmpsup\""},
        {"too many arguments",
         makeCall(kRdm, "GetParaCmpSup", {Argument::byRef("0001"), Argument::byRef("0002")}),
         "O método GetParaCmpSup recebe 1 argumento; a chamada trouxe 2."},
        {"too few arguments", makeCall(kRdm, "GetSolicitacao", {Argument::ofDate(day)}),
         "O método GetSolicitacao recebe 4 argumentos; a chamada trouxe 1."},
        {"by value where by reference is declared",
         makeCall(kRdm, "GetParaCmpSup", {Argument::byValue("0001")}),
         "o argumento 1 deve ser texto por referência (0xC8), mas a chamada passou texto por "
         "valor (0x48)"},
        {"text where a date is declared",
         makeCall(kRdm, "GetSolicitacao",
                  {Argument::ofDate(day), Argument::byRef("x"), Argument::byRef(""),
                   Argument::byRef("T")}),
         "o argumento 2 deve ser data (0x07), mas a chamada passou texto por referência "
         "(0xC8)"},
        {"descriptor disagrees with the arguments", miscounted, "Chamada malformada"},
        {"named arguments", namedArgs, "Chamada malformada"},
        {"argument refused by the method", makeCall("Test.Echo", "Refuse", {Argument::byRef("x")}),
         "Argumento 1 (coisa): não é aceitável."},
        {"method failure", makeCall("Test.Echo", "Fail", {Argument::byRef("x")}),
         "Erro interno do servidor (ocorrência "},
        {"non-standard exception", makeCall("Test.Echo", "Odd", {}),
         "Erro interno do servidor (ocorrência "},
        {"database failure", makeCall("Test.Echo", "NoTable", {}),
         "Erro no banco de dados (ocorrência "},
        {"malformed branch", makeCall(kRdm, "GetParaCmpSup", {Argument::byRef("0001'--")}),
         "Argumento 1 (filial)"},
    };
    for (const auto& k : cases) {
        CallResult r = run(k.call);
        EXPECT_EQ(r.kind, CallResult::Kind::Error) << k.name;
        EXPECT_NE(r.text.find(k.message), std::string::npos) << k.name << ": " << r.text;
        EXPECT_TRUE(r.byRef.empty()) << k.name;
        EXPECT_EQ(r.text.find("disk on fire"), std::string::npos) << k.name;
        EXPECT_EQ(r.text.find("NO_SUCH_TABLE"), std::string::npos) << k.name;
    }
}

TEST_F(Dispatcher, OnlyByReferenceArgumentsComeBackAsTheMethodLeftThem) {
    CallResult r = run(makeCall("Test.Echo", "Touch",
                                {Argument::byValue("a"), Argument::byRef("b"),
                                 Argument::ofDate(100), Argument::byRef("")}));
    ASSERT_EQ(r.kind, CallResult::Kind::Text) << r.text;
    EXPECT_EQ(r.text, "touched");
    using Back = std::vector<std::pair<std::uint8_t, std::string>>;
    EXPECT_EQ(r.byRef, (Back{{1, "b!"}, {3, "!"}}));

    std::vector<Argument> callerArgs = {Argument::byValue("a"), Argument::byRef("b"),
                                        Argument::ofDate(100), Argument::byRef("")};
    protocol::applyByRef(r, callerArgs);
    EXPECT_EQ(callerArgs[0].text, "a");
    EXPECT_EQ(callerArgs[1].text, "b!");
    EXPECT_EQ(callerArgs[2].date, 100);
}

TEST_F(Dispatcher, ServerMethodsReturnByReferenceValuesAsReceived) {
    const double d1 = protocol::dateFromYmd(2024, 2, 1), d2 = protocol::dateFromYmd(2024, 4, 30);
    CallResult r = run(makeCall(kRdm, "GetSolicitacao",
                                {Argument::ofDate(d1), Argument::ofDate(d2),
                                 Argument::byRef(" 0002 , 0003 "), Argument::byRef("")}));
    ASSERT_EQ(r.kind, CallResult::Kind::Packet) << r.text;
    EXPECT_GT(r.packet.rowCount(), 0u);
    using Back = std::vector<std::pair<std::uint8_t, std::string>>;
    EXPECT_EQ(r.byRef, (Back{{2, " 0002 , 0003 "}, {3, ""}}));

    r = run(makeCall(kRdm, "GetParaCmpSup", {Argument::byRef("0001")}));
    ASSERT_EQ(r.kind, CallResult::Kind::Packet) << r.text;
    EXPECT_EQ(r.byRef, (Back{{0, "0001"}}));
}

TEST_F(Dispatcher, DatabaseFailureDropsTheConnectionAndTheNextCallReopensIt) {
    ASSERT_EQ(run(makeCall(kRdm, "GetParaCmpSup", {Argument::byRef("0001")})).kind,
              CallResult::Kind::Packet);
    EXPECT_TRUE(m_db.isOpen());
    EXPECT_EQ(run(makeCall("Test.Echo", "NoTable", {})).kind, CallResult::Kind::Error);
    EXPECT_FALSE(m_db.isOpen());
    CallResult r = run(makeCall(kRdm, "GetParaCmpSup", {Argument::byRef("0001")}));
    ASSERT_EQ(r.kind, CallResult::Kind::Packet) << r.text;
    EXPECT_EQ(r.packet.rowCount(), 1u);
}

TEST_F(Dispatcher, UnopenableDatabaseIsAnErrorResultNotACrash) {
    appserver::WorkerConnection broken(m_dir.file("no/such/dir/suite.db"));
    CallRequest call = makeCall(kRdm, "GetParaCmpSup", {Argument::byRef("0001")});
    CallResult r = m_dispatcher.dispatch(call, broken, m_login);
    EXPECT_EQ(r.kind, CallResult::Kind::Error);
    EXPECT_NE(r.text.find("Erro no banco de dados (ocorrência "), std::string::npos) << r.text;
}

TEST_F(Dispatcher, FramesThatCannotBeDecodedGetAnErrorResult) {
    auto valid = protocol::encodeCall(makeCall(kRdm, "GetParaCmpSup", {Argument::byRef("0001")}));
    auto otherVersion = valid;
    otherVersion[2] = std::byte{9};
    auto truncated = valid;
    truncated.resize(valid.size() - 3);
    auto trailing = valid;
    trailing.push_back(std::byte{0});
    const std::vector<std::byte> garbage = {std::byte{'G'}, std::byte{'E'}, std::byte{'T'},
                                            std::byte{' '}, std::byte{'/'}};
    struct Case {
        const char* name;
        std::vector<std::byte> body;
        const char* message;
    };
    const Case cases[] = {
        {"empty body", {}, "Pedido ilegível"},
        {"garbage", garbage, "Pedido ilegível"},
        {"other protocol version", otherVersion, "Versão de protocolo 9"},
        {"truncated body", truncated, "Pedido ilegível"},
        {"trailing bytes", trailing, "Pedido ilegível"},
    };
    for (const auto& k : cases) {
        CallResult r = protocol::decodeResult(m_dispatcher.handleFrame(k.body, m_db, m_login));
        EXPECT_EQ(r.kind, CallResult::Kind::Error) << k.name;
        EXPECT_NE(r.text.find(k.message), std::string::npos) << k.name << ": " << r.text;
    }
    CallResult ok = protocol::decodeResult(m_dispatcher.handleFrame(valid, m_db, m_login));
    ASSERT_EQ(ok.kind, CallResult::Kind::Packet) << ok.text;
    EXPECT_EQ(ok.packet.rowCount(), 1u);
}

TEST(ObjectRegistry, NamesAreUnique) {
    appserver::ObjectRegistry registry;
    appserver::registerRdmConsolidaSolicita(registry);
    EXPECT_THROW(appserver::registerRdmConsolidaSolicita(registry), std::invalid_argument);
    const auto* rdm = registry.find(kRdm);
    ASSERT_NE(rdm, nullptr);
    const auto* m = rdm->findMethod("GetSolicitacao");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->argumentKinds,
              (std::vector<std::uint8_t>{protocol::kDate, protocol::kDate, protocol::kTextByRef,
                                         protocol::kTextByRef}));
    auto& other = registry.add("Other.Object");
    other.addMethod("M", {}, [](CallContext&, std::vector<Argument>&) { return CallResult{}; });
    EXPECT_THROW(other.addMethod("M", {}, {}), std::invalid_argument);
}
