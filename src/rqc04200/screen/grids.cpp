#include "screen/grids.h"

#include <QTableWidget>

#include "vlm/data_set.h"
#include "vlm/product_line_columns.h"

namespace rqc04200 {

namespace {

constexpr int kNameWidth = 220;  // product names wrap beyond it
constexpr int kDataRole = Qt::UserRole;
constexpr int kSortRole = Qt::UserRole + 1;

// Sorts numbers by value and dates by their server text, whatever is shown.
class SortItem : public QTableWidgetItem {
  public:
    using QTableWidgetItem::QTableWidgetItem;
    bool operator<(const QTableWidgetItem& other) const override {
        const QVariant a = data(kSortRole);
        const QVariant b = other.data(kSortRole);
        if (a.typeId() == QMetaType::Double && b.typeId() == QMetaType::Double)
            return a.toDouble() < b.toDouble();
        return a.toString() < b.toString();
    }
};

}  // namespace

void fillGrid(QTableWidget* grid, const TDataSet& data, const QVector<vlm::ReportColumn>& columns) {
    grid->setSortingEnabled(false);
    grid->setRowCount(0);
    grid->setRowCount(data.RecordCount());
    for (int r = 0; r < data.RecordCount(); ++r) {
        const QStringList cells = vlm::rowCells(data, r, columns);
        for (int c = 0; c < columns.size(); ++c) {
            auto* item = new SortItem(vlm::displayText(columns[c].kind, cells[c]));
            if (columns[c].kind == vlm::ColumnKind::Number) {
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                item->setData(kSortRole, cells[c].trimmed().toDouble());
            } else {
                item->setData(kSortRole, cells[c]);
            }
            item->setData(kDataRole, r);
            grid->setItem(r, c, item);
        }
    }
    grid->setSortingEnabled(true);
    grid->resizeColumnsToContents();
    for (int c = 0; c < columns.size(); ++c) {
        if (columns[c].kind == vlm::ColumnKind::Text && grid->columnWidth(c) > kNameWidth)
            grid->setColumnWidth(c, kNameWidth);
    }
    grid->resizeRowsToContents();
}

int dataRow(const QTableWidget* grid, int row) {
    const QTableWidgetItem* item = grid->item(row, 0);
    return item == nullptr ? -1 : item->data(kDataRole).toInt();
}

}  // namespace rqc04200
