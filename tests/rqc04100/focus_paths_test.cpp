// Leaving a field that fails its check, by every path a user takes (a click into another
// control, Tab, Shift+Tab), and changing the screen's window state with such a field typed:
// exactly one message per failed check, the user back in that field, nothing else run.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <functional>

#include "demo_suite_fixture.h"
#include "screen_driver.h"

using namespace rqc04100::test;

namespace {

QString focusName() {
    QWidget* w = QApplication::focusWidget();
    return w != nullptr ? w->objectName() : QString();
}

// Scripted dialogs that end an endless exchange of exit messages: past a bound, the filter
// box is disabled, so no control can take the focus back and the exchange stops.
class BoundedDialogs : public vlm::ScriptedDialogs {
  public:
    static constexpr int kBound = 12;
    QWidget* stopper = nullptr;
    void error(const QString& text) override {
        vlm::ScriptedDialogs::error(text);
        if (stopper != nullptr && texts(vlm::ShownDialog::Error).size() >= kBound)
            stopper->setEnabled(false);
    }
};

// The screen on the demo database with all four checked fields holding a value that fails:
// unknown processing and stock branches, impossible initial and final dates.
class FocusPaths : public rqc04100::test::DemoSuiteFixture {
  protected:
    void SetUp() override {
        screen = std::make_unique<OpenScreen>(suite->config("0002"));
        ASSERT_NE(screen->form, nullptr);
        form = screen->form;
        bounded.stopper = form->grbDadosRel;
        QApplication::setActiveWindow(&screen->host->window());
        settle();
    }
    void TearDown() override {
        installed.reset();
        screen.reset();
    }

    void spoilAll() {
        fillValidFilter(*form);
        form->chbConsEsto->SetChecked(true);
        form->medCdFilial->SetText("7777");
        form->medCdFilEst->SetText("8888");
        form->depDataIni->SetText("31/02/2026");
        form->depDataFin->SetText("30/02/2026");
    }
    // From here on the dialogs shown are counted (and an endless exchange is cut short).
    void startCounting() {
        settle();
        installed = std::make_unique<vlm::ScopedDialogs>(bounded);
        bounded.clear();
    }
    QStringList errors() const { return bounded.texts(vlm::ShownDialog::Error); }
    QString dateMessage(TDateEditPlus* edit) {
        vlm::ScriptedDialogs probe;
        vlm::ScopedDialogs scoped(probe);
        try {
            edit->CheckValidDate();
        } catch (const EAbort&) {
        }
        return probe.texts(vlm::ShownDialog::Error).value(0);
    }

    std::unique_ptr<OpenScreen> screen;
    TfrmConsolidaSolicita* form = nullptr;
    BoundedDialogs bounded;
    std::unique_ptr<vlm::ScopedDialogs> installed;
};

// A point on the control a user would click: the indicator of a radio, the text of an edit.
QPoint clickPoint(QWidget* w) {
    if (qobject_cast<QRadioButton*>(w) != nullptr)
        return {7, w->height() / 2};
    return {w->width() / 3, w->height() / 2};
}

}  // namespace

TEST_F(FocusPaths, LeavingAFailingFieldShowsOneMessageAndReturnsToIt) {
    struct Left {
        const char* name;
        const char* key;  // nullptr: the date edit's own message
    };
    const Left lefts[] = {{"medCdFilial", "Fil_Inv"},
                          {"medCdFilEst", "Fil_Inv"},
                          {"depDataIni", nullptr},
                          {"depDataFin", nullptr}};
    const char* targets[] = {"medCdFilial",  "medCdFilEst",  "medCdProdIni",    "medCdProdfin",
                             "depDataIni",   "depDataFin",   "rbtTodosFili",    "rbtListaFili",
                             "sbtTodosComp", "rbtListaComp", "rbtTodosSolicit", "rbtListaSolicit"};
    enum class Way { Click, Tab, Backtab };
    int cases = 0;
    for (const Left& left : lefts) {
        QWidget* leftControl = form->control(left.name);
        ASSERT_NE(leftControl, nullptr) << left.name;
        // Shift+Tab from the first field passes through the MDI frame on its way to the
        // last one, which is no move between two controls of the form.
        std::vector<std::pair<Way, QWidget*>> moves = {{Way::Tab, nullptr}};
        if (leftControl != form->tabStops().front())
            moves.push_back({Way::Backtab, nullptr});
        for (const char* t : targets) {
            if (QString(t) != left.name)
                moves.push_back({Way::Click, form->control(t)});
        }
        moves.push_back({Way::Click, form->rdgConsSoli->Button(1)});
        for (const auto& [way, target] : moves) {
            const QString what = QString("%1 left by %2 %3")
                                     .arg(left.name)
                                     .arg(way == Way::Click ? "a click into"
                                          : way == Way::Tab ? "Tab"
                                                            : "Shift+Tab")
                                     .arg(target != nullptr ? target->objectName() : "");
            SCOPED_TRACE(what.toStdString());
            ++cases;
            installed.reset();
            form->grbDadosRel->setEnabled(true);
            spoilAll();
            const QString expected = left.key != nullptr
                                         ? form->msgPadrao->Msg(left.key)
                                         : dateMessage(static_cast<TDateEditPlus*>(leftControl));
            leftControl->setFocus(Qt::OtherFocusReason);
            ASSERT_EQ(focusName(), left.name);
            QList<bool> radios;
            for (auto* r : form->findChildren<QRadioButton*>())
                radios << r->isChecked();
            startCounting();

            if (way == Way::Click) {
                QTest::mouseClick(target, Qt::LeftButton, {}, clickPoint(target));
            } else {
                QTest::keyClick(leftControl, Qt::Key_Tab,
                                way == Way::Tab ? Qt::NoModifier : Qt::ShiftModifier);
            }
            settle();

            EXPECT_EQ(errors(), QStringList{expected});
            EXPECT_EQ(focusName(), left.name);
            QList<bool> after;
            for (auto* r : form->findChildren<QRadioButton*>())
                after << r->isChecked();
            EXPECT_EQ(after, radios) << "the click into another control does nothing else";
        }
    }
    EXPECT_GE(cases, 50);
}

