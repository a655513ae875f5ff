// The consolidation run: the 19 arguments of GetConsSoli as a recording peer receives them,
// the write-back of by-reference fields, failures of the call, the re-entry guard, and whole
// runs against the real rqc-appserver on the demo database.

#include <gtest/gtest.h>

#include <QLabel>
#include <QLocale>
#include <QMetaObject>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <functional>
#include <optional>

#include "demo_suite_fixture.h"
#include "filter_state.h"
#include "screen/preview_window.h"
#include "screen_driver.h"
#include "suitedb/connection.h"
#include "support/recording_peer.h"

using namespace rqc04100::test;
namespace proto = rqc::protocol;

namespace {

constexpr int kArgs = 19;

proto::CallResult purchaseParameters() {
    proto::CallResult r;
    r.kind = proto::CallResult::Kind::Packet;
    r.packet.fields = {{"IDUTPRODPREF", proto::FieldType::Text, 1, "PARCMPSUP.IDUTPRODPREF"}};
    r.packet.addRow({std::string("S")});
    return r;
}

proto::CallResult twoRequests() {
    proto::CallResult r;
    r.kind = proto::CallResult::Kind::Packet;
    for (const char* f : {"IDMARCADO", "CHAVE", "CDFILSOLI", "CDFILLANCA", "NRSOLICMP"})
        r.packet.fields.push_back({f, proto::FieldType::Text, 18, ""});
    r.packet.addRow({"N", "000200020000000001", "0002", "0002", "0000000001"});
    r.packet.addRow({"N", "000300010000000007", "0003", "0001", "0000000007"});
    return r;
}

// A peer in place of the application server: purchase parameters for every branch, two
// requests, and `consolidation` for GetConsSoli.
class PeerScreen : public rqc04100::test::DemoSuiteFixture {
  protected:
    void SetUp() override {
        consolidation.kind = proto::CallResult::Kind::Text;
        consolidation.text = "0000000042";
        lookup = twoRequests();
        peer.setScript([this](const proto::CallRequest& call) {
            if (call.descriptor.method == "GetParaCmpSup")
                return rqc::test::RecordingPeer::Reply::answer(purchaseParameters());
            if (call.descriptor.method == "GetSolicitacao")
                return rqc::test::RecordingPeer::Reply::answer(lookup);
            return rqc::test::RecordingPeer::Reply::answer(consolidation);
        });
        vlm::HostConfig config = suite->config("0002");
        config.serverPort = peer.port();
        screen.emplace(config);
        ASSERT_NE(screen->form, nullptr);
        form = screen->form;
        fillValidFilter(*form);
    }
    void TearDown() override { screen.reset(); }

    std::vector<proto::CallRequest> callsOf(const std::string& method) const {
        std::vector<proto::CallRequest> out;
        for (const proto::CallRequest& c : peer.calls()) {
            if (c.descriptor.method == method)
                out.push_back(c);
        }
        return out;
    }
    // The arguments of the one GetConsSoli received.
    std::vector<proto::Argument> runArgs() {
        pressConfirm(*form);
        const auto calls = callsOf("GetConsSoli");
        EXPECT_EQ(calls.size(), 1u) << screen->errors().join(" | ").toStdString();
        if (calls.size() != 1 || calls[0].args.size() != kArgs)
            return std::vector<proto::Argument>(kArgs);
        return calls[0].args;
    }

    rqc::test::RecordingPeer peer;
    proto::CallResult consolidation;
    proto::CallResult lookup;
    std::optional<OpenScreen> screen;
    TfrmConsolidaSolicita* form = nullptr;
};

TEST_F(PeerScreen, SendsNineteenArgumentsOfTheFixedKinds) {
    const auto args = runArgs();
    const auto calls = callsOf("GetConsSoli");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].object, "Rqc04100.rdmConsolidaSolicita");
    const std::vector<std::uint8_t> codes = {0x48, 0xC8, 0xC8, 0xC8, 0x48, 0x48, 0x48,
                                             0x07, 0x07, 0xC8, 0xC8, 0xC8, 0x07, 0xC8,
                                             0xC8, 0xC8, 0xC8, 0xC8, 0xC8};
    EXPECT_EQ(calls[0].descriptor.typeCodes, codes);
    EXPECT_EQ(args[0].text, "0002");
    EXPECT_EQ(args[2].text, "0001") << "central purchasing branch";
    EXPECT_EQ(args[5].text, "01") << "the first code is never filled up";
    EXPECT_EQ(args[7].date, dayOffset(-30));
    EXPECT_EQ(args[8].date, dayOffset(30));
    EXPECT_EQ(screen->messages(), QStringList{form->msgPadrao->Msg("NUM_GERADO") + "0000000042."});
}

