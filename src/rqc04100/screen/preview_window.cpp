#include "screen/preview_window.h"

#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <stdexcept>

#include "vlm/data_set.h"
#include "vlm/dialogs.h"
#include "vlm/helpers.h"
#include "vlm/messages.h"
#include "vlm/net_connection.h"
#include "vlm/product_line_columns.h"

namespace {

// The terms in the order of the sum, each header under its sign.
const QVector<vlm::ReportColumn>& previewColumns() {
    static const QVector<vlm::ReportColumn> columns = [] {
        QVector<vlm::ReportColumn> c = vlm::productLineColumns(
            {"CDPRODUTO", "CDARVPROD", "NMPRODUTO", "QTSOLICITADA", "QTLIMITESEG", "QTESTOQUE",
             "QTAF", "QTCONSABERTA", "QTARREDONDA", "QTCONSOLIDADA", "NRLINHAS", "NRLINHASCONS"});
        for (vlm::ReportColumn& column : c) {
            const QString term = vlm::sumTerm(column.field);
            if (!term.isEmpty())
                column.header = term + QLatin1Char('\n') + column.header;
        }
        return c;
    }();
    return columns;
}

QString cellOf(const TDataSet& rows, int row, const char* field) {
    return rows.value(row, rows.FieldByName(QString::fromLatin1(field))->index())
        .value_or(QString());
}

double number(const QString& text, const char* field) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok) {
        throw std::runtime_error(QStringLiteral("A prévia trouxe um valor inválido em %1: \"%2\".")
                                     .arg(QString::fromLatin1(field), text.left(24))
                                     .toStdString());
    }
    return v;
}

}  // namespace

namespace rqc04100 {

PreviewTotals previewTotals(const TDataSet& rows) {
    PreviewTotals t;
    t.products = rows.RecordCount();
    t.allNetZero = t.products > 0;
    for (int r = 0; r < rows.RecordCount(); ++r) {
        const double consolidated = number(cellOf(rows, r, "QTCONSOLIDADA"), "QTCONSOLIDADA");
        t.allNetZero = t.allNetZero && consolidated <= 0;
        t.quantity += consolidated;
        t.lines += static_cast<long long>(number(cellOf(rows, r, "NRLINHAS"), "NRLINHAS"));
        t.consolidatedBefore +=
            static_cast<long long>(number(cellOf(rows, r, "NRLINHASCONS"), "NRLINHASCONS"));
    }
    return t;
}

}  // namespace rqc04100

namespace {

// "P0001 Arroz (solicitada 10 + limite 0 − estoque 12 − AF 0 − cons. abertas 0 = −2)", for
// at most the first `shown` rows.
QString netZeroProducts(const TDataSet& rows, int shown) {
    QStringList items;
    for (int r = 0; r < rows.RecordCount() && r < shown; ++r) {
        auto q = [&](const char* f) { return vlm::numberText(number(cellOf(rows, r, f), f)); };
        items << QStringLiteral(
                     "%1 %2 (solicitada %3 + limite %4 − estoque %5 − AF %6 − cons. "
                     "abertas %7 = %8)")
                     .arg(cellOf(rows, r, "CDPRODUTO").trimmed(),
                          cellOf(rows, r, "NMPRODUTO").trimmed(), q("QTSOLICITADA"),
                          q("QTLIMITESEG"), q("QTESTOQUE"), q("QTAF"), q("QTCONSABERTA"),
                          q("QTCONSOLIDADA"));
    }
    QString text = items.join(QStringLiteral("; "));
    if (rows.RecordCount() > shown)
        text += QStringLiteral("; e mais %1").arg(vlm::countText(rows.RecordCount() - shown));
    return text;
}

}  // namespace

