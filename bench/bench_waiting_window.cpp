// The waiting window during a held-back server call, on the demo database with a real
// rqc-appserver: GetConsSoli waits on the database's write lock, which the benchmark holds
// with its own connection. "painted_ms" is the time from the waiting window being asked for to
// its first paint; "screen_fps" the frames the screen paints per second while the call runs,
// its repaints being asked for every 10 ms (as exposes and moves would).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QTimer>

#include "bench_support.h"
#include "module/module.h"
#include "screen/frm_consolida_solicita.h"
#include "suitedb/connection.h"
#include "suitedb/demo_data.h"
#include "support/qt_fixture.h"
#include "vlm/net_connection.h"

namespace {

// Scripted dialogs that also show the real waiting window and time its first paint.
class TimedWaiting : public vlm::ScriptedDialogs {
  public:
    explicit TimedWaiting(QString callText) : m_text(std::move(callText)) {
        m_probe.clock = &m_clock;
        qApp->installEventFilter(&m_probe);
    }
    ~TimedWaiting() override { qApp->removeEventFilter(&m_probe); }

    void showWaiting(QWidget* owner, int kind, const QString& text) override {
        const bool call = text == m_text;
        if (call) {
            m_probe.painted = false;
            m_clock.start();
        }
        ScriptedDialogs::showWaiting(owner, kind, text);
        vlm::standardDialogs().showWaiting(owner, kind, text);
        inCall = call;
    }
    void hideWaiting() override {
        inCall = false;
        ScriptedDialogs::hideWaiting();
        vlm::standardDialogs().hideWaiting();
    }
    // Milliseconds from the last call's waiting window being asked for to its first paint;
    // negative when it was never painted.
    double paintedMs() const { return m_probe.painted ? m_probe.atMs : -1; }

    bool inCall = false;

  private:
    struct Probe : QObject {
        bool painted = false;
        double atMs = 0;
        const QElapsedTimer* clock = nullptr;
        bool eventFilter(QObject* o, QEvent* e) override {
            auto* w = qobject_cast<QWidget*>(o);
            if (!painted && e->type() == QEvent::Paint && w != nullptr &&
                w->window()->objectName() == "vlmWaiting") {
                painted = true;
                atMs = clock->nsecsElapsed() / 1e6;
            }
            return false;
        }
    };
    QString m_text;
    QElapsedTimer m_clock;
    Probe m_probe;
};

// Counts the paints of the screen (form and children) while the call runs.
struct ScreenPaints : QObject {
    ScreenPaints(QWidget* form, const bool& when) : form(form), when(when) {
        qApp->installEventFilter(this);
    }
    ~ScreenPaints() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject* o, QEvent* e) override {
        if (when && e->type() == QEvent::Paint && o == form)
            ++frames;
        return false;
    }
    QWidget* form;
    const bool& when;
    int frames = 0;
};

// One consolidation press with the write lock held for `holdMs`; false when it did not end
// with one report.
bool heldRun(rqc::test::DemoSuite& suite, TfrmConsolidaSolicita* form, TimedWaiting& dialogs,
             int holdMs) {
    dialogs.clear();
    auto lock = rqc::suitedb::Connection::open(suite.dbPath());
    lock->exec("BEGIN IMMEDIATE");
    QTimer release;
    release.setSingleShot(true);
    QObject::connect(&release, &QTimer::timeout, [&] { lock->exec("COMMIT"); });
    release.start(holdMs);
    form->sbtConfirma->click();
    if (release.isActive()) {
        release.stop();
        lock->exec("COMMIT");
    }
    return dialogs.texts(vlm::ShownDialog::Message).size() == 1 &&
           dialogs.texts(vlm::ShownDialog::Error).isEmpty();
}

struct Screen {
    Screen() : host(suite.config("0002")) {
        IniProc();
        rqc::test::settle();
        form = frmConsolidaSolicita;
        if (form == nullptr)
            return;
        const QDate today = QDate::currentDate();
        form->depDataIni->SetDate(vlm::toDateTime(today.addDays(-30)));
        form->depDataFin->SetDate(vlm::toDateTime(today.addDays(30)));
        form->medCdProdIni->SetText(QStringLiteral("01"));
        form->medCdProdfin->SetText(QStringLiteral("10"));
    }
    rqc::test::DemoSuite suite;
    rqc::test::HostWindow host;
    TfrmConsolidaSolicita* form = nullptr;
};

void BM_CallStartToWaitingWindowPainted(benchmark::State& state) {
    rqc::test::application();
    Screen s;
    if (s.form == nullptr) {
        state.SkipWithError("the screen did not open");
        return;
    }
    TimedWaiting dialogs(s.form->msgPadrao->Msg(QStringLiteral("Consoli_Dad")));
    vlm::ScopedDialogs scoped(dialogs);
    double sum = 0;
    double worst = 0;
    int runs = 0;
    for (auto _ : state) {
        if (!heldRun(s.suite, s.form, dialogs, 300) || dialogs.paintedMs() < 0) {
            state.SkipWithError("the run failed or its waiting window was never painted");
            break;
        }
        sum += dialogs.paintedMs();
        worst = std::max(worst, dialogs.paintedMs());
        ++runs;
    }
    if (runs > 0) {
        state.counters["painted_ms"] = sum / runs;
        state.counters["worst_ms"] = worst;
    }
}

void BM_ScreenFramesDuringAFiveSecondCall(benchmark::State& state) {
    rqc::test::application();
    Screen s;
    if (s.form == nullptr) {
        state.SkipWithError("the screen did not open");
        return;
    }
    TimedWaiting dialogs(s.form->msgPadrao->Msg(QStringLiteral("Consoli_Dad")));
    vlm::ScopedDialogs scoped(dialogs);
    ScreenPaints paints(s.form, dialogs.inCall);
    QTimer expose;
    QObject::connect(&expose, &QTimer::timeout, [&] { s.form->update(); });
    expose.start(10);
    // RQC_BENCH_SHOTS=DIR: pictures of the whole screen 1 s and 4 s into the call.
    const QString shots = qEnvironmentVariable("RQC_BENCH_SHOTS");
    for (int at : {1000, 4000}) {
        if (shots.isEmpty())
            break;
        QTimer::singleShot(at, [shots, at] {
            QGuiApplication::primaryScreen()->grabWindow(0).save(
                QStringLiteral("%1/waiting-%2ms.png").arg(shots).arg(at));
        });
    }
    QElapsedTimer clock;
    for (auto _ : state) {
        paints.frames = 0;
        clock.start();
        if (!heldRun(s.suite, s.form, dialogs, 5000)) {
            state.SkipWithError("the run did not end with one report");
            break;
        }
        const double seconds = clock.nsecsElapsed() / 1e9;
        state.counters["call_s"] = seconds;
        state.counters["screen_fps"] = paints.frames / seconds;
    }
}

BENCHMARK(BM_CallStartToWaitingWindowPainted)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_ScreenFramesDuringAFiveSecondCall)->Unit(benchmark::kMillisecond)->Iterations(1);

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
