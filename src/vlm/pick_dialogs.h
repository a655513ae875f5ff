#pragma once
// The pick windows over a data set: the list picker (a tick per row) and the single pick of
// the search buttons. Both show the data set's visible fields under their labels, sized by
// their display widths and drawn through their edit masks, and filter the rows as the user
// types in the search box: a row stays when any shown column contains the typed text, case
// and accents ignored. Rows are read from the data set through a model, so a window over
// 100,000 rows opens and filters at once.
//
// Keys: Enter is OK, Esc is Cancel; Up, Down, Page Up and Page Down in the search box move
// through the rows; in the list picker Space toggles the current row's tick (in the search
// box only while it is empty) and a double click on a row toggles it too.
//
// A visible field named IDMARCADO is the data set's own mark column: the list picker's tick
// column stands for it and it gets no column of its own.

#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>

#include "vlm_export.h"

class QLineEdit;
class QTableView;
class TDataSet;

namespace vlm {

// Text folded for searching: lower case, accents dropped ("São Paulo" -> "sao paulo").
VLM_EXPORT QString searchFold(const QString& text);

class PickTable;

// What both pickers share: the search box over the table of the data set's shown fields, the
// status line and OK/Cancel.
class VLM_EXPORT PickDialog : public QDialog {
    Q_OBJECT
  public:
    ~PickDialog() override;

    int shownCount() const;               // rows left by the search
    void setSearch(const QString& text);  // as if typed in the search box
    QLineEdit* searchBox() const;
    QTableView* table() const;

  protected:
    PickDialog(TDataSet& data, bool ticks, QWidget* parent);
    // The search row over the table; below it `leading`, the status line and OK/Cancel.
    void layOut(const QList<QWidget*>& leading);
    virtual void updateState() = 0;  // after each search and change of the rows' state

    std::unique_ptr<PickTable> m_table;
    QLineEdit* m_search;
    QTableView* m_view;
};

// Ticking rows of `data` whose `keyField` values make the list. Rows whose key is among
// listValues(list) start ticked (all rows with tickAll). OK gives the ticked rows' keys in
// row order, each once, in list form (listText); an empty data set shows "Nenhum registro"
// and OK then gives the empty list. Throws std::runtime_error when `keyField` is not a field
// of `data` and std::invalid_argument when a shown field's edit mask is malformed.
class VLM_EXPORT PickListDialog : public PickDialog {
    Q_OBJECT
  public:
    PickListDialog(TDataSet& data, const QString& keyField, const QString& title, bool tickAll,
                   const QString& list, QWidget* parent = nullptr);
    ~PickListDialog() override;

    QString listText() const;  // the ticked rows' keys as the list text
    int tickedCount() const;
    bool ticked(int row) const;        // row of the data set
    void setTicked(int row, bool on);  // row of the data set
    void tickShown(bool on);           // "Marcar todos" (true) and "Limpar" (false)

  private:
    void updateState() override;
    QStringList m_keys;  // trimmed key per data set row
};

// Picking one row of `data`, starting on its current row. pickedRow() is the data set row
// of the current line (-1 when no row is shown); OK is only possible on a row.
class VLM_EXPORT PickOneDialog : public PickDialog {
    Q_OBJECT
  public:
    PickOneDialog(TDataSet& data, const QString& title, QWidget* parent = nullptr);
    ~PickOneDialog() override;

    int pickedRow() const;
    void setCurrentRow(int row);  // row of the data set; ignored when it is filtered out

  private:
    void updateState() override;
};

}  // namespace vlm
