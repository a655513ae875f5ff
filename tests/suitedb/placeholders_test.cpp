#include "suitedb/placeholders.h"

#include <gtest/gtest.h>

namespace rqc::suitedb {
namespace {

TEST(PostgresPlaceholders, RewritesOnlyPlaceholdersOutsideQuotesAndComments) {
    struct Case {
        const char* sql;
        const char* expected;
        int count;
    };
    const Case cases[] = {
        {"SELECT 1", "SELECT 1", 0},
        {"SELECT ?", "SELECT $1", 1},
        {"A = ? AND B = ? OR ? = 'T'", "A = $1 AND B = $2 OR $3 = 'T'", 3},
        {"SELECT '?', ?", "SELECT '?', $1", 1},
        {"SELECT 'it''s ?', ?", "SELECT 'it''s ?', $1", 1},
        {"SELECT E'a\\'?', ?", "SELECT E'a\\'?', $1", 1},
        {"SELECT 'a\\', ?", "SELECT 'a\\', $1", 1},
        {"SELECT \"odd?name\" FROM T WHERE X = ?", "SELECT \"odd?name\" FROM T WHERE X = $1", 1},
        {"SELECT ? -- why?\n, ?", "SELECT $1 -- why?\n, $2", 2},
        {"SELECT /* a? /* nested? */ b? */ ?", "SELECT /* a? /* nested? */ b? */ $1", 1},
        {"SELECT $$ ? $$, ?", "SELECT $$ ? $$, $1", 1},
        {"SELECT $tag$ ? $$ ? $tag$, ?", "SELECT $tag$ ? $$ ? $tag$, $1", 1},
        {"SELECT a$b, ?", "SELECT a$b, $1", 1},
        {"SELECT 'unterminated ?", "SELECT 'unterminated ?", 0},
        {"??", "$1$2", 2},
    };
    for (const auto& c : cases) {
        int count = -1;
        EXPECT_EQ(toPostgresPlaceholders(c.sql, count), c.expected) << c.sql;
        EXPECT_EQ(count, c.count) << c.sql;
    }
}

}  // namespace
}  // namespace rqc::suitedb
