// The list picker and the single pick as real windows on the offscreen platform, driven by
// keys and clicks; the data comes from the suite's demo master data.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <array>
#include <functional>
#include <optional>

#include "suitedb/demo_data.h"
#include "vlm/btn_pesquisa.h"
#include "vlm/controls.h"
#include "vlm/data_set.h"
#include "vlm/dialogs.h"
#include "vlm/helpers.h"
#include "vlm/messages.h"
#include "vlm/pick_dialogs.h"

using vlm::PickListDialog;
using vlm::PickOneDialog;

namespace {

// A data set filled from rows given in the test, with its fields declared first.
class Rows : public TDataSet {
  public:
    TField* field(const QString& name, int size, const QString& label = {}, bool visible = true) {
        TField* f = AddField(name, size);
        f->DisplayLabel = label;
        f->Visible = visible;
        return f;
    }
    void fill(std::vector<std::vector<Cell>> rows) {
        QStringList names;
        QVector<int> sizes;
        for (const auto& f : Fields()) {
            names << f->FieldName;
            sizes << f->Size;
        }
        replaceContent(names, sizes, std::move(rows));
    }
};

const rqc::suitedb::MasterData& demo() {
    static const auto data = rqc::suitedb::demoMasterData(rqc::suitedb::localToday());
    return data;
}

// FILIAL as the branch picker's query yields it.
void fillBranches(Rows& r) {
    r.field("CDFILIAL", 4, "Código")->DisplayWidth = 8;
    r.field("NMFILIAL", 30, "Nome");
    r.field("IDCNTRRESC", 1, {}, false);
    std::vector<std::vector<TDataSet::Cell>> rows;
    for (const auto& b : demo().branches) {
        rows.push_back({QString::fromStdString(b.code), QString::fromStdString(b.name),
                        QString::fromStdString(b.rescinded)});
    }
    r.fill(std::move(rows));
}

// PRODUTO as the product query yields it, the code drawn in the product picture.
void fillProducts(Rows& r) {
    r.field("CDPRODUTO", 10, {}, false);
    r.field("CDARVPROD", 20, "Código")->EditMask = DBPict(0);
    r.field("NMPRODUTO", 50, "Nome");
    std::vector<std::vector<TDataSet::Cell>> rows;
    for (const auto& p : demo().products) {
        rows.push_back({QString::fromStdString(p.code), QString::fromStdString(p.tree),
                        QString::fromStdString(p.name)});
    }
    r.fill(std::move(rows));
}

// The requests a GetSolicitacao answer carries: key = branch(4) + branch(4) + number(10).
void fillRequests(Rows& r, const std::vector<std::array<const char*, 3>>& requests) {
    r.field("IDMARCADO", 1);
    r.field("CHAVE", 18, {}, false);
    r.field("CDFILSOLI", 4, "Filial Solicitante");
    r.field("CDFILLANCA", 4, "Filial de Lançamento");
    r.field("NRSOLICMP", 10, "N° Solicitação");
    std::vector<std::vector<TDataSet::Cell>> rows;
    for (const auto& q : requests) {
        QString number = QString(q[2]).leftJustified(10);
        rows.push_back({"N", QString(q[0]) + q[1] + number, q[0], q[1], number});
    }
    r.fill(std::move(rows));
}

QStringList headers(QTableView* view) {
    QStringList out;
    for (int c = 0; c < view->model()->columnCount(); ++c)
        out << view->model()->headerData(c, Qt::Horizontal).toString();
    return out;
}

QString cell(QTableView* view, int row, int column) {
    return view->model()->index(row, column).data().toString();
}

int rowOfCode(const Rows& r, const QString& code) {
    for (int i = 0; i < r.RecordCount(); ++i) {
        if (r.value(i, 0) == code)
            return i;
    }
    return -1;
}

// Runs `fn` on the modal window once the event loop shows it.
void whenModal(std::function<void(QWidget*)> fn) {
    QTimer::singleShot(0, [fn] {
        QWidget* w = QApplication::activeModalWidget();
        ASSERT_NE(w, nullptr);
        fn(w);
    });
}

}  // namespace

