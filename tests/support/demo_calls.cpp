#include "demo_calls.h"

#include "suitedb/connection.h"

namespace rqc::test {

using protocol::Argument;

void makeDemoDatabase(const std::string& target) {
    suitedb::createDemoDatabase(*suitedb::Connection::open(target),
                                suitedb::parseIsoDate("2024-03-15"));
}

protocol::CallRequest makeCall(std::string method, std::vector<Argument> args, std::string object) {
    protocol::CallRequest call;
    call.object = std::move(object);
    call.user = "tester";
    call.descriptor = protocol::CallDescriptor::forArguments(std::move(method), args);
    call.args = std::move(args);
    return call;
}

std::vector<Argument> demoConsSoliArguments(double from, double to, double today,
                                            const std::string& lastProduct) {
    const Argument no = Argument::byRef("N");
    return {Argument::byValue("0001"),
            Argument::byRef(""),
            Argument::byRef("0001"),
            Argument::byRef(""),
            Argument::byValue("0001"),
            Argument::byValue(""),
            Argument::byValue(lastProduct),
            Argument::ofDate(from),
            Argument::ofDate(to),
            no,
            no,
            no,
            Argument::ofDate(today),
            Argument::byRef("T"),
            Argument::byRef(""),
            no,
            no,
            no,
            no};
}

}  // namespace rqc::test
