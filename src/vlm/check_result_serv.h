#pragma once
// The check every application-server result passes before a screen uses it.

#include "net_connection.h"

// Returns `result` when it is what `number` expects: 0 a data packet, 10 a text. A server
// error raises EServerError with the server's message; a result of another kind raises
// EServerError naming both kinds. `flag` false also lets an empty result through, as is.
// An unknown number throws std::invalid_argument.
VLM_EXPORT TServerResult CheckResultServ(const TServerResult& result, bool flag, int number);
