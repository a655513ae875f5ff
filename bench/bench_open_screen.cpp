// Time from the host's IniProc call to the screen painted, on the demo database with a real
// rqc-appserver (the screen connects to it while opening). Each iteration opens a fresh
// screen; closing it is not timed.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <memory>

#include "bench_support.h"
#include "module/module.h"
#include "screen/frm_consolida_solicita.h"
#include "suitedb/demo_data.h"
#include "support/qt_fixture.h"
#include "vlm/net_connection.h"

namespace {

// Notes when the screen has been painted: its form or any control on it (the controls may
// cover the whole form, which then gets no paint event of its own).
class PaintProbe : public QObject {
  public:
    bool painted = false;

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() != QEvent::Paint || frmConsolidaSolicita == nullptr ||
            !watched->isWidgetType())
            return false;
        auto* w = static_cast<QWidget*>(watched);
        if (w == frmConsolidaSolicita || frmConsolidaSolicita->isAncestorOf(w))
            painted = true;
        return false;
    }
};

void BM_OpenScreen(benchmark::State& state) {
    rqc::test::application();
    rqc::test::DemoSuite suite;
    rqc::test::HostWindow host(suite.config("0002"));
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
        rqc::test::settle();
        state.ResumeTiming();
    }
    qApp->removeEventFilter(&probe);
}

BENCHMARK(BM_OpenScreen)->Unit(benchmark::kMillisecond)->Iterations(30);

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
