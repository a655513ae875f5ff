#include "protocol.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "dates/dates.h"
#include "numbers.h"
#include "wire.h"

namespace rqc::protocol {

namespace {

// The calendar dates a serial date may stand for.
constexpr dates::Day kFirstDay{std::chrono::year{1} / 1 / 1};
constexpr dates::Day kLastDay{std::chrono::year{9999} / 12 / 31};

bool inRange(dates::Day d) {
    return d >= kFirstDay && d <= kLastDay;
}

const char* typeName(std::uint8_t code) {
    switch (code) {
        case kTextByValue:
            return "text by value";
        case kTextByRef:
            return "text by reference";
        case kDate:
            return "date";
        default:
            return nullptr;
    }
}

bool isIntegerText(std::string_view s) {
    return parseCanonicalInteger(s).has_value();
}

bool isFloatText(std::string_view s) {
    return parseCanonicalDecimal(s).has_value();
}

// What a decoder reserves up front at most: beyond it, containers grow with decoded items.
constexpr std::size_t kReserveCap = 4096;

}  // namespace

double dateFromYmd(int year, int month, int day) {
    const bool fields =
        year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
    const std::chrono::year_month_day ymd{std::chrono::year{fields ? year : 1},
                                          std::chrono::month{static_cast<unsigned>(month)},
                                          std::chrono::day{static_cast<unsigned>(day)}};
    if (!fields || !ymd.ok()) {
        throw std::out_of_range(
            "not a calendar date between years 1 and 9999: " + std::to_string(year) + "-" +
            std::to_string(month) + "-" + std::to_string(day));
    }
    return dates::serialOf(dates::Day{ymd});
}

std::string dateToIso(double days) {
    if (!std::isfinite(days))
        throw std::out_of_range("date is not a finite number");
    const double whole = std::trunc(days);
    if (whole < dates::serialOf(kFirstDay) || whole > dates::serialOf(kLastDay)) {
        throw std::out_of_range("date " + std::to_string(days) + " lies outside years 1 to 9999");
    }
    return dates::isoDate(dates::dayOfSerial(whole));
}

std::optional<double> dateFromIso(std::string_view iso) {
    const std::optional<dates::Day> d = dates::tryParseIsoDate(iso);
    if (!d || !inRange(*d))
        return std::nullopt;
    return dates::serialOf(*d);
}

CallDescriptor CallDescriptor::forArguments(std::string method, const std::vector<Argument>& args) {
    CallDescriptor d;
    d.callKind = kCallKindMethod;
    d.argCount = static_cast<std::uint8_t>(args.size() > 255 ? 255 : args.size());
    d.namedArgCount = 0;
    d.typeCodes.reserve(args.size());
    for (const auto& a : args)
        d.typeCodes.push_back(a.type);
    d.method = std::move(method);
    return d;
}

void DataPacket::addRow(std::vector<Cell> row) {
    if (row.size() != fields.size()) {
        throw std::invalid_argument("data packet row has " + std::to_string(row.size()) +
                                    " cells, the packet has " + std::to_string(fields.size()) +
                                    " fields");
    }
    for (auto& c : row)
        m_cells.push_back(std::move(c));
}

int DataPacket::fieldIndex(std::string_view name) const {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].name == name)
            return static_cast<int>(i);
    }
    return -1;
}

// ---- encoding ----------------------------------------------------------------------------

