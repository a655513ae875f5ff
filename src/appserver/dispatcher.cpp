#include "dispatcher.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>

#include "argument_error.h"
#include "error_text.h"
#include "log_event.h"
#include "suitedb/connection.h"
#include "suitedb/operators.h"
#include "worker_connection.h"

namespace rqc::appserver {

using protocol::ErrorKind;

namespace {

// Client-supplied names go into logs clipped on a character boundary, control and
// non-UTF-8 bytes escaped.
std::string printable(std::string_view s, std::size_t maxLength = 80) {
    // Most names are plain ASCII already: one copy, not a byte-by-byte rebuild.
    if (s.size() <= maxLength &&
        std::all_of(s.begin(), s.end(), [](char c) { return c >= 0x20 && c < 0x7F; }))
        return std::string(s);
    return cleanText(s, maxLength);
}

bool permitted(const ConnectionState& state, std::string_view object) {
    return std::find(state.objects.begin(), state.objects.end(), object) != state.objects.end();
}

std::string checkKinds(const RemoteObject&, const RemoteMethod& method,
                       const protocol::CallDescriptor& d) {
    const auto& want = method.argumentKinds;
    if (d.typeCodes.size() != want.size()) {
        return messages::argumentCount(method.name, want.size(), d.typeCodes.size());
    }
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (d.typeCodes[i] != want[i]) {
            return messages::argumentKind(method.name, i, want[i], d.typeCodes[i]);
        }
    }
    return {};
}

// Logs a failure the user cannot act on under a new occurrence id, the one the user's message
// names, and returns the id. `what` says what failed and for whom; the detail (SQL, host)
// stays in the log.
std::string logIncident(LogFields fields, std::string_view what, std::string_view detail) {
    std::string id = newIncidentId();
    fields.event = "incident";
    fields.outcome = "error";
    fields.occurrence = id;
    logEvent(spdlog::level::err, fields,
             fmt::format("incident {}: {}: {}", id, what, printable(detail, 2000)));
    return id;
}

const char* outcomeName(CallOutcome o) {
    switch (o) {
        case CallOutcome::Ok:
            return "ok";
        case CallOutcome::Refused:
            return "refused";
        case CallOutcome::Error:
            return "error";
        case CallOutcome::OutcomeUnknown:
            return "outcome_unknown";
    }
    return "error";
}

}  // namespace

std::string describeKind(std::uint8_t code) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", code);
    switch (code) {
        case protocol::kTextByValue:
            return std::string("text by value (") + hex + ")";
        case protocol::kTextByRef:
            return std::string("text by reference (") + hex + ")";
        case protocol::kDate:
            return std::string("date (") + hex + ")";
        default:
            return std::string("unknown kind (") + hex + ")";
    }
}

