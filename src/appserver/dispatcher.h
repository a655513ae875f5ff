#pragma once
// Turns one request into one result: decodes the message, logs the connection in, finds the
// remote object and method, checks the operator's permission and the descriptor against the
// method's declared kinds, runs it, and answers. Never throws: every failure becomes an error
// result with a message saying what was wrong.

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "connection_state.h"
#include "login_throttle.h"
#include "metrics.h"
#include "object_registry.h"
#include "protocol/protocol.h"

namespace rqc::appserver {

class WorkerConnection;

// The one answer to a refused login, whether the code or the password was wrong.
inline constexpr const char* kLoginRefused = "Operador ou senha inválidos.";

// The connection's own session, callable by every logged-in operator whatever its
// permissions: AlteraSenha(current password, new password), both text by value, answers
// "" once the new password is stored (docs/protocol.md).
inline constexpr const char* kSessionObject = "Suite.Sessao";
inline constexpr const char* kChangePassword = "AlteraSenha";

// What the log line and the metrics of a call say besides its result.
struct CallReport {
    std::string number;  // the consolidated request the method made or reversed, if any
    CallOutcome outcome = CallOutcome::Ok;
    std::string occurrence;  // the incident's id when the call failed on the server's side
};

class Dispatcher {
  public:
    explicit Dispatcher(const ObjectRegistry& registry, LoginPolicy policy = {})
        : m_registry(registry), m_throttle(policy) {}

    // Runs a decoded call as the connection's operator. On success the result carries every
    // by-reference argument as the method left it; on failure it is an error result and
    // carries none. `report` receives how it ended.
    protocol::CallResult dispatch(protocol::CallRequest& call, WorkerConnection& db,
                                  const ConnectionState& state, CallReport* report = nullptr) const;

    // Answers one frame body: a login (the first message of a connection) or a call of the
    // logged-in operator; logs one line for it and returns the encoded result body. Sets
    // state.closeAfterAnswer when the connection must close: a refused login, a call before
    // the login, another protocol version.
    std::vector<std::byte> handleFrame(std::span<const std::byte> body, WorkerConnection& db,
                                       ConnectionState& state) const;

    // Whether the method writes to the database (the method table says); false when unknown.
    bool writes(std::string_view object, std::string_view method) const;

  private:
    protocol::CallResult login(std::span<const std::byte> body, WorkerConnection& db,
                               ConnectionState& state, LoginOutcome& outcome) const;
    // A call of kSessionObject, for the operator the connection logged in as.
    protocol::CallResult sessionCall(const protocol::CallRequest& call, WorkerConnection& db,
                                     const ConnectionState& state, CallReport& report) const;
    const ObjectRegistry& m_registry;
    mutable LoginThrottle m_throttle;
};

// Readable name of an argument type code, e.g. "text by reference (0xC8)".
std::string describeKind(std::uint8_t code);

}  // namespace rqc::appserver