TEST(PickListDialog, ShowsVisibleFieldsUnderTheirLabelsAndTicksTheIncomingList) {
    Rows requests;
    fillRequests(requests,
                 {{"0002", "0002", "101"}, {"0002", "0005", "7"}, {"0003", "0003", "2024000001"}});
    // The incoming list names rows 0 and 2 (trimmed keys) and a request no longer offered.
    PickListDialog dlg(requests, "CHAVE", "Solicitação", false,
                       " 00020002101 , 000300032024000001,000900091", nullptr);
    QTableView* view = dlg.table();
    EXPECT_EQ(headers(view),
              QStringList({"", "Filial Solicitante", "Filial de Lançamento", "N° Solicitação"}));
    EXPECT_EQ(cell(view, 1, 2), "0005");
    EXPECT_TRUE(dlg.ticked(0));
    EXPECT_FALSE(dlg.ticked(1));
    EXPECT_TRUE(dlg.ticked(2));
    EXPECT_EQ(view->model()->index(0, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_EQ(dlg.findChild<QLabel*>("status")->text(), "2 de 3 marcados");
    EXPECT_EQ(dlg.listText(), "00020002101,000300032024000001");
    EXPECT_EQ(dlg.windowTitle(), "Solicitação");
}

TEST(PickListDialog, SearchKeepsRowsWithTheTextInAnyShownColumnIgnoringCaseAndAccents) {
    Rows branches;
    fillBranches(branches);
    PickListDialog dlg(branches, "CDFILIAL", "Filial", false, "", nullptr);
    dlg.show();
    struct Case {
        const char* typed;
        int shown;  // rows with the text, counted in the demo branches directly
    };
    auto count = [&](const QString& needle) {
        int n = 0;
        for (const auto& b : demo().branches) {
            QString all = QString::fromStdString(b.code) + " " + QString::fromStdString(b.name);
            n += vlm::searchFold(all).contains(vlm::searchFold(needle)) ? 1 : 0;
        }
        return n;
    };
    const QString aName = QString::fromStdString(demo().branches[2].name);
    for (const QString& typed : {QString("0001"), aName.toUpper(), aName.toLower().left(4),
                                 QString("LOJA"), QString("zzzz"), QString("")}) {
        dlg.searchBox()->clear();
        QTest::keyClicks(dlg.searchBox(), typed);
        EXPECT_EQ(dlg.shownCount(), count(typed)) << typed.toStdString();
        EXPECT_EQ(dlg.findChild<QLabel*>("emptyState")->isVisible(), count(typed) == 0)
            << typed.toStdString();
    }
    EXPECT_EQ(dlg.shownCount(), branches.RecordCount());
    EXPECT_GT(count("0001"), 0);
    EXPECT_EQ(vlm::searchFold("Lançamento São PAULO"), "lancamento sao paulo");
}

TEST(PickListDialog, HiddenFieldsAreNeitherShownNorSearched) {
    Rows r;
    r.field("CDFILIAL", 4, "Código");
    r.field("OBS", 20, "Observação", false);
    r.fill({{"0001", "contrato rescindido"}, {"0002", "ativa"}});
    PickListDialog dlg(r, "CDFILIAL", "Filial", false, "", nullptr);
    EXPECT_EQ(headers(dlg.table()), QStringList({"", "Código"}));
    dlg.setSearch("rescindido");
    EXPECT_EQ(dlg.shownCount(), 0);
    dlg.setSearch("0002");
    EXPECT_EQ(dlg.shownCount(), 1);
}

TEST(PickListDialog, ClickOnTheTickBoxOrDoubleClickOnTheRowToggles) {
    Rows branches;
    fillBranches(branches);
    PickListDialog dlg(branches, "CDFILIAL", "Filial", false, "", nullptr);
    dlg.show();
    QApplication::processEvents();
    QTableView* view = dlg.table();
    const QRect box = view->visualRect(view->model()->index(1, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_TRUE(dlg.ticked(1));
    const QPoint name = view->visualRect(view->model()->index(3, 2)).center();
    auto doubleClick = [&] {  // the first press and release, then the second press
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, name);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, name);
    };
    doubleClick();
    EXPECT_TRUE(dlg.ticked(3));
    doubleClick();
    EXPECT_FALSE(dlg.ticked(3));
    EXPECT_EQ(dlg.tickedCount(), 1);
}

TEST(PickListDialog, MarcarTodosAndLimparActOnTheRowsShown) {
    Rows branches;
    fillBranches(branches);
    const int total = branches.RecordCount();
    PickListDialog dlg(branches, "CDFILIAL", "Filial", false, "", nullptr);
    dlg.show();
    auto* all = dlg.findChild<QPushButton*>("tickAll");
    auto* none = dlg.findChild<QPushButton*>("clearTicks");
    QTest::keyClicks(dlg.searchBox(), "000");
    const int shown = dlg.shownCount();
    ASSERT_GT(shown, 0);
    ASSERT_LT(shown, total);
    all->click();
    EXPECT_EQ(dlg.tickedCount(), shown);
    dlg.searchBox()->clear();
    EXPECT_EQ(dlg.tickedCount(), shown);  // the hidden rows kept their ticks
    all->click();
    EXPECT_EQ(dlg.tickedCount(), total);
    QTest::keyClicks(dlg.searchBox(), "000");
    none->click();
    EXPECT_EQ(dlg.tickedCount(), total - shown);
    QTest::keyClicks(dlg.searchBox(), "no such branch");
    EXPECT_FALSE(all->isEnabled());
    EXPECT_FALSE(none->isEnabled());
}

TEST(PickListDialog, TickAllStartsWithEveryRowTickedAndDuplicateKeysComeOnce) {
    Rows r;
    r.field("CDOPERADOR", 12, "Código");
    r.field("NMOPERADOR", 40, "Nome");
    r.fill(
        {{"COMP01", "Ana"}, {"COMP02", "Bruno"}, {"COMP01", "Ana (cópia)"}, {std::nullopt, "?"}});
    PickListDialog dlg(r, "CDOPERADOR", "Comprador", true, "", nullptr);
    EXPECT_EQ(dlg.tickedCount(), 4);
    EXPECT_EQ(dlg.listText(), "COMP01,COMP02");
}

TEST(PickListDialog, ColumnsFollowDisplayWidthsAndCellsTheEditMask) {
    Rows branches;
    fillBranches(branches);
    PickListDialog b(branches, "CDFILIAL", "Filial", false, "", nullptr);
    QHeaderView* h = b.table()->horizontalHeader();
    EXPECT_LT(h->sectionSize(1), h->sectionSize(2) / 2);  // 8 characters against 30
    EXPECT_EQ(h->sectionSize(0), 30);                     // the tick column

    Rows stored;  // codes stored without the dots show with them
    stored.field("CODIGO", 11, "Código")->EditMask = "99.99.999.9999;0;_";
    stored.fill({{"01010010001"}, {"01.01.001.0002"}, {"0102"}});
    PickListDialog s(stored, "CODIGO", "Produto", false, "", nullptr);
    EXPECT_EQ(cell(s.table(), 0, 1), "01.01.001.0001");
    EXPECT_EQ(cell(s.table(), 1, 1), "01.01.001.0002");
    EXPECT_EQ(cell(s.table(), 2, 1), "01.02");
}

TEST(PickListDialog, HundredThousandRowsFilterAndTickThroughTheModel) {
    Rows r;
    r.field("CHAVE", 18, {}, false);
    r.field("CDFILSOLI", 4, "Filial Solicitante");
    r.field("NRSOLICMP", 10, "N° Solicitação");
    std::vector<std::vector<TDataSet::Cell>> rows;
    rows.reserve(100000);
    for (int i = 0; i < 100000; ++i) {
        QString branch = QString::number(i % 50 + 1).rightJustified(4, '0');
        QString number = QString::number(i).rightJustified(10, '0');
        rows.push_back({branch + number, branch, number});
    }
    r.fill(std::move(rows));
    PickListDialog dlg(r, "CHAVE", "Solicitação", false, "", nullptr);
    dlg.show();
    QApplication::processEvents();
    EXPECT_EQ(dlg.table()->model()->rowCount(), 100000);
    EXPECT_TRUE(dlg.findChildren<QWidget*>().size() < 100);  // no widget per row
    int matching = 0;
    for (int i = 0; i < 100000; ++i)
        matching += QString::number(i).rightJustified(10, '0').contains("0000099") ? 1 : 0;
    QTest::keyClicks(dlg.searchBox(), "0000099");
    EXPECT_EQ(dlg.shownCount(), matching);
    dlg.findChild<QPushButton*>("tickAll")->click();
    EXPECT_EQ(dlg.tickedCount(), matching);
    dlg.searchBox()->clear();
    EXPECT_EQ(dlg.shownCount(), 100000);
    dlg.findChild<QPushButton*>("tickAll")->click();
    EXPECT_EQ(vlm::listValues(dlg.listText()).size(), 100000);
}

// ---- The picker through PesquisaLista, as a screen opens it

TEST(PesquisaLista, TypingSpaceAndEnterReturnTheTickedBranches) {
    Rows branches;
    fillBranches(branches);
    TDataSource source;
    source.DataSet = &branches;
    const QString first = QString::fromStdString(demo().branches[0].code);
    const QString third = QString::fromStdString(demo().branches[2].code);
    QString list = first;
    whenModal([&](QWidget* w) {
        auto* dlg = qobject_cast<PickListDialog*>(w);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->focusWidget(), dlg->searchBox());
        QTest::keyClicks(dlg->searchBox(), third);
        QTest::keyClick(dlg->searchBox(), Qt::Key_Down);  // the current row stays on the match
        QTest::keyClick(dlg->table(), Qt::Key_Space);
        QTest::keyClick(dlg->searchBox(), Qt::Key_Return);
    });
    EXPECT_TRUE(PesquisaLista(&source, "CDFILIAL", "Filial", false, list));
    EXPECT_EQ(list, first + "," + third);
}

TEST(PesquisaLista, SpaceTogglesAndArrowsMoveThroughTheRows) {
    Rows branches;
    fillBranches(branches);
    TDataSource source;
    source.DataSet = &branches;
    QString list = QString::fromStdString(demo().branches[1].code);
    whenModal([](QWidget* w) {
        auto* dlg = qobject_cast<PickListDialog*>(w);
        QTest::keyClick(dlg->searchBox(), Qt::Key_Down);   // row 1, ticked
        QTest::keyClick(dlg->searchBox(), Qt::Key_Space);  // unticked from the empty search
        EXPECT_EQ(dlg->searchBox()->text(), "");
        QTest::keyClick(dlg->table(), Qt::Key_Down);
        QTest::keyClick(dlg->table(), Qt::Key_Space);  // row 2 ticked
        QTest::keyClick(dlg->table(), Qt::Key_Return);
    });
    EXPECT_TRUE(PesquisaLista(&source, "CDFILIAL", "Filial", false, list));
    EXPECT_EQ(list, QString::fromStdString(demo().branches[2].code));
}

TEST(PesquisaLista, EscapeAndCancelLeaveTheListAsItWas) {
    Rows branches;
    fillBranches(branches);
    TDataSource source;
    source.DataSet = &branches;
    QString list = "0001,0002";
    whenModal([](QWidget* w) {
        auto* dlg = qobject_cast<PickListDialog*>(w);
        dlg->findChild<QPushButton*>("clearTicks")->click();
        QTest::keyClick(dlg->searchBox(), Qt::Key_Escape);
    });
    EXPECT_FALSE(PesquisaLista(&source, "CDFILIAL", "Filial", false, list));
    EXPECT_EQ(list, "0001,0002");
    whenModal([](QWidget* w) {
        auto* dlg = qobject_cast<PickListDialog*>(w);
        dlg->findChild<QPushButton*>("tickAll")->click();
        dlg->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    });
    EXPECT_FALSE(PesquisaLista(&source, "CDFILIAL", "Filial", false, list));
    EXPECT_EQ(list, "0001,0002");
}

TEST(PesquisaLista, EmptyDataSetShowsNenhumRegistroAndOkEmptiesTheList) {
    Rows requests;
    fillRequests(requests, {});
    TDataSource source;
    source.DataSet = &requests;
    QString list = "00020002101";
    whenModal([](QWidget* w) {
        auto* dlg = qobject_cast<PickListDialog*>(w);
        auto* empty = dlg->findChild<QLabel*>("emptyState");
        EXPECT_TRUE(empty->isVisible());
        EXPECT_EQ(empty->text(), "Nenhum registro");
        EXPECT_FALSE(dlg->findChild<QPushButton*>("tickAll")->isEnabled());
        EXPECT_TRUE(dlg->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isEnabled());
        QTest::keyClick(dlg->searchBox(), Qt::Key_Enter);
    });
    EXPECT_TRUE(PesquisaLista(&source, "CHAVE", "Solicitação", false, list));
    EXPECT_EQ(list, "");
}

// ---- The single pick

TEST(PickOneDialog, StartsOnTheCurrentRowAndEnterPicksTheRowMovedTo) {
    Rows branches;
    fillBranches(branches);
    branches.MoveTo(3);
    whenModal([](QWidget* w) {
        auto* dlg = qobject_cast<PickOneDialog*>(w);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->pickedRow(), 3);
        QTest::keyClick(dlg->searchBox(), Qt::Key_Down);
        QTest::keyClick(dlg->searchBox(), Qt::Key_Return);
    });
    EXPECT_TRUE(vlm::dialogs().pickOne(branches, "Filial"));
    EXPECT_EQ(branches.RecNo(), 4);
}