protocol::CallResult Dispatcher::dispatch(protocol::CallRequest& call, WorkerConnection& db,
                                          const ConnectionState& state, CallReport* report) const {
    using protocol::CallResult;
    CallReport ignored;
    CallReport& out = report != nullptr ? *report : ignored;
    out.outcome = CallOutcome::Refused;
    const std::string_view peer = state.peer.text();
    std::string fault = protocol::validateCall(call);
    if (!fault.empty()) {
        spdlog::warn("malformed call from {}: {}", peer, printable(fault, 400));
        return CallResult::error(messages::malformedCall(), ErrorKind::BadArgument);
    }

    if (call.object == kSessionObject)
        return sessionCall(call, db, state, out);
    const RemoteObject* object = m_registry.find(call.object);
    if (object == nullptr) {
        return CallResult::error(messages::unknownObject(call.object), ErrorKind::NotFound);
    }
    if (!permitted(state, object->name())) {
        return CallResult::error(messages::noPermission(state.operatorCode, object->name()),
                                 ErrorKind::Refused);
    }
    const RemoteMethod* method = object->findMethod(call.descriptor.method);
    if (method == nullptr) {
        return CallResult::error(messages::unknownMethod(object->name(), call.descriptor.method),
                                 ErrorKind::NotFound);
    }
    fault = checkKinds(*object, *method, call.descriptor);
    if (!fault.empty())
        return CallResult::error(fault, ErrorKind::BadArgument);

    // Failures the user cannot act on reach the client as a short message with an incident
    // id; the detail (SQL, host) goes to the log only, under that id.
    const std::string where = object->name() + "." + method->name;
    auto incident = [&](std::string_view kind, std::string_view detail, CallOutcome outcome) {
        db.discard();
        out.outcome = outcome;
        out.occurrence =
            logIncident({.operatorCode = state.operatorCode, .client = peer, .method = where},
                        fmt::format("{} in {} for {}", kind, where, peer), detail);
        return out.occurrence;
    };
    try {
        CallContext ctx{peer, state.operatorCode, db, {}};
        CallResult result = method->run(ctx, call.args);
        out.number = std::move(ctx.number);
        if (result.kind == CallResult::Kind::Error) {
            result.byRef.clear();
            result.text = cleanText(result.text);
            if (result.errorKind == ErrorKind::Unspecified)
                result.errorKind = ErrorKind::Refused;
            return result;
        }
        out.outcome = CallOutcome::Ok;
        result.byRef.clear();
        for (std::size_t i = 0; i < call.args.size(); ++i) {
            if (call.args[i].isByRef()) {
                result.byRef.emplace_back(static_cast<std::uint8_t>(i),
                                          std::move(call.args[i].text));
            }
        }
        return result;
    } catch (const UserFacingError& e) {
        return CallResult::error(cleanText(e.what()), e.errorKind());
    } catch (const suitedb::DbError& e) {
        const bool unknown = e.kind() == suitedb::DbFailure::OutcomeUnknown;
        const CallOutcome outcome = unknown ? CallOutcome::OutcomeUnknown : CallOutcome::Error;
        return CallResult::error(
            messages::databaseFailure(e.kind(), incident("database error", e.what(), outcome)),
            unknown                                       ? ErrorKind::OutcomeUnknown
            : e.kind() == suitedb::DbFailure::LockTimeout ? ErrorKind::Busy
                                                          : ErrorKind::DatabaseFailure);
    } catch (const std::exception& e) {
        return CallResult::error(
            messages::internalFailure(incident("internal error", e.what(), CallOutcome::Error)),
            ErrorKind::Internal);
    } catch (...) {
        return CallResult::error(
            messages::internalFailure(
                incident("internal error", "exception of an unknown kind", CallOutcome::Error)),
            ErrorKind::Internal);
    }
}

bool Dispatcher::writes(std::string_view object, std::string_view method) const {
    const RemoteObject* o = m_registry.find(object);
    const RemoteMethod* m = o != nullptr ? o->findMethod(method) : nullptr;
    return m != nullptr && m->writes;
}

protocol::CallResult Dispatcher::sessionCall(const protocol::CallRequest& call,
                                             WorkerConnection& db, const ConnectionState& state,
                                             CallReport& report) const {
    using protocol::CallResult;
    const std::vector<std::uint8_t> kinds = {protocol::kTextByValue, protocol::kTextByValue};
    if (call.descriptor.method != kChangePassword)
        return CallResult::error(messages::unknownMethod(kSessionObject, call.descriptor.method));
    if (call.descriptor.typeCodes != kinds) {
        return CallResult::error(messages::changePasswordArguments(kSessionObject, kChangePassword),
                                 ErrorKind::BadArgument);
    }
    const std::string& current = call.args[0].text;
    const std::string& fresh = call.args[1].text;
    if (fresh.size() < suitedb::kPasswordMin) {
        return CallResult::error(messages::passwordTooShort(suitedb::kPasswordMin),
                                 ErrorKind::BadArgument);
    }
    if (fresh.size() > suitedb::kPasswordMax) {
        return CallResult::error(messages::passwordTooLong(suitedb::kPasswordMax),
                                 ErrorKind::BadArgument);
    }
    try {
        // A current password is checked as a login attempt of the operator from this address.
        const std::string_view address = state.peer.address();
        const auto attempt = m_throttle.tryAttempt(db, state.operatorCode, address);
        if (!attempt) {
            return CallResult::error(messages::tooManyPasswordAttempts(), ErrorKind::Refused);
        }
        std::optional<std::vector<std::string>> checked;
        try {
            checked = suitedb::checkLogin(db.get(), state.operatorCode, current);
        } catch (...) {
            m_throttle.abandoned(db, *attempt);
            throw;
        }
        if (!checked) {
            m_throttle.failed(db, *attempt);
            spdlog::warn("password change refused operator={} peer={}: wrong current password",
                         state.operatorCode, state.peer);
            return CallResult::error(messages::currentPasswordWrong(), ErrorKind::Refused);
        }
        m_throttle.succeeded(db, *attempt);
        if (fresh == current)
            return CallResult::error(messages::samePassword(), ErrorKind::BadArgument);
        suitedb::setOperatorPassword(db.get(), state.operatorCode, fresh);
    } catch (const std::exception& e) {
        db.discard();
        report.outcome = CallOutcome::Error;
        report.occurrence = logIncident(
            {.operatorCode = state.operatorCode,
             .client = state.peer.text(),
             .method = kChangePassword},
            fmt::format("password change of {} from {} failed", state.operatorCode, state.peer),
            e.what());
        const std::string& id = report.occurrence;
        const auto* dbError = dynamic_cast<const suitedb::DbError*>(&e);
        return CallResult::error(dbError != nullptr ? messages::databaseFailure(dbError->kind(), id)
                                                    : messages::internalFailure(id));
    }
    spdlog::info("password changed operator={} peer={}", state.operatorCode, state.peer);
    report.outcome = CallOutcome::Ok;
    return CallResult{};
}

