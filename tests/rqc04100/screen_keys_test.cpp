// The screen from the keyboard: Ctrl+Enter consolidates as the confirm button does, F6 previews
// with the same arguments, F2 and Alt+Down in a code edit open its search, and the hint of the
// confirm button is unchanged.

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

TEST_F(PeerScreen, F6PreviewsWithTheArgumentsTheConfirmButtonSends) {
    form->medCdProdfin->setFocus(Qt::OtherFocusReason);
    settle();
    QTest::keyClick(form->medCdProdfin, Qt::Key_F6);
    settle();
    QTest::keyClick(form->medCdProdfin, Qt::Key_Return, Qt::ControlModifier);
    settle();
    std::vector<rqc::protocol::CallRequest> previa;
    std::vector<rqc::protocol::CallRequest> run;
    for (const auto& c : peer.calls()) {
        if (c.descriptor.method == "GetConsSoliPrevia")
            previa.push_back(c);
        if (c.descriptor.method == "GetConsSoli")
            run.push_back(c);
    }
    ASSERT_EQ(previa.size(), 1u);
    ASSERT_EQ(run.size(), 1u);
    EXPECT_EQ(previa[0].descriptor.typeCodes, run[0].descriptor.typeCodes);
    ASSERT_EQ(previa[0].args.size(), 19u);
    ASSERT_EQ(run[0].args.size(), 19u);
    for (std::size_t i = 0; i < previa[0].args.size(); ++i) {
        EXPECT_EQ(previa[0].args[i].text, run[0].args[i].text) << "argument " << i + 1;
        EXPECT_EQ(previa[0].args[i].date, run[0].args[i].date) << "argument " << i + 1;
    }
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
