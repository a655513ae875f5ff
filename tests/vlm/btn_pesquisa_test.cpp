#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "support/scripted_dialogs.h"
#include "vlm/btn_pesquisa.h"
#include "vlm/data_set.h"
#include "vlm/dialogs.h"
#include "vlm/helpers.h"

using vlm::ScriptedDialogs;
using vlm::ShownDialog;

namespace {

// Branch rows as a look-up query yields them, opened on demand.
class Branches : public TDataSet {
  public:
    Branches() {
        AddField("CDFILIAL", 4)->DisplayLabel = "Código";
        AddField("NMFILIAL", 30)->DisplayLabel = "Nome";
        AddField("IDCNTRRESC", 1)->Visible = false;
    }
    std::vector<std::vector<Cell>> rows = {
        {"0001", "Matriz", "N"}, {"0002", "Loja Centro", "N"}, {"0003", "Loja Norte", "S"}};
    int opens = 0;
    void Open() override {
        ++opens;
        replaceContent({"CDFILIAL", "NMFILIAL", "IDCNTRRESC"}, {4, 30, 1}, rows);
    }
};

struct Screen {
    Branches data;
    TDataSource source;
    QWidget form;
    TMaskEdit* code = new TMaskEdit(&form);
    TEdit* name = new TEdit(&form);
    TBtnPesquisa* button = new TBtnPesquisa(&form);
    QStringList log;
    Screen() {
        source.DataSet = &data;
        button->Title = "Filial";
        button->DataSource = &source;
        button->Associate = code;
        button->EmptyError = "Não há filial cadastrada.";
        button->OnBeforePesq = [this](QObject* s, bool& go) {
            EXPECT_EQ(s, button);
            EXPECT_TRUE(go);
            log << "before";
            data.Close();
            data.Open();
        };
        button->OnAfterPesq = [this](QObject*) {
            log << "after " + data.FieldByName("CDFILIAL")->AsString();
            code->SetText(data.FieldByName("CDFILIAL")->AsString());
            name->SetText(data.FieldByName("NMFILIAL")->AsString());
        };
        code->OnChange = [this](QObject*) { name->SetText(""); };
    }
};

}  // namespace

TEST(TBtnPesquisa, PickRunsBeforeThenTheDialogThenAfterOnThePickedRow) {
    ScriptedDialogs d;
    vlm::ScopedDialogs installed(d);
    Screen s;
    d.queuePick(2);
    s.button->click();
    EXPECT_EQ(s.log, QStringList({"before", "after 0003"}));
    EXPECT_EQ(s.code->Text(), "0003");
    EXPECT_EQ(s.name->Text(), "Loja Norte");
    ASSERT_EQ(d.shown.size(), 1u);
    EXPECT_EQ(d.shown[0].kind, ShownDialog::PickOne);
    EXPECT_EQ(d.shown[0].text, "Filial");
}

TEST(TBtnPesquisa, CancelLeavesEverythingAsItWas) {
    ScriptedDialogs d;
    vlm::ScopedDialogs installed(d);
    Screen s;
    s.code->SetText("0001");
    s.name->SetText("Matriz");
    d.queuePick(-1);
    s.button->click();
    EXPECT_EQ(s.log, QStringList({"before"}));
    EXPECT_EQ(s.code->Text(), "0001");
    EXPECT_EQ(s.name->Text(), "Matriz");
}

TEST(TBtnPesquisa, EmptyDataSetShowsEmptyErrorAndNoDialog) {
    ScriptedDialogs d;
    vlm::ScopedDialogs installed(d);
    Screen s;
    s.data.rows.clear();
    s.button->click();
    EXPECT_EQ(s.log, QStringList({"before"}));
    EXPECT_EQ(d.texts(ShownDialog::Error), QStringList({"Não há filial cadastrada."}));
    EXPECT_TRUE(d.texts(ShownDialog::PickOne).isEmpty());
}

TEST(TBtnPesquisa, FailuresInTheHandlersAreCaughtByTheDispatcher) {
    ScriptedDialogs d;
    vlm::ScopedDialogs installed(d);
    Screen s;
    s.button->OnBeforePesq = [](QObject*, bool&) { MensErro("Banco fora do ar.", true); };
    s.button->click();
    s.button->OnBeforePesq = [](QObject*, bool& go) { go = false; };
    s.button->click();
    EXPECT_EQ(d.texts(ShownDialog::Error), QStringList({"Banco fora do ar."}));
    EXPECT_TRUE(d.texts(ShownDialog::PickOne).isEmpty());
    s.button->OnBeforePesq = nullptr;
    s.button->DataSource = nullptr;
    s.button->click();
    EXPECT_EQ(d.texts(ShownDialog::Error).size(), 2);
}

TEST(TBtnPesquisa, PesqChaveStartsOnTheRowOfTheAssociatedCode) {
    Screen s;
    s.button->PesqChave = true;
    s.code->SetText("0002");
    int startRow = -1;
    struct Peek : ScriptedDialogs {
        int* row;
        bool pickOne(TDataSet& data, const QString& title) override {
            *row = data.RecNo();
            return ScriptedDialogs::pickOne(data, title);
        }
    } d;
    d.row = &startRow;
    vlm::ScopedDialogs installed(d);
    s.button->click();
    EXPECT_EQ(startRow, 1);
}

TEST(PesquisaLista, OpensAClosedDataSetAndReturnsTheTickedKeys) {
    ScriptedDialogs d;
    vlm::ScopedDialogs installed(d);
    Branches data;
    TDataSource source;
    source.DataSet = &data;
    QString list = "0009";
    d.queueListPick(std::vector<int>{0, 2});
    EXPECT_TRUE(PesquisaLista(&source, "CDFILIAL", "Filial", false, list));
    EXPECT_EQ(data.opens, 1);
    EXPECT_EQ(list, "0001,0003");
    d.queueListPick(std::nullopt);
    EXPECT_FALSE(PesquisaLista(&source, "CDFILIAL", "Filial", false, list));
    EXPECT_EQ(list, "0001,0003");
    EXPECT_EQ(data.opens, 1);
    d.queueListPick(std::vector<int>{});
    EXPECT_TRUE(PesquisaLista(&source, "CDFILIAL", "Filial", false, list));
    EXPECT_EQ(list, "");
    EXPECT_THROW(PesquisaLista(&source, "NAOEXISTE", "Filial", false, list), std::runtime_error);
    EXPECT_EQ(d.texts(ShownDialog::PickList), QStringList({"Filial", "Filial", "Filial"}));
}

// The real Qt dialogs, driven through their widgets.
namespace {

template <class Fn>
void whenModal(Fn fn) {
    QTimer::singleShot(0, [fn] {
        QWidget* w = QApplication::activeModalWidget();
        ASSERT_NE(w, nullptr);
        fn(w);
    });
}

}  // namespace

TEST(QtDialogs, MessageDialogReturnsThePressedButton) {
    whenModal([](QWidget* w) {
        for (auto* b : w->findChildren<QPushButton*>()) {
            if (b->text() == "Não")
                b->click();
        }
    });
    EXPECT_EQ(MessageDlg("Confirma?", mtConfirmation, {mbYes, mbNo}, 0), mrNo);
}
