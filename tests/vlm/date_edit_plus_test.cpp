#include <gtest/gtest.h>

#include <QApplication>
#include <QCalendarWidget>
#include <QPointer>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include "support/scripted_dialogs.h"
#include "vlm/date_edit_plus.h"
#include "vlm/dialogs.h"
#include "vlm/frm_roti_geral.h"

namespace {
TDateTime day(int y, int m, int d) {
    return vlm::toDateTime(QDate(y, m, d));
}
}  // namespace

TEST(TDateEditPlus, StartsWithTodayDrawnInTheValidColour) {
    TDateEditPlus edit;
    EXPECT_EQ(edit.GetDate(), vlm::toDateTime(QDate::currentDate()));
    EXPECT_EQ(edit.Text(), QDate::currentDate().toString("dd/MM/yyyy"));
    EXPECT_EQ(edit.palette().color(QPalette::Text), QColor(Qt::blue));
}

TEST(TDateEditPlus, TextAndDateOfBlankValidAndInvalidInput) {
    struct Case {
        const char* typed;
        QString text;
        TDateTime date;
        bool passesCheck;
    } cases[] = {
        {"", "", 0, true},
        {"01022024", "01/02/2024", day(2024, 2, 1), true},
        {"29022024", "29/02/2024", day(2024, 2, 29), true},
        {"29022023", "29/02/2023", 0, false},
        {"31042024", "31/04/2024", 0, false},
        {"31022026", "31/02/2026", 0, false},
        {"0102", "01/02/    ", 0, false},
        {"99999999", "99/99/9999", 0, false},
    };
    for (const auto& c : cases) {
        vlm::ScriptedDialogs d;
        vlm::ScopedDialogs installed(d);
        TDateEditPlus edit;
        edit.SetDate(0);
        EXPECT_EQ(edit.Text(), "");
        EXPECT_TRUE(edit.IsBlank());
        edit.show();
        edit.setCursorPosition(0);
        QTest::keyClicks(&edit, c.typed);
        EXPECT_EQ(edit.Text(), c.text) << c.typed;
        EXPECT_EQ(edit.GetDate(), c.date) << c.typed;
        if (c.passesCheck) {
            EXPECT_NO_THROW(edit.CheckValidDate()) << c.typed;
            EXPECT_TRUE(d.shown.empty());
        } else {
            EXPECT_THROW(edit.CheckValidDate(), EAbort) << c.typed;
            ASSERT_EQ(d.texts(vlm::ShownDialog::Error).size(), 1) << c.typed;
            EXPECT_TRUE(d.texts(vlm::ShownDialog::Error)[0].startsWith("Data inválida")) << c.typed;
            EXPECT_TRUE(d.texts(vlm::ShownDialog::Error)[0].contains(c.text.trimmed())) << c.typed;
        }
        EXPECT_EQ(edit.palette().color(QPalette::Text) == QColor(Qt::blue), c.date != 0) << c.typed;
    }
}

TEST(TDateEditPlus, OnDateChangeFiresOnEveryChangeOfTheDate) {
    TDateEditPlus edit;
    QStringList log;
    edit.OnDateChange = [&](QObject* s) {
        log << static_cast<TDateEditPlus*>(s)->WeekdayName() + " " +
                   QString::number(edit.GetDate());
    };
    edit.SetDate(day(2024, 6, 2));
    edit.SetDate(day(2024, 6, 2));  // same date: no event
    edit.SetDate(day(2024, 6, 8) + 0.5);
    edit.SetDate(0);
    edit.SetText("05/06/2024");
    EXPECT_EQ(log, QStringList({"Domingo 45445", "Sábado 45451", " 0", "Quarta 45448"}));
    EXPECT_EQ(edit.GetDate(), day(2024, 6, 5));  // no time of day kept
}

TEST(TDateEditPlus, SaveTimeKeepsTheTimeOfDay) {
    TDateEditPlus edit;
    edit.SaveTime = true;
    edit.SetDate(day(2024, 6, 5) + 0.25);
    EXPECT_EQ(edit.GetDate(), day(2024, 6, 5) + 0.25);
    edit.SetDate(-1.25);  // 29/12/1899 06:00
    EXPECT_EQ(edit.Text(), "29/12/1899");
    EXPECT_EQ(edit.GetDate(), -1.25);
}

TEST(TDateEditPlus, CalendarDropDownSetsThePickedDate) {
    TDateEditPlus edit;
    edit.SetDate(day(2024, 6, 5));
    int changes = 0;
    edit.OnDateChange = [&](QObject*) { ++changes; };
    edit.show();
    edit.findChild<QToolButton*>("dropDown")->click();
    auto* cal = edit.findChild<QCalendarWidget*>("calendar");
    ASSERT_NE(cal, nullptr);
    EXPECT_EQ(cal->selectedDate(), QDate(2024, 6, 5));
    emit cal->clicked(QDate(2024, 7, 1));
    EXPECT_EQ(edit.GetDate(), day(2024, 7, 1));
    EXPECT_EQ(changes, 1);
    QApplication::processEvents();
}

