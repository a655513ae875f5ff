// When a control's OnExit runs: only when the user moves the focus to another control of the
// same form (Tab, Shift+Tab, a click); a failing OnExit keeps the user in the control, and the
// control the user was entering neither runs its own OnExit nor reacts to the click.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QVBoxLayout>
#include <stdexcept>

#include "support/scripted_dialogs.h"
#include "vlm/controls.h"
#include "vlm/date_edit_plus.h"
#include "vlm/dialogs.h"
#include "vlm/frm_roti_geral.h"
#include "vlm/messages.h"

using vlm::ShownDialog;

namespace {

// A form with two edits, a date edit, a radio pair and a check box; every OnExit logged.
struct Form {
    vlm::ScriptedDialogs dialogs;
    vlm::ScopedDialogs installed{dialogs};
    TfrmRotiGeral form;
    TMaskEdit* first = new TMaskEdit(form.grbDadosRel);
    TMaskEdit* second = new TMaskEdit(form.grbDadosRel);
    TDateEditPlus* date = new TDateEditPlus(form.grbDadosRel);
    TRadioButton* all = new TRadioButton(form.grbDadosRel);
    TRadioButton* list = new TRadioButton(form.grbDadosRel);
    TCheckBox* box = new TCheckBox(form.grbDadosRel);
    QStringList log;

    Form() {
        auto* lay = new QVBoxLayout(form.grbDadosRel);
        int n = 0;
        for (QWidget* w : std::initializer_list<QWidget*>{first, second, date, all, list, box}) {
            lay->addWidget(w);
            w->setObjectName(QString("c%1").arg(n++));
        }
        first->setObjectName("first");
        second->setObjectName("second");
        date->setObjectName("date");
        all->SetCaption("Todas");
        list->SetCaption("Lista");
        all->SetChecked(true);
        box->SetCaption("Marca");
        for (TControlEvents* c :
             std::initializer_list<TControlEvents*>{first, second, date, all, list, box}) {
            c->OnExit = [this](QObject* s) { log << "exit " + s->objectName(); };
        }
        form.resize(500, 300);
        form.show();
        QApplication::setActiveWindow(&form);
        first->setFocus(Qt::OtherFocusReason);
        QApplication::processEvents();
        log.clear();
    }
    // Both edits fail their check, as an unknown code does.
    void failBothEdits() {
        for (TMaskEdit* e : {first, second}) {
            e->OnExit = [this](QObject* s) {
                log << "exit " + s->objectName();
                MensErro("Filial não cadastrada.", true);
            };
        }
    }
    QStringList errors() const { return dialogs.texts(ShownDialog::Error); }
};

QString focusName() {
    QWidget* w = QApplication::focusWidget();
    return w != nullptr ? w->objectName() : QString();
}

void click(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(7, w->height() / 2));
}

}  // namespace

TEST(ExitEvents, RunOnTabShiftTabAndClickButNotOnMovesMadeByTheProgram) {
    Form f;
    QTest::keyClick(f.first, Qt::Key_Tab);
    EXPECT_EQ(focusName(), "second");
    QTest::keyClick(f.second, Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(focusName(), "first");
    click(f.date);
    EXPECT_EQ(focusName(), "date");
    EXPECT_EQ(f.log, QStringList({"exit first", "exit second", "exit first"}));

    f.log.clear();
    f.first->setFocus(Qt::OtherFocusReason);
    f.second->setFocus(Qt::ActiveWindowFocusReason);
    f.first->setFocus(Qt::PopupFocusReason);
    EXPECT_TRUE(f.log.isEmpty()) << f.log.join(", ").toStdString();
}

TEST(ExitEvents, FailingExitKeepsTheUserInTheControlWithOneMessage) {
    Form f;
    f.failBothEdits();
    click(f.second);
    EXPECT_EQ(focusName(), "first");
    EXPECT_EQ(f.log, QStringList{"exit first"}) << "the edit entered never had the focus";
    EXPECT_EQ(f.errors(), QStringList{"Filial não cadastrada."});

    QTest::keyClick(f.first, Qt::Key_Tab);
    EXPECT_EQ(focusName(), "first");
    EXPECT_EQ(f.errors().size(), 2);
}

TEST(ExitEvents, ClickIntoARadioOrCheckBoxWhileTheExitFailsChangesNothing) {
    Form f;
    f.failBothEdits();
    click(f.list);
    click(f.box);
    EXPECT_EQ(focusName(), "first");
    EXPECT_TRUE(f.all->Checked());
    EXPECT_FALSE(f.list->Checked());
    EXPECT_FALSE(f.box->Checked());
    EXPECT_EQ(f.errors().size(), 2);
    // With the check passing, the same clicks act as usual.
    f.first->OnExit = nullptr;
    click(f.list);
    EXPECT_TRUE(f.list->Checked());
    EXPECT_EQ(focusName(), f.list->objectName());
}

TEST(ExitEvents, AnErrorOtherThanTheAbortAlsoKeepsTheUserInTheControl) {
    Form f;
    f.first->OnExit = [](QObject*) { throw std::runtime_error("banco indisponível"); };
    QTest::keyClick(f.first, Qt::Key_Tab);
    EXPECT_EQ(focusName(), "first");
    EXPECT_EQ(f.errors(), QStringList{"banco indisponível"});
}

TEST(ExitEvents, ImpossibleDateIsReportedOnceAndTheUserStaysInTheDateEdit) {
    Form f;
    f.date->OnExit = [&f](QObject*) { f.date->CheckValidDate(); };
    f.failBothEdits();
    f.date->SetText("31/02/2026");
    f.date->setFocus(Qt::OtherFocusReason);
    f.dialogs.clear();
    click(f.first);
    EXPECT_EQ(focusName(), "date");
    QTest::keyClick(f.date, Qt::Key_Tab);
    EXPECT_EQ(focusName(), "date");
    QTest::keyClick(f.date, Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(focusName(), "date");
    ASSERT_EQ(f.errors().size(), 3) << f.errors().join(" | ").toStdString();
    for (const QString& e : f.errors())
        EXPECT_TRUE(e.contains("31/02/2026")) << e.toStdString();
    // The keys typed next land in the date edit.
    QTest::keyClick(f.date, Qt::Key_Home);
    QTest::keyClicks(f.date, "01");
    EXPECT_EQ(f.date->Text(), "01/02/2026");
    EXPECT_TRUE(f.first->text().isEmpty());
}

TEST(ExitEvents, CheckValidDateGivesTheDateEditTheFocus) {
    Form f;
    f.date->SetText("30/02/2026");
    EXPECT_THROW(f.date->CheckValidDate(), EAbort);
    EXPECT_EQ(focusName(), "date");
    f.date->setEnabled(false);
    f.first->setFocus(Qt::OtherFocusReason);
    EXPECT_THROW(f.date->CheckValidDate(), EAbort) << "a disabled edit is left alone";
    EXPECT_EQ(focusName(), "first");
}
