#pragma once

#include <stdexcept>
#include <string>

#include "protocol/protocol.h"

namespace rqc::appserver {

// A failure whose message is written for the person at the desktop (Portuguese, valid
// UTF-8, quoting client values only as short excerpts): the dispatcher sends it as it is.
// Its kind travels with the message (protocol::ErrorKind) for clients that act on it.
class UserFacingError : public std::runtime_error {
  public:
    explicit UserFacingError(const std::string& message,
                             protocol::ErrorKind kind = protocol::ErrorKind::Refused)
        : std::runtime_error(message), m_kind(kind) {}
    protocol::ErrorKind errorKind() const noexcept { return m_kind; }

  private:
    protocol::ErrorKind m_kind;
};

// Raised by a remote method for an argument it refuses (malformed list, unknown option
// letter, over-long code, date out of range); the message names the argument and the fault.
// The method has written nothing when it is raised.
class ArgumentError : public UserFacingError {
  public:
    explicit ArgumentError(const std::string& message,
                           protocol::ErrorKind kind = protocol::ErrorKind::BadArgument)
        : UserFacingError(message, kind) {}
};

}  // namespace rqc::appserver
