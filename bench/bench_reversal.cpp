// After the number, on the generated 1,000,000-line set (SQLite, and PostgreSQL when a cluster
// is given): GetConsSoliPrevia of about 250,000 lines beside the GetConsSoli run it foretells,
// and EstornaConsSoli of that run's consolidation beside the run; and what one row change of
// the consultation screen moves: GetConsSoliOrigem of one product of that consolidation, in
// bytes of its answer beside the answer for every product. Every iteration starts from the
// pristine set. Aim: the previa no slower than the run, the reversal within its time.
//
// Environment: RQC_BENCH_DIR (data cache, default "rqc-bench-reversal" in the system's
// temporary directory), RQC_BENCH_PG_URL or RQC_TEST_PG_URL (PostgreSQL; without it only
// SQLite runs), RQC_BENCH_LINES (generated lines, default 1,000,000), RQC_BENCH_TARGET
// (selected lines, default 250,000).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "appserver/consolidation_engine.h"
#include "appserver/consultation.h"
#include "appserver/reversal.h"
#include "protocol/protocol.h"
#include "suitedb/connection.h"
#include "suitedb/dates.h"
#include "suitedb/demo_data.h"
#include "suitedb/schema.h"

#include "bench_support.h"
#include "demo_calls.h"

namespace fs = std::filesystem;
namespace sdb = rqc::suitedb;
using rqc::bench::env;
using rqc::protocol::Argument;

namespace {

const sdb::Date kToday = sdb::parseIsoDate("2024-06-01");
constexpr const char* kCentral = "0001";

std::int64_t generatedLines() {
    return std::stoll(env("RQC_BENCH_LINES", "1000000"));
}
std::int64_t targetLines() {
    return std::stoll(env("RQC_BENCH_TARGET", "250000"));
}
std::string pgAdminUrl() {
    return env("RQC_BENCH_PG_URL", env("RQC_TEST_PG_URL"));
}
std::string withDatabase(const std::string& url, const std::string& db) {
    std::size_t scheme = url.find("://");
    std::size_t slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    std::size_t q = url.find('?');
    return url.substr(0, slash) + "/" + db + (q == std::string::npos ? "" : url.substr(q));
}

// A pristine generated set and fresh copies of it.
class DataSet {
  public:
    virtual ~DataSet() = default;
    virtual std::string restore() = 0;  // target of a fresh copy
};

class SqliteSet : public DataSet {
  public:
    SqliteSet() {
        fs::path dir =
            env("RQC_BENCH_DIR", (fs::temp_directory_path() / "rqc-bench-reversal").string());
        fs::create_directories(dir);
        m_pristine = dir / ("pristine-v" + std::to_string(sdb::kSchemaVersion) + "-" +
                            std::to_string(generatedLines()) + ".db");
        m_work = dir / "work.db";
        if (!fs::exists(m_pristine)) {
            fs::path tmp = m_pristine.string() + ".tmp";
            fs::remove(tmp);
            {
                auto c = sdb::Connection::open(tmp.string());
                sdb::applySchema(*c);
                sdb::generateLarge(*c, generatedLines(), kToday);
                c->exec("PRAGMA wal_checkpoint(TRUNCATE)");
            }
            fs::rename(tmp, m_pristine);
        }
    }
    std::string restore() override {
        for (const char* suffix : {"", "-wal", "-shm"})
            fs::remove(m_work.string() + suffix);
        fs::copy_file(m_pristine, m_work);
        return m_work.string();
    }

  private:
    fs::path m_pristine, m_work;
};

class PostgresSet : public DataSet {
  public:
    PostgresSet() : m_admin(sdb::Connection::open(pgAdminUrl())) {
        m_template = "rqcrev_tpl_v" + std::to_string(sdb::kSchemaVersion) + "_" +
                     std::to_string(generatedLines());
        auto c = m_admin->query("SELECT COUNT(*) FROM pg_database WHERE datname = ?", {m_template});
        c->next();
        if (c->int64(0) == 0) {
            m_admin->exec("DROP DATABASE IF EXISTS " + m_template + "_tmp");
            m_admin->exec("CREATE DATABASE " + m_template + "_tmp TEMPLATE template0");
            {
                auto db = sdb::Connection::open(withDatabase(pgAdminUrl(), m_template + "_tmp"));
                sdb::applySchema(*db);
                sdb::generateLarge(*db, generatedLines(), kToday);
                db->exec("VACUUM ANALYZE");
            }
            m_admin->exec("ALTER DATABASE " + m_template + "_tmp RENAME TO " + m_template);
        }
    }
    ~PostgresSet() override { m_admin->exec("DROP DATABASE IF EXISTS rqcrev_work WITH (FORCE)"); }
    std::string restore() override {
        m_admin->exec("DROP DATABASE IF EXISTS rqcrev_work WITH (FORCE)");
        m_admin->exec("CREATE DATABASE rqcrev_work TEMPLATE " + m_template + " STRATEGY FILE_COPY");
        return withDatabase(pgAdminUrl(), "rqcrev_work");
    }

