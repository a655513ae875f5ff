// The screen from the keyboard: Ctrl+Enter consolidates as the confirm button does, F2 and
// Alt+Down in a code edit open its search, and the hint of the confirm button is unchanged.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "peer_screen.h"

using namespace rqc04100::test;

TEST_F(PeerScreen, CtrlEnterConsolidatesAsTheConfirmButton) {
    EXPECT_EQ(form->sbtConfirma->Hint(), "Consolidar Solicitações");
    form->medCdProdfin->setFocus(Qt::OtherFocusReason);
    settle();
    screen->host->dialogs().clear();
    QTest::keyClick(form->medCdProdfin, Qt::Key_Return, Qt::ControlModifier);
    settle();
    EXPECT_EQ(callsOf("GetConsSoli"), 1) << screen->errors().join(" | ").toStdString();
    EXPECT_EQ(screen->messages(), QStringList{form->msgPadrao->Msg("NUM_GERADO") + "0000000042."});
}

TEST_F(PeerScreen, F2AndAltDownOpenTheSearchOfTheEdit) {
    struct Case {
        const char* edit;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char* title;
    };
    const Case cases[] = {
        {"medCdFilial", Qt::Key_F2, Qt::NoModifier, "Filial"},
        {"medCdFilial", Qt::Key_Down, Qt::AltModifier, "Filial"},
        {"medCdProdIni", Qt::Key_F2, Qt::NoModifier, "Produto Inicial"},
        {"medCdProdfin", Qt::Key_Down, Qt::AltModifier, "Produto Final"},
        {"medCdFilEst", Qt::Key_F2, Qt::NoModifier, "Filial"},
    };
    form->chbConsEsto->SetChecked(true);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.edit) + " " + c.title);
        QWidget* edit = form->control(c.edit);
        edit->setFocus(Qt::OtherFocusReason);
        settle();
        ASSERT_EQ(focusName(), c.edit);
        screen->host->dialogs().clear();
        QTest::keyClick(edit, c.key, c.modifiers);
        settle();
        EXPECT_EQ(screen->host->dialogs().texts(vlm::ShownDialog::PickOne), QStringList{c.title});
        EXPECT_EQ(focusName(), c.edit);
        EXPECT_TRUE(screen->errors().isEmpty()) << screen->errors().join(" | ").toStdString();
    }
}