protocol::CallResult Dispatcher::login(std::span<const std::byte> body, WorkerConnection& db,
                                       ConnectionState& state, LoginOutcome& outcome) const {
    using protocol::CallResult;
    state.closeAfterAnswer = true;
    outcome = LoginOutcome::Refused;
    protocol::LoginRequest request;
    try {
        request = protocol::decodeLogin(body);
    } catch (const protocol::DecodeError& e) {
        spdlog::warn("undecodable login from {}: {}", state.peer, printable(e.what(), 400));
        return CallResult::error(messages::undecodableRequest(body));
    }
    const std::string shownCode = printable(request.operatorCode, 20);
    if (!state.operatorCode.empty()) {
        return CallResult::error(messages::alreadyLoggedIn(state.operatorCode), ErrorKind::Refused);
    }
    // A code no operator can have is refused before anything is counted or written.
    if (!suitedb::operatorCodeProblem(request.operatorCode).empty()) {
        spdlog::debug("login refused peer={}: not an operator code", state.peer);
        return CallResult::error(kLoginRefused);
    }
    const std::string& address = state.peer.address();
    std::optional<LoginAttempt> attempt;
    try {
        attempt = m_throttle.tryAttempt(db, request.operatorCode, address);
    } catch (const std::exception& e) {
        db.discard();
        outcome = LoginOutcome::Error;
        const std::string id = logIncident(
            {.operatorCode = shownCode, .client = state.peer.text()},
            fmt::format("login of {} from {} could not be counted", shownCode, state.peer),
            e.what());
        const auto* dbError = dynamic_cast<const suitedb::DbError*>(&e);
        return CallResult::error(messages::databaseFailure(
            dbError != nullptr ? dbError->kind() : suitedb::DbFailure::Other, id));
    }
    if (!attempt) {
        outcome = LoginOutcome::Throttled;
        logEvent(spdlog::level::warn,
                 {.event = "login",
                  .operatorCode = shownCode,
                  .client = state.peer.text(),
                  .outcome = "throttled"},
                 fmt::format("login refused operator={} peer={}: too many attempts", shownCode,
                             state.peer));
        return CallResult::error(messages::tooManyLogins(), ErrorKind::Refused);
    }
    std::optional<std::vector<std::string>> objects;
    try {
        objects = suitedb::checkLogin(db.get(), request.operatorCode, request.password);
    } catch (const std::exception& e) {
        try {
            m_throttle.abandoned(db, *attempt);
        } catch (const std::exception&) {
            // the attempt lapses on its own
        }
        db.discard();
        outcome = LoginOutcome::Error;
        const std::string id = logIncident(
            {.operatorCode = shownCode, .client = state.peer.text()},
            fmt::format("login of {} from {} could not be checked", shownCode, state.peer),
            e.what());
        const auto* db = dynamic_cast<const suitedb::DbError*>(&e);
        return CallResult::error(
            messages::databaseFailure(db ? db->kind() : suitedb::DbFailure::Other, id));
    }
    if (!objects) {
        try {
            m_throttle.failed(db, *attempt);
        } catch (const std::exception& e) {
            db.discard();
            spdlog::error("login of {} from {}: its failure could not be counted: {}", shownCode,
                          state.peer, printable(e.what(), 2000));
        }
        logEvent(
            spdlog::level::warn,
            {.event = "login",
             .operatorCode = shownCode,
             .client = state.peer.text(),
             .outcome = "refused"},
            fmt::format("login refused operator={} peer={}: unknown operator or wrong password",
                        shownCode, state.peer));
        return CallResult::error(kLoginRefused);
    }
    try {
        m_throttle.succeeded(db, *attempt);
    } catch (const std::exception& e) {
        db.discard();
        spdlog::error("login of {} from {}: its attempt could not be given back: {}", shownCode,
                      state.peer, printable(e.what(), 2000));
    }
    outcome = LoginOutcome::Ok;
    state.closeAfterAnswer = false;
    state.operatorCode = request.operatorCode;
    state.objects = std::move(*objects);
    return CallResult::ofText(state.operatorCode);
}

