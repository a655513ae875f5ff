#pragma once

#include <string>

namespace rqc::test {

// A fresh, empty PostgreSQL database on the cluster named by RQC_TEST_PG_URL, dropped on
// destruction. Without RQC_TEST_PG_URL it is unavailable (tests skip), unless
// RQC_REQUIRE_PG=1, when construction throws so that the test fails instead of skipping.
class PgDatabase {
  public:
    PgDatabase();
    ~PgDatabase();
    PgDatabase(const PgDatabase&) = delete;
    PgDatabase& operator=(const PgDatabase&) = delete;

    bool available() const { return !m_url.empty(); }
    const std::string& url() const { return m_url; }  // postgresql:// URL of the new database
    const std::string& name() const { return m_name; }

    // URL of the cluster's maintenance database, or "" when not configured.
    static std::string adminUrl();
    // Same URL with another database name.
    static std::string withDatabase(const std::string& url, const std::string& db);

  private:
    std::string m_url;
    std::string m_name;
};

}  // namespace rqc::test

// Skips the running test when no PostgreSQL cluster is configured.
#define RQC_SKIP_WITHOUT_PG(db)                        \
    do {                                               \
        if (!(db).available())                         \
            GTEST_SKIP() << "RQC_TEST_PG_URL not set"; \
    } while (0)