TEST(PickOneDialog, TypingNarrowsTheRowsAndEnterPicksTheFirstMatch) {
    Rows products;
    fillProducts(products);
    const auto& wanted = demo().products[7];
    whenModal([&](QWidget* w) {
        auto* dlg = qobject_cast<PickOneDialog*>(w);
        QTest::keyClicks(dlg->searchBox(), QString::fromStdString(wanted.name).toLower());
        EXPECT_EQ(dlg->shownCount(), 1);
        QTest::keyClick(dlg->table(), Qt::Key_Return);
    });
    EXPECT_TRUE(vlm::dialogs().pickOne(products, "Produto Inicial"));
    EXPECT_EQ(products.FieldByName("CDPRODUTO")->AsString(), QString::fromStdString(wanted.code));
}

TEST(PickOneDialog, DoubleClickPicksAndEscapeCancels) {
    Rows branches;
    fillBranches(branches);
    whenModal([](QWidget* w) {
        auto* dlg = qobject_cast<PickOneDialog*>(w);
        QTableView* view = dlg->table();
        QRect r = view->visualRect(view->model()->index(2, 1));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, r.center());
    });
    EXPECT_TRUE(vlm::dialogs().pickOne(branches, "Filial"));
    EXPECT_EQ(branches.RecNo(), 2);
    whenModal([](QWidget* w) {
        auto* dlg = qobject_cast<PickOneDialog*>(w);
        QTest::keyClick(dlg->searchBox(), Qt::Key_Down);
        QTest::keyClick(dlg->searchBox(), Qt::Key_Escape);
    });
    EXPECT_FALSE(vlm::dialogs().pickOne(branches, "Filial"));
    EXPECT_EQ(branches.RecNo(), 2);
}

