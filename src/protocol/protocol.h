#pragma once
// Wire format shared by the client package and the application server: call descriptors,
// typed arguments, results, data packets and framing. The byte layout is in docs/protocol.md.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace rqc::protocol {

inline constexpr std::uint8_t kProtocolVersion = 3;
// The oldest version still served: its messages have the same layout, and its error results
// carry no kind (docs/protocol.md).
inline constexpr std::uint8_t kOldestProtocolVersion = 2;
inline constexpr std::uint32_t kDefaultMaxFrame = 64u * 1024u * 1024u;

// Argument type codes of a call descriptor.
inline constexpr std::uint8_t kByRefBit = 0x80;
inline constexpr std::uint8_t kTextByValue = 0x48;
inline constexpr std::uint8_t kTextByRef = 0xC8;
inline constexpr std::uint8_t kDate = 0x07;
inline constexpr std::uint8_t kCallKindMethod = 1;

// Raised for any byte sequence that is not a well-formed message of this protocol version.
class DecodeError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A date travels as days since 1899-12-30, the fraction being the time of day.
// Throws std::out_of_range for a date that is not a real one of years 1..9999.
double dateFromYmd(int year, int month, int day);
// Whole-day part as "YYYY-MM-DD"; throws std::out_of_range outside years 1..9999.
std::string dateToIso(double days);
// Parses "YYYY-MM-DD" strictly (real calendar date); nullopt otherwise.
std::optional<double> dateFromIso(std::string_view iso);

struct Argument {
    std::uint8_t type = kTextByValue;  // one of kTextByValue, kTextByRef, kDate
    std::string text;                  // the two text kinds
    double date = 0;                   // kDate

    static Argument byValue(std::string t) { return {kTextByValue, std::move(t), 0}; }
    static Argument byRef(std::string t) { return {kTextByRef, std::move(t), 0}; }
    static Argument ofDate(double d) { return {kDate, {}, d}; }
    bool isByRef() const { return (type & kByRefBit) != 0; }
};

struct CallDescriptor {
    std::uint8_t callKind = kCallKindMethod;
    std::uint8_t argCount = 0;
    std::uint8_t namedArgCount = 0;
    std::vector<std::uint8_t> typeCodes;  // one per argument, in call order
    std::string method;

    static CallDescriptor forArguments(std::string method, const std::vector<Argument>& args);
};

struct CallRequest {
    // Registered name of the remote object, e.g. "Rqc04100.rdmConsolidaSolicita".
    std::string object;
    std::string user;  // who is calling; recorded by methods that write
    CallDescriptor descriptor;
    std::vector<Argument> args;
};

// The first message of every connection: who is calling. The server answers a result: the
// operator's code as text when the login succeeds, an error otherwise (and closes then).
struct LoginRequest {
    std::string operatorCode;
    std::string password;
};

// Magic, version and message type of a body, read without decoding the rest; nullopt when
// the body is too short or lacks the magic.
struct MessageHeader {
    std::uint8_t version = 0;
    std::uint8_t type = 0;  // 1 call, 2 result, 3 login
};
inline constexpr std::uint8_t kMessageCall = 1;
inline constexpr std::uint8_t kMessageResult = 2;
inline constexpr std::uint8_t kMessageLogin = 3;
std::optional<MessageHeader> peekHeader(std::span<const std::byte> body);

enum class FieldType : std::uint8_t { Text = 1, Integer = 2, Float = 3, Date = 4 };

struct FieldDef {
    std::string name;
    FieldType type = FieldType::Text;
    std::uint32_t width = 0;  // characters for text fields
    std::string origin;       // "TABLE.COLUMN" the field comes from, may be empty
};

// A table of fields and rows; every cell is text or null (numbers and dates in their
// canonical text form: integers in decimal, floats as shortest round-trip, dates ISO).
class DataPacket {
  public:
    using Cell = std::optional<std::string>;

    std::vector<FieldDef> fields;

