#pragma once
// The demo database and calls of its consolidation object as the screen makes them, for
// tests that talk to a server.

#include <string>
#include <vector>

#include "protocol/protocol.h"
#include "suitedb/demo_data.h"

namespace rqc::test {

// The demo database as of 2024-03-15 in the empty database `target` names (see
// suitedb::createDemoDatabase).
void makeDemoDatabase(const std::string& target);

// A call of `method` on `object` with `args`, its descriptor built from the arguments.
protocol::CallRequest makeCall(std::string method, std::vector<protocol::Argument> args,
                               std::string object = suitedb::kDemoObject);

// GetConsSoli arguments on the demo data: central branch 0001 consolidating for itself with
// stock branch 0001, every buyer and branch, products up to `lastProduct`, deliveries from
// `from` to `to` (suite date numbers), processing date `today`, every request, every option
// off, lines never taken.
std::vector<protocol::Argument> demoConsSoliArguments(double from, double to, double today,
                                                      const std::string& lastProduct);

}  // namespace rqc::test
