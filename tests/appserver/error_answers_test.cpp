// Error answers as the product's own client receives them from a real server: readable
// UTF-8 whatever the client sent, short, in Portuguese, and free of SQL, hosts and passwords.

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

#include "appserver/dispatcher.h"
#include "appserver/error_text.h"
#include "appserver/object_registry.h"
#include "appserver/rdm_consolida_solicita.h"
#include "appserver/worker_connection.h"
#include "protocol/client.h"
#include "protocol/protocol.h"
#include "protocol/utf8.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"
#include "support/command.h"
#include "support/demo_calls.h"
#include "support/pg_database.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

namespace {

using namespace rqc;
using protocol::Argument;
using protocol::CallRequest;
using protocol::CallResult;
using test::makeCall;

const char* const kRdm = "Rqc04100.rdmConsolidaSolicita";

std::vector<Argument> consSoli() {
    const double day = protocol::dateFromYmd(2024, 3, 1);
    return test::demoConsSoliArguments(day, day, day, "ZZZZ");
}

CallRequest consSoliWith(std::size_t n, std::string text) {
    auto a = consSoli();
    a[n - 1].text = std::move(text);
    return makeCall("GetConsSoli", a);
}

using protocol::wire::isUtf8;

class ErrorAnswers : public ::testing::Test {
  protected:
    void SetUp() override {
        test::makeDemoDatabase(dbPath());
        m_server = std::make_unique<test::ServerProcess>(
            test::ServerProcess::Options{dbPath(), m_dir.path().string(), {"--threads", "2"}});
        m_server->start();
        // Made after start(), which sets the login the client takes from the environment.
        m_client = std::make_unique<test::TestClient>();
        m_client->connect("127.0.0.1", m_server->port());
    }
    std::string dbPath() { return m_dir.file("suite.db"); }

    test::TempDir m_dir;
    std::unique_ptr<test::ServerProcess> m_server;
    std::unique_ptr<test::TestClient> m_client;
};

}  // namespace

TEST_F(ErrorAnswers, FaultsInNonAsciiOrHugeValuesComeBackReadableAndShort) {
    struct Case {
        const char* name;
        CallRequest call;
        std::string fragment;
    };
    std::string longOption = "a", shownOption = "\"a";
    for (int i = 0; i < 22; ++i)
        longOption += "é";
    for (int i = 0; i < 19; ++i)
        shownOption += "é";
    shownOption = "Argumento 10 (opção Considera Estoque da Filial): " + shownOption +
                  "…\" não é um valor válido";
    const Case cases[] = {
        {"accented branch", makeCall("GetParaCmpSup", {Argument::byRef("é")}),
         "Argumento 1 (filial): o item 1, \"é\", contém o caractere \"é\""},
        {"euro sign in a list",
         makeCall("GetSolicitacao", {Argument::ofDate(protocol::dateFromYmd(2024, 3, 1)),
                                     Argument::ofDate(protocol::dateFromYmd(2024, 3, 31)),
                                     Argument::byRef("0002,€"), Argument::byRef("")}),
         "Argumento 3 (filiais solicitantes): o item 2, \"€\", contém o caractere \"€\""},
        {"over-long option", consSoliWith(10, longOption), shownOption},
        {"over-long code", consSoliWith(3, "ABCDE"),
         "Argumento 3 (filial centralizadora de compras): o código \"ABCDE\" tem mais de 4 "
         "caracteres."},
        {"over-long method name", makeCall(std::string(79, 'G') + "é", {}),
         "não tem o método \"GGGG"},
        {"unknown object", makeCall("GetParaCmpSup", {}, "Rqc04100.rdmOutro"),
         "O servidor não conhece o objeto \"Rqc04100.rdmOutro\"."},
        {"argument of 1 MB", consSoliWith(1, std::string(1'000'000, 'A')),
         "Argumento 1 (filial de processamento): o código \"AAAA"},
    };
    for (const auto& k : cases) {
        CallResult r;
        ASSERT_NO_THROW(r = m_client->call(k.call)) << k.name;
        EXPECT_EQ(r.kind, CallResult::Kind::Error) << k.name;
        EXPECT_NE(r.text.find(k.fragment), std::string::npos) << k.name << ": " << r.text;
        EXPECT_LT(r.text.size(), 300u) << k.name;
    }
    m_client->close();
    ASSERT_EQ(m_server->terminate(), 0);
    const std::string log = m_server->log();
    EXPECT_TRUE(isUtf8(log));
    EXPECT_LT(log.size(), 20'000u);
}

TEST_F(ErrorAnswers, DatabaseFailuresNameAnIncidentAndKeepTheDetailInTheLog) {
    suitedb::Connection::open(dbPath())->exec("DROP TABLE PARCMPSUP");
    const CallResult r = m_client->call(makeCall("GetParaCmpSup", {Argument::byRef("0001")}));
    ASSERT_EQ(r.kind, CallResult::Kind::Error);
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(r.text, m,
                          std::regex("^Erro no banco de dados \\(ocorrência ([0-9A-F]{8})\\)"
                                     "\\. Tente novamente; se persistir, informe o "
                                     "administrador\\.$")))
        << r.text;
    for (const char* secret : {"PARCMPSUP", "SELECT", "suite.db", "no such table"})
        EXPECT_EQ(r.text.find(secret), std::string::npos) << secret << " in " << r.text;
    const std::string id = m[1];
    m_client->close();
    ASSERT_EQ(m_server->terminate(), 0);
    const std::string log = m_server->log();
    const auto line = log.find("incident " + id);
    ASSERT_NE(line, std::string::npos) << log;
    EXPECT_NE(log.find("PARCMPSUP", line), std::string::npos) << log;
}

