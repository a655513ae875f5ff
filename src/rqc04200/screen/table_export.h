#pragma once
// A table as shown on the screen, written to a CSV file a Brazilian spreadsheet opens as it is
// (UTF-8 with BOM, ";" between fields, CRLF line ends, decimal comma, dates dd/mm/yyyy) or to a
// PDF file (A4 landscape, the title and the header row on every page).

#include <QString>
#include <QStringList>
#include <QVector>

#include "rqc04200_export.h"

namespace rqc04200 {

enum class ColumnKind { Text, Number, Date };

struct ExportTable {
    QString title;
    QStringList headers;
    QVector<ColumnKind> kinds;  // one per header
    QVector<QStringList> rows;  // cells as the server sent them
};

// Body rows per PDF page.
inline constexpr int kPdfRowsPerPage = 30;

// A cell as a user reads it: numbers with a decimal comma ("12.5" -> "12,5"), server dates
// ("2026-12-09" or "2026-12-09 10:11:12") as "09/12/2026" or "09/12/2026 10:11:12".
RQC04200_EXPORT QString displayText(ColumnKind kind, const QString& cell);

// The CSV file's bytes. Text fields holding ";", a quote or a line break are quoted.
RQC04200_EXPORT QByteArray csvBytes(const ExportTable& table);

// Writes the file; throws std::runtime_error with a Portuguese message when it cannot.
RQC04200_EXPORT void writeCsv(const ExportTable& table, const QString& path);
RQC04200_EXPORT void writePdf(const ExportTable& table, const QString& path);

}  // namespace rqc04200
