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
#include "object_registry.h"
#include "protocol/protocol.h"

namespace rqc::appserver {

class WorkerConnection;

// The one answer to a refused login, whether the code or the password was wrong.
inline constexpr const char* kLoginRefused = "Operador ou senha inválidos.";

// How failed logins are slowed down: after `freeAttempts` failures of one operator code (or
// `freeAttemptsPerAddress` of one client address, which many operators may share behind a
// proxy), that code or address is refused without a check for `firstWait`, doubling with each
// further failure up to `maxWait`. Counts are forgotten after `forget` without a failure; a
// successful login clears the operator's count.
struct LoginPolicy {
    int freeAttempts = 3;
    int freeAttemptsPerAddress = 20;
    std::chrono::milliseconds firstWait{1000};
    std::chrono::milliseconds maxWait{60000};
    std::chrono::minutes forget{15};
};

class Dispatcher {
  public:
    explicit Dispatcher(const ObjectRegistry& registry, LoginPolicy policy = {})
        : m_registry(registry), m_policy(policy) {}

    // Runs a decoded call as the connection's operator. On success the result carries every
    // by-reference argument as the method left it; on failure it is an error result and
    // carries none. `number` receives the consolidated request the method reports, if any.
    protocol::CallResult dispatch(protocol::CallRequest& call, WorkerConnection& db,
                                  const ConnectionState& state,
                                  std::string* number = nullptr) const;

    // Answers one frame body: a login (the first message of a connection) or a call of the
    // logged-in operator; logs one line for it and returns the encoded result body. Sets
    // state.closeAfterAnswer when the connection must close: a refused login, a call before
    // the login, another protocol version.
    std::vector<std::byte> handleFrame(std::span<const std::byte> body, WorkerConnection& db,
                                       ConnectionState& state) const;

  private:
    protocol::CallResult login(std::span<const std::byte> body, WorkerConnection& db,
                               ConnectionState& state) const;
    // Time left before `key` may try again; zero when it may now.
    std::chrono::milliseconds waitFor(const std::string& key, int freeAttempts) const;
    void recordFailure(const std::string& key) const;

    struct Failures {
        int count = 0;
        std::chrono::steady_clock::time_point last;
    };

    const ObjectRegistry& m_registry;
    LoginPolicy m_policy;
    mutable std::mutex m_mutex;
    mutable std::map<std::string, Failures> m_failures;  // by "addr:ADDRESS" and "op:CODE"
};

// Readable name of an argument type code, e.g. "text by reference (0xC8)".
std::string describeKind(std::uint8_t code);

}  // namespace rqc::appserver