namespace {

std::size_t packetSize(const DataPacket& p) {
    std::size_t n = 4;
    for (const auto& f : p.fields)
        n += 4 + f.name.size() + 1 + 4 + 4 + f.origin.size();
    n += 4;
    const std::size_t cells = p.rowCount() * p.fields.size();
    const auto& cs = p.cells();
    n += 4 * cells;
    for (std::size_t i = 0; i < cells; ++i) {
        if (cs[i])
            n += cs[i]->size();
    }
    return n;
}

void writePacket(wire::Writer& w, const DataPacket& p) {
    w.u32(static_cast<std::uint32_t>(p.fields.size()));
    for (const auto& f : p.fields) {
        w.text(f.name);
        w.u8(static_cast<std::uint8_t>(f.type));
        w.u32(f.width);
        w.text(f.origin);
    }
    const std::size_t rows = p.rowCount();
    w.u32(static_cast<std::uint32_t>(rows));
    const std::size_t cells = rows * p.fields.size();
    const auto& cs = p.cells();
    for (std::size_t i = 0; i < cells; ++i) {
        if (cs[i]) {
            w.text(*cs[i]);
        } else {
            w.u32(wire::kNullCell);
        }
    }
}

}  // namespace

std::vector<std::byte> encodeCall(const CallRequest& call) {
    std::size_t size = wire::kHeaderSize + 4 + call.object.size() + 4 + call.user.size() + 3 +
                       call.descriptor.typeCodes.size() + 4 + call.descriptor.method.size();
    for (const auto& a : call.args)
        size += a.type == kDate ? 8 : 4 + a.text.size();
    std::vector<std::byte> out;
    wire::Writer w(out, size);
    w.header(wire::MessageType::Call);
    w.text(call.object);
    w.text(call.user);
    w.u8(call.descriptor.callKind);
    w.u8(call.descriptor.argCount);
    w.u8(call.descriptor.namedArgCount);
    for (std::uint8_t t : call.descriptor.typeCodes)
        w.u8(t);
    w.text(call.descriptor.method);
    for (const auto& a : call.args) {
        if (a.type == kDate) {
            w.f64(a.date);
        } else {
            w.text(a.text);
        }
    }
    w.finish();
    return out;
}

std::vector<std::byte> encodeResult(const CallResult& result) {
    return encodeResult(result, kProtocolVersion);
}

std::vector<std::byte> encodeResult(const CallResult& result, std::uint8_t version) {
    const bool error = result.kind == CallResult::Kind::Error;
    std::size_t size = wire::kHeaderSize + 1;
    switch (result.kind) {
        case CallResult::Kind::Empty:
            break;
        case CallResult::Kind::Text:
        case CallResult::Kind::Error:
            size += 4 + result.text.size() + 1;
            break;
        case CallResult::Kind::Packet:
            size += packetSize(result.packet);
            break;
    }
    size += 1;
    if (!error) {
        for (const auto& [i, t] : result.byRef)
            size += 1 + 4 + t.size();
    }
    std::vector<std::byte> out;
    wire::Writer w(out, size);
    w.header(wire::MessageType::Result, version);
    w.u8(static_cast<std::uint8_t>(result.kind));
    switch (result.kind) {
        case CallResult::Kind::Empty:
            break;
        case CallResult::Kind::Text:
        case CallResult::Kind::Error:
            w.text(result.text);
            if (error && version >= 3)
                w.u8(static_cast<std::uint8_t>(result.errorKind));
            break;
        case CallResult::Kind::Packet:
            writePacket(w, result.packet);
            break;
    }
    if (error) {
        w.u8(0);
    } else {
        w.u8(static_cast<std::uint8_t>(result.byRef.size()));
        for (const auto& [i, t] : result.byRef) {
            w.u8(i);
            w.text(t);
        }
    }
    w.finish();
    return out;
}

std::vector<std::byte> encodeLogin(const LoginRequest& login) {
    std::vector<std::byte> out;
    wire::Writer w(out, wire::kHeaderSize + 8 + login.operatorCode.size() + login.password.size());
    w.header(wire::MessageType::Login);
    w.text(login.operatorCode);
    w.text(login.password);
    w.finish();
    return out;
}

std::optional<MessageHeader> peekHeader(std::span<const std::byte> body) {
    if (body.size() < wire::kHeaderSize || body[0] != wire::kMagic0 || body[1] != wire::kMagic1)
        return std::nullopt;
    return MessageHeader{static_cast<std::uint8_t>(body[2]), static_cast<std::uint8_t>(body[3])};
}

