#pragma once
// The consultation's grids filled from the server's data sets: every row shown as the user reads
// it (numbers and dates in pt-BR), sorted by value whatever is shown, each row knowing the data
// set row behind it.

#include <QVector>

#include "vlm/table_report.h"

class QTableWidget;
class TDataSet;

namespace rqc04200 {

// Shows every row of `data` for `columns`, sorted as the grid's header says; columns fit their
// content, texts wrap beyond a name's width.
void fillGrid(QTableWidget* grid, const TDataSet& data, const QVector<vlm::ReportColumn>& columns);
// The row of the data set behind the grid's row `row`; -1 when there is none.
int dataRow(const QTableWidget* grid, int row);

}  // namespace rqc04200