TfrmPreviaConsolida::TfrmPreviaConsolida(const TDataSet& rows, bool takesConsolidated,
                                         QWidget* parent, const QString& whyEmpty,
                                         const QString& filter)
    : QDialog(parent), m_rows(rows), m_filter(filter) {
    setObjectName(QStringLiteral("frmPreviaConsolida"));
    setWindowTitle(QStringLiteral("Simulação da Consolidação"));
    setModal(true);
    const rqc04100::PreviewTotals totals = rqc04100::previewTotals(rows);

    grdPrevia = new QTableWidget(this);
    grdPrevia->setObjectName(QStringLiteral("grdPrevia"));
    grdPrevia->setAccessibleName(QStringLiteral("Produtos da simulação"));
    const QVector<vlm::ReportColumn>& columns = previewColumns();
    grdPrevia->setColumnCount(static_cast<int>(columns.size()));
    QStringList headers;
    for (const vlm::ReportColumn& c : columns)
        headers.append(c.header);
    grdPrevia->setHorizontalHeaderLabels(headers);
    grdPrevia->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdPrevia->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdPrevia->setTabKeyNavigation(false);  // Tab and Shift+Tab leave the grid
    grdPrevia->verticalHeader()->setVisible(false);
    grdPrevia->verticalHeader()->setDefaultSectionSize(20);
    grdPrevia->setRowCount(rows.RecordCount());
    for (int r = 0; r < rows.RecordCount(); ++r) {
        const QStringList cells = vlm::rowCells(rows, r, columns);
        for (int c = 0; c < grdPrevia->columnCount(); ++c) {
            const vlm::ReportColumn& col = columns[c];
            const bool figure = col.kind == vlm::ColumnKind::Number;
            auto* item = new QTableWidgetItem(
                figure ? vlm::numberText(number(cells[c], col.field.toLatin1().constData()))
                       : cells[c]);
            if (figure)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            grdPrevia->setItem(r, c, item);
        }
    }
    // Figures as wide as they need, the name takes the rest of the window's width; the window
    // opens wide enough for whole names (up to a long one), within the screen.
    grdPrevia->resizeColumnsToContents();
    constexpr int kNameColumn = 2;
    constexpr int kLongestName = 420;
    int wanted = std::min(grdPrevia->columnWidth(kNameColumn), kLongestName) + 60;
    for (int c = 0; c < grdPrevia->columnCount(); ++c) {
        if (c != kNameColumn)
            wanted += grdPrevia->columnWidth(c);
    }
    grdPrevia->horizontalHeader()->setStretchLastSection(false);
    grdPrevia->horizontalHeader()->setSectionResizeMode(kNameColumn, QHeaderView::Stretch);
    grdPrevia->horizontalHeader()->setMinimumSectionSize(40);

    lblTotais = new QLabel(this);
    lblTotais->setObjectName(QStringLiteral("lblTotais"));
    lblTotais->setWordWrap(true);
    if (totals.products == 0) {
        lblTotais->setText(QStringLiteral("Nenhuma linha de solicitação atende a este filtro: "
                                          "nada seria consolidado.") +
                           (whyEmpty.isEmpty() ? QString() : QLatin1Char(' ') + whyEmpty));
    } else if (totals.allNetZero) {
        constexpr int kListed = 10;
        lblTotais->setText(
            QStringLiteral("%1 linha(s) de solicitação atendem ao filtro, mas nada seria "
                           "consolidado: os %2 produto(s) ficam com quantidade zero ou negativa "
                           "depois dos descontos: %3.")
                .arg(vlm::countText(totals.lines), vlm::countText(totals.products),
                     netZeroProducts(rows, kListed)));
    } else {
        lblTotais->setText(QStringLiteral("%1 produto(s), %2 linha(s) de solicitação; quantidade "
                                          "consolidada total %3.")
                               .arg(vlm::countText(totals.products), vlm::countText(totals.lines),
                                    vlm::numberText(totals.quantity)));
    }
    lblJaConsolidadas = new QLabel(this);
    lblJaConsolidadas->setObjectName(QStringLiteral("lblJaConsolidadas"));
    lblJaConsolidadas->setWordWrap(true);
    QString before = QStringLiteral("Linhas já consolidadas antes: %1.")
                         .arg(vlm::countText(totals.consolidatedBefore));
    if (totals.consolidatedBefore > 0 && takesConsolidated) {
        before += QStringLiteral(
            " Com \"Todas\" elas serão consolidadas de novo; escolha \"Não "
            "Consolidadas\" para deixá-las de fora.");
        lblJaConsolidadas->setStyleSheet(QStringLiteral("color: #a00000; font-weight: bold;"));
    }
    lblJaConsolidadas->setText(before);

    btnImprimir = new QPushButton(QStringLiteral("&Imprimir..."), this);
    btnImprimir->setObjectName(QStringLiteral("btnImprimir"));
    btnImprimir->setToolTip(QStringLiteral("Visualizar e imprimir a simulação (Ctrl+P)"));
    btnImprimir->setAutoDefault(false);
    btnImprimir->setIcon(vlm::reportIcon(QStringLiteral("imprimir")));
    btnPdf = new QPushButton(QStringLiteral("&PDF..."), this);
    btnPdf->setObjectName(QStringLiteral("btnPdf"));
    btnPdf->setToolTip(QStringLiteral("Gravar a simulação em PDF (Alt+P)"));
    btnPdf->setAutoDefault(false);
    btnPdf->setIcon(vlm::reportIcon(QStringLiteral("pdf")));
    btnImprimir->setEnabled(totals.products > 0);
    btnPdf->setEnabled(totals.products > 0);
    connect(btnImprimir, &QPushButton::clicked, this,
            [this] { vlm::dispatch([this] { vlm::previewReport(Relatorio(), this); }); });
    auto* print = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_P), this);
    connect(print, &QShortcut::activated, btnImprimir, [this] {
        if (btnImprimir->isEnabled())
            btnImprimir->click();
    });
    connect(btnPdf, &QPushButton::clicked, this, [this] {
        vlm::dispatch([this] {
            const QString path = vlm::askSavePath(QStringLiteral("Gravar a simulação em PDF"),
                                                  QStringLiteral("simulacao-consolidacao.pdf"),
                                                  QStringLiteral("Documento PDF (*.pdf)"));
            if (path.isEmpty())
                return;
            vlm::writePdf(Relatorio(), path);
            MessageDlg(QStringLiteral("Arquivo gravado: %1").arg(path), mtInformation, {mbOK}, 0);
        });
    });

    btnConsolidar = new QPushButton(QStringLiteral("&Consolidar"), this);
    btnConsolidar->setObjectName(QStringLiteral("btnConsolidar"));
    btnConsolidar->setEnabled(totals.products > 0 && !totals.allNetZero);
    btnFechar = new QPushButton(QStringLiteral("&Fechar"), this);
    btnFechar->setObjectName(QStringLiteral("btnFechar"));
    btnFechar->setDefault(true);
    connect(btnConsolidar, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnFechar, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnImprimir);
    buttons->addWidget(btnPdf);
    buttons->addStretch();
    buttons->addWidget(btnConsolidar);
    buttons->addWidget(btnFechar);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(grdPrevia, 1);
    layout->addWidget(lblTotais);
    layout->addWidget(lblJaConsolidadas);
    layout->addLayout(buttons);
    const QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen();
    const int room = screen != nullptr ? screen->availableGeometry().width() - 40 : wanted;
    resize(std::clamp(wanted, 1000, std::max(1000, room)), 460);
    btnFechar->setFocus();
}

vlm::ReportTable TfrmPreviaConsolida::Relatorio() const {
    vlm::ReportTable table;
    table.title = windowTitle();
    if (!m_filter.isEmpty())
        table.details.append(QStringLiteral("Filtro: ") + m_filter);
    table.details.append(lblTotais->text());
    table.details.append(lblJaConsolidadas->text());
    table.operatorCode = TNetConnection::SessionOperator();
    table.issued = QDateTime::currentDateTime();
    table.columns = previewColumns();
    for (int r = 0; r < m_rows.RecordCount(); ++r)
        table.rows.append(vlm::rowCells(m_rows, r, table.columns));
    return table;
}
