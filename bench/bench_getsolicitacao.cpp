// GetSolicitacao over 100,000 requests in range, end to end through rqc-appserver (query,
// packet, wire, client decode, loading into a TClientDataSet), with the server-side steps timed
// in-process, against the floor of reading the same rows with the sqlite3 C API, in the same run.
//   bench_getsolicitacao [--requests N] [--repeat R]

#include <sqlite3.h>

#include <cstdio>
#include <cstring>

#include "appserver/rdm_consolida_solicita.h"
#include "appserver/worker_connection.h"
#include "bench_support.h"
#include "protocol/client.h"
#include "suitedb/connection.h"
#include "suitedb/dialect.h"
#include "suitedb/schema.h"
#include "support/server_process.h"
#include "vlm/client_data_set.h"

namespace {

using namespace rqc;
using bench::microseconds;

// The server's query, and the same rows delivered in CHAVE order by the database.
const char* const kFloorSql =
    "SELECT CDFILSOLI, CDFILLANCA, NRSOLICMP FROM SOLICMP"
    " WHERE DTENTREGA >= ? AND DTENTREGA < ?";
const char* const kOrderedFloorSql =
    "SELECT CDFILSOLI, CDFILLANCA, NRSOLICMP FROM SOLICMP"
    " WHERE DTENTREGA >= ? AND DTENTREGA < ?"
    " ORDER BY CDFILSOLI, CDFILLANCA, NRSOLICMP";

// `inRange` requests delivered in March 2024 over 200 branches, and a quarter as many in May.
void fill(const std::string& path, int inRange) {
    appserver::WorkerConnection worker(path);
    suitedb::Connection* db = &worker.get();
    suitedb::applySchema(*db);
    suitedb::Transaction tx(*db);
    char soli[8], lanca[8], nr[16], date[16];
    const int total = inRange + inRange / 4;
    for (int i = 0; i < total; ++i) {
        std::snprintf(soli, sizeof soli, "%04d", 1 + i % 200);
        std::snprintf(lanca, sizeof lanca, "%04d", 1 + (i / 200) % 4);
        std::snprintf(nr, sizeof nr, "%010d", i);
        std::snprintf(date, sizeof date, "2024-%02d-%02d", i < inRange ? 3 : 5, 1 + i % 31);
        db->execute(
            "INSERT INTO SOLICMP (CDFILSOLI, CDFILLANCA, NRSOLICMP, DTSOLICITACAO, DTENTREGA) "
            "VALUES (?, ?, ?, ?, ?)",
            {std::string(soli), std::string(lanca), std::string(nr), std::string("2024-02-01"),
             std::string(date)});
    }
    tx.commit();
}

std::size_t floorRead(sqlite3* db, const char* sql) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
    sqlite3_bind_text(st, 1, "2024-03-01", -1, SQLITE_STATIC);
    sqlite3_bind_text(st, 2, "2024-04-01", -1, SQLITE_STATIC);
    std::size_t rows = 0, bytes = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
        for (int c = 0; c < 3; ++c) {
            const unsigned char* t = sqlite3_column_text(st, c);
            bytes += static_cast<std::size_t>(sqlite3_column_bytes(st, c)) + (t ? t[0] : 0);
        }
        ++rows;
    }
    sqlite3_finalize(st);
    return bytes > 0 ? rows : 0;
}

std::vector<protocol::Argument> arguments() {
    return {protocol::Argument::ofDate(protocol::dateFromYmd(2024, 3, 1)),
            protocol::Argument::ofDate(protocol::dateFromYmd(2024, 3, 31)),
            protocol::Argument::byRef(""), protocol::Argument::byRef("T")};
}

double ms(double us) {
    return us / 1000.0;
}

}  // namespace

