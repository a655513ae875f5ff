// The request lookup never sends a date the date edits do not show: an impossible date stops
// it with the date edit's own message, the user in that edit, before anything reaches the
// server.

#include <gtest/gtest.h>

#include <QApplication>

#include "peer_screen.h"

using namespace rqc04100::test;

TEST_F(PeerScreen, ImpossibleDateStopsTheLookupBeforeAnythingIsSent) {
    struct Case {
        const char* edit;
        const char* initial;
        const char* final;
    };
    const Case cases[] = {{"depDataIni", "31/02/2026", nullptr},
                          {"depDataFin", nullptr, "30/02/2026"},
                          {"depDataIni", "31/02/2026", "30/02/2026"},
                          {"depDataFin", "", "31/04/2026"}};
    form->rbtListaSolicit->SetChecked(true);
    ASSERT_TRUE(form->sbtSolicitacao->isEnabled());
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.edit) + " " + (c.initial ? c.initial : "-") + " " +
                     (c.final ? c.final : "-"));
        fillValidFilter(*form);
        if (c.initial != nullptr)
            form->depDataIni->SetText(c.initial);
        if (c.final != nullptr)
            form->depDataFin->SetText(c.final);
        form->medCdProdIni->setFocus(Qt::OtherFocusReason);
        settle();
        screen->host->dialogs().clear();
        const std::size_t before = peer.calls().size();

        form->sbtSolicitacao->click();
        settle();

        EXPECT_EQ(peer.calls().size(), before) << "nothing sent";
        const QStringList errors = screen->errors();
        ASSERT_EQ(errors.size(), 1) << errors.join(" | ").toStdString();
        auto* edit = qobject_cast<TDateEditPlus*>(form->control(c.edit));
        EXPECT_TRUE(errors.front().contains(edit->displayText().trimmed()))
            << errors.front().toStdString();
        EXPECT_EQ(focusName(), c.edit);
        EXPECT_TRUE(screen->host->dialogs().texts(vlm::ShownDialog::PickList).isEmpty());
        EXPECT_FALSE(screen->host->dialogs().waitingVisible());
    }
    // Real dates go out as shown.
    fillValidFilter(*form);
    screen->host->dialogs().clear();
    form->sbtSolicitacao->click();
    settle();
    EXPECT_EQ(callsOf("GetSolicitacao"), 1) << screen->errors().join(" | ").toStdString();
    const auto calls = peer.calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().args[0].date, dayOffset(-30));
    EXPECT_EQ(calls.back().args[1].date, dayOffset(30));
}
