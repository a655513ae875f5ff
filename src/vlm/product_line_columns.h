#pragma once
// The columns of a consolidated product line, as every screen, report and sheet of the suite
// shows them: one definition per server field (header, kind, whether it is totalled) and its
// term in the sum solicited + safety limit − stock − open purchase orders − open consolidations
// + rounding = consolidated. Each screen lists the fields in its own order.

#include <QString>
#include <QVector>
#include <initializer_list>

#include "table_report.h"
#include "vlm_export.h"

class TDataSet;

namespace vlm {

// The columns of `fields`, in that order. Throws std::invalid_argument naming a field that is
// not one of a product line.
VLM_EXPORT QVector<ReportColumn> productLineColumns(std::initializer_list<const char*> fields);
// The sign of the field's term in the sum ("+", "−", "="); "" for the first term and for the
// fields outside the sum.
VLM_EXPORT QString sumTerm(const QString& field);

// The cells of row `row` of `data` for `columns` (by their fields), as the server sent them;
// a field the data set lacks throws std::runtime_error.
VLM_EXPORT QStringList rowCells(const TDataSet& data, int row,
                                const QVector<ReportColumn>& columns);

}  // namespace vlm