// Opening a PostgreSQL database that refuses the connection: the message shows no host, port,
// user or password.
TEST(ErrorAnswer, UnreachablePostgresShowsNoConnectionDetails) {
    appserver::ObjectRegistry registry;
    appserver::registerRdmConsolidaSolicita(registry);
    appserver::Dispatcher dispatcher(registry);
    appserver::WorkerConnection db(
        "host=127.0.0.1 port=1 dbname=suite user=buyer password=s3cret connect_timeout=2");
    CallRequest call = makeCall("GetParaCmpSup", {Argument::byRef("0001")});
    const appserver::ConnectionState state{{"127.0.0.1", 9}, "COMPRADOR", {kRdm}};
    const CallResult r = dispatcher.dispatch(call, db, state);
    ASSERT_EQ(r.kind, CallResult::Kind::Error);
    EXPECT_TRUE(r.text.starts_with("Erro no banco de dados (ocorrência ")) << r.text;
    for (const char* detail : {"127.0.0.1", "port", "buyer", "s3cret", "PostgreSQL"})
        EXPECT_EQ(r.text.find(detail), std::string::npos) << detail << " in " << r.text;
}

// A real server started on PostgreSQL targets that hold a password, in each written form; and
// the database tool naming the same targets.
TEST(TargetRedaction, ServerAndToolNeverShowAPassword) {
    test::PgDatabase pg;
    RQC_SKIP_WITHOUT_PG(pg);
    {
        auto db = suitedb::Connection::open(pg.url());
        suitedb::applySchema(*db);
    }
    // pg.url() is postgresql://USER@HOST:PORT/DB
    std::smatch m;
    ASSERT_TRUE(
        std::regex_match(pg.url(), m, std::regex("postgresql://([^@]+)@([^:/]+):([0-9]+)/([^?]+)")))
        << pg.url();
    const std::string user = m[1], host = m[2], port = m[3], name = m[4];
    const std::string targets[] = {
        "host=" + host + " port=" + port + " dbname=" + name + " user=" + user +
            " password=s3cretKV",
        "host=" + host + " port=" + port + " dbname=" + name + " user=" + user +
            " password='s3cret QUOTED'",
        "postgresql://" + user + ":s3cretURL@" + host + ":" + port + "/" + name,
        "postgresql://" + user + "@" + host + ":" + port + "/" + name + "?password=s3cretQUERY",
    };
    for (const auto& target : targets) {
        test::TempDir dir;
        test::ServerProcess server({target, dir.path().string(), {"--threads", "1"}});
        server.start();
        ASSERT_EQ(server.terminate(), 0) << target;
        const std::string log = server.log();
        EXPECT_NE(log.find("listening on"), std::string::npos) << log;
        EXPECT_EQ(log.find("s3cret"), std::string::npos) << log;

        const std::string out =
            test::runCommand("timeout 20 " + test::ServerProcess::binary("rqc-suitedb") +
                             " migrate --db \"" + target + "\"")
                .output;
        EXPECT_NE(out.find("schema"), std::string::npos) << out;
        EXPECT_EQ(out.find("s3cret"), std::string::npos) << out;
    }
}
