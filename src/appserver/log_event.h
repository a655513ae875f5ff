#pragma once
// Log lines with fields: each is written as its text in the text format (the default) and as
// one JSON object per line with `log-format = json`, for journald and log shippers. Lines
// logged without fields become JSON objects too, with their text as "message".

#include <spdlog/common.h>
#include <spdlog/formatter.h>

#include <memory>
#include <optional>
#include <string_view>

namespace rqc::appserver {

struct LogFields {
    std::string_view event{};         // "call", "login", "incident", ...
    std::string_view operatorCode{};  // the logged-in operator, or the code a login gave
    std::string_view client{};        // the client's address and port
    std::string_view method{};        // "Object.Method"
    std::optional<double> durationMs{};
    std::string_view outcome{};     // "ok", "refused", "error", "outcome_unknown", ...
    std::string_view occurrence{};  // the id a user's message names, for an incident
};

// Logs `text` at `level`, with `fields` for the JSON format.
void logEvent(spdlog::level::level_enum level, const LogFields& fields, std::string_view text);

// The formatter of `log-format = json`: {"time":…,"level":…,"event":…,…,"message":…}.
std::unique_ptr<spdlog::formatter> makeJsonFormatter();

}  // namespace rqc::appserver