TEST_F(PeerScreen, LastProductCodeIsFilledWithZUpToTwentyCharacters) {
    struct Case {
        const char* typed;
        bool picture;  // false: the edit without the product-code picture
        const char* sent;
    };
    const Case cases[] = {
        {"01", true, "01ZZZZZZZZZZZZZZZZZZ"},
        {"01.0", true, "01.0ZZZZZZZZZZZZZZZZ"},
        {"01.01.001.0001", true, "01.01.001.0001ZZZZZZ"},
        {"ABCDEFGHIJKLMNOPQRST", false, "ABCDEFGHIJKLMNOPQRST"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        if (!c.picture)
            form->medCdProdfin->SetEditMask("");
        form->medCdProdfin->SetText(c.typed);
        const std::size_t before = callsOf("GetConsSoli").size();
        pressConfirm(*form);
        const auto calls = callsOf("GetConsSoli");
        ASSERT_EQ(calls.size(), before + 1);
        EXPECT_EQ(calls.back().args[6].text, c.sent);
        EXPECT_EQ(calls.back().args[6].text.size(), 20u);
    }
}

TEST_F(PeerScreen, OptionLettersFollowTheirControls) {
    struct Case {
        const char* what;
        std::function<void(TfrmConsolidaSolicita&)> set;
        // index (0-based) and expected text of the arguments checked
        std::vector<std::pair<int, std::string>> expect;
    };
    const Case cases[] = {
        {"defaults",
         [](auto&) {},
         {{9, "N"},
          {10, "T"},
          {11, "N"},
          {13, "T"},
          {14, ""},
          {17, "N"},
          {18, "N"},
          {1, ""},
          {3, ""}}},
        {"not-consolidated requests", [](auto& f) { f.rdgConsSoli->SetItemIndex(1); }, {{10, "N"}}},
        {"every yes/no ticked",
         [](auto& f) {
             f.chbProdOrig->SetChecked(true);
             f.chkSolicitacao->SetChecked(true);
             f.chkAF->SetChecked(true);
             f.chbLimiteSeg->SetChecked(true);
         },
         {{11, "S"}, {15, "S"}, {16, "S"}, {17, "S"}}},
        {"every yes/no cleared",
         [](auto& f) {
             f.chkSolicitacao->SetChecked(false);
             f.chkAF->SetChecked(false);
         },
         {{15, "N"}, {16, "N"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.set(*form);
        const std::size_t before = callsOf("GetConsSoli").size();
        pressConfirm(*form);
        const auto calls = callsOf("GetConsSoli");
        ASSERT_EQ(calls.size(), before + 1);
        for (const auto& [index, text] : c.expect)
            EXPECT_EQ(calls.back().args[index].text, text) << "argument " << index + 1;
    }
}

TEST_F(PeerScreen, UncheckedStockStillSendsTheStockBranchAndItsDate) {
    const auto args = runArgs();
    EXPECT_EQ(args[4].text, "0002");
    EXPECT_EQ(args[9].text, "N");
    EXPECT_EQ(args[12].date, dayOffset(0));

    form->chbConsEsto->SetChecked(true);
    form->medCdFilEst->SetText("0003");  // processed one day behind
    pressConfirm(*form);
    const auto calls = callsOf("GetConsSoli");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls.back().args[4].text, "0003");
    EXPECT_EQ(calls.back().args[9].text, "S");
    EXPECT_EQ(calls.back().args[12].date, dayOffset(-1));
}

TEST_F(PeerScreen, PickedRequestListIsSentWithAnEmptyAllFlag) {
    form->rbtListaSolicit->SetChecked(true);
    screen->host->dialogs().queueListPick(std::vector<int>{1});
    form->sbtSolicitacao->click();
    const auto lookups = callsOf("GetSolicitacao");
    ASSERT_EQ(lookups.size(), 1u);
    EXPECT_EQ(lookups[0].args[2].text, "");
    EXPECT_EQ(lookups[0].args[3].text, "T") << "Todas at the start sends T";
    EXPECT_EQ(filterState(*form).stListaSolicit, "000300010000000007");

    const auto args = runArgs();
    EXPECT_EQ(args[13].text, "");
    EXPECT_EQ(args[14].text, "000300010000000007");
}

TEST_F(PeerScreen, FailedRequestLookupClosesTheAnimationAndKeepsTheList) {
    form->rbtListaSolicit->SetChecked(true);
    screen->host->dialogs().queueListPick(std::vector<int>{0});
    form->sbtSolicitacao->click();
    ASSERT_EQ(filterState(*form).stListaSolicit, "000200020000000001");

    lookup = proto::CallResult::error("requests unavailable");
    screen->host->dialogs().clear();
    form->sbtSolicitacao->click();
    EXPECT_FALSE(screen->host->dialogs().waitingVisible());
    ASSERT_EQ(screen->errors().size(), 1);
    EXPECT_TRUE(screen->errors().front().contains("requests unavailable"));
    EXPECT_TRUE(screen->host->dialogs().texts(vlm::ShownDialog::PickList).isEmpty());
    EXPECT_EQ(filterState(*form).stListaSolicit, "000200020000000001");
}

TEST_F(PeerScreen, PickedBranchAndBuyerListsAreSentAsPicked) {
    form->rbtListaFili->SetChecked(true);
    screen->host->dialogs().queueListPick(std::vector<int>{1, 2});
    form->sbtFilial->click();
    form->rbtListaComp->SetChecked(true);
    screen->host->dialogs().queueListPick(std::vector<int>{0});
    form->sbtComprador->click();
    const auto args = runArgs();
    EXPECT_EQ(args[3].text, "0002,0003");
    EXPECT_EQ(args[1].text, "COMP001");
}

TEST_F(PeerScreen, ByReferenceFieldsHoldWhatTheServerWroteBack) {
    consolidation.byRef = {{1, "COMP009"}, {2, "0011"}, {3, "0005"}, {14, "K"}, {9, "X"}};
    runArgs();
    const rqc04100::test::FilterState state = filterState(*form);
    EXPECT_EQ(state.stListaComp, "COMP009");
    EXPECT_EQ(state.stCdFilCentCmp, "0011");
    EXPECT_EQ(state.stListaFili, "0005");
    EXPECT_EQ(state.stListaSolicit, "K");
    EXPECT_FALSE(form->chbConsEsto->Checked()) << "an option letter is the run's own";
}

TEST_F(PeerScreen, BlankResultReportsNothingToConsolidate) {
    consolidation.text = "   ";
    runArgs();
    ASSERT_EQ(screen->host->dialogs().shown.empty(), false);
    EXPECT_EQ(screen->messages(), QStringList{form->msgPadrao->Msg("NAO_GERADO")});
    const vlm::ShownDialog& last = screen->host->dialogs().shown.back();
    EXPECT_EQ(last.type, mtConfirmation);
    EXPECT_EQ(last.buttons.mask, 4u);
    EXPECT_EQ(last.helpContext, 0);
}

TEST_F(PeerScreen, FailedCallClosesTheWaitingAnimation) {
    consolidation = proto::CallResult::error("consolidation refused by the server");
    screen->host->dialogs().clear();
    runArgs();
    EXPECT_FALSE(screen->host->dialogs().waitingVisible());
    EXPECT_EQ(screen->host->dialogs().texts(vlm::ShownDialog::WaitingShown).last(),
              form->msgPadrao->Msg("Consoli_Dad"));
    ASSERT_EQ(screen->errors().size(), 1);
    EXPECT_TRUE(screen->errors().front().contains("consolidation refused by the server"));
    EXPECT_TRUE(screen->messages().isEmpty());
    EXPECT_FALSE(form->PanCalculando->isVisible());
    EXPECT_FALSE(form->consolidationRunning());
}

TEST_F(PeerScreen, SecondPressDuringARunStartsNoSecondRun) {
    // The message loop dispatches the queued press inside the run, while the working panel is
    // painted or the result is shown.
    QMetaObject::invokeMethod(form->sbtConfirma, "click", Qt::QueuedConnection);
    form->sbtConfirma->click();
    EXPECT_EQ(callsOf("GetConsSoli").size(), 1u);
    EXPECT_EQ(screen->messages().size(), 1);
    settle();
    EXPECT_EQ(callsOf("GetConsSoli").size(), 1u);
    pressConfirm(*form);
    EXPECT_EQ(callsOf("GetConsSoli").size(), 2u) << "the guard is released after a run";
}

// Whole runs against the real server and the demo database.
class RealRun : public ::testing::Test {
  protected:
    void SetUp() override {
        application();
        suite = std::make_unique<DemoSuite>();
        screen.emplace(suite->config("0002"));
        ASSERT_NE(screen->form, nullptr);
        form = screen->form;
        fillValidFilter(*form);
        form->rdgConsSoli->SetItemIndex(1);
    }
    void TearDown() override {
        screen.reset();
        suite.reset();
    }
    QString lastNumber() const {
        const QString prefix = form->msgPadrao->Msg("NUM_GERADO");
        const QStringList m = screen->messages();
        if (m.isEmpty() || !m.last().startsWith(prefix) || !m.last().endsWith('.'))
            return QString();
        return m.last().mid(prefix.size(), m.last().size() - prefix.size() - 1);
    }
    QSet<QString> linesOf(const QString& sql, const QString& bind) const {
        QSqlQuery q(screen->host->database().Database());
        q.prepare(sql);
        q.addBindValue(bind);
        QSet<QString> out;
        if (!q.exec())
            return {QStringLiteral("query failed")};
        while (q.next()) {
            out.insert(q.value(0).toString() + "/" + q.value(1).toString() + "/" +
                       q.value(2).toString() + "/" + q.value(3).toString());
        }
        return out;
    }

    std::unique_ptr<DemoSuite> suite;
    std::optional<OpenScreen> screen;
    TfrmConsolidaSolicita* form = nullptr;
};

TEST_F(RealRun, RunReportsItsNumberAndARepeatFindsNothing) {
    pressConfirm(*form);
    ASSERT_TRUE(screen->errors().isEmpty()) << screen->errors().join(" | ").toStdString();
    const QString number = lastNumber();
    ASSERT_FALSE(number.isEmpty()) << screen->messages().join(" | ").toStdString();
    QSqlQuery q(screen->host->database().Database());
    q.prepare("SELECT CDFILIAL, CDFILCENTCMP, IDCONSSOLI FROM CONSSOLI WHERE NRCONSSOLI = ?");
    q.addBindValue(number);
    ASSERT_TRUE(q.exec());
    ASSERT_TRUE(q.next()) << "the database holds consolidation " << number.toStdString();
    EXPECT_EQ(q.value(0).toString(), "0002");
    EXPECT_EQ(q.value(1).toString(), "0001");
    EXPECT_EQ(q.value(2).toString(), "N");

    pressConfirm(*form);
    EXPECT_EQ(screen->messages().last(), form->msgPadrao->Msg("NAO_GERADO"));
    EXPECT_TRUE(screen->errors().isEmpty());
}

TEST_F(RealRun, TwoPickedRequestsConsolidateExactlyTheirLines) {
    form->rbtListaSolicit->SetChecked(true);
    screen->host->dialogs().queueListPick(std::vector<int>{0, 1});
    form->sbtSolicitacao->click();
    ASSERT_TRUE(screen->errors().isEmpty()) << screen->errors().join(" | ").toStdString();
    ASSERT_GE(form->cdsSolicitacao->RecordCount(), 2);
    QStringList keys;
    for (int row : {0, 1}) {
        form->cdsSolicitacao->MoveTo(row);
        keys << form->cdsSolicitacaoCDFILSOLI->AsString() + "|" +
                    form->cdsSolicitacaoCDFILLANCA->AsString() + "|" +
                    form->cdsSolicitacaoNRSOLICMP->AsString();
    }
    pressConfirm(*form);
    const QString number = lastNumber();
    ASSERT_FALSE(number.isEmpty()) << screen->messages().join(" | ").toStdString();

    QSet<QString> expected;
    for (const QString& key : keys) {
        expected += linesOf(
            "SELECT CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM FROM ITSOLICMP "
            "WHERE CDFILSOLI || '|' || CDFILLANCA || '|' || NRSOLICMP = ?",
            key);
    }
    ASSERT_FALSE(expected.isEmpty());
    EXPECT_EQ(linesOf("SELECT CDFILSOLI, CDFILLANCA, NRSOLICMP, NRITEM FROM ITCONSSOLIORIG "
                      "WHERE NRCONSSOLI = ?",
                      number),
              expected);
}

// Records every dialog as ScriptedDialogs does and shows the real waiting window too; notes
// what the screen shows while the consolidation call is under way.
class LiveWaiting : public vlm::ScriptedDialogs {
  public:
    LiveWaiting(QWidget* screen, QString callText)
        : m_screen(screen), m_text(std::move(callText)) {}

    void showWaiting(QWidget* owner, int kind, const QString& text) override {
        ScriptedDialogs::showWaiting(owner, kind, text);
        vlm::standardDialogs().showWaiting(owner, kind, text);
        if (text != m_text)
            return;
        inCall = true;
        QTimer::singleShot(100, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w->objectName() == "vlmWaiting" && w->isVisible())
                    textAt100ms = w->findChild<QLabel*>("text")->text();
            }
            m_screen->update();
        });
    }
    void hideWaiting() override {
        inCall = false;
        ScriptedDialogs::hideWaiting();
        vlm::standardDialogs().hideWaiting();
    }

    bool inCall = false;
    QString textAt100ms;

  private:
    QWidget* m_screen;
    QString m_text;
};

