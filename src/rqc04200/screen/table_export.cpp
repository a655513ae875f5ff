#include "screen/table_export.h"

#include <QDateTime>
#include <QFile>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <algorithm>
#include <stdexcept>

namespace rqc04200 {

namespace {

QString csvField(const QString& text) {
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

[[noreturn]] void cannotWrite(const QString& path, const QString& why) {
    throw std::runtime_error(
        QStringLiteral("Não foi possível gravar o arquivo %1: %2.").arg(path, why).toStdString());
}

}  // namespace

QString displayText(ColumnKind kind, const QString& cell) {
    switch (kind) {
        case ColumnKind::Number: {
            QString text = cell.trimmed();
            text.replace(QLatin1Char('.'), QLatin1Char(','));
            return text;
        }
        case ColumnKind::Date: {
            const QString text = cell.trimmed();
            const QDate date = QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
            if (!date.isValid())
                return text;
            QString shown = date.toString(QStringLiteral("dd/MM/yyyy"));
            if (text.size() > 10)
                shown += text.mid(10);
            return shown;
        }
        case ColumnKind::Text:
            break;
    }
    return cell;
}

QByteArray csvBytes(const ExportTable& table) {
    QByteArray out("\xEF\xBB\xBF");
    QStringList fields;
    for (const QString& h : table.headers)
        fields.append(csvField(h));
    out += fields.join(QLatin1Char(';')).toUtf8() + "\r\n";
    for (const QStringList& row : table.rows) {
        fields.clear();
        for (int c = 0; c < table.headers.size(); ++c) {
            const ColumnKind kind = c < table.kinds.size() ? table.kinds[c] : ColumnKind::Text;
            fields.append(csvField(displayText(kind, row.value(c))));
        }
        out += fields.join(QLatin1Char(';')).toUtf8() + "\r\n";
    }
    return out;
}

void writeCsv(const ExportTable& table, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        cannotWrite(path, file.errorString());
    file.write(csvBytes(table));
    if (!file.commit())
        cannotWrite(path, file.errorString());
}

void writePdf(const ExportTable& table, const QString& path) {
    {
        QFile probe(path);
        if (!probe.open(QIODevice::WriteOnly))
            cannotWrite(path, probe.errorString());
    }
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageOrientation(QPageLayout::Landscape);
    writer.setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
    writer.setTitle(table.title);
    writer.setCreator(QStringLiteral("Suíte de Compras"));
    QPainter painter;
    if (!painter.begin(&writer))
        cannotWrite(path, QStringLiteral("falha ao iniciar o PDF"));

    const QRect page = painter.viewport();
    QFont font(QStringLiteral("Sans Serif"));
    font.setPointSizeF(7.5);
    painter.setFont(font);
    const int lineHeight = page.height() / (kPdfRowsPerPage + 4);
    const int columns = std::max<int>(1, static_cast<int>(table.headers.size()));
    const int columnWidth = page.width() / columns;
    const int pages = std::max<int>(
        1, static_cast<int>((table.rows.size() + kPdfRowsPerPage - 1) / kPdfRowsPerPage));

    auto drawRow = [&](int y, const QStringList& cells, bool header) {
        for (int c = 0; c < columns; ++c) {
            const ColumnKind kind = c < table.kinds.size() ? table.kinds[c] : ColumnKind::Text;
            const QString text = header ? cells.value(c) : displayText(kind, cells.value(c));
            const Qt::Alignment align =
                (!header && kind == ColumnKind::Number) ? Qt::AlignRight : Qt::AlignLeft;
            painter.drawText(QRect(c * columnWidth, y, columnWidth - 20, lineHeight),
                             align | Qt::AlignVCenter | Qt::TextSingleLine, text);
        }
    };
    for (int p = 0; p < pages; ++p) {
        if (p > 0)
            writer.newPage();
        QFont bold = font;
        bold.setBold(true);
        painter.setFont(bold);
        painter.drawText(QRect(0, 0, page.width(), lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         table.title);
        painter.drawText(QRect(0, 0, page.width(), lineHeight), Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("Página %1 de %2").arg(p + 1).arg(pages));
        drawRow(lineHeight * 2, table.headers, true);
        painter.setFont(font);
        painter.drawLine(0, lineHeight * 3, page.width(), lineHeight * 3);
        const int first = p * kPdfRowsPerPage;
        const int last = std::min<int>(first + kPdfRowsPerPage, table.rows.size());
        for (int r = first; r < last; ++r)
            drawRow(lineHeight * (3 + r - first), table.rows[r], false);
    }
    if (!painter.end())
        cannotWrite(path, QStringLiteral("falha ao concluir o PDF"));
}

}  // namespace rqc04200
