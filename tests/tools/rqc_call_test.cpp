#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <asio.hpp>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "names/names.h"
#include "protocol/protocol.h"
#include "server_process.h"
#include "suitedb/connection.h"
#include "suitedb/dates.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"
#include "support/demo_calls.h"
#include "support/recording_peer.h"
#include "temp_dir.h"

using namespace rqc::protocol;
using rqc::test::RecordingPeer;

extern char** environ;

namespace {

struct CallOutcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Runs build/bin/rqc-call with `args`, waiting for it to end.
CallOutcome rqcCall(const std::vector<std::string>& args) {
    rqc::test::TempDir dir;
    const std::string outPath = dir.file("out"), errPath = dir.file("err");
    std::vector<std::string> all = {rqc::test::ServerProcess::binary("rqc-call")};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + all[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    CallOutcome r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    return r;
}

// rqc-call logs in as an operator (the recording peer accepts any); tests that check the login
// set their own.
class OperatorEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ::setenv("RQC_OPERATOR", rqc::suitedb::kDemoOperator, 1);
        ::setenv(rqc::names::kPasswordVariable, rqc::suitedb::kDemoPassword, 1);
    }
};
const auto* const kOperatorEnvironment =
    ::testing::AddGlobalTestEnvironment(new OperatorEnvironment);

std::string serverOf(const RecordingPeer& peer) {
    return "127.0.0.1:" + std::to_string(peer.port());
}

std::uint16_t closedPort() {
    asio::io_context io;
    asio::ip::tcp::acceptor a(io, {asio::ip::make_address("127.0.0.1"), 0});
    return a.local_endpoint().port();
}

}  // namespace