TEST(PickOneDialog, NoMatchLeavesNothingToPick) {
    Rows branches;
    fillBranches(branches);
    PickOneDialog dlg(branches, "Filial", nullptr);
    dlg.show();
    QTest::keyClicks(dlg.searchBox(), "nenhuma filial tem este nome");
    EXPECT_EQ(dlg.pickedRow(), -1);
    EXPECT_FALSE(dlg.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isEnabled());
    EXPECT_TRUE(dlg.findChild<QLabel*>("emptyState")->isVisible());
    dlg.searchBox()->clear();
    EXPECT_EQ(dlg.pickedRow(), 0);
}

// ---- The search button with the real single pick

TEST(TBtnPesquisa, PesqChaveOpensOnTheTypedProductAndEnterCopiesThePick) {
    Rows products;
    fillProducts(products);
    TDataSource source;
    source.DataSet = &products;
    QWidget form;
    auto* code = new TMaskEdit(&form);
    code->SetEditMask(DBPict(0));
    auto* button = new TBtnPesquisa(&form);
    button->Title = "Produto Inicial";
    button->DataSource = &source;
    button->Associate = code;
    button->PesqChave = true;
    button->OnAfterPesq = [&](QObject*) {
        code->SetText(products.FieldByName("CDARVPROD")->AsString());
    };
    form.show();
    const auto& start = demo().products[5];
    const auto& next = demo().products[6];
    code->SetText(QString::fromStdString(start.tree));
    whenModal([&](QWidget* w) {
        auto* dlg = qobject_cast<PickOneDialog*>(w);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->pickedRow(), 5);
        EXPECT_EQ(cell(dlg->table(), 5, 0), QString::fromStdString(start.tree));
        QTest::keyClick(dlg->searchBox(), Qt::Key_Down);
        QTest::keyClick(dlg->searchBox(), Qt::Key_Return);
    });
    button->click();
    EXPECT_EQ(code->Text(), QString::fromStdString(next.tree));
    EXPECT_EQ(rowOfCode(products, QString::fromStdString(next.code)), 6);
}

