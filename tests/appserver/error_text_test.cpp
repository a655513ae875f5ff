#include "appserver/error_text.h"

#include <gtest/gtest.h>

#include <string>

#include "appserver/argument_error.h"
#include "appserver/method_arguments.h"
#include "protocol/utf8.h"

using namespace rqc::appserver;
using rqc::protocol::wire::isUtf8;

TEST(ErrorText, ExcerptsAreShortEscapedAndCutOnCharacterBoundaries) {
    struct Case {
        std::string value;
        std::size_t maxChars;
        std::string expected;
    };
    const Case cases[] = {
        {"ABCDE", 24, "\"ABCDE\""},
        {"é", 24, "\"é\""},
        {"aéééé", 3, "\"aéé…\""},
        {"0002,€x", 6, "\"0002,€…\""},
        {"a\"b\\c", 24, "\"a\\\"b\\\\c\""},
        {"x\ny\x01", 24, "\"x\\x0Ay\\x01\""},
        {"\xC3", 24, "\"\\xC3\""},                    // a character cut in half by the client
        {"\xE2\x82", 24, "\"\\xE2\\x82\""},           // ditto, three-byte character
        {"\xC0\xAF", 24, "\"\\xC0\\xAF\""},           // over-long form
        {"\xED\xA0\x80", 24, "\"\\xED\\xA0\\x80\""},  // surrogate
    };
    for (const auto& k : cases) {
        const std::string q = quoteExcerpt(k.value, k.maxChars);
        EXPECT_EQ(q, k.expected) << k.value;
        EXPECT_TRUE(isUtf8(q)) << q;
    }
    const std::string huge(1'000'000, 'A');
    EXPECT_LT(quoteExcerpt(huge).size(), 40u);
}

TEST(ErrorText, CleanTextIsValidUtf8AndBounded) {
    std::string text;
    for (int i = 0; i < 600; ++i)
        text += "é";
    for (std::size_t limit : {10u, 11u, 12u, 999u}) {
        const std::string clean = cleanText(text, limit);
        EXPECT_LE(clean.size(), limit);
        EXPECT_TRUE(isUtf8(clean)) << limit;
        EXPECT_TRUE(clean.ends_with("…")) << limit;
    }
    EXPECT_EQ(cleanText("intact é"), "intact é");
    EXPECT_EQ(cleanText("bad \xFF byte"), "bad \\xFF byte");
}

// Argument checks quote the offending value as the client sent it, whole characters only.
TEST(ErrorText, ArgumentErrorsQuoteNonAsciiValuesWhole) {
    struct Case {
        std::string list;
        std::string fragment;
    };
    const Case cases[] = {
        {"0002,€", "o caractere \"€\""},
        {"é", "o caractere \"é\""},
        {"ABCDE", "o código \"ABCDE\" tem mais de 4 caracteres"},
        {"0001,,2", "o item 2 está vazio"},
    };
    for (const auto& k : cases) {
        try {
            parseCodeList(k.list, "Argumento 3 (filiais solicitantes)", 4);
            ADD_FAILURE() << k.list << " accepted";
        } catch (const ArgumentError& e) {
            const std::string msg = e.what();
            EXPECT_TRUE(isUtf8(msg)) << msg;
            EXPECT_NE(msg.find("Argumento 3 (filiais solicitantes): "), std::string::npos) << msg;
            EXPECT_NE(msg.find(k.fragment), std::string::npos) << msg;
        }
    }
    try {
        parseRequestKeyList("00010001ñ", "Argumento 15 (solicitações)");
        ADD_FAILURE() << "request key accepted";
    } catch (const ArgumentError& e) {
        EXPECT_TRUE(isUtf8(e.what())) << e.what();
        EXPECT_NE(std::string(e.what()).find("\"ñ\""), std::string::npos) << e.what();
    }
}
