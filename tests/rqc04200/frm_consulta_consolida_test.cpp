// The screen against a real rqc-appserver on a small SQLite suite database: the list of a
// period, the detail of the selected consolidation, the reversal and its confirmation, and the
// exports through the file dialog.

#include "screen/frm_consulta_consolida.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QFile>
#include <QLineEdit>
#include <QTableWidget>
#include <memory>

#include "appserver/consolidation_test_support.h"
#include "module/module.h"
#include "server_process.h"
#include "suitedb/connection.h"
#include "suitedb/schema.h"
#include "support/qt_fixture.h"
#include "temp_dir.h"
#include "vlm/dtm_db_geral.h"
#include "vlm/helpers.h"
#include "vlm/host_config.h"
#include "vlm/messages.h"

namespace {

using rqc::test::settle;

QStringList column(const QTableWidget* grid, int c) {
    QStringList out;
    for (int r = 0; r < grid->rowCount(); ++r)
        out.append(grid->item(r, c)->text());
    return out;
}

// Consolidations 77 (open, two products) and 78 (closed) of central branch 0001, generated in
// March 2024, and 79 of another central branch; the screen opened from processing branch 0002.
class ConsultaConsolida : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string db = m_dir.file("suite.db");
        {
            auto c = rqc::suitedb::Connection::open(db);
            rqc::suitedb::applySchema(*c);
            rqc::test::loadSmallDataSet(*c);
            c->exec(
                "UPDATE CONSSOLI SET DTGERACAO = '2024-03-05 10:11:12', NMUSUARIO = 'ana',"
                " CDFILEST = CDFILIAL;"
                "UPDATE ITCONSSOLI SET QTARREDONDA = 0.25 WHERE NRCONSSOLI = '0000000077'"
                " AND CDPRODUTO = 'P2'");
        }
        rqc::test::ServerProcess::Options options;
        options.db = db;
        options.workDir = m_dir.path().string();
        m_server = std::make_unique<rqc::test::ServerProcess>(options);
        m_server->start();

        vlm::HostConfig config;
        config.processingBranch = QStringLiteral("0002");
        config.serverPort = m_server->port();
        config.engine = vlm::DbEngine::Sqlite;
        config.dbPath = QString::fromStdString(db);
        m_host = std::make_unique<rqc::test::HostWindow>(config);

        IniProc();
        settle();
        ASSERT_NE(frmConsultaConsolida, nullptr);
        form = frmConsultaConsolida;
        form->depDataIni->setDate(QDate(2024, 3, 1));
        form->depDataFin->setDate(QDate(2024, 3, 31));
        press(form->sbtConfirma);
    }
    void TearDown() override { m_host.reset(); }
    vlm::ScriptedDialogs& dialogs() { return m_host->dialogs(); }
    void press(TButtonFlat* button) {
        button->click();
        settle();
    }
    void select(const QString& number) {
        const int row = static_cast<int>(column(form->grdConsSoli, 0).indexOf(number));
        ASSERT_GE(row, 0) << number.toStdString();
        form->grdConsSoli->setCurrentCell(row, 0);
        settle();
    }

    rqc::test::TempDir m_dir;
    std::unique_ptr<rqc::test::ServerProcess> m_server;
    std::unique_ptr<rqc::test::HostWindow> m_host;
    TfrmConsultaConsolida* form = nullptr;
};

TEST_F(ConsultaConsolida, ListsThePeriodOfTheCentralBranchAndDetailsTheSelection) {
    EXPECT_EQ(form->medCdFilCentCmp->text(), QStringLiteral("0001"));
    EXPECT_EQ(column(form->grdConsSoli, 0),
              QStringList({QStringLiteral("0000000078"), QStringLiteral("0000000077")}));
    EXPECT_EQ(form->grdConsSoli->item(0, 1)->text(), QStringLiteral("05/03/2024 10:11:12"));
    EXPECT_TRUE(dialogs().texts(vlm::ShownDialog::Error).isEmpty());

    select(QStringLiteral("0000000077"));
    EXPECT_EQ(column(form->grdItens, 0), QStringList({QStringLiteral("P1"), QStringLiteral("P2")}));
    EXPECT_EQ(column(form->grdItens, 8),
              QStringList({QStringLiteral("0"), QStringLiteral("0,25")}));
    EXPECT_EQ(column(form->grdOrigem, 3), QStringList({QStringLiteral("0000000002")}));
    EXPECT_EQ(column(form->grdOrigem, 4), QStringList({QStringLiteral("4")}));
    form->grdItens->setCurrentCell(1, 0);
    settle();
    EXPECT_EQ(column(form->grdOrigem, 0), QStringList({QStringLiteral("P2")}));

    form->chbSoAbertas->setChecked(true);
    press(form->sbtConfirma);
    EXPECT_EQ(column(form->grdConsSoli, 0), QStringList({QStringLiteral("0000000077")}));
}