std::vector<std::byte> Dispatcher::handleFrame(std::span<const std::byte> body,
                                               WorkerConnection& db, ConnectionState& state) const {
    const std::string_view peer = state.peer.text();
    const auto start = std::chrono::steady_clock::now();
    const auto header = protocol::peekHeader(body);
    if (header && (header->version < protocol::kOldestProtocolVersion ||
                   header->version > protocol::kProtocolVersion)) {
        state.closeAfterAnswer = true;
        const std::string text =
            messages::undecodableRequest(body) + " Atualize o programa cliente.";
        spdlog::warn("connection {} refused: protocol version {}", peer, header->version);
        // An older peer reads results of its own version; the layout has not changed.
        return protocol::encodeResult(protocol::CallResult::error(text),
                                      std::min(header->version, protocol::kProtocolVersion));
    }
    // Answered in the frame's own version: a client of version 2 reads no error kind.
    const std::uint8_t version = header ? header->version : protocol::kProtocolVersion;
    if (header && header->type == protocol::kMessageLogin) {
        LoginOutcome outcome = LoginOutcome::Refused;
        protocol::CallResult result = login(body, db, state, outcome);
        const auto took = std::chrono::steady_clock::now() - start;
        if (auto* m = metrics())
            m->login(outcome, state.peer.address());
        if (result.kind != protocol::CallResult::Kind::Error) {
            const double ms = std::chrono::duration<double, std::milli>(took).count();
            logEvent(spdlog::level::info,
                     {.event = "login",
                      .operatorCode = state.operatorCode,
                      .client = peer,
                      .durationMs = ms,
                      .outcome = "ok"},
                     fmt::format("login operator={} peer={} {:.3f} ms ok, {} object(s) permitted",
                                 state.operatorCode, peer, ms, state.objects.size()));
        }
        return protocol::encodeResult(result, version);
    }
    if (state.operatorCode.empty()) {
        state.closeAfterAnswer = true;
        spdlog::warn("connection {} refused: a call before the login", peer);
        return protocol::encodeResult(
            protocol::CallResult::error(messages::loginFirst(), ErrorKind::Refused), version);
    }
    protocol::CallResult result;
    std::string object = "-";
    std::string method = "-";
    CallReport report;
    report.outcome = CallOutcome::Refused;
    try {
        protocol::CallRequest call = protocol::decodeCall(body);
        object = printable(call.object);
        method = printable(call.descriptor.method);
        result = dispatch(call, db, state, &report);
    } catch (const protocol::DecodeError& e) {
        spdlog::warn("undecodable request from {}: {}", peer, printable(e.what(), 400));
        result =
            protocol::CallResult::error(messages::undecodableRequest(body), ErrorKind::BadArgument);
    } catch (const std::exception& e) {
        report.outcome = CallOutcome::Error;
        report.occurrence = logIncident({.operatorCode = state.operatorCode, .client = peer},
                                        fmt::format("internal error for {}", peer), e.what());
        result = protocol::CallResult::error(messages::internalFailure(report.occurrence),
                                             ErrorKind::Internal);
    }
    const auto took = std::chrono::steady_clock::now() - start;
    if (auto* m = metrics())
        m->call(object, method, report.outcome, took);
    const double ms = std::chrono::duration<double, std::milli>(took).count();
    const std::string numbered =
        report.number.empty() ? std::string() : " number=" + printable(report.number);
    const std::string where = object + "." + method;
    const LogFields fields{.event = "call",
                           .operatorCode = state.operatorCode,
                           .client = peer,
                           .method = where,
                           .durationMs = ms,
                           .outcome = outcomeName(report.outcome),
                           .occurrence = report.occurrence};
    if (result.kind == protocol::CallResult::Kind::Error) {
        logEvent(spdlog::level::info, fields,
                 fmt::format("call operator={} peer={} object={} method={}{} {:.3f} ms error: {}",
                             state.operatorCode, peer, object, method, numbered, ms,
                             printable(result.text, 400)));
    } else {
        logEvent(spdlog::level::info, fields,
                 fmt::format("call operator={} peer={} object={} method={}{} {:.3f} ms ok",
                             state.operatorCode, peer, object, method, numbered, ms));
    }
    try {
        return protocol::encodeResult(result, version);
    } catch (const std::exception& e) {
        const std::string id =
            logIncident({.operatorCode = state.operatorCode, .client = peer},
                        fmt::format("result could not be encoded for {}", peer), e.what());
        return protocol::encodeResult(
            protocol::CallResult::error(messages::internalFailure(id), ErrorKind::Internal),
            version);
    }
}

}  // namespace rqc::appserver
