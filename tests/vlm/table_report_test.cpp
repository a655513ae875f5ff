#include "vlm/table_report.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>
#include <stdexcept>

namespace vlm {
namespace {

const QString kLongName = QStringLiteral("Parafuso sextavado de aço inoxidável 3/8 x 2 polegadas");

// Product P<r> solicits r + 0.5 and consolidates 1000 * r.
ReportTable sample(int rows) {
    ReportTable t;
    t.title = QStringLiteral("Consolidação 0000000077");
    t.details = {QStringLiteral("Filtro: Entrega 01/03/2024 a 31/03/2024; todas as filiais")};
    t.operatorCode = QStringLiteral("COMP001");
    t.issued = QDateTime(QDate(2026, 12, 9), QTime(10, 11));
    t.columns = {{QStringLiteral("Produto"), ColumnKind::Code},
                 {QStringLiteral("Descrição"), ColumnKind::Text},
                 {QStringLiteral("Solicitada"), ColumnKind::Number, true},
                 {QStringLiteral("Entrega"), ColumnKind::Date},
                 {QStringLiteral("Consolidada"), ColumnKind::Number, true}};
    for (int r = 0; r < rows; ++r)
        t.rows.append({QStringLiteral("P%1").arg(r), kLongName, QStringLiteral("%1.5").arg(r),
                       QStringLiteral("2026-03-09"), QString::number(1000 * r)});
    return t;
}

TEST(TableReport, CellsReadAsABrazilianUserWritesThem) {
    const struct {
        ColumnKind kind;
        const char* cell;
        const char* shown;
    } cases[] = {
        {ColumnKind::Number, "12.5", "12,5"},
        {ColumnKind::Number, "-0.25", "-0,25"},
        {ColumnKind::Number, "1234.5", "1.234,5"},
        {ColumnKind::Number, "0.30000000000000004", "0,3"},  // three decimals at most
        {ColumnKind::Number, "12.3456", "12,346"},
        {ColumnKind::Number, "x", "x"},
        {ColumnKind::Date, "2026-03-09", "09/03/2026"},
        {ColumnKind::Date, "2026-03-09 10:11:12", "09/03/2026 10:11:12"},
        {ColumnKind::Date, "", ""},
        {ColumnKind::Code, "0101", "0101"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(displayText(c.kind, QString::fromUtf8(c.cell)), QString::fromUtf8(c.shown))
            << c.cell;
}

TEST(TableReport, CsvHasTheHeaderRightBeforeTheDataTotalsAfterKeepsCodesAndRunsNoFormula) {
    ReportTable t = sample(2);
    t.rows[0] = {QStringLiteral("0101"), QStringLiteral("=HYPERLINK(\"x\")"),
                 QStringLiteral("1234.5"), QStringLiteral("2026-03-09"), QStringLiteral("-3")};
    t.rows[1][1] = QStringLiteral("@SUM(A1); +1");
    const QByteArray expected =
        "\xEF\xBB\xBF"
        "Consolida\xC3\xA7\xC3\xA3o 0000000077\r\n"
        "\"Filtro: Entrega 01/03/2024 a 31/03/2024; todas as filiais\"\r\n"
        "Emitido em 09/12/2026 10:11 por COMP001\r\n"
        "\r\n"
        "Produto;Descri\xC3\xA7\xC3\xA3o;Solicitada;Entrega;Consolidada\r\n"
        "=\"0101\";\"'=HYPERLINK(\"\"x\"\")\";1234,5;09/03/2026;-3\r\n"
        "P1;\"'@SUM(A1); +1\";1,5;09/03/2026;1000\r\n"
        "Totais (2 linhas);;1236;;997\r\n";
    EXPECT_EQ(csvBytes(t), expected);
}

QString pdfText(const QString& path) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
    if (!p.waitForFinished(20000) || p.exitCode() != 0)
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

// End column of `word` standing alone on `line`, -1 when absent.
qsizetype endOf(const QString& line, const QString& word) {
    const QRegularExpressionMatch m =
        QRegularExpression(
            QStringLiteral("(?<=\\s)%1(?=\\s|$)").arg(QRegularExpression::escape(word)))
            .match(line);
    return m.hasMatch() ? m.capturedEnd() : -1;
}

// A row whose description takes several lines is never cut by a page break: its code, the
// last word of its description and its figures are on one page.
TEST(TableReport, APageBreakNeverSplitsARow) {
    QTemporaryDir dir;
    ReportTable table = sample(60);
    for (int r = 0; r < table.rows.size(); ++r)
        table.rows[r][1] =
            QString(kLongName + QLatin1Char(' ')).repeated(5) + QStringLiteral("FIM%1").arg(r);
    const QString path = dir.filePath(QStringLiteral("rows.pdf"));
    writePdf(table, path);
    const QStringList pages = pdfText(path).split(QLatin1Char('\f'), Qt::SkipEmptyParts);
    ASSERT_GE(pages.size(), 2);
    for (int r = 0; r < table.rows.size(); ++r) {
        const QRegularExpression code(QStringLiteral("(^|\\n)\\s*P%1\\s").arg(r));
        const QRegularExpression end(QStringLiteral("FIM%1\\b").arg(r));
        int codePage = -1;
        int endPage = -1;
        for (int p = 0; p < pages.size(); ++p) {
            if (codePage < 0 && code.match(pages[p]).hasMatch())
                codePage = p;
            if (endPage < 0 && end.match(pages[p]).hasMatch())
                endPage = p;
        }
        ASSERT_GE(codePage, 0) << "row " << r;
        EXPECT_EQ(codePage, endPage) << "row " << r << " is split across pages";
    }
}

// The PDF file and the printed document are one document: every page ends with its number,
// every row line holds its product's full name and numbers, each number ending where its
// right-aligned header ends, and the totals close the table.
TEST(TableReport, PdfAndPrintoutPutEachNumberUnderItsHeader) {
    QTemporaryDir dir;
    constexpr int kRows = 120;
    const ReportTable table = sample(kRows);
    const std::function<void(const QString&)> writers[] = {
        [&](const QString& path) { writePdf(table, path); },
        [&](const QString& path) {
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(path);
            printer.setPageOrientation(QPageLayout::Landscape);
            EXPECT_GT(paintReport(table, printer), 1);
        },
    };
    for (int w = 0; w < 2; ++w) {
        const QString path = dir.filePath(QStringLiteral("r%1.pdf").arg(w));
        writers[w](path);
        const QStringList pages = pdfText(path).split(QLatin1Char('\f'), Qt::SkipEmptyParts);
        ASSERT_GE(pages.size(), 3) << w;
        int seen = 0;
        for (int p = 0; p < pages.size(); ++p) {
            const QStringList lines = pages[p].split(QLatin1Char('\n'));
            EXPECT_TRUE(
                pages[p].contains(QStringLiteral("Página %1 de %2").arg(p + 1).arg(pages.size())))
                << w << " page " << p;
            const auto header = std::find_if(lines.begin(), lines.end(), [](const QString& l) {
                return l.contains(QStringLiteral("Solicitada")) &&
                       l.contains(QStringLiteral("Consolidada"));
            });
            ASSERT_NE(header, lines.end()) << w << " page " << p;
            for (const QString& line : lines) {
                const QRegularExpressionMatch m =
                    QRegularExpression(QStringLiteral("^\\s*P(\\d+)\\s")).match(line);
                if (!m.hasMatch())
                    continue;
                const int r = m.captured(1).toInt();
                ++seen;
                EXPECT_TRUE(line.contains(kLongName)) << line.toStdString();
                for (const auto& [head, value] :
                     {std::pair{QStringLiteral("Solicitada"), QStringLiteral("%1,5").arg(r)},
                      std::pair{QStringLiteral("Consolidada"),
                                displayText(ColumnKind::Number, QString::number(1000 * r))}}) {
                    EXPECT_NEAR(endOf(line, value), endOf(*header, head), 1)
                        << head.toStdString() << " / " << line.toStdString();
                }
            }
        }
        EXPECT_EQ(seen, kRows) << w;
        EXPECT_TRUE(pages.back().contains(QStringLiteral("Totais"))) << w;
        EXPECT_TRUE(pages.back().contains(QStringLiteral(" 7.200 "))) << w;  // 0,5 + ... + 119,5
        EXPECT_TRUE(pages.back().contains(QStringLiteral(" 7.140.000"))) << w;
    }
}

TEST(TableReport, UnwritablePathIsAClearError) {
    const ReportTable t = sample(1);
    for (const char* name : {"x.csv", "x.pdf"}) {
        const QString path = QStringLiteral("/nonexistent-folder/") + QLatin1String(name);
        try {
            path.endsWith(QLatin1String("csv")) ? writeCsv(t, path) : writePdf(t, path);
            ADD_FAILURE() << name;
        } catch (const std::runtime_error& e) {
            EXPECT_TRUE(QString::fromUtf8(e.what()).contains(path)) << e.what();
        }
    }
}

}  // namespace
}  // namespace vlm