// Counts the paint events of a window and its children while a flag is set.
class ScreenPaints : public QObject {
  public:
    ScreenPaints(QWidget* window, const bool& when) : m_window(window), m_when(when) {
        qApp->installEventFilter(this);
    }
    ~ScreenPaints() override { qApp->removeEventFilter(this); }
    int count = 0;
    bool eventFilter(QObject* o, QEvent* e) override {
        auto* w = qobject_cast<QWidget*>(o);
        if (m_when && e->type() == QEvent::Paint && w != nullptr &&
            (w == m_window || m_window->isAncestorOf(w)))
            ++count;
        return false;
    }

  private:
    QWidget* m_window;
    const bool& m_when;
};

TEST_F(RealRun, TheWaitingWindowLivesWhileTheServerHoldsTheCall) {
    LiveWaiting live(form, form->msgPadrao->Msg("Consoli_Dad"));
    vlm::ScopedDialogs scoped(live);
    ScreenPaints paints(form, live.inCall);
    int pressesDuringCall = 0;
    QObject::connect(form->sbtConfirma, &QAbstractButton::pressed,
                     [&] { pressesDuringCall += live.inCall ? 1 : 0; });
    // GetConsSoli waits on the database's write lock that this connection holds.
    auto lock = rqc::suitedb::Connection::open(suite->dbPath());
    lock->exec("BEGIN IMMEDIATE");
    QTimer click;
    click.setInterval(300);
    QObject::connect(&click, &QTimer::timeout, [&] {
        if (live.inCall) {
            QTest::mouseClick(form->sbtConfirma, Qt::LeftButton);
            lock->exec("COMMIT");
            click.stop();
        }
    });
    click.start();
    pressConfirm(*form);

    EXPECT_EQ(live.textAt100ms, form->msgPadrao->Msg("Consoli_Dad"));
    EXPECT_GT(paints.count, 0) << "the screen repaints during the call";
    EXPECT_EQ(pressesDuringCall, 0) << "a click during the call reaches nothing";
    ASSERT_TRUE(live.texts(vlm::ShownDialog::Error).isEmpty())
        << live.texts(vlm::ShownDialog::Error).join(" | ").toStdString();
    const QStringList messages = live.texts(vlm::ShownDialog::Message);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(form->msgPadrao->Msg("NUM_GERADO")))
        << messages[0].toStdString();
    // One call reached the server (its log line is written as the answer goes out).
    std::string log;
    for (int attempt = 0; attempt < 100 && log.find("method=GetConsSoli") == std::string::npos;
         ++attempt) {
        QTest::qWait(20);
        log = suite->server().log();
    }
    const auto first = log.find("method=GetConsSoli");
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find("method=GetConsSoli", first + 1), std::string::npos) << log;
}

}  // namespace