TEST(RqcCall, BadCommandLinesNameWhatIsWrong) {
    struct Case {
        std::string name;
        std::vector<std::string> args;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"no server", {"Obj", "M"}, "--server is required"},
        {"no method", {"--server", "127.0.0.1:5000", "Obj"}, "method is required"},
        {"server without port", {"--server", "localhost", "Obj", "M"}, "expected HOST:PORT"},
        {"port not a number",
         {"--server", "localhost:http", "Obj", "M"},
         "port 'http' is not a number from 1 to 65535"},
        {"port zero", {"--server", "localhost:0", "Obj", "M"}, "port '0'"},
        {"unknown kind",
         {"--server", "localhost:1", "Obj", "M", "s:a", "x:b"},
         "argument 2 'x:b': unknown kind 'x'"},
        {"no colon",
         {"--server", "localhost:1", "Obj", "M", "text"},
         "argument 1 'text': expected s:TEXT, r:TEXT or d:YYYY-MM-DD"},
        {"bad date",
         {"--server", "localhost:1", "Obj", "M", "s:a", "r:b", "d:2023-02-30"},
         "argument 3 'd:2023-02-30': '2023-02-30' is not a date YYYY-MM-DD"},
        {"empty object", {"--server", "localhost:1", "", "M"}, "the object name is empty"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CallOutcome r = rqcCall(c.args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST(RqcCall, TextResultAndByReferenceValuesArePrinted) {
    RecordingPeer peer;
    peer.answerEchoingRefs(CallResult::ofText("0000000042"), "!", /*touchByValue=*/true);
    const CallOutcome r =
        rqcCall({"--server", serverOf(peer), "--user", "ana", "Rqc04100.rdmConsolidaSolicita",
                 "GetConsSoli", "s:0001", "r:COMP1", "d:2024-01-01", "r:"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "0000000042\nref 2: COMP1!\nref 4: !\n");

    ASSERT_EQ(peer.calls().size(), 1u);
    const CallRequest got = peer.calls()[0];
    EXPECT_EQ(got.object, "Rqc04100.rdmConsolidaSolicita");
    EXPECT_EQ(got.user, "ana");
    EXPECT_EQ(got.descriptor.method, "GetConsSoli");
    EXPECT_EQ(got.descriptor.typeCodes, (std::vector<std::uint8_t>{0x48, 0xC8, 0x07, 0xC8}));
    EXPECT_EQ(got.args[2].date, 45292);
}

TEST(RqcCall, DataPacketIsPrintedAsTabSeparatedLines) {
    DataPacket p;
    p.fields = {{"CHAVE", FieldType::Text, 18, ""}, {"OBS", FieldType::Text, 20, ""}};
    p.addRow({"000100020000000001", "a\tb\\c"});
    p.addRow({"000100020000000002", std::nullopt});
    p.addRow({"000100020000000003", ""});
    RecordingPeer peer;
    peer.setScript(
        [&](const CallRequest&) { return RecordingPeer::Reply::answer(CallResult::ofPacket(p)); });
    const CallOutcome r = rqcCall({"--server", serverOf(peer), "Obj", "GetSolicitacao"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "CHAVE\tOBS\n"
              "000100020000000001\ta\\tb\\\\c\n"
              "000100020000000002\t\\N\n"
              "000100020000000003\t\n");
}

TEST(RqcCall, EmptyResultPrintsOnlyTheReferences) {
    RecordingPeer peer;
    const CallOutcome r = rqcCall({"--server", serverOf(peer), "Obj", "M", "r:keep"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "ref 1: keep\n");
}

TEST(RqcCall, FailuresGoToStandardErrorWithTheirExitStatus) {
    RecordingPeer peer;
    peer.setScript([](const CallRequest&) {
        return RecordingPeer::Reply::answer(CallResult::error("branch 9999 unknown"));
    });
    const CallOutcome serverError = rqcCall({"--server", serverOf(peer), "Obj", "M", "r:x"});
    EXPECT_EQ(serverError.exitCode, 1);
    EXPECT_EQ(serverError.err, "rqc-call: server error: branch 9999 unknown\n");
    EXPECT_EQ(serverError.out, "");

    const std::string refused = "127.0.0.1:" + std::to_string(closedPort());
    const CallOutcome noServer = rqcCall({"--server", refused, "Obj", "M"});
    EXPECT_EQ(noServer.exitCode, 3);
    EXPECT_NE(noServer.err.find("cannot connect to " + refused), std::string::npos) << noServer.err;
}

TEST(RqcCall, RealServerAnswersARequestLookup) {
    if (!std::filesystem::exists(rqc::test::ServerProcess::binary("rqc-appserver"))) {
        GTEST_SKIP() << "rqc-appserver not built";
    }
    rqc::test::TempDir dir;
    rqc::test::makeDemoDatabase(dir.file("suite.db"));
    rqc::test::ServerProcess server({dir.file("suite.db"), dir.path().string(), {}});
    server.start();
    const std::string at = "127.0.0.1:" + std::to_string(server.port());

    const CallOutcome lookup =
        rqcCall({"--server", at, "Rqc04100.rdmConsolidaSolicita", "GetSolicitacao", "d:2023-01-01",
                 "d:2025-12-31", "r:", "r:T"});
    EXPECT_EQ(lookup.exitCode, 0) << lookup.err;
    EXPECT_NE(lookup.out.find("CHAVE"), std::string::npos) << lookup.out;
    EXPECT_GT(std::count(lookup.out.begin(), lookup.out.end(), '\n'), 3) << lookup.out;
    EXPECT_NE(lookup.out.find("ref 3: \nref 4: T\n"), std::string::npos) << lookup.out;

    const CallOutcome unknown =
        rqcCall({"--server", at, "Rqc04100.rdmConsolidaSolicita", "NoSuchMethod"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.err.find("server error"), std::string::npos) << unknown.err;
}

TEST(RqcCall, OperatorLogsInWithThePasswordFromTheEnvironment) {
    rqc::test::TempDir dir;
    rqc::test::makeDemoDatabase(dir.file("suite.db"));
    rqc::test::ServerProcess server({dir.file("suite.db"), dir.path().string(), {}});
    server.start();
    const std::string at = "127.0.0.1:" + std::to_string(server.port());
    struct Case {
        const char* name;
        const char* operatorCode;  // nullptr: no --operator and no RQC_OPERATOR
        const char* password;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        {"right password", "COMP001", "rqc04100", 0, ""},
        {"wrong password", "COMP001", "errada-123", 4, "Operador ou senha inválidos."},
        {"unknown operator", "NINGUEM", "rqc04100", 4, "Operador ou senha inválidos."},
        {"no permission", "OPER001", "rqc04100", 1, "não tem permissão"},
        {"no operator", nullptr, "rqc04100", 2, "nenhum operador para o login"},
    };
    for (const auto& c : cases) {
        ::unsetenv("RQC_OPERATOR");
        ::setenv(rqc::names::kPasswordVariable, c.password, 1);
        std::vector<std::string> args = {"--server", at};
        if (c.operatorCode != nullptr)
            args.insert(args.end(), {"--operator", c.operatorCode});
        args.insert(args.end(), {"Rqc04100.rdmConsolidaSolicita", "GetParaCmpSup", "r:0001"});
        const CallOutcome r = rqcCall(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.name << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
    }
    rqc::test::ensureTestLogin(dir.file("suite.db"));
}
