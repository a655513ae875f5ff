// The product-code picture (DBPict(0)) on a masked edit, against the demo products of a real
// SQLite suite database.
#include <gtest/gtest.h>

#include <QTest>

#include "suitedb/demo_data.h"
#include "suitedb/schema.h"
#include "temp_dir.h"
#include "vlm/adoib_query.h"
#include "vlm/controls.h"
#include "vlm/dtm_db_geral.h"
#include "vlm/edit_mask.h"
#include "vlm/helpers.h"

namespace {

// The product query of the screen: one product by tree code, or all with P_TCDARVPROD "T".
void setProduto(TADOIBQuery& q) {
    q.setObjectName("qryProduto");
    q.SQL = {"SELECT",
             "   CDPRODUTO,",
             "   CDARVPROD,",
             "   NMPRODUTO",
             "FROM",
             "   PRODUTO",
             "WHERE",
             "   (CDARVPROD = :P_CDARVPROD OR :P_TCDARVPROD = 'T')",
             "ORDER BY CDARVPROD"};
    q.AddField("CDPRODUTO", 10)->Visible = false;
    q.AddField("CDARVPROD", 20)->DisplayLabel = "Código";
    q.AddField("NMPRODUTO", 50)->DisplayLabel = "Nome";
}

class DemoProducts : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string path = dir.file("suite.db");
        {
            auto db = rqc::suitedb::Connection::open(path);
            rqc::suitedb::applySchema(*db);
            rqc::suitedb::loadDemo(*db, today);
        }
        vlm::HostConfig c;
        c.engine = vlm::DbEngine::Sqlite;
        c.dbPath = QString::fromStdString(path);
        module.Open(c);
        setProduto(query);
        query.FieldByName("CDARVPROD")->EditMask = DBPict(0);
    }
    // Name of the product whose code is `code`, as the screen looks it up; "" when none.
    QString lookUp(const QString& code) {
        query.Close();
        query.ParamByName("P_TCDARVPROD")->SetAsString("");
        query.ParamByName("P_CDARVPROD")->SetAsString(code);
        query.Open();
        return query.IsEmpty() ? QString() : query.FieldByName("NMPRODUTO")->AsString();
    }
    const rqc::suitedb::Date today = rqc::suitedb::localToday();
    rqc::test::TempDir dir;
    TdtmDBGeral module;
    TADOIBQuery query;
};

}  // namespace

TEST(ProductPicture, KeepsTheDotsSoATypedCodeIsTheStoredCode) {
    vlm::EditMask m = vlm::EditMask::parse(DBPict(0));
    EXPECT_EQ(m.maxLength(), 14);
    EXPECT_TRUE(m.saveLiterals);
    EXPECT_EQ(m.format("01.01.001.0001"), "01.01.001.0001");
    EXPECT_EQ(DBPict(1), "");

    struct Case {
        const char* typed;
        QString text;
    } cases[] = {
        {"01010010001", "01.01.001.0001"},
        {"01.01.001.0001", "01.01.001.0001"},  // typing the dots too
        {"0203", "02.03"},                     // a partial code: what was typed
        {"010100", "01.01.00"},
        {"ab", ""},  // only digits go in
        {"", ""},
    };
    for (const auto& c : cases) {
        TMaskEdit edit;
        edit.SetEditMask(DBPict(0));
        edit.show();
        edit.setFocus();
        edit.setCursorPosition(0);
        QTest::keyClicks(&edit, c.typed);
        EXPECT_EQ(edit.Text(), c.text) << c.typed;
        EXPECT_EQ(EmptyString(edit.Text()), c.text.isEmpty()) << c.typed;
    }
}

TEST(ProductPicture, SetTextOfAStoredCodeShowsItAsIs) {
    TMaskEdit edit;
    edit.SetEditMask(DBPict(0));
    int changes = 0;
    edit.OnChange = [&](QObject*) { ++changes; };
    edit.SetText("03.02.005.0007");
    EXPECT_EQ(edit.displayText(), "03.02.005.0007");
    EXPECT_EQ(edit.Text(), "03.02.005.0007");
    EXPECT_EQ(changes, 1);
    edit.SetText("");
    EXPECT_EQ(edit.displayText(), "__.__.___.____");
    EXPECT_EQ(edit.Text(), "");
}

TEST_F(DemoProducts, EveryFullyTypedDemoCodeFindsItsProduct) {
    const auto& products = rqc::suitedb::demoMasterData(today).products;
    ASSERT_FALSE(products.empty());
    TMaskEdit edit;
    edit.SetEditMask(DBPict(0));
    edit.show();
    for (std::size_t i = 0; i < products.size(); i += products.size() / 7 + 1) {
        const QString tree = QString::fromStdString(products[i].tree);
        QString digits = tree;
        digits.remove('.');
        edit.SetText("");
        edit.setCursorPosition(0);
        QTest::keyClicks(&edit, digits);
        EXPECT_EQ(edit.Text(), tree);
        EXPECT_EQ(lookUp(edit.Text()), QString::fromStdString(products[i].name))
            << tree.toStdString();
    }
    edit.SetText("");
    edit.setCursorPosition(0);
    QTest::keyClicks(&edit, "0101");
    EXPECT_EQ(lookUp(edit.Text()), "");  // a partial code is no product
}

TEST_F(DemoProducts, PickerColumnShowsTheStoredCodesInThePicture) {
    query.Close();
    query.ParamByName("P_CDARVPROD")->SetAsString("");
    query.ParamByName("P_TCDARVPROD")->SetAsString("T");
    query.Open();
    ASSERT_GT(query.RecordCount(), 0);
    vlm::EditMask m = vlm::EditMask::parse(query.FieldByName("CDARVPROD")->EditMask);
    const int field = query.FieldByName("CDARVPROD")->index();
    for (int r = 0; r < query.RecordCount(); ++r) {
        const QString stored = *query.value(r, field);
        ASSERT_EQ(m.format(stored), stored);
        ASSERT_EQ(stored.size(), 14);
    }
}
