#include <gtest/gtest.h>

#include <stdexcept>

#include "support/scripted_dialogs.h"
#include "vlm/dialogs.h"
#include "vlm/messages.h"

using vlm::ScriptedDialogs;
using vlm::ShownDialog;

TEST(TMessages, KeyIsBeforeTheFirstBarAndTextKeepsEverythingAfterIt) {
    TMessages msg;
    msg.SetLines({"NUM_GERADO|Solicitação consolidada foi gerada com o número ",
                  "N_ParCmp|Não  há parâmetros de compras para a filial.", "Bars|a|b|c", "Empty|",
                  "", "Dup|first", "Dup|second", " Spaced |  both sides  "});
    struct Case {
        const char* key;
        QString text;
    } cases[] = {
        {"NUM_GERADO", "Solicitação consolidada foi gerada com o número "},
        {"N_ParCmp", "Não  há parâmetros de compras para a filial."},
        {"Bars", "a|b|c"},
        {"Empty", ""},
        {"Dup", "first"},
        {" Spaced ", "  both sides  "},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(msg.HasKey(c.key)) << c.key;
        EXPECT_EQ(msg.Msg(c.key), c.text) << c.key;
    }
    EXPECT_FALSE(msg.HasKey("Spaced"));
    EXPECT_FALSE(msg.HasKey("num_gerado"));
}

TEST(TMessages, UnknownKeyGivesATextNamingTheKey) {
    TMessages msg;
    msg.SetLines({"A|x"});
    EXPECT_EQ(msg.Msg("FALTANDO"), "Mensagem não cadastrada no catálogo: FALTANDO");
}

TEST(TMessages, LineWithoutBarIsRefusedAndTheCatalogueKept) {
    TMessages msg;
    msg.SetLines({"A|x"});
    try {
        msg.SetLines({"B|y", "sem barra"});
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("sem barra"), std::string::npos) << e.what();
    }
    EXPECT_EQ(msg.Msg("A"), "x");
    EXPECT_FALSE(msg.HasKey("B"));
}

TEST(TMessages, ShowMsgShowsTheTextWithTypeButtonsAndHelpContext) {
    ScriptedDialogs d;
    vlm::ScopedDialogs installed(d);
    TMessages msg;
    msg.SetLines({"NAO_GERADO|Não há dados para a consolidação de solicitações."});
    EXPECT_EQ(msg.ShowMsg("NAO_GERADO", mtConfirmation, {mbOK}, 0), mrOk);
    ASSERT_EQ(d.shown.size(), 1u);
    EXPECT_EQ(d.shown[0].kind, ShownDialog::Message);
    EXPECT_EQ(d.shown[0].text, "Não há dados para a consolidação de solicitações.");
    EXPECT_EQ(d.shown[0].type, mtConfirmation);
    EXPECT_EQ(d.shown[0].buttons.mask, 4u);
    EXPECT_EQ(d.shown[0].helpContext, 0);
}

TEST(MessageDlg, ButtonSetsAndScriptedAnswers) {
    struct Case {
        TMsgDlgButtons buttons;
        unsigned mask;
        int defaultAnswer;
    } cases[] = {
        {{mbOK}, 4u, mrOk},
        {{mbYes, mbNo}, 3u, mrYes},
        {{mbYes, mbNo, mbOK}, 7u, mrOk},
        {{}, 0u, mrOk},
    };
    for (const auto& c : cases) {
        ScriptedDialogs d;
        vlm::ScopedDialogs installed(d);
        EXPECT_EQ(c.buttons.mask, c.mask);
        EXPECT_EQ(MessageDlg("t", mtWarning, c.buttons, 7), c.defaultAnswer);
        d.queueMessageAnswer(mrNo);
        EXPECT_EQ(MessageDlg("t", mtWarning, c.buttons, 7), mrNo);
        EXPECT_EQ(d.shown.size(), 2u);
        EXPECT_EQ(d.shown[0].helpContext, 7);
    }
    EXPECT_EQ(TMsgDlgButtons::fromMask(4), TMsgDlgButtons({mbOK}));
}

TEST(MensErro, ShowsTheErrorAndAbortsOnlyWhenAsked) {
    ScriptedDialogs d;
    vlm::ScopedDialogs installed(d);
    EXPECT_NO_THROW(MensErro("Filial de processamento não possui central.", false));
    EXPECT_THROW(MensErro("Filial não cadastrada.", true), EAbort);
    EXPECT_EQ(
        d.texts(ShownDialog::Error),
        QStringList({"Filial de processamento não possui central.", "Filial não cadastrada."}));
}

TEST(Dispatch, SwallowsTheAbortAndShowsAnyOtherException) {
    struct Case {
        const char* name;
        std::function<void()> handler;
        QStringList errors;  // error dialogs the dispatcher adds
    } cases[] = {
        {"plain", [] {}, {}},
        {"abort", [] { throw EAbort(); }, {}},
        {"MensErro abort", [] { MensErro("Data inválida.", true); }, {"Data inválida."}},
        {"runtime_error", [] { throw std::runtime_error("conexão perdida"); }, {"conexão perdida"}},
        {"unknown", [] { throw 42; }, {"Erro desconhecido."}},
        {"empty handler", nullptr, {}},
    };
    for (const auto& c : cases) {
        ScriptedDialogs d;
        vlm::ScopedDialogs installed(d);
        EXPECT_NO_THROW(vlm::dispatch(c.handler)) << c.name;
        EXPECT_EQ(d.texts(ShownDialog::Error), c.errors) << c.name;
        EXPECT_EQ(d.shown.size(), static_cast<size_t>(c.errors.size())) << c.name;
    }
}

TEST(Dispatch, NestedHandlersEachCatchTheirOwnFailure) {
    ScriptedDialogs d;
    vlm::ScopedDialogs installed(d);
    bool after = false;
    vlm::dispatch([&] {
        vlm::dispatch([] { throw std::runtime_error("inner"); });
        after = true;
        MensErro("outer", true);
    });
    EXPECT_TRUE(after);
    EXPECT_EQ(d.texts(ShownDialog::Error), QStringList({"inner", "outer"}));
}

TEST(ScopedDialogs, RestoresThePreviousDialogs) {
    ScriptedDialogs outer;
    ScriptedDialogs inner;
    vlm::ScopedDialogs a(outer);
    {
        vlm::ScopedDialogs b(inner);
        EXPECT_EQ(&vlm::dialogs(), &inner);
    }
    EXPECT_EQ(&vlm::dialogs(), &outer);
}