TEST(TDateEditPlus, OpeningTheCalendarIsNoExitButTabIs) {
    TfrmRotiGeral form;
    auto* date = new TDateEditPlus(form.grbDadosRel);
    auto* next = new TDateEditPlus(form.grbDadosRel);
    next->move(0, 40);
    int exits = 0;
    date->OnExit = [&](QObject*) { ++exits; };
    form.show();
    QApplication::setActiveWindow(&form);
    date->setFocus();
    QApplication::processEvents();
    date->DropDown();
    QApplication::processEvents();
    auto* cal = date->findChild<QCalendarWidget*>("calendar");
    ASSERT_NE(cal, nullptr);
    cal->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(exits, 0);
    emit cal->clicked(QDate(2024, 7, 2));
    QApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), date);
    EXPECT_EQ(exits, 0);
    QTest::keyClick(date, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next);
    EXPECT_EQ(exits, 1);
}

TEST(TDateEditPlus, FullyTypedDateThatDoesNotExistIsDrawnInTheInvalidColour) {
    TDateEditPlus edit;
    edit.SetDate(0);
    edit.show();
    edit.setCursorPosition(0);
    QTest::keyClicks(&edit, "3102202");
    EXPECT_NE(edit.palette().color(QPalette::Text), QColor(Qt::red));  // still typing
    QTest::keyClicks(&edit, "6");
    EXPECT_EQ(edit.palette().color(QPalette::Text), QColor(Qt::red));
    EXPECT_EQ(edit.GetDate(), 0);
}

TEST(TDateEditPlus, OnDateChangeFiresWhenTypingCompletesAValidDate) {
    TDateEditPlus edit;
    edit.SetDate(0);
    QList<TDateTime> seen;
    edit.OnDateChange = [&](QObject*) { seen << edit.GetDate(); };
    edit.show();
    edit.setCursorPosition(0);
    QTest::keyClicks(&edit, "0106202");
    EXPECT_TRUE(seen.isEmpty());
    QTest::keyClicks(&edit, "6");
    EXPECT_EQ(seen, QList<TDateTime>({day(2026, 6, 1)}));
}

TEST(TDateEditPlus, DropDownButtonShowsTheCalendarPicture) {
    TDateEditPlus edit;
    edit.resize(110, 23);
    edit.show();
    auto* button = edit.findChild<QToolButton*>("dropDown");
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(button->icon().isNull());
    EXPECT_TRUE(button->isVisible());
    EXPECT_LE(button->geometry().right(), edit.width());
    EXPECT_GE(button->geometry().left(), edit.width() / 2);
}

TEST(TDateEditPlus, EnterOnADayOfTheCalendarPicksIt) {
    TDateEditPlus edit;
    edit.SetDate(day(2026, 2, 10));
    QList<TDateTime> seen;
    edit.OnDateChange = [&](QObject*) { seen << edit.GetDate(); };
    edit.show();
    QTest::mouseClick(edit.findChild<QToolButton*>("dropDown"), Qt::LeftButton);
    auto* cal = edit.findChild<QCalendarWidget*>("calendar");
    ASSERT_NE(cal, nullptr);
    ASSERT_TRUE(cal->isVisible());
    auto* days = cal->findChild<QTableView*>();
    ASSERT_NE(days, nullptr);
    QTest::keyClick(days, Qt::Key_Right);  // 11/02
    QTest::keyClick(days, Qt::Key_Down);   // 18/02
    QTest::keyClick(days, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(edit.GetDate(), day(2026, 2, 18));
    EXPECT_EQ(edit.Text(), "18/02/2026");
    EXPECT_EQ(seen, QList<TDateTime>({day(2026, 2, 18)}));
    EXPECT_EQ(edit.findChild<QCalendarWidget*>("calendar"), nullptr);  // closed and gone
}

TEST(TDateEditPlus, F4OpensTheCalendarAndEscapeClosesItKeepingTheDate) {
    TDateEditPlus edit;
    edit.SetDate(day(2026, 3, 1));
    edit.show();
    QTest::keyClick(&edit, Qt::Key_F4);
    auto* cal = edit.findChild<QCalendarWidget*>("calendar");
    ASSERT_NE(cal, nullptr);
    EXPECT_EQ(cal->selectedDate(), QDate(2026, 3, 1));
    QPointer<QWidget> popup = cal->window();
    QTest::keyClick(cal->findChild<QTableView*>(), Qt::Key_Right);
    QTest::keyClick(cal->findChild<QTableView*>(), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_TRUE(popup == nullptr || !popup->isVisible());
    EXPECT_EQ(edit.GetDate(), day(2026, 3, 1));
}

TEST(TDateEditPlus, CalendarOfABlankEditOpensOnTodayAndPickingFillsIt) {
    TDateEditPlus edit;
    edit.SetDate(0);
    edit.show();
    edit.DropDown();
    auto* cal = edit.findChild<QCalendarWidget*>("calendar");
    ASSERT_NE(cal, nullptr);
    EXPECT_EQ(cal->selectedDate(), QDate::currentDate());
    emit cal->clicked(QDate(2026, 12, 24));
    EXPECT_FALSE(edit.IsBlank());
    EXPECT_EQ(edit.WeekdayName(), "Quinta");
}