// ---- decoding ----------------------------------------------------------------------------

LoginRequest decodeLogin(std::span<const std::byte> body) {
    wire::Reader r(body, "login");
    r.header(wire::MessageType::Login);
    LoginRequest login;
    login.operatorCode = r.text("operator code");
    login.password = r.text("password");
    r.end();
    return login;
}

std::optional<CallTarget> peekCallTarget(std::span<const std::byte> body) {
    try {
        wire::Reader r(body, "call");
        r.header(wire::MessageType::Call);
        CallTarget target;
        target.object = r.text("remote object name");
        r.text("user name");
        r.u8("call kind");
        const std::uint8_t count = r.u8("argument count");
        r.u8("named-argument count");
        for (unsigned i = 0; i < count; ++i)
            r.u8("argument type code");
        target.method = r.text("method name");
        return target;
    } catch (const DecodeError&) {
        return std::nullopt;
    }
}

CallRequest decodeCall(std::span<const std::byte> body) {
    wire::Reader r(body, "call");
    r.header(wire::MessageType::Call);
    CallRequest call;
    call.object = r.text("remote object name");
    call.user = r.text("user name");
    auto& d = call.descriptor;
    d.callKind = r.u8("call kind");
    if (d.callKind != kCallKindMethod) {
        r.failBefore(1, "unknown call kind " + std::to_string(d.callKind) +
                            " (only 1, method call, exists)");
    }
    d.argCount = r.u8("argument count");
    d.namedArgCount = r.u8("named-argument count");
    if (d.namedArgCount != 0) {
        r.failBefore(
            1, "named arguments are not supported (count " + std::to_string(d.namedArgCount) + ")");
    }
    r.need(d.argCount, "argument type codes");
    d.typeCodes.reserve(d.argCount);
    for (unsigned i = 0; i < d.argCount; ++i) {
        const std::uint8_t t = r.u8("argument type code");
        if (typeName(t) == nullptr) {
            r.failBefore(
                1, "unknown type code " + wire::hex(t) + " of argument " + std::to_string(i + 1));
        }
        d.typeCodes.push_back(t);
    }
    d.method = r.text("method name");
    if (d.method.empty())
        r.fail("the method name is empty");
    call.args.reserve(d.argCount);
    for (unsigned i = 0; i < d.argCount; ++i) {
        const std::uint8_t t = d.typeCodes[i];
        const std::string what = "value of argument " + std::to_string(i + 1);
        if (t == kDate) {
            const double v = r.f64(what.c_str());
            if (!std::isfinite(v))
                r.failBefore(8, what + ": the date is not a finite number");
            call.args.push_back(Argument::ofDate(v));
        } else {
            call.args.push_back({t, r.text(what.c_str()), 0});
        }
    }
    r.end();
    return call;
}

namespace {

bool sameNameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 32);
        if (x != y)
            return false;
    }
    return true;
}

constexpr std::uint64_t kDecodeFloor = 64 * 1024;

