#pragma once

#include <stdexcept>

namespace rqc::appserver {

// Raised by a remote method for an argument it refuses (malformed list, unknown option
// letter, over-long code, date out of range); the message names the argument and the fault.
// The method has written nothing when it is raised.
class ArgumentError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace rqc::appserver
