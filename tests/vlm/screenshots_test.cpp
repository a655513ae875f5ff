// Pictures of the pick windows and the waiting window over demo data, saved under var/ of the
// source tree for a look by eye (RQC_SCREENSHOT_DIR overrides the folder).
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QTableView>
#include <QTest>

#include "suitedb/demo_data.h"
#include "vlm/data_set.h"
#include "vlm/date_edit_plus.h"
#include "vlm/helpers.h"
#include "vlm/pick_dialogs.h"

namespace {

class Rows : public TDataSet {
  public:
    void fill(const QStringList& names, std::vector<std::vector<Cell>> rows) {
        QVector<int> sizes;
        for (const QString& n : names)
            sizes << FieldByName(n)->Size;
        replaceContent(names, sizes, std::move(rows));
    }
};

QString shotPath(const QString& name) {
    QString dir = qEnvironmentVariable("RQC_SCREENSHOT_DIR");
    if (dir.isEmpty())
        dir = qEnvironmentVariable("RQC_SOURCE_DIR", ".") + "/var";
    QDir().mkpath(dir);
    return QDir(dir).filePath(name);
}

// Saves the widget's window as it is drawn; the image must not be blank.
void save(QWidget& w, const QString& name) {
    QApplication::processEvents();
    QImage img = w.grab().toImage();
    ASSERT_FALSE(img.isNull());
    ASSERT_GT(img.width(), 100);
    bool varied = false;
    for (int y = 0; y < img.height() && !varied; y += 7) {
        for (int x = 0; x < img.width() && !varied; x += 7)
            varied = img.pixel(x, y) != img.pixel(0, 0);
    }
    EXPECT_TRUE(varied) << name.toStdString();
    const QString path = shotPath(name);
    ASSERT_TRUE(img.save(path)) << path.toStdString();
}

const rqc::suitedb::MasterData& demo() {
    static const auto data = rqc::suitedb::demoMasterData(rqc::suitedb::localToday());
    return data;
}

}  // namespace

TEST(Screenshots, ListPickerOverTheDemoBranchesWithTicks) {
    Rows branches;
    branches.AddField("CDFILIAL", 4)->DisplayLabel = "Código";
    branches.FieldByName("CDFILIAL")->DisplayWidth = 8;
    branches.AddField("NMFILIAL", 30)->DisplayLabel = "Nome";
    branches.AddField("IDCNTRRESC", 1)->Visible = false;
    std::vector<std::vector<TDataSet::Cell>> rows;
    for (const auto& b : demo().branches) {
        rows.push_back({QString::fromStdString(b.code), QString::fromStdString(b.name),
                        QString::fromStdString(b.rescinded)});
    }
    branches.fill({"CDFILIAL", "NMFILIAL", "IDCNTRRESC"}, std::move(rows));
    const QString list = QString::fromStdString(
        demo().branches[1].code + "," + demo().branches[3].code + "," + demo().branches[4].code);
    vlm::PickListDialog dlg(branches, "CDFILIAL", "Filial", false, list, nullptr);
    dlg.show();
    QTest::keyClick(dlg.searchBox(), Qt::Key_Down);
    save(dlg, "vlm5-pick-list.png");
    EXPECT_EQ(dlg.tickedCount(), 3);
}

TEST(Screenshots, SinglePickOverTheDemoProducts) {
    Rows products;
    products.AddField("CDPRODUTO", 10)->Visible = false;
    products.AddField("CDARVPROD", 20)->DisplayLabel = "Código";
    products.FieldByName("CDARVPROD")->EditMask = DBPict(0);
    products.AddField("NMPRODUTO", 50)->DisplayLabel = "Nome";
    std::vector<std::vector<TDataSet::Cell>> rows;
    for (const auto& p : demo().products) {
        rows.push_back({QString::fromStdString(p.code), QString::fromStdString(p.tree),
                        QString::fromStdString(p.name)});
    }
    products.fill({"CDPRODUTO", "CDARVPROD", "NMPRODUTO"}, std::move(rows));
    products.MoveTo(2);
    vlm::PickOneDialog dlg(products, "Produto Inicial", nullptr);
    dlg.show();
    save(dlg, "vlm5-pick-one.png");
    QTest::keyClicks(dlg.searchBox(), "01.01");
    save(dlg, "vlm5-pick-one-search.png");
    EXPECT_GT(dlg.shownCount(), 0);
}

TEST(Screenshots, EmptyListPicker) {
    Rows requests;
    requests.AddField("IDMARCADO", 1);
    requests.AddField("CHAVE", 18)->Visible = false;
    requests.AddField("CDFILSOLI", 4)->DisplayLabel = "Filial Solicitante";
    requests.AddField("CDFILLANCA", 4)->DisplayLabel = "Filial de Lançamento";
    requests.AddField("NRSOLICMP", 10)->DisplayLabel = "N° Solicitação";
    requests.fill({"IDMARCADO", "CHAVE", "CDFILSOLI", "CDFILLANCA", "NRSOLICMP"}, {});
    vlm::PickListDialog dlg(requests, "CHAVE", "Solicitação", false, "", nullptr);
    dlg.show();
    save(dlg, "vlm5-pick-list-empty.png");
}

TEST(Screenshots, WaitingWindowAndDateEdit) {
    QWidget form;
    form.resize(500, 300);
    auto* date = new TDateEditPlus(&form);
    date->setGeometry(20, 20, 110, 23);
    auto* blank = new TDateEditPlus(&form);
    blank->setGeometry(20, 50, 110, 23);
    blank->SetDate(0);
    form.show();
    save(form, "vlm5-date-edits.png");
    date->DropDown();
    auto* calendar = date->findChild<QWidget*>("calendarPopup");
    ASSERT_NE(calendar, nullptr);
    save(*calendar, "vlm5-calendar.png");
    calendar->close();
    ActiveShowAvi(&form, 1, "Recebendo dados do servidor...");
    QWidget* waiting = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == "vlmWaiting" && w->isVisible())
            waiting = w;
    }
    ASSERT_NE(waiting, nullptr);
    save(*waiting, "vlm5-waiting.png");
    DeactiveShowAvi();
}
