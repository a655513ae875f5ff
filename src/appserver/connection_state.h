#pragma once
// What the server knows of one client connection, kept by its session for as long as it is
// open and handed to every frame of it.

#include <string>
#include <vector>

namespace rqc::appserver {

struct ConnectionState {
    std::string peer;          // "address:port" of the client
    std::string operatorCode;  // the logged-in operator; empty until the connection has logged in
    std::vector<std::string> objects;  // remote objects the operator may call, read at the login
    bool closeAfterAnswer = false;     // set by the frame handler: close once the answer is sent
};

}  // namespace rqc::appserver