    std::size_t rowCount() const { return fields.empty() ? 0 : m_cells.size() / fields.size(); }
    const Cell& cell(std::size_t row, std::size_t col) const {
        return m_cells[row * fields.size() + col];
    }
    // Appends one row; the row must have exactly fields.size() cells.
    void addRow(std::vector<Cell> row);
    // Appends cells one by one; a row is complete after fields.size() cells.
    void append(Cell c) { m_cells.push_back(std::move(c)); }
    void reserveRows(std::size_t n) { m_cells.reserve(n * fields.size()); }
    int fieldIndex(std::string_view name) const;  // -1 when absent
    const std::vector<Cell>& cells() const { return m_cells; }
    std::vector<Cell>& cells() { return m_cells; }

  private:
    std::vector<Cell> m_cells;
};

// What kind of failure an error result reports (version 3 on), for a client that acts on it
// rather than on the message's words.
enum class ErrorKind : std::uint8_t {
    Unspecified = 0,      // a peer of version 2, or a failure of no other kind
    BadArgument = 1,      // an argument (or the call's description) is not acceptable
    Busy = 2,             // the server is busy with other writes: try again shortly
    NotFound = 3,         // no such object, method or record
    Refused = 4,          // not allowed, or refused by a rule of the business
    DatabaseFailure = 5,  // the database failed; nothing of the call was written
    OutcomeUnknown = 6,   // cut while committing: whether it was written is unknown
    Internal = 7,         // a fault of the server
};
inline constexpr std::uint8_t kLastErrorKind = 7;

struct CallResult {
    enum class Kind : std::uint8_t { Empty = 0, Text = 1, Packet = 2, Error = 3 };
    Kind kind = Kind::Empty;
    std::string text;                              // Text: the value; Error: the message
    ErrorKind errorKind = ErrorKind::Unspecified;  // Error only
    DataPacket packet;
    // By-reference values after a successful call, by argument index (0-based).
    // Never present on an error result.
    std::vector<std::pair<std::uint8_t, std::string>> byRef;

    static CallResult error(std::string message, ErrorKind why = ErrorKind::Unspecified) {
        CallResult r;
        r.kind = Kind::Error;
        r.text = std::move(message);
        r.errorKind = why;
        return r;
    }
    static CallResult ofText(std::string t) {
        CallResult r;
        r.kind = Kind::Text;
        r.text = std::move(t);
        return r;
    }
    static CallResult ofPacket(DataPacket p) {
        CallResult r;
        r.kind = Kind::Packet;
        r.packet = std::move(p);
        return r;
    }
};

// Message bodies (the part inside a frame). Encoders never fail; decoders throw DecodeError
// with a message naming what was wrong (including a version mismatch).
std::vector<std::byte> encodeCall(const CallRequest& call);
CallRequest decodeCall(std::span<const std::byte> body);
std::vector<std::byte> encodeResult(const CallResult& result);
// The same result in another version's layout: a peer of version 2 gets no error kind; an
// older one is told it is not served (the result layout is the same in versions 1 and 2).
std::vector<std::byte> encodeResult(const CallResult& result, std::uint8_t version);
std::vector<std::byte> encodeLogin(const LoginRequest& login);
LoginRequest decodeLogin(std::span<const std::byte> body);
// A decoded result takes at most kDecodedBytesPerByte times its body's bytes (beyond a small
// floor): one whose cells would take more is refused with DecodeError before they are built.
inline constexpr std::size_t kDecodedBytesPerByte = 8;
CallResult decodeResult(std::span<const std::byte> body);

// The remote object and method a call body names, read without its arguments; nullopt when
// the body does not begin as a call of this version.
struct CallTarget {
    std::string object;
    std::string method;
};
std::optional<CallTarget> peekCallTarget(std::span<const std::byte> body);

// Checks that a descriptor is consistent with its arguments (counts, kinds, call kind 1,
// no named arguments); returns an empty string when it is, otherwise what is wrong.
std::string validateCall(const CallRequest& call);

// Applies the by-reference values of a successful result to the caller's arguments.
// An error result leaves them untouched; by-value arguments are never written.
void applyByRef(const CallResult& result, std::vector<Argument>& args);

// Framing: a frame is a 4-byte little-endian body length followed by the body.
inline constexpr std::size_t kFrameHeaderSize = 4;
std::uint32_t frameLength(std::span<const std::byte, kFrameHeaderSize> header);
void appendFrameHeader(std::vector<std::byte>& out, std::uint32_t bodyLength);

}  // namespace rqc::protocol
