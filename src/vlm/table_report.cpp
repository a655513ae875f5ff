#include "table_report.h"

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QPixmap>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>
#include <algorithm>
#include <optional>
#include <stdexcept>
#include <vector>

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

namespace {

// Where the document may be cut between pages: the lines between the table's rows (and its
// top and bottom), in document coordinates, top to bottom. A row's cells end at its line.
struct RowLines {
    std::vector<qreal> lines;  // lines[0] above the header row, lines[r + 1] below row r
};

RowLines rowLines(QTextDocument& doc) {
    RowLines out;
    QTextTable* grid = nullptr;
    for (QTextFrame* f : doc.rootFrame()->childFrames()) {
        if ((grid = qobject_cast<QTextTable*>(f)) != nullptr)
            break;
    }
    if (grid == nullptr)
        return out;
    QAbstractTextDocumentLayout* layout = doc.documentLayout();
    std::vector<qreal> top(grid->rows(), 1e18);
    std::vector<qreal> bottom(grid->rows(), -1e18);
    for (int r = 0; r < grid->rows(); ++r) {
        for (int c = 0; c < grid->columns(); ++c) {
            const QTextTableCell cell = grid->cellAt(r, c);
            for (QTextBlock b = cell.firstCursorPosition().block();
                 b.isValid() && b.position() <= cell.lastCursorPosition().position();
                 b = b.next()) {
                const QRectF box = layout->blockBoundingRect(b);
                top[r] = std::min(top[r], box.top());
                bottom[r] = std::max(bottom[r], box.bottom());
            }
        }
    }
    if (grid->rows() < 2)
        return out;
    const qreal halfGap = (top[1] - bottom[0]) / 2;
    out.lines.push_back(top[0] - halfGap);
    for (int r = 0; r + 1 < grid->rows(); ++r)
        out.lines.push_back((bottom[r] + top[r + 1]) / 2);
    out.lines.push_back(bottom.back() + halfGap);
    return out;
}

}  // namespace

// Pages end between rows, never inside one (a description of several lines stays with its
// figures), and every page after the first repeats the header row.
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
    doc->setTextWidth(body.width());
    const RowLines rows = rowLines(*doc);
    const qreal end = doc->size().height();
    // The slices [from, to) of the document, page by page, and the header band to repeat.
    struct Slice {
        qreal from, to;
    };
    std::vector<Slice> slices;
    const bool hasTable = rows.lines.size() >= 3;
    const Slice header = hasTable ? Slice{rows.lines[0], rows.lines[1]} : Slice{0, 0};
    qreal from = 0;
    while (from < end - 0.5) {
        const qreal room = body.height() - (slices.empty() ? 0 : header.to - header.from);
        qreal to = std::min(end, from + room);
        if (to < end) {
            // The last line between rows that fits, when one does past the page's start.
            for (auto it = rows.lines.rbegin(); it != rows.lines.rend(); ++it) {
                if (*it <= to && *it > from + 1) {
                    to = *it;
                    break;
                }
            }
        }
        slices.push_back({from, to});
        from = to;
    }
    const int pages = static_cast<int>(slices.size());
    for (int p = 0; p < pages; ++p) {
        if (p > 0)
            device.newPage();
        qreal y = 0;
        if (p > 0 && hasTable && slices[p].from >= header.to) {
            painter.save();
            painter.translate(0, -header.from);
            doc->drawContents(&painter,
                              QRectF(0, header.from, body.width(), header.to - header.from));
            painter.restore();
            y = header.to - header.from;
        }
        painter.save();
        painter.translate(0, y - slices[p].from);
        doc->drawContents(&painter,
                          QRectF(0, slices[p].from, body.width(), slices[p].to - slices[p].from));
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

namespace {

QPixmap drawPrinter(bool enabled) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink = enabled ? QColor(50, 50, 60) : QColor(160, 160, 160);
    p.setPen(QPen(ink, 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4.5, 1.5, 7, 5));  // the sheet going in
    p.setBrush(enabled ? QColor(120, 130, 150) : QColor(200, 200, 200));
    p.drawRoundedRect(QRectF(1.5, 6.5, 13, 6), 1.5, 1.5);  // the body
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4.5, 10.5, 7, 4));  // the printed sheet
    p.setPen(QPen(enabled ? QColor(40, 160, 60) : QColor(170, 170, 170), 1.4));
    p.drawPoint(QPointF(12.5, 8.5));
    return pm;
}

// A page with its corner folded, with `mark` drawn on it.
template <class Mark>
QPixmap drawPage(bool enabled, Mark mark) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath page;
    page.moveTo(2.5, 0.5);
    page.lineTo(10.5, 0.5);
    page.lineTo(13.5, 3.5);
    page.lineTo(13.5, 15.5);
    page.lineTo(2.5, 15.5);
    page.closeSubpath();
    p.setPen(QPen(enabled ? QColor(70, 70, 80) : QColor(170, 170, 170), 1));
    p.setBrush(Qt::white);
    p.drawPath(page);
    mark(p);
    return pm;
}

QPixmap drawPdf(bool enabled) {
    return drawPage(enabled, [enabled](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(enabled ? QColor(200, 30, 30) : QColor(180, 180, 180));
        p.drawRect(QRectF(0.5, 8, 15, 6));
        QFont f = p.font();
        f.setPixelSize(6);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(0.5, 8, 15, 6), Qt::AlignCenter, QStringLiteral("PDF"));
    });
}

QPixmap drawSheet(bool enabled) {
    return drawPage(enabled, [enabled](QPainter& p) {
        p.setPen(QPen(enabled ? QColor(30, 120, 60) : QColor(170, 170, 170), 1));
        for (qreal y : {5.5, 8.5, 11.5})
            p.drawLine(QPointF(4, y), QPointF(12, y));
        for (qreal x : {6.5, 9.5})
            p.drawLine(QPointF(x, 4), QPointF(x, 13));
    });
}

}  // namespace

QIcon reportIcon(const QString& name) {
    QPixmap (*draw)(bool) = nullptr;
    if (name == QLatin1String("imprimir"))
        draw = drawPrinter;
    else if (name == QLatin1String("pdf"))
        draw = drawPdf;
    else if (name == QLatin1String("planilha"))
        draw = drawSheet;
    else
        throw std::invalid_argument("unknown report icon \"" + name.toStdString() + "\"");
    QIcon icon;
    icon.addPixmap(draw(true), QIcon::Normal);
    icon.addPixmap(draw(false), QIcon::Disabled);
    return icon;
}

}  // namespace vlm