  private:
    std::unique_ptr<sdb::Connection> m_admin;
    std::string m_template;
};

// GetConsSoli arguments over the first delivery days of the central branch holding about
// targetLines() never-consolidated lines.
std::vector<Argument> windowArguments(sdb::Connection& db) {
    auto days = db.query(
        "SELECT s.DTENTREGA, COUNT(*) FROM ITSOLICMP it JOIN SOLICMP s ON"
        " s.CDFILSOLI = it.CDFILSOLI AND s.CDFILLANCA = it.CDFILLANCA AND"
        " s.NRSOLICMP = it.NRSOLICMP JOIN FILIAL f ON f.CDFILIAL = it.CDFILSOLI"
        " WHERE COALESCE(f.CDFILCENTCMP, f.CDFILIAL) = ? AND it.NRCONSSOLI IS NULL"
        " GROUP BY s.DTENTREGA ORDER BY s.DTENTREGA",
        {std::string(kCentral)});
    std::string first, last;
    std::int64_t lines = 0;
    while (days->next()) {
        std::int64_t n = days->int64(1);
        if (lines > 0 && lines + n / 2 > targetLines())
            break;
        if (first.empty())
            first = days->text(0);
        last = days->text(0);
        lines += n;
    }
    auto day = [](const std::string& iso) {
        return rqc::protocol::dateFromIso(iso.substr(0, 10)).value();
    };
    return rqc::test::demoConsSoliArguments(day(first), day(last), day(sdb::isoDate(kToday)),
                                            std::string(20, 'Z'));
}

DataSet& dataSet(bool pg) {
    static std::unique_ptr<DataSet> sets[2];
    auto& s = sets[pg ? 1 : 0];
    if (!s) {
        if (pg)
            s = std::make_unique<PostgresSet>();
        else
            s = std::make_unique<SqliteSet>();
    }
    return *s;
}

enum class Step { Previa, Run, Reversal, RowChange };

// Bytes of the answer frame of GetConsSoliOrigem(number, product).
std::size_t originAnswerBytes(sdb::Connection& db, const std::string& number,
                              const std::string& product, std::int64_t* rows = nullptr) {
    rqc::protocol::DataPacket p = rqc::appserver::getConsSoliOrigem(
        db, {Argument::byValue(number), Argument::byValue(product)});
    if (rows != nullptr)
        *rows = static_cast<std::int64_t>(p.rowCount());
    return rqc::protocol::encodeResult(rqc::protocol::CallResult::ofPacket(std::move(p))).size();
}

// One timed step per iteration on a fresh copy; the reversal undoes a run made beforehand.
void measure(benchmark::State& state, bool pg, Step step) {
    DataSet& set = dataSet(pg);
    std::int64_t lines = 0;
    std::size_t bytes = 0, bytesAll = 0;
    for (auto _ : state) {
        auto db = sdb::Connection::open(set.restore());
        std::vector<Argument> a = windowArguments(*db);
        std::string number;
        if (step == Step::Reversal || step == Step::RowChange)
            number = rqc::appserver::runGetConsSoli(*db, a, "bench");
        std::string product;
        if (step == Step::RowChange) {
            auto c =
                db->query("SELECT MIN(CDPRODUTO) FROM ITCONSSOLI WHERE NRCONSSOLI = ?", {number});
            product = c->next() ? std::string(c->text(0)) : std::string();
        }
        auto start = std::chrono::steady_clock::now();
        switch (step) {
            case Step::Previa: {
                rqc::protocol::DataPacket p = rqc::appserver::getConsSoliPrevia(*db, a);
                lines = 0;
                for (std::size_t r = 0; r < p.rowCount(); ++r)
                    lines += std::stoll(*p.cell(r, p.fieldIndex("NRLINHAS")));
                break;
            }
            case Step::Run:
                number = rqc::appserver::runGetConsSoli(*db, a, "bench");
                break;
            case Step::Reversal:
                lines = std::stoll(rqc::appserver::runEstornaConsSoli(*db, number, "bench"));
                break;
            case Step::RowChange:
                bytes = originAnswerBytes(*db, number, product, &lines);
                break;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (step == Step::Run) {
            auto c =
                db->query("SELECT COUNT(*) FROM ITCONSSOLIORIG WHERE NRCONSSOLI = ?", {number});
            lines = c->next() ? c->int64(0) : 0;
        }
        if (step == Step::RowChange)
            bytesAll = originAnswerBytes(*db, number, "");
    }
    state.counters["lines"] = static_cast<double>(lines);
    if (step == Step::RowChange) {
        state.counters["answer_bytes"] = static_cast<double>(bytes);
        state.counters["answer_bytes_every_product"] = static_cast<double>(bytesAll);
    }
}

void registerAll() {
    const std::pair<const char*, Step> steps[] = {{"Previa", Step::Previa},
                                                  {"Run", Step::Run},
                                                  {"Reversal", Step::Reversal},
                                                  {"RowChangeOrigem", Step::RowChange}};
    for (bool pg : {false, true}) {
        if (pg && pgAdminUrl().empty())
            continue;
        for (const auto& [name, step] : steps) {
            benchmark::RegisterBenchmark(
                (std::string(pg ? "PostgreSQL/" : "SQLite/") + name).c_str(),
                [pg, step = step](benchmark::State& s) { measure(s, pg, step); })
                ->UseManualTime()
                ->Iterations(3)
                ->Unit(benchmark::kMillisecond);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    registerAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
