// The screen against a real rqc-appserver on a small SQLite suite database: the list of a
// period, the detail of the selected consolidation, the reversal and its confirmation, the
// reports through the file dialog, the keyboard, the layout and the branch filter.

#include "screen/frm_consulta_consolida.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMdiSubWindow>
#include <QProcess>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
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

// The cells of the column under `header`.
QStringList column(const QTableWidget* grid, const QString& header) {
    QStringList out;
    for (int c = 0; c < grid->columnCount(); ++c) {
        if (grid->horizontalHeaderItem(c)->text() != header)
            continue;
        for (int r = 0; r < grid->rowCount(); ++r)
            out.append(grid->item(r, c)->text());
    }
    return out;
}

QStringList column(const QTableWidget* grid, int c) {
    return column(grid, grid->horizontalHeaderItem(c)->text());
}

QWidget* focused() {
    return QApplication::focusWidget();
}

void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(focused(), static_cast<Qt::Key>(k), mods);
    settle();
}

// Consolidations 77 (open, two products) and 78 (closed) of central branch 0001, generated in
// March 2024, and 79 of another central branch; the screen opened from processing branch 0002.
class ConsultaConsolida : public ::testing::Test {
  protected:
    virtual bool fixedBranch() const { return false; }
    void SetUp() override {
        const std::string db = m_dir.file("suite.db");
        {
            auto c = rqc::suitedb::Connection::open(db);
            rqc::suitedb::applySchema(*c);
            rqc::test::loadSmallDataSet(*c);
            c->exec(
                "UPDATE CONSSOLI SET DTGERACAO = '2024-03-05 10:11:12', NMUSUARIO = 'ana',"
                " CDFILEST = CDFILIAL, DTENTREGAINI = '2024-03-01', DTENTREGAFIN = '2024-03-31',"
                " CDARVPRODINI = '0000', CDARVPRODFIN = 'ZZZZZZZZZZ', IDCONSSOLI = 'N',"
                " IDTODASSOLI = 'T';"
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
        config.branchFixed = fixedBranch();
        config.serverPort = m_server->port();
        config.engine = vlm::DbEngine::Sqlite;
        config.dbPath = QString::fromStdString(db);
        m_host = std::make_unique<rqc::test::HostWindow>(config);

        IniProc();
        settle();
        ASSERT_NE(frmConsultaConsolida, nullptr);
        form = frmConsultaConsolida;
        form->depDataIni->SetDate(vlm::toDateTime(QDate(2024, 3, 1)));
        form->depDataFin->SetDate(vlm::toDateTime(QDate(2024, 3, 31)));
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
    EXPECT_EQ(column(form->grdItens, QStringLiteral("Arredond.")),
              QStringList({QStringLiteral("0"), QStringLiteral("0,25")}));
    EXPECT_EQ(form->lblTotItens->text(),
              QStringLiteral("Totais: 2 produto(s); Consolidada 8; Solicitada 8; Linhas 2"));
    EXPECT_TRUE(form->lblFiltro->text().startsWith(QStringLiteral("Filtro: Entrega")));
    EXPECT_EQ(column(form->grdOrigem, 3), QStringList({QStringLiteral("0000000002")}));
    EXPECT_EQ(column(form->grdOrigem, 4), QStringList({QStringLiteral("4")}));
    form->grdItens->setCurrentCell(1, 0);
    settle();
    EXPECT_EQ(column(form->grdOrigem, 0), QStringList({QStringLiteral("P2")}));
    form->grdItens->sortByColumn(3, Qt::AscendingOrder);  // Consolidada: 2 before 6
    EXPECT_EQ(column(form->grdItens, 0), QStringList({QStringLiteral("P2"), QStringLiteral("P1")}));

    form->chbSoAbertas->SetChecked(true);
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
        EXPECT_EQ(dialogs().shown.front().buttons.defaultButton, mbNo) << "Enter must not undo";
        const int row =
            static_cast<int>(column(form->grdConsSoli, 0).indexOf(QStringLiteral("0000000077")));
        EXPECT_EQ(column(form->grdConsSoli, QStringLiteral("Situação"))[row],
                  QString::fromUtf8(c.situation))
            << dialogs().texts(vlm::ShownDialog::Error).join(QLatin1Char('\n')).toStdString();
    }
    EXPECT_EQ(dialogs().texts(vlm::ShownDialog::Message).back(),
              QStringLiteral("Consolidação 0000000077 estornada: 2 linha(s) de solicitação "
                             "liberada(s)."));

    // "Estornar" is off on a reversed or closed consolidation, its key too.
    for (const char* number : {"0000000077", "0000000078"}) {
        select(QString::fromLatin1(number));
        dialogs().clear();
        EXPECT_FALSE(form->sbtEstorna->isEnabled()) << number;
        form->grdConsSoli->setFocus();
        key(Qt::Key_E, Qt::ControlModifier);
        EXPECT_TRUE(dialogs().shown.empty()) << number;
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
    QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_GE(lines.size(), 9);
    EXPECT_TRUE(lines[3].startsWith("Emitido em ")) << lines[3].toStdString();
    lines.remove(3);
    EXPECT_EQ(lines.join('\n'),
              QByteArray("\xEF\xBB\xBF"
                         "Consolida\xC3\xA7\xC3\xA3o 0000000077: produtos\r\n"
                         "\"Filial central 0001 Central 1; gerada em 05/03/2024 10:11:12 por ana; "
                         "situa\xC3\xA7\xC3\xA3o Aberta\"\r\n"
                         "\"Filtro: Entrega 01/03/2024 a 31/03/2024; produtos de 0000 em diante; "
                         "todas as filiais; n\xC3\xA3o consolidadas\"\r\n"
                         "\r\n"
                         "Produto;C\xC3\xB3"
                         "digo;Descri\xC3\xA7\xC3\xA3o;Consolidada;Solicitada;Limite seg.;"
                         "Estoque;AF abertas;Cons. abertas;Arredond.;Linhas\r\n"
                         "P1;=\"0101\";Produto 1;6;6;0;0;0;0;0;1\r\n"
                         "P2;=\"0102\";Produto 2;2;2;0;0;0;0;0,25;1\r\n"
                         "Totais (2 linhas);;;8;8;;;;;;2\r\n"));
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(20000));
    const QString shown = QString::fromUtf8(text.readAllStandardOutput());
    EXPECT_TRUE(shown.contains(QStringLiteral("Página 1 de 1"))) << shown.toStdString();
    EXPECT_TRUE(
        shown.contains(QRegularExpression(QStringLiteral("P2 +0102 +Produto 2 +2 +2 .*0,25 +1"))))
        << shown.toStdString();
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

// From the opening to a reversal and both exports with keys only: Tab and Shift+Tab leave
// every grid, the arrows pick the row, the shortcuts run the buttons.
TEST_F(ConsultaConsolida, KeyboardOnlyReachesEveryActionAndTabLeavesEveryGrid) {
    form->grdConsSoli->setFocus();
    // The first row is closed: Estornar is off and out of the way.
    const QWidget* order[] = {form->grdConsSoli, form->grdItens, form->grdOrigem, form->sbtConfirma,
                              form->sbtExportaCsv};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        key(Qt::Key_Tab);
        EXPECT_EQ(focused(), order[i]) << i;
    }
    for (std::size_t i = std::size(order) - 1; i > 0; --i) {
        key(Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(focused(), order[i - 1]) << i;
    }
    // Back to the filter: the period typed, F5 searches.
    for (int i = 0; i < 3 && focused() != form->depDataIni; ++i)
        key(Qt::Key_Backtab, Qt::ShiftModifier);
    ASSERT_EQ(focused(), form->depDataIni);
    key(Qt::Key_Home);
    QTest::keyClicks(focused(), QStringLiteral("05032024"));
    key(Qt::Key_F5);
    EXPECT_EQ(column(form->grdConsSoli, 0),
              QStringList({QStringLiteral("0000000078"), QStringLiteral("0000000077")}));
    for (int i = 0; i < 3; ++i)
        key(Qt::Key_Tab);
    ASSERT_EQ(focused(), form->grdConsSoli);
    key(Qt::Key_Down);
    EXPECT_EQ(form->NumeroSelecionado(), QStringLiteral("0000000077"));

    const QString csv = QString::fromStdString(m_dir.file("k.csv"));
    const QString pdf = QString::fromStdString(m_dir.file("k.pdf"));
    dialogs().queueSaveFile(csv);
    key(Qt::Key_S, Qt::ControlModifier);
    dialogs().queueSaveFile(pdf);
    key(Qt::Key_D, Qt::ControlModifier);
    QString preview;
    QTimer::singleShot(0, [&] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            preview = w->windowTitle();
            w->close();
        }
    });
    key(Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(preview, QStringLiteral("Visualizar impressão: Consolidação 0000000077: produtos"));
    // Offscreen, a closed modal window leaves no window active, as a window manager would.
    m_host->window().activateWindow();
    settle();
    dialogs().queueMessageAnswer(mrYes);
    key(Qt::Key_E, Qt::ControlModifier);
    EXPECT_TRUE(QFile::exists(csv));
    EXPECT_TRUE(QFile::exists(pdf));
    EXPECT_EQ(dialogs().texts(vlm::ShownDialog::Message).back(),
              QStringLiteral("Consolidação 0000000077 estornada: 2 linha(s) de solicitação "
                             "liberada(s)."));
    EXPECT_TRUE(dialogs().texts(vlm::ShownDialog::Error).isEmpty())
        << dialogs().texts(vlm::ShownDialog::Error).join(QLatin1Char('\n')).toStdString();
    for (TButtonFlat* b : {form->sbtConfirma, form->sbtEstorna, form->sbtExportaCsv,
                           form->sbtExportaPdf, form->sbtImprime})
        EXPECT_TRUE(b->toolTip().contains(QStringLiteral("(F5)")) ||
                    b->toolTip().contains(QStringLiteral("(Ctrl+")))
            << b->toolTip().toStdString();
}

// At the default size the key columns show; maximised, the form and its grids grow.
TEST_F(ConsultaConsolida, KeyColumnsShowAndMaximiseGrowsTheForm) {
    select(QStringLiteral("0000000077"));
    QMdiSubWindow* sub = form->subWindow();
    ASSERT_NE(sub, nullptr);
    const QSize normal = form->size();
    const int gridWidth = form->grdItens->width();
    for (const char* header : {"Produto", "Descrição", "Consolidada"}) {
        const QTableWidget* g = form->grdItens;
        int c = 0;
        while (g->horizontalHeaderItem(c)->text() != QString::fromUtf8(header))
            ++c;
        EXPECT_LE(g->columnViewportPosition(c) + g->columnWidth(c), g->viewport()->width())
            << header;
    }
    m_host->window().resize(1600, 1000);
    sub->showMaximized();
    settle();
    EXPECT_GT(form->width(), normal.width());
    EXPECT_GT(form->height(), normal.height());
    EXPECT_GT(form->grdItens->width(), gridWidth);
}

// A second IniProc (the menu entry again) leaves the focus where the user left it, on a
// normal and on a maximised screen.
TEST_F(ConsultaConsolida, SecondIniProcKeepsTheFocus) {
    for (const bool maximised : {false, true}) {
        if (maximised)
            form->subWindow()->showMaximized();
        form->depDataFin->setFocus();
        settle();
        ASSERT_EQ(focused(), form->depDataFin) << maximised;
        IniProc();
        settle();
        EXPECT_EQ(frmConsultaConsolida, form);
        EXPECT_EQ(focused(), form->depDataFin) << maximised;
    }
}

// The central branch is checked when the user leaves it, found by F2 and shown by name.
TEST_F(ConsultaConsolida, CentralBranchIsCheckedAndNamed) {
    EXPECT_EQ(form->edtNmFilCentCmp->text(), QStringLiteral("Central 1"));
    EXPECT_TRUE(form->medCdFilCentCmp->isEnabled());
    form->medCdFilCentCmp->setFocus();
    form->medCdFilCentCmp->SetText(QStringLiteral("8888"));
    key(Qt::Key_Tab);
    EXPECT_EQ(focused(), form->medCdFilCentCmp);
    EXPECT_EQ(dialogs().texts(vlm::ShownDialog::Error),
              QStringList({QStringLiteral("A filial 8888 não está cadastrada. Informe outra ou "
                                          "pesquise com F2.")}));
    dialogs().queuePick(3);  // 0001, 0002, 0003, 0009
    key(Qt::Key_F2);
    EXPECT_EQ(form->medCdFilCentCmp->Text(), QStringLiteral("0009"));
    EXPECT_EQ(form->edtNmFilCentCmp->text(), QStringLiteral("Central 9"));
}

class ConsultaConsolidaFilialFixa : public ConsultaConsolida {
    bool fixedBranch() const override { return true; }
};

// A fixed processing branch fixes the central branch: neither typed nor searched.
TEST_F(ConsultaConsolidaFilialFixa, CentralBranchCannotChange) {
    EXPECT_EQ(form->medCdFilCentCmp->Text(), QStringLiteral("0001"));
    EXPECT_FALSE(form->medCdFilCentCmp->isEnabled());
    EXPECT_FALSE(form->btpFilCentCmp->isEnabled());
    EXPECT_EQ(column(form->grdConsSoli, 0).size(), 2);
}

}  // namespace

TEST_F(ConsultaConsolida, F1FindsTheScreensHelpPage) {
    const QString page = vlm::helpPagePath(form->HelpContext);
    ASSERT_FALSE(page.isEmpty()) << "no help page " << form->HelpContext << ".html";
    QFile file(page);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(file.readAll()).contains(QStringLiteral("RQC04200")));
}
