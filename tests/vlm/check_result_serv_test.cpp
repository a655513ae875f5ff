#include "vlm/check_result_serv.h"

#include <gtest/gtest.h>

#include "protocol/protocol.h"

namespace {

TServerResult packet() {
    return TServerResult::ofPacket(std::make_shared<const rqc::protocol::DataPacket>());
}

}  // namespace

TEST(CheckResultServ, ReturnsThePayloadOfTheExpectedKindOrRaises) {
    struct Case {
        std::string name;
        TServerResult result;
        bool flag;
        int number;
        std::string expectedError;  // "" when the result is returned
    };
    const std::vector<Case> cases = {
        {"packet for 0", packet(), true, 0, ""},
        {"text for 10", TServerResult::ofText("0000000042"), true, 10, ""},
        {"blank text for 10", TServerResult::ofText(""), true, 10, ""},
        {"server error for 0", TServerResult::ofError("branch 9999 unknown"), true, 0,
         "application server error: branch 9999 unknown"},
        {"server error for 10", TServerResult::ofError("lock timeout"), true, 10,
         "application server error: lock timeout"},
        {"server error with flag false", TServerResult::ofError("e"), false, 10,
         "application server error: e"},
        {"text for 0", TServerResult::ofText("x"), true, 0, "expected a data packet, got a text"},
        {"packet for 10", packet(), true, 10, "expected a text, got a data packet"},
        {"empty for 0", TServerResult(), true, 0, "expected a data packet, got nothing"},
        {"empty for 10", TServerResult(), true, 10, "expected a text, got nothing"},
        {"empty for 10 with flag false", TServerResult(), false, 10, ""},
        {"empty for 0 with flag false", TServerResult(), false, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        try {
            const TServerResult r = CheckResultServ(c.result, c.flag, c.number);
            EXPECT_EQ(r.kind(), c.result.kind());
            if (r.IsText()) {
                EXPECT_EQ(r.AsString(), c.result.AsString());
            }
        } catch (const EServerError& e) {
            error = e.what();
        }
        if (c.expectedError.empty()) {
            EXPECT_EQ(error, "");
        } else {
            EXPECT_NE(error.find(c.expectedError), std::string::npos) << error;
        }
    }
}

TEST(CheckResultServ, UnknownNumberIsRefused) {
    EXPECT_THROW(CheckResultServ(TServerResult::ofText("1"), true, 7), std::invalid_argument);
}

TEST(CheckResultServ, TextOfAPacketIsRefused) {
    EXPECT_THROW(packet().AsString(), EServerError);
}
