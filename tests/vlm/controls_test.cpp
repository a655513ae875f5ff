#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <stdexcept>

#include "support/scripted_dialogs.h"
#include "vlm/controls.h"
#include "vlm/dialogs.h"
#include "vlm/edit_mask.h"

using vlm::EditMask;

TEST(EditMask, ParsesPictureSaveFlagAndBlank) {
    struct Case {
        const char* mask;
        int length;
        bool saveLiterals;
        QChar blank;
        bool literals;
        const char* qt;
    } cases[] = {
        {">aaaa;0; ", 4, false, ' ', false, ">nnnn; "},
        {"!99/99/0000;1;_", 10, true, '_', true, "00/00/9999;_"},
        {"LLL-000", 7, true, '_', true, "AAA-999;_"},
        {"<>cc\\Aa;0;*", 4, false, '*', true, "xx\\An;*"},
        {">l<l", 2, true, '_', false, ">a<a;_"},
    };
    for (const auto& c : cases) {
        EditMask m = EditMask::parse(c.mask);
        EXPECT_EQ(m.maxLength(), c.length) << c.mask;
        EXPECT_EQ(m.saveLiterals, c.saveLiterals) << c.mask;
        EXPECT_EQ(m.blank, c.blank) << c.mask;
        EXPECT_EQ(m.hasLiterals, c.literals) << c.mask;
        EXPECT_EQ(m.qtInputMask(), c.qt) << c.mask;
    }
    EXPECT_TRUE(EditMask::parse("").positions.isEmpty());
}

TEST(EditMask, RefusesMalformedMasks) {
    for (const char* bad : {"aa;2", "aa;0;xy", ">", "aa\\", ";0; "}) {
        EXPECT_THROW(EditMask::parse(bad), std::invalid_argument) << bad;
    }
}

TEST(EditMask, BranchMaskUpperCasesKeepsFourLettersOrDigits) {
    EditMask m = EditMask::parse(">aaaa;0; ");
    struct Case {
        QString in;
        QString out;
    } cases[] = {
        {"ab12", "AB12"}, {"abcdef", "ABCD"}, {"a-b_c", "ABC"}, {"", ""}, {"0001", "0001"}};
    for (const auto& c : cases)
        EXPECT_EQ(m.conform(c.in), c.out) << c.in.toStdString();
}

TEST(TMaskEdit, TypedTextIsUpperCasedLimitedToFourLettersOrDigits) {
    struct Case {
        const char* typed;
        const char* text;
    } cases[] = {{"ab1c", "AB1C"}, {"abcdefg", "ABCD"}, {"a-1.b", "A1B"}, {"  x", "X"}};
    for (const auto& c : cases) {
        TMaskEdit edit;
        edit.SetEditMask(">aaaa;0; ");
        edit.SetMaxLength(4);
        edit.show();
        QTest::keyClicks(&edit, c.typed);
        EXPECT_EQ(edit.Text(), c.text) << c.typed;
    }
}

TEST(TMaskEdit, SetTextConformsAndFiresOnChangeOnlyOnChange) {
    TMaskEdit edit;
    edit.SetEditMask(">aaaa;0; ");
    int changes = 0;
    edit.OnChange = [&](QObject* s) {
        EXPECT_EQ(s, &edit);
        ++changes;
    };
    edit.SetText("ab");
    EXPECT_EQ(edit.Text(), "AB");
    EXPECT_EQ(changes, 1);
    edit.SetText("AB");
    EXPECT_EQ(changes, 1);
    edit.SetText("0001x");
    EXPECT_EQ(edit.Text(), "0001");
    EXPECT_EQ(changes, 2);
}

TEST(TMaskEdit, MaskWithLiteralsDropsThemWhenNotKept) {
    TMaskEdit edit;
    edit.SetEditMask("00.000;0;_");
    edit.show();
    edit.setCursorPosition(0);
    QTest::keyClicks(&edit, "12345");
    EXPECT_EQ(edit.displayText(), "12.345");
    EXPECT_EQ(edit.Text(), "12345");
    edit.SetEditMask("00.000;1;_");
    EXPECT_EQ(edit.Text(), "12.345");
}

TEST(TMaskEdit, NoMaskKeepsTheTextAsTyped) {
    TMaskEdit edit;
    edit.SetMaxLength(6);
    edit.SetText("abc def gh");
    EXPECT_EQ(edit.Text(), "abc de");
    EXPECT_THROW(edit.SetEditMask("a;5"), std::invalid_argument);
}

namespace {

struct Form {
    QWidget window;
    TMaskEdit* first = new TMaskEdit(&window);
    TMaskEdit* second = new TMaskEdit(&window);
    QStringList log;
    Form() {
        auto* lay = new QVBoxLayout(&window);
        lay->addWidget(first);
        lay->addWidget(second);
        first->setObjectName("first");
        second->setObjectName("second");
        for (TMaskEdit* e : {first, second}) {
            e->OnExit = [this](QObject* s) { log << "exit " + s->objectName(); };
            e->OnEnter = [this](QObject* s) { log << "enter " + s->objectName(); };
        }
        window.show();
        QApplication::setActiveWindow(&window);
        first->setFocus();
        QApplication::processEvents();
        log.clear();
    }
};

}  // namespace

TEST(TControlEvents, OnExitFiresWhenTabMovesToAnotherControlOfTheForm) {
    Form f;
    ASSERT_EQ(QApplication::focusWidget(), f.first);
    QTest::keyClick(f.first, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), f.second);
    EXPECT_EQ(f.log, QStringList({"exit first", "enter second"}));
}

