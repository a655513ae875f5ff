// rqc-suitedb import of a day's purchase requests: 1,000,000 request lines (100,000 requests)
// in one SOLICMP file as an ERP writes it (';', decimal comma, dd/mm/aaaa), into a fresh
// database that holds the branches and products, on SQLite and on PostgreSQL; then the same
// file again (every row checked, nothing to change). Beside each, the engine's own bulk load
// of the same file in the same run, into a table of text columns: `sqlite3 .import` and
// `psql \copy`. Aim: the import within twice its floor.
//
// Environment: RQC_BENCH_DIR (files, default "rqc-bench-import" in the system's temporary
// directory), RQC_BENCH_PG_URL or RQC_TEST_PG_URL (PostgreSQL; without it only SQLite runs),
// RQC_BENCH_LINES (request lines, default 1,000,000).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "bench_support.h"
#include "command.h"
#include "pg_database.h"
#include "suitedb/connection.h"
#include "suitedb/import.h"
#include "suitedb/schema.h"

namespace fs = std::filesystem;
namespace sdb = rqc::suitedb;
using rqc::bench::env;

namespace {

constexpr int kBranches = 20;
constexpr int kProducts = 10'000;

std::int64_t lines() {
    return std::stoll(env("RQC_BENCH_LINES", "1000000"));
}
fs::path dir() {
    fs::path d = env("RQC_BENCH_DIR", (fs::temp_directory_path() / "rqc-bench-import").string());
    fs::create_directories(d);
    return d;
}

std::string code(std::int64_t n, int width) {
    std::string s = std::to_string(n);
    return std::string(static_cast<std::size_t>(width) - s.size(), '0') + s;
}

// The master files (branches, one buyer, products) and the requests' file, made once.
fs::path requestsFile() {
    const fs::path d = dir();
    std::ofstream(d / "FILIAL.csv") << [] {
        std::string s =
            "CDFILIAL;NMFILIAL;CDFILCENTCMP;DTPROCESSAMENTO\n0001;Central;;01/06/2024\n";
        for (int b = 2; b <= kBranches; ++b)
            s += code(b, 4) + ";Loja " + std::to_string(b) + ";0001;01/06/2024\n";
        return s;
    }();
    std::ofstream(d / "OPERADOR.csv") << "CDOPERADOR;NMOPERADOR\nCOMP001;Comprador\n";
    std::ofstream(d / "PRODUTO.csv") << [] {
        std::string s = "CDPRODUTO;CDARVPROD;NMPRODUTO\n";
        for (int p = 1; p <= kProducts; ++p)
            s += code(p, 10) + ";01.01." + code(p, 8) + ";Produto " + std::to_string(p) + "\n";
        return s;
    }();
    const fs::path f = d / ("SOLICMP-" + std::to_string(lines()) + ".csv");
    if (fs::exists(f))
        return f;
    std::ofstream out(f.string() + ".tmp");
    out << "CDFILSOLI;CDFILLANCA;NRSOLICMP;DTSOLICITACAO;DTENTREGA;CDOPERADOR;NRITEM;CDPRODUTO;"
           "QTSOLICITADA\n";
    for (std::int64_t i = 0; i < lines(); ++i) {
        const std::int64_t request = i / 10;
        const std::string branch = code(2 + request % (kBranches - 1), 4);
        out << branch << ';' << branch << ';' << code(request, 10) << ";01/06/2024;"
            << code(1 + request % 28, 2) << "/07/2024;COMP001;" << (i % 10 + 1) << ';'
            << code(1 + (i * 7919) % kProducts, 10) << ';' << (1 + i % 50) << ',' << (i % 4) * 25
            << '\n';
    }
    out.close();
    fs::rename(f.string() + ".tmp", f);
    return f;
}

double seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void run(const std::string& command) {
    rqc::test::CommandOutcome r = rqc::test::runCommand(command);
    if (r.exit != 0)
        throw std::runtime_error(command + ": " + r.output);
}

// Imports the master files into the fresh database `target`, then times the requests' file
// imported once and again.
void importFigures(benchmark::State& state, const std::string& target) {
    const fs::path requests = requestsFile();
    auto db = sdb::Connection::open(target);
    sdb::applySchema(*db);
    const fs::path d = dir();
    auto master = sdb::importFiles(*db, {{(d / "FILIAL.csv").string(), ""},
                                         {(d / "OPERADOR.csv").string(), ""},
                                         {(d / "PRODUTO.csv").string(), ""}});
    if (!master.ok())
        throw std::runtime_error(master.problems[0].text());
    sdb::ImportReport r;
    const double first = seconds([&] { r = sdb::importFiles(*db, {{requests.string(), ""}}); });
    if (!r.ok() || r.counts.front().added != lines())
        throw std::runtime_error("the import was refused or incomplete");
    const double again = seconds([&] { r = sdb::importFiles(*db, {{requests.string(), ""}}); });
    state.counters["import_s"] = first;
    state.counters["again_s"] = again;
    state.counters["lines_per_s"] = static_cast<double>(lines()) / first;
}

void BM_ImportSqlite(benchmark::State& state) {
    for (auto _ : state) {
        const fs::path db = dir() / "import.db", floorDb = dir() / "floor.db";
        for (const auto& p : {db, floorDb})
            fs::remove(p), fs::remove(p.string() + "-wal"), fs::remove(p.string() + "-shm");
        const fs::path requests = requestsFile();
        const double floor = seconds([&] {
            run("sqlite3 '" + floorDb.string() + "' '.mode csv' '.separator ;' \".import '" +
                requests.string() + "' SOLICMP_TEXTO\"");
        });
        importFigures(state, db.string());
        state.counters["floor_s"] = floor;
        state.counters["x_floor"] = state.counters["import_s"] / floor;
        state.SetIterationTime(state.counters["import_s"]);
    }
}

void BM_ImportPostgres(benchmark::State& state) {
    const std::string admin = env("RQC_BENCH_PG_URL", env("RQC_TEST_PG_URL"));
    if (admin.empty()) {
        state.SkipWithError("no PostgreSQL (RQC_BENCH_PG_URL)");
        return;
    }
    ::setenv("RQC_TEST_PG_URL", admin.c_str(), 1);
    for (auto _ : state) {
        rqc::test::PgDatabase pg;
        const fs::path requests = requestsFile();
        auto db = sdb::Connection::open(pg.url());
        db->exec(
            "CREATE TABLE SOLICMP_TEXTO (A TEXT, B TEXT, C TEXT, D TEXT, E TEXT, F TEXT, G TEXT,"
            " H TEXT, I TEXT)");
        const double floor = seconds([&] {
            run("psql -q '" + pg.url() + "' -c \"\\copy SOLICMP_TEXTO FROM '" + requests.string() +
                "' WITH (FORMAT csv, HEADER, DELIMITER ';')\"");
        });
        db.reset();
        importFigures(state, pg.url());
        state.counters["floor_s"] = floor;
        state.counters["x_floor"] = state.counters["import_s"] / floor;
        state.SetIterationTime(state.counters["import_s"]);
    }
}

BENCHMARK(BM_ImportSqlite)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_ImportPostgres)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    rqc::bench::useBuiltPrograms();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
