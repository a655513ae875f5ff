#pragma once
// Turns one request into one result: decodes the call, finds the remote object and method,
// checks the descriptor against the method's declared kinds, runs it, and answers. Never
// throws: every failure becomes an error result with a message saying what was wrong.

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "object_registry.h"
#include "protocol/protocol.h"

namespace rqc::appserver {

class WorkerConnection;

class Dispatcher {
  public:
    explicit Dispatcher(const ObjectRegistry& registry) : m_registry(registry) {}

    // Runs a decoded call. On success the result carries every by-reference argument as the
    // method left it; on failure it is an error result and carries none.
    protocol::CallResult dispatch(protocol::CallRequest& call, WorkerConnection& db,
                                  std::string_view peer) const;

    // Decodes a frame body, runs the call, logs one line for it, and returns the encoded
    // result body.
    std::vector<std::byte> handleFrame(std::span<const std::byte> body, WorkerConnection& db,
                                       std::string_view peer) const;

  private:
    const ObjectRegistry& m_registry;
};

// Readable name of an argument type code, e.g. "text by reference (0xC8)".
std::string describeKind(std::uint8_t code);

}  // namespace rqc::appserver