int main(int argc, char** argv) {
    bench::useBuiltPrograms();
    int requests = 100000, repeat = 15;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--requests"))
            requests = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--repeat"))
            repeat = std::atoi(argv[i + 1]);
    }
    char dirTemplate[] = "/tmp/bench_getsolicitacao.XXXXXX";
    const std::filesystem::path dir = ::mkdtemp(dirTemplate);
    const std::string path = (dir / "suite.db").string();
    fill(path, requests);

    auto check = [&](std::size_t rows, const char* what) {
        if (rows != static_cast<std::size_t>(requests)) {
            std::fprintf(stderr, "%s returned %zu rows, expected %d\n", what, rows, requests);
            std::exit(1);
        }
    };

    std::vector<double> floor, ordered, query, encode, decode, endToEnd, load;
    TClientDataSet cdsSolicitacao;
    for (const auto& [name, size] :
         {std::pair{"IDMARCADO", 1}, std::pair{"CHAVE", 18}, std::pair{"CDFILSOLI", 4},
          std::pair{"CDFILLANCA", 4}, std::pair{"NRSOLICMP", 10}}) {
        cdsSolicitacao.AddField(name, size);
    }
    sqlite3* raw = nullptr;
    sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_exec(raw, suitedb::Dialect(suitedb::Engine::Sqlite).serverSettings(), nullptr, nullptr,
                 nullptr);
    appserver::WorkerConnection worker(path);
    suitedb::Connection* db = &worker.get();
    test::ServerProcess server({path, dir.string(), {}});
    server.start();
    test::TestClient client;
    client.connect("127.0.0.1", server.port());
    protocol::CallRequest call;
    call.object = "Rqc04100.rdmConsolidaSolicita";
    call.user = "bench";
    call.args = arguments();
    call.descriptor = protocol::CallDescriptor::forArguments("GetSolicitacao", call.args);

    double floorCpu = 0, clientCpu = 0, serverCpu = 0;
    for (int i = 0; i < repeat + 2; ++i) {  // the first two rounds warm the caches
        std::size_t rows = 0;
        const double cpu0 = bench::threadCpuMs();
        double f = microseconds([&] { rows = floorRead(raw, kFloorSql); });
        const double cpu1 = bench::threadCpuMs();
        check(rows, "sqlite3 C API");
        double o = microseconds([&] { rows = floorRead(raw, kOrderedFloorSql); });
        check(rows, "sqlite3 C API, ordered");

        protocol::DataPacket packet;
        double q = microseconds([&] { packet = appserver::getSolicitacao(*db, arguments()); });
        check(packet.rowCount(), "getSolicitacao");
        std::vector<std::byte> body;
        double e = microseconds([&] {
            body = protocol::encodeResult(protocol::CallResult::ofPacket(std::move(packet)));
        });
        protocol::CallResult back;
        double d = microseconds([&] { back = protocol::decodeResult(body); });
        check(back.packet.rowCount(), "decodeResult");

        protocol::CallResult answer;
        const double server0 = bench::processCpuMs(server.pid());
        const double cpu2 = bench::threadCpuMs();
        double t = microseconds([&] { answer = client.call(call); });
        const double cpu3 = bench::threadCpuMs();
        const double server1 = bench::processCpuMs(server.pid());
        if (answer.kind != protocol::CallResult::Kind::Packet) {
            std::fprintf(stderr, "server error: %s\n", answer.text.c_str());
            return 1;
        }
        check(answer.packet.rowCount(), "rqc-appserver");
        double l = microseconds([&] { cdsSolicitacao.SetData(answer.packet); });
        check(static_cast<std::size_t>(cdsSolicitacao.RecordCount()), "TClientDataSet");
        if (i < 2)
            continue;
        load.push_back(l);
        floorCpu += cpu1 - cpu0;
        clientCpu += cpu3 - cpu2;
        serverCpu += server1 - server0;
        floor.push_back(f);
        ordered.push_back(o);
        query.push_back(q);
        encode.push_back(e);
        decode.push_back(d);
        endToEnd.push_back(t);
    }
    sqlite3_close(raw);
    server.terminate();
    floorCpu /= repeat;
    clientCpu /= repeat;
    serverCpu /= repeat;

    std::printf("GetSolicitacao, %d requests in range (of %d), SQLite, median of %d runs\n",
                requests, requests + requests / 4, repeat);
    auto line = [](const char* what, const std::vector<double>& us) {
        const auto s = bench::spread(us);
        std::printf("%-46s %9.1f ms  (min %.1f)\n", what, ms(s.median), ms(s.min));
    };
    line("floor: sqlite3 C API, same query and pragmas", floor);
    line("  the same rows ordered by the database", ordered);
    line("in-process: query + packet (suitedb Cursor)", query);
    line("in-process: encode result", encode);
    line("in-process: decode result", decode);
    line("end to end: server + wire + client decode", endToEnd);
    line("client: load into TClientDataSet", load);
    std::vector<double> total(endToEnd.size());
    for (std::size_t k = 0; k < total.size(); ++k)
        total[k] = endToEnd[k] + load[k];
    line("end to end including the client data set", total);
    std::printf("%-46s %9.2fx\n", "end to end / floor",
                bench::spread(endToEnd).median / bench::spread(floor).median);
    std::printf("%-46s %9.2fx\n", "end to end with the data set / floor",
                bench::spread(total).median / bench::spread(floor).median);
    std::printf("CPU time per call (robust when the machine is busy):\n");
    std::printf("%-46s %9.1f ms\n", "floor: sqlite3 C API", floorCpu);
    std::printf("%-46s %9.1f ms\n", "end to end: server process", serverCpu);
    std::printf("%-46s %9.1f ms\n", "end to end: client (call + decode)", clientCpu);
    std::printf("%-46s %9.2fx\n", "end to end CPU / floor CPU", (serverCpu + clientCpu) / floorCpu);
    std::filesystem::remove_all(dir);
    return 0;
}