// The preview window as the user sees it when it opens, answered with one of its buttons.
struct SeenPreview {
    bool shown = false;
    QStringList products;      // CDPRODUTO column
    QStringList consolidated;  // "= Consolidada" column as shown
    QString totals;
    QString before;
    bool canConsolidate = false;
    bool tabLeavesGrid = false;
    vlm::ReportTable report;
};

SeenPreview pressPreview(TfrmConsolidaSolicita& form, bool consolidate) {
    SeenPreview seen;
    QTimer poll;
    poll.setInterval(20);
    int ticks = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* w = qobject_cast<TfrmPreviaConsolida*>(QApplication::activeModalWidget());
        if (w == nullptr) {
            if (++ticks > 500)
                poll.stop();
            return;
        }
        poll.stop();
        seen.shown = true;
        for (int r = 0; r < w->grdPrevia->rowCount(); ++r) {
            seen.products << w->grdPrevia->item(r, 0)->text();
            seen.consolidated << w->grdPrevia->item(r, 9)->text();
        }
        seen.totals = w->lblTotais->text();
        seen.before = w->lblJaConsolidadas->text();
        seen.canConsolidate = w->btnConsolidar->isEnabled();
        w->grdPrevia->setFocus();
        QTest::keyClick(w->grdPrevia, Qt::Key_Tab);
        seen.tabLeavesGrid = QApplication::focusWidget() != w->grdPrevia;
        seen.report = w->Relatorio();
        (consolidate ? w->btnConsolidar : w->btnFechar)->click();
    });
    poll.start();
    form.sbtSimula->click();
    settle();
    return seen;
}

