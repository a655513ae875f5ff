#include "appserver/method_arguments.h"

#include <gtest/gtest.h>

#include "appserver/argument_error.h"

using rqc::appserver::ArgumentError;
using rqc::appserver::parseCodeList;

namespace {

struct ListCase {
    const char* text;
    std::size_t maxLength;
    bool exact;
    std::vector<std::string> items;  // expected on success
    const char* error;               // non-null: expected fragment of the error message
};

}  // namespace

TEST(CodeList, ParsesStrictlyOrRefusesWithAClearMessage) {
    const ListCase cases[] = {
        {"", 4, false, {}, nullptr},
        {"   ", 4, false, {}, nullptr},
        {"0001", 4, false, {"0001"}, nullptr},
        {"0001,0003", 4, false, {"0001", "0003"}, nullptr},
        {" 0001 , 0003 ", 4, false, {"0001", "0003"}, nullptr},
        {"0003,0001,0003", 4, false, {"0003", "0001"}, nullptr},
        {"COMP001,comp2", 12, false, {"COMP001", "comp2"}, nullptr},
        {"000100020000000001", 18, true, {"000100020000000001"}, nullptr},
        {"0001,,0002", 4, false, {}, "o item 2 está vazio."},
        {",0001", 4, false, {}, "o item 1 está vazio."},
        {"0001,", 4, false, {}, "o item 2 está vazio."},
        {"'0001'", 4, false, {}, "caractere \"'\""},
        {"0001;DROP TABLE FILIAL", 4, false, {}, "caractere \";\""},
        {"0001) OR (1=1", 4, false, {}, "caractere \")\""},
        {"00 01", 4, false, {}, "caractere \" \""},
        {"00001", 4, false, {}, "o código \"00001\" tem mais de 4 caracteres."},
        {"0001000200000001", 18, true, {}, "deve ter exatamente 18 caracteres"},
        {"çã01", 4, false, {}, "contém o caractere \"ç\"; só letras (sem acento) e dígitos"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        if (c.error == nullptr) {
            EXPECT_EQ(parseCodeList(c.text, "branch list", c.maxLength, c.exact), c.items);
        } else {
            try {
                parseCodeList(c.text, "branch list", c.maxLength, c.exact);
                ADD_FAILURE() << "accepted";
            } catch (const ArgumentError& e) {
                std::string msg = e.what();
                EXPECT_NE(msg.find("branch list: "), std::string::npos) << msg;
                EXPECT_NE(msg.find(c.error), std::string::npos) << msg;
            }
        }
    }
}

TEST(CodeList, RefusesMoreItemsThanTheLimit) {
    std::string text;
    for (std::size_t i = 0; i <= rqc::appserver::kMaxListItems; ++i) {
        if (i)
            text += ',';
        text += std::to_string(1000000 + i);
    }
    EXPECT_THROW(parseCodeList(text, "request list", 18), ArgumentError);
}