TEST_F(FocusPaths, LeavingAValidFieldForAnotherRunsItsCheckOnce) {
    fillValidFilter(*form);
    form->medCdFilial->setFocus(Qt::OtherFocusReason);
    startCounting();
    QTest::mouseClick(form->medCdProdIni, Qt::LeftButton, {}, clickPoint(form->medCdProdIni));
    settle();
    EXPECT_EQ(focusName(), "medCdProdIni");
    EXPECT_EQ(bounded.texts(vlm::ShownDialog::WaitingShown).size(), 1)
        << "the branch was validated on the server once";
    EXPECT_TRUE(errors().isEmpty()) << errors().join(" | ").toStdString();
}

TEST_F(FocusPaths, WindowStateChangesAndASecondOpeningShowNothing) {
    QMdiSubWindow* sub = form->subWindow();
    ASSERT_NE(sub, nullptr);
    QMdiArea* area = screen->host->mdiArea();
    auto* other = area->addSubWindow(new QWidget);
    other->setObjectName("otherScreen");
    other->resize(200, 120);
    other->show();
    area->setActiveSubWindow(sub);
    settle();

    struct Step {
        const char* what;
        std::function<void()> act;
    };
    const Step steps[] = {
        {"maximise", [&] { sub->showMaximized(); }},
        {"second IniProc on the maximised screen", [&] { IniProc(); }},
        {"maximise again", [&] { sub->showMaximized(); }},
        {"minimise", [&] { sub->showMinimized(); }},
        {"restore", [&] { sub->showNormal(); }},
        {"another MDI child activated", [&] { area->setActiveSubWindow(other); }},
        {"the screen activated again", [&] { area->setActiveSubWindow(sub); }},
        {"the screen activated by its frame", [&] { sub->setFocus(Qt::MouseFocusReason); }},
        {"second IniProc", [&] { IniProc(); }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        installed.reset();
        form->medCdFilial->SetText("7777");
        form->medCdFilial->setFocus(Qt::OtherFocusReason);
        startCounting();
        step.act();
        settle();
        EXPECT_TRUE(errors().isEmpty()) << errors().join(" | ").toStdString();
        EXPECT_EQ(form->medCdFilial->Text(), "7777");
    }
    // The field is checked when the user leaves it, as before.
    area->setActiveSubWindow(sub);
    form->medCdFilial->setFocus(Qt::OtherFocusReason);
    settle();
    bounded.clear();
    QTest::keyClick(form->medCdFilial, Qt::Key_Tab);
    settle();
    EXPECT_EQ(errors(), QStringList{form->msgPadrao->Msg("Fil_Inv")});
    EXPECT_EQ(focusName(), "medCdFilial");
}

// The same paths with the real message boxes: each box is answered as a user does (Enter),
// and the focus the box took comes back to the field that failed.
TEST_F(FocusPaths, WithRealMessageBoxesEachFailedCheckShowsOneBox) {
    struct Case {
        const char* left;
        const char* target;  // nullptr: Tab
    };
    const Case cases[] = {{"medCdFilial", "medCdFilEst"},  {"medCdFilial", "depDataIni"},
                          {"medCdFilial", "rbtListaFili"}, {"depDataFin", "medCdProdIni"},
                          {"depDataIni", nullptr},         {"medCdFilEst", nullptr}};
    vlm::Dialogs* scripted = vlm::setDialogs(nullptr);
    QStringList boxes;
    QTimer answer;
    answer.setInterval(10);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        boxes << box->text();
        // RQC_SCREENSHOT_DIR: pictures of the screen and of the first box, for a look.
        static const QString shots = qEnvironmentVariable("RQC_SCREENSHOT_DIR");
        static bool saved = false;
        if (!shots.isEmpty() && !saved) {
            saved = true;
            screen->host->window().grab().save(shots + "/focus-paths-screen.png");
            box->grab().save(shots + "/focus-paths-box.png");
        }
        if (boxes.size() >= BoundedDialogs::kBound)
            form->grbDadosRel->setEnabled(false);
        QTest::keyClick(box, Qt::Key_Return);
    });
    answer.start();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.left) + " -> " + (c.target ? c.target : "Tab"));
        form->grbDadosRel->setEnabled(true);
        spoilAll();
        QApplication::setActiveWindow(&screen->host->window());
        QWidget* left = form->control(c.left);
        left->setFocus(Qt::OtherFocusReason);
        settle();
        boxes.clear();
        if (c.target != nullptr) {
            QWidget* target = form->control(c.target);
            QTest::mouseClick(target, Qt::LeftButton, {}, clickPoint(target));
        } else {
            QTest::keyClick(left, Qt::Key_Tab);
        }
        for (int i = 0; i < 20; ++i) {
            settle();
            QTest::qWait(10);
        }
        EXPECT_EQ(boxes.size(), 1) << boxes.join(" | ").toStdString();
        // The box gave the window back its focus widget (activation itself is the platform's).
        QWidget* back = screen->host->window().focusWidget();
        EXPECT_EQ(back != nullptr ? back->objectName() : QString(), c.left);
    }
    answer.stop();
    vlm::setDialogs(scripted);
    if (const QString shots = qEnvironmentVariable("RQC_SCREENSHOT_DIR"); !shots.isEmpty())
        screen->host->window().grab().save(shots + "/focus-paths-after.png");
}
