// Time from the host's IniProc call to the screen painted, on the demo database with a real
// rqc-appserver (the screen connects to it while opening). Each iteration opens a fresh
// screen; closing it is not timed.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <filesystem>
#include <memory>

#include "module/module.h"
#include "screen/frm_consolida_solicita.h"
#include "screen_fixture.h"

namespace {

// Notes when the screen's form has been painted.
class PaintProbe : public QObject {
  public:
    bool painted = false;

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Paint && watched == frmConsolidaSolicita)
            painted = true;
        return false;
    }
};

void BM_OpenScreen(benchmark::State& state) {
    rqc04100::test::application();
    rqc04100::test::DemoSuite suite;
    rqc04100::test::HostWindow host(suite.config("0002"));
    PaintProbe probe;
    qApp->installEventFilter(&probe);

    for (auto _ : state) {
        probe.painted = false;
        IniProc();
        for (int i = 0; i < 1000 && !probe.painted; ++i)
            QCoreApplication::processEvents();
        if (!probe.painted) {
            state.SkipWithError("the screen was never painted");
            break;
        }
        state.PauseTiming();
        frmConsolidaSolicita->Close();
        rqc04100::test::settle();
        state.ResumeTiming();
    }
    qApp->removeEventFilter(&probe);
}

BENCHMARK(BM_OpenScreen)->Unit(benchmark::kMillisecond)->Iterations(30);

}  // namespace

int main(int argc, char** argv) {
    // The server binary lives beside this program's build: <build>/bench -> <build>/bin.
    if (std::getenv("RQC_BIN_DIR") == nullptr) {
        const auto bin =
            std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "bin";
        setenv("RQC_BIN_DIR", bin.c_str(), 1);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
