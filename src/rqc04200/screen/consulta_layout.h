#pragma once
// What the form "Consulta de Consolidação" holds, as tables: the columns of its three grids,
// the controls of the filter line, the grids with the labels above and under them, and the side
// bar's buttons. The form builds itself from them, and its tab order follows their order.

#include <QKeyCombination>
#include <QVector>

#include "rqc04200_export.h"
#include "vlm/table_report.h"

namespace rqc04200 {

RQC04200_EXPORT const QVector<vlm::ReportColumn>& listColumns();
RQC04200_EXPORT const QVector<vlm::ReportColumn>& itemColumns();
RQC04200_EXPORT const QVector<vlm::ReportColumn>& originColumns();
// Fields of the consolidations kept for the selection, not shown as columns.
inline constexpr const char* kHiddenListFields[] = {"CDFILCENTCMP", "DSFILTRO", "IDSITUACAO"};

enum class FilterKind { BranchCode, SearchButton, BranchName, Date, CheckBox };

// A control of the filter line, left to right.
struct FilterControl {
    const char* name;
    FilterKind kind;
    const char* label;    // the label before it, with its mnemonic; nullptr: none
    const char* caption;  // a check box's caption, a button's hint; nullptr: none
    const char* accessibleName;
    const char* accessibleDescription;  // nullptr: none
    int spacingBefore;                  // pixels before its label
};
RQC04200_EXPORT const QVector<FilterControl>& filterControls();

// A grid of the form, top to bottom.
struct GridRow {
    const char* name;
    const char* accessibleName;
    const char* label;  // the label above it, with its mnemonic; nullptr: none
    const QVector<vlm::ReportColumn>& (*columns)();
    Qt::SortOrder order;
    int stretch;        // its share of the form's height
    const char* under;  // the label under it: the filter in words, or the totals
};
RQC04200_EXPORT const QVector<GridRow>& gridRows();

// A button of the side bar below the search, top to bottom.
struct BarButton {
    const char* name;
    const char* hint;  // ends with its key in brackets
    const char* icon;  // a report icon (vlm::reportIcon), or nullptr for the discard icon
    QKeyCombination key;
};
RQC04200_EXPORT const QVector<BarButton>& barButtons();

}  // namespace rqc04200
