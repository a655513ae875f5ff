#include "pg_database.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <random>
#include <stdexcept>

namespace rqc::test {

namespace {

void adminExec(const std::string& sql) {
    PGconn* c = PQconnectdb(PgDatabase::adminUrl().c_str());
    if (PQstatus(c) != CONNECTION_OK) {
        std::string msg = PQerrorMessage(c);
        PQfinish(c);
        throw std::runtime_error("cannot reach the test PostgreSQL cluster: " + msg);
    }
    PGresult* r = PQexec(c, sql.c_str());
    bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    std::string msg = PQresultErrorMessage(r);
    PQclear(r);
    PQfinish(c);
    if (!ok)
        throw std::runtime_error(sql + ": " + msg);
}

}  // namespace

std::string PgDatabase::adminUrl() {
    const char* u = std::getenv("RQC_TEST_PG_URL");
    return u ? std::string(u) : std::string();
}

std::string PgDatabase::withDatabase(const std::string& url, const std::string& db) {
    std::size_t q = url.find('?');
    std::string base = url.substr(0, q);
    std::string query = q == std::string::npos ? "" : url.substr(q);
    std::size_t scheme = base.find("://");
    std::size_t slash = base.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    if (slash != std::string::npos)
        base.erase(slash);
    return base + "/" + db + query;
}

PgDatabase::PgDatabase() {
    if (adminUrl().empty()) {
        const char* req = std::getenv("RQC_REQUIRE_PG");
        if (req != nullptr && std::string(req) == "1") {
            throw std::runtime_error("RQC_REQUIRE_PG=1 but RQC_TEST_PG_URL is not set");
        }
        return;
    }
    static std::atomic<int> counter{0};
    std::random_device rd;
    m_name = "rqct_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + "_" +
             std::to_string(rd() % 100000);
    adminExec("CREATE DATABASE " + m_name + " TEMPLATE template0 ENCODING 'UTF8'");
    m_url = withDatabase(adminUrl(), m_name);
}

PgDatabase::~PgDatabase() {
    if (m_name.empty())
        return;
    try {
        adminExec("DROP DATABASE IF EXISTS " + m_name + " WITH (FORCE)");
    } catch (...) {
        // A leftover test database is harmless; the cluster is thrown away after the run.
    }
}

}  // namespace rqc::test
