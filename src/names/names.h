#pragma once
// The few names the programs of the suite share across their layers, and nothing else: the
// remote objects the application server hosts, the environment variables that carry a login,
// and the demo set's operator. Every library and program may reach this header; it reaches
// no other.

#include <string_view>

namespace rqc::names {

// The consolidation's remote object, and every object an operator may be granted.
inline constexpr std::string_view kConsolidationObject = "Rqc04100.rdmConsolidaSolicita";
inline constexpr std::string_view kHostedObjects[] = {kConsolidationObject};

// A login given to programs run without anyone at the keyboard.
inline constexpr const char* kOperatorVariable = "RQC_OPERATOR";
inline constexpr const char* kPasswordVariable = "RQC_PASSWORD";

// The demo set's buyer and its password (rqc-suitedb init --demo), never for real use.
inline constexpr const char* kDemoOperator = "COMP001";
inline constexpr const char* kDemoPassword = "rqc04100";

}  // namespace rqc::names
