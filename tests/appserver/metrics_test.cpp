// What an operator reads of a real server after a session's work: its Prometheus metrics move
// by exactly what was done, its JSON log has one object per line and finds a failed call by
// the occurrence id its user was shown, and liveness answers apart from readiness.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "protocol/client.h"
#include "suitedb/connection.h"
#include "support/demo_calls.h"
#include "support/haproxy_process.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

namespace {

using namespace rqc;
using protocol::Argument;
using protocol::CallResult;
using test::makeCall;

// The value of one series in a scrape (`name{labels}` as written there); 0 when absent.
double series(const std::string& scrape, const std::string& name) {
    std::istringstream in(scrape);
    for (std::string line; std::getline(in, line);) {
        if (line.size() > name.size() && line.compare(0, name.size(), name) == 0 &&
            line[name.size()] == ' ')
            return std::stod(line.substr(name.size() + 1));
    }
    return 0;
}

class ServerMetrics : public ::testing::Test {
  protected:
    void SetUp() override {
        test::makeDemoDatabase(m_dir.file("suite.db"));
        m_metricsPort = test::freeLoopbackPort();
        m_healthPort = test::freeLoopbackPort();
        m_server = std::make_unique<test::ServerProcess>(test::ServerProcess::Options{
            m_dir.file("suite.db"),
            m_dir.path().string(),
            {"--threads", "2", "--log-format", "json", "--metrics-listen",
             "127.0.0.1:" + std::to_string(m_metricsPort), "--health-listen",
             "127.0.0.1:" + std::to_string(m_healthPort)}});
        m_server->start();
    }
    std::string scrape() { return test::httpGet(m_metricsPort, "/metrics"); }

    test::TempDir m_dir;
    std::uint16_t m_metricsPort = 0;
    std::uint16_t m_healthPort = 0;
    std::unique_ptr<test::ServerProcess> m_server;
};

const std::string kMethod = "Rqc04100.rdmConsolidaSolicita.";
std::string calls(const std::string& method, const char* outcome) {
    return "rqc_calls_total{method=\"" + kMethod + method + "\",outcome=\"" + outcome + "\"}";
}

TEST_F(ServerMetrics, CountersMoveByWhatWasDoneAndTheLogFindsEachCallByItsOccurrence) {
    const std::string before = scrape();
    ASSERT_TRUE(before.starts_with("HTTP/1.1 200 OK")) << before;
    EXPECT_EQ(series(before, "rqc_schema_version"), 6);

    test::TestClient client;  // logs in
    client.connect("127.0.0.1", m_server->port());
    {
        protocol::Client wrong;
        wrong.setLogin("COMP001", "senha-errada");
        EXPECT_THROW(wrong.connect("127.0.0.1", m_server->port()), protocol::LoginRefused);
    }
    for (int i = 0; i < 2; ++i) {
        EXPECT_NE(client.call(makeCall("GetParaCmpSup", {Argument::byRef("0001")})).kind,
                  CallResult::Kind::Error);
    }
    const double day = protocol::dateFromYmd(2024, 3, 1);
    const CallResult made = client.call(
        makeCall("GetConsSoli", test::demoConsSoliArguments(day, day + 30, day, "ZZZZ")));
    ASSERT_EQ(made.kind, CallResult::Kind::Text) << made.text;
    ASSERT_FALSE(made.text.empty());
    // An argument of the wrong kind is refused, not failed.
    const CallResult refused = client.call(makeCall("GetParaCmpSup", {Argument::ofDate(day)}));
    ASSERT_EQ(refused.kind, CallResult::Kind::Error);
    // A database failure: an incident, its occurrence id shown to the user.
    suitedb::Connection::open(m_dir.file("suite.db"))->exec("DROP TABLE PARCMPSUP");
    const CallResult failed = client.call(makeCall("GetParaCmpSup", {Argument::byRef("0001")}));
    std::smatch id;
    ASSERT_TRUE(std::regex_search(failed.text, id, std::regex("ocorrência ([0-9A-F]{8})")))
        << failed.text;

    const std::string after = scrape();
    const auto moved = [&](const std::string& name) {
        return series(after, name) - series(before, name);
    };
    EXPECT_EQ(moved("rqc_logins_total{outcome=\"ok\"}"), 1);
    EXPECT_EQ(moved("rqc_logins_total{outcome=\"refused\"}"), 1);
    EXPECT_EQ(series(after, "rqc_login_failure_addresses"), 1);
    EXPECT_EQ(moved(calls("GetParaCmpSup", "ok")), 2);
    EXPECT_EQ(moved(calls("GetParaCmpSup", "error")), 1);
    EXPECT_EQ(moved(calls("GetConsSoli", "ok")), 1);
    EXPECT_EQ(moved(calls("GetParaCmpSup", "refused")), 1);
    EXPECT_EQ(moved("rqc_call_duration_seconds_count{method=\"" + kMethod + "GetParaCmpSup\"}"), 4);
    EXPECT_EQ(moved("rqc_consolidation_duration_seconds_count"), 1);
    {
        auto db = suitedb::Connection::open(m_dir.file("suite.db"));
        auto count = [&](const char* table) {
            auto c =
                db->query(std::string("SELECT COUNT(*) FROM ") + table + " WHERE NRCONSSOLI = ?",
                          {made.text});
            return c->next() ? static_cast<double>(c->int64(0)) : -1.0;
        };
        EXPECT_EQ(moved("rqc_consolidation_lines_total"), count("ITCONSSOLIORIG"));
        EXPECT_EQ(moved("rqc_consolidation_products_total"), count("ITCONSSOLI"));
    }
    EXPECT_EQ(series(after, "rqc_connections_open"), 1);
    EXPECT_EQ(series(after, "rqc_connections_waiting_login"), 0);
    for (const char* secret : {"COMP001", "senha", "127.0.0.1", "PARCMPSUP"})
        EXPECT_EQ(after.find(secret), std::string::npos) << secret << " in the metrics";

    // Liveness holds while readiness is about the database.
    EXPECT_TRUE(test::httpGet(m_healthPort, "/live").starts_with("HTTP/1.1 200")) << "live";
    EXPECT_TRUE(test::httpGet(m_healthPort, "/ready").starts_with("HTTP/1.1 200")) << "ready";
    EXPECT_TRUE(test::httpGet(m_healthPort, "/other").starts_with("HTTP/1.1 404"));

    client.close();
    ASSERT_EQ(m_server->terminate(), 0);
    std::ifstream log(m_server->logPath());
    int objects = 0;
    std::string incident, callLine;
    for (std::string line; std::getline(log, line);) {
        ASSERT_TRUE(line.starts_with("{\"time\":\"") && line.ends_with("}")) << line;
        ++objects;
        if (line.find("\"occurrence\":\"" + id[1].str() + "\"") == std::string::npos)
            continue;
        (line.find("\"event\":\"incident\"") != std::string::npos ? incident : callLine) = line;
    }
    EXPECT_GT(objects, 6);
    EXPECT_NE(incident.find("PARCMPSUP"), std::string::npos) << incident;
    for (const char* field : {"\"event\":\"call\"", "\"operator\":\"COMP001\"",
                              "\"method\":\"Rqc04100.rdmConsolidaSolicita.GetParaCmpSup\"",
                              "\"outcome\":\"error\"", "\"duration_ms\":"})
        EXPECT_NE(callLine.find(field), std::string::npos) << field << " in " << callLine;
}

}  // namespace
