#include "dispatcher.h"

#include <spdlog/spdlog.h>

#include <chrono>
#include <cstdio>
#include <exception>

#include "argument_error.h"
#include "suitedb/connection.h"
#include "worker_connection.h"

namespace rqc::appserver {

namespace {

// Client-supplied names go into messages and logs clipped and with control bytes escaped.
std::string printable(std::string_view s, std::size_t maxLength = 80) {
    std::string out;
    for (std::size_t i = 0; i < s.size() && i < maxLength; ++i) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (s.size() > maxLength)
        out += "...";
    return out;
}

std::string checkKinds(const RemoteObject& object, const RemoteMethod& method,
                       const protocol::CallDescriptor& d) {
    const auto& want = method.argumentKinds;
    if (d.typeCodes.size() != want.size()) {
        return object.name() + "." + method.name + " takes " + std::to_string(want.size()) +
               " arguments; the call has " + std::to_string(d.typeCodes.size());
    }
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (d.typeCodes[i] != want[i]) {
            return object.name() + "." + method.name + ": argument " + std::to_string(i + 1) +
                   " must be " + describeKind(want[i]) + ", the call passes " +
                   describeKind(d.typeCodes[i]);
        }
    }
    return {};
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
                                          std::string_view peer) const {
    using protocol::CallResult;
    std::string fault = protocol::validateCall(call);
    if (!fault.empty())
        return CallResult::error("malformed call: " + fault);

    const RemoteObject* object = m_registry.find(call.object);
    if (object == nullptr) {
        return CallResult::error("unknown object '" + printable(call.object) + "'");
    }
    const RemoteMethod* method = object->findMethod(call.descriptor.method);
    if (method == nullptr) {
        return CallResult::error("object '" + object->name() + "' has no method '" +
                                 printable(call.descriptor.method) + "'");
    }
    fault = checkKinds(*object, *method, call.descriptor);
    if (!fault.empty())
        return CallResult::error(fault);

    const std::string prefix = method->name + ": ";
    try {
        CallContext ctx{peer, call.user, db};
        CallResult result = method->run(ctx, call.args);
        if (result.kind == CallResult::Kind::Error) {
            result.byRef.clear();
            return result;
        }
        result.byRef.clear();
        for (std::size_t i = 0; i < call.args.size(); ++i) {
            if (call.args[i].isByRef()) {
                result.byRef.emplace_back(static_cast<std::uint8_t>(i),
                                          std::move(call.args[i].text));
            }
        }
        return result;
    } catch (const ArgumentError& e) {
        return CallResult::error(prefix + e.what());
    } catch (const suitedb::DbError& e) {
        db.discard();
        return CallResult::error(prefix + "database error: " + e.what());
    } catch (const std::exception& e) {
        db.discard();
        return CallResult::error(prefix + "internal error: " + e.what());
    } catch (...) {
        db.discard();
        return CallResult::error(prefix + "internal error of an unknown kind");
    }
}

std::vector<std::byte> Dispatcher::handleFrame(std::span<const std::byte> body,
                                               WorkerConnection& db, std::string_view peer) const {
    const auto start = std::chrono::steady_clock::now();
    protocol::CallResult result;
    std::string object = "-";
    std::string method = "-";
    try {
        protocol::CallRequest call = protocol::decodeCall(body);
        object = printable(call.object);
        method = printable(call.descriptor.method);
        result = dispatch(call, db, peer);
    } catch (const protocol::DecodeError& e) {
        result = protocol::CallResult::error(std::string("undecodable request: ") + e.what());
    } catch (const std::exception& e) {
        result = protocol::CallResult::error(std::string("internal error: ") + e.what());
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (result.kind == protocol::CallResult::Kind::Error) {
        spdlog::info("call peer={} object={} method={} {:.3f} ms error: {}", peer, object, method,
                     ms, printable(result.text, 400));
    } else {
        spdlog::info("call peer={} object={} method={} {:.3f} ms ok", peer, object, method, ms);
    }
    try {
        return protocol::encodeResult(result);
    } catch (const std::exception& e) {
        return protocol::encodeResult(
            protocol::CallResult::error(std::string("result could not be encoded: ") + e.what()));
    }
}

}  // namespace rqc::appserver
