#pragma once
// A table as a screen shows it, as a report. The document (QTextDocument) holds the title, the
// detail lines (the filter in words), "Emitido em ... por ...", then one table whose columns
// take the width of their content, numbers right-aligned under right-aligned headers, texts
// wrapped, the header row repeated on every page and a totals row; every page ends with the
// title and "Página N de M". Print, print preview and PDF paint that same document. The CSV
// file is what a Brazilian spreadsheet opens as it is: UTF-8 with BOM, ";" between fields, CRLF,
// decimal comma, dates dd/mm/yyyy, the title, detail lines and totals before the header row.

#include <QDateTime>
#include <QIcon>
#include <QString>
#include <QStringList>
#include <QVector>
#include <memory>

#include "vlm_export.h"

class QPagedPaintDevice;
class QPaintDevice;
class QTextDocument;
class QWidget;

namespace vlm {

// Code: a text kept as written, leading zeros included ("0101" stays text in a spreadsheet).
enum class ColumnKind { Text, Code, Number, Date };

// One column of a table as a screen's grid, its report and its sheet show it.
struct ReportColumn {
    QString header;  // "\n" breaks it in the document
    ColumnKind kind = ColumnKind::Text;
    bool summed = false;  // a Number column totalled in the totals row
    QString field = {};   // the server's field its cells come from
};

struct ReportTable {
    QString title;
    QStringList details;  // lines under the title
    QString operatorCode;
    QDateTime issued;
    QVector<ReportColumn> columns;
    QVector<QStringList> rows;  // cells as the server sent them ("12.5", "2026-12-09")
};

// A cell as a user reads it: numbers in pt-BR ("1234.5" -> "1.234,5"), server dates
// ("2026-12-09" or "2026-12-09 10:11:12") as "09/12/2026" or "09/12/2026 10:11:12"; a cell that
// is not what its kind says is shown as sent.
VLM_EXPORT QString displayText(ColumnKind kind, const QString& cell);
// The total of a summed column as shown, "" for other columns.
VLM_EXPORT QString totalText(const ReportTable& table, int column);

// The CSV file's bytes. A code of digits is written ="0101" so that it stays text; a text
// starting with =, +, - or @ gets a leading apostrophe so that no formula runs; fields holding
// ";", a quote or a line break are quoted.
VLM_EXPORT QByteArray csvBytes(const ReportTable& table);

// The document laid out for `device` (the screen when null).
VLM_EXPORT std::unique_ptr<QTextDocument> reportDocument(const ReportTable& table,
                                                         QPaintDevice* device = nullptr);
// Paints the document on a printer or PDF writer, page by page; returns the page count.
// Throws std::runtime_error (Portuguese) when the device cannot be painted on.
VLM_EXPORT int paintReport(const ReportTable& table, QPagedPaintDevice& device);

// Write the files (A4 landscape for the PDF); throw std::runtime_error with a Portuguese
// message when they cannot.
VLM_EXPORT void writeCsv(const ReportTable& table, const QString& path);
VLM_EXPORT void writePdf(const ReportTable& table, const QString& path);

// The print preview (modal), from which the user prints.
VLM_EXPORT void previewReport(const ReportTable& table, QWidget* parent);

// The pictures of a report's buttons, drawn in code (normal and disabled, 16 by 16): "imprimir"
// (a printer), "pdf" (a page with a red PDF band), "planilha" (a page of cells). Throws
// std::invalid_argument for another name.
VLM_EXPORT QIcon reportIcon(const QString& name);

}  // namespace vlm
