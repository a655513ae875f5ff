// Everything reachable from the keyboard: Ctrl+Enter presses the confirm button, F2 and
// Alt+Down in a search button's edit open its picker, Esc closes the pickers and the help.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QTableView>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>

#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "vlm/btn_pesquisa.h"
#include "vlm/data_set.h"
#include "vlm/dialogs.h"
#include "vlm/frm_roti_geral.h"
#include "vlm/helpers.h"
#include "vlm/pick_dialogs.h"

using vlm::ShownDialog;

namespace {

class Branches : public TDataSet {
  public:
    Branches() {
        AddField("CDFILIAL", 4)->DisplayLabel = "Código";
        AddField("NMFILIAL", 30)->DisplayLabel = "Nome";
    }
    void Open() override {
        replaceContent({"CDFILIAL", "NMFILIAL"}, {4, 30},
                       {{"0001", "Matriz"}, {"0002", "Loja Centro"}, {"0003", "Loja Norte"}});
    }
};

// A base form with a code edit, its search button and a plain edit.
struct Screen {
    vlm::ScriptedDialogs dialogs;
    vlm::ScopedDialogs installed{dialogs};
    Branches data;
    TDataSource source;
    TfrmRotiGeral form;
    TMaskEdit* code = new TMaskEdit(form.grbDadosRel);
    TBtnPesquisa* button = new TBtnPesquisa(form.grbDadosRel);
    TMaskEdit* other = new TMaskEdit(form.grbDadosRel);
    int confirms = 0;
    Screen() {
        auto* lay = new QVBoxLayout(form.grbDadosRel);
        lay->addWidget(code);
        lay->addWidget(button);
        lay->addWidget(other);
        source.DataSet = &data;
        button->Title = "Filial";
        button->DataSource = &source;
        button->Associate = code;
        form.sbtConfirma->OnClick = [this](QObject*) { ++confirms; };
        form.show();
        QApplication::setActiveWindow(&form);
        code->setFocus(Qt::OtherFocusReason);
        QApplication::processEvents();
    }
    int picks() const {
        int n = 0;
        for (const auto& d : dialogs.shown)
            n += d.kind == ShownDialog::PickOne ? 1 : 0;
        return n;
    }
};

}  // namespace

TEST(KeyboardAccess, CtrlEnterPressesTheConfirmButtonFromAnyControl) {
    Screen s;
    const QString hint = s.form.sbtConfirma->Hint();
    QTest::keyClick(s.code, Qt::Key_Return, Qt::ControlModifier);
    QTest::keyClick(s.other, Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
    EXPECT_EQ(s.confirms, 2);
    QTest::keyClick(s.code, Qt::Key_Return);
    EXPECT_EQ(s.confirms, 2) << "Enter alone is not the shortcut";
    s.form.sbtConfirma->setEnabled(false);
    QTest::keyClick(s.code, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(s.confirms, 2) << "a disabled button is not pressed";
    EXPECT_EQ(s.form.sbtConfirma->Hint(), hint);
}

TEST(KeyboardAccess, F2AndAltDownInTheEditOpenItsPicker) {
    Screen s;
    s.dialogs.queuePick(1);
    QTest::keyClick(s.code, Qt::Key_F2);
    EXPECT_EQ(s.picks(), 1);
    EXPECT_EQ(s.data.FieldByName("CDFILIAL")->AsString(), "0002");
    QTest::keyClick(s.code, Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(s.picks(), 2);
    EXPECT_EQ(s.code->text(), "") << "the key itself types nothing";

    QTest::keyClick(s.other, Qt::Key_F2);
    QTest::keyClick(s.code, Qt::Key_Down);
    EXPECT_EQ(s.picks(), 2) << "another edit and a plain Down open nothing";
    s.button->setEnabled(false);
    QTest::keyClick(s.code, Qt::Key_F2);
    EXPECT_EQ(s.picks(), 2) << "a disabled button opens nothing";
}

TEST(KeyboardAccess, EscClosesBothPickersWhereverTheirFocusIs) {
    Branches data;
    data.Open();
    for (bool inTable : {false, true}) {
        SCOPED_TRACE(inTable ? "focus in the table" : "focus in the search box");
        vlm::PickOneDialog one(data, "Filial");
        QString list;
        vlm::PickListDialog many(data, "CDFILIAL", "Filial", false, list);
        for (QDialog* dlg : std::initializer_list<QDialog*>{&one, &many}) {
            int result = -1;
            QTimer::singleShot(0, dlg, [dlg, inTable] {
                QWidget* target = inTable ? static_cast<QWidget*>(dlg->findChild<QTableView*>())
                                          : dlg->findChild<QLineEdit*>("search");
                target->setFocus(Qt::OtherFocusReason);
                QTest::keyClick(target, Qt::Key_Escape);
            });
            QTimer::singleShot(2000, dlg, [dlg] { dlg->done(99); });
            result = dlg->exec();
            EXPECT_EQ(result, QDialog::Rejected);
        }
    }
}

TEST(KeyboardAccess, EscClosesTheHelpWindow) {
    rqc::test::TempDir dir;
    const QString page = QString::fromStdString(dir.file("1.html"));
    QFile f(page);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        "<html><head><title>Consulta de Consolidação</title></head><body><h1>Ajuda</h1>"
        "</body></html>");
    f.close();
    QWidget main;
    vlm::setMainForm(&main);
    main.show();
    vlm::dialogs().showHelp(page, 1);
    QApplication::processEvents();
    QDialog* help = main.findChild<QDialog*>("vlmHelp");
    ASSERT_NE(help, nullptr);
    ASSERT_TRUE(help->isVisible());
    EXPECT_EQ(help->windowTitle(), QStringLiteral("Ajuda - Consulta de Consolidação"));
    QWidget* browser = help->findChild<QTextBrowser*>();
    browser->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(browser, Qt::Key_Escape);
    QApplication::processEvents();
    help = main.findChild<QDialog*>("vlmHelp");
    EXPECT_TRUE(help == nullptr || !help->isVisible());
    vlm::setMainForm(nullptr);
}
