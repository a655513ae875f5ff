// The wire over TLS against a real rqc-appserver: the client trusts only its CA and checks the
// server's name; plain TCP is refused on an address other than loopback. Certificates are made
// with the openssl command in the test's temporary folder.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <memory>

#include "protocol/client.h"
#include "protocol/protocol.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"
#include "support/demo_calls.h"
#include "support/server_process.h"
#include "support/temp_dir.h"
#include "vlm/net_connection.h"

namespace {

using namespace rqc;
using protocol::Argument;
using protocol::CallResult;
using test::makeCall;

int run(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A CA "name" (name.pem, name.key) in `dir`.
void makeCa(const test::TempDir& dir, const std::string& name) {
    ASSERT_EQ(run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=" + name +
                  "' -keyout " + dir.file(name + ".key") + " -out " + dir.file(name + ".pem")),
              0);
}

// server.pem / server.key signed by `ca`, for localhost and 127.0.0.1.
void makeServerCert(const test::TempDir& dir, const std::string& ca) {
    std::FILE* ext = std::fopen(dir.file("ext.cnf").c_str(), "w");
    ASSERT_NE(ext, nullptr);
    std::fputs("subjectAltName=DNS:localhost,IP:127.0.0.1\n", ext);
    std::fclose(ext);
    ASSERT_EQ(run("openssl req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout " +
                  dir.file("server.key") + " -out " + dir.file("server.csr")),
              0);
    ASSERT_EQ(
        run("openssl x509 -req -days 2 -in " + dir.file("server.csr") + " -CA " +
            dir.file(ca + ".pem") + " -CAkey " + dir.file(ca + ".key") +
            " -CAcreateserial -extfile " + dir.file("ext.cnf") + " -out " + dir.file("server.pem")),
        0);
}

class Tls : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_dir = new test::TempDir;
        makeCa(*s_dir, "ca");
        makeCa(*s_dir, "other-ca");
        makeServerCert(*s_dir, "ca");
        const std::string db = s_dir->file("rqc.db");
        test::makeDemoDatabase(db);
        s_server = new test::ServerProcess(
            {db,
             s_dir->path().string(),
             {"--tls-cert", s_dir->file("server.pem"), "--tls-key", s_dir->file("server.key")}});
        s_server->start();
    }
    static void TearDownTestSuite() {
        delete s_server;
        delete s_dir;
    }
    static test::TempDir* s_dir;
    static test::ServerProcess* s_server;
};
test::TempDir* Tls::s_dir = nullptr;
test::ServerProcess* Tls::s_server = nullptr;

TEST_F(Tls, OnlyTheTrustedCaAndTheExpectedNameAreAccepted) {
    using protocol::TransportFault;
    struct Case {
        const char* ca;  // nullptr: plain TCP
        const char* name;
        const char* fault;  // nullptr: the call works
        TransportFault kind;
    };
    const Case cases[] = {
        {"ca", "localhost", nullptr, {}},
        {"ca", "", nullptr, {}},  // the host, 127.0.0.1, is in the certificate
        {"other-ca", "localhost", "certificate is refused", TransportFault::CertificateRefused},
        {"ca", "server.example.org", "hostname mismatch", TransportFault::CertificateRefused},
        {nullptr, "", "closed", TransportFault::Closed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.ca ? c.ca : "plain") + " / " + c.name);
        test::TestClient client;
        if (c.ca)
            client.setTls({s_dir->file(std::string(c.ca) + ".pem"), c.name});
        client.setIoTimeout(std::chrono::seconds(5));
        try {
            client.connect("127.0.0.1", s_server->port());
            const CallResult r = client.call(makeCall("GetParaCmpSup", {Argument::byRef("0001")}));
            EXPECT_EQ(c.fault, nullptr) << "the call went through";
            EXPECT_EQ(r.kind, CallResult::Kind::Packet) << r.text;
        } catch (const protocol::TransportError& e) {
            ASSERT_NE(c.fault, nullptr) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.fault), std::string::npos) << e.what();
            EXPECT_EQ(e.fault(), c.kind) << e.what();
        }
    }
}

TEST_F(Tls, AScreenToldOfACertificateFromAnotherCaReadsCertificate) {
    TNetConnection net;
    net.ServerName = suitedb::kDemoObject;
    net.Port = s_server->port();
    net.TlsCaFile = QString::fromStdString(s_dir->file("other-ca.pem"));
    net.TlsServerName = "localhost";
    net.SetLogin(suitedb::kDemoOperator, suitedb::kDemoPassword);
    try {
        net.SetConnected(true);
        FAIL() << "connected";
    } catch (const ENetError& e) {
        EXPECT_EQ(e.kind(), TNetFailure::Certificate) << e.what();
        EXPECT_TRUE(e.sentence().contains("certificado")) << e.what();
        EXPECT_FALSE(e.sentence().contains("recusou a conexão") ||
                     e.sentence().contains("conexão recusada"))
            << e.what();
    }
}

TEST_F(Tls, AConsolidationRunsOverTls) {
    const double from = protocol::dateFromYmd(2024, 2, 14), to = protocol::dateFromYmd(2024, 4, 15);
    std::vector<Argument> args = test::demoConsSoliArguments(
        from, to, protocol::dateFromYmd(2024, 3, 15), "ZZZZZZZZZZZZZZZZZZZZ");
    test::TestClient client;
    client.setTls({s_dir->file("ca.pem"), "localhost"});
    client.connect("127.0.0.1", s_server->port());
    const CallResult r = client.call(makeCall("GetConsSoli", args));
    ASSERT_EQ(r.kind, CallResult::Kind::Text) << r.text;
    EXPECT_EQ(r.text.size(), 10u) << r.text;
}

TEST(TlsStart, PlainTcpOnAnAddressOtherThanLoopbackIsRefusedAtStart) {
    test::TempDir dir;
    for (const char* listen : {"0.0.0.0:0", "[::]:0"}) {
        const std::string out = dir.file("out.txt");
        const int status =
            std::system((test::ServerProcess::binary("rqc-appserver") + " --db " +
                         dir.file("none.db") + " --listen '" + listen + "' >/dev/null 2>" + out)
                            .c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << listen;
        std::FILE* f = std::fopen(out.c_str(), "r");
        ASSERT_NE(f, nullptr);
        char buf[512] = {};
        std::fread(buf, 1, sizeof buf - 1, f);
        std::fclose(f);
        EXPECT_NE(std::string(buf).find("without TLS"), std::string::npos) << buf;
    }
}

}  // namespace
