// The values of a company's CSV files: numbers as Brazilian and other spreadsheets write them,
// refused where they read two ways; dates in both forms; records with quotes and line breaks.

#include <gtest/gtest.h>

#include "suitedb/csv_reader.h"

namespace rqc::suitedb::import {
namespace {

TEST(CsvReader, NumbersAreReadOneWayOrRefused) {
    struct Case {
        const char* text;
        DecimalMark mark;
        const char* value;  // nullptr: refused
    };
    const Case cases[] = {
        {"12", DecimalMark::Unknown, "12"},          {"12,5", DecimalMark::Unknown, "12.5"},
        {" 12.50 ", DecimalMark::Unknown, "12.5"},   {"1.234,5", DecimalMark::Unknown, "1234.5"},
        {"1,234.5", DecimalMark::Unknown, "1234.5"}, {"1.234.567", DecimalMark::Unknown, "1234567"},
        {"0,250", DecimalMark::Unknown, "0.25"},     {"1234,567", DecimalMark::Unknown, "1234.567"},
        {"1.234", DecimalMark::Unknown, nullptr},    {"1,234", DecimalMark::Unknown, nullptr},
        {"1.234", DecimalMark::Comma, "1234"},       {"1.234", DecimalMark::Point, "1.234"},
        {"12.5", DecimalMark::Comma, nullptr},       {"1,2345", DecimalMark::Unknown, nullptr},
        {"-0", DecimalMark::Unknown, "0"},           {"R$ 5", DecimalMark::Unknown, nullptr},
        {"1e5", DecimalMark::Unknown, nullptr},      {"1.2.3,4,5", DecimalMark::Unknown, nullptr},
    };
    for (const Case& c : cases) {
        std::string out;
        const std::string why = parseDecimal(c.text, c.mark, 3, out);
        if (c.value)
            EXPECT_EQ(why.empty() ? out : why, c.value) << c.text;
        else
            EXPECT_FALSE(why.empty()) << c.text << " read as " << out;
    }
}

TEST(CsvReader, DatesInBothFormsAndOnlyRealDays) {
    const std::pair<const char*, const char*> cases[] = {
        {"15/12/2026", "2026-12-15"},
        {"5/1/2026", "2026-01-05"},
        {"2026-12-15", "2026-12-15"},
        {"29/02/2024", "2024-02-29"},
        {"29/02/2026", ""},
        {"31/04/2026", ""},
        {"15/12/26", ""},
        {"2026/12/15", ""},
        {"15-12-2026", ""},
    };
    for (const auto& [text, iso] : cases) {
        std::string out;
        const std::string why = parseDay(text, out);
        EXPECT_EQ(why.empty() ? out : std::string(), iso) << text << ": " << why;
    }
}

TEST(CsvReader, RecordsKeepQuotedSeparatorsAndLineBreaksAndSkipBlankLines) {
    const CsvText t = decodeCsv("A;B\r\n\"x;\"\"y\"\"\";\"two\nlines\"\r\n\r\n;;\r\nlast;\xE7\r\n");
    EXPECT_TRUE(t.windows1252);
    CsvRecords records(t.text);
    std::vector<std::string> f;
    std::int64_t line = 0;
    ASSERT_TRUE(records.next(f, line));
    ASSERT_TRUE(records.next(f, line));
    EXPECT_EQ(f, (std::vector<std::string>{"x;\"y\"", "two\nlines"}));
    EXPECT_EQ(line, 2);
    ASSERT_TRUE(records.next(f, line));
    EXPECT_EQ(f, (std::vector<std::string>{"last", "ç"}));
    EXPECT_EQ(line, 6);
    EXPECT_FALSE(records.next(f, line));
}

}  // namespace
}  // namespace rqc::suitedb::import
