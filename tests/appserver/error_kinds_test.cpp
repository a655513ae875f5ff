// A client of a real server tells failures apart by the kind their answer carries, never by
// its words: a bad argument, a record that is not there, a busy server, a database failure.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "protocol/protocol.h"
#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"
#include "support/demo_calls.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

namespace {

using namespace rqc;
using protocol::Argument;
using protocol::CallResult;
using protocol::ErrorKind;
using test::makeCall;

// Every line of central 0001 in the generated set, taken again by each run.
protocol::CallRequest everyLineAgain() {
    const auto day = [](int y, int m, int d) {
        return Argument::ofDate(protocol::dateFromYmd(y, m, d));
    };
    return makeCall(
        "GetConsSoli",
        {Argument::byValue("0001"), Argument::byRef(""), Argument::byRef("0001"),
         Argument::byRef(""), Argument::byValue("0001"), Argument::byValue(""),
         Argument::byValue(std::string(20, 'Z')), day(2000, 1, 1), day(2099, 12, 31),
         Argument::byRef("N"), Argument::byRef("T"), Argument::byRef("N"), day(2024, 6, 1),
         Argument::byRef("T"), Argument::byRef(""), Argument::byRef("N"), Argument::byRef("N"),
         Argument::byRef("N"), Argument::byRef("N")});
}

TEST(ErrorKinds, AClientTellsBusyBadArgumentNotFoundAndDatabaseFailureApart) {
    test::TempDir dir;
    const std::string db = dir.file("suite.db");
    {
        auto c = suitedb::Connection::open(db);
        suitedb::applySchema(*c);
        suitedb::generateLarge(*c, 60'000, suitedb::parseIsoDate("2024-06-01"));
    }
    test::ServerProcess server(
        {db, dir.path().string(), {"--threads", "4", "--write-wait", "50ms"}});
    server.start();
    test::TestClient first, second;
    first.connect("127.0.0.1", server.port());
    second.connect("127.0.0.1", server.port());

    const CallResult bad = first.call(makeCall("GetParaCmpSup", {Argument::ofDate(1)}));
    EXPECT_EQ(bad.errorKind, ErrorKind::BadArgument) << bad.text;
    const CallResult missing =
        first.call(makeCall("EstornaConsSoli", {Argument::byValue("0000099999")}));
    EXPECT_EQ(missing.errorKind, ErrorKind::NotFound) << missing.text;

    // One run holds the file's write turn; the next writer would wait past write-wait.
    CallResult held;
    std::thread run([&] { held = first.call(everyLineAgain()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const CallResult busy = second.call(everyLineAgain());
    run.join();
    EXPECT_EQ(held.kind, CallResult::Kind::Text) << held.text;
    EXPECT_EQ(busy.errorKind, ErrorKind::Busy) << busy.text;

    suitedb::Connection::open(db)->exec("DROP TABLE PARCMPSUP");
    const CallResult failed = second.call(makeCall("GetParaCmpSup", {Argument::byRef("0001")}));
    EXPECT_EQ(failed.errorKind, ErrorKind::DatabaseFailure) << failed.text;
}

}  // namespace