TEST_F(RealRun, PreviewShowsWhatTheRunWritesAndItsConsolidarRunsIt) {
    const auto snapshot = [this] {
        return linesOf(
            "SELECT 'CONSSOLI', COUNT(*), '', '' FROM CONSSOLI WHERE ? = 'x' "
            "UNION ALL SELECT 'ITCONSSOLI', COUNT(*), '', '' FROM ITCONSSOLI "
            "UNION ALL SELECT 'MARKS', COUNT(NRCONSSOLI), MAX(NRCONSSOLI), '' "
            "FROM ITSOLICMP",
            "x");
    };
    const auto before = snapshot();
    const SeenPreview first = pressPreview(*form, false);
    ASSERT_TRUE(first.shown) << screen->errors().join(" | ").toStdString();
    ASSERT_FALSE(first.products.isEmpty());
    EXPECT_TRUE(first.canConsolidate);
    EXPECT_TRUE(first.tabLeavesGrid);
    // The report has the rows as the grid shows them, the quantity under its own column.
    ASSERT_EQ(first.report.rows.size(), first.products.size());
    for (int r = 0; r < first.products.size(); ++r) {
        EXPECT_EQ(first.report.rows[r][0], first.products[r]);
        EXPECT_EQ(vlm::displayText(first.report.columns[9].kind, first.report.rows[r][9]),
                  first.consolidated[r]);
    }
    EXPECT_TRUE(first.before.contains("Linhas já consolidadas antes: 0."))
        << first.before.toStdString();
    // Its header names the filter, as the consultation's report does.
    ASSERT_FALSE(first.report.details.isEmpty());
    EXPECT_TRUE(first.report.details[0].startsWith("Filtro: Central ") &&
                first.report.details[0].contains("; entrega "))
        << first.report.details[0].toStdString();
    EXPECT_EQ(snapshot(), before) << "Fechar leaves the database as it was";
    EXPECT_TRUE(screen->messages().isEmpty());

    // "Consolidar" presses the confirm button: the run writes the rows the preview showed.
    const SeenPreview second = pressPreview(*form, true);
    ASSERT_TRUE(second.shown);
    EXPECT_EQ(second.products, first.products);
    const QString number = lastNumber();
    ASSERT_FALSE(number.isEmpty()) << screen->messages().join(" | ").toStdString();
    QSqlQuery q(screen->host->database().Database());
    q.prepare(
        "SELECT CDPRODUTO, QTCONSOLIDADA FROM ITCONSSOLI WHERE NRCONSSOLI = ? "
        "ORDER BY CDPRODUTO");
    q.addBindValue(number);
    ASSERT_TRUE(q.exec());
    QStringList written;
    QStringList quantities;
    while (q.next()) {
        written << q.value(0).toString();
        quantities << QLocale(QLocale::Portuguese, QLocale::Brazil)
                          .toString(q.value(1).toDouble(), 'f', 3)
                          .remove(QRegularExpression("0+$"))
                          .remove(QRegularExpression(",$"));
    }
    EXPECT_EQ(written, first.products);
    EXPECT_EQ(quantities, first.consolidated);

    // Now everything is consolidated: "Não Consolidadas" has nothing left, "Todas" warns that
    // the same lines would be taken again.
    const SeenPreview empty = pressPreview(*form, false);
    ASSERT_TRUE(empty.shown);
    EXPECT_TRUE(empty.products.isEmpty());
    EXPECT_FALSE(empty.canConsolidate);
    EXPECT_TRUE(empty.totals.contains("Nenhuma linha")) << empty.totals.toStdString();
    form->rdgConsSoli->SetItemIndex(0);
    const SeenPreview again = pressPreview(*form, false);
    ASSERT_TRUE(again.shown);
    EXPECT_EQ(again.products, first.products);
    EXPECT_FALSE(again.before.contains("antes: 0.")) << again.before.toStdString();
    EXPECT_TRUE(again.before.contains("de novo")) << again.before.toStdString();

    // Less the open consolidation that took them, every product nets to zero: the lines
    // match, nothing would be consolidated, and the products are named with their terms.
    form->chkSolicitacao->setChecked(true);
    const SeenPreview zero = pressPreview(*form, false);
    ASSERT_TRUE(zero.shown);
    EXPECT_EQ(zero.products, first.products);
    EXPECT_FALSE(zero.canConsolidate);
    EXPECT_TRUE(zero.totals.contains("nada seria consolidado")) << zero.totals.toStdString();
    ASSERT_GT(first.products.size(), 10);
    EXPECT_TRUE(zero.totals.contains(first.products[0] + " ")) << zero.totals.toStdString();
    EXPECT_TRUE(zero.totals.contains("e mais ")) << zero.totals.toStdString();
}

