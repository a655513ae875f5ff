#pragma once
// Texts of the error results the server sends: always valid UTF-8, in Portuguese, quoting
// client values only as short escaped excerpts. Details meant for operators (SQL, hosts)
// never go into them; they go to the log under an incident id the message names.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "suitedb/connection.h"

namespace rqc::appserver {

// Longest error text sent to a client, in bytes (cut on a character boundary).
inline constexpr std::size_t kMaxErrorTextBytes = 1000;

// `value` in double quotes, at most maxChars characters of it (then "…"); control
// characters, quotes, backslashes and bytes that are not UTF-8 are escaped (\", \\, \xNN).
std::string quoteExcerpt(std::string_view value, std::size_t maxChars = 24);

// `text` made valid UTF-8 (bad bytes become \xNN, control characters too) and cut to at
// most maxBytes bytes on a character boundary ("…" marks the cut).
std::string cleanText(std::string_view text, std::size_t maxBytes = kMaxErrorTextBytes);

// Number of bytes of the UTF-8 character starting at text[pos] (1 for a byte that does not
// start a valid one); 0 at the end.
std::size_t utf8CharLength(std::string_view text, std::size_t pos);

// 8 upper-case hex digits, different for every call of the process.
std::string newIncidentId();

// Portuguese name of an argument kind, e.g. "texto por referência (0xC8)".
std::string kindName(std::uint8_t code);

namespace messages {

// Says, by kind, whether anything of the call may have been written.
std::string databaseFailure(suitedb::DbFailure kind, std::string_view incident);
std::string databaseFailure(std::string_view incident);
std::string internalFailure(std::string_view incident);
std::string serverBusy();
std::string unknownObject(std::string_view object);
std::string unknownMethod(std::string_view object, std::string_view method);
std::string argumentCount(std::string_view method, std::size_t expected, std::size_t given);
std::string argumentKind(std::string_view method, std::size_t index, std::uint8_t expected,
                         std::uint8_t given);
// A call whose descriptor disagrees with its arguments.
std::string malformedCall();
// A request body that does not decode: names a protocol version mismatch when the header
// shows one.
std::string undecodableRequest(std::span<const std::byte> body);
// A request frame over the server's limit, for the transport.
std::string requestTooLarge(std::uint64_t length, std::uint32_t limit);
// An answer that would exceed the frame limit, for the transport.
std::string answerTooLarge(std::size_t length, std::uint32_t limit);
// Logins and the session's own calls.
std::string noPermission(std::string_view operatorCode, std::string_view object);
std::string alreadyLoggedIn(std::string_view operatorCode);
std::string tooManyLogins();
std::string loginFirst();
std::string changePasswordArguments(std::string_view object, std::string_view method);
std::string passwordTooShort(std::size_t minimum);
std::string passwordTooLong(std::size_t maximum);
std::string tooManyPasswordAttempts();
std::string currentPasswordWrong();
std::string samePassword();
// The reversal of a consolidation that cannot be reversed now.
std::string consolidationNotFound(std::string_view number);
std::string alreadyReversed(std::string_view number);
std::string notOpenForReversal(std::string_view number, std::string_view situation);
std::string reversalBusy(std::string_view central);
// Connections refused or closed for lack of room: every one says "servidor ocupado", which a
// client may show as it is.
std::string serverFull(unsigned open);
std::string peerFull(const std::string& address, unsigned open);
std::string tooManyWaiting(const std::string& address);
std::string serverBusyWithLogins();

}  // namespace messages

}  // namespace rqc::appserver