TEST(TBtnPesquisa, PesqChaveStartsOnTheFirstCodeBeginningWithAPartialCode) {
    Rows products;
    fillProducts(products);
    TDataSource source;
    source.DataSet = &products;
    QWidget form;
    auto* code = new TMaskEdit(&form);
    code->SetEditMask(DBPict(0));
    auto* button = new TBtnPesquisa(&form);
    button->DataSource = &source;
    button->Associate = code;
    button->PesqChave = true;
    form.show();
    code->setFocus();
    code->setCursorPosition(0);
    QTest::keyClicks(code, "0201");  // group 02, subgroup 01
    ASSERT_EQ(code->Text(), "02.01");
    int expected = -1;
    for (int i = 0; i < static_cast<int>(demo().products.size()) && expected < 0; ++i) {
        if (QString::fromStdString(demo().products[i].tree).startsWith("02.01"))
            expected = i;
    }
    ASSERT_GT(expected, 0);
    int started = -1;
    whenModal([&](QWidget* w) {
        started = qobject_cast<PickOneDialog*>(w)->pickedRow();
        QTest::keyClick(w, Qt::Key_Escape);
    });
    button->click();
    EXPECT_EQ(started, expected);
}

TEST(TBtnPesquisa, EmptyErrorShowsInTheErrorDialogInsteadOfThePick) {
    Rows branches;
    branches.field("CDFILIAL", 4, "Código");
    branches.fill({});
    TDataSource source;
    source.DataSet = &branches;
    TBtnPesquisa button;
    button.DataSource = &source;
    button.EmptyError = "Não há filial cadastrada.";
    QString shown;
    whenModal([&](QWidget* w) {
        EXPECT_EQ(qobject_cast<PickOneDialog*>(w), nullptr);
        for (QLabel* l : w->findChildren<QLabel*>()) {
            if (l->text().contains("filial"))
                shown = l->text();
        }
        QTest::keyClick(w, Qt::Key_Escape);
    });
    button.click();
    EXPECT_EQ(shown, "Não há filial cadastrada.");
}
