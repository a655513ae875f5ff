#pragma once

#include <stdexcept>

namespace rqc::appserver {

// A failure whose message is written for the person at the desktop (Portuguese, valid
// UTF-8, quoting client values only as short excerpts): the dispatcher sends it as it is.
class UserFacingError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Raised by a remote method for an argument it refuses (malformed list, unknown option
// letter, over-long code, date out of range); the message names the argument and the fault.
// The method has written nothing when it is raised.
class ArgumentError : public UserFacingError {
  public:
    using UserFacingError::UserFacingError;
};

}  // namespace rqc::appserver