TEST_F(ConsultaConsolida, ReversalAsksNamingWhatItFreesAndRunsOnlyOnYes) {
    select(QStringLiteral("0000000077"));
    const struct {
        int answer;
        const char* situation;
    } cases[] = {{mrNo, "Aberta"}, {mrYes, "Estornada"}};
    for (const auto& c : cases) {
        dialogs().clear();
        dialogs().queueMessageAnswer(c.answer);
        select(QStringLiteral("0000000077"));
        press(form->sbtEstorna);
        const QStringList messages = dialogs().texts(vlm::ShownDialog::Message);
        ASSERT_FALSE(messages.isEmpty())
            << dialogs().texts(vlm::ShownDialog::Error).join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(
            messages.front(),
            QStringLiteral("Estornar a consolidação 0000000077?\n\nSerão liberadas 2 "
                           "linha(s) de solicitação de 2 produto(s) para nova consolidação."));
        const int row =
            static_cast<int>(column(form->grdConsSoli, 0).indexOf(QStringLiteral("0000000077")));
        EXPECT_EQ(form->grdConsSoli->item(row, 8)->text(), QString::fromUtf8(c.situation))
            << dialogs().texts(vlm::ShownDialog::Error).join(QLatin1Char('\n')).toStdString();
    }
    EXPECT_EQ(dialogs().texts(vlm::ShownDialog::Message).back(),
              QStringLiteral("Consolidação 0000000077 estornada: 2 linha(s) de solicitação "
                             "liberada(s)."));

    // A reversed or closed consolidation is refused before any question.
    for (const char* number : {"0000000077", "0000000078"}) {
        dialogs().clear();
        select(QString::fromLatin1(number));
        press(form->sbtEstorna);
        EXPECT_TRUE(dialogs().texts(vlm::ShownDialog::Message).isEmpty()) << number;
        ASSERT_EQ(dialogs().texts(vlm::ShownDialog::Error).size(), 1) << number;
    }
}

TEST_F(ConsultaConsolida, ExportsTheShownProductLinesThroughTheFileDialog) {
    select(QStringLiteral("0000000077"));
    const QString csv = QString::fromStdString(m_dir.file("itens.csv"));
    const QString pdf = QString::fromStdString(m_dir.file("itens.pdf"));
    dialogs().queueSaveFile(csv);
    press(form->sbtExportaCsv);
    dialogs().queueSaveFile(pdf);
    press(form->sbtExportaPdf);
    press(form->sbtExportaCsv);  // the dialog given up: nothing written, nothing said
    EXPECT_EQ(dialogs().saveTitles, QStringList({QStringLiteral("Exportar para planilha"),
                                                 QStringLiteral("Exportar para PDF"),
                                                 QStringLiteral("Exportar para planilha")}));
    EXPECT_TRUE(dialogs().texts(vlm::ShownDialog::Error).isEmpty());

    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(),
              QByteArray("\xEF\xBB\xBF"
                         "Produto;C\xC3\xB3"
                         "digo;Descri\xC3\xA7\xC3\xA3o;Solicitada;Limite seg.;"
                         "Estoque;AF abertas;Cons. abertas;Arredond.;Consolidada;Linhas\r\n"
                         "P1;0101;Produto 1;6;0;0;0;0;0;6;1\r\n"
                         "P2;0102;Produto 2;2;0;0;0;0;0,25;2;1\r\n"));
    QFile written(pdf);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(written.readAll().startsWith("%PDF"));
}

TEST_F(ConsultaConsolida, OpensOnANumberOrNamesTheUnknownOne) {
    AbreConsSoli("77");
    settle();
    EXPECT_EQ(form->NumeroSelecionado(), QStringLiteral("0000000077"));
    EXPECT_EQ(form->grdItens->rowCount(), 2);
    for (const char* bad : {"9999", "12a"}) {
        dialogs().clear();
        EXPECT_THROW(AbreConsSoli(bad), std::exception) << bad;
    }
}

}  // namespace

TEST_F(ConsultaConsolida, F1FindsTheScreensHelpPage) {
    const QString page = vlm::helpPagePath(form->HelpContext);
    ASSERT_FALSE(page.isEmpty()) << "no help page " << form->HelpContext << ".html";
    QFile file(page);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(file.readAll()).contains(QStringLiteral("RQC04200")));
}