TEST_F(RealRun, PreviewSaysWhenTheProductRangeIsInverted) {
    fillValidFilter(*form);
    form->medCdProdIni->SetText(QStringLiteral("10"));
    form->medCdProdfin->SetText(QStringLiteral("01"));
    const SeenPreview seen = pressPreview(*form, false);
    ASSERT_TRUE(seen.shown) << screen->errors().join(" | ").toStdString();
    EXPECT_TRUE(seen.products.isEmpty());
    EXPECT_TRUE(seen.totals.contains("A faixa de produtos está invertida"))
        << seen.totals.toStdString();
}

TEST_F(RealRun, PreviewStopsAtTheConfirmButtonsChecksInTheirOrder) {
    struct Case {
        const char* what;
        std::function<void(TfrmConsolidaSolicita&)> spoil;
    };
    const Case cases[] = {
        {"no first product", [](auto& f) { f.medCdProdIni->SetText(""); }},
        {"unknown stock branch",
         [](auto& f) {
             f.chbConsEsto->SetChecked(true);
             f.medCdFilEst->SetText("9999");
         }},
        {"delivery dates reversed",
         [](auto& f) {
             f.depDataIni->SetDate(dayOffset(5));
             f.depDataFin->SetDate(dayOffset(-5));
         }},
        {"branch list chosen but empty", [](auto& f) { f.rbtListaFili->SetChecked(true); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fillValidFilter(*form);
        form->rbtTodosFili->SetChecked(true);
        form->chbConsEsto->SetChecked(false);
        c.spoil(*form);
        const int errorsBefore = static_cast<int>(screen->errors().size());
        pressConfirm(*form);
        const QStringList afterConfirm = screen->errors().mid(errorsBefore);
        ASSERT_EQ(afterConfirm.size(), 1) << afterConfirm.join(" | ").toStdString();
        const SeenPreview seen = pressPreview(*form, false);
        EXPECT_FALSE(seen.shown);
        EXPECT_EQ(screen->errors().mid(errorsBefore + 1), afterConfirm);
    }
}