TEST(TControlEvents, OnExitDoesNotFireWhenAnotherWindowTakesTheFocus) {
    Form f;
    QDialog other(&f.window);  // a dialog owned by the form, as message boxes are
    auto* edit = new QLineEdit(&other);
    other.show();
    QApplication::setActiveWindow(&other);
    edit->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), edit);
    EXPECT_FALSE(f.log.contains("exit first"));
    // Back in the form, leaving the edit for its neighbour fires it.
    other.hide();
    QApplication::setActiveWindow(&f.window);
    f.first->setFocus();
    QApplication::processEvents();
    QTest::keyClick(f.first, Qt::Key_Tab);
    EXPECT_TRUE(f.log.contains("exit first"));
}

TEST(TControlEvents, AbortInOnExitIsSwallowedAndOtherErrorsShown) {
    vlm::ScriptedDialogs d;
    vlm::ScopedDialogs installed(d);
    Form f;
    f.first->OnExit = [](QObject*) { MensErro("Filial não cadastrada.", true); };
    f.second->OnExit = [](QObject*) { throw std::runtime_error("banco indisponível"); };
    QTest::keyClick(f.first, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), f.first) << "a failed exit keeps the focus";
    f.first->OnExit = nullptr;
    QTest::keyClick(f.first, Qt::Key_Tab);
    QTest::keyClick(f.second, Qt::Key_Tab);
    EXPECT_EQ(d.texts(vlm::ShownDialog::Error),
              QStringList({"Filial não cadastrada.", "banco indisponível"}));
}

TEST(TControlEvents, OnKeyDownGetsVirtualKeyCodesAndCanSwallowTheKey) {
    Form f;
    struct Seen {
        quint16 key;
        TShiftState shift;
    };
    std::vector<Seen> seen;
    f.first->OnKeyDown = [&](QObject*, quint16& key, TShiftState shift) {
        if (key == 16 || key == 17)
            return;  // the modifier keys' own presses
        seen.push_back({key, shift});
        if (key == 'X')
            key = 0;
    };
    QTest::keyClick(f.first, Qt::Key_F9);
    QTest::keyClick(f.first, Qt::Key_F9, Qt::ShiftModifier);
    QTest::keyClick(f.first, Qt::Key_F9, Qt::ControlModifier);
    QTest::keyClick(f.first, Qt::Key_A);
    QTest::keyClick(f.first, Qt::Key_X);
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0].key, 120);
    EXPECT_EQ(seen[0].shift, 0u);
    EXPECT_EQ(seen[1].shift, unsigned(ssShift));
    EXPECT_EQ(seen[2].shift, unsigned(ssCtrl));
    EXPECT_EQ(seen[3].key, 'A');
    EXPECT_EQ(f.first->Text(), "a");  // X was swallowed
}

TEST(Controls, VirtualKeyCodes) {
    struct Case {
        int qt;
        quint16 vk;
    } cases[] = {{Qt::Key_F1, 112},    {Qt::Key_F9, 120},    {Qt::Key_F12, 123},
                 {Qt::Key_Return, 13}, {Qt::Key_Escape, 27}, {Qt::Key_Tab, 9},
                 {Qt::Key_A, 65},      {Qt::Key_5, 53},      {Qt::Key_Delete, 46},
                 {Qt::Key_Down, 40},   {Qt::Key_unknown, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(vlm::virtualKey(c.qt), c.vk) << c.qt;
}

TEST(Controls, RadioCheckAndGroupClicks) {
    QWidget parent;
    TRadioButton todas(&parent);
    TRadioButton lista(&parent);
    TCheckBox check(&parent);
    QStringList log;
    todas.OnClick = [&](QObject*) { log << "todas"; };
    lista.OnClick = [&](QObject*) { log << "lista"; };
    check.OnClick = [&](QObject*) { log << (check.Checked() ? "on" : "off"); };
    todas.SetChecked(true);
    lista.SetChecked(true);
    EXPECT_FALSE(todas.Checked());
    check.SetChecked(true);
    check.SetChecked(false);
    parent.show();
    QTest::mouseClick(&todas, Qt::LeftButton);
    EXPECT_EQ(log, QStringList({"todas", "lista", "on", "off", "todas"}));

    TRadioGroup group;
    group.SetItems({"Todas", "Não Consolidadas"});
    int clicks = 0;
    group.OnClick = [&](QObject*) { ++clicks; };
    EXPECT_EQ(group.ItemIndex(), -1);
    group.SetItemIndex(0);
    EXPECT_EQ(group.ItemIndex(), 0);
    group.SetItemIndex(1);
    EXPECT_EQ(group.ItemIndex(), 1);
    group.SetItemIndex(1);
    EXPECT_EQ(clicks, 2);
    group.SetItemIndex(-1);
    EXPECT_EQ(group.ItemIndex(), -1);
    EXPECT_EQ(group.Items(), QStringList({"Todas", "Não Consolidadas"}));
}

TEST(Controls, AnimationMovesOnlyWhileActive) {
    TAnimate anim;
    anim.StopFrame = 3;
    anim.show();
    EXPECT_FALSE(anim.Active());
    anim.Play();
    EXPECT_TRUE(anim.Active());
    int first = anim.Frame();
    QTest::qWait(250);
    EXPECT_NE(anim.Frame(), first);
    anim.Stop();
    EXPECT_FALSE(anim.Active());
    EXPECT_EQ(anim.Frame(), 3);
}

TEST(Controls, FlatButtonClickGoesThroughTheDispatcher) {
    vlm::ScriptedDialogs d;
    vlm::ScopedDialogs installed(d);
    TButtonFlat b;
    b.SetHint("Pesquisar");
    int clicks = 0;
    b.OnClick = [&](QObject*) {
        ++clicks;
        throw std::runtime_error("falhou");
    };
    b.click();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(b.Hint(), "Pesquisar");
    EXPECT_EQ(d.texts(vlm::ShownDialog::Error), QStringList({"falhou"}));
}
