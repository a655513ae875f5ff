// Time from pressing the screen's confirm button to its result dialog, on the demo database
// with a real rqc-appserver. The server's own time for GetConsSoli is read from its log line
// of each call; "screen_ms" is what the screen adds around it (its checks, the GetParaCmpSup
// round trip of the branch check, the panel, the call's transport and the report).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <chrono>
#include <regex>
#include <string>
#include <thread>

#include "bench_support.h"
#include "module/module.h"
#include "screen/frm_consolida_solicita.h"
#include "suitedb/demo_data.h"
#include "support/qt_fixture.h"
#include "vlm/net_connection.h"

namespace {

// Sum and count of the server's GetConsSoli times in its log, whose call lines read
// "... method=GetConsSoli[ number=N] 812.004 ms ok".
std::pair<double, int> serverConsolidationMs(const std::string& log) {
    static const std::regex line("method=GetConsSoli(?: number=[0-9]+)? ([0-9.]+) ms ok");
    double sum = 0;
    int count = 0;
    for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) {
        sum += std::stod((*it)[1].str());
        ++count;
    }
    return {sum, count};
}

void BM_ConfirmToReport(benchmark::State& state) {
    rqc::test::application();
    rqc::test::DemoSuite suite;
    rqc::test::HostWindow host(suite.config("0002"));
    IniProc();
    rqc::test::settle();
    TfrmConsolidaSolicita* form = frmConsolidaSolicita;
    if (form == nullptr) {
        state.SkipWithError("the screen did not open");
        return;
    }
    const QDate today = QDate::currentDate();
    form->depDataIni->SetDate(vlm::toDateTime(today.addDays(-30)));
    form->depDataFin->SetDate(vlm::toDateTime(today.addDays(30)));
    form->medCdProdIni->SetText(QStringLiteral("01"));
    form->medCdProdfin->SetText(QStringLiteral("10"));
    const auto [serverBefore, callsBefore] = serverConsolidationMs(suite.server().log());

    using Clock = std::chrono::steady_clock;
    Clock::duration total{};
    int runs = 0;
    for (auto _ : state) {
        host.dialogs().clear();
        const auto start = Clock::now();
        form->sbtConfirma->click();
        total += Clock::now() - start;
        ++runs;
        const QStringList reports = host.dialogs().texts(vlm::ShownDialog::Message);
        const QStringList errors = host.dialogs().texts(vlm::ShownDialog::Error);
        if (reports.size() != 1 || !errors.isEmpty()) {
            const std::string shown = (reports + errors).join(" | ").toStdString();
            state.SkipWithError(
                ("run " + std::to_string(runs) + " did not end with one report dialog: " + shown)
                    .c_str());
            break;
        }
    }
    if (runs == 0)
        return;
    // The server flushes its call lines within a second of the call; wait up to two.
    double serverMs = 0;
    int logged = 0;
    for (int attempt = 0; attempt < 100 && logged < runs; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const auto [sum, calls] = serverConsolidationMs(suite.server().log());
        serverMs = sum - serverBefore;
        logged = calls - callsBefore;
    }
    if (logged != runs) {
        state.SkipWithError("the server's log does not hold one GetConsSoli line per run");
        return;
    }
    const double totalMs = std::chrono::duration<double, std::milli>(total).count() / runs;
    state.counters["total_ms"] = totalMs;
    state.counters["server_ms"] = serverMs / runs;
    state.counters["screen_ms"] = totalMs - serverMs / runs;
}

BENCHMARK(BM_ConfirmToReport)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
    rqc::bench::useBuiltPrograms();
    // The screen's connections log in as the host's operator would.
    TNetConnection::SetSessionLogin(QString::fromLatin1(rqc::suitedb::kDemoOperator),
                                    QString::fromLatin1(rqc::suitedb::kDemoPassword));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
