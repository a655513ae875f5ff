#include "protocol/protocol.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace rqc::protocol;

namespace {

std::vector<std::byte> bytes(std::initializer_list<int> values) {
    std::vector<std::byte> out;
    for (int v : values)
        out.push_back(static_cast<std::byte>(v));
    return out;
}

CallRequest makeCall(std::string method, std::vector<Argument> args) {
    CallRequest c;
    c.object = "Rqc04100.rdmConsolidaSolicita";
    c.user = "maria";
    c.descriptor = CallDescriptor::forArguments(std::move(method), args);
    c.args = std::move(args);
    return c;
}

// The 19 arguments of the consolidation run, in their kinds.
CallRequest consolidationCall() {
    std::vector<Argument> a = {Argument::byValue("0001"),
                               Argument::byRef("COMP1;COMP2"),
                               Argument::byRef("0100"),
                               Argument::byRef(""),
                               Argument::byValue("0001"),
                               Argument::byValue("10"),
                               Argument::byValue(std::string(20, 'Z')),
                               Argument::ofDate(45292),
                               Argument::ofDate(45322),
                               Argument::byRef("S"),
                               Argument::byRef("N"),
                               Argument::byRef("N"),
                               Argument::ofDate(45300.5),
                               Argument::byRef("T"),
                               Argument::byRef(""),
                               Argument::byRef("S"),
                               Argument::byRef("S"),
                               Argument::byRef("N"),
                               Argument::byRef("S")};
    return makeCall("GetConsSoli", std::move(a));
}

DataPacket requestPacket(std::size_t rows) {
    DataPacket p;
    p.fields = {{"IDMARCADO", FieldType::Text, 1, ""},
                {"CHAVE", FieldType::Text, 18, ""},
                {"CDFILSOLI", FieldType::Text, 4, "SOLICMP.CDFILSOLI"},
                {"QTD", FieldType::Integer, 0, ""},
                {"DTENTREGA", FieldType::Date, 0, "SOLICMP.DTENTREGA"}};
    for (std::size_t i = 0; i < rows; ++i) {
        p.addRow({"N", "00010001" + std::to_string(1000000000 + i), "0001",
                  i % 3 == 0 ? DataPacket::Cell{} : DataPacket::Cell{std::to_string(i)},
                  "2024-01-0" + std::to_string(1 + i % 9)});
    }
    return p;
}

void expectSameCall(const CallRequest& a, const CallRequest& b) {
    EXPECT_EQ(a.object, b.object);
    EXPECT_EQ(a.user, b.user);
    EXPECT_EQ(a.descriptor.callKind, b.descriptor.callKind);
    EXPECT_EQ(a.descriptor.argCount, b.descriptor.argCount);
    EXPECT_EQ(a.descriptor.namedArgCount, b.descriptor.namedArgCount);
    EXPECT_EQ(a.descriptor.typeCodes, b.descriptor.typeCodes);
    EXPECT_EQ(a.descriptor.method, b.descriptor.method);
    ASSERT_EQ(a.args.size(), b.args.size());
    for (std::size_t i = 0; i < a.args.size(); ++i) {
        EXPECT_EQ(a.args[i].type, b.args[i].type) << "argument " << i;
        EXPECT_EQ(a.args[i].text, b.args[i].text) << "argument " << i;
        EXPECT_EQ(a.args[i].date, b.args[i].date) << "argument " << i;
    }
}

void expectSameResult(const CallResult& a, const CallResult& b) {
    EXPECT_EQ(a.kind, b.kind);
    EXPECT_EQ(a.text, b.text);
    EXPECT_EQ(a.byRef, b.byRef);
    ASSERT_EQ(a.packet.fields.size(), b.packet.fields.size());
    for (std::size_t i = 0; i < a.packet.fields.size(); ++i) {
        EXPECT_EQ(a.packet.fields[i].name, b.packet.fields[i].name);
        EXPECT_EQ(a.packet.fields[i].type, b.packet.fields[i].type);
        EXPECT_EQ(a.packet.fields[i].width, b.packet.fields[i].width);
        EXPECT_EQ(a.packet.fields[i].origin, b.packet.fields[i].origin);
    }
    EXPECT_EQ(a.packet.rowCount(), b.packet.rowCount());
    EXPECT_EQ(a.packet.cells(), b.packet.cells());
}

std::string decodeErrorOf(const std::vector<std::byte>& body, bool asCall) {
    try {
        if (asCall) {
            decodeCall(body);
        } else {
            decodeResult(body);
        }
    } catch (const DecodeError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(ProtocolCall, EveryArgumentKindRoundTrips) {
    const std::vector<std::pair<std::string, CallRequest>> cases = {
        {"no arguments", makeCall("Ping", {})},
        {"text by value", makeCall("M", {Argument::byValue("0001")})},
        {"text by reference", makeCall("GetParaCmpSup", {Argument::byRef("0001")})},
        {"empty texts", makeCall("M", {Argument::byValue(""), Argument::byRef("")})},
        {"accented text", makeCall("M", {Argument::byRef("Solicitação nº 5 — ação")})},
        {"date with time", makeCall("M", {Argument::ofDate(45292.75)})},
        {"negative date", makeCall("M", {Argument::ofDate(-693593)})},
        {"request lookup",
         makeCall("GetSolicitacao", {Argument::ofDate(45292), Argument::ofDate(45322),
                                     Argument::byRef("0001;0002"), Argument::byRef("T")})},
        {"consolidation", consolidationCall()},
        {"long text", makeCall("M", {Argument::byValue(std::string(100000, 'x'))})},
    };
    for (const auto& [name, call] : cases) {
        SCOPED_TRACE(name);
        ASSERT_EQ(validateCall(call), "");
        expectSameCall(decodeCall(encodeCall(call)), call);
    }
}

TEST(ProtocolCall, DescriptorCarriesTheConsolidationTypeCodes) {
    const CallRequest call = consolidationCall();
    const std::vector<std::uint8_t> expected = {0x48, 0xC8, 0xC8, 0xC8, 0x48, 0x48, 0x48,
                                                0x07, 0x07, 0xC8, 0xC8, 0xC8, 0x07, 0xC8,
                                                0xC8, 0xC8, 0xC8, 0xC8, 0xC8};
    EXPECT_EQ(call.descriptor.typeCodes, expected);
    EXPECT_EQ(call.descriptor.argCount, 19);
    EXPECT_EQ(call.descriptor.namedArgCount, 0);
    EXPECT_EQ(call.descriptor.callKind, 1);
}

TEST(ProtocolCall, WorkedExampleOfTheDocumentIsExact) {
    // docs/protocol.md walks through this message byte by byte.
    CallRequest call;
    call.object = "Obj";
    call.user = "ana";
    std::vector<Argument> args = {Argument::byRef("0001"), Argument::ofDate(45292)};
    call.descriptor = CallDescriptor::forArguments("Get", args);
    call.args = args;
    const auto expected =
        bytes({0x52, 0x51, 0x03, 0x01,                            // magic, version 3, call
               0x03, 0x00, 0x00, 0x00, 'O',  'b',  'j',           // object
               0x03, 0x00, 0x00, 0x00, 'a',  'n',  'a',           // user
               0x01, 0x02, 0x00, 0xC8, 0x07,                      // kind, counts, type codes
               0x03, 0x00, 0x00, 0x00, 'G',  'e',  't',           // method
               0x04, 0x00, 0x00, 0x00, '0',  '0',  '0',  '1',     // argument 1
               0x00, 0x00, 0x00, 0x00, 0x80, 0x1D, 0xE6, 0x40});  // argument 2: 45292.0
    EXPECT_EQ(encodeCall(call), expected);
    EXPECT_EQ(expected.size(), 0x2Eu);
}

TEST(ProtocolResult, WorkedExampleOfTheDocumentIsExact) {
    CallResult r = CallResult::ofText("0000000042");
    r.byRef = {{0, "0002"}};
    std::vector<std::byte> frame;
    const auto body = encodeResult(r);
    appendFrameHeader(frame, static_cast<std::uint32_t>(body.size()));
    frame.insert(frame.end(), body.begin(), body.end());
    const auto expected = bytes({0x1D, 0x00, 0x00, 0x00, 0x52, 0x51, 0x03, 0x02, 0x01, 0x0A, 0x00,
                                 0x00, 0x00, '0',  '0',  '0',  '0',  '0',  '0',  '0',  '0',  '4',
                                 '2',  0x01, 0x00, 0x04, 0x00, 0x00, 0x00, '0',  '0',  '0',  '2'});
    EXPECT_EQ(frame, expected);
}

TEST(ProtocolLogin, WorkedExampleOfTheDocumentIsExactAndStrict) {
    const auto expected = bytes({0x52, 0x51, 0x03, 0x03,                 // magic, version 3, login
                                 0x03, 0x00, 0x00, 0x00, 'a', 'n', 'a',  // operator code
                                 0x04, 0x00, 0x00, 0x00, 's', '3', 'c', '!'});  // password
    EXPECT_EQ(encodeLogin({"ana", "s3c!"}), expected);
    const LoginRequest back = decodeLogin(expected);
    EXPECT_EQ(back.operatorCode, "ana");
    EXPECT_EQ(back.password, "s3c!");
    auto trailing = expected;
    trailing.push_back(std::byte{0});
    EXPECT_THROW(decodeLogin(trailing), DecodeError);
    EXPECT_THROW(decodeLogin(encodeResult(CallResult{})), DecodeError);
    ASSERT_TRUE(peekHeader(expected).has_value());
    EXPECT_EQ(peekHeader(expected)->type, kMessageLogin);
    EXPECT_EQ(encodeResult(CallResult::error("x"), 1)[2], std::byte{1});
}

TEST(ProtocolResult, EveryResultKindRoundTrips) {
    DataPacket noRows;
    noRows.fields = {{"IDUTPRODPREF", FieldType::Text, 1, "PARCMPSUP.IDUTPRODPREF"}};
    DataPacket allNull;
    allNull.fields = {{"A", FieldType::Text, 1, ""}, {"B", FieldType::Float, 0, ""}};
    allNull.addRow({std::nullopt, std::nullopt});
    allNull.addRow({"", "2.5"});
    CallResult withRefs = CallResult::ofText("0000000042");
    withRefs.byRef = {{1, "COMP1"}, {3, ""}, {14, "00010001000000001"}};

    const std::vector<std::pair<std::string, CallResult>> cases = {
        {"empty", CallResult{}},
        {"text", CallResult::ofText("0000000042")},
        {"blank text", CallResult::ofText("   ")},
        {"error", CallResult::error("argument 8: not a date")},
        {"packet with rows and nulls", CallResult::ofPacket(requestPacket(50))},
        {"packet without rows", CallResult::ofPacket(noRows)},
        {"packet without fields", CallResult::ofPacket(DataPacket{})},
        {"null and empty cells differ", CallResult::ofPacket(allNull)},
        {"by-reference values", withRefs},
    };
    for (const auto& [name, result] : cases) {
        SCOPED_TRACE(name);
        expectSameResult(decodeResult(encodeResult(result)), result);
    }
}

TEST(ProtocolResult, ErrorResultNeverCarriesByRefValues) {
    CallResult r = CallResult::error("boom");
    r.byRef = {{0, "changed"}};
    const CallResult back = decodeResult(encodeResult(r));
    EXPECT_EQ(back.kind, CallResult::Kind::Error);
    EXPECT_TRUE(back.byRef.empty());
}

TEST(ProtocolResult, LargePacketRoundTrips) {
    const CallResult r = CallResult::ofPacket(requestPacket(100000));
    const CallResult back = decodeResult(encodeResult(r));
    ASSERT_EQ(back.packet.rowCount(), 100000u);
    EXPECT_EQ(back.packet.cells(), r.packet.cells());
}

TEST(ProtocolDecode, MalformedBodiesAreRefusedWithTheReason) {
    const auto call = encodeCall(makeCall("M", {Argument::byRef("ab"), Argument::ofDate(1)}));
    auto patched = [](std::vector<std::byte> b, std::size_t at, int v) {
        b[at] = static_cast<std::byte>(v);
        return b;
    };
    auto withTrailing = [](std::vector<std::byte> b) {
        b.push_back(std::byte{0});
        return b;
    };
    // Offsets into the call above: header 0-3, object 4-36 ("Rqc04100.rdmConsolidaSolicita"
    // is 29 bytes), user 37-45, call kind 46, counts 47-48, type codes 49-50.
    struct Case {
        std::string name;
        std::vector<std::byte> body;
        bool asCall;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"empty body", {}, true, "too short for a message header"},
        {"bad magic", patched(call, 0, 'X'), true, "bad magic"},
        {"newer version", patched(call, 2, 4), true,
         "protocol version 4 not supported, this side speaks 2 to 3"},
        {"result read as call", encodeResult(CallResult{}), true,
         "expected a call message, got a result message"},
        {"unknown message type", patched(call, 3, 9), true, "unknown message type 0x09"},
        {"call kind", patched(call, 46, 2), true, "unknown call kind 2"},
        {"named arguments", patched(call, 48, 1), true, "named arguments are not supported"},
        {"unknown type code", patched(call, 49, 0x08), true,
         "unknown type code 0x08 of argument 1"},
        {"trailing byte", withTrailing(call), true, "1 trailing bytes"},
        {"object length past the end", patched(call, 7, 0x7F), true,
         "truncated remote object name"},
        {"invalid UTF-8", patched(call, 10, 0xFF), true, "remote object name is not valid UTF-8"},
        {"unknown result kind", bytes({0x52, 0x51, 2, 2, 7, 0}), false, "unknown result kind 0x07"},
        {"error with by-reference values",
         bytes({0x52, 0x51, 2, 2, 3, 1, 0, 0, 0, 'x', 1, 0, 0, 0, 0, 0}), false,
         "an error result carries 1 by-reference values"},
        {"duplicate by-reference index",
         bytes({0x52, 0x51, 2, 2, 0, 2, 4, 0, 0, 0, 0, 4, 0, 0, 0, 0}), false,
         "argument 5 appears twice"},
        {"rows claimed past the end",
         bytes({0x52, 0x51, 2, 2, 2, 1, 0, 0, 0, 1,    0,    0,    0,    'A',
                1,    0,    0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 0}),
         false, "cannot fit in the remaining"},
        {"fields claimed past the end", bytes({0x52, 0x51, 2, 2, 2, 0xFF, 0xFF, 0xFF, 0xFF}), false,
         "field count 4294967295 cannot fit"},
        {"rows without fields", bytes({0x52, 0x51, 2, 2, 2, 0, 0, 0, 0, 3, 0, 0, 0, 0}), false,
         "a packet without fields claims 3 rows"},
        {"unknown field type", bytes({0x52, 0x51, 2, 2, 2, 1, 0, 0, 0, 1, 0, 0, 0, 'A',
                                      9,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
         false, "unknown type 0x09 of field 'A'"},
        {"integer field holding text",
         bytes({0x52, 0x51, 2, 2, 2, 1, 0, 0, 0, 1, 0, 0, 0, 'N', 2,   0, 0,
                0,    0,    0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0,   'x', 0}),
         false, "row 1, field 'N' holds 'x', not a value of the field's type"},
        {"truncated cell", bytes({0x52, 0x51, 2, 2, 2, 1, 0, 0, 0, 1, 0, 0, 0, 'A', 1,   0, 0,
                                  0,    0,    0, 0, 0, 0, 1, 0, 0, 0, 5, 0, 0, 0,   'x', 0}),
         false, "truncated text in cell of row 1, field 'A'"},
        {"duplicate field name",
         bytes({0x52, 0x51, 2, 2, 2, 2, 0,   0, 0, 1, 0, 0, 0, 'A', 1, 0, 0, 0, 0, 0, 0,
                0,    0,    1, 0, 0, 0, 'a', 1, 0, 0, 0, 0, 0, 0,   0, 0, 0, 0, 0, 0, 0}),
         false, "field name 'a' appears twice"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string message = decodeErrorOf(c.body, c.asCall);
        EXPECT_NE(message.find(c.expected), std::string::npos) << "got: " << message;
    }
}

TEST(ProtocolDecode, ErrorsNameTheByteWhereTheyHappened) {
    auto body = encodeCall(makeCall("M", {Argument::byRef("ab")}));
    body[49] = std::byte{0x01};
    EXPECT_NE(decodeErrorOf(body, true).find("malformed call at byte 49:"), std::string::npos);
}

TEST(ProtocolDecode, EveryPrefixOfAValidMessageIsRefused) {
    const auto call = encodeCall(consolidationCall());
    for (std::size_t n = 0; n < call.size(); ++n) {
        std::vector<std::byte> prefix(call.begin(), call.begin() + static_cast<long>(n));
        EXPECT_THROW(decodeCall(prefix), DecodeError) << "prefix of " << n << " bytes";
    }
    CallResult r = CallResult::ofPacket(requestPacket(4));
    r.byRef = {{2, "x"}};
    const auto result = encodeResult(r);
    for (std::size_t n = 0; n < result.size(); ++n) {
        std::vector<std::byte> prefix(result.begin(), result.begin() + static_cast<long>(n));
        EXPECT_THROW(decodeResult(prefix), DecodeError) << "prefix of " << n << " bytes";
    }
}

TEST(ProtocolDecode, RandomAndMutatedBytesNeverCrash) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> byte(0, 255);
    const auto call = encodeCall(consolidationCall());
    const auto result = encodeResult(CallResult::ofPacket(requestPacket(6)));
    int decodedMutants = 0;
    for (int i = 0; i < 20000; ++i) {
        std::vector<std::byte> body;
        const int mode = i % 3;
        if (mode == 0) {
            body.resize(static_cast<std::size_t>(byte(rng)));
            for (auto& b : body)
                b = static_cast<std::byte>(byte(rng));
            if (body.size() >= 4 && i % 2 == 0) {  // past the header most of the time
                body[0] = std::byte{0x52};
                body[1] = std::byte{0x51};
                body[2] = std::byte{1};
                body[3] = std::byte{static_cast<unsigned char>(1 + i % 2)};
            }
        } else {
            body = mode == 1 ? call : result;
            const int flips = 1 + byte(rng) % 4;
            for (int f = 0; f < flips; ++f) {
                body[static_cast<std::size_t>(byte(rng) * 997) % body.size()] =
                    static_cast<std::byte>(byte(rng));
            }
        }
        try {
            decodeCall(body);
            ++decodedMutants;
        } catch (const DecodeError&) {
        }
        try {
            decodeResult(body);
            ++decodedMutants;
        } catch (const DecodeError&) {
        }
    }
    // Some mutations only touch text bytes and still decode; most do not.
    EXPECT_GT(decodedMutants, 0);
    EXPECT_LT(decodedMutants, 20000);
}

TEST(ProtocolValidate, DescriptorMustMatchItsArguments) {
    auto with = [](auto change) {
        CallRequest c = makeCall("M", {Argument::byValue("a"), Argument::ofDate(3)});
        change(c);
        return validateCall(c);
    };
    struct Case {
        std::string name;
        std::string problem;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"consistent", with([](CallRequest&) {}), ""},
        {"no object", with([](CallRequest& c) { c.object.clear(); }),
         "remote object name is empty"},
        {"no method", with([](CallRequest& c) { c.descriptor.method.clear(); }),
         "method name is empty"},
        {"call kind", with([](CallRequest& c) { c.descriptor.callKind = 2; }),
         "call kind 2 is not 1"},
        {"named arguments", with([](CallRequest& c) { c.descriptor.namedArgCount = 1; }),
         "named arguments are not supported"},
        {"count too high", with([](CallRequest& c) { c.descriptor.argCount = 3; }),
         "announces 3 arguments, the call has 2"},
        {"missing type code", with([](CallRequest& c) { c.descriptor.typeCodes.pop_back(); }),
         "1 type codes for 2 arguments"},
        {"kind differs", with([](CallRequest& c) { c.descriptor.typeCodes[0] = kTextByRef; }),
         "argument 1 is text by value but the descriptor says text by reference"},
        {"unknown code", with([](CallRequest& c) { c.descriptor.typeCodes[1] = 0x05; }),
         "argument 2: unknown type code 0x05"},
        {"unknown argument type", with([](CallRequest& c) { c.args[0].type = 0x49; }),
         "argument 1: unknown type code 0x49"},
        {"date not finite", with([](CallRequest& c) { c.args[1].date = NAN; }),
         "argument 2: the date is not a finite number"},
        {"text not UTF-8", with([](CallRequest& c) { c.args[0].text = "\xC3"; }),
         "argument 1: the text is not valid UTF-8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.expected.empty()) {
            EXPECT_EQ(c.problem, "");
        } else {
            EXPECT_NE(c.problem.find(c.expected), std::string::npos) << "got: " << c.problem;
        }
    }
}

TEST(ProtocolValidate, MoreThan255ArgumentsAreRefused) {
    std::vector<Argument> args(256, Argument::byValue("x"));
    EXPECT_NE(validateCall(makeCall("M", args)).find("at most 255"), std::string::npos);
}

TEST(ProtocolByRef, OnlyByReferenceTextsAreWrittenBackAfterSuccess) {
    const std::vector<Argument> before = {Argument::byValue("v"), Argument::byRef("r1"),
                                          Argument::ofDate(7), Argument::byRef("r2")};
    auto apply = [&](CallResult r) {
        auto args = before;
        applyByRef(r, args);
        std::vector<std::string> texts;
        for (const auto& a : args)
            texts.push_back(a.type == kDate ? std::to_string(a.date) : a.text);
        return texts;
    };
    auto withRefs = [](CallResult r, std::vector<std::pair<std::uint8_t, std::string>> refs) {
        r.byRef = std::move(refs);
        return r;
    };
    struct Case {
        std::string name;
        CallResult result;
        std::vector<std::string> expected;
    };
    const std::string seven = std::to_string(7.0);
    const std::vector<Case> cases = {
        {"success writes both references",
         withRefs(CallResult::ofText("1"), {{1, "R1"}, {3, "R2"}}),
         {"v", "R1", seven, "R2"}},
        {"empty result also writes", withRefs(CallResult{}, {{3, ""}}), {"v", "r1", seven, ""}},
        {"by-value is never written", withRefs(CallResult{}, {{0, "V"}}), {"v", "r1", seven, "r2"}},
        {"date is never written", withRefs(CallResult{}, {{2, "x"}}), {"v", "r1", seven, "r2"}},
        {"index past the arguments is ignored",
         withRefs(CallResult{}, {{9, "x"}}),
         {"v", "r1", seven, "r2"}},
        {"error writes nothing",
         withRefs(CallResult::error("e"), {{1, "R1"}}),
         {"v", "r1", seven, "r2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(apply(c.result), c.expected);
    }
}

TEST(ProtocolDate, CalendarDatesMapToDaysFrom18991230) {
    struct Case {
        int y, m, d;
        double days;
        std::string iso;
    };
    const std::vector<Case> cases = {
        {1899, 12, 30, 0, "1899-12-30"},       {1899, 12, 31, 1, "1899-12-31"},
        {1900, 1, 1, 2, "1900-01-01"},         {1900, 3, 1, 61, "1900-03-01"},
        {2000, 1, 1, 36526, "2000-01-01"},     {2000, 2, 29, 36585, "2000-02-29"},
        {2024, 1, 1, 45292, "2024-01-01"},     {1, 1, 1, -693593, "0001-01-01"},
        {9999, 12, 31, 2958465, "9999-12-31"}, {1899, 12, 29, -1, "1899-12-29"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.iso);
        EXPECT_EQ(dateFromYmd(c.y, c.m, c.d), c.days);
        EXPECT_EQ(dateToIso(c.days), c.iso);
        EXPECT_EQ(dateFromIso(c.iso), c.days);
    }
}

TEST(ProtocolDate, TimeOfDayIsDroppedTowardsTheDay) {
    EXPECT_EQ(dateToIso(45292.999), "2024-01-01");
    EXPECT_EQ(dateToIso(0.5), "1899-12-30");
    EXPECT_EQ(dateToIso(-0.5), "1899-12-30");  // the whole-day part of -0.5 is day 0
    EXPECT_EQ(dateToIso(-1.25), "1899-12-29");
}

TEST(ProtocolDate, OutOfRangeDatesAreRefused) {
    for (double d :
         {-693594.0, 2958466.0, static_cast<double>(INFINITY), static_cast<double>(NAN)}) {
        EXPECT_THROW(dateToIso(d), std::out_of_range) << d;
    }
    EXPECT_THROW(dateFromYmd(2023, 2, 29), std::out_of_range);
    EXPECT_THROW(dateFromYmd(0, 1, 1), std::out_of_range);
    EXPECT_THROW(dateFromYmd(2023, 13, 1), std::out_of_range);
}

TEST(ProtocolDate, IsoParsingIsStrict) {
    for (const char* bad : {"2023-02-29", "1900-02-29", "2023-13-01", "2023-00-10", "2023-04-31",
                            "2023-1-01", "20230101", " 2023-01-01", "2023-01-01 ", "0000-01-01",
                            "2023/01/01", "+023-01-01", "2023-01-0a", "", "2023-01-001"}) {
        EXPECT_FALSE(dateFromIso(bad).has_value()) << bad;
    }
    EXPECT_TRUE(dateFromIso("2024-02-29").has_value());
    EXPECT_TRUE(dateFromIso("2000-02-29").has_value());
}

TEST(ProtocolFrame, HeaderIsLittleEndianLength) {
    for (std::uint32_t n : {0u, 1u, 255u, 256u, 0x01020304u, 0xFFFFFFFFu}) {
        std::vector<std::byte> out;
        appendFrameHeader(out, n);
        ASSERT_EQ(out.size(), kFrameHeaderSize);
        EXPECT_EQ(frameLength(std::span<const std::byte, kFrameHeaderSize>(out.data(), 4)), n);
    }
    std::vector<std::byte> out;
    appendFrameHeader(out, 0x01020304u);
    EXPECT_EQ(out, bytes({4, 3, 2, 1}));
}

TEST(ProtocolPacket, RowsMustMatchTheFields) {
    DataPacket p;
    p.fields = {{"A", FieldType::Text, 1, ""}, {"B", FieldType::Text, 1, ""}};
    EXPECT_THROW(p.addRow({"x"}), std::invalid_argument);
    p.addRow({"x", std::nullopt});
    EXPECT_EQ(p.rowCount(), 1u);
    EXPECT_EQ(p.fieldIndex("B"), 1);
    EXPECT_EQ(p.fieldIndex("C"), -1);
    EXPECT_FALSE(p.cell(0, 1).has_value());
}

TEST(ProtocolResult, AnErrorsKindTravelsInVersion3AndAVersion2PeerReadsTheSameMessage) {
    const CallResult busy = CallResult::error("ocupado", ErrorKind::Busy);
    const CallResult now = decodeResult(encodeResult(busy));
    EXPECT_EQ(now.errorKind, ErrorKind::Busy);
    const auto old = encodeResult(busy, kOldestProtocolVersion);
    EXPECT_EQ(old.size() + 1, encodeResult(busy).size()) << "version 2 has no kind byte";
    const CallResult read = decodeResult(old);
    EXPECT_EQ(read.text, "ocupado");
    EXPECT_EQ(read.errorKind, ErrorKind::Unspecified);
    auto unknown = encodeResult(busy);
    unknown[unknown.size() - 2] = std::byte{0x20};
    EXPECT_THROW(decodeResult(unknown), DecodeError);
}