void readPacket(wire::Reader& r, DataPacket& p) {
    const std::uint32_t fieldCount = r.u32("field count");
    // Each field needs at least 13 bytes: refuse absurd counts before allocating.
    if (fieldCount > r.remaining() / 13) {
        r.failBefore(4, "field count " + std::to_string(fieldCount) +
                            " cannot fit in the remaining " + std::to_string(r.remaining()) +
                            " bytes");
    }
    p.fields.reserve(std::min<std::size_t>(fieldCount, kReserveCap));
    for (std::uint32_t i = 0; i < fieldCount; ++i) {
        FieldDef f;
        const std::string n = std::to_string(i + 1);
        f.name = r.text(("name of field " + n).c_str());
        if (f.name.empty())
            r.fail("field " + n + " has an empty name");
        for (const auto& other : p.fields) {
            if (sameNameIgnoringCase(other.name, f.name)) {
                r.fail("field name '" + f.name + "' appears twice");
            }
        }
        const std::uint8_t type = r.u8(("type of field " + n).c_str());
        if (type < 1 || type > 4) {
            r.failBefore(1, "unknown type " + wire::hex(type) + " of field '" + f.name + "'");
        }
        f.type = static_cast<FieldType>(type);
        f.width = r.u32(("width of field " + n).c_str());
        f.origin = r.text(("origin of field " + n).c_str());
        p.fields.push_back(std::move(f));
    }
    const std::uint32_t rows = r.u32("row count");
    if (fieldCount == 0) {
        if (rows != 0) {
            r.failBefore(4, "a packet without fields claims " + std::to_string(rows) + " rows");
        }
        return;
    }
    const std::uint64_t cellCount = std::uint64_t{rows} * fieldCount;
    if (cellCount > r.remaining() / 4) {
        r.failBefore(4, std::to_string(rows) + " rows of " + std::to_string(fieldCount) +
                            " fields cannot fit in the remaining " + std::to_string(r.remaining()) +
                            " bytes");
    }
    // Text beyond the short-string buffer costs at most twice its bytes on the wire; the
    // cells themselves get the rest of the decoding bound.
    const std::uint64_t body = r.position() + r.remaining();
    const std::uint64_t cellBytes = cellCount * sizeof(DataPacket::Cell);
    if (cellBytes > (kDecodedBytesPerByte - 2) * body + kDecodeFloor) {
        r.failBefore(4, std::to_string(cellCount) + " cells would take " +
                            std::to_string(cellBytes) + " bytes of memory, more than " +
                            std::to_string(kDecodedBytesPerByte) + " times the answer's " +
                            std::to_string(body) + " bytes");
    }
    auto& cells = p.cells();
    cells.clear();
    cells.reserve(static_cast<std::size_t>(cellCount));
    std::vector<FieldType> types;
    bool allText = true;
    for (const auto& f : p.fields) {
        types.push_back(f.type);
        allText = allText && f.type == FieldType::Text;
    }
    for (std::uint32_t row = 0; row < rows; ++row) {
        for (std::uint32_t col = 0; col < fieldCount; ++col) {
            auto cell = r.cell();
            if (!cell.ok) {
                r.fail(std::string(cell.problem) + " in cell of row " + std::to_string(row + 1) +
                       ", field '" + p.fields[col].name + "'");
            }
            if (cell.isNull) {
                cells.emplace_back();
                continue;
            }
            if (!allText) {
                bool good = true;
                switch (types[col]) {
                    case FieldType::Text:
                        break;
                    case FieldType::Integer:
                        good = isIntegerText(cell.value);
                        break;
                    case FieldType::Float:
                        good = isFloatText(cell.value);
                        break;
                    case FieldType::Date:
                        good = dateFromIso(cell.value).has_value();
                        break;
                }
                if (!good) {
                    r.fail("cell of row " + std::to_string(row + 1) + ", field '" +
                           p.fields[col].name + "' holds '" + std::string(cell.value) +
                           "', not a value of the field's type");
                }
            }
            cells.emplace_back(std::in_place, cell.value);
        }
    }
}

}  // namespace

