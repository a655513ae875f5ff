#include "screen/table_export.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <stdexcept>

namespace rqc04200 {
namespace {

ExportTable sample(int rows) {
    ExportTable t;
    t.title = QStringLiteral("Consolidação 0000000077");
    t.headers = {QStringLiteral("Produto"), QStringLiteral("Descrição"),
                 QStringLiteral("Solicitada"), QStringLiteral("Entrega")};
    t.kinds = {ColumnKind::Text, ColumnKind::Text, ColumnKind::Number, ColumnKind::Date};
    for (int r = 0; r < rows; ++r)
        t.rows.append({QStringLiteral("P%1").arg(r), QStringLiteral("Caixa; \"grande\""),
                       QStringLiteral("1234.5"), QStringLiteral("2026-03-09")});
    return t;
}

TEST(TableExport, CellsReadAsABrazilianUserWritesThem) {
    const struct {
        ColumnKind kind;
        const char* cell;
        const char* shown;
    } cases[] = {
        {ColumnKind::Number, "12.5", "12,5"},
        {ColumnKind::Number, "-0.25", "-0,25"},
        {ColumnKind::Number, "7", "7"},
        {ColumnKind::Date, "2026-03-09", "09/03/2026"},
        {ColumnKind::Date, "2026-03-09 10:11:12", "09/03/2026 10:11:12"},
        {ColumnKind::Date, "", ""},
        {ColumnKind::Text, "1.5", "1.5"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(displayText(c.kind, QString::fromUtf8(c.cell)), QString::fromUtf8(c.shown))
            << c.cell;
}

TEST(TableExport, CsvHasBomSemicolonsQuotesAndCrlf) {
    const QByteArray expected =
        "\xEF\xBB\xBFProduto;Descri\xC3\xA7\xC3\xA3o;Solicitada;Entrega\r\n"
        "P0;\"Caixa; \"\"grande\"\"\";1234,5;09/03/2026\r\n";
    EXPECT_EQ(csvBytes(sample(1)), expected);
}

TEST(TableExport, PdfHasOnePagePerBlockOfRows) {
    static int argc = 1;
    static char name[] = "table-export-test";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    const struct {
        int rows;
        int pages;
    } cases[] = {{0, 1}, {kPdfRowsPerPage, 1}, {kPdfRowsPerPage * 2 + 1, 3}};
    for (const auto& c : cases) {
        const QString path = dir.filePath(QStringLiteral("t%1.pdf").arg(c.rows));
        writePdf(sample(c.rows), path);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        EXPECT_TRUE(bytes.startsWith("%PDF")) << c.rows;
        const auto pages = QRegularExpression(QStringLiteral("/Type\\s*/Page[^s]"))
                               .globalMatch(QString::fromLatin1(bytes));
        int count = 0;
        for (auto it = pages; it.hasNext(); it.next())
            ++count;
        EXPECT_EQ(count, c.pages) << c.rows;
    }
}

TEST(TableExport, UnwritablePathIsAClearError) {
    const ExportTable t = sample(1);
    const QString path = QStringLiteral("/nonexistent-folder/x.csv");
    EXPECT_THROW(writeCsv(t, path), std::runtime_error);
    EXPECT_THROW(writePdf(t, QStringLiteral("/nonexistent-folder/x.pdf")), std::runtime_error);
}

}  // namespace
}  // namespace rqc04200
