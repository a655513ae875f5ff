#include "table_report.h"

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>
#include <algorithm>
#include <optional>
#include <stdexcept>

#include "helpers.h"
#include "messages.h"

namespace vlm {

namespace {

std::optional<double> numberOf(const QString& cell) {
    bool ok = false;
    const double v = cell.trimmed().toDouble(&ok);
    return ok ? std::optional<double>(v) : std::nullopt;
}

QString cellText(ColumnKind kind, const QString& cell, bool grouped) {
    if (kind == ColumnKind::Number) {
        const std::optional<double> v = numberOf(cell);
        return v ? numberText(*v, grouped) : cell.trimmed();
    }
    return displayText(kind, cell);
}

std::optional<double> total(const ReportTable& table, int column) {
    if (!table.columns.value(column).summed)
        return std::nullopt;
    double sum = 0;
    for (const QStringList& row : table.rows)
        sum += numberOf(row.value(column)).value_or(0);
    return sum;
}

QString issuedText(const ReportTable& table) {
    QString text = QStringLiteral("Emitido em %1")
                       .arg(table.issued.toString(QStringLiteral("dd/MM/yyyy HH:mm")));
    if (!table.operatorCode.isEmpty())
        text += QStringLiteral(" por %1").arg(table.operatorCode);
    return text;
}

QString csvField(QString text, ColumnKind kind) {
    const bool digits = !text.isEmpty() &&
                        std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
    if (kind == ColumnKind::Code && digits)
        return QStringLiteral("=\"%1\"").arg(text);
    if (kind != ColumnKind::Number && !text.isEmpty() &&
        QStringLiteral("=+-@").contains(text.front()))
        text.prepend(QLatin1Char('\''));
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    text.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QByteArray csvLine(const QStringList& fields) {
    return fields.join(QLatin1Char(';')).toUtf8() + "\r\n";
}

[[noreturn]] void cannotWrite(const QString& path, const QString& why) {
    throw std::runtime_error(
        QStringLiteral("Não foi possível gravar o arquivo %1: %2. Escolha outra pasta ou outro "
                       "nome e tente de novo.")
            .arg(path, why)
            .toStdString());
}

bool rightAligned(ColumnKind kind) {
    return kind == ColumnKind::Number;
}

void writeCell(QTextTable* table, int row, int column, const QString& text, bool right,
               bool keepTogether, const QTextCharFormat& format) {
    QTextCursor cursor = table->cellAt(row, column).firstCursorPosition();
    QTextBlockFormat block;
    block.setAlignment(right ? Qt::AlignRight : Qt::AlignLeft);
    block.setNonBreakableLines(keepTogether);
    cursor.setBlockFormat(block);
    QString shown = text;
    shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
    cursor.insertText(shown, format);
}

void setPageLayout(QPagedPaintDevice& device) {
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape,
                                     QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));
}

}  // namespace

QString displayText(ColumnKind kind, const QString& cell) {
    switch (kind) {
        case ColumnKind::Number:
            return cellText(kind, cell, true);
        case ColumnKind::Date: {
            const QString text = cell.trimmed();
            const QDate date = QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
            if (!date.isValid())
                return text;
            return date.toString(QStringLiteral("dd/MM/yyyy")) + text.mid(10);
        }
        case ColumnKind::Text:
        case ColumnKind::Code:
            break;
    }
    return cell;
}

QString totalText(const ReportTable& table, int column) {
    const std::optional<double> sum = total(table, column);
    return sum ? numberText(*sum, true) : QString();
}

QByteArray csvBytes(const ReportTable& table) {
    QByteArray out("\xEF\xBB\xBF");
    out += csvLine({csvField(table.title, ColumnKind::Text)});
    for (const QString& d : table.details)
        out += csvLine({csvField(d, ColumnKind::Text)});
    out += csvLine({csvField(issuedText(table), ColumnKind::Text)});
    // A blank line, then the header right before the data and the totals after it: a
    // spreadsheet's filter and sort find the table where it starts.
    out += "\r\n";
    QStringList fields;
    for (const ReportColumn& c : table.columns)
        fields.append(csvField(QString(c.header).replace(QLatin1Char('\n'), QLatin1Char(' ')),
                               ColumnKind::Text));
    out += csvLine(fields);
    for (const QStringList& row : table.rows) {
        fields.clear();
        for (int c = 0; c < table.columns.size(); ++c) {
            const ColumnKind kind = table.columns[c].kind;
            fields.append(csvField(cellText(kind, row.value(c), false), kind));
        }
        out += csvLine(fields);
    }
    fields.clear();
    for (int c = 0; c < table.columns.size(); ++c) {
        const std::optional<double> sum = total(table, c);
        fields.append(sum ? numberText(*sum, false) : QString());
    }
    if (!fields.isEmpty())
        fields[0] = QStringLiteral("Totais (%1 linhas)").arg(table.rows.size());
    out += csvLine(fields);
    return out;
}