CallResult decodeResult(std::span<const std::byte> body) {
    wire::Reader r(body, "result");
    r.header(wire::MessageType::Result);
    CallResult result;
    const std::uint8_t kind = r.u8("result kind");
    switch (kind) {
        case 0:
            result.kind = CallResult::Kind::Empty;
            break;
        case 1:
            result.kind = CallResult::Kind::Text;
            result.text = r.text("result text");
            break;
        case 2:
            result.kind = CallResult::Kind::Packet;
            readPacket(r, result.packet);
            break;
        case 3: {
            result.kind = CallResult::Kind::Error;
            result.text = r.text("error message");
            if (r.version() >= 3) {
                const std::uint8_t why = r.u8("error kind");
                if (why > kLastErrorKind)
                    r.failBefore(1, "unknown error kind " + wire::hex(why));
                result.errorKind = static_cast<ErrorKind>(why);
            }
            break;
        }
        default:
            r.failBefore(1, "unknown result kind " + wire::hex(kind));
    }
    const std::uint8_t refs = r.u8("by-reference count");
    if (refs != 0 && result.kind == CallResult::Kind::Error) {
        r.failBefore(1, "an error result carries " + std::to_string(refs) + " by-reference values");
    }
    bool seen[256] = {};
    result.byRef.reserve(refs);
    for (unsigned i = 0; i < refs; ++i) {
        const std::uint8_t index = r.u8("by-reference argument index");
        if (seen[index]) {
            r.failBefore(1, "by-reference value for argument " + std::to_string(index + 1) +
                                " appears twice");
        }
        seen[index] = true;
        result.byRef.emplace_back(index, r.text("by-reference value"));
    }
    r.end();
    return result;
}

std::string validateCall(const CallRequest& call) {
    const auto& d = call.descriptor;
    if (call.object.empty())
        return "the remote object name is empty";
    if (d.method.empty())
        return "the method name is empty";
    if (d.callKind != kCallKindMethod) {
        return "call kind " + std::to_string(d.callKind) + " is not 1 (method call)";
    }
    if (d.namedArgCount != 0) {
        return "named arguments are not supported (count " + std::to_string(d.namedArgCount) + ")";
    }
    if (call.args.size() > 255) {
        return std::to_string(call.args.size()) + " arguments, at most 255 are allowed";
    }
    if (d.argCount != call.args.size()) {
        return "the descriptor announces " + std::to_string(d.argCount) +
               " arguments, the call has " + std::to_string(call.args.size());
    }
    if (d.typeCodes.size() != call.args.size()) {
        return "the descriptor has " + std::to_string(d.typeCodes.size()) + " type codes for " +
               std::to_string(call.args.size()) + " arguments";
    }
    if (!wire::isUtf8(call.object) || !wire::isUtf8(call.user) || !wire::isUtf8(d.method)) {
        return "the object, user or method name is not valid UTF-8";
    }
    for (std::size_t i = 0; i < call.args.size(); ++i) {
        const auto& a = call.args[i];
        const std::string n = "argument " + std::to_string(i + 1);
        if (typeName(d.typeCodes[i]) == nullptr) {
            return n + ": unknown type code " + wire::hex(d.typeCodes[i]);
        }
        if (typeName(a.type) == nullptr)
            return n + ": unknown type code " + wire::hex(a.type);
        if (a.type != d.typeCodes[i]) {
            return n + " is " + typeName(a.type) + " but the descriptor says " +
                   typeName(d.typeCodes[i]);
        }
        if (a.type == kDate && !std::isfinite(a.date)) {
            return n + ": the date is not a finite number";
        }
        if (a.type != kDate && !wire::isUtf8(a.text))
            return n + ": the text is not valid UTF-8";
    }
    return {};
}

void applyByRef(const CallResult& result, std::vector<Argument>& args) {
    if (result.kind == CallResult::Kind::Error)
        return;
    for (const auto& [index, text] : result.byRef) {
        if (index < args.size() && args[index].type == kTextByRef)
            args[index].text = text;
    }
}

std::uint32_t frameLength(std::span<const std::byte, kFrameHeaderSize> header) {
    return static_cast<std::uint32_t>(header[0]) | static_cast<std::uint32_t>(header[1]) << 8 |
           static_cast<std::uint32_t>(header[2]) << 16 |
           static_cast<std::uint32_t>(header[3]) << 24;
}

void appendFrameHeader(std::vector<std::byte>& out, std::uint32_t bodyLength) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::byte>(bodyLength >> (8 * i)));
}

}  // namespace rqc::protocol