std::unique_ptr<QTextDocument> reportDocument(const ReportTable& table, QPaintDevice* device) {
    auto doc = std::make_unique<QTextDocument>();
    if (device != nullptr)
        doc->documentLayout()->setPaintDevice(device);
    QFont font(QStringLiteral("Sans Serif"));
    font.setPointSizeF(8);
    doc->setDefaultFont(font);
    doc->setDocumentMargin(0);
    doc->setMetaInformation(QTextDocument::DocumentTitle, table.title);

    QTextCursor cursor(doc.get());
    cursor.beginEditBlock();  // laid out once, at the end
    QTextCharFormat plain;
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    QTextCharFormat title = bold;
    title.setFontPointSize(12);
    cursor.insertText(table.title, title);
    for (const QString& d : table.details + QStringList{issuedText(table)}) {
        cursor.insertBlock();
        cursor.insertText(d, plain);
    }
    cursor.insertBlock();

    const int columns = static_cast<int>(table.columns.size());
    const int rows = static_cast<int>(table.rows.size());
    QTextTableFormat format;
    format.setHeaderRowCount(1);
    format.setCellSpacing(0);
    // Lengths in pixels of 96 per inch; the layout scales them to the device.
    format.setCellPadding(3);
    format.setBorder(1);
    format.setBorderCollapse(true);
    format.setBorderBrush(Qt::gray);
    format.setTopMargin(6);
    QTextTable* grid = cursor.insertTable(rows + 2, columns, format);
    QTextTableCellFormat shaded;
    shaded.setBackground(QColor(0xe8, 0xe8, 0xe8));
    for (int c = 0; c < columns; ++c) {
        const ReportColumn& col = table.columns[c];
        grid->cellAt(0, c).setFormat(shaded);
        grid->cellAt(rows + 1, c).setFormat(shaded);
        const bool keep = col.kind != ColumnKind::Text;
        writeCell(grid, 0, c, col.header, rightAligned(col.kind), false, bold);
        for (int r = 0; r < rows; ++r)
            writeCell(grid, r + 1, c, displayText(col.kind, table.rows[r].value(c)),
                      rightAligned(col.kind), keep, plain);
        writeCell(grid, rows + 1, c, c == 0 ? QStringLiteral("Totais") : totalText(table, c),
                  rightAligned(col.kind), true, bold);
    }
    cursor.endEditBlock();
    return doc;
}

int paintReport(const ReportTable& table, QPagedPaintDevice& device) {
    std::unique_ptr<QTextDocument> doc = reportDocument(table, &device);
    QPainter painter;
    if (!painter.begin(&device))
        throw std::runtime_error("Não foi possível iniciar a impressão do relatório.");
    QFont footFont(QStringLiteral("Sans Serif"));
    footFont.setPointSizeF(7);
    painter.setFont(footFont);
    const qreal footer = QFontMetricsF(footFont, &device).height() * 2;
    const QSizeF body(device.width(), device.height() - footer);
    doc->setPageSize(body);
    const int pages = doc->pageCount();
    for (int p = 0; p < pages; ++p) {
        if (p > 0)
            device.newPage();
        painter.save();
        painter.translate(0, -p * body.height());
        doc->drawContents(&painter, QRectF(0, p * body.height(), body.width(), body.height()));
        painter.restore();
        const QRectF foot(0, body.height(), body.width(), footer);
        painter.drawText(foot, Qt::AlignLeft | Qt::AlignBottom, table.title);
        painter.drawText(foot, Qt::AlignRight | Qt::AlignBottom,
                         QStringLiteral("Página %1 de %2").arg(p + 1).arg(pages));
    }
    painter.end();
    return pages;
}

void writeCsv(const ReportTable& table, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        cannotWrite(path, file.errorString());
    file.write(csvBytes(table));
    if (!file.commit())
        cannotWrite(path, file.errorString());
}

void writePdf(const ReportTable& table, const QString& path) {
    {
        QFile probe(path);
        if (!probe.open(QIODevice::WriteOnly))
            cannotWrite(path, probe.errorString());
    }
    QPdfWriter writer(path);
    writer.setResolution(300);
    setPageLayout(writer);
    writer.setTitle(table.title);
    writer.setCreator(QStringLiteral("Suíte de Compras"));
    try {
        paintReport(table, writer);
    } catch (const std::runtime_error&) {
        cannotWrite(path, QStringLiteral("falha ao gerar o PDF"));
    }
}

void previewReport(const ReportTable& table, QWidget* parent) {
    QPrinter printer(QPrinter::HighResolution);
    setPageLayout(printer);
    printer.setDocName(table.title);
    QPrintPreviewDialog preview(&printer, parent);
    preview.setWindowTitle(QStringLiteral("Visualizar impressão: %1").arg(table.title));
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview,
                     [&table](QPrinter* target) {
                         // No exception crosses the dialog's event loop.
                         dispatch([&] { paintReport(table, *target); });
                     });
    preview.exec();
}

}  // namespace vlm
